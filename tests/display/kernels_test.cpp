// Pixel kernels: fixed edge cases, each production kernel against its scalar
// reference on random rectangles, each 2-byte twin against its 4-byte twin.
#include <gtest/gtest.h>

#include <cstdint>
#include <queue>
#include <random>
#include <vector>

#include "imaging/kernels.h"
#include "kernel_cases.h"

namespace {

constexpr uint32_t kFormats[] = {10, 11, 12, 13};

const char* Name(KernelIsa isa) {
    return isa == KernelIsa::Avx2 ? "avx2" : isa == KernelIsa::Sse2 ? "sse2" : "portable";
}
constexpr Layout16 kLayouts[] = {Layout16::RGB565, Layout16::RGB555};

}  // namespace

TEST(KernelEdges, BlendedFillAtFullAndZeroLevel) {
    std::vector<uint32_t> px = {0x00000000u, 0xFFFFFFFFu};
    BlendFill32({px.data(), 2, 0, 0}, 1, 1, 10, 0x00FFFFFFu, 255);
    EXPECT_EQ(px[0], 0x00FEFEFEu);
    BlendFill32({px.data(), 2, 1, 0}, 1, 1, 10, 0x00000000u, 255);
    EXPECT_EQ(px[1], 0x00000000u);
    std::vector<uint32_t> keep = {0x12345678u, 0x9ABCDEF0u};
    BlendFill32({keep.data(), 2, 0, 0}, 2, 1, 10, 0x00FF0000u, 0);
    EXPECT_EQ(keep[0], 0x12345678u);
    EXPECT_EQ(keep[1], 0x9ABCDEF0u);
}

TEST(KernelEdges, EmptyRectanglesTouchNothing) {
    std::vector<uint32_t> px(16, 0x01020304u);
    const auto before = px;
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-1, 4}, std::pair{4, -3}}) {
        FillRect32({px.data(), 4, 0, 0}, w, h, 0xFFFFFFFFu);
        BlendFill32({px.data(), 4, 0, 0}, w, h, 10, 0x00FFFFFFu, 128);
        Gray32({px.data(), 4, 0, 0}, w, h, 11, false);
        Pixelate32({px.data(), 4, 0, 0}, w, h, 2, {}, {});
        CopyRect32({px.data(), 4, 0, 0}, {px.data(), 4, 1, 1}, w, h);
    }
    EXPECT_EQ(px, before);
}

TEST(KernelEdges, GrayOfWhiteAndRed) {
    EXPECT_EQ(GrayLevel(255, 255, 255), 255u);
    EXPECT_EQ(GrayLevel(255, 0, 0), 76u);
    std::vector<uint32_t> px = {0x00FFFFFFu, 0x00FF0000u};
    Gray32({px.data(), 2, 0, 0}, 2, 1, 10, false);
    EXPECT_EQ(px[0], 0x00FFFFFFu);
    EXPECT_EQ(px[1], 0x004C4C4Cu);
    // Black-and-white: 128 is black, 129 white.
    std::vector<uint32_t> bw = {0x00808080u, 0x00818181u};
    Gray32({bw.data(), 2, 0, 0}, 2, 1, 10, true);
    EXPECT_EQ(bw[0], 0x00000000u);
    EXPECT_EQ(bw[1], 0x00FFFFFFu);
}

TEST(KernelEdges, PixelateByOneIsTheIdentity) {
    std::mt19937 rng(7);
    auto px = RandomPixels<uint32_t>(rng, 40 * 7);
    const auto before = px;
    Pixelate32({px.data(), 40, 0, 0}, 40, 7, 1, {}, {});
    EXPECT_EQ(px, before);
    auto px16 = RandomPixels<uint16_t>(rng, 40 * 7);
    const auto before16 = px16;
    Pixelate16({px16.data(), 40, 0, 0}, 40, 7, 1, {}, {});
    EXPECT_EQ(px16, before16);
}

TEST(KernelEdges, AlphaBlendFullCopiesAlphaByteHalfDropsIt) {
    std::vector<uint32_t> dst = {0x11223344u, 0x11223344u};
    const std::vector<uint32_t> src = {0xAA000000u | 0x556677u, 0xAA000000u | 0x556677u};
    std::vector<uint8_t> alpha = {255, 128};
    AlphaBlend32({dst.data(), 2, 0, 0}, {const_cast<uint32_t*>(src.data()), 2, 0, 0},
                 {alpha.data(), 2, 0, 0}, 2, 1, 10);
    EXPECT_EQ(dst[0], 0xAA556677u);
    EXPECT_EQ(dst[1] >> 24, 0u);
}

// The weighted mix without branches against the plain rule, at every weight
// of the rule and at 256, which must give the incoming colour exactly.
TEST(KernelEdges, FastBlendIsTheRule) {
    std::mt19937 rng(29);
    for (uint32_t w = 0; w <= 256; ++w)
        for (int k = 0; k < 64; ++k) {
            const uint32_t d = rng(), c = k == 0 ? 0xFFFFFFFFu : k == 1 ? 0u : rng();
            const uint32_t want = w == 256 ? c & 0xFFFFFFu : BlendRGB(d, c, w);
            ASSERT_EQ(BlendRGBFast(d, c, w), want) << std::hex << d << " " << c << " " << std::dec << w;
        }
}

TEST(KernelEdges, FormatRearrangementRoundTrips) {
    for (uint32_t f : kFormats)
        EXPECT_EQ(KernelToARGB(f, KernelFromARGB(f, 0x00123456u)), 0x00123456u) << f;
    EXPECT_EQ(KernelFromARGB(13, 0x00010203u), 0x00030201u);
}

TEST(KernelEdges, Ham6AndHam8Rows) {
    std::vector<uint32_t> pal(64);
    for (uint32_t i = 0; i < 64; ++i) pal[i] = (i * 0x00111111u) & 0x00FFFFFFu;
    pal[0] = 0x00A0B0C0u;
    pal[3] = 0x00123456u;
    // HAM6: start from colour 0 with its nibbles spread; pick 3; new blue 6;
    // new red 7; new green 9.
    const std::vector<uint8_t> ham6 = {0x03, 0x16, 0x27, 0x39};
    std::vector<uint32_t> out(4);
    ExpandPaletteRow(ham6.data(), out.data(), 4, pal.data(), 6);
    EXPECT_EQ(out[0], 0x00113355u);
    EXPECT_EQ(out[1], 0x00113366u);
    EXPECT_EQ(out[2], 0x00773366u);
    EXPECT_EQ(out[3], 0x00779966u);
    // HAM8: palette colours whole; the low two bits of a channel survive.
    const std::vector<uint8_t> ham8 = {0x03, 0x40 | 0x3F, 0x80 | 0x01, 0xC0};
    ExpandPaletteRow(ham8.data(), out.data(), 4, pal.data(), 8);
    EXPECT_EQ(out[0], 0x00123456u);
    EXPECT_EQ(out[1], 0x001234FEu);  // 0x3F << 2 | (0x56 & 3)
    EXPECT_EQ(out[2], 0x000634FEu);  // 1 << 2 | (0x12 & 3)
    EXPECT_EQ(out[3], 0x000600FEu);  // 0 << 2 | (0x34 & 3)
    // Any other mode: a plain lookup.
    std::vector<uint32_t> big(256, 0xDEADBEEFu);
    big[200] = 0x01020304u;
    const uint8_t idx = 200;
    ExpandPaletteRow(&idx, out.data(), 1, big.data(), 0);
    EXPECT_EQ(out[0], 0x01020304u);
}

TEST(KernelEdges, SixteenBitWidenNarrowIsTheIdentity) {
    for (uint32_t v = 0; v < 65536; ++v) {
        EXPECT_EQ(Narrow16(Layout16::RGB565, Widen16(Layout16::RGB565, static_cast<uint16_t>(v))), v);
        const auto v555 = static_cast<uint16_t>(v & 0x7FFF);
        EXPECT_EQ(Narrow16(Layout16::RGB555, Widen16(Layout16::RGB555, v555)), v555);
    }
}

TEST(KernelEdges, BlendMatchesTheRuleOnEveryWeight) {
    std::mt19937 rng(3);
    for (uint32_t w = 0; w < 256; ++w)
        for (int k = 0; k < 64; ++k) {
            const uint32_t d = rng() & 0xFFFFFF, c = rng() & 0xFFFFFF;
            uint32_t want = 0;
            for (int s = 0; s <= 16; s += 8) {
                const int32_t dc = static_cast<int32_t>((d >> s) & 255), cc = static_cast<int32_t>((c >> s) & 255);
                want |= static_cast<uint32_t>(dc + ((cc - dc) * static_cast<int32_t>(w) >> 8)) << s;
            }
            // Five pixels: four through the vector path, one through the tail.
            std::vector<uint32_t> px(5, d);
            BlendFill32({px.data(), 5, 0, 0}, 5, 1, 10, c, w);
            for (uint32_t p : px) ASSERT_EQ(p, w == 0 ? d : want) << w;
        }
}

// ---- production against reference ----------------------------------------

TEST(KernelsMatchReference, CopyAndFill) {
    std::mt19937 rng(11);
    for (const KernelRect& c : Cases(rng)) {
        auto src = RandomPixels<uint32_t>(rng, kBufW * kBufH);
        auto src16 = RandomPixels<uint16_t>(rng, kBufW * kBufH);
        ASSERT_TRUE(SameAsReference(rng, CopyRect32, CopyRect32Ref, c.dx, c.dy,
                                    PixelRows32{src.data(), kBufW, c.sx, c.sy}, c.w, c.h)) << c.w;
        ASSERT_TRUE(SameAsReference(rng, CopyRect16, CopyRect16Ref, c.dx, c.dy,
                                    PixelRows16{src16.data(), kBufW, c.sx, c.sy}, c.w, c.h)) << c.w;
        auto a = RandomPixels<uint32_t>(rng, kBufW * kBufH), b = a;
        auto a16 = RandomPixels<uint16_t>(rng, kBufW * kBufH), b16 = a16;
        // Patterns with unequal bytes take the vector stores, equal ones memset.
        for (KernelIsa isa : Isas())
            for (uint32_t colour : {0xCAFEBABEu, 0x5A5A5A5Au, static_cast<uint32_t>(rng())}) {
                FillRect32With(isa, {a.data(), kBufW, c.dx, c.dy}, c.w, c.h, colour);
                FillRect32Ref({b.data(), kBufW, c.dx, c.dy}, c.w, c.h, colour);
                ASSERT_EQ(a, b) << c.w << " " << Name(isa);
                FillRect16With(isa, {a16.data(), kBufW, c.dx, c.dy}, c.w, c.h, static_cast<uint16_t>(colour));
                FillRect16Ref({b16.data(), kBufW, c.dx, c.dy}, c.w, c.h, static_cast<uint16_t>(colour));
                ASSERT_EQ(a16, b16) << c.w << " " << Name(isa);
            }
    }
}

// A rectangle as wide as its rows is copied and filled as one block; the
// pixels around it (before its first and after its last row) stay.
TEST(KernelsMatchReference, WholeBlockCopyAndFill) {
    std::mt19937 rng(20);
    for (int32_t w = 1; w <= 67; ++w) {
        const int32_t h = 1 + static_cast<int32_t>(rng() % 7), y = static_cast<int32_t>(rng() % 3);
        const size_t n = static_cast<size_t>(w) * (h + 4);
        auto src = RandomPixels<uint32_t>(rng, n);
        auto a = RandomPixels<uint32_t>(rng, n), b = a;
        CopyRect32({a.data(), w, 0, y}, {src.data(), w, 0, 1}, w, h);
        CopyRect32Ref({b.data(), w, 0, y}, {src.data(), w, 0, 1}, w, h);
        ASSERT_EQ(a, b) << w;
        auto src16 = RandomPixels<uint16_t>(rng, n);
        auto a16 = RandomPixels<uint16_t>(rng, n), b16 = a16;
        CopyRect16({a16.data(), w, 0, y}, {src16.data(), w, 0, 1}, w, h);
        CopyRect16Ref({b16.data(), w, 0, y}, {src16.data(), w, 0, 1}, w, h);
        ASSERT_EQ(a16, b16) << w;
        for (KernelIsa isa : Isas()) {
            const uint32_t colour = rng() | 1;
            FillRect32With(isa, {a.data(), w, 0, y}, w, h, colour);
            FillRect32Ref({b.data(), w, 0, y}, w, h, colour);
            ASSERT_EQ(a, b) << w << " " << Name(isa);
            // An odd start leaves the 2-byte block off 4-byte alignment.
            FillRect16With(isa, {a16.data(), w, 0, y}, w, h, static_cast<uint16_t>(colour));
            FillRect16Ref({b16.data(), w, 0, y}, w, h, static_cast<uint16_t>(colour));
            ASSERT_EQ(a16, b16) << w << " " << Name(isa);
        }
    }
}

// Blocks past a mebibyte take the string store; odd 2-byte blocks end on
// half a pattern and, one row in, start off 4-byte alignment.
TEST(KernelsMatchReference, LargeBlockFill) {
    constexpr int32_t kW = 1023, kH = 300;
    std::mt19937 rng(22);
    for (KernelIsa isa : Isas()) {
        auto a = RandomPixels<uint32_t>(rng, static_cast<size_t>(kW) * (kH + 2)), b = a;
        FillRect32With(isa, {a.data(), kW, 0, 1}, kW, kH, 0x12345678u);
        FillRect32Ref({b.data(), kW, 0, 1}, kW, kH, 0x12345678u);
        ASSERT_EQ(a, b) << Name(isa);
        auto a16 = RandomPixels<uint16_t>(rng, static_cast<size_t>(kW) * (2 * kH + 2)), b16 = a16;
        FillRect16With(isa, {a16.data(), kW, 0, 1}, kW, 2 * kH + 1, 0x1234);
        FillRect16Ref({b16.data(), kW, 0, 1}, kW, 2 * kH + 1, 0x1234);
        ASSERT_EQ(a16, b16) << Name(isa);
    }
}

TEST(KernelsMatchReference, BlendedFill) {
    std::mt19937 rng(12);
    for (const KernelRect& c : Cases(rng))
        for (uint32_t level : {0u, 1u, 128u, 254u, 255u, static_cast<uint32_t>(rng() & 255)}) {
            for (uint32_t f : kFormats)
                ASSERT_TRUE(SameAsReference(rng, BlendFill32, BlendFill32Ref, c.dx, c.dy, c.w, c.h, f, uint32_t(rng()),
                                            level))
                    << c.w << " format " << f << " level " << level;
            for (Layout16 l : kLayouts)
                ASSERT_TRUE(SameAsReference(rng, BlendFill16, BlendFill16Ref, c.dx, c.dy, c.w, c.h, l,
                                            uint16_t(rng()), level))
                    << c.w << " level " << level;
        }
}

TEST(KernelsMatchReference, MaskedCopy) {
    std::mt19937 rng(13);
    const int32_t maskRowBytes = kBufW / 8 + 2;
    for (const KernelRect& c : Cases(rng)) {
        auto mask = RandomBytes(rng, static_cast<size_t>(maskRowBytes) * kBufH);
        const MaskRows m{mask.data(), maskRowBytes, c.mx, c.my};
        auto src = RandomPixels<uint32_t>(rng, kBufW * kBufH);
        auto src16 = RandomPixels<uint16_t>(rng, kBufW * kBufH);
        for (KernelIsa isa : Isas()) {
            auto a = RandomPixels<uint32_t>(rng, kBufW * kBufH), b = a;
            MaskedCopy32With(isa, {a.data(), kBufW, c.dx, c.dy}, {src.data(), kBufW, c.sx, c.sy}, m, c.w, c.h);
            MaskedCopy32Ref({b.data(), kBufW, c.dx, c.dy}, {src.data(), kBufW, c.sx, c.sy}, m, c.w, c.h);
            ASSERT_EQ(a, b) << c.w << " " << Name(isa);
            auto a16 = RandomPixels<uint16_t>(rng, kBufW * kBufH), b16 = a16;
            MaskedCopy16With(isa, {a16.data(), kBufW, c.dx, c.dy}, {src16.data(), kBufW, c.sx, c.sy}, m, c.w, c.h);
            MaskedCopy16Ref({b16.data(), kBufW, c.dx, c.dy}, {src16.data(), kBufW, c.sx, c.sy}, m, c.w, c.h);
            ASSERT_EQ(a16, b16) << c.w << " " << Name(isa);
        }
    }
}

// Every start bit of the mask with every width up to three groups of eight
// and a tail. Pixels and mask rows are exactly as long as the rectangle's
// bits need, so a read or write past them shows under AddressSanitizer; the
// 2-byte twin, run on the low halves of the same pixels, must copy exactly
// the pixels its 4-byte twin copies.
TEST(KernelsMatchReference, MaskedCopyAtEveryBitOffset) {
    std::mt19937 rng(23);
    constexpr int32_t kH = 3;
    const auto lowHalves = [](const std::vector<uint32_t>& v) {
        std::vector<uint16_t> out(v.size());
        for (size_t i = 0; i < v.size(); ++i) out[i] = static_cast<uint16_t>(v[i]);
        return out;
    };
    for (int32_t mx = 0; mx < 8; ++mx)
        for (int32_t w = 1; w <= 27; ++w) {
            const int32_t rowBytes = (mx + w + 7) / 8;
            auto mask = RandomBytes(rng, static_cast<size_t>(rowBytes) * kH);
            const MaskRows m{mask.data(), rowBytes, mx, 0};
            const auto n = static_cast<size_t>(w) * kH;
            auto src = RandomPixels<uint32_t>(rng, n);
            auto src16 = lowHalves(src);
            // Each instruction set, then the forms that choose for themselves
            // (and copy narrow rows inline).
            for (size_t v = 0; v <= Isas().size(); ++v) {
                const bool chosen = v == Isas().size();
                const KernelIsa isa = chosen ? BestKernelIsa() : Isas()[v];
                auto a = RandomPixels<uint32_t>(rng, n), b = a;
                auto a16 = lowHalves(a);
                const PixelRows32 to{a.data(), w, 0, 0}, from{src.data(), w, 0, 0};
                const PixelRows16 to16{a16.data(), w, 0, 0}, from16{src16.data(), w, 0, 0};
                if (chosen) {
                    MaskedCopy32(to, from, m, w, kH);
                    MaskedCopy16(to16, from16, m, w, kH);
                } else {
                    MaskedCopy32With(isa, to, from, m, w, kH);
                    MaskedCopy16With(isa, to16, from16, m, w, kH);
                }
                MaskedCopy32Ref({b.data(), w, 0, 0}, {src.data(), w, 0, 0}, m, w, kH);
                const char* name = chosen ? "chosen" : Name(isa);
                ASSERT_EQ(a, b) << "bit " << mx << " width " << w << " " << name;
                ASSERT_EQ(a16, lowHalves(a)) << "bit " << mx << " width " << w << " " << name;
            }
        }
}

// Masks of long set and clear runs, which the vector loops copy or skip
// whole, broken by mixed bytes, at every start bit.
TEST(KernelsMatchReference, MaskedCopyOfRuns) {
    std::mt19937 rng(29);
    constexpr int32_t kH = 4, kW = 150;
    for (int32_t mx = 0; mx < 8; ++mx)
        for (int32_t w : {32, 33, 64, 71, 96, 143}) {
            const int32_t rowBytes = (mx + kW + 7) / 8;
            std::vector<uint8_t> mask(static_cast<size_t>(rowBytes) * kH);
            for (size_t k = 0; k < mask.size(); k += 4) {
                const uint32_t kind = rng() % 5;
                for (size_t b = k; b < std::min(k + 4, mask.size()); ++b)
                    mask[b] = kind == 0 ? static_cast<uint8_t>(rng()) : kind < 3 ? 0x00 : 0xFF;
            }
            const MaskRows m{mask.data(), rowBytes, mx, 0};
            auto src = RandomPixels<uint32_t>(rng, static_cast<size_t>(kW) * kH);
            for (KernelIsa isa : Isas()) {
                auto a = RandomPixels<uint32_t>(rng, static_cast<size_t>(kW) * kH), b = a;
                MaskedCopy32With(isa, {a.data(), kW, 0, 0}, {src.data(), kW, 0, 0}, m, w, kH);
                MaskedCopy32Ref({b.data(), kW, 0, 0}, {src.data(), kW, 0, 0}, m, w, kH);
                ASSERT_EQ(a, b) << "bit " << mx << " width " << w << " " << Name(isa);
            }
        }
}

TEST(KernelsMatchReference, ColourThroughMaskInvertAndMix) {
    std::mt19937 rng(18);
    const int32_t maskRowBytes = kBufW / 8 + 2;
    for (const KernelRect& c : Cases(rng)) {
        auto mask = RandomBytes(rng, static_cast<size_t>(maskRowBytes) * kBufH);
        const MaskRows m{mask.data(), maskRowBytes, c.mx, c.my};
        ASSERT_TRUE(SameAsReference(rng, ColourThroughMask32, ColourThroughMask32Ref, c.dx, c.dy, m, c.w, c.h,
                                    0x80FF00FFu)) << c.w;
        ASSERT_TRUE(SameAsReference(rng, ColourThroughMask16, ColourThroughMask16Ref, c.dx, c.dy, m, c.w, c.h,
                                    uint16_t{0xF00F})) << c.w;
        ASSERT_TRUE(SameAsReference(rng, Invert32, Invert32Ref, c.dx, c.dy, c.w, c.h)) << c.w;
        ASSERT_TRUE(SameAsReference(rng, Invert16, Invert16Ref, c.dx, c.dy, c.w, c.h)) << c.w;
        auto src = RandomPixels<uint32_t>(rng, kBufW * kBufH);
        auto src16 = RandomPixels<uint16_t>(rng, kBufW * kBufH);
        const PixelRows32 from{src.data(), kBufW, c.sx, c.sy};
        const PixelRows16 from16{src16.data(), kBufW, c.sx, c.sy};
        for (const MaskRows& mm : {m, MaskRows{}})
            for (uint32_t level : {0u, 255u, static_cast<uint32_t>(rng() & 255)}) {
                for (uint32_t f : kFormats)
                    ASSERT_TRUE(SameAsReference(rng, Mix32, Mix32Ref, c.dx, c.dy, from, mm, c.w, c.h, f, level))
                        << c.w << " format " << f;
                for (Layout16 l : kLayouts)
                    ASSERT_TRUE(SameAsReference(rng, Mix16, Mix16Ref, c.dx, c.dy, from16, mm, c.w, c.h, l, level))
                        << c.w;
            }
    }
}

TEST(KernelEdges, MixAtFullLevelKeepsTheSourceColour) {
    std::vector<uint32_t> dst = {0x00112233u};
    std::vector<uint32_t> src = {0xFF445566u};
    Mix32({dst.data(), 1, 0, 0}, {src.data(), 1, 0, 0}, {}, 1, 1, 10, 255);
    EXPECT_EQ(dst[0], 0x00445566u);
    dst[0] = 0x00112233u;
    Mix32({dst.data(), 1, 0, 0}, {src.data(), 1, 0, 0}, {}, 1, 1, 10, 0);
    // 0x44 + ((0x11 - 0x44) * 255 >> 8): the shift rounds down, back to 0x11.
    EXPECT_EQ(dst[0], 0x00112233u);
}

TEST(KernelsMatchReference, MaskFromKeyAndReplaceColours) {
    std::mt19937 rng(19);
    const int32_t maskRowBytes = kBufW / 8 + 2;
    for (const KernelRect& c : Cases(rng)) {
        // Few distinct colours, so that keys and pairs match often.
        auto px = RandomPixels<uint32_t>(rng, kBufW * kBufH);
        for (auto& p : px) p = (p % 4) * 0x01010101u | (p & 0x01000000u);
        auto mA = RandomBytes(rng, static_cast<size_t>(maskRowBytes) * kBufH), mB = mA;
        const uint32_t key = 0xFF020202u;
        const uint32_t* base = px.data() + c.sy * kBufW + c.sx;
        MaskFromKey32(base, kBufW, c.w, c.h, key, {mA.data(), maskRowBytes, c.mx, c.my});
        MaskFromKey32Ref(base, kBufW, c.w, c.h, key, {mB.data(), maskRowBytes, c.mx, c.my});
        ASSERT_EQ(mA, mB) << c.w;
        std::vector<uint16_t> px16(px.size());
        for (size_t i = 0; i < px.size(); ++i) px16[i] = static_cast<uint16_t>(px[i]);
        MaskFromKey16(px16.data() + c.sy * kBufW + c.sx, kBufW, c.w, c.h, 0x0202, {mA.data(), maskRowBytes, c.mx, c.my});
        MaskFromKey16Ref(px16.data() + c.sy * kBufW + c.sx, kBufW, c.w, c.h, 0x0202, {mB.data(), maskRowBytes, c.mx, c.my});
        ASSERT_EQ(mA, mB) << c.w;

        // Chained: 1 -> 2 -> 3, so every 1 ends as 3.
        const ColourPair pairs[] = {{0x010101, 0x00020202u}, {0x020202, 0x00030303u}, {-1, 0}};
        auto a = px, b = px;
        ReplaceColours32({a.data(), kBufW, c.dx, c.dy}, c.w, c.h, pairs, 0x00FFFFFFu);
        ReplaceColours32Ref({b.data(), kBufW, c.dx, c.dy}, c.w, c.h, pairs, 0x00FFFFFFu);
        ASSERT_EQ(a, b) << c.w;
        const ColourPair pairs16[] = {{0x0101, 0x0202u}, {0x0202, 0x0303u}, {-1, 0}};
        auto a16 = px16, b16 = px16;
        ReplaceColours16({a16.data(), kBufW, c.dx, c.dy}, c.w, c.h, pairs16);
        ReplaceColours16Ref({b16.data(), kBufW, c.dx, c.dy}, c.w, c.h, pairs16);
        ASSERT_EQ(a16, b16) << c.w;
    }
}

TEST(KernelEdges, ReplacementsChainAndKeyIgnoresTheTopByte) {
    std::vector<uint32_t> px = {0xAA000001u, 0x00000002u, 0x00000005u};
    const ColourPair pairs[] = {{1, 2u}, {2, 3u}, {-1, 0}};
    ReplaceColours32({px.data(), 3, 0, 0}, 3, 1, pairs, 0x00FFFFFFu);
    EXPECT_EQ(px, (std::vector<uint32_t>{3u, 3u, 5u}));
    std::vector<uint8_t> mask(1, 0);
    const std::vector<uint32_t> keyed = {0xFF123456u, 0x00123456u, 0x00123457u};
    MaskFromKey32(keyed.data(), 3, 3, 1, 0x77123456u, {mask.data(), 1, 0, 0});
    EXPECT_EQ(mask[0], 0x20);
}

TEST(KernelsMatchReference, FlipWithPlanes) {
    std::mt19937 rng(20);
    const int32_t maskRowBytes = kBufW / 8 + 2;
    for (const KernelRect& c : Cases(rng))
        for (bool horizontal : {false, true})
            for (int32_t bpp : {2, 4}) {
                auto px = RandomBytes(rng, static_cast<size_t>(kBufW) * kBufH * 4);
                auto mask = RandomBytes(rng, static_cast<size_t>(maskRowBytes) * kBufH);
                auto alpha = RandomBytes(rng, kBufW * kBufH);
                auto pxB = px, maskB = mask, alphaB = alpha;
                const auto original = px;
                const size_t first = (static_cast<size_t>(c.dy) * kBufW + c.dx) * bpp;
                FlipRect(px.data() + first, kBufW, bpp, c.w, c.h, horizontal,
                         {mask.data(), maskRowBytes, c.mx, c.my}, {alpha.data(), kBufW, c.sx, c.sy});
                FlipRectRef(pxB.data() + first, kBufW, bpp, c.w, c.h, horizontal,
                            {maskB.data(), maskRowBytes, c.mx, c.my}, {alphaB.data(), kBufW, c.sx, c.sy});
                ASSERT_EQ(px, pxB) << c.w;
                ASSERT_EQ(mask, maskB) << c.w;
                ASSERT_EQ(alpha, alphaB) << c.w;
                // Twice is the identity.
                FlipRect(px.data() + first, kBufW, bpp, c.w, c.h, horizontal, {}, {});
                ASSERT_EQ(px, original) << c.w;
            }
}

TEST(KernelsMatchReference, AlphaBlend) {
    std::mt19937 rng(14);
    for (const KernelRect& c : Cases(rng)) {
        auto alpha = RandomBytes(rng, kBufW * kBufH);
        // Runs of equal levels, so that whole groups of four and of eight
        // are 0 or 255 as often as mixed.
        const size_t run = c.w % 3 == 0 ? 1 : c.w % 3 == 1 ? 5 : 17;
        for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = alpha[i - i % run];
        const AlphaRows al{alpha.data(), kBufW, c.mx, c.my};
        for (uint32_t f : kFormats)
            for (KernelIsa isa : Isas()) {
                auto src = RandomPixels<uint32_t>(rng, kBufW * kBufH);
                auto a = RandomPixels<uint32_t>(rng, kBufW * kBufH), b = a;
                AlphaBlend32With(isa, {a.data(), kBufW, c.dx, c.dy}, {src.data(), kBufW, c.sx, c.sy}, al, c.w, c.h, f);
                AlphaBlend32Ref({b.data(), kBufW, c.dx, c.dy}, {src.data(), kBufW, c.sx, c.sy}, al, c.w, c.h, f);
                ASSERT_EQ(a, b) << c.w << " format " << f << " " << Name(isa);
            }
        auto src16 = RandomPixels<uint16_t>(rng, kBufW * kBufH);
        for (Layout16 l : kLayouts)
            ASSERT_TRUE(SameAsReference(rng, AlphaBlend16, AlphaBlend16Ref, c.dx, c.dy,
                                        PixelRows16{src16.data(), kBufW, c.sx, c.sy}, al, c.w, c.h, l)) << c.w;
    }
}

// Every weight in every lane of a vector: the exact ends (0 keeps the whole
// destination pixel, 255 takes the whole source pixel, alpha byte included)
// and the rule with alpha 0 between them.
TEST(KernelsMatchReference, AlphaBlendEveryWeightInEveryLane) {
    std::mt19937 rng(21);
    constexpr int32_t kW = 23;  // one AVX2 group, one SSE2 group, a tail
    for (KernelIsa isa : Isas())
        for (uint32_t w = 0; w < 256; ++w) {
            std::vector<uint8_t> alpha(kW);
            for (int32_t i = 0; i < kW; ++i) alpha[static_cast<size_t>(i)] = static_cast<uint8_t>((w + 37u * i) & 255);
            auto src = RandomPixels<uint32_t>(rng, kW);
            auto a = RandomPixels<uint32_t>(rng, kW), b = a;
            AlphaBlend32With(isa, {a.data(), kW, 0, 0}, {src.data(), kW, 0, 0}, {alpha.data(), kW, 0, 0}, kW, 1, 10);
            AlphaBlend32Ref({b.data(), kW, 0, 0}, {src.data(), kW, 0, 0}, {alpha.data(), kW, 0, 0}, kW, 1, 10);
            ASSERT_EQ(a, b) << w << " " << Name(isa);
        }
}

TEST(KernelsMatchReference, Gray) {
    std::mt19937 rng(15);
    for (const KernelRect& c : Cases(rng))
        for (bool bw : {false, true}) {
            for (uint32_t f : kFormats)
                ASSERT_TRUE(SameAsReference(rng, Gray32, Gray32Ref, c.dx, c.dy, c.w, c.h, f, bw)) << c.w << " " << f;
            for (Layout16 l : kLayouts)
                ASSERT_TRUE(SameAsReference(rng, Gray16, Gray16Ref, c.dx, c.dy, c.w, c.h, l, bw)) << c.w;
        }
}

TEST(KernelsMatchReference, PixelateWithAndWithoutPlanes) {
    std::mt19937 rng(16);
    const int32_t maskRowBytes = kBufW / 8 + 2;
    for (const KernelRect& c : Cases(rng))
        for (int32_t block : {1, 2, 3, 5, 8, 70}) {
            for (int planes = 0; planes < 4; ++planes) {
                auto mA = RandomBytes(rng, static_cast<size_t>(maskRowBytes) * kBufH), mB = mA;
                auto aA = RandomBytes(rng, kBufW * kBufH), aB = aA;
                const MaskRows mrA = (planes & 1) ? MaskRows{mA.data(), maskRowBytes, c.dx, c.dy} : MaskRows{};
                const MaskRows mrB = (planes & 1) ? MaskRows{mB.data(), maskRowBytes, c.dx, c.dy} : MaskRows{};
                const AlphaRows arA = (planes & 2) ? AlphaRows{aA.data(), kBufW, c.dx, c.dy} : AlphaRows{};
                const AlphaRows arB = (planes & 2) ? AlphaRows{aB.data(), kBufW, c.dx, c.dy} : AlphaRows{};
                auto a = RandomPixels<uint32_t>(rng, kBufW * kBufH), b = a;
                Pixelate32({a.data(), kBufW, c.dx, c.dy}, c.w, c.h, block, mrA, arA);
                Pixelate32Ref({b.data(), kBufW, c.dx, c.dy}, c.w, c.h, block, mrB, arB);
                ASSERT_EQ(a, b) << c.w << " block " << block;
                ASSERT_EQ(mA, mB);
                ASSERT_EQ(aA, aB);
                auto a16 = RandomPixels<uint16_t>(rng, kBufW * kBufH), b16 = a16;
                Pixelate16({a16.data(), kBufW, c.dx, c.dy}, c.w, c.h, block, mrA, arA);
                Pixelate16Ref({b16.data(), kBufW, c.dx, c.dy}, c.w, c.h, block, mrB, arB);
                ASSERT_EQ(a16, b16) << c.w << " block " << block;
            }
        }
}

// ---- 2-byte twins against 4-byte twins on the top bits --------------------

namespace {
std::vector<uint32_t> Widened(Layout16 l, const std::vector<uint16_t>& v) {
    std::vector<uint32_t> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) out[i] = Widen16(l, v[i]);
    return out;
}
std::vector<uint16_t> Narrowed(Layout16 l, const std::vector<uint32_t>& v) {
    std::vector<uint16_t> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) out[i] = Narrow16(l, v[i]);
    return out;
}
std::vector<uint16_t> Random16(std::mt19937& rng, Layout16 l, size_t n) {
    auto v = RandomPixels<uint16_t>(rng, n);
    if (l == Layout16::RGB555)
        for (auto& p : v) p &= 0x7FFF;
    return v;
}
}  // namespace

TEST(SixteenBitTwins, MatchTheirFourByteTwins) {
    std::mt19937 rng(17);
    for (const KernelRect& c : Cases(rng))
        for (Layout16 l : kLayouts) {
            const uint32_t level = rng() & 255;
            const auto colour = Random16(rng, l, 1)[0];
            auto p16 = Random16(rng, l, kBufW * kBufH);
            auto p32 = Widened(l, p16);
            BlendFill16({p16.data(), kBufW, c.dx, c.dy}, c.w, c.h, l, colour, level);
            BlendFill32({p32.data(), kBufW, c.dx, c.dy}, c.w, c.h, 10, Widen16(l, colour), level);
            ASSERT_EQ(p16, Narrowed(l, p32)) << c.w;

            auto s16 = Random16(rng, l, kBufW * kBufH);
            auto s32 = Widened(l, s16);
            auto alpha = RandomBytes(rng, kBufW * kBufH);
            p32 = Widened(l, p16);
            AlphaBlend16({p16.data(), kBufW, c.dx, c.dy}, {s16.data(), kBufW, c.sx, c.sy},
                         {alpha.data(), kBufW, c.mx, c.my}, c.w, c.h, l);
            AlphaBlend32({p32.data(), kBufW, c.dx, c.dy}, {s32.data(), kBufW, c.sx, c.sy},
                         {alpha.data(), kBufW, c.mx, c.my}, c.w, c.h, 10);
            ASSERT_EQ(p16, Narrowed(l, p32)) << c.w;

            p32 = Widened(l, p16);
            s32 = Widened(l, s16);
            Mix16({p16.data(), kBufW, c.dx, c.dy}, {s16.data(), kBufW, c.sx, c.sy}, {}, c.w, c.h, l, level);
            Mix32({p32.data(), kBufW, c.dx, c.dy}, {s32.data(), kBufW, c.sx, c.sy}, {}, c.w, c.h, 10, level);
            ASSERT_EQ(p16, Narrowed(l, p32)) << c.w;

            for (bool bw : {false, true}) {
                p32 = Widened(l, p16);
                Gray16({p16.data(), kBufW, c.dx, c.dy}, c.w, c.h, l, bw);
                Gray32({p32.data(), kBufW, c.dx, c.dy}, c.w, c.h, 10, bw);
                ASSERT_EQ(p16, Narrowed(l, p32)) << c.w;
            }
        }
}

// ---- boundary fill ----------------------------------------------------------

namespace {

// A serpentine maze: walls on every other row, each with one gap that
// alternates between the right and the left end, so the open region is one
// path of width x height / 2 pixels that doubles back on itself.
std::vector<uint32_t> Serpentine(int32_t n, uint32_t wall, uint32_t open) {
    std::vector<uint32_t> px(static_cast<size_t>(n) * n, open);
    for (int32_t y = 1; y < n; y += 2) {
        const int32_t gap = ((y / 2) % 2 == 0) ? n - 1 : 0;
        for (int32_t x = 0; x < n; ++x)
            if (x != gap) px[static_cast<size_t>(y) * n + x] = wall;
    }
    return px;
}

// The 4-connected set of non-wall pixels reachable from the seed.
std::vector<uint8_t> Reachable(const std::vector<uint32_t>& px, int32_t n, int32_t sx,
                               int32_t sy, uint32_t wall, uint32_t mask) {
    std::vector<uint8_t> seen(px.size(), 0);
    std::queue<std::pair<int32_t, int32_t>> q;
    auto visit = [&](int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= n || y >= n) return;
        const size_t i = static_cast<size_t>(y) * n + x;
        if (seen[i] || (px[i] & mask) == (wall & mask)) return;
        seen[i] = 1;
        q.push({x, y});
    };
    visit(sx, sy);
    while (!q.empty()) {
        const auto [x, y] = q.front();
        q.pop();
        visit(x - 1, y);
        visit(x + 1, y);
        visit(x, y - 1);
        visit(x, y + 1);
    }
    return seen;
}

void CheckMaze(int32_t n) {
    const uint32_t wall = 0xFF102030u, open = 0x00FFFFFFu, fill = 0x00ABCDEFu;
    auto px = Serpentine(n, wall, open);
    // A second, sealed region the fill must not reach.
    for (int32_t x = 0; x < n; ++x) px[static_cast<size_t>(n - 2) * n + x] = wall;
    const auto want = Reachable(px, n, 0, 0, wall, 0x00FFFFFFu);
    BoundaryFill32(px.data(), n, {0, 0, n, n}, 0, 0, wall, fill, 0x00FFFFFFu);
    size_t filled = 0;
    for (size_t i = 0; i < px.size(); ++i) {
        ASSERT_EQ(px[i] == fill, want[i] != 0) << i;
        filled += want[i];
    }
    EXPECT_GT(filled, static_cast<size_t>(n) * (n / 2 - 2));
}

}  // namespace

TEST(BoundaryFill, SerpentineMazeFillsExactlyTheReachableSet) { CheckMaze(4096); }

TEST(BoundaryFill, ComparesUnderTheMaskOnly) {
    // The boundary differs from the wall pixels in its top byte only: under
    // the mask they are the same colour and the fill stops there.
    const int32_t n = 8;
    std::vector<uint32_t> px(n * n, 0x00000000u);
    for (int32_t y = 0; y < n; ++y) px[static_cast<size_t>(y) * n + 4] = 0x77FF0000u;
    BoundaryFill32(px.data(), n, {0, 0, n, n}, 1, 1, 0x00FF0000u, 0x00000011u, 0x00FFFFFFu);
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const uint32_t p = px[static_cast<size_t>(y) * n + x];
            if (x < 4) EXPECT_EQ(p, 0x11u);
            else if (x == 4) EXPECT_EQ(p, 0x77FF0000u);
            else EXPECT_EQ(p, 0u);
        }
}

TEST(BoundaryFill, StaysInsideTheClipAndMatchesItsTwin) {
    std::mt19937 rng(21);
    const int32_t n = 61;
    for (int round = 0; round < 20; ++round) {
        std::vector<uint32_t> px(static_cast<size_t>(n) * n);
        for (auto& p : px) p = (rng() % 3 == 0) ? 0x00000001u : 0x00000000u;
        std::vector<uint16_t> px16(px.size());
        for (size_t i = 0; i < px.size(); ++i) px16[i] = static_cast<uint16_t>(px[i]);
        const FillClip clip{3, 5, 50, 40};
        const int32_t sx = 3 + static_cast<int32_t>(rng() % 47), sy = 5 + static_cast<int32_t>(rng() % 35);
        // Reference: reachable set restricted to the clip.
        std::vector<uint32_t> clipped(px.size(), 1);
        for (int32_t y = clip.top; y < clip.bottom; ++y)
            for (int32_t x = clip.left; x < clip.right; ++x)
                clipped[static_cast<size_t>(y) * n + x] = px[static_cast<size_t>(y) * n + x];
        const auto want = Reachable(clipped, n, sx, sy, 1, 0xFFFFFFFFu);
        BoundaryFill32(px.data(), n, clip, sx, sy, 1, 2, 0xFFFFFFFFu);
        BoundaryFill16(px16.data(), n, clip, sx, sy, 1, 2);
        for (size_t i = 0; i < px.size(); ++i) {
            ASSERT_EQ(px[i] == 2, want[i] != 0) << i;
            ASSERT_EQ(px16[i], px[i]) << i;
        }
    }
}

// The mix into a third buffer leaves what a copy and Mix32 leave, and its
// inputs as they were.
TEST(KernelsMatchReference, MixIntoAThirdBufferEqualsCopyAndMix) {
    std::mt19937 rng(44);
    for (int32_t w : {1, 3, 4, 5, 17, 64}) {
        const int32_t h = 3, pitch = w + 2;
        auto a = RandomPixels<uint32_t>(rng, size_t(pitch) * h), b = RandomPixels<uint32_t>(rng, size_t(pitch) * h);
        for (uint32_t f : kFormats)
            for (uint32_t level : {0u, 255u, static_cast<uint32_t>(rng() & 255)}) {
                std::vector<uint32_t> expect = a, out(a.size(), 0xDEADBEEFu);
                const auto keepA = a, keepB = b;
                Mix32({expect.data(), pitch, 0, 0}, {b.data(), pitch, 0, 0}, {}, w, h, f, level);
                Mix32To({out.data(), pitch, 0, 0}, {a.data(), pitch, 0, 0}, {b.data(), pitch, 0, 0}, w, h, f, level);
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x)
                        ASSERT_EQ(out[size_t(y) * pitch + x], expect[size_t(y) * pitch + x])
                            << w << " format " << f << " level " << level;
                ASSERT_EQ(a, keepA);
                ASSERT_EQ(b, keepB);
            }
    }
}
