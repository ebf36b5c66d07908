// The picture converter (libswscale) and the buffers it writes. Its vector
// stores run past the last pixel of a plane, so every call goes through
// ScalePicture, which refuses a target whose planes lack the slack
// (ConvertedPlaneBytes, platform/platform_media.h).
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstddef>
#include <cstdint>
#include <vector>

namespace av_common {

// Where a conversion goes: up to four planes, each `rows` rows of `pitch`
// bytes in a buffer of `bytes` bytes.
struct ScaleTarget {
    uint8_t* planes[4] = {};
    int pitches[4] = {};
    size_t bytes[4] = {};
    int rows[4] = {};
};

// Packed 32-bit pixels of width x height into `words`, which holds `capacity`.
ScaleTarget WordsTarget(uint32_t* words, size_t capacity, int width, int height);

// Planar YUV 4:2:0 of width x height in `buffer`, sized here: Y, U and V one
// after the other, each followed by its slack. False when out of memory.
bool PlanarTarget(std::vector<uint8_t>& buffer, int width, int height, ScaleTarget* out);

// sws_scale of `rows` source rows into the target: the rows written, or -1
// when a plane of the target is smaller than the converter may write.
int ScalePicture(SwsContext* sws, const uint8_t* const planes[], const int pitches[], int rows,
                 const ScaleTarget& to);

}  // namespace av_common
