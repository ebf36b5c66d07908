// The building blocks of ILBM pictures shared with the anim readers:
// ByteRun1 rows, planar bodies and their conversion to pixels.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/file.h"
#include "imaging/ilbm.h"

namespace {

constexpr size_t kMaxRun = 128;
constexpr size_t kMinRun = 3;
constexpr int kSkipControl = -128;
constexpr uint32_t kRedShift = 16, kGreenShift = 8;

}  // namespace

namespace {

constexpr size_t kBlock = 16;

// Commands are short: their bytes go in whole 16-byte blocks (a load and a
// store each) where both sides have room for the last block's overhang,
// which later commands of the row overwrite.
void CopyCommand(uint8_t* dst, const uint8_t* src, size_t n, size_t dstRoom, size_t srcRoom) {
    const size_t blocks = (n + kBlock - 1) & ~(kBlock - 1);
    if (blocks > dstRoom || blocks > srcRoom) {
        std::memcpy(dst, src, n);
        return;
    }
    for (size_t i = 0; i < blocks; i += kBlock) std::memcpy(dst + i, src + i, kBlock);
}

void FillCommand(uint8_t* dst, uint8_t value, size_t n, size_t dstRoom) {
    const size_t blocks = (n + kBlock - 1) & ~(kBlock - 1);
    if (blocks > dstRoom) {
        std::memset(dst, value, n);
        return;
    }
    uint8_t block[kBlock];
    std::memset(block, value, kBlock);
    for (size_t i = 0; i < blocks; i += kBlock) std::memcpy(dst + i, block, kBlock);
}

// Whole commands that lie inside the file's read-ahead bytes, decoded in
// place; stops at a command crossing their end.
void UnpackBufferedCommands(qbFile* file, uint8_t* row, size_t rowBytes, size_t* at) {
    const qbBufferedBytes bytes = FileBufferedBytes(file);
    const uint8_t* source = bytes.data;
    size_t in = 0;
    while (*at < rowBytes && in < bytes.size) {
        const int n = static_cast<int8_t>(source[in]);
        if (n == kSkipControl) {
            ++in;
            continue;
        }
        if (n >= 0) {
            // The bytes past the row are dropped with it.
            const size_t count = static_cast<size_t>(n) + 1;
            if (bytes.size - in - 1 < count) break;
            const size_t fit = std::min(count, rowBytes - *at);
            CopyCommand(row + *at, source + in + 1, fit, rowBytes - *at, bytes.size - in - 1);
            in += 1 + count;
            *at += fit;
        } else {
            if (bytes.size - in < 2) break;
            const size_t fit = std::min(static_cast<size_t>(1 - n), rowBytes - *at);
            FillCommand(row + *at, source[in + 1], fit, rowBytes - *at);
            in += 2;
            *at += fit;
        }
    }
    if (in) FileConsumeBuffered(file, in);
}

}  // namespace

bool UnpackByteRun1Row(qbFile* file, uint8_t* row, size_t rowBytes) {
    size_t at = 0;
    while (at < rowBytes) {
        UnpackBufferedCommands(file, row, rowBytes, &at);
        if (at >= rowBytes) break;
        // One command read through the file: it crosses the read-ahead's
        // end, or the file has none.
        const int c = FileGetC(file);
        if (c < 0) return false;
        const int n = static_cast<int8_t>(c);
        if (n == kSkipControl) continue;
        if (n >= 0) {
            const size_t count = static_cast<size_t>(n) + 1;
            const size_t fit = std::min(count, rowBytes - at);
            if (FileRead(file, row + at, fit) != fit) return false;
            if (fit < count && FileSeek(file, static_cast<int64_t>(count - fit), kSeekCurrent) < 0) return false;
            at += fit;
        } else {
            const int value = FileGetC(file);
            if (value < 0) return false;
            const size_t fit = std::min(static_cast<size_t>(1 - n), rowBytes - at);
            std::memset(row + at, value, fit);
            at += fit;
        }
    }
    return true;
}

size_t UnpackByteRun1(const uint8_t* source, size_t sourceBytes, uint8_t* row, size_t rowBytes) {
    size_t in = 0, at = 0;
    while (at < rowBytes) {
        if (in >= sourceBytes) return 0;
        const int n = static_cast<int8_t>(source[in++]);
        if (n == kSkipControl) continue;
        if (n >= 0) {
            const size_t count = static_cast<size_t>(n) + 1;
            if (sourceBytes - in < count) return 0;
            const size_t fit = std::min(count, rowBytes - at);
            std::memcpy(row + at, source + in, fit);
            in += count;
            at += fit;
        } else {
            if (in >= sourceBytes) return 0;
            const size_t fit = std::min(static_cast<size_t>(1 - n), rowBytes - at);
            std::memset(row + at, source[in++], fit);
            at += fit;
        }
    }
    return in;
}

size_t PackByteRun1Row(const uint8_t* row, size_t rowBytes, uint8_t* out) {
    size_t o = 0, literal = 0, i = 0;
    auto flushLiteral = [&](size_t end) {
        while (literal < end) {
            const size_t count = std::min(end - literal, kMaxRun);
            out[o++] = static_cast<uint8_t>(count - 1);
            std::memcpy(out + o, row + literal, count);
            o += count;
            literal += count;
        }
    };
    while (i < rowBytes) {
        size_t run = 1;
        while (i + run < rowBytes && run < kMaxRun && row[i + run] == row[i]) ++run;
        if (run >= kMinRun) {
            flushLiteral(i);
            out[o++] = static_cast<uint8_t>(1 - static_cast<int>(run));
            out[o++] = row[i];
            i += run;
            literal = i;
            continue;
        }
        i += run;
        if (i - literal >= kMaxRun) flushLiteral(literal + kMaxRun);
    }
    flushLiteral(rowBytes);
    return o;
}

namespace {

uint8_t* PlaneRow(uint8_t* planar, const ILBMBodyLayout& l, size_t rowBytes, int32_t y, int32_t p) {
    if (l.planes == 24) return planar + (static_cast<size_t>(y) * 24 + static_cast<size_t>(p)) * rowBytes;
    return planar + (static_cast<size_t>(p) * static_cast<size_t>(l.height) + static_cast<size_t>(y)) * rowBytes;
}

template <typename ReadRow, typename SkipRow>
bool ReadBody(uint8_t* planar, const ILBMBodyLayout& l, ReadRow readRow, SkipRow skipRow) {
    const size_t rowBytes = ILBMRowBytes(l.width);
    for (int32_t y = 0; y < l.height; ++y) {
        for (int32_t p = 0; p < l.planes; ++p)
            if (!readRow(PlaneRow(planar, l, rowBytes, y, p), rowBytes)) return false;
        if (l.masking == 1 && !skipRow(rowBytes)) return false;
    }
    return true;
}

}  // namespace

bool ReadILBMBodyPlain(qbFile* file, uint8_t* planar, const ILBMBodyLayout& layout) {
    return ReadBody(
        planar, layout, [file](uint8_t* row, size_t n) { return FileRead(file, row, n) == n; },
        [file](size_t n) {
            // A seek past the end succeeds; the next row's read finds it.
            return FileSeek(file, static_cast<int64_t>(n), kSeekCurrent) >= 0;
        });
}

bool ReadILBMBodyByteRun1(qbFile* file, uint8_t* planar, const ILBMBodyLayout& layout) {
    std::unique_ptr<uint8_t[]> mask(new (std::nothrow) uint8_t[ILBMRowBytes(layout.width)]);
    if (!mask) return false;
    return ReadBody(
        planar, layout, [file](uint8_t* row, size_t n) { return UnpackByteRun1Row(file, row, n); },
        [file, &mask](size_t n) { return UnpackByteRun1Row(file, mask.get(), n); });
}

namespace {

// Byte i of entry b is bit 7 - i of b: one plane byte spread over the
// eight index bytes it covers, so a plane row is ORed in a word at a time.
struct SpreadTable {
    uint64_t entry[256];
    constexpr SpreadTable() : entry() {
        for (uint32_t b = 0; b < 256; ++b)
            for (uint32_t i = 0; i < 8; ++i)
                if (b & (0x80u >> i)) entry[b] |= uint64_t{1} << (8 * i);
    }
};
constexpr SpreadTable kSpread;

// One row of palette indices from up to eight plane rows `planeStride`
// bytes apart: eight pixels are gathered from every plane and stored once.
void GatherIndexRow(const uint8_t* planes, size_t planeStride, uint32_t count, uint8_t* dst, size_t width) {
    const size_t whole = width >> 3;
    for (size_t k = 0; k < whole; ++k) {
        uint64_t v = 0;
        for (uint32_t p = 0; p < count; ++p) v |= kSpread.entry[planes[p * planeStride + k]] << p;
        std::memcpy(dst + 8 * k, &v, 8);
    }
    for (size_t x = whole * 8; x < width; ++x) {
        uint32_t v = 0;
        for (uint32_t p = 0; p < count; ++p) v |= ((planes[p * planeStride + (x >> 3)] >> (7 - (x & 7))) & 1u) << p;
        dst[x] = static_cast<uint8_t>(v);
    }
}

}  // namespace

void PlanarToChunky(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, size_t rowBytes,
                    void* out, size_t strideBytes) {
    if (width <= 0 || height <= 0) return;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (planes >= 1 && planes <= 8) {
        auto* indices = static_cast<uint8_t*>(out);
        for (size_t y = 0; y < h; ++y)
            GatherIndexRow(planar + y * rowBytes, h * rowBytes, static_cast<uint32_t>(planes), indices + y * w, w);
        return;
    }
    if (planes != 24) return;
    // Eight pixels at a time: their red, green and blue bytes are gathered
    // like the indices of three eight-plane pictures, then joined.
    const size_t whole = w >> 3;
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* rowPlanes = planar + y * 24 * rowBytes;
        auto* dst = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(out) + y * strideBytes);
        for (size_t k = 0; k < whole; ++k) {
            uint64_t c[3] = {};
            for (uint32_t p = 0; p < 24; ++p) c[p >> 3] |= kSpread.entry[rowPlanes[p * rowBytes + k]] << (p & 7);
            for (uint32_t i = 0; i < 8; ++i)
                dst[8 * k + i] = static_cast<uint32_t>((c[0] >> (8 * i)) & 0xFF) << kRedShift |
                                 static_cast<uint32_t>((c[1] >> (8 * i)) & 0xFF) << kGreenShift |
                                 static_cast<uint32_t>((c[2] >> (8 * i)) & 0xFF);
        }
        for (size_t x = whole * 8; x < w; ++x) {
            uint32_t v = 0;
            for (uint32_t p = 0; p < 24; ++p) {
                const uint32_t shift = p < 8 ? kRedShift + p : p < 16 ? p : p - 16;
                v |= static_cast<uint32_t>((rowPlanes[p * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1u) << shift;
            }
            dst[x] = v;
        }
    }
}

namespace {

// bits: the index bits below the two control bits (4 for HAM6, 6 for HAM8).
void ConvertHAM(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height,
                int bits) {
    const uint32_t valueMask = (1u << bits) - 1, scale = 8 - static_cast<uint32_t>(bits);
    for (int32_t y = 0; y < height; ++y) {
        uint32_t held = 0;
        for (int32_t x = 0; x < width; ++x, ++indices, ++out) {
            const uint32_t i = *indices, value = (i & valueMask) << scale;
            switch ((i >> bits) & 3) {
            case 0: held = palette[i & valueMask] & 0xFFFFFFu; break;
            case 1: held = (held & 0xFFFF00u) | value; break;
            case 2: held = (held & 0x00FFFFu) | value << kRedShift; break;
            default: held = (held & 0xFF00FFu) | value << kGreenShift; break;
            }
            *out = held;
        }
    }
}

}  // namespace

void ConvertHAM6(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
    ConvertHAM(indices, out, palette, width, height, 4);
}

void ConvertHAM8(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
    ConvertHAM(indices, out, palette, width, height, 6);
}

bool PlanarToARGB(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, size_t rowBytes,
                  const uint32_t* palette, int hamBits, uint32_t* out) {
    if (width <= 0 || height <= 0 || planes < 1 || planes > 8) return true;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[w]);
    if (!row) return false;
    for (size_t y = 0; y < h; ++y, out += w) {
        GatherIndexRow(planar + y * rowBytes, h * rowBytes, static_cast<uint32_t>(planes), row.get(), w);
        if (hamBits)
            ConvertHAM(row.get(), out, palette, width, 1, hamBits);
        else
            for (size_t x = 0; x < w; ++x) out[x] = palette[row[x]];
    }
    return true;
}

void ChunkyToARGB(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < n; ++i) out[i] = palette[indices[i]];
}

void ApplyExtraHalfBrite(uint32_t* palette) {
    for (int i = 0; i < 32; ++i) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7Fu;
}
