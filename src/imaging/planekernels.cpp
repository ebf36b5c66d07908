#include "imaging/planekernels.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/pixelformats.h"
#include "imaging/simdrows.h"

namespace {

inline uint32_t* At32(const PixelRows32& r, int32_t i, int32_t j) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) + j) * r.rowLength + r.x + i;
}
inline uint16_t* At16(const PixelRows16& r, int32_t i, int32_t j) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) + j) * r.rowLength + r.x + i;
}
inline const uint32_t* AtArgb(const ArgbRows& r, int32_t i, int32_t j) {
    return r.pixels + (static_cast<std::ptrdiff_t>(r.y) + j) * r.rowLength + r.x + i;
}
inline uint8_t* AlphaRow(const AlphaRows& a, int32_t j) {
    return a.data + static_cast<std::ptrdiff_t>(a.y + j) * a.rowBytes + a.x;
}
inline uint8_t& AlphaAt(const AlphaRows& a, int32_t i, int32_t j) { return AlphaRow(a, j)[i]; }
inline uint8_t* MaskRowBase(const MaskRows& m, int32_t j) {
    return m.data + static_cast<std::ptrdiff_t>(m.y + j) * m.rowBytes;
}
inline bool BitIn(const uint8_t* row, int32_t x) { return (row[x >> 3] & (0x80u >> (x & 7))) != 0; }
inline void PutBit(uint8_t* row, int32_t x, bool on) {
    const auto bit = static_cast<uint8_t>(0x80u >> (x & 7));
    row[x >> 3] = on ? static_cast<uint8_t>(row[x >> 3] | bit) : static_cast<uint8_t>(row[x >> 3] & ~bit);
}
inline bool MaskBit(const MaskRows& m, int32_t i, int32_t j) { return BitIn(MaskRowBase(m, j), m.x + i); }
inline void SetMaskBit(const MaskRows& m, int32_t i, int32_t j, bool on) {
    PutBit(MaskRowBase(m, j), m.x + i, on);
}

// Weights above 256 (mode 4 given bytes beyond its 0-64 scale) leave the
// range the lane trick is exact for; they are rare, so they take the slow rule.
inline uint32_t Blend(uint32_t d, uint32_t c, uint32_t w) {
    return w <= 256 ? BlendRGBFast(d, c, w) : BlendRGB(d, c, w);
}

}  // namespace

// ---- ARGB import ------------------------------------------------------------

uint32_t ImportPixel32(uint32_t format, uint32_t p) {
    const uint32_t a = p >> 24, r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
    switch (format) {
        case 11: return (b << 24) | (g << 16) | (r << 8) | a;
        case 12: return (r << 24) | (g << 16) | (b << 8) | a;
        case 13: return (a << 24) | (b << 16) | (g << 8) | r;
        default: return p;
    }
}

void ImportARGB32(PixelRows32 dst, ArgbRows src, int32_t width, int32_t height,
                  uint32_t format) {
    if (width <= 0 || height <= 0) return;
    const bool asIs = format != 11 && format != 12 && format != 13;
    if (const size_t n = BlockPixels(dst, width, height); asIs && n != 0 && src.rowLength == width) {
        // One block, as the plain copy does.
        std::memmove(BlockStart(dst), BlockStart(src), n * 4);
        return;
    }
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* d = At32(dst, 0, j);
        const uint32_t* s = AtArgb(src, 0, j);
        int32_t i = 0;
        switch (format) {
            case 11:
#if QB_PIXEL_X86
                i = ReverseBytesRowSse2(d, s, width);
#endif
                for (; i < width; ++i) d[i] = __builtin_bswap32(s[i]);
                break;
            case 12:
                for (; i < width; ++i) d[i] = std::rotl(s[i], 8);
                break;
            case 13:
#if QB_PIXEL_X86
                i = SwapRedBlueRowSse2(d, s, width);
#endif
                for (; i < width; ++i) d[i] = std::rotr(__builtin_bswap32(s[i]), 8);
                break;
            default: std::memmove(d, s, static_cast<size_t>(width) * 4); break;
        }
    }
}
void ImportARGB32Ref(PixelRows32 dst, ArgbRows src, int32_t width, int32_t height,
                     uint32_t format) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) *At32(dst, i, j) = ImportPixel32(format, *AtArgb(src, i, j));
}

void ImportARGB16(PixelRows16 dst, ArgbRows src, int32_t width, int32_t height, int format) {
    if (width <= 0 || height <= 0) return;
    const bool native = format == kFormatRGB565;
    for (int32_t j = 0; j < height; ++j) {
        uint16_t* d = At16(dst, 0, j);
        const uint32_t* s = AtArgb(src, 0, j);
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t p = s[i];
            const auto v = static_cast<uint16_t>(((p >> 8) & 0xF800u) | ((p >> 5) & 0x07E0u) |
                                                 ((p >> 3) & 0x001Fu));
            d[i] = native ? v : RGB565ToPixel16(format, v);
        }
    }
}
void ImportARGB16Ref(PixelRows16 dst, ArgbRows src, int32_t width, int32_t height,
                     int format) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            *At16(dst, i, j) = RGB565ToPixel16(format, Narrow16(Layout16::RGB565, *AtArgb(src, i, j)));
}

// ---- ARGB export ---------------------------------------------------------------

void ExportARGB32(uint32_t* out, int32_t outRowLength, PixelRows32 src, int32_t width,
                  int32_t height, uint32_t format) {
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* o = out + static_cast<std::ptrdiff_t>(j) * outRowLength;
        const uint32_t* s = At32(src, 0, j);
        switch (format) {
            case 11:
                for (int32_t i = 0; i < width; ++i) o[i] = __builtin_bswap32(s[i]) & 0x00FFFFFFu;
                break;
            case 12:
                for (int32_t i = 0; i < width; ++i) o[i] = std::rotr(s[i], 8) & 0x00FFFFFFu;
                break;
            case 13:
                for (int32_t i = 0; i < width; ++i) o[i] = std::rotr(__builtin_bswap32(s[i]), 8) & 0x00FFFFFFu;
                break;
            default:
                for (int32_t i = 0; i < width; ++i) o[i] = s[i] & 0x00FFFFFFu;
                break;
        }
    }
}
void ExportARGB32Ref(uint32_t* out, int32_t outRowLength, PixelRows32 src, int32_t width,
                     int32_t height, uint32_t format) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            out[static_cast<std::ptrdiff_t>(j) * outRowLength + i] = KernelToARGB(format, *At32(src, i, j)) & 0x00FFFFFFu;
}

void ExportARGB16(uint32_t* out, int32_t outRowLength, PixelRows16 src, int32_t width,
                  int32_t height, int format) {
    const bool native = format == kFormatRGB565;
    for (int32_t j = 0; j < height; ++j) {
        uint32_t* o = out + static_cast<std::ptrdiff_t>(j) * outRowLength;
        const uint16_t* s = At16(src, 0, j);
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t v = native ? s[i] : Pixel16ToRGB565(format, s[i]);
            o[i] = ((v & 0xF800u) << 8) | ((v & 0x07E0u) << 5) | ((v & 0x001Fu) << 3);
        }
    }
}
void ExportARGB16Ref(uint32_t* out, int32_t outRowLength, PixelRows16 src, int32_t width,
                     int32_t height, int format) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            out[static_cast<std::ptrdiff_t>(j) * outRowLength + i] =
                Widen16(Layout16::RGB565, Pixel16ToRGB565(format, *At16(src, i, j)));
}

// ---- alpha from ARGB --------------------------------------------------------

void AlphaFromARGB(AlphaRows dst, ArgbRows src, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* d = AlphaRow(dst, j);
        const uint32_t* s = AtArgb(src, 0, j);
        for (int32_t i = 0; i < width; ++i) d[i] = static_cast<uint8_t>(s[i] >> 24);
    }
}
void AlphaFromARGBRef(AlphaRows dst, ArgbRows src, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            AlphaAt(dst, i, j) = static_cast<uint8_t>((*AtArgb(src, i, j) >> 24) & 255u);
}

// ---- plane fills and conversions ---------------------------------------------

void FillAlphaPlane(AlphaRows dst, int32_t width, int32_t height, uint8_t value) {
    if (width <= 0) return;
    for (int32_t j = 0; j < height; ++j) std::memset(AlphaRow(dst, j), value, static_cast<size_t>(width));
}
void FillAlphaPlaneRef(AlphaRows dst, int32_t width, int32_t height, uint8_t value) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) AlphaAt(dst, i, j) = value;
}

namespace {
// Whole mask bytes are taken at once where the bit position is byte aligned;
// `fn` gets the pixel index and the bit.
template <typename Fn>
void ForMaskBits(const uint8_t* row, int32_t maskX, int32_t width, Fn fn) {
    int32_t i = 0;
    while (i < width) {
        const int32_t bx = maskX + i;
        if ((bx & 7) == 0 && width - i >= 8) {
            const uint8_t byte = row[bx >> 3];
            for (int k = 0; k < 8; ++k) fn(i + k, (byte & (0x80u >> k)) != 0);
            i += 8;
            continue;
        }
        fn(i, BitIn(row, bx));
        ++i;
    }
}
}  // namespace

void StampMaskIntoAlpha(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                        uint8_t value) {
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* d = AlphaRow(dst, j);
        ForMaskBits(MaskRowBase(mask, j), mask.x, width, [&](int32_t i, bool on) {
            if (on) d[i] = value;
        });
    }
}
void StampMaskIntoAlphaRef(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                           uint8_t value) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            if (MaskBit(mask, i, j)) AlphaAt(dst, i, j) = value;
}

void MaskToAlpha(AlphaRows dst, MaskRows mask, int32_t width, int32_t height, uint8_t value) {
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* d = AlphaRow(dst, j);
        ForMaskBits(MaskRowBase(mask, j), mask.x, width,
                    [&](int32_t i, bool on) { d[i] = on ? value : uint8_t{0}; });
    }
}
void MaskToAlphaRef(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                    uint8_t value) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) AlphaAt(dst, i, j) = MaskBit(mask, i, j) ? value : 0;
}

void AlphaToMask(MaskRows dst, AlphaRows src, int32_t width, int32_t height, int32_t mode) {
    if (mode == 4 || mode < 0 || mode > 5) return;
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* s = AlphaRow(src, j);
        uint8_t* row = MaskRowBase(dst, j);
        for (int32_t i = 0; i < width; ++i) {
            const bool bit = s[i] == 255;
            const int32_t x = dst.x + i;
            switch (mode) {
                case 1: PutBit(row, x, !bit); break;
                case 3: if (bit) row[x >> 3] = static_cast<uint8_t>(row[x >> 3] ^ (0x80u >> (x & 7))); break;
                case 5: if (bit) PutBit(row, x, true); break;
                default: PutBit(row, x, bit); break;
            }
        }
    }
}
void AlphaToMaskRef(MaskRows dst, AlphaRows src, int32_t width, int32_t height,
                    int32_t mode) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const bool s = AlphaAt(src, i, j) == 255;
            const bool d = MaskBit(dst, i, j);
            switch (mode) {
                case 0:
                case 2: SetMaskBit(dst, i, j, s); break;
                case 1: SetMaskBit(dst, i, j, !s); break;
                case 3: SetMaskBit(dst, i, j, s != d); break;
                case 5: SetMaskBit(dst, i, j, s || d); break;
                default: break;
            }
        }
}

void MultiplyAlpha(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                   uint32_t level) {
    // One division per possible byte instead of one per pixel.
    uint8_t table[256];
    for (uint32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v * level / 255);
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* s = AlphaRow(src, j);
        uint8_t* d = AlphaRow(dst, j);
        for (int32_t i = 0; i < width; ++i) d[i] = table[s[i]];
    }
}
void MultiplyAlphaRef(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                      uint32_t level) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            AlphaAt(dst, i, j) = static_cast<uint8_t>(AlphaAt(src, i, j) * level / 255);
}

// ---- alpha combine ------------------------------------------------------------

namespace {
// Modes 1 to 3 touch only bytes where s > 0, writing s, 255 - s or 255:
// sixteen at a time, byte for byte as fn.
template <typename Fn>
void CombineRows(AlphaRows dst, AlphaRows src, int32_t width, int32_t height, Fn fn, int32_t mode = 0) {
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* s = AlphaRow(src, j);
        uint8_t* d = AlphaRow(dst, j);
        int32_t i = 0;
#if defined(__SSE2__)
        if (mode >= 1 && mode <= 3) {
            const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi8(static_cast<char>(0xFF));
            for (; i + 16 <= width; i += 16) {
                const __m128i s8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                const __m128i d8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
                const __m128i clear = _mm_cmpeq_epi8(s8, zero);
                const __m128i v = mode == 1 ? s8 : mode == 2 ? _mm_xor_si128(s8, ones) : ones;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                                 _mm_or_si128(_mm_and_si128(clear, d8), _mm_andnot_si128(clear, v)));
            }
        }
#endif
        for (; i < width; ++i) d[i] = static_cast<uint8_t>(fn(uint32_t{s[i]}, uint32_t{d[i]}));
    }
}

uint32_t Over(uint32_t s, uint32_t d) { return std::min<uint32_t>((s * 255 + (255 - s) * d + 127) / 255, 255); }
}  // namespace

void CombineAlpha(AlphaRows dst, AlphaRows src, int32_t width, int32_t height, int32_t mode,
                  uint32_t value) {
    if (width <= 0 || height <= 0) return;
    switch (mode) {
        case 0:
            for (int32_t j = 0; j < height; ++j)
                std::memmove(AlphaRow(dst, j), AlphaRow(src, j), static_cast<size_t>(width));
            break;
        case 1: CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s ? s : d; }, 1); break;
        case 2:
            CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s ? 255 - s : d; }, 2);
            break;
        case 3: CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s ? 255u : d; }, 3); break;
        case 4: {
            uint8_t table[256];
            for (uint32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v * value / 255);
#if defined(__SSE2__)
            // Sixteen at a time: s * value / 255 below 65536 is
            // (s * value * 0x8081) >> 23 exactly.
            if (value <= 255) {
                const __m128i zero = _mm_setzero_si128(), v16 = _mm_set1_epi16(static_cast<int16_t>(value));
                const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(0x8081));
                for (int32_t j = 0; j < height; ++j) {
                    uint8_t* d = AlphaRow(dst, j);
                    const uint8_t* sr = AlphaRow(src, j);
                    int32_t i = 0;
                    for (; i + 16 <= width; i += 16) {
                        const __m128i s8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sr + i));
                        const __m128i d8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
                        const auto scale = [&](__m128i x) {
                            return _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(x, v16), magic), 7);
                        };
                        const __m128i n = _mm_packus_epi16(scale(_mm_unpacklo_epi8(s8, zero)),
                                                           scale(_mm_unpackhi_epi8(s8, zero)));
                        const __m128i clear = _mm_cmpeq_epi8(s8, zero);
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                                         _mm_or_si128(_mm_and_si128(clear, d8), _mm_andnot_si128(clear, n)));
                    }
                    for (; i < width; ++i)
                        if (sr[i]) d[i] = table[sr[i]];
                }
                break;
            }
#endif
            CombineRows(dst, src, width, height, [&](uint32_t s, uint32_t d) { return s ? uint32_t{table[s]} : d; });
            break;
        }
        case 5: CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s && d ? 255 - s : d; }); break;
        case 6: CombineRows(dst, src, width, height, [=](uint32_t s, uint32_t d) { return s ? value : d; }); break;
        case 7: CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s && d ? s : 0u; }); break;
        case 8: CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) { return s == 255 ? 255u : d; }); break;
        case 9:
            CombineRows(dst, src, width, height, [](uint32_t s, uint32_t d) {
                return s == 255 ? 255u : s ? Over(s, d) : d;
            });
            break;
        default: break;
    }
}
void CombineAlphaRef(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                     int32_t mode, uint32_t value) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t s = AlphaAt(src, i, j);
            uint8_t& d = AlphaAt(dst, i, j);
            uint32_t n = d;
            switch (mode) {
                case 0: n = s; break;
                case 1: if (s != 0) n = s; break;
                case 2: if (s != 0) n = 255 - s; break;
                case 3: if (s != 0) n = 255; break;
                case 4: if (s != 0) n = s * value / 255; break;
                case 5: if (s != 0 && d != 0) n = 255 - s; break;
                case 6: if (s != 0) n = value; break;
                case 7: n = (s != 0 && d != 0) ? s : 0; break;
                case 8: if (s == 255) n = 255; break;
                case 9:
                    if (s == 255) n = 255;
                    else if (s != 0) n = std::min<uint32_t>((s * 255 + (255 - s) * d + 127) / 255, 255);
                    break;
                default: break;
            }
            d = static_cast<uint8_t>(n);
        }
}

// ---- clip combination ----------------------------------------------------------

void ClipCombineMask(MaskRows out, MaskRows src, MaskRows clip, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* o = MaskRowBase(out, j);
        const uint8_t* c = MaskRowBase(clip, j);
        const uint8_t* s = src.data != nullptr ? MaskRowBase(src, j) : nullptr;
        int32_t i = 0;
        // All three byte aligned: whole bytes, eight pixels per AND.
        if (((out.x | clip.x | (s != nullptr ? src.x : 0)) & 7) == 0) {
            for (; i + 8 <= width; i += 8) {
                uint8_t v = c[(clip.x + i) >> 3];
                if (s != nullptr) v = static_cast<uint8_t>(v & s[(src.x + i) >> 3]);
                o[(out.x + i) >> 3] = v;
            }
        }
        for (; i < width; ++i)
            PutBit(o, out.x + i, BitIn(c, clip.x + i) && (s == nullptr || BitIn(s, src.x + i)));
    }
}
void ClipCombineMaskRef(MaskRows out, MaskRows src, MaskRows clip, int32_t width,
                        int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            SetMaskBit(out, i, j, MaskBit(clip, i, j) && (src.data == nullptr || MaskBit(src, i, j)));
}

void ClipCombineAlpha(AlphaRows out, AlphaRows src, MaskRows clip, int32_t width,
                      int32_t height) {
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* o = AlphaRow(out, j);
        const uint8_t* s = AlphaRow(src, j);
        ForMaskBits(MaskRowBase(clip, j), clip.x, width,
                    [&](int32_t i, bool on) { o[i] = on ? s[i] : uint8_t{0}; });
    }
}
void ClipCombineAlphaRef(AlphaRows out, AlphaRows src, MaskRows clip, int32_t width,
                         int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            AlphaAt(out, i, j) = MaskBit(clip, i, j) ? AlphaAt(src, i, j) : 0;
}

// ---- alpha channel draw -------------------------------------------------------

namespace {

inline uint32_t NextDestAlpha(uint32_t d, uint32_t a, uint32_t intensity) {
    const int32_t sd = static_cast<int32_t>(d), sa = static_cast<int32_t>(a);
    const int32_t v = sd + (((sa - sd) * sa) >> 8);
    return static_cast<uint32_t>(v) * intensity / 255;
}

// One pixel of the alpha-channel modes, in a form both twins share: `rgb`
// and `back` move between the pixel type and 0x00RRGGBB, `stored` is what a
// full weight writes and `c` the colour that blends.
template <typename Pixel, typename ToRgb, typename FromRgb>
inline void AlphaDrawPixel(Pixel& px, uint8_t* da, int32_t mode, uint32_t a, Pixel stored,
                           uint32_t c, uint32_t intensity, ToRgb rgb, FromRgb back) {
    if (a == 0) return;
    switch (mode) {
        case 1:
            px = a == 255 ? stored : back(Blend(rgb(px), c, a));
            return;
        case 4:
            px = a == 64 ? stored : back(Blend(rgb(px), c, a * 4));
            return;
        case 2:
        case 3:
            if (da == nullptr) {
                px = a == 255 ? stored : back(Blend(rgb(px), c, a));
            } else if (*da != 0) {
                px = back(Blend(rgb(px), c, a));
                *da = static_cast<uint8_t>(NextDestAlpha(*da, a, intensity));
            } else {
                *da = static_cast<uint8_t>(a * intensity / 255);
                px = stored;
            }
            return;
        default: px = stored; return;
    }
}

// The row walk of both twins: the alpha (or coverage) byte of each pixel
// decides whether and how the colour or the source pixel is drawn.
template <typename Pixel, typename Rows, typename AtFn, typename ToRgb, typename FromRgb>
void AlphaDrawRowsFast(Rows dst, const Rows* src, const AlphaDrawParams& p, int32_t width, int32_t height,
                       Pixel colourPixel, uint32_t colourRgb, AtFn at, ToRgb rgb, FromRgb back) {
    const bool fromCoverage = p.mode == 3;
    const bool useSource = src != nullptr && !fromCoverage;
    for (int32_t j = 0; j < height; ++j) {
        Pixel* d = at(dst, 0, j);
        const Pixel* s = useSource ? at(*src, 0, j) : nullptr;
        const uint8_t* w = fromCoverage ? nullptr : AlphaRow(p.alpha, j);
        const uint16_t* cov = fromCoverage
            ? p.coverage.data + static_cast<std::ptrdiff_t>(p.coverage.y + j) * p.coverage.rowLength + p.coverage.x
            : nullptr;
        uint8_t* da = p.destAlpha.data != nullptr ? AlphaRow(p.destAlpha, j) : nullptr;
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t a = fromCoverage ? (cov[i] & 255u) : w[i];
            if (a == 0) continue;
            const Pixel stored = s != nullptr ? s[i] : colourPixel;
            const uint32_t c = s != nullptr ? rgb(s[i]) : colourRgb;
            AlphaDrawPixel<Pixel>(d[i], da != nullptr ? da + i : nullptr, p.mode, a, stored, c, p.intensity, rgb,
                                  back);
        }
    }
}

#if defined(__SSE2__)
inline __m128i Select16(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Eight ARGB pixels of a colour drawn over the image's own alpha, exactly
// as the pixel loop does it: (d * (256 - a) + c * a) >> 8 per channel, the
// new alpha (da * (256 - a) + a * a) >> 8 (a where da is 0) times the
// intensity / 255, the colour outright where da is 0, nothing where a is 0.
// Every sum stays below 65536, so 16-bit lanes hold it; x / 255 below 65536
// is (x * 0x8081) >> 23.
inline void BlendOverAlpha8(uint32_t* d, uint8_t* da, const uint8_t* w, __m128i colour16, __m128i colourPixel,
                            __m128i intensity) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w)), zero);
    const __m128i da16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(da)), zero);
    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a16);
    const __m128i daZero = _mm_cmpeq_epi16(da16, zero), aZero = _mm_cmpeq_epi16(a16, zero);
    __m128i v = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(da16, inv), _mm_mullo_epi16(a16, a16)), 8);
    v = Select16(daZero, a16, v);
    __m128i next = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(v, intensity), _mm_set1_epi16(0x8081)), 7);
    next = Select16(aZero, da16, next);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(da), _mm_packus_epi16(next, next));
    const __m128i rgbMask = _mm_set1_epi32(0x00FFFFFF);
    for (int half = 0; half < 2; ++half) {
        uint32_t* p = d + 4 * half;
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i ah = half ? _mm_unpackhi_epi16(a16, a16) : _mm_unpacklo_epi16(a16, a16);
        const __m128i ih = half ? _mm_unpackhi_epi16(inv, inv) : _mm_unpacklo_epi16(inv, inv);
        const auto blend = [&](__m128i p16, __m128i wa, __m128i wi) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(p16, wi), _mm_mullo_epi16(colour16, wa)), 8);
        };
        const __m128i lo = blend(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi32(ah, ah), _mm_unpacklo_epi32(ih, ih));
        const __m128i hi = blend(_mm_unpackhi_epi8(px, zero), _mm_unpackhi_epi32(ah, ah), _mm_unpackhi_epi32(ih, ih));
        __m128i out = _mm_and_si128(_mm_packus_epi16(lo, hi), rgbMask);
        const __m128i dz = half ? _mm_unpackhi_epi16(daZero, daZero) : _mm_unpacklo_epi16(daZero, daZero);
        const __m128i az = half ? _mm_unpackhi_epi16(aZero, aZero) : _mm_unpacklo_epi16(aZero, aZero);
        out = Select16(dz, colourPixel, out);
        out = Select16(az, px, out);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
    }
}
#endif

template <bool kArgb>
void AlphaDraw32Rows(PixelRows32 dst, const PixelRows32* src, const AlphaDrawParams& p,
                     int32_t width, int32_t height, uint32_t format) {
    const uint32_t colourPixel = kArgb ? p.colour : KernelFromARGB(format, p.colour);
    const auto rgb = [format](uint32_t v) {
        if constexpr (kArgb) return v & 0x00FFFFFFu;
        return KernelToARGB(format, v) & 0x00FFFFFFu;
    };
    const auto back = [format](uint32_t v) {
        if constexpr (kArgb) return v;
        return KernelFromARGB(format, v);
    };
    // A colour through plain weights (text and shapes, the common case) in a
    // loop of its own: the general walk's per-pixel choices cost as much as
    // the blend. Coverage is mostly clear or solid, so runs of weights are
    // skipped or filled when all are 0 or all 255.
    if ((p.mode == 0 || p.mode == 1) && src == nullptr && p.destAlpha.data == nullptr) {
        const uint32_t colourRgb = p.colour & 0x00FFFFFFu;
        const bool set = p.mode == 0;
        const auto one = [&](uint32_t& px, uint32_t a) {
            if (a == 0) return;
            px = set || a == 255 ? colourPixel : back(Blend(rgb(px), colourRgb, a));
        };
        if (kArgb && !set) {
            for (int32_t j = 0; j < height; ++j)
                ColourThroughWeights(At32(dst, 0, j), AlphaRow(p.alpha, j), width, colourPixel);
            return;
        }
        for (int32_t j = 0; j < height; ++j) {
            uint32_t* d = At32(dst, 0, j);
            const uint8_t* w = AlphaRow(p.alpha, j);
            int32_t i = 0;
            for (; i + 8 <= width; i += 8) {
                uint64_t word;
                std::memcpy(&word, w + i, sizeof word);
                if (word == 0) continue;
                if (word == ~uint64_t{0}) {
                    std::fill(d + i, d + i + 8, colourPixel);
                    continue;
                }
                for (int32_t k = 0; k < 8; ++k) one(d[i + k], w[i + k]);
            }
            for (; i < width; ++i) one(d[i], w[i]);
        }
        return;
    }
    // A colour over the image's own alpha (an edge over its shadow): its
    // own loop too, clear runs skipped eight at a time.
    if (p.mode == 2 && src == nullptr && p.destAlpha.data != nullptr) {
        const uint32_t colourRgb = p.colour & 0x00FFFFFFu;
        const uint32_t intensity = p.intensity;
#if defined(__SSE2__)
        const __m128i colour16 =
            _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(colourRgb)), _mm_setzero_si128());
        const __m128i colourVector = _mm_set1_epi32(static_cast<int>(colourPixel));
        const __m128i intensity16 = _mm_set1_epi16(static_cast<int16_t>(std::min<uint32_t>(intensity, 255)));
#endif
        const auto one = [&](uint32_t& px, uint8_t& da, uint32_t a) {
            if (a == 0) return;
            if (da != 0) {
                px = back(Blend(rgb(px), colourRgb, a));
                da = static_cast<uint8_t>(NextDestAlpha(da, a, intensity));
            } else {
                da = static_cast<uint8_t>(a * intensity / 255);
                px = colourPixel;
            }
        };
        for (int32_t j = 0; j < height; ++j) {
            uint32_t* d = At32(dst, 0, j);
            const uint8_t* w = AlphaRow(p.alpha, j);
            uint8_t* da = AlphaRow(p.destAlpha, j);
            int32_t i = 0;
            for (; i + 8 <= width; i += 8) {
                uint64_t word;
                std::memcpy(&word, w + i, sizeof word);
                if (word == 0) continue;
#if defined(__SSE2__)
                if (kArgb && intensity <= 255) {
                    BlendOverAlpha8(d + i, da + i, w + i, colour16, colourVector, intensity16);
                    continue;
                }
#endif
                for (int32_t k = 0; k < 8; ++k) one(d[i + k], da[i + k], w[i + k]);
            }
            for (; i < width; ++i) one(d[i], da[i], w[i]);
        }
        return;
    }
    AlphaDrawRowsFast<uint32_t>(
        dst, src, p, width, height, colourPixel, p.colour & 0x00FFFFFFu,
        [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); }, rgb, back);
}

template <typename Pixel, typename Rows, typename AtFn, typename ToRgb, typename FromRgb>
void AlphaDrawRef(Rows dst, const Rows* src, const AlphaDrawParams& p, int32_t width,
                  int32_t height, Pixel colourPixel, uint32_t colourRgb, AtFn at, ToRgb rgb,
                  FromRgb back) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint32_t a = 0;
            if (p.mode == 3) {
                a = p.coverage.data[static_cast<std::ptrdiff_t>(p.coverage.y + j) * p.coverage.rowLength +
                                    p.coverage.x + i] & 255u;
            } else {
                a = AlphaAt(p.alpha, i, j);
            }
            const bool fromSource = src != nullptr && p.mode != 3;
            const Pixel stored = fromSource ? *at(*src, i, j) : colourPixel;
            const uint32_t c = fromSource ? rgb(*at(*src, i, j)) : colourRgb;
            Pixel& px = *at(dst, i, j);
            uint8_t* da = p.destAlpha.data != nullptr ? &AlphaAt(p.destAlpha, i, j) : nullptr;
            if (a == 0) continue;
            const auto blend = [&](uint32_t weight) { return back(BlendRGB(rgb(px), c, weight)); };
            switch (p.mode) {
                case 1: px = a == 255 ? stored : blend(a); break;
                case 4: px = a == 64 ? stored : blend(a * 4); break;
                case 2:
                case 3:
                    if (da == nullptr) {
                        px = a == 255 ? stored : blend(a);
                    } else if (*da != 0) {
                        px = blend(a);
                        const int32_t d = *da, sa = static_cast<int32_t>(a);
                        const int32_t v = d + (((sa - d) * sa) >> 8);
                        *da = static_cast<uint8_t>(static_cast<uint32_t>(v) * p.intensity / 255);
                    } else {
                        *da = static_cast<uint8_t>(a * p.intensity / 255);
                        px = stored;
                    }
                    break;
                default: px = stored; break;
            }
        }
}

}  // namespace

void ColourThroughWeightsWith(KernelIsa isa, uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb) {
    int32_t i = 0;
#if QB_PIXEL_X86
    isa = UsableIsa(isa);
    if (isa == KernelIsa::Avx2) i = ColourThroughWeightsRowAvx2(d, w, width, argb);
    if (isa >= KernelIsa::Sse2) i += ColourThroughWeightsRowSse2(d + i, w + i, width - i, argb);
#else
    (void)isa;
#endif
    const uint32_t rgb = argb & 0x00FFFFFFu;
    for (; i < width; ++i) {
        const uint32_t a = w[i];
        if (a == 255) d[i] = argb;
        else if (a != 0) d[i] = BlendRGBFast(d[i], rgb, a);
    }
}
void ColourThroughWeightsRef(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb) {
    for (int32_t i = 0; i < width; ++i) {
        if (w[i] == 255) d[i] = argb;
        else if (w[i] != 0) d[i] = BlendRGB(d[i] & 0x00FFFFFFu, argb & 0x00FFFFFFu, w[i]);
    }
}

void AlphaChannelDraw32(PixelRows32 dst, const PixelRows32* src, const AlphaDrawParams& p,
                        int32_t width, int32_t height, uint32_t format) {
    if (width <= 0 || height <= 0) return;
    if (format == 10) AlphaDraw32Rows<true>(dst, src, p, width, height, format);
    else AlphaDraw32Rows<false>(dst, src, p, width, height, format);
}
void AlphaChannelDraw32Ref(PixelRows32 dst, const PixelRows32* src, const AlphaDrawParams& p,
                           int32_t width, int32_t height, uint32_t format) {
    AlphaDrawRef<uint32_t>(
        dst, src, p, width, height, format == 10 ? p.colour : KernelFromARGB(format, p.colour),
        p.colour & 0x00FFFFFFu, [](const PixelRows32& r, int32_t i, int32_t j) { return At32(r, i, j); },
        [format](uint32_t v) { return KernelToARGB(format, v) & 0x00FFFFFFu; },
        [format](uint32_t v) { return KernelFromARGB(format, v); });
}

void AlphaChannelDraw16(PixelRows16 dst, const PixelRows16* src, const AlphaDrawParams& p,
                        int32_t width, int32_t height, Layout16 layout) {
    if (width <= 0 || height <= 0) return;
    const auto colourPixel = static_cast<uint16_t>(p.colour);
    WithLayout16(layout, [&](auto l) {
        AlphaDrawRowsFast<uint16_t>(
            dst, src, p, width, height, colourPixel, Widen16(l, colourPixel),
            [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); },
            [](uint16_t v) { return Widen16(decltype(l)::value, v); },
            [](uint32_t v) { return Narrow16(decltype(l)::value, v); });
    });
}
void AlphaChannelDraw16Ref(PixelRows16 dst, const PixelRows16* src, const AlphaDrawParams& p,
                           int32_t width, int32_t height, Layout16 layout) {
    const auto colourPixel = static_cast<uint16_t>(p.colour);
    AlphaDrawRef<uint16_t>(
        dst, src, p, width, height, colourPixel, Widen16(layout, colourPixel),
        [](const PixelRows16& r, int32_t i, int32_t j) { return At16(r, i, j); },
        [layout](uint16_t v) { return Widen16(layout, v); },
        [layout](uint32_t v) { return Narrow16(layout, v); });
}

// ---- blended pixel and coverage plot -----------------------------------------------

namespace {
inline void BlendAt(const BlendContext& ctx, int32_t x, int32_t y, uint32_t weight) {
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * ctx.rowLength + x;
    if (ctx.bytesPerPixel == 4) {
        uint32_t& px = static_cast<uint32_t*>(ctx.pixels)[at];
        if (weight >= 255) {
            px = ctx.format == 10 ? ctx.colour : KernelFromARGB(ctx.format, ctx.colour);
        } else {
            px = KernelFromARGB(ctx.format, BlendRGB(KernelToARGB(ctx.format, px), ctx.colour, weight));
        }
    } else if (ctx.bytesPerPixel == 2) {
        uint16_t& px = static_cast<uint16_t*>(ctx.pixels)[at];
        const auto colour = static_cast<uint16_t>(ctx.colour);
        px = weight >= 255 ? colour
                           : Narrow16(ctx.layout, BlendRGB(Widen16(ctx.layout, px),
                                                           Widen16(ctx.layout, colour), weight));
    }
}
}  // namespace

void PlotBlendedPixel(const BlendContext& ctx, int32_t x, int32_t y) {
    if (x < ctx.clip.left || x >= ctx.clip.right || y < ctx.clip.top || y >= ctx.clip.bottom) return;
    if (ctx.mask.data != nullptr && !MaskBit(ctx.mask, x, y)) return;
    const uint32_t weight = ctx.coverage * ctx.alpha / 255;
    if (weight == 0) return;
    BlendAt(ctx, x, y, weight);
}

void PlotCoverageMask(const BlendContext& ctx, const uint8_t* coverage, int32_t rowBytes,
                  int32_t x, int32_t y, int32_t width, int32_t height) {
    // Cut the map to the clip rectangle once instead of testing every pixel.
    const int32_t i0 = std::max(0, ctx.clip.left - x), j0 = std::max(0, ctx.clip.top - y);
    const int32_t i1 = std::min(width, ctx.clip.right - x), j1 = std::min(height, ctx.clip.bottom - y);
    if (i0 >= i1 || j0 >= j1) return;
    // The weight depends only on the coverage byte: one division per value.
    uint8_t weight[256];
    for (uint32_t v = 0; v < 256; ++v)
        weight[v] = static_cast<uint8_t>(std::min<uint32_t>(ctx.coverage * (v * ctx.alpha / 255) / 255, 255));
    for (int32_t j = j0; j < j1; ++j) {
        const uint8_t* row = coverage + static_cast<std::ptrdiff_t>(j) * rowBytes;
        const uint8_t* mrow = ctx.mask.data != nullptr ? MaskRowBase(ctx.mask, y + j) : nullptr;
        for (int32_t i = i0; i < i1; ++i) {
            const uint8_t w = weight[row[i]];
            if (w == 0) continue;
            if (mrow != nullptr && !BitIn(mrow, ctx.mask.x + x + i)) continue;
            BlendAt(ctx, x + i, y + j, w);
        }
    }
}
void PlotCoverageMaskRef(const BlendContext& ctx, const uint8_t* coverage, int32_t rowBytes,
                     int32_t x, int32_t y, int32_t width, int32_t height) {
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t c = coverage[static_cast<std::ptrdiff_t>(j) * rowBytes + i];
            if (c == 0) continue;
            BlendContext one = ctx;
            one.alpha = c * ctx.alpha / 255;
            PlotBlendedPixel(one, x + i, y + j);
        }
}

void DrawAntialiasedLine(const BlendContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const int64_t dx = int64_t{x2} - x1, dy = int64_t{y2} - y1;
    const bool steep = (dy < 0 ? -dy : dy) > (dx < 0 ? -dx : dx);
    const int64_t majorLength = steep ? dy : dx;
    const int64_t minorLength = steep ? dx : dy;
    const int64_t steps = majorLength < 0 ? -majorLength : majorLength;
    const int64_t majorStep = majorLength < 0 ? -1 : 1;
    // 16.16 slope of the minor axis per major step; 0 for a single point.
    const int64_t slope = steps == 0 ? 0 : minorLength * 65536 / steps;
    const int64_t major0 = steep ? y1 : x1;
    const int64_t minor0 = steep ? x1 : y1;
    // Only the steps whose major coordinate lies inside the clip: a far end
    // costs no more than what is visible (the steps left out plot nothing).
    const int64_t low = steep ? ctx.clip.top : ctx.clip.left, high = steep ? ctx.clip.bottom : ctx.clip.right;
    const int64_t first = std::max<int64_t>(0, majorStep > 0 ? low - major0 : major0 - (high - 1));
    const int64_t last = std::min<int64_t>(steps, majorStep > 0 ? high - 1 - major0 : major0 - low);
    BlendContext one = ctx;
    for (int64_t k = first; k <= last; ++k) {
        const int64_t major = major0 + k * majorStep;
        const int64_t pos = minor0 * 65536 + k * slope;
        const int64_t near = pos >> 16;  // floor, also for negative positions
        const auto fraction = static_cast<uint32_t>((pos >> 8) & 255);
        const auto plot = [&](int64_t minor, uint32_t coverage) {
            if (coverage == 0) return;
            one.coverage = coverage;
            if (steep) PlotBlendedPixel(one, static_cast<int32_t>(minor), static_cast<int32_t>(major));
            else PlotBlendedPixel(one, static_cast<int32_t>(major), static_cast<int32_t>(minor));
        };
        plot(near, 255 - fraction);
        plot(near + 1, fraction);
    }
}
