// The pixel transfers: the blend against the destination's alpha over every
// pair of weights, its 16-bit twin, the masked copy, the converter's modes,
// and the two export kernels under the names the frame code uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/pixeltransfer.h"
#include "imaging/planekernels.h"

namespace {

// The blend rule as written, on 0x00RRGGBB.
uint32_t Rule(uint32_t s, uint32_t d, uint32_t a, uint32_t da) {
    if (a == 255) return s;
    if (a == 0) return d;
    const uint32_t o = std::min<uint32_t>((da * (255 - a) + a * 255 + 127) / 255, 255);
    const uint32_t w = (da * (255 - a) + 127) / 255;
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const uint32_t c = std::min<uint32_t>((((s >> shift) & 255) * a + ((d >> shift) & 255) * w + 127) / o, 255);
        out |= c << shift;
    }
    return out;
}

// A single-row request over whole buffers.
template <typename Pixel>
qbPixelTransferRequest Row(const std::vector<Pixel>& src, std::vector<Pixel>& dst, const std::vector<uint8_t>& mask,
                           const std::vector<uint8_t>& destAlpha, int format) {
    qbPixelTransferRequest r;
    r.source = src.data();
    r.srcPitch = static_cast<int32_t>(src.size());
    r.destination = dst.data();
    r.dstPitch = static_cast<int32_t>(dst.size());
    r.width = static_cast<int32_t>(dst.size());
    r.height = 1;
    r.mask = mask.data();
    r.maskPitch = static_cast<int32_t>(mask.size());
    r.destAlpha = destAlpha.data();
    r.destAlphaPitch = static_cast<int32_t>(destAlpha.size());
    r.format = format;
    return r;
}

}  // namespace

TEST(PixelTransfer, BlendEdges) {
    std::vector<uint32_t> src = {0x00102030u, 0x00F0F0F0u, 0x00123456u, 0x00ABCDEFu};
    std::vector<uint32_t> dst = {0x00FFFFFFu, 0x00000000u, 0x00654321u, 0x00777777u};
    std::vector<uint8_t> mask = {1, 1, 255, 0};
    std::vector<uint8_t> destAlpha = {0, 0, 40, 200};
    const std::vector<uint8_t> alphaBefore = destAlpha;
    BlendAlpha32(Row(src, dst, mask, destAlpha, kFormatARGB));
    EXPECT_EQ(dst[0], 0x008F9FAFu);  // o = 1: source + 127
    EXPECT_EQ(dst[1], 0x00FFFFFFu);  // limited to 255
    EXPECT_EQ(dst[2], 0x00123456u);
    EXPECT_EQ(dst[3], 0x00777777u);
    EXPECT_EQ(destAlpha, alphaBefore);
}

// Every (a, da) with random colours, in every 32-bit format, against the
// rule, through the plain rows, the AVX2 ones and the AVX-512 ones.
// The largest numerators meet the smallest weights here: for every (a, da),
// every channel value against itself, its complement and full white, so the
// reciprocal's rounding is tried where it has the least room.
TEST(PixelTransfer, BlendEveryChannelValueAtEveryWeight) {
    std::vector<uint32_t> src(256), dst(256), want(256);
    std::vector<uint8_t> mask(256), destAlpha(256);
    for (const int rows : {1, 2})
        for (uint32_t da = 0; da < 256; ++da)
            for (uint32_t a = 1; a < 255; ++a) {
                for (uint32_t x = 0; x < 256; ++x) {
                    src[x] = ((255 - x) << 16) | (x << 8) | x;
                    dst[x] = (255u << 16) | ((255 - x) << 8) | x;
                    want[x] = Rule(src[x], dst[x], a, da);
                }
                std::fill(mask.begin(), mask.end(), static_cast<uint8_t>(a));
                std::fill(destAlpha.begin(), destAlpha.end(), static_cast<uint8_t>(da));
                BlendAlpha32With(KernelIsa::Avx2, Row(src, dst, mask, destAlpha, kFormatARGB), rows == 2);
                ASSERT_EQ(dst, want) << "a " << a << " da " << da << " rows " << rows;
            }
}

TEST(PixelTransfer, BlendEveryWeightPair) {
    std::mt19937 rng(3);
    std::vector<uint32_t> src(256), dst(256), want(256);
    std::vector<uint8_t> mask(256), destAlpha(256);
    for (const int rows : {0, 1, 2}) {
        const KernelIsa isa = rows == 0 ? KernelIsa::Portable : KernelIsa::Avx2;
        for (int format = kFormatARGB; format <= kFormatABGR; ++format) {
            for (uint32_t da = 0; da < 256; ++da) {
                for (uint32_t a = 0; a < 256; ++a) {
                    const uint32_t s = rng() & 0xFFFFFFu, d = rng() & 0xFFFFFFu;
                    src[a] = ARGBToPixel32(format, s);
                    dst[a] = ARGBToPixel32(format, d);
                    want[a] = a == 255 ? src[a] : a == 0 ? dst[a] : ARGBToPixel32(format, Rule(s, d, a, da));
                    mask[a] = static_cast<uint8_t>(a);
                    destAlpha[a] = static_cast<uint8_t>(da);
                }
                BlendAlpha32With(isa, Row(src, dst, mask, destAlpha, format), rows == 2);
                ASSERT_EQ(dst, want) << "format " << format << " da " << da << " rows " << rows;
            }
        }
    }
}

// Sprite-like weights (runs of 0 and 255 with edges between) on rows of odd
// widths and offsets, against the reference that divides per channel.
TEST(PixelTransfer, BlendMatchesReferenceOnSpriteWeights) {
    std::mt19937 rng(8);
    constexpr int32_t kW = 83, kH = 5;
    for (int format = kFormatARGB; format <= kFormatABGR; ++format)
        for (int32_t width = 1; width <= 70; ++width) {
            std::vector<uint32_t> src(kW * kH), dst(kW * kH);
            std::vector<uint8_t> mask(kW * kH), destAlpha(kW * kH);
            for (auto& p : src) p = rng();
            for (auto& p : dst) p = rng();
            for (auto* plane : {&mask, &destAlpha})
                for (size_t i = 0; i < plane->size(); ++i) {
                    const uint32_t k = (i / 8 + rng() % 2) % 4;
                    (*plane)[i] = k == 0 ? 0 : k == 1 ? 255 : static_cast<uint8_t>(rng());
                }
            std::vector<uint32_t> ref = dst;
            qbPixelTransferRequest r;
            r.source = src.data(), r.srcX = 3, r.srcY = 1, r.srcPitch = kW;
            r.destination = dst.data(), r.dstX = 5, r.dstY = 2, r.dstPitch = kW;
            r.width = width, r.height = 3;
            r.mask = mask.data(), r.maskX = 1, r.maskY = 0, r.maskPitch = kW;
            r.destAlpha = destAlpha.data(), r.destAlphaPitch = kW;
            r.format = format;
            BlendAlpha32(r);
            r.destination = ref.data();
            BlendAlpha32Ref(r);
            ASSERT_EQ(dst, ref) << "format " << format << " width " << width;
        }
}

TEST(PixelTransfer, Blend16OnRgb565Channels) {
    std::mt19937 rng(4);
    std::vector<uint16_t> src(256), dst(256), want(256);
    std::vector<uint8_t> mask(256), destAlpha(256);
    auto expand = [](uint32_t p) { return ((p & 0xF800u) << 8) | ((p & 0x7E0u) << 5) | ((p & 0x1Fu) * 8); };
    auto narrow = [](uint32_t c) {
        return static_cast<uint16_t>((((c >> 16) & 0xF8u) << 8) | (((c >> 8) & 0xFCu) << 3) | ((c & 0xF8u) >> 3));
    };
    for (uint32_t da = 0; da < 256; da += 5) {
        for (uint32_t a = 0; a < 256; ++a) {
            src[a] = static_cast<uint16_t>(rng());
            dst[a] = static_cast<uint16_t>(rng());
            want[a] = a == 255 ? src[a] : a == 0 ? dst[a] : narrow(Rule(expand(src[a]), expand(dst[a]), a, da));
            mask[a] = static_cast<uint8_t>(a);
            destAlpha[a] = static_cast<uint8_t>(da);
        }
        BlendAlpha16(Row(src, dst, mask, destAlpha, kFormatRGB565));
        ASSERT_EQ(dst, want) << "da " << da;
    }
    // Other 16-bit formats go through RGB565 and back, as the reference does.
    for (int format = 0; format <= 7; ++format) {
        for (uint32_t a = 0; a < 256; ++a) {
            src[a] = static_cast<uint16_t>(rng());
            dst[a] = static_cast<uint16_t>(rng());
            mask[a] = static_cast<uint8_t>(a);
            destAlpha[a] = static_cast<uint8_t>(rng());
        }
        std::vector<uint16_t> viaRef(dst.begin(), dst.end());
        BlendAlpha16(Row(src, dst, mask, destAlpha, format));
        BlendAlpha16Ref(Row(src, viaRef, mask, destAlpha, format));
        ASSERT_EQ(dst, viaRef) << "format " << format;
    }
}

TEST(PixelTransfer, MaskedCopyAndConverterModes) {
    const std::vector<uint32_t> src = {1, 2, 3, 4, 5, 6};
    std::vector<uint32_t> dst(6, 9);
    // The mask sits at the source position: source x 2 reads mask bytes 2..5.
    const std::vector<uint8_t> mask = {255, 255, 0, 7, 0, 1};
    const std::vector<uint8_t> destAlpha(6, 0);
    qbPixelTransferRequest r = Row(src, dst, mask, destAlpha, kFormatARGB);
    r.srcX = 2;
    r.width = 4;
    r.maskX = 0;  // replaced by the source position
    EXPECT_TRUE(RunPixelConverter(r, 4, kConvertMasked));
    EXPECT_EQ(dst, (std::vector<uint32_t>{9, 4, 9, 6, 9, 9}));
    EXPECT_TRUE(RunPixelConverter(r, 4, kConvertCopy));
    EXPECT_EQ(dst, (std::vector<uint32_t>{3, 4, 5, 6, 9, 9}));
    EXPECT_FALSE(RunPixelConverter(r, 3, kConvertCopy));
    EXPECT_FALSE(RunPixelConverter(r, 4, 3));
    EXPECT_EQ(dst, (std::vector<uint32_t>{3, 4, 5, 6, 9, 9}));

    const std::vector<uint16_t> src16 = {10, 20, 30};
    std::vector<uint16_t> dst16(3, 0);
    const std::vector<uint8_t> mask16 = {0, 1, 255};
    CopyMasked16(Row(src16, dst16, mask16, destAlpha, kFormatRGB565));
    EXPECT_EQ(dst16, (std::vector<uint16_t>{0, 20, 30}));
}

TEST(PixelTransfer, ExportNames) {
    const uint32_t px[2] = {0x80FF0000u, 0x01000000u};
    uint8_t plane[2] = {0, 0};
    ExtractAlphaPlane(px, 2, 1, 2, plane, 2);
    EXPECT_EQ(plane[0], 0x80);
    EXPECT_EQ(plane[1], 0x01);

    const uint16_t white = 0xFFFF;
    uint32_t out = 0xDEADBEEFu;
    ReadPixelsAsARGB(&white, &out, 0, 0, 1, 1, 1, 2, kFormatRGB565);
    EXPECT_EQ(out, 0x00F8FCF8u);
    out = 0xDEADBEEFu;
    ReadPixelsAsARGB(&white, &out, 0, 0, 1, 1, 1, 3, kFormatRGB24);
    EXPECT_EQ(out, 0xDEADBEEFu);
    const uint32_t rgba = 0x11223300u;
    ReadPixelsAsARGB(&rgba, &out, 0, 0, 1, 1, 1, 4, kFormatRGBA);
    EXPECT_EQ(out, 0x00112233u);
}

// A rectangle blended through its alpha plane lands at its own place from
// its own: taller than wide, source and destination corners apart on each
// axis, through the converter (a destination alpha plane, here shorter than
// the destination, which cuts the rows) and through the plain copy (none).
TEST(PixelTransfer, ARectangleOverAnAlphaPlaneKeepsEachAxisOfItsCornersAndSize) {
    constexpr int32_t kSw = 7, kSh = 12, kDw = 20, kDh = 24;
    constexpr int32_t sx = 2, sy = 3, dx = 5, dy = 4, w = 4, h = 7;
    constexpr uint32_t kOld = 0x102030;
    const auto colour = [](int32_t x, int32_t y) {
        return uint32_t(x * 20 + 10) << 16 | uint32_t(y * 15 + 5) << 8 | 0x33;
    };
    for (const bool withOpacity : {false, true}) {
        SCOPED_TRACE(withOpacity ? "converter" : "plain copy");
        // The plain copy has a blend rule of its own: only whole weights there.
        const auto weight = [&](int32_t x, int32_t y) -> uint32_t {
            const int32_t k = (x + 2 * y) % 4;
            return k == 0 ? 0 : k == 1 || !withOpacity ? 255 : k == 2 ? 100 : 200;
        };
        const auto opacityAt = [](int32_t x, int32_t y) { return uint32_t(x * 7 + y * 13) & 255; };
        BitmapPtr source(AllocBitmap(kSw, kSh, 0, nullptr)), destination(AllocBitmap(kDw, kDh, 0, nullptr));
        BitmapPtr alpha(AllocAlphaChannel(kSw, kSh, true, nullptr, 0));
        const int32_t opacityRows = dy + h - 2;
        BitmapPtr opacity(withOpacity ? AllocAlphaChannel(kDw, opacityRows, true, nullptr, 0) : nullptr);
        ASSERT_TRUE(source && destination && alpha && (opacity || !withOpacity));
        FillBitmapRect(destination.get(), 0, 0, kDw, kDh, kOld);
        for (int32_t y = 0; y < kSh; ++y)
            for (int32_t x = 0; x < kSw; ++x) {
                WriteBitmapPixel(source.get(), x, y, colour(x, y), false);
                FillAlphaRect(alpha.get(), x, y, 1, 1, static_cast<uint8_t>(weight(x, y)));
            }
        if (opacity)
            for (int32_t y = 0; y < opacityRows; ++y)
                for (int32_t x = 0; x < kDw; ++x) FillAlphaRect(opacity.get(), x, y, 1, 1, uint8_t(opacityAt(x, y)));
        BlendBitmapRectOverAlpha(source.get(), sx, sy, alpha.get(), destination.get(), dx, dy, opacity.get(), w, h);
        const int32_t rows = withOpacity ? opacityRows - dy : h;
        for (int32_t y = 0; y < kDh; ++y)
            for (int32_t x = 0; x < kDw; ++x) {
                const int32_t i = x - dx, j = y - dy;
                uint32_t want = kOld;
                if (i >= 0 && i < w && j >= 0 && j < rows)
                    want = Rule(colour(sx + i, sy + j), kOld, weight(sx + i, sy + j),
                                withOpacity ? opacityAt(x, y) : 255);
                ASSERT_EQ(ReadBitmapPixel(destination.get(), x, y, false) & 0xFFFFFFu, want) << x << "," << y;
            }
    }
}

// Copy and masked copy of one rectangle at distinct offsets, in both pixel
// sizes, against the rule worked out pixel by pixel.
TEST(PixelTransfer, ConverterCopiesARectangleInBothPixelSizes) {
    constexpr int32_t kSrcW = 7, kSrcH = 5, kDstW = 9, kDstH = 6;
    std::mt19937 rng(11);
    std::vector<uint32_t> src(kSrcW * kSrcH);
    for (uint32_t& p : src) p = rng() & 0xFFFF;
    std::vector<uint8_t> mask(kSrcW * kSrcH);
    for (uint8_t& m : mask) m = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    const std::vector<uint8_t> destAlpha(kDstW * kDstH, 0);
    for (int mode : {kConvertCopy, kConvertMasked}) {
        std::vector<uint32_t> want(kDstW * kDstH, 0x5A5A);
        const int32_t sx = 1, sy = 2, dx = 3, dy = 1, w = 4, h = 3;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int32_t s = (sy + y) * kSrcW + sx + x;
                if (mode == kConvertCopy || mask[s] != 0) want[(dy + y) * kDstW + dx + x] = src[s];
            }
        auto run = [&](const void* from, void* to, int32_t bytes) {
            qbPixelTransferRequest r;
            r.source = from;
            r.srcX = sx, r.srcY = sy, r.srcPitch = kSrcW;
            r.destination = to;
            r.dstX = dx, r.dstY = dy, r.dstPitch = kDstW;
            r.width = w, r.height = h;
            r.mask = mask.data(), r.maskPitch = kSrcW;
            r.destAlpha = destAlpha.data(), r.destAlphaPitch = kDstW;
            r.format = bytes == 4 ? kFormatARGB : kFormatRGB565;
            return RunPixelConverter(r, bytes, mode);
        };
        std::vector<uint32_t> dst32(kDstW * kDstH, 0x5A5A);
        ASSERT_TRUE(run(src.data(), dst32.data(), 4));
        EXPECT_EQ(dst32, want) << "mode " << mode;
        const std::vector<uint16_t> src16(src.begin(), src.end());
        std::vector<uint16_t> dst16(kDstW * kDstH, 0x5A5A);
        ASSERT_TRUE(run(src16.data(), dst16.data(), 2));
        EXPECT_EQ(std::vector<uint32_t>(dst16.begin(), dst16.end()), want) << "mode " << mode;
    }
}
