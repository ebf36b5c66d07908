// Pictures on the clipboard: the record's bitmap, mask and alpha planes as
// ARGB pixels and back. The bitmaps belong to the graphics layers above the
// backend, which lend their two conversions here at start-up.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform_types.h"

struct qbClipboardBitmapHooks {
    // The bitmap's top-left width x height pixels as 0x..RRGGBB (the top
    // byte is not read); empty when it cannot be read.
    std::vector<uint32_t> (*readPixels)(qbBitmap* bitmap, int32_t width, int32_t height) = nullptr;
    // A new colour bitmap of the pixels, without a key colour; 0 or an error
    // code.
    int (*makeBitmap)(const uint32_t* pixels, int32_t width, int32_t height, qbBitmap** out) = nullptr;
};
void SetClipboardBitmapHooks(const qbClipboardBitmapHooks& hooks);

// A picture as the desktop's clipboard carries it.
struct ClipboardPicture {
    int32_t width = 0;
    int32_t height = 0;
    bool hasAlpha = false;
    std::vector<uint32_t> argb;  // 0xAARRGGBB, alpha 255 when hasAlpha is false
};

// The record's picture, with alpha from its alpha plane, else from its mask,
// when it has either; ERR_CLIPWRITE for a record without a readable bitmap.
int ClipboardPictureFromRecord(const qbClipboardData& data, ClipboardPicture* out);
// Fills the record's size, bitmap and (for a picture with alpha) alpha
// plane; the bitmap is the caller's. ERR_CLIPREAD when no bitmap can be made.
int ClipboardPictureToRecord(const ClipboardPicture& picture, qbClipboardData* data);
