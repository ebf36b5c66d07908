// The bitrate of an MPEG audio file, told from its first bytes: the first
// frame header behind any ID3v2 tag, and whether a Xing or VBRI block marks
// the file as variable (its average then comes from the length).
#pragma once

#include <cstddef>
#include <cstdint>

namespace linux_sound {

struct MPEGBitrate {
    uint32_t kbps = 0;      // 0: no MPEG frame header where one belongs
    bool variable = false;  // "Xing" or "VBRI" among the bytes read
    int64_t tagSize = 0;    // the ID3v2 tag at the start, footer included
};

constexpr size_t kBitrateScanBytes = 16384;

// Reads up to count bytes at offset; the bytes read.
using BitrateReadFn = size_t (*)(void* source, int64_t offset, void* buffer, size_t count);
MPEGBitrate AnalyseMPEGBitrate(BitrateReadFn read, void* source);

// The average for a variable file: (file size - tag) / seconds / 128. A
// sound of no frames or no rate keeps the first frame's bitrate.
uint32_t AverageBitrate(const MPEGBitrate& b, int64_t fileSize, int64_t frames, int32_t rate);

}  // namespace linux_sound
