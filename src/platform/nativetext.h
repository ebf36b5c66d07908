// The hand-over of native text: a backend rasterises a text into 8-bit
// coverage and the graphics layers, which alone know bitmaps and planes,
// put it into the destination through the sink they install.
#pragma once

#include <cstdint>

#include "platform/platform_types.h"

// How the coverage reaches the destination.
enum : int {
    kNativeTextOver = 0,        // composited over the alpha plane's bytes
    kNativeTextMaskBits = 1,    // every non-zero byte sets a bit of the mask plane
    kNativeTextAlphaBytes = 2,  // every non-zero byte replaces the alpha plane's
    kNativeTextBlend = 3,       // the colour blended into the bitmap by coverage
};

struct qbNativeTextCoverage {
    const uint8_t* data = nullptr;
    int32_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t x = 0;  // where the buffer's top left lands
    int32_t y = 0;
    qbBitmap* bitmap = nullptr;  // kNativeTextBlend
    qbBitmap* plane = nullptr;   // the other modes
    qbNativeTextClip clip;
    uint32_t colour = 0;  // 0xRRGGBB
    int mode = kNativeTextBlend;
};

using NativeTextSink = void (*)(const qbNativeTextCoverage& coverage);
// Without a sink, native text is measured but drawn nowhere.
void SetNativeTextSink(NativeTextSink sink);
NativeTextSink GetNativeTextSink();
