// Swirl and water ripple: their geometry's fixed points, the three kernel
// modes, the 16-bit twins, and the bitmap operations' limits.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/swirlripple.h"

namespace {

// Each pixel holds its own position, so a result tells where it came from.
std::vector<uint32_t> Positions(int w, int h) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint32_t>(i);
    return p;
}

struct SwirlRig {
    std::vector<double> sine = std::vector<double>(kDisplaceTableSize), cosine = sine;
    qbSwirlRequest r;
    SwirlRig(void* dst, int w, int h, uint32_t format) {
        r.destination = dst;
        r.destinationPitch = r.sourcePitch = r.source2Pitch = w;
        r.sine = sine.data();
        r.cosine = cosine.data();
        r.pixelFormat = format;
        r.width = w;
        r.height = h;
        InitSwirlTables(r);
    }
};

struct RippleRig {
    std::vector<double> sine = std::vector<double>(kDisplaceTableSize);
    std::vector<int32_t> distances;
    qbRippleRequest r;
    RippleRig(void* dst, int w, int h, uint32_t format, int cx, int cy) : distances(static_cast<size_t>(w) * h) {
        r.destination = dst;
        r.destinationPitch = r.sourcePitch = r.source2Pitch = w;
        r.distances = distances.data();
        r.sine = sine.data();
        r.waveLength = 10;
        r.amplitude = 3;
        r.width = w;
        r.height = h;
        r.pixelFormat = format;
        r.centreX = cx;
        r.centreY = cy;
        r.extent = std::max(cx, cy);
        InitRippleTables(r);
    }
};

std::vector<uint32_t> Swirled(int w, int h, int angle) {
    auto p = Positions(w, h);
    SwirlRig s(p.data(), w, h, kFormatARGB);
    SwirlPixels32(s.r, angle);
    return p;
}

TEST(Swirl, GeometryFixedPoints) {
    const int w = 37, h = 23;
    EXPECT_EQ(Swirled(w, h, 0), Positions(w, h));
    // Above 359 degrees the turn folds back: 400 turns as 320 does.
    EXPECT_EQ(Swirled(w, h, 400), Swirled(w, h, 320));
    const auto p = Swirled(31, 31, 180);
    EXPECT_EQ(p[0], 0u);  // a corner lies beyond the radius
    EXPECT_EQ(p[30], 30u);
    EXPECT_EQ(p[31 * 31 - 1], 31u * 31 - 1);
    EXPECT_NE(p, Positions(31, 31));
}

// The eight-at-a-time source positions equal the one-by-one ones: wide and
// tall pictures (a scale of 1 on either axis), table and direct turns
// (negative angles), widths that leave a tail.
TEST(Swirl, EveryInstructionSetFindsTheSameSources) {
    for (auto [w, h] : {std::pair{301, 157}, {157, 301}, {64, 64}, {13, 5}}) {
        for (int angle : {180, -90, 359, 400, -359}) {
            auto plain = Positions(w, h), wide = plain;
            SwirlRig a(plain.data(), w, h, kFormatARGB), b(wide.data(), w, h, kFormatARGB);
            SwirlPixels32With(KernelIsa::Portable, a.r, angle);
            SwirlPixels32With(KernelIsa::Avx512, b.r, angle);
            ASSERT_EQ(plain, wide) << w << "x" << h << " " << angle;
        }
    }
}

TEST(Swirl, FilterModeMovesMaskAndAlphaAlong) {
    const int w = 29, h = 17, rowBytes = (w + 7) / 8;
    auto p = Positions(w, h);
    std::vector<uint8_t> mask(static_cast<size_t>(rowBytes) * h), alpha(static_cast<size_t>(w) * h);
    for (int i = 0; i < w * h; ++i) {
        if ((i * 7) % 3 == 0) mask[static_cast<size_t>((i / w) * rowBytes + (i % w) / 8)] |= 0x80 >> (i % w % 8);
        alpha[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13);
    }
    const auto maskBefore = mask, alphaBefore = alpha;
    SwirlRig s(p.data(), w, h, kFormatARGB);
    s.r.destinationMask = mask.data();
    s.r.destinationMaskPitch = s.r.sourceMaskPitch = rowBytes;
    s.r.destinationAlpha = alpha.data();
    s.r.destinationAlphaPitch = s.r.sourceAlphaPitch = w;
    SwirlPixels32(s.r, 250);
    auto bit = [&](const std::vector<uint8_t>& m, int i) {
        return (m[static_cast<size_t>((i / w) * rowBytes + (i % w) / 8)] >> (7 - i % w % 8)) & 1;
    };
    for (int i = 0; i < w * h; ++i) {
        const int from = static_cast<int>(p[static_cast<size_t>(i)]);
        ASSERT_EQ(bit(mask, i), bit(maskBefore, from)) << i;
        ASSERT_EQ(alpha[static_cast<size_t>(i)], alphaBefore[static_cast<size_t>(from)]) << i;
    }
}

TEST(Swirl, AlphaAndBlendModes) {
    const int w = 20, h = 20;
    std::vector<uint32_t> dst(w * h, 0x11111111), a(w * h, 0x00C08040), b(w * h, 0x00204060);
    std::vector<uint8_t> srcAlpha(w * h, 200), dstAlpha(w * h, 77);
    srcAlpha[0] = 0;  // a corner, beyond the radius: it maps to itself
    SwirlRig s(dst.data(), w, h, kFormatARGB);
    s.r.source = a.data();
    s.r.sourceAlpha = srcAlpha.data();
    s.r.sourceAlphaPitch = w;
    s.r.destinationAlpha = dstAlpha.data();
    s.r.destinationAlphaPitch = w;
    SwirlPixels32(s.r, 360);  // k = 127
    EXPECT_EQ(dst[0], 0x11111111u);
    EXPECT_EQ(dstAlpha[0], 0);
    EXPECT_EQ(dst[1], 0x00C08040u);
    EXPECT_EQ(dstAlpha[1], 200 * 127 / 255);
    s.r.reverse = true;
    SwirlPixels32(s.r, 360);
    EXPECT_EQ(dstAlpha[1], 200 * 128 / 255);

    SwirlRig blend(dst.data(), w, h, kFormatARGB);
    blend.r.source = a.data();
    blend.r.source2 = b.data();
    SwirlPixels32(blend.r, 360);
    auto mix = [](int c1, int c2, int k) { return (((c1 - c2) * k) >> 8) + c2; };
    const uint32_t want = static_cast<uint32_t>(mix(0xC0, 0x20, 127) << 16 | mix(0x80, 0x40, 127) << 8 |
                                                mix(0x40, 0x60, 127));
    for (uint32_t v : dst) ASSERT_EQ(v, want);
}

TEST(Swirl, SixteenBitTwinMovesTheSamePixels) {
    const int w = 41, h = 27;
    std::vector<uint16_t> p16(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < p16.size(); ++i) p16[i] = static_cast<uint16_t>(i);
    SwirlRig s(p16.data(), w, h, kFormatRGB565);
    SwirlPixels16(s.r, -200);
    const auto p32 = Swirled(w, h, -200);
    for (size_t i = 0; i < p16.size(); ++i) ASSERT_EQ(p16[i], p32[i]) << i;

    auto r16 = std::vector<uint16_t>(p16.size());
    for (size_t i = 0; i < r16.size(); ++i) r16[i] = static_cast<uint16_t>(i);
    auto r32 = Positions(w, h);
    RippleRig a(r16.data(), w, h, kFormatRGB565, 13, 9), b(r32.data(), w, h, kFormatARGB, 13, 9);
    RipplePixels16(a.r, -1);
    RipplePixels32(b.r, -1);
    for (size_t i = 0; i < r16.size(); ++i) ASSERT_EQ(r16[i], r32[i]) << i;
    // The kernel moves each pixel where the per-pixel offset says.
    b.r.current = b.distances.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            ComputeRippleOffset(b.r.phase, x, y, b.r);
            ASSERT_EQ(r32[static_cast<size_t>(y * w + x)], static_cast<uint32_t>(b.r.resultY * w + b.r.resultX));
        }
}

TEST(Ripple, CentreStaysAndBeyondTheExtentMovesTheOtherWay) {
    const int w = 140, h = 9;
    auto p = Positions(w, h);
    RippleRig rig(p.data(), w, h, kFormatARGB, 20, 4);
    rig.r.waveLength = 10;
    rig.r.amplitude = 1;
    rig.r.extent = 50;
    RipplePixels32(rig.r, -1);
    auto from = [&](int x, int y) { return static_cast<int>(p[static_cast<size_t>(y * w + x)]) % w; };
    EXPECT_EQ(p[4 * w + 20], 4u * w + 20);
    // At distances 12 and 62 the wave has the same phase; the damping
    // changes sign at the extent.
    EXPECT_GT(from(32, 4), 32);
    EXPECT_LT(from(82, 4), 82);
}

TEST(Ripple, BlendFadesByStep) {
    const int w = 16, h = 16;
    std::vector<uint32_t> dst(w * h), a(w * h, 0x00FF0000), b(w * h, 0x000000FF);
    RippleRig rig(dst.data(), w, h, kFormatARGB, 8, 8);
    rig.r.source = a.data();
    rig.r.source2 = b.data();
    rig.r.steps = 10;
    rig.r.amplitudePerStep = 0.5;
    RipplePixels32(rig.r, 7);  // k = 7 * 255 / 20 = 89
    EXPECT_EQ(rig.r.amplitude, 3.5);
    for (uint32_t v : dst) ASSERT_EQ(v, static_cast<uint32_t>((255 * 89 >> 8) << 16 | ((-255 * 89 >> 8) + 255)));
    RipplePixels32(rig.r, 14);
    EXPECT_EQ(rig.r.amplitude, 3.0);
}

TEST(Ripple, LargePhaseAndCornerCentre) {
    const int w = 640, h = 480;
    auto p = Positions(w, h);
    RippleRig rig(p.data(), w, h, kFormatARGB, 0, 0);
    EXPECT_EQ(rig.r.extent, 0);
    // A huge phase is reduced at once, not step by step: the call returns
    // (a loop of subtractions would run past the test's time limit).
    rig.r.phase = 1e9;
    rig.r.waveLength = 1;
    RipplePixels32(rig.r, -1);
    // Every pixel comes from where the wave, its phase reduced by fmod,
    // sends it; the extent of 0 damps as one of 1.
    const auto limit = [](double v, int size) { return !(v >= 0) ? 0 : v >= size - 1 ? size - 1 : static_cast<int>(v); };
    int moved = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto d = static_cast<int>(std::sqrt(static_cast<double>(x * x + y * y)));
            double a = std::fmod(d * 2 * M_PI - 1e9, 2 * M_PI);
            if (a < 0) a += 2 * M_PI;
            double v = 3 * rig.sine[static_cast<size_t>(std::min(static_cast<int>(a / 0.001), kDisplaceTableSize - 1))];
            v = (1.0 - d) * v;
            if (d != 0) v /= d;
            const uint32_t want = static_cast<uint32_t>(limit(y + y * v, h) * w + limit(x + x * v, w));
            ASSERT_EQ(p[static_cast<size_t>(y * w + x)], want) << x << "," << y;
            moved += want != static_cast<uint32_t>(y * w + x);
        }
    EXPECT_GT(moved, w * h / 2);
    EXPECT_EQ(IntSqrt64(int64_t{100000} * 100000 + 1), 100000);
    EXPECT_EQ(IntSqrt64(int64_t{46341} * 46341 - 1), 46340);
}

TEST(SwirlRippleBitmaps, LimitsAndPlanes) {
    BitmapPtr a(AllocBitmap(33, 21, 0, nullptr)), b(AllocBitmap(33, 21, 0, nullptr));
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 33; ++x) {
            WriteBitmapPixel(a.get(), x, y, static_cast<uint32_t>(y * 33 + x), false);
            WriteBitmapPixel(b.get(), x, y, static_cast<uint32_t>(y * 33 + x), false);
        }
    ASSERT_EQ(SwirlBitmap(a.get(), nullptr, nullptr, 33, 21, 720), 0);
    ASSERT_EQ(SwirlBitmap(b.get(), nullptr, nullptr, 33, 21, 359), 0);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 33; ++x) ASSERT_EQ(ReadBitmapPixel(a.get(), x, y, false), ReadBitmapPixel(b.get(), x, y, false));
    // A ripple at a corner, a zero wave length and centres out of range.
    EXPECT_EQ(WaterRippleBitmap(a.get(), nullptr, nullptr, 33, 21, 0, 5, 3, -2.0, 7.0), 0);
    EXPECT_EQ(WaterRippleBitmap(a.get(), nullptr, nullptr, 33, 21, 32, 1, 0, 0, 0), 0);
    EXPECT_NE(WaterRippleBitmap(a.get(), nullptr, nullptr, 33, 21, 32, 1, 0, std::nan(""), 0), 0);
}

TEST(SwirlRippleBitmaps, QuantizeAndDitheredMonochrome) {
    BitmapPtr b(AllocBitmap(40, 30, 0, nullptr));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            WriteBitmapPixel(b.get(), x, y, static_cast<uint32_t>(x * 6) << 16 | static_cast<uint32_t>(y * 8) << 8 | 77,
                             false);
    ASSERT_EQ(QuantizeBitmap(b.get(), 40, 30, 16, true), 0);
    std::vector<uint32_t> seen;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const uint32_t v = ReadBitmapPixel(b.get(), x, y, false) & 0xFFFFFF;
            if (std::find(seen.begin(), seen.end(), v) == seen.end()) seen.push_back(v);
        }
    EXPECT_LE(seen.size(), 16u);
    EXPECT_GT(seen.size(), 8u);
    ASSERT_EQ(MonochromeBitmap(b.get(), 40, 30, true), 0);
    int white = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const uint32_t v = ReadBitmapPixel(b.get(), x, y, false) & 0xFFFFFF;
            ASSERT_TRUE(v == 0 || v == 0xFFFFFF) << std::hex << v;
            white += v != 0;
        }
    EXPECT_GT(white, 0);
    EXPECT_LT(white, 1200);
}

}  // namespace
