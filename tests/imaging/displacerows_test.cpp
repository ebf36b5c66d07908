// The vector rows of the swirl and ripple kernels (AVX-512 and AVX2) give
// the one-by-one loops' pixels exactly: random pictures, every mode, the 32-bit formats,
// sizes around the vector widths, padded rows, and distance tables with
// entries the ripple's own table never holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/displacerows.h"
#include "imaging/kernelisa.h"
#include "imaging/swirlripple.h"

namespace {

enum class Mode { Filter, Blend, Alpha };

// Two runs of one kernel on the same random planes, one per instruction set.
struct Twin {
    int32_t w, h, pitch, alphaPitch, maskPitch;
    std::vector<uint32_t> a, b, out[2];
    std::vector<uint8_t> alpha, outAlpha[2], mask[2];
    std::vector<double> sine = std::vector<double>(kDisplaceTableSize), cosine = sine;
    std::vector<int32_t> distances;

    Twin(int32_t width, int32_t height, std::mt19937& rng)
        : w(width), h(height), pitch(width + static_cast<int32_t>(rng() % 3)), alphaPitch(width + 1),
          maskPitch((width + 7) / 8 + 1) {
        const auto pixels = static_cast<size_t>(pitch) * static_cast<size_t>(h);
        a.resize(pixels), b.resize(pixels), out[0].resize(pixels);
        for (size_t i = 0; i < pixels; ++i) a[i] = rng(), b[i] = rng(), out[0][i] = rng();
        out[1] = out[0];
        alpha.resize(static_cast<size_t>(alphaPitch) * static_cast<size_t>(h));
        // Mostly opaque or clear, as layer pictures are, with some between.
        for (auto& v : alpha) v = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng() % 2 ? 255 : rng());
        outAlpha[0].resize(alpha.size());
        for (auto& v : outAlpha[0]) v = static_cast<uint8_t>(rng());
        outAlpha[1] = outAlpha[0];
        mask[0].resize(static_cast<size_t>(maskPitch) * static_cast<size_t>(h));
        for (auto& v : mask[0]) v = static_cast<uint8_t>(rng());
        mask[1] = mask[0];
    }

    template <typename R>
    void Set(R& r, int which, Mode mode, uint32_t format) {
        r.destination = out[which].data();
        r.sourcePitch = r.source2Pitch = r.destinationPitch = pitch;
        r.pixelFormat = format;
        r.width = w;
        r.height = h;
        r.sine = sine.data();
        if (mode == Mode::Blend) {
            r.source = a.data();
            r.source2 = b.data();
        } else if (mode == Mode::Alpha) {
            r.source = a.data();
            r.sourceAlpha = alpha.data();
            r.sourceAlphaPitch = alphaPitch;
            r.destinationAlpha = outAlpha[which].data();
            r.destinationAlphaPitch = alphaPitch;
        } else {
            r.destinationAlpha = outAlpha[which].data();
            r.destinationAlphaPitch = alphaPitch;
            r.destinationMask = mask[which].data();
            r.destinationMaskPitch = maskPitch;
        }
    }

    void ExpectSame(const char* what) const {
        ASSERT_EQ(out[0], out[1]) << what;
        ASSERT_EQ(outAlpha[0], outAlpha[1]) << what;
        ASSERT_EQ(mask[0], mask[1]) << what;
    }
};

constexpr Mode kModes[] = {Mode::Filter, Mode::Blend, Mode::Alpha};
constexpr uint32_t kFormats[] = {kFormatARGB, kFormatBGRA, kFormatRGBA, kFormatABGR};
// Each vector set against the one-by-one loops (a set the processor lacks
// falls back to one it has, so every run holds something to them).
constexpr KernelIsa kVectorSets[] = {KernelIsa::Avx512, KernelIsa::Avx2};

const std::pair<int32_t, int32_t> kSizes[] = {{1, 1}, {15, 2}, {16, 16}, {17, 5}, {33, 40}, {200, 120}, {121, 333}};

TEST(DisplaceRows, RippleMatchesTheOneByOneLoops) {
    std::mt19937 rng(5);
    for (KernelIsa isa : kVectorSets)
    for (auto [w, h] : kSizes)
        for (Mode mode : kModes)
            for (uint32_t format : kFormats) {
                Twin t(w, h, rng);
                const int32_t steps = 1 + static_cast<int32_t>(rng() % 30);
                const int32_t step = static_cast<int32_t>(rng() % (2 * steps + 1)) - (rng() % 4 == 0 ? 2 : 0);
                const double waveLength = (rng() % 2 ? 8.0 : 32.0);
                const int32_t cx = static_cast<int32_t>(rng() % (w + 20)) - 10, cy = static_cast<int32_t>(rng() % (h + 20)) - 10;
                const bool reverse = rng() % 2;
                for (int which = 0; which < 2; ++which) {
                    qbRippleRequest r;
                    t.distances.assign(static_cast<size_t>(w) * h, 0);
                    t.Set(r, which, mode, format);
                    r.distances = t.distances.data();
                    r.centreX = cx, r.centreY = cy;
                    r.extent = std::max(std::abs(cx), std::abs(cy));
                    r.waveLength = waveLength;
                    r.amplitude = 2.5;
                    r.amplitudePerStep = 0.4;
                    r.steps = steps;
                    r.reverse = reverse;
                    InitRippleTables(r);
                    RipplePixels32With(which ? isa : KernelIsa::Portable, r, step);
                }
                t.ExpectSame("ripple");
                if (::testing::Test::HasFatalFailure()) {
                    ADD_FAILURE() << "set " << int(isa) << " " << w << "x" << h << " mode " << int(mode) << " format " << format << " step "
                                  << step;
                    return;
                }
            }
}

// A caller's own distances: negative ones count as 0, and those beyond the
// picture's farthest corner are found one by one.
TEST(DisplaceRows, RippleTakesAnyDistanceTable) {
    std::mt19937 rng(9);
    const int32_t w = 70, h = 31;
    for (KernelIsa isa : kVectorSets) {
    Twin t(w, h, rng);
    std::vector<int32_t> distances(static_cast<size_t>(w) * h);
    for (auto& d : distances) d = static_cast<int32_t>(rng() % 200) - 20;
    for (size_t i = 0; i < distances.size(); i += 37) distances[i] = 5000 + static_cast<int32_t>(i);
    for (int which = 0; which < 2; ++which) {
        qbRippleRequest r;
        t.Set(r, which, Mode::Blend, kFormatARGB);
        r.centreX = 30, r.centreY = 12, r.extent = 30;
        InitRippleTables(r);
        r.distances = distances.data();
        r.waveLength = 16;
        r.amplitudePerStep = 0.3;
        r.steps = 10;
        RipplePixels32With(which ? isa : KernelIsa::Portable, r, 7);
    }
    t.ExpectSame("caller distances");
    // A centre far off the picture: distances past the factor table's end.
    Twin far(40, 20, rng);
    for (int which = 0; which < 2; ++which) {
        qbRippleRequest r;
        far.distances.assign(40 * 20, 0);
        far.Set(r, which, Mode::Blend, kFormatARGB);
        r.distances = far.distances.data();
        r.centreX = 3000000, r.centreY = -7, r.extent = 3000000;
        InitRippleTables(r);
        r.waveLength = 32;
        r.amplitudePerStep = 0.5;
        r.steps = 4;
        RipplePixels32With(which ? isa : KernelIsa::Portable, r, 3);
    }
    far.ExpectSame("far centre");
    }
}

TEST(DisplaceRows, SwirlMatchesTheOneByOneLoops) {
    std::mt19937 rng(3);
    for (KernelIsa isa : kVectorSets)
    for (auto [w, h] : kSizes)
        for (Mode mode : kModes)
            for (uint32_t format : kFormats) {
                Twin t(w, h, rng);
                // Transition angles 0-719, and a filter's negative and large ones.
                const int32_t angle =
                    mode == Mode::Filter ? static_cast<int32_t>(rng() % 2000) - 1000 : static_cast<int32_t>(rng() % 720);
                const bool reverse = rng() % 2;
                for (int which = 0; which < 2; ++which) {
                    qbSwirlRequest r;
                    t.Set(r, which, mode, format);
                    r.cosine = t.cosine.data();
                    r.reverse = reverse;
                    InitSwirlTables(r);
                    SwirlPixels32With(which ? isa : KernelIsa::Portable, r, angle);
                }
                t.ExpectSame("swirl");
                if (::testing::Test::HasFatalFailure()) {
                    ADD_FAILURE() << "set " << int(isa) << " " << w << "x" << h << " mode " << int(mode) << " format " << format << " angle "
                                  << angle;
                    return;
                }
            }
}

// Over an opaque alpha plane every pixel shows: the pixels are the filter
// mode's moves of the same source and every alpha is the level. A plane
// with one byte short of opaque still fetches its alpha.
TEST(DisplaceRows, AlphaModeOverAnOpaquePlane) {
    std::mt19937 rng(7);
    for (KernelIsa isa : {KernelIsa::Portable, KernelIsa::Avx2, KernelIsa::Avx512})
        for (const auto& size : {std::pair{1, 1}, {37, 21}, {200, 120}})
            for (bool ripple : {false, true}) {
                const int32_t w = size.first, h = size.second;  // (lambdas take no structured bindings in clang 14)
                Twin t(w, h, rng);
                std::fill(t.alpha.begin(), t.alpha.end(), uint8_t{255});
                const auto run = [&](int which, Mode mode) {
                    if (ripple) {
                        qbRippleRequest r;
                        t.distances.assign(static_cast<size_t>(w) * h, 0);
                        t.Set(r, which, mode, kFormatARGB);
                        if (mode == Mode::Filter) r.source = t.a.data(), r.destinationAlpha = nullptr,
                                                  r.destinationMask = nullptr;
                        r.distances = t.distances.data();
                        r.centreX = w / 3, r.centreY = h / 2, r.extent = w / 2;
                        r.waveLength = 16, r.amplitudePerStep = 0.4, r.steps = 10;
                        InitRippleTables(r);
                        RipplePixels32With(isa, r, 9);
                    } else {
                        qbSwirlRequest r;
                        t.Set(r, which, mode, kFormatARGB);
                        if (mode == Mode::Filter) r.source = t.a.data(), r.destinationAlpha = nullptr,
                                                  r.destinationMask = nullptr;
                        r.cosine = t.cosine.data();
                        r.reverse = true;
                        InitSwirlTables(r);
                        SwirlPixels32With(isa, r, 300);
                    }
                };
                run(0, Mode::Filter);
                run(1, Mode::Alpha);
                ASSERT_EQ(t.out[0], t.out[1]) << w << "x" << h << " ripple " << ripple;
                const auto level = static_cast<uint8_t>(ripple ? 9 * 255 / 20 : 255 - 300 * 255 / 720);
                for (size_t y = 0; y < static_cast<size_t>(h); ++y)
                    for (size_t x = 0; x < static_cast<size_t>(w); ++x)
                        ASSERT_EQ(t.outAlpha[1][y * static_cast<size_t>(t.alphaPitch) + x], level) << x << "," << y;
                // One byte below opaque takes the fetching path: the same pixels.
                t.alpha[0] = 254;
                run(1, Mode::Alpha);
                ASSERT_EQ(t.out[0], t.out[1]);
            }
}

// The blend keeps the alpha byte of ARGB and clears it in the other 32-bit
// formats, as the pixel-by-pixel mix through ARGB does.
TEST(DisplaceRows, BlendKeepsTheBytesTheFormatHolds) {
    std::mt19937 rng(1);
    for (KernelIsa isa : kVectorSets)
    for (uint32_t format : kFormats) {
        Twin t(40, 3, rng);
        qbSwirlRequest r;
        t.Set(r, 1, Mode::Blend, format);
        r.cosine = t.cosine.data();
        InitSwirlTables(r);
        SwirlPixels32With(isa, r, 0);  // no turn, k = 0: the second picture
        for (int32_t x = 0; x < 40; ++x) {
            const uint32_t want = ARGBToPixel32(static_cast<int>(format), Pixel32ToARGB(static_cast<int>(format), t.b[x]));
            ASSERT_EQ(t.out[1][x], want) << format << " " << x;
        }
    }
}

// The AVX-512 moves give the same pixels whether a group's rows come by
// loads or every lane by a gather: positions mostly near their own pixel
// over a few rows, some far, on a picture wider and narrower than a window.
TEST(DisplaceRows, WindowRowsChangeNoPixel) {
    if (!HasAvx512()) GTEST_SKIP() << "no AVX-512";
    std::mt19937 rng(13);
    for (const int32_t w : {24, 200}) {
        const int32_t h = 40, pitch = w + 3;
        std::vector<uint32_t> a(static_cast<size_t>(pitch) * h), b(a.size());
        std::vector<uint8_t> alpha(a.size());
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = rng(), b[i] = rng(), alpha[i] = static_cast<uint8_t>(rng() % 3 ? 255 : rng() % 2 ? 0 : rng());
        std::vector<int32_t> xs(static_cast<size_t>(w)), ys(xs.size());
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const bool far = rng() % 9 == 0;
                const auto near = [&](int32_t at, uint32_t spread) {
                    return at + static_cast<int32_t>(rng() % spread) - static_cast<int32_t>(spread / 2);
                };
                xs[x] = std::clamp(far ? static_cast<int32_t>(rng() % w) : near(x, 7), 0, w - 1);
                ys[x] = std::clamp(far ? static_cast<int32_t>(rng() % h) : near(y, 5), 0, h - 1);
            }
            std::vector<uint32_t> out[4][3];
            std::vector<uint8_t> outAlpha[4];
            int32_t done[4][3];
            for (int32_t rows = 0; rows < 4; ++rows) {
                const qbDisplaceRow row{xs.data(), ys.data(), w, w, rows};
                for (auto& o : out[rows]) o.assign(static_cast<size_t>(w), 0x12345678u);
                outAlpha[rows].assign(static_cast<size_t>(w), 7);
                done[rows][0] = MoveRow32Avx512(row, a.data(), pitch, out[rows][0].data());
                done[rows][1] =
                    MixRow32Avx512(row, a.data(), pitch, b.data(), pitch, 100, 0xFFFFFFFFu, out[rows][1].data());
                done[rows][2] = AlphaRow32Avx512(row, a.data(), pitch, alpha.data(), pitch, 200, out[rows][2].data(),
                                                 outAlpha[rows].data());
                // A gathered alpha next to the plane's start stops the row
                // early; the caller's one-by-one loop does the rest.
                for (int32_t x = done[rows][2]; x < w; ++x) {
                    const size_t at = static_cast<size_t>(ys[x]) * pitch + xs[x];
                    if (alpha[at] == 0) {
                        outAlpha[rows][x] = 0;
                        continue;
                    }
                    out[rows][2][x] = a[at];
                    outAlpha[rows][x] = static_cast<uint8_t>(alpha[at] * 200u / 255);
                }
                done[rows][2] = 0;
            }
            for (int32_t rows = 1; rows < 4; ++rows) {
                for (int m = 0; m < 3; ++m) {
                    ASSERT_EQ(done[rows][m], done[0][m]) << w << " row " << y << " mode " << m;
                    ASSERT_EQ(out[rows][m], out[0][m]) << w << " row " << y << " mode " << m << " window rows " << rows;
                }
                ASSERT_EQ(outAlpha[rows], outAlpha[0]) << w << " row " << y;
            }
        }
    }
}


// How far the AVX-512 rows go before the caller's loop takes over: every
// whole group of sixteen, except that a gathered alpha among a plane's first
// three bytes stops the row at its group (offset 2 stops, offset 3 does not).
TEST(DisplaceRows, VectorRowsStopOnlyAtThePlanesFirstBytes) {
    if (!HasAvx512()) GTEST_SKIP() << "no AVX-512";
    const int32_t w = 40, h = 3, pitch = w;
    std::vector<uint32_t> a(static_cast<size_t>(pitch) * h, 0x112233u), out(static_cast<size_t>(w));
    std::vector<uint8_t> alpha(a.size(), 255), outAlpha(out.size());
    std::vector<int32_t> xs(static_cast<size_t>(w)), ys(xs.size(), 1);
    for (int32_t x = 0; x < w; ++x) xs[x] = w - 1 - x;
    for (const int32_t rows : {0, 3}) {
        const qbDisplaceRow row{xs.data(), ys.data(), w, w, rows};
        EXPECT_EQ(MoveRow32Avx512(row, a.data(), pitch, out.data()), 32) << rows;
        EXPECT_EQ(MixRow32Avx512(row, a.data(), pitch, a.data(), pitch, 100, 0xFFFFFFFFu, out.data()), 32) << rows;
        EXPECT_EQ(AlphaRow32Avx512(row, a.data(), pitch, alpha.data(), pitch, 200, out.data(), outAlpha.data()), 32)
            << rows;
    }
    const qbDisplaceRow gathered{xs.data(), ys.data(), w, w, 0};
    ys[20] = 0;
    for (const auto& [at, done] : {std::pair{2, 16}, std::pair{3, 32}}) {
        xs[20] = at;
        EXPECT_EQ(AlphaRow32Avx512(gathered, a.data(), pitch, alpha.data(), pitch, 200, out.data(), outAlpha.data()),
                  done)
            << "offset " << at;
    }
}

}  // namespace
