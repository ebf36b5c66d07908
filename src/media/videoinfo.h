// What a video source reports when it opens a stream. Plugins fill the same
// record, so its fields keep the order the plugin interface gives them.
#pragma once

#include <cstddef>
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

// One picture as a source's DecodeVideoFrame hands it over. RGB sources
// write width x height big-endian 0x00RRGGBB words into `rgb`, which the
// player gives them; YUV sources point `planes` at their planar 4:2:0
// picture (Y, U, V; U and V one byte per 2 x 2 pixels), which must stay
// valid until the packet is freed. Times are seconds, -1 for none.
struct qbVideoFrame {
    uint32_t* rgb = nullptr;
    const uint8_t* planes[3] = {};
    int32_t pitches[3] = {};  // row bytes of the planes
    double pts = -1.0, dts = -1.0;
    int32_t repeat = 0;  // extra half frame durations the picture lasts
    int64_t bytePos = -1;
    // Last: video plugins fill the fields above by their place and never
    // see this one. What `rgb` holds: the picture and the converter's slack.
    size_t rgbWords = 0;
};
