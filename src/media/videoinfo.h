// What a video source reports when it opens a stream. Plugins fill the same
// record, so its fields keep the order the plugin interface gives them.
#pragma once

#include <cstdint>

enum : uint32_t {
    kVideoInfoSeekable = 1,  // flags bit 0
};

constexpr int64_t kVideoFileSizeNotGiven = -2;
constexpr int64_t kVideoFileSizeUnknown = -1;

struct qbVideoStreamInfo {
    int32_t frameWidth = 0, frameHeight = 0;
    uint32_t duration = 0;  // milliseconds
    int32_t audioRate = 0;
    int32_t audioChannels = 0;  // 0: no sound
    int32_t seekByBytes = 0;
    int32_t byteRate = 0;       // bytes per second, for seeking by bytes
    int32_t framesAreRGB = 0;   // 32-bit big-endian RGB frames, not planar YUV 4:2:0
    uint32_t flags = 0;
    int32_t reserved = 0;       // left as the caller had it
    double frameDuration = 0.0;  // seconds
    int64_t fileSize = kVideoFileSizeNotGiven;
};
