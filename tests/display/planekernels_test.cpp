// Plane kernels: fixed edge cases, and each production kernel against its
// scalar reference on random rectangles of every width 1..67 at odd offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/planekernels.h"
#include "kernel_cases.h"

namespace {

constexpr int32_t kW = kBufW;
constexpr int32_t kH = kBufH;
constexpr int32_t kMaskBytes = kW / 8;

constexpr uint32_t kFormats32[] = {10, 11, 12, 13};
constexpr Layout16 kLayouts[] = {Layout16::RGB565, Layout16::RGB555};

}  // namespace

// ---- edge cases -----------------------------------------------------------------

TEST(PlaneKernelEdges, ImportRearrangesAllFourBytes) {
    EXPECT_EQ(ImportPixel32(10, 0xAABBCCDDu), 0xAABBCCDDu);
    EXPECT_EQ(ImportPixel32(11, 0xAABBCCDDu), 0xDDCCBBAAu);
    EXPECT_EQ(ImportPixel32(12, 0xAABBCCDDu), 0xBBCCDDAAu);
    EXPECT_EQ(ImportPixel32(13, 0xAABBCCDDu), 0xAADDCCBBu);
    for (uint32_t f : kFormats32)
        EXPECT_EQ(Pixel32ToARGB(static_cast<int>(f), ImportPixel32(f, 0x80123456u)) & 0x00FFFFFFu, 0x00123456u) << f;
}

TEST(PlaneKernelEdges, Import16GoesThroughRgb565) {
    const std::vector<uint32_t> src = {0xFFFF0000u, 0x0000FF00u, 0x000000FFu, 0x00FFFFFFu};
    std::vector<uint16_t> out(4);
    ImportARGB16({out.data(), 4, 0, 0}, {src.data(), 4, 0, 0}, 4, 1, kFormatRGB565);
    EXPECT_EQ(out, (std::vector<uint16_t>{0xF800, 0x07E0, 0x001F, 0xFFFF}));
    ImportARGB16({out.data(), 4, 0, 0}, {src.data(), 4, 0, 0}, 4, 1, kFormatRGB555);
    EXPECT_EQ(out, (std::vector<uint16_t>{0x7C00, 0x03E0, 0x001F, 0x7FFF}));
}

TEST(PlaneKernelEdges, AlphaFromArgbTakesTheTopByte) {
    const std::vector<uint32_t> src = {0x00FFFFFFu, 0x80000000u, 0xFF123456u};
    std::vector<uint8_t> a(3, 7);
    AlphaFromARGB({a.data(), 3, 0, 0}, {src.data(), 3, 0, 0}, 3, 1);
    EXPECT_EQ(a, (std::vector<uint8_t>{0x00, 0x80, 0xFF}));
}

TEST(PlaneKernelEdges, CombineAlphaModes) {
    auto one = [](int32_t mode, uint8_t s, uint8_t d, uint32_t value = 0) {
        CombineAlpha({&d, 1, 0, 0}, {&s, 1, 0, 0}, 1, 1, mode, value);
        return d;
    };
    EXPECT_EQ(one(9, 128, 0), 128);
    EXPECT_EQ(one(9, 0, 77), 77);
    EXPECT_EQ(one(9, 255, 3), 255);
    EXPECT_EQ(one(4, 255, 9, 128), 128);
    EXPECT_EQ(one(0, 0, 50), 0);
    EXPECT_EQ(one(1, 0, 50), 50);
    EXPECT_EQ(one(2, 55, 50), 200);
    EXPECT_EQ(one(3, 1, 50), 255);
    EXPECT_EQ(one(5, 55, 0), 0);
    EXPECT_EQ(one(5, 55, 1), 200);
    EXPECT_EQ(one(6, 1, 50, 99), 99);
    EXPECT_EQ(one(7, 40, 0), 0);
    EXPECT_EQ(one(7, 0, 40), 0);
    EXPECT_EQ(one(7, 40, 41), 40);
    EXPECT_EQ(one(8, 254, 3), 3);
    EXPECT_EQ(one(42, 254, 3), 3);
}

TEST(PlaneKernelEdges, AlphaToMaskModes) {
    const std::vector<uint8_t> a = {255, 254, 255, 0};
    auto run = [&](int32_t mode, uint8_t start) {
        uint8_t m = start;
        AlphaToMask({&m, 1, 0, 0}, {const_cast<uint8_t*>(a.data()), 4, 0, 0}, 4, 1, mode);
        return m;
    };
    EXPECT_EQ(run(0, 0x0F), 0xA0 | 0x0F);
    EXPECT_EQ(run(2, 0xFF), 0xAF);
    EXPECT_EQ(run(1, 0x00), 0x5F & 0xF0);
    EXPECT_EQ(run(3, 0xC0), 0x60);
    EXPECT_EQ(run(5, 0x40), 0xE0);
    EXPECT_EQ(run(4, 0x12), 0x12);
}

TEST(PlaneKernelEdges, ClipCombinationWithoutSourceIsTheClip) {
    uint8_t clip = 0xA5, out = 0;
    ClipCombineMask({&out, 1, 0, 0}, {}, {&clip, 1, 0, 0}, 8, 1);
    EXPECT_EQ(out, 0xA5);
    uint8_t src = 0x0F;
    ClipCombineMask({&out, 1, 0, 0}, {&src, 1, 0, 0}, {&clip, 1, 0, 0}, 8, 1);
    EXPECT_EQ(out, 0x05);
    std::vector<uint8_t> alpha = {9, 8, 7, 6, 5, 4, 3, 2}, res(8, 99);
    ClipCombineAlpha({res.data(), 8, 0, 0}, {alpha.data(), 8, 0, 0}, {&clip, 1, 0, 0}, 8, 1);
    EXPECT_EQ(res, (std::vector<uint8_t>{9, 0, 7, 0, 0, 4, 0, 2}));
}

TEST(PlaneKernelEdges, AlphaChannelModes) {
    auto draw = [](int32_t mode, uint8_t a, uint32_t pixel, uint8_t* da = nullptr,
                   uint32_t intensity = 255) {
        AlphaDrawParams p;
        p.mode = mode;
        p.colour = 0x00FFFFFFu;
        p.intensity = intensity;
        p.alpha = {&a, 1, 0, 0};
        if (da != nullptr) p.destAlpha = {da, 1, 0, 0};
        AlphaChannelDraw32({&pixel, 1, 0, 0}, nullptr, p, 1, 1, 10);
        return pixel;
    };
    EXPECT_EQ(draw(1, 0, 0x12345678u), 0x12345678u);
    EXPECT_EQ(draw(1, 255, 0), 0x00FFFFFFu);
    EXPECT_EQ(draw(1, 128, 0), 0x007F7F7Fu);
    EXPECT_EQ(draw(4, 64, 0), 0x00FFFFFFu);
    EXPECT_EQ(draw(4, 32, 0), 0x007F7F7Fu);
    EXPECT_EQ(draw(0, 1, 0), 0x00FFFFFFu);
    uint8_t d = 0;
    EXPECT_EQ(draw(2, 200, 0, &d, 128), 0x00FFFFFFu);
    EXPECT_EQ(d, 200 * 128 / 255);
    d = 100;
    EXPECT_EQ(draw(2, 255, 0, &d, 255), 0x00FEFEFEu);
    EXPECT_EQ(d, (100 + ((155 * 255) >> 8)));
    d = 200;
    draw(2, 100, 0, &d, 255);
    EXPECT_EQ(d, 200 + ((-100 * 100) >> 8));
}

TEST(PlaneKernelEdges, BlendedPixelHonoursClipMaskAndWeight) {
    std::vector<uint32_t> px(4, 0);
    uint8_t mask = 0xB0;  // pixels 0, 2, 3
    BlendContext ctx;
    ctx.pixels = px.data();
    ctx.rowLength = 4;
    ctx.clip = {0, 0, 3, 1};
    ctx.mask = {&mask, 1, 0, 0};
    ctx.colour = 0x00FFFFFFu;
    for (int32_t x = 0; x < 4; ++x) PlotBlendedPixel(ctx, x, 0);
    EXPECT_EQ(px, (std::vector<uint32_t>{0x00FFFFFFu, 0, 0x00FFFFFFu, 0}));
    ctx.alpha = 128;
    ctx.mask = {};
    PlotBlendedPixel(ctx, 1, 0);
    EXPECT_EQ(px[1], 0x007F7F7Fu);
    ctx.coverage = 1;
    PlotBlendedPixel(ctx, 1, 0);  // weight 0
    EXPECT_EQ(px[1], 0x007F7F7Fu);
    PlotBlendedPixel(ctx, -1, 0);
    PlotBlendedPixel(ctx, 0, 1);
}

TEST(PlaneKernelEdges, AntialiasedLineWeightsTheStraddlingPixels) {
    constexpr int32_t kSize = 8;
    std::vector<uint32_t> px(kSize * kSize, 0);
    BlendContext ctx;
    ctx.pixels = px.data();
    ctx.rowLength = kSize;
    ctx.clip = {0, 0, kSize, kSize};
    ctx.colour = 0x00FFFFFFu;
    ctx.coverage = 0;  // ignored by the line
    // Horizontal and diagonal lines hit pixel centres: full colour only there.
    DrawAntialiasedLine(ctx, 1, 2, 6, 2);
    DrawAntialiasedLine(ctx, 7, 7, 3, 3);
    for (int32_t y = 0; y < kSize; ++y)
        for (int32_t x = 0; x < kSize; ++x) {
            const bool on = (y == 2 && x >= 1 && x <= 6) || (x == y && x >= 3);
            EXPECT_EQ(px[y * kSize + x], on ? 0x00FFFFFFu : 0u) << x << "," << y;
        }
    // Half a pixel per step: every other step splits 128 / 127.
    std::fill(px.begin(), px.end(), 0u);
    DrawAntialiasedLine(ctx, 0, 0, 2, 1);
    EXPECT_EQ(px[0], 0x00FFFFFFu);
    EXPECT_EQ(px[1], 0x007E7E7Eu);          // complement 127: 255 x 127 >> 8
    EXPECT_EQ(px[kSize + 1], 0x007F7F7Fu);  // fraction 128: 255 x 128 >> 8
    EXPECT_EQ(px[kSize + 2], 0x00FFFFFFu);
    // Clipped ends draw nothing outside and do not fault.
    DrawAntialiasedLine(ctx, -20, -3, 30, 40);
}

// ---- production against reference --------------------------------------------------

// A rectangle as wide as its rows is imported as one block; the rows around
// it stay as they were.
TEST(PlaneKernelTwins, ImportOfWholeBlocks) {
    std::mt19937 rng(9);
    for (int32_t w = 1; w <= 67; w += 3)
        for (uint32_t f : kFormats32) {
            const int32_t h = 1 + static_cast<int32_t>(rng() % 5);
            const auto src = RandomPixels<uint32_t>(rng, static_cast<size_t>(w) * (h + 2));
            auto a = RandomPixels<uint32_t>(rng, static_cast<size_t>(w) * (h + 2)), b = a;
            ImportARGB32({a.data(), w, 0, 1}, {src.data(), w, 0, 1}, w, h, f);
            ImportARGB32Ref({b.data(), w, 0, 1}, {src.data(), w, 0, 1}, w, h, f);
            ASSERT_EQ(a, b) << f << " w" << w;
        }
}

TEST(PlaneKernelTwins, ImportAndAlphaFromArgb) {
    std::mt19937 rng(1);
    const auto src = RandomPixels<uint32_t>(rng, kW * kH);
    for (const KernelRect& c : Cases(rng, true)) {
        const ArgbRows s{src.data(), kW, c.sx, c.sy};
        for (uint32_t f : kFormats32)
            ASSERT_TRUE(SameAsReference(rng, ImportARGB32, ImportARGB32Ref, c.dx, c.dy, s, c.w, c.h, f))
                << f << " w" << c.w;
        for (int f = 0; f <= 7; ++f)
            ASSERT_TRUE(SameAsReference(rng, ImportARGB16, ImportARGB16Ref, c.dx, c.dy, s, c.w, c.h, f))
                << f << " w" << c.w;
        ASSERT_TRUE(SameAsReference(rng, AlphaFromARGB, AlphaFromARGBRef, c.dx, c.dy, s, c.w, c.h)) << c.w;
    }
}

TEST(PlaneKernelTwins, ExportToArgb) {
    std::mt19937 rng(7);
    const auto src32 = RandomPixels<uint32_t>(rng, kW * kH);
    const auto src16 = RandomPixels<uint16_t>(rng, kW * kH);
    for (const KernelRect& c : Cases(rng, true)) {
        for (uint32_t f : kFormats32) {
            auto a = RandomPixels<uint32_t>(rng, kW * kH), b = a;
            const PixelRows32 s{const_cast<uint32_t*>(src32.data()), kW, c.sx, c.sy};
            ExportARGB32(a.data() + c.dy * kW + c.dx, kW, s, c.w, c.h, f);
            ExportARGB32Ref(b.data() + c.dy * kW + c.dx, kW, s, c.w, c.h, f);
            ASSERT_EQ(a, b) << f << " w" << c.w;
        }
        for (int f = 0; f <= 7; ++f) {
            auto a = RandomPixels<uint32_t>(rng, kW * kH), b = a;
            const PixelRows16 s{const_cast<uint16_t*>(src16.data()), kW, c.sx, c.sy};
            ExportARGB16(a.data() + c.dy * kW + c.dx, kW, s, c.w, c.h, f);
            ExportARGB16Ref(b.data() + c.dy * kW + c.dx, kW, s, c.w, c.h, f);
            ASSERT_EQ(a, b) << f << " w" << c.w;
        }
    }
}

TEST(PlaneKernelEdges, ExportUndoesImportUpToAlpha) {
    for (uint32_t f : kFormats32) {
        uint32_t px = ImportPixel32(f, 0xAA123456u), out = 0;
        ExportARGB32(&out, 1, {&px, 1, 0, 0}, 1, 1, f);
        EXPECT_EQ(out, 0x00123456u) << f;
    }
    uint16_t white = 0xFFFF;
    uint32_t out = 0;
    ExportARGB16(&out, 1, {&white, 1, 0, 0}, 1, 1, kFormatRGB565);
    EXPECT_EQ(out, 0x00F8FCF8u);
}

TEST(PlaneKernelTwins, PlaneFillsAndConversions) {
    std::mt19937 rng(2);
    for (const KernelRect& c : Cases(rng, true)) {
        auto mask = RandomBytes(rng, kMaskBytes * kH);
        const MaskRows m{mask.data(), kMaskBytes, c.mx, c.my};
        const auto value = static_cast<uint8_t>(rng());
        ASSERT_TRUE(SameAsReference(rng, FillAlphaPlane, FillAlphaPlaneRef, c.dx, c.dy, c.w, c.h, value)) << c.w;
        ASSERT_TRUE(SameAsReference(rng, StampMaskIntoAlpha, StampMaskIntoAlphaRef, c.dx, c.dy, m, c.w, c.h, value))
            << c.w;
        ASSERT_TRUE(SameAsReference(rng, MaskToAlpha, MaskToAlphaRef, c.dx, c.dy, m, c.w, c.h, value)) << c.w;
        const auto src = RandomBytes(rng, kW * kH);
        const AlphaRows s{const_cast<uint8_t*>(src.data()), kW, c.sx, c.sy};
        for (int32_t mode = -1; mode <= 6; ++mode)
            ASSERT_TRUE(SameAsReference(rng, AlphaToMask, AlphaToMaskRef, c.mx, c.my, s, c.w, c.h, mode))
                << mode << " w" << c.w;
        for (uint32_t level : {0u, 1u, 128u, 255u})
            ASSERT_TRUE(SameAsReference(rng, MultiplyAlpha, MultiplyAlphaRef, c.dx, c.dy, s, c.w, c.h, level)) << c.w;
    }
}

TEST(PlaneKernelTwins, CombineAlphaEveryMode) {
    std::mt19937 rng(3);
    for (const KernelRect& c : Cases(rng, true)) {
        auto src = RandomBytes(rng, kW * kH);
        for (size_t k = 0; k < src.size(); k += 3) src[k] = 0;  // clear weights leave the target alone
        const AlphaRows s{const_cast<uint8_t*>(src.data()), kW, c.sx, c.sy};
        // Values past a byte take the portable road of the scaling mode.
        for (int32_t mode = -1; mode <= 10; ++mode)
            for (uint32_t value : {uint32_t(rng() % 256), 256 + uint32_t(rng() % 4096)})
                ASSERT_TRUE(SameAsReference(rng, CombineAlpha, CombineAlphaRef, c.dx, c.dy, s, c.w, c.h, mode, value))
                    << mode << " value " << value << " w" << c.w;
    }
}

TEST(PlaneKernelTwins, ClipCombination) {
    std::mt19937 rng(4);
    for (const KernelRect& c : Cases(rng, true)) {
        const auto clip = RandomBytes(rng, kMaskBytes * kH), srcMask = RandomBytes(rng, kMaskBytes * kH);
        const MaskRows cl{const_cast<uint8_t*>(clip.data()), kMaskBytes, c.mx, c.my};
        for (bool withSource : {false, true}) {
            const MaskRows sm = withSource
                ? MaskRows{const_cast<uint8_t*>(srcMask.data()), kMaskBytes, c.sx, c.sy}
                : MaskRows{};
            ASSERT_TRUE(SameAsReference(rng, ClipCombineMask, ClipCombineMaskRef, c.dx, c.dy, sm, cl, c.w, c.h))
                << withSource << " w" << c.w;
        }
        const auto src = RandomBytes(rng, kW * kH);
        const AlphaRows s{const_cast<uint8_t*>(src.data()), kW, c.sx, c.sy};
        ASSERT_TRUE(SameAsReference(rng, ClipCombineAlpha, ClipCombineAlphaRef, c.dx, c.dy, s, cl, c.w, c.h)) << c.w;
    }
}

// A colour through a row of weights, in every instruction set: rows up to
// several 32-weight steps long, with clear and solid runs that start and
// end anywhere, so whole, partial and mixed steps all occur.
TEST(PlaneKernelTwins, ColourThroughWeightRows) {
    std::mt19937 rng(33);
    for (int32_t width = 1; width <= 200; ++width) {
        auto weights = RandomBytes(rng, static_cast<size_t>(width));
        for (int32_t run = 0; run < 3; ++run) {
            const auto at = static_cast<int32_t>(rng() % width), length = static_cast<int32_t>(rng() % 80);
            std::fill(weights.begin() + at, weights.begin() + std::min(width, at + length), run == 1 ? 0 : 255);
        }
        const auto pixels = RandomPixels<uint32_t>(rng, static_cast<size_t>(width));
        const auto colour = static_cast<uint32_t>(rng());
        auto want = pixels;
        ColourThroughWeightsRef(want.data(), weights.data(), width, colour);
        for (KernelIsa isa : Isas()) {
            auto got = pixels;
            ColourThroughWeightsWith(isa, got.data(), weights.data(), width, colour);
            ASSERT_EQ(got, want) << width << " isa " << static_cast<int>(isa);
        }
    }
}

TEST(PlaneKernelTwins, AlphaChannelDrawEveryMode) {
    std::mt19937 rng(5);
    for (const KernelRect& c : Cases(rng, true)) {
        // Clear and solid runs as coverage has them, between random weights.
        auto weights = RandomBytes(rng, kW * kH);
        for (size_t k = 0; k < weights.size(); ++k)
            if ((k / 11) % 3 == 0) weights[k] = (k / 33) % 2 ? 255 : 0;
        auto cov = RandomPixels<uint16_t>(rng, kW * kH);
        for (size_t k = 0; k < cov.size(); ++k) cov[k] = static_cast<uint16_t>((cov[k] & 0xFF00u) | weights[k]);
        const auto src32 = RandomPixels<uint32_t>(rng, kW * kH);
        const auto src16 = RandomPixels<uint16_t>(rng, kW * kH);
        for (int32_t mode : {0, 1, 2, 3, 4, 7}) {
            for (bool withSource : {false, true}) {
                for (bool withDest : {false, true}) {
                    AlphaDrawParams p;
                    p.mode = mode;
                    p.colour = static_cast<uint32_t>(rng());
                    p.intensity = rng() % 256;
                    p.alpha = {const_cast<uint8_t*>(weights.data()), kW, c.sx, c.sy};
                    p.coverage = {cov.data(), kW, c.sx, c.sy};
                    auto da = RandomBytes(rng, kW * kH);
                    for (size_t k = 0; k < da.size(); k += 5) da[k] = 0;
                    auto db = da;
                    for (uint32_t f : kFormats32) {
                        const PixelRows32 s{const_cast<uint32_t*>(src32.data()), kW, c.sx, c.sy};
                        auto a = RandomPixels<uint32_t>(rng, kW * kH), b = a;
                        auto pa = p, pb = p;
                        if (withDest) {
                            pa.destAlpha = {da.data(), kW, c.dx, c.dy};
                            pb.destAlpha = {db.data(), kW, c.dx, c.dy};
                        }
                        AlphaChannelDraw32({a.data(), kW, c.dx, c.dy}, withSource ? &s : nullptr, pa, c.w, c.h, f);
                        AlphaChannelDraw32Ref({b.data(), kW, c.dx, c.dy}, withSource ? &s : nullptr, pb, c.w, c.h, f);
                        ASSERT_EQ(a, b) << mode << withSource << withDest << f << " w" << c.w;
                        ASSERT_EQ(da, db);
                    }
                    for (Layout16 l : kLayouts) {
                        const PixelRows16 s{const_cast<uint16_t*>(src16.data()), kW, c.sx, c.sy};
                        auto a = RandomPixels<uint16_t>(rng, kW * kH), b = a;
                        auto pa = p, pb = p;
                        if (withDest) {
                            pa.destAlpha = {da.data(), kW, c.dx, c.dy};
                            pb.destAlpha = {db.data(), kW, c.dx, c.dy};
                        }
                        AlphaChannelDraw16({a.data(), kW, c.dx, c.dy}, withSource ? &s : nullptr, pa, c.w, c.h, l);
                        AlphaChannelDraw16Ref({b.data(), kW, c.dx, c.dy}, withSource ? &s : nullptr, pb, c.w, c.h, l);
                        ASSERT_EQ(a, b) << mode << withSource << withDest << " w" << c.w;
                        ASSERT_EQ(da, db);
                    }
                }
            }
        }
    }
}

TEST(PlaneKernelTwins, CoveragePlot) {
    std::mt19937 rng(6);
    for (const KernelRect& c : Cases(rng, true)) {
        const auto cov = RandomBytes(rng, kW * kH);
        auto mask = RandomBytes(rng, kMaskBytes * kH);
        for (int32_t bpp : {2, 4}) {
            for (bool withMask : {false, true}) {
                std::vector<uint32_t> a32 = RandomPixels<uint32_t>(rng, kW * kH), b32 = a32;
                std::vector<uint16_t> a16 = RandomPixels<uint16_t>(rng, kW * kH), b16 = a16;
                BlendContext ctx;
                ctx.rowLength = kW;
                ctx.bytesPerPixel = bpp;
                ctx.format = kFormats32[rng() % 4];
                ctx.layout = kLayouts[rng() % 2];
                ctx.colour = static_cast<uint32_t>(rng());
                ctx.coverage = rng() % 256;
                ctx.alpha = rng() % 256;
                const auto cx = static_cast<int32_t>(rng() % kW), cy = static_cast<int32_t>(rng() % kH);
                ctx.clip = {cx / 2, cy / 2, cx + 30, cy + 4};
                if (withMask) ctx.mask = {mask.data(), kMaskBytes, 1, 0};
                const int32_t mw = c.w;
                // The map may start outside the buffer; the clip keeps it in.
                const int32_t x = c.dx - 3, y = c.dy - 1;
                ctx.clip.left = std::max(ctx.clip.left, 0);
                ctx.clip.right = std::min(ctx.clip.right, kW - 1);
                ctx.clip.bottom = std::min(ctx.clip.bottom, kH);
                BlendContext other = ctx;
                ctx.pixels = bpp == 4 ? static_cast<void*>(a32.data()) : static_cast<void*>(a16.data());
                other.pixels = bpp == 4 ? static_cast<void*>(b32.data()) : static_cast<void*>(b16.data());
                PlotCoverageMask(ctx, cov.data() + c.sy * kW + c.sx, kW, x, y, mw, c.h);
                PlotCoverageMaskRef(other, cov.data() + c.sy * kW + c.sx, kW, x, y, mw, c.h);
                ASSERT_EQ(a32, b32) << bpp << withMask << " w" << c.w;
                ASSERT_EQ(a16, b16) << bpp << withMask << " w" << c.w;
            }
        }
    }
}
