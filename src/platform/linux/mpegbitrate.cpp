// The bitrate tables are the standard ones of ISO 11172-3 and 13818-3;
// MPEG-2 and 2.5 share one table for Layers II and III.
#include "platform/linux/mpegbitrate.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace linux_sound {

namespace {

constexpr uint16_t kMPEG1[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // Layer III
};
constexpr uint16_t kMPEG2[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // Layers II and III
};
// Fewer bytes than this hold no MPEG stream worth measuring.
constexpr size_t kMinBytes = 1025;

int64_t ID3v2Size(const uint8_t* b, size_t got) {
    if (got < 10 || std::memcmp(b, "ID3", 3) != 0 || b[3] == 255 || b[4] == 255) return 0;
    if (b[6] >= 128 || b[7] >= 128 || b[8] >= 128 || b[9] >= 128) return 0;
    const int64_t body = int64_t{b[6]} << 21 | int64_t{b[7]} << 14 | int64_t{b[8]} << 7 | b[9];
    return body + 10 + ((b[5] & 0x10) ? 10 : 0);
}

uint32_t HeaderBitrate(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const int version = h[1] >> 3 & 3;  // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
    const int layer = h[1] >> 1 & 3;    // 0 reserved, 1 III, 2 II, 3 I
    if (version == 1 || layer == 0) return 0;
    const int index = h[2] >> 4;
    if (version == 3) return kMPEG1[3 - layer][index];
    return kMPEG2[layer == 3 ? 0 : 1][index];
}

bool HasVBRMarker(const uint8_t* b, size_t got) {
    if (got <= 32) return false;
    for (size_t i = 0; i + 4 <= got - 32; ++i)
        if (std::memcmp(b + i, "Xing", 4) == 0 || std::memcmp(b + i, "VBRI", 4) == 0) return true;
    return false;
}

}  // namespace

MPEGBitrate AnalyseMPEGBitrate(BitrateReadFn read, void* source) {
    MPEGBitrate result;
    std::vector<uint8_t> bytes(kBitrateScanBytes);
    size_t got = read(source, 0, bytes.data(), bytes.size());
    if (got < kMinBytes) return result;
    result.tagSize = ID3v2Size(bytes.data(), got);
    size_t header = static_cast<size_t>(result.tagSize);
    if (result.tagSize + 4 > static_cast<int64_t>(got)) {
        got = read(source, result.tagSize, bytes.data(), bytes.size());
        header = 0;
    }
    if (got < header + 4) return result;
    result.kbps = HeaderBitrate(bytes.data() + header);
    result.variable = HasVBRMarker(bytes.data(), got);
    return result;
}

uint32_t AverageBitrate(const MPEGBitrate& b, int64_t fileSize, int64_t frames, int32_t rate) {
    if (!b.variable || frames <= 0 || rate <= 0) return b.kbps;
    const double seconds = static_cast<double>(frames) / rate;
    const double kbps = static_cast<double>(fileSize - b.tagSize) / seconds / 128.0;
    return static_cast<uint32_t>(std::clamp(kbps, 0.0, 4294967295.0));
}

}  // namespace linux_sound
