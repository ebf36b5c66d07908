// The inbuilt readers of IFF 8SVX, IFF 16SV and RIFF WAVE: header walks and
// frame reads. IFF stereo keeps all left samples before all right ones, so
// a read interleaves the two blocks through the stream's scratch buffer.
#include <algorithm>
#include <cstring>

#include "platform/platform_types.h"
#include "sound/stream.h"

namespace {

constexpr uint32_t kVHDRSize = 20;
constexpr uint32_t kStereoChannelMask = 6;  // CHAN: left and right
constexpr uint32_t kWAVEFormatPCM = 1;

bool ReadId(qbFile* f, char id[4]) { return FileRead(f, id, 4) == 4; }

bool Skip(qbFile* f, uint64_t bytes) { return FileSeek(f, static_cast<int64_t>(bytes), kSeekCurrent) >= 0; }

bool Fits(int64_t offset, uint64_t bytes, int64_t fileSize) {
    return fileSize < 0 || (offset <= fileSize && bytes <= static_cast<uint64_t>(fileSize - offset));
}

// Frames the data chunk holds, clamped to the bytes the file really has.
uint32_t FramesIn(const qbSample& s, int64_t fileSize) {
    uint64_t bytes = s.dataSize;
    if (fileSize >= 0) bytes = std::min<uint64_t>(bytes, static_cast<uint64_t>(std::max<int64_t>(fileSize - s.dataOffset, 0)));
    return static_cast<uint32_t>(std::min<uint64_t>(bytes / static_cast<uint64_t>(s.bytesPerFrame), UINT32_MAX));
}

uint32_t U16LE(qbFile* f) { return static_cast<uint32_t>(FileReadInt16LE(f)) & 0xFFFF; }

bool RateUsable(uint32_t rate) { return rate > 0 && rate <= static_cast<uint32_t>(kMaxInbuiltRate); }

}  // namespace

bool ParseIFFHeader(qbSample& s, bool sixteenBit) {
    qbFile* f = s.file.get();
    const int64_t fileSize = GetFileSize(f);
    if (FileSeek(f, 16, kSeekBeginning) < 0 || FileReadUInt32BE(f) != kVHDRSize) return false;
    if (!Skip(f, 12)) return false;
    const uint32_t rate = static_cast<uint32_t>(FileReadUInt16BE(f)) & 0xFFFF;
    if (!Skip(f, 1)) return false;
    const int compression = FileGetC(f);
    if (compression != 0 || !Skip(f, 4)) return false;
    if (!RateUsable(rate)) return false;
    s.compression = 0;
    s.channels = 1;
    char id[4];
    for (;;) {
        if (!ReadId(f, id)) return false;
        const uint32_t size = FileReadUInt32BE(f);
        if (std::memcmp(id, "BODY", 4) == 0) {
            s.dataSize = size;
            break;
        }
        if (std::memcmp(id, "CHAN", 4) == 0) {
            if (FileReadUInt32BE(f) == kStereoChannelMask) s.channels = 2;
            if (size > 4 && !Skip(f, size - 4)) return false;
            continue;
        }
        const int64_t here = FileSeek(f, 0, kSeekCurrent);
        // A chunk that runs past the end ends the walk: there is no BODY.
        if (here < 0 || !Fits(here, size, fileSize) || !Skip(f, size)) return false;
    }
    s.bits = sixteenBit ? 16 : 8;
    s.flags = sixteenBit ? uint32_t{kPCMSigned | kPCMBigEndian} : uint32_t{kPCMSigned};
    s.bytesPerFrame = (sixteenBit ? 2 : 1) * s.channels;
    s.rate = static_cast<int32_t>(rate);
    s.dataOffset = FileSeek(f, 0, kSeekCurrent);
    if (s.dataOffset < 0) return false;
    s.frames = s.framesTotal = FramesIn(s, fileSize);
    return true;
}

bool ParseWAVEHeader(qbSample& s) {
    qbFile* f = s.file.get();
    const int64_t fileSize = GetFileSize(f);
    if (FileSeek(f, 12, kSeekBeginning) < 0) return false;
    bool haveFormat = false;
    char id[4];
    for (;;) {
        if (!ReadId(f, id)) return false;
        const uint32_t size = FileReadUInt32LE(f);
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (size != 16 && size != 18 && size != 40) return false;
            if (U16LE(f) != kWAVEFormatPCM) return false;
            const uint32_t channels = U16LE(f);
            // More than two channels would read as garbage: the decoder
            // downmixes those.
            if (channels != 1 && channels != 2) return false;
            const uint32_t rate = FileReadUInt32LE(f);
            if (!RateUsable(rate) || !Skip(f, 6)) return false;
            const uint32_t bits = U16LE(f);
            if (bits != 8 && bits != 16) return false;
            if (size > 16 && !Skip(f, size - 16)) return false;
            s.channels = static_cast<int32_t>(channels);
            s.rate = static_cast<int32_t>(rate);
            s.bits = static_cast<int32_t>(bits);
            haveFormat = true;
            continue;
        }
        if (std::memcmp(id, "data", 4) == 0) {
            if (!haveFormat) return false;
            s.dataSize = size;
            break;
        }
        const int64_t here = FileSeek(f, 0, kSeekCurrent);
        if (here < 0 || !Fits(here, size, fileSize) || !Skip(f, size)) return false;
    }
    s.flags = s.bits == 16 ? uint32_t{kPCMSigned} : 0u;
    s.bytesPerFrame = s.bits * s.channels / 8;
    s.dataOffset = FileSeek(f, 0, kSeekCurrent);
    if (s.dataOffset < 0) return false;
    // A recording whose header was never finished (its data size left at 0
    // or at the 0xFFFFFFFF a writer puts first, or past the end) holds its
    // data to the end of the file.
    if (fileSize >= 0 && (s.dataSize == 0 || s.dataSize == 0xFFFFFFFFu || !Fits(s.dataOffset, s.dataSize, fileSize)))
        s.dataSize = static_cast<uint64_t>(std::max<int64_t>(fileSize - s.dataOffset, 0));
    s.frames = s.framesTotal = FramesIn(s, fileSize);
    return true;
}

uint32_t ReadInbuiltFrames(qbSample& s, void* buffer, uint32_t wanted) {
    const uint32_t remaining = s.position < s.frames ? s.frames - s.position : 0;
    const uint32_t n = std::min(wanted, remaining);
    if (n == 0) return 0;
    qbFile* f = s.file.get();
    const bool splitStereo = s.channels == 2 && s.format != kStreamWAVE;
    if (!splitStereo) {
        const int64_t at = s.dataOffset + int64_t{s.position} * s.bytesPerFrame;
        if (FileSeek(f, at, kSeekBeginning) < 0) return 0;
        const size_t bytes = size_t{n} * static_cast<size_t>(s.bytesPerFrame);
        return static_cast<uint32_t>(FileRead(f, buffer, bytes) / static_cast<size_t>(s.bytesPerFrame));
    }
    // The right block starts after the left one as the header gave it, even
    // when the file was cut short. Both sides land in the scratch buffer and
    // are interleaved in one typed pass.
    const int64_t fullFrames = static_cast<int64_t>(s.dataSize / static_cast<uint64_t>(s.bytesPerFrame));
    const size_t sampleBytes = static_cast<size_t>(s.bytesPerFrame / 2);
    const size_t sideBytes = size_t{n} * sampleBytes;
    if (s.scratch.size() < 2 * sideBytes) s.scratch.resize(2 * sideBytes);
    size_t got = SIZE_MAX;
    for (size_t side = 0; side < 2; ++side) {
        const int64_t at = s.dataOffset + (int64_t{s.position} + static_cast<int64_t>(side) * fullFrames) *
                                              static_cast<int64_t>(sampleBytes);
        size_t read = 0;
        if (FileSeek(f, at, kSeekBeginning) >= 0)
            read = FileRead(f, s.scratch.data() + side * sideBytes, sideBytes) / sampleBytes;
        got = std::min(got, read);
    }
    const uint8_t* left = s.scratch.data();
    const uint8_t* right = left + sideBytes;
    if (sampleBytes == 1) {
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < got; ++i) {
            out[2 * i] = left[i];
            out[2 * i + 1] = right[i];
        }
    } else {
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < got; ++i) {
            out[4 * i] = left[2 * i];
            out[4 * i + 1] = left[2 * i + 1];
            out[4 * i + 2] = right[2 * i];
            out[4 * i + 3] = right[2 * i + 1];
        }
    }
    return static_cast<uint32_t>(got);
}
