// The picture layer's own JPEG reader and PNG and JPEG writers, lent to the
// backend's image codecs: they sit above the backend, so the picture layer
// installs them at start-up (InstallImageCodecHooks). A backend without
// them decodes JPEG through its own decoder and refuses to encode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/pixelbuffer.h"
#include "platform/platform_types.h"

struct qbImageCodecHooks {
    // JPEG bytes to width x height words 0x00RRGGBB: 0, ERR_MEM or
    // ERR_LOADPICTURE2. probe fills only the size.
    int (*readJPEG)(const void* data, size_t size, bool probe, int32_t* width, int32_t* height,
                    PixelBuffer* pixels) = nullptr;
    // The encoded file appended to *out: 0 or an error code.
    int (*writePNG)(const qbEncodePixels& picture, std::vector<uint8_t>* out) = nullptr;
    int (*writeJPEG)(const qbEncodePixels& picture, std::vector<uint8_t>* out) = nullptr;
};

// Null removes them. The record must outlive its use.
void SetImageCodecHooks(const qbImageCodecHooks* hooks);
const qbImageCodecHooks* GetImageCodecHooks();
