// Every road of the alpha-channel draw against an exact oracle of its
// modes, over every coverage value: mode 0 stores, mode 1 leaves, blends
// p + floor((c - p) s / 256) per channel or at s = 255 takes the colour,
// mode 2 blends where the image's alpha a is not 0, at s = 255 too (0xFF
// over 0 gives 0xFE), and makes a (a + floor((s - a) s / 256)) v / 255,
// takes the colour where a is 0 and makes it s v / 255. Roads: the colour or a source image, the 4-byte
// formats and both 16-bit layouts, with and without an alpha plane, rows
// wide enough for the vector loops and rows only the scalar tail draws,
// the fast kernels at every instruction set and the reference twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/kernelisa.h"
#include "imaging/planekernels.h"

namespace {

int32_t FloorShift8(int32_t v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }

uint32_t ExactMix(uint32_t p, uint32_t c, uint32_t s) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const auto pc = static_cast<int32_t>((p >> shift) & 255), cc = static_cast<int32_t>((c >> shift) & 255);
        out |= static_cast<uint32_t>(pc + FloorShift8((cc - pc) * static_cast<int32_t>(s))) << shift;
    }
    return out;
}

// One depth's pixels: `rgb` and `pixel` move between it and 0x00RRGGBB.
struct Depth {
    uint32_t (*rgb)(uint32_t format, uint32_t pixel);
    uint32_t (*pixel)(uint32_t format, uint32_t rgb);
};
const Depth kDepth32{[](uint32_t f, uint32_t v) { return KernelToARGB(f, v) & 0x00FFFFFFu; },
                     [](uint32_t f, uint32_t v) { return KernelFromARGB(f, v); }};
const Depth kDepth16{[](uint32_t f, uint32_t v) { return Widen16(static_cast<Layout16>(f), static_cast<uint16_t>(v)); },
                     [](uint32_t f, uint32_t v) { return uint32_t{Narrow16(static_cast<Layout16>(f), v)}; }};

// The rule for one pixel; `a` is null without an alpha plane (mode 2 then
// blends as mode 1, there being no opacity to weigh against).
void Oracle(const Depth& depth, uint32_t format, int32_t mode, uint32_t& px, uint8_t* a, uint32_t stored,
            uint32_t s, uint32_t v) {
    if (s == 0) return;
    const auto blend = [&] {
        return depth.pixel(format, ExactMix(depth.rgb(format, px), depth.rgb(format, stored), s));
    };
    const auto mode1 = [&] { return s == 255 ? stored : blend(); };
    if (mode == 0) {
        px = stored;
    } else if (mode == 1 || a == nullptr) {
        px = mode1();
    } else if (*a != 0) {
        px = blend();
        const auto ai = static_cast<int32_t>(*a), si = static_cast<int32_t>(s);
        *a = static_cast<uint8_t>(static_cast<uint32_t>(ai + FloorShift8((si - ai) * si)) * v / 255);
    } else {
        px = stored;
        *a = static_cast<uint8_t>(s * v / 255);
    }
}

// A wide row: a solid run of 32 (the vector loops' fill), every coverage
// value in an order that mixes them within each group of eight, then a
// tail of seven. Narrow rows of five hold every value between them.
std::vector<std::vector<uint8_t>> CoverageRows() {
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> wide(32, 255);
    for (uint32_t i = 0; i < 256 + 7; ++i) wide.push_back(static_cast<uint8_t>(i * 37 + 11));
    rows.push_back(wide);
    for (uint32_t s = 0; s < 256; s += 5) {
        std::vector<uint8_t> narrow;
        for (uint32_t k = 0; k < 5; ++k) narrow.push_back(static_cast<uint8_t>(std::min(s + k, 255u)));
        rows.push_back(narrow);
    }
    return rows;
}

const uint8_t kAlphas[] = {0, 1, 127, 128, 254, 255, 64};
const uint32_t kOpacities[] = {0, 1, 127, 128, 254, 255};
const uint32_t kPixels[] = {0x000000, 0x010101, 0x7F8081, 0xFEFEFE, 0xFFFFFF, 0x12A4F0};
const uint32_t kColours[] = {0xFFFF0000, 0x0000FF80, 0x80FE01FF};

template <typename Rows, typename Format>
using Kernel = void (*)(Rows, const Rows*, const AlphaDrawParams&, int32_t, int32_t, Format);

// Draws one row every way the kernels allow, with the fast kernel and its
// reference twin, and compares each with the oracle.
template <typename Pixel, typename Rows, typename Format>
void SweepDepth(const Depth& depth, Format layout, Kernel<Rows, Format> fastKernel, Kernel<Rows, Format> refKernel) {
    const auto format = static_cast<uint32_t>(layout);
    const auto rows = CoverageRows();
    for (int32_t mode : {0, 1, 2})
        for (bool fromSource : {false, true})
            for (bool withAlpha : {false, true})
                for (const auto& w : rows)
                    for (uint32_t colour : kColours)
                        for (uint32_t base : kPixels)
                            for (uint8_t alpha : kAlphas)
                                for (uint32_t v : kOpacities) {
                                    if ((!withAlpha || mode != 2) && (alpha != kAlphas[1] || v != 255)) continue;
                                    const auto width = static_cast<int32_t>(w.size());
                                    // Formats keep their own bytes for a stored colour; a 16-bit
                                    // colour is already a pixel of the layout.
                                    const uint32_t stored = sizeof(Pixel) == 4
                                        ? (format == 10 ? colour : KernelFromARGB(format, colour))
                                        : depth.pixel(format, colour & 0x00FFFFFFu);
                                    const auto start = static_cast<Pixel>(depth.pixel(format, base));
                                    std::vector<Pixel> want(w.size(), start), src(w.size(), static_cast<Pixel>(stored));
                                    std::vector<uint8_t> wantAlpha(w.size(), alpha);
                                    for (size_t i = 0; i < w.size(); ++i) {
                                        uint32_t px = want[i];
                                        Oracle(depth, format, mode, px, withAlpha ? &wantAlpha[i] : nullptr, stored,
                                               w[i], v);
                                        want[i] = static_cast<Pixel>(px);
                                    }
                                    for (bool fast : {true, false}) {
                                        std::vector<Pixel> got(w.size(), start);
                                        std::vector<uint8_t> gotAlpha(w.size(), alpha);
                                        AlphaDrawParams p;
                                        p.mode = mode;
                                        p.colour = sizeof(Pixel) == 4 ? colour : stored;
                                        p.intensity = v;
                                        p.alpha = AlphaRows{const_cast<uint8_t*>(w.data()), width, 0, 0};
                                        if (withAlpha) p.destAlpha = AlphaRows{gotAlpha.data(), width, 0, 0};
                                        const Rows to{got.data(), width, 0, 0}, from{src.data(), width, 0, 0};
                                        (fast ? fastKernel : refKernel)(to, fromSource ? &from : nullptr, p, width, 1,
                                                                        layout);
                                        ASSERT_EQ(got, want) << "mode " << mode << " format " << format << " source "
                                                             << fromSource << " plane " << withAlpha << " width "
                                                             << width << " colour " << std::hex << colour << " pixel "
                                                             << base << std::dec << " a " << int{alpha} << " v " << v
                                                             << " fast " << fast;
                                        ASSERT_EQ(gotAlpha, wantAlpha) << "mode " << mode << " width " << width
                                                                       << " a " << int{alpha} << " v " << v;
                                    }
                                }
}

TEST(AlphaChannelClassTest, EveryModeOfEveryFourBytePathAtEveryCoverage) {
    for (uint32_t format : {10u, 11u, 12u, 13u})
        SweepDepth<uint32_t, PixelRows32, uint32_t>(kDepth32, format, AlphaChannelDraw32, AlphaChannelDraw32Ref);
}

TEST(AlphaChannelClassTest, EveryModeOfEveryTwoBytePathAtEveryCoverage) {
    for (Layout16 layout : {Layout16::RGB565, Layout16::RGB555})
        SweepDepth<uint16_t, PixelRows16, Layout16>(kDepth16, layout, AlphaChannelDraw16, AlphaChannelDraw16Ref);
}

// The colour through plain weights at every instruction set the machine
// has (the draw above takes only the best one).
TEST(AlphaChannelClassTest, ColourThroughWeightsAtEveryInstructionSet) {
    const auto rows = CoverageRows();
    for (KernelIsa isa : {KernelIsa::Portable, KernelIsa::Sse2, KernelIsa::Avx2})
        for (const auto& w : rows)
            for (uint32_t colour : kColours)
                for (uint32_t base : kPixels) {
                    std::vector<uint32_t> want(w.size(), base), got(w.size(), base);
                    for (size_t i = 0; i < w.size(); ++i) Oracle(kDepth32, 10, 1, want[i], nullptr, colour, w[i], 255);
                    ColourThroughWeightsWith(isa, got.data(), w.data(), static_cast<int32_t>(w.size()), colour);
                    ASSERT_EQ(got, want) << static_cast<int>(isa) << " " << w.size() << " " << std::hex << colour;
                }
}

}  // namespace
