#include "imaging/scale.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "imaging/kernels.h"
#include "imaging/simdrows.h"

uint64_t ScaleStep(int32_t srcSize, int32_t dstSize) {
    return (static_cast<uint64_t>(srcSize) << 32) / static_cast<uint64_t>(dstSize);
}

namespace {

struct Rgb {
    int32_t r, g, b;
};

inline bool Swapped16(int32_t format) { return format == 2 || format == 3 || format == 6 || format == 7; }
inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

Rgb ReadRGB(const void* p, int32_t format) {
    if (format >= 10) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        const uint32_t c = KernelToARGB(static_cast<uint32_t>(format), v);
        return {static_cast<int32_t>((c >> 16) & 255), static_cast<int32_t>((c >> 8) & 255),
                static_cast<int32_t>(c & 255)};
    }
    uint16_t v;
    std::memcpy(&v, p, 2);
    if (Swapped16(format)) v = Swap16(v);
    const int32_t base = format & ~2;
    int32_t hi, mid, lo;
    if (base >= 4) {
        hi = (v >> 11) << 3;
        mid = ((v >> 5) & 63) << 2;
        lo = (v & 31) << 3;
    } else {
        hi = ((v >> 10) & 31) << 3;
        mid = ((v >> 5) & 31) << 3;
        lo = (v & 31) << 3;
    }
    return (base & 1) ? Rgb{lo, mid, hi} : Rgb{hi, mid, lo};
}

void WriteRGB(void* p, int32_t format, Rgb c) {
    if (format >= 10) {
        const uint32_t argb = (static_cast<uint32_t>(c.r) << 16) |
                              (static_cast<uint32_t>(c.g) << 8) | static_cast<uint32_t>(c.b);
        const uint32_t v = KernelFromARGB(static_cast<uint32_t>(format), argb);
        std::memcpy(p, &v, 4);
        return;
    }
    const int32_t base = format & ~2;
    const auto hiC = static_cast<uint32_t>((base & 1) ? c.b : c.r);
    const auto loC = static_cast<uint32_t>((base & 1) ? c.r : c.b);
    const auto g = static_cast<uint32_t>(c.g);
    uint16_t v = base >= 4
                     ? static_cast<uint16_t>(((hiC >> 3) << 11) | ((g >> 2) << 5) | (loC >> 3))
                     : static_cast<uint16_t>(((hiC >> 3) << 10) | ((g >> 3) << 5) | (loC >> 3));
    if (Swapped16(format)) v = Swap16(v);
    std::memcpy(p, &v, 2);
}

inline int32_t Lerp(int32_t a, int32_t b, uint32_t f) {
    return a + (((b - a) * static_cast<int32_t>(f)) >> 16);
}

inline Rgb Bilinear(Rgb a, Rgb b, Rgb c, Rgb d, uint32_t fx, uint32_t fy) {
    const int32_t tr = Lerp(a.r, b.r, fx), tg = Lerp(a.g, b.g, fx), tb = Lerp(a.b, b.b, fx);
    const int32_t br = Lerp(c.r, d.r, fx), bg = Lerp(c.g, d.g, fx), bb = Lerp(c.b, d.b, fx);
    return {Lerp(tr, br, fy), Lerp(tg, bg, fy), Lerp(tb, bb, fy)};
}

inline bool GetBit(const uint8_t* row, int32_t x) { return (row[x >> 3] & (0x80u >> (x & 7))) != 0; }
inline void PutBit(uint8_t* row, int32_t x, bool on) {
    const auto bit = static_cast<uint8_t>(0x80u >> (x & 7));
    row[x >> 3] = on ? static_cast<uint8_t>(row[x >> 3] | bit) : static_cast<uint8_t>(row[x >> 3] & ~bit);
}

inline bool Usable(const ScaleRequest& q) {
    return q.srcWidth > 0 && q.srcHeight > 0 && q.dstWidth > 0 && q.dstHeight > 0 &&
           (q.bytesPerPixel == 2 || q.bytesPerPixel == 4) &&
           // A smooth read takes the pixel size from the format: a mismatch
           // would read past the row end.
           (!q.smooth || (q.bytesPerPixel == 4) == (q.pixelFormat >= 10));
}

const uint8_t* SrcPixelRow(const ScaleRequest& q, int32_t y) {
    return static_cast<const uint8_t*>(q.srcPixels) +
           static_cast<std::ptrdiff_t>(y) * q.srcRowLength * q.bytesPerPixel;
}
uint8_t* DstPixelRow(const ScaleRequest& q, int32_t y) {
    return static_cast<uint8_t*>(q.dstPixels) +
           static_cast<std::ptrdiff_t>(y) * q.dstRowLength * q.bytesPerPixel;
}

}  // namespace

void ScalePixelBufferRef(const ScaleRequest& q) {
    if (!Usable(q)) return;
    const uint64_t sx = ScaleStep(q.srcWidth, q.dstWidth), sy = ScaleStep(q.srcHeight, q.dstHeight);
    const int32_t bpp = q.bytesPerPixel;
    for (int32_t y = 0; y < q.dstHeight; ++y) {
        const int32_t row = ScaleIndex(sy, y);
        for (int32_t x = 0; x < q.dstWidth; ++x) {
            const int32_t col = ScaleIndex(sx, x);
            if (q.srcMask && q.dstMask)
                PutBit(q.dstMask + static_cast<std::ptrdiff_t>(y) * q.dstMaskRowBytes, x,
                       GetBit(q.srcMask + static_cast<std::ptrdiff_t>(row) * q.srcMaskRowBytes, col));
            if (q.maskOnly) continue;
            if (q.srcAlpha && q.dstAlpha)
                q.dstAlpha[static_cast<std::ptrdiff_t>(y) * q.dstAlphaRowBytes + x] =
                    q.srcAlpha[static_cast<std::ptrdiff_t>(row) * q.srcAlphaRowBytes + col];
            uint8_t* out = DstPixelRow(q, y) + x * bpp;
            if (!q.smooth) {
                std::memcpy(out, SrcPixelRow(q, row) + col * bpp, static_cast<size_t>(bpp));
                continue;
            }
            const uint64_t px = SmoothPosition(sx, x), py = SmoothPosition(sy, y);
            const auto c0 = static_cast<int32_t>(px >> 32), r0 = static_cast<int32_t>(py >> 32);
            const int32_t c1 = std::min(c0 + 1, q.srcWidth - 1);
            const int32_t r1 = std::min(r0 + 1, q.srcHeight - 1);
            const Rgb a = ReadRGB(SrcPixelRow(q, r0) + c0 * bpp, q.pixelFormat);
            const Rgb b = ReadRGB(SrcPixelRow(q, r0) + c1 * bpp, q.pixelFormat);
            const Rgb c = ReadRGB(SrcPixelRow(q, r1) + c0 * bpp, q.pixelFormat);
            const Rgb d = ReadRGB(SrcPixelRow(q, r1) + c1 * bpp, q.pixelFormat);
            WriteRGB(out, q.pixelFormat,
                     Bilinear(a, b, c, d, static_cast<uint32_t>((px >> 16) & 0xFFFFu),
                              static_cast<uint32_t>((py >> 16) & 0xFFFFu)));
        }
    }
}

namespace {

// out[x] = in[cols[x]] for x in [0, width); the leading `near` columns may
// take the vector loops (see PickRowAvx2).
template <typename Pixel>
void PickRow(KernelIsa isa, Pixel* out, const Pixel* in, const int32_t* c, int32_t width, int32_t near) {
    int32_t x = 0;
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx2 && near >= 8) {
        if constexpr (sizeof(Pixel) == 4) x = PickRowAvx2(out, in, c, near);
        else x = PickRow16Avx2(out, in, c, near);
    }
#endif
    (void)isa;
    (void)near;
    for (; x + 8 <= width; x += 8) {
        out[x] = in[c[x]];
        out[x + 1] = in[c[x + 1]];
        out[x + 2] = in[c[x + 2]];
        out[x + 3] = in[c[x + 3]];
        out[x + 4] = in[c[x + 4]];
        out[x + 5] = in[c[x + 5]];
        out[x + 6] = in[c[x + 6]];
        out[x + 7] = in[c[x + 7]];
    }
    for (; x < width; ++x) out[x] = in[c[x]];
}

template <typename Pixel>
void PlainRows(KernelIsa isa, const ScaleRequest& q, const std::vector<int32_t>& cols, uint64_t sx, uint64_t sy) {
    const int32_t width = q.dstWidth;
    const size_t rowBytes = static_cast<size_t>(width) * sizeof(Pixel);
    // The same width keeps every column: rows are copied whole.
    const bool sameWidth = q.srcWidth == width;
    // Below two source pixels per destination pixel, eight destination
    // pixels come from at most 15 source pixels; the vector loops may run
    // while the 16 from a group's first column stay inside the row (the
    // columns only grow).
    constexpr uint64_t kTwo = uint64_t{2} << 32;
    const int32_t near =
        sx < kTwo ? static_cast<int32_t>(std::lower_bound(cols.begin(), cols.end(), q.srcWidth - 15) - cols.begin())
                  : 0;
    int32_t lastRow = -1;
    for (int32_t y = 0; y < q.dstHeight; ++y) {
        const int32_t row = ScaleIndex(sy, y);
        auto* out = reinterpret_cast<Pixel*>(DstPixelRow(q, y));
        if (row == lastRow) {
            // Enlarging vertically repeats rows: copy the finished one.
            std::memcpy(out, DstPixelRow(q, y - 1), rowBytes);
            continue;
        }
        lastRow = row;
        const auto* in = reinterpret_cast<const Pixel*>(SrcPixelRow(q, row));
        if (sameWidth) std::memcpy(out, in, rowBytes);
        else PickRow(isa, out, in, cols.data(), width, near);
    }
}

}  // namespace

// ---- smooth scaling ---------------------------------------------------------

namespace {

// Per destination column: the source column, its right neighbour (clamped at
// the last column) and the 16-bit fraction between them. Columns below
// `inner` have a neighbour of their own, which the vector loops load together
// with the column in one read.
struct SmoothColumns {
    std::vector<int32_t> cols, cols1;
    std::vector<uint16_t> fracs;
    int32_t inner = 0;
};

SmoothColumns MakeSmoothColumns(int32_t srcWidth, int32_t dstWidth) {
    SmoothColumns c;
    const auto n = static_cast<size_t>(dstWidth);
    c.cols.resize(n);
    c.cols1.resize(n);
    c.fracs.resize(n);
    const uint64_t step = ScaleStep(srcWidth, dstWidth);
    c.inner = dstWidth;
    for (int32_t x = 0; x < dstWidth; ++x) {
        const auto i = static_cast<size_t>(x);
        const uint64_t pos = SmoothPosition(step, x);
        c.cols[i] = static_cast<int32_t>(pos >> 32);
        c.cols1[i] = std::min(c.cols[i] + 1, srcWidth - 1);
        c.fracs[i] = static_cast<uint16_t>((pos >> 16) & 0xFFFFu);
        if (c.cols1[i] == c.cols[i] && c.inner == dstWidth) c.inner = x;
    }
    return c;
}

// a + ((b - a) * f >> 16) on the R, G and B bytes; the alpha byte is 0.
inline uint32_t LerpPixel(uint32_t a, uint32_t b, uint32_t f) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int32_t ca = static_cast<int32_t>((a >> shift) & 255), cb = static_cast<int32_t>((b >> shift) & 255);
        out |= static_cast<uint32_t>(Lerp(ca, cb, f)) << shift;
    }
    return out;
}

// One ARGB source row interpolated along x for every destination column.
void LerpColumns(KernelIsa isa, const uint32_t* src, const SmoothColumns& c, uint32_t* out) {
    int32_t x = 0;
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx2) x = LerpColumnsAvx2(src, c.cols.data(), c.fracs.data(), c.inner, out);
    if (isa >= KernelIsa::Sse2)
        x += LerpColumnsSse2(src, c.cols.data() + x, c.fracs.data() + x, c.inner - x, out + x);
#endif
    (void)isa;
    const auto n = static_cast<int32_t>(c.cols.size());
    for (; x < n; ++x) {
        const auto i = static_cast<size_t>(x);
        out[x] = LerpPixel(src[c.cols[i]], src[c.cols1[i]], c.fracs[i]);
    }
}

// Two such rows interpolated across, alpha byte 0.
void LerpRows(KernelIsa isa, const uint32_t* top, const uint32_t* bottom, uint32_t fy, int32_t width,
              uint32_t* out) {
    int32_t x = 0;
#if QB_PIXEL_X86
    if (isa == KernelIsa::Avx2) x = LerpRowsAvx2(top, bottom, fy, width, out);
    if (isa >= KernelIsa::Sse2) x += LerpRowsSse2(top + x, bottom + x, fy, width - x, out + x);
#endif
    (void)isa;
    for (; x < width; ++x) out[x] = LerpPixel(top[x], bottom[x], fy);
}

// Host-order ARGB needs no conversion, so the rows go through the vector
// loops in two passes: along x into a cache of two interpolated source rows,
// then across them. Enlarging reuses a cached pair for several destination
// rows, and moving down by one row recomputes only the new bottom one.
void SmoothArgb(KernelIsa isa, const ScaleRequest& q) {
    const SmoothColumns columns = MakeSmoothColumns(q.srcWidth, q.dstWidth);
    const auto width = static_cast<size_t>(q.dstWidth);
    std::vector<uint32_t> cache(2 * width);
    uint32_t* const slot[2] = {cache.data(), cache.data() + width};
    int32_t held[2] = {-1, -1};
    // The interpolated source row r, computed into the slot not holding `keep`.
    const auto fetch = [&](int32_t r, int32_t keep) -> const uint32_t* {
        for (int k = 0; k < 2; ++k)
            if (held[k] == r) return slot[k];
        const int k = held[0] == keep ? 1 : 0;
        LerpColumns(isa, reinterpret_cast<const uint32_t*>(SrcPixelRow(q, r)), columns, slot[k]);
        held[k] = r;
        return slot[k];
    };
    const uint64_t sy = ScaleStep(q.srcHeight, q.dstHeight);
    for (int32_t y = 0; y < q.dstHeight; ++y) {
        const uint64_t pos = SmoothPosition(sy, y);
        const auto row = static_cast<int32_t>(pos >> 32);
        const uint32_t* top = fetch(row, -1);
        const uint32_t* bottom = fetch(std::min(row + 1, q.srcHeight - 1), row);
        LerpRows(isa, top, bottom, static_cast<uint32_t>((pos >> 16) & 0xFFFFu), q.dstWidth,
                 reinterpret_cast<uint32_t*>(DstPixelRow(q, y)));
    }
}

// Every other format through the general pixel reads and writes.
void SmoothAnyFormat(const ScaleRequest& q) {
    const SmoothColumns columns = MakeSmoothColumns(q.srcWidth, q.dstWidth);
    const uint64_t sy = ScaleStep(q.srcHeight, q.dstHeight);
    const int32_t bpp = q.bytesPerPixel;
    for (int32_t y = 0; y < q.dstHeight; ++y) {
        const uint64_t pos = SmoothPosition(sy, y);
        const auto row = static_cast<int32_t>(pos >> 32);
        const uint8_t* top = SrcPixelRow(q, row);
        const uint8_t* bottom = SrcPixelRow(q, std::min(row + 1, q.srcHeight - 1));
        const auto fy = static_cast<uint32_t>((pos >> 16) & 0xFFFFu);
        uint8_t* out = DstPixelRow(q, y);
        for (int32_t x = 0; x < q.dstWidth; ++x) {
            const auto i = static_cast<size_t>(x);
            const int32_t c0 = columns.cols[i] * bpp, c1 = columns.cols1[i] * bpp;
            const Rgb a = ReadRGB(top + c0, q.pixelFormat), b = ReadRGB(top + c1, q.pixelFormat);
            const Rgb c = ReadRGB(bottom + c0, q.pixelFormat), d = ReadRGB(bottom + c1, q.pixelFormat);
            WriteRGB(out + x * bpp, q.pixelFormat, Bilinear(a, b, c, d, columns.fracs[i], fy));
        }
    }
}

}  // namespace

void ScalePixelBufferWith(KernelIsa isa, const ScaleRequest& q) {
    if (!Usable(q)) return;
    const uint64_t sx = ScaleStep(q.srcWidth, q.dstWidth), sy = ScaleStep(q.srcHeight, q.dstHeight);
    std::vector<int32_t> cols(static_cast<size_t>(q.dstWidth));
    {
        uint64_t pos = 0;
        for (int32_t x = 0; x < q.dstWidth; ++x, pos += sx) cols[static_cast<size_t>(x)] = static_cast<int32_t>(pos >> 32);
    }
    if (q.srcMask && q.dstMask) {
        for (int32_t y = 0; y < q.dstHeight; ++y) {
            const uint8_t* in = q.srcMask + static_cast<std::ptrdiff_t>(ScaleIndex(sy, y)) * q.srcMaskRowBytes;
            uint8_t* out = q.dstMask + static_cast<std::ptrdiff_t>(y) * q.dstMaskRowBytes;
            for (int32_t x = 0; x < q.dstWidth; ++x) PutBit(out, x, GetBit(in, cols[static_cast<size_t>(x)]));
        }
    }
    if (q.maskOnly) return;
    if (q.srcAlpha && q.dstAlpha) {
        for (int32_t y = 0; y < q.dstHeight; ++y) {
            const uint8_t* in = q.srcAlpha + static_cast<std::ptrdiff_t>(ScaleIndex(sy, y)) * q.srcAlphaRowBytes;
            uint8_t* out = q.dstAlpha + static_cast<std::ptrdiff_t>(y) * q.dstAlphaRowBytes;
            for (int32_t x = 0; x < q.dstWidth; ++x) out[x] = in[cols[static_cast<size_t>(x)]];
        }
    }
    if (!q.smooth) {
        if (q.bytesPerPixel == 4) PlainRows<uint32_t>(UsableIsa(isa), q, cols, sx, sy);
        else PlainRows<uint16_t>(UsableIsa(isa), q, cols, sx, sy);
        return;
    }
    if (q.pixelFormat == 10) SmoothArgb(UsableIsa(isa), q);
    else SmoothAnyFormat(q);
}

void ScalePixelBuffer(const ScaleRequest& q) { ScalePixelBufferWith(BestKernelIsa(), q); }

int32_t KeepAspectRatio(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height) {
    if (!width || !height) return ERR_WRONGUSAGE;
    if (*width < 1 || *height < 1 || srcWidth < 1 || srcHeight < 1) return ERR_BADDIMENSIONS;
    if (*width == kKeepAspectRatio && *height == kKeepAspectRatio) return ERR_WRONGUSAGE;
    const double ratio = static_cast<double>(srcWidth) / static_cast<double>(srcHeight);
    auto round = [](double v) {
        const double whole = std::floor(v);
        const auto frac = static_cast<float>(v - whole);
        return static_cast<int32_t>(whole) + (frac >= 0.5f ? 1 : 0);
    };
    if (*width == kKeepAspectRatio) *width = round(*height * ratio);
    else if (*height == kKeepAspectRatio) *height = round(*width / ratio);
    return 0;
}
