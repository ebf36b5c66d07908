// Plain and smooth scaling against the per-pixel reference, the extreme
// ratios that once read outside the source, and the aspect-ratio completion.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "core/errcodes.h"
#include "imaging/scale.h"
#include "kernel_cases.h"

namespace {

// Source and destination buffers sized exactly, so that the address checker
// flags any read past the last row or column.
struct Buffers {
    std::vector<uint8_t> src, dst, srcMask, dstMask, srcAlpha, dstAlpha;
    ScaleRequest req;
};

Buffers Make(std::mt19937& rng, int32_t sw, int32_t sh, int32_t dw, int32_t dh, int32_t bpp,
             int32_t format, bool smooth, bool planes, int32_t srcPad = 0, int32_t dstPad = 0) {
    Buffers b;
    const int32_t srl = sw + srcPad, drl = dw + dstPad;
    b.src.resize(static_cast<size_t>(srl) * sh * bpp);
    for (auto& v : b.src) v = static_cast<uint8_t>(rng());
    b.dst.assign(static_cast<size_t>(drl) * dh * bpp, 0xA5);
    ScaleRequest& q = b.req;
    if (planes) {
        const int32_t smb = (sw + 7) / 8, dmb = (dw + 7) / 8;
        b.srcMask.resize(static_cast<size_t>(smb) * sh);
        for (auto& v : b.srcMask) v = static_cast<uint8_t>(rng());
        b.dstMask.assign(static_cast<size_t>(dmb) * dh, 0);
        b.srcAlpha.resize(static_cast<size_t>(sw) * sh);
        for (auto& v : b.srcAlpha) v = static_cast<uint8_t>(rng());
        b.dstAlpha.assign(static_cast<size_t>(dw) * dh, 0);
        q.srcMask = b.srcMask.data();
        q.srcMaskRowBytes = smb;
        q.dstMask = b.dstMask.data();
        q.dstMaskRowBytes = dmb;
        q.srcAlpha = b.srcAlpha.data();
        q.srcAlphaRowBytes = sw;
        q.dstAlpha = b.dstAlpha.data();
        q.dstAlphaRowBytes = dw;
    }
    q.srcPixels = b.src.data();
    q.dstPixels = b.dst.data();
    q.srcWidth = sw;
    q.srcHeight = sh;
    q.dstWidth = dw;
    q.dstHeight = dh;
    q.srcRowLength = srl;
    q.dstRowLength = drl;
    q.bytesPerPixel = bpp;
    q.pixelFormat = format;
    q.smooth = smooth;
    return b;
}

constexpr int32_t kFormats[] = {10, 11, 12, 13, 0, 1, 2, 3, 4, 5, 6, 7};

int32_t BytesOf(int32_t format) { return format >= 10 ? 4 : 2; }

// A request between two contiguous 4-byte ARGB buffers, without planes.
ScaleRequest Between(const std::vector<uint32_t>& src, int32_t sw, int32_t sh, std::vector<uint32_t>& dst,
                     int32_t dw, int32_t dh, bool smooth) {
    ScaleRequest q;
    q.srcPixels = src.data();
    q.dstPixels = dst.data();
    q.srcWidth = sw;
    q.srcHeight = sh;
    q.dstWidth = dw;
    q.dstHeight = dh;
    q.srcRowLength = sw;
    q.dstRowLength = dw;
    q.smooth = smooth;
    return q;
}

// One row of single-channel pixels (the value in blue) scaled smoothly.
std::vector<uint32_t> SmoothRow(const std::vector<uint32_t>& src, int32_t dstWidth) {
    std::vector<uint32_t> dst(static_cast<size_t>(dstWidth), 0xDEADBEEFu);
    ScalePixelBuffer(Between(src, static_cast<int32_t>(src.size()), 1, dst, dstWidth, 1, true));
    return dst;
}

}  // namespace

TEST(Scale, TwoToFourPixelsPlainlyRepeatsEachPixel) {
    std::vector<uint32_t> src = {0x11111111u, 0x22222222u};
    std::vector<uint32_t> dst(4, 0);
    ScalePixelBuffer(Between(src, 2, 1, dst, 4, 1, false));
    EXPECT_EQ(dst, (std::vector<uint32_t>{0x11111111u, 0x11111111u, 0x22222222u, 0x22222222u}));
}

TEST(Scale, SmoothOfAFlatColourIsThatColour) {
    std::vector<uint32_t> src(5 * 3, 0x00406080u);
    std::vector<uint32_t> dst(13 * 7, 0);
    for (KernelIsa isa : Isas()) {
        ScalePixelBufferWith(isa, Between(src, 5, 3, dst, 13, 7, true));
        for (uint32_t p : dst) EXPECT_EQ(p, 0x00406080u);
    }
}

TEST(Scale, ZeroSizesDrawNothing) {
    std::mt19937 rng(1);
    for (auto [sw, sh, dw, dh] : {std::array<int32_t, 4>{0, 3, 4, 4}, {3, 0, 4, 4}, {3, 3, 0, 4}, {3, 3, 4, 0}}) {
        Buffers b = Make(rng, std::max(sw, 1), std::max(sh, 1), std::max(dw, 1), std::max(dh, 1), 4, 10,
                         false, false);
        b.req.srcWidth = sw;
        b.req.srcHeight = sh;
        b.req.dstWidth = dw;
        b.req.dstHeight = dh;
        const auto before = b.dst;
        ScalePixelBuffer(b.req);
        ScalePixelBufferRef(b.req);
        EXPECT_EQ(b.dst, before);
    }
}

TEST(Scale, IndicesStayInsideTheSource) {
    for (auto [s, d] : {std::pair<int32_t, int32_t>{3, 100000}, {100000, 3}, {1, 7}, {7, 1}, {65537, 65535}}) {
        const uint64_t step = ScaleStep(s, d);
        EXPECT_EQ(ScaleIndex(step, 0), 0);
        EXPECT_LE(ScaleIndex(step, d - 1), s - 1);
        EXPECT_GE(ScaleIndex(step, d - 1), s - 1 - (s + d - 1) / d);
    }
    // Growing 3 rows to 100000 uses every source row, the last one included.
    const uint64_t step = ScaleStep(3, 100000);
    EXPECT_EQ(ScaleIndex(step, 99999), 2);
    EXPECT_EQ(ScaleIndex(step, 33333), 0);
    EXPECT_EQ(ScaleIndex(step, 33334), 1);
}

// Smooth samples sit at pixel centres: halving averages each pair, doubling
// puts quarter steps between the pixels and repeats the edge pixels, since
// the outer half pixels have no second neighbour.
TEST(Scale, SmoothSamplesAtPixelCentres) {
    EXPECT_EQ(SmoothRow({0, 100, 200, 50}, 2), (std::vector<uint32_t>{50, 125}));
    EXPECT_EQ(SmoothRow({0, 255}, 4), (std::vector<uint32_t>{0, 63, 191, 255}));
    EXPECT_EQ(SmoothRow({255, 0}, 4), (std::vector<uint32_t>{255, 191, 63, 0}));
    // Same size: every pixel lands on itself.
    const std::vector<uint32_t> row = {0x00010203u, 0x00FF8040u, 0x00000000u, 0x00123456u, 0x00FFFFFFu};
    EXPECT_EQ(SmoothRow(row, 5), row);
}

TEST(Scale, MatchesTheReferenceOnRandomSizes) {
    std::mt19937 rng(2);
    for (int32_t sw = 1; sw <= 67; ++sw)
        for (bool smooth : {false, true})
            for (int32_t format : {10, kFormats[rng() % std::size(kFormats)]}) {
                const int32_t sh = 1 + static_cast<int32_t>(rng() % 9);
                const int32_t dw = 1 + static_cast<int32_t>(rng() % 67);
                const int32_t dh = 1 + static_cast<int32_t>(rng() % 19);
                const auto sp = static_cast<int32_t>(rng() % 5), dp = static_cast<int32_t>(rng() % 5);
                for (KernelIsa isa : Isas()) {
                    std::mt19937 r1(sw * 7 + smooth), r2(sw * 7 + smooth);
                    Buffers a = Make(r1, sw, sh, dw, dh, BytesOf(format), format, smooth, true, sp, dp);
                    Buffers b = Make(r2, sw, sh, dw, dh, BytesOf(format), format, smooth, true, sp, dp);
                    ScalePixelBufferWith(isa, a.req);
                    ScalePixelBufferRef(b.req);
                    ASSERT_EQ(a.dst, b.dst) << sw << "x" << sh << " -> " << dw << "x" << dh << " format " << format
                                            << " isa " << static_cast<int>(isa);
                    ASSERT_EQ(a.dstMask, b.dstMask);
                    ASSERT_EQ(a.dstAlpha, b.dstAlpha);
                }
            }
}

// Longer rows and columns, so that the vector loops run many groups and the
// cache of interpolated source rows is reused, advanced by one and skipped
// over, at ratios on both sides of 1.
TEST(Scale, SmoothArgbMatchesTheReferenceAtManyRatios) {
    std::mt19937 rng(5);
    const std::array<std::array<int32_t, 4>, 7> shapes = {
        {{40, 30, 137, 101}, {137, 101, 40, 30}, {99, 70, 100, 71}, {100, 71, 99, 70}, {64, 64, 128, 128},
         {2, 50, 131, 3}, {131, 3, 2, 50}}};
    for (const auto& sh : shapes)
        for (KernelIsa isa : Isas()) {
            std::mt19937 r1(sh[0] * 31 + sh[2]), r2(sh[0] * 31 + sh[2]);
            const auto pad = static_cast<int32_t>(rng() % 3);
            Buffers a = Make(r1, sh[0], sh[1], sh[2], sh[3], 4, 10, true, false, pad, pad);
            Buffers b = Make(r2, sh[0], sh[1], sh[2], sh[3], 4, 10, true, false, pad, pad);
            ScalePixelBufferWith(isa, a.req);
            ScalePixelBufferRef(b.req);
            ASSERT_EQ(a.dst, b.dst) << sh[0] << "x" << sh[1] << " -> " << sh[2] << "x" << sh[3] << " isa "
                                    << static_cast<int>(isa);
        }
}

// Plain scaling of rows long enough for the gathering loops, both ways and
// at the same width (copied rows), 2- and 4-byte pixels, with padded rows.
// The buffers are sized exactly, so the address checker flags a read past
// the last row.
TEST(Scale, PlainMatchesTheReferenceOnLongRows) {
    std::mt19937 rng(6);
    for (int round = 0; round < 60; ++round)
        for (int32_t format : {10, 4}) {
            const int32_t sw = 1 + static_cast<int32_t>(rng() % 300);
            const int32_t dw = round % 5 == 0 ? sw : 1 + static_cast<int32_t>(rng() % 300);
            const int32_t sh = 1 + static_cast<int32_t>(rng() % 12), dh = 1 + static_cast<int32_t>(rng() % 12);
            const auto sp = static_cast<int32_t>(rng() % 3), dp = static_cast<int32_t>(rng() % 3);
            for (KernelIsa isa : Isas()) {
                std::mt19937 r1(round), r2(round);
                Buffers a = Make(r1, sw, sh, dw, dh, BytesOf(format), format, false, false, sp, dp);
                Buffers b = Make(r2, sw, sh, dw, dh, BytesOf(format), format, false, false, sp, dp);
                ScalePixelBufferWith(isa, a.req);
                ScalePixelBufferRef(b.req);
                ASSERT_EQ(a.dst, b.dst) << sw << "x" << sh << " -> " << dw << "x" << dh << " format " << format
                                        << " isa " << static_cast<int>(isa);
            }
        }
}

TEST(Scale, MaskOnlyLeavesPixelsAndAlpha) {
    std::mt19937 rng(3);
    Buffers b = Make(rng, 9, 5, 17, 11, 4, 10, false, true);
    b.req.maskOnly = true;
    const auto pixels = b.dst;
    const auto alpha = b.dstAlpha;
    ScalePixelBuffer(b.req);
    EXPECT_EQ(b.dst, pixels);
    EXPECT_EQ(b.dstAlpha, alpha);
    std::vector<uint8_t> ref(b.dstMask.size(), 0);
    ScaleRequest r = b.req;
    r.dstMask = ref.data();
    ScalePixelBufferRef(r);
    EXPECT_EQ(b.dstMask, ref);
}

TEST(Scale, ExtremeShapesNeverReadOutsideTheSource) {
    std::mt19937 rng(4);
    const std::array<std::array<int32_t, 4>, 8> shapes = {{{1, 300, 5, 7},
                                                           {300, 1, 7, 5},
                                                           {1, 1, 9, 9},
                                                           {5, 7, 1, 300},
                                                           {7, 5, 300, 1},
                                                           {1, 3, 1, 100000},
                                                           {1, 100000, 1, 3},
                                                           {2, 3, 3, 100000}}};
    for (const auto& s : shapes)
        for (bool smooth : {false, true})
            for (int32_t format : {10, 4}) {
                for (KernelIsa isa : Isas()) {
                    Buffers a = Make(rng, s[0], s[1], s[2], s[3], BytesOf(format), format, smooth, true);
                    ScalePixelBufferWith(isa, a.req);
                }
                Buffers b = Make(rng, s[0], s[1], s[2], s[3], BytesOf(format), format, smooth, true);
                ScalePixelBufferRef(b.req);
            }
}

TEST(Scale, ThreeRowsToManyAndBackEndsOnTheLastRow) {
    std::vector<uint32_t> src = {1, 2, 3};
    std::vector<uint32_t> tall(100000, 0);
    ScalePixelBuffer(Between(src, 1, 3, tall, 1, 100000, false));
    EXPECT_EQ(tall.front(), 1u);
    EXPECT_EQ(tall.back(), 3u);
    std::vector<uint32_t> back(3, 0);
    ScalePixelBuffer(Between(tall, 1, 100000, back, 1, 3, false));
    // Positions start at 0: rows 0, 33333 and 66666 of the tall buffer.
    EXPECT_EQ(back, (std::vector<uint32_t>{1, 1, 2}));
}

TEST(KeepAspectRatio, CompletesTheMissingSideOrRefuses) {
    constexpr int32_t kAsk = kKeepAspectRatio;
    const struct {
        int32_t sourceW, sourceH, w, h, code, wantW, wantH;
    } cases[] = {
        {640, 480, 320, kAsk, 0, 320, 240}, {640, 480, 100, kAsk, 0, 100, 75}, {640, 480, kAsk, 240, 0, 320, 240},
        {3, 2, kAsk, 3, 0, 5, 3},  // 4.5 wide: the half rounds up
        {640, 480, 0, kAsk, ERR_BADDIMENSIONS, 0, kAsk}, {640, 480, kAsk, kAsk, ERR_WRONGUSAGE, kAsk, kAsk},
        {640, 480, 5, -1, ERR_BADDIMENSIONS, 5, -1},
    };
    for (const auto& c : cases) {
        int32_t w = c.w, h = c.h;
        EXPECT_EQ(KeepAspectRatio(c.sourceW, c.sourceH, &w, &h), c.code) << c.w << "x" << c.h;
        if (c.code == 0) {
            EXPECT_EQ(w, c.wantW);
            EXPECT_EQ(h, c.wantH);
        }
    }
}
