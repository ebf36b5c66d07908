// The swirl and ripple kernels with their rows shared among threads give
// the one-thread pictures exactly: every mode, 32 and 16-bit pixels, odd
// sizes below the size worth threads and above it.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "core/rowworkers.h"
#include "imaging/swirlripple.h"

namespace {

enum class Mode { Filter, Blend, Alpha };

// The planes of one run; each run starts from the same random contents.
template <typename P>
struct Planes {
    int32_t w, h;
    std::vector<P> a, b, out;
    std::vector<uint8_t> alpha, outAlpha, mask;
    std::vector<double> sine = std::vector<double>(kDisplaceTableSize), cosine = sine;
    std::vector<int32_t> distances;

    Planes(int32_t width, int32_t height, uint32_t seed) : w(width), h(height) {
        std::mt19937 rng(seed);
        const auto n = static_cast<size_t>(w) * static_cast<size_t>(h);
        a.resize(n), b.resize(n), out.resize(n), alpha.resize(n), outAlpha.resize(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = static_cast<P>(rng()), b[i] = static_cast<P>(rng()), out[i] = static_cast<P>(rng());
            alpha[i] = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
            outAlpha[i] = static_cast<uint8_t>(rng());
        }
        mask.resize(static_cast<size_t>((w + 7) / 8) * static_cast<size_t>(h));
        for (auto& v : mask) v = static_cast<uint8_t>(rng());
        distances.resize(n);
    }

    template <typename R>
    void Set(R& r, Mode mode, uint32_t format) {
        r.destination = out.data();
        r.sourcePitch = r.source2Pitch = r.destinationPitch = w;
        r.pixelFormat = format;
        r.width = w;
        r.height = h;
        r.sine = sine.data();
        r.destinationAlpha = outAlpha.data();
        r.destinationAlphaPitch = w;
        if (mode == Mode::Blend) {
            r.source = a.data();
            r.source2 = b.data();
        } else if (mode == Mode::Alpha) {
            r.source = a.data();
            r.sourceAlpha = alpha.data();
            r.sourceAlphaPitch = w;
        } else {
            r.destinationMask = mask.data();
            r.destinationMaskPitch = (w + 7) / 8;
        }
    }

    bool operator==(const Planes& o) const { return out == o.out && outAlpha == o.outAlpha && mask == o.mask; }
};

template <typename P>
Planes<P> RippleRun(int32_t w, int32_t h, Mode mode, qbRowWorkers* workers) {
    Planes<P> p(w, h, static_cast<uint32_t>(w * 31 + h));
    qbRippleRequest r;
    p.Set(r, mode, sizeof(P) == 4 ? kFormatARGB : kFormatRGB565);
    r.distances = p.distances.data();
    r.centreX = w / 2, r.centreY = h / 2;
    r.extent = std::max(r.centreX, r.centreY);
    r.waveLength = 16;
    r.amplitudePerStep = 0.3;
    r.steps = 10;
    r.workers = workers;
    InitRippleTables(r);
    if (sizeof(P) == 4) RipplePixels32(r, 9);
    else RipplePixels16(r, 9);
    return p;
}

template <typename P>
Planes<P> SwirlRun(int32_t w, int32_t h, Mode mode, qbRowWorkers* workers) {
    Planes<P> p(w, h, static_cast<uint32_t>(w * 17 + h));
    qbSwirlRequest r;
    p.Set(r, mode, sizeof(P) == 4 ? kFormatARGB : kFormatRGB565);
    r.cosine = p.cosine.data();
    r.workers = workers;
    InitSwirlTables(r);
    if (sizeof(P) == 4) SwirlPixels32(r, 250);
    else SwirlPixels16(r, 250);
    return p;
}

const std::pair<int32_t, int32_t> kSizes[] = {{1, 1}, {7, 3}, {257, 131}, {1921, 19}, {33, 1081}};

template <typename P>
void ExpectThreadedEqualsOneThread() {
    qbRowWorkers workers(4);
    for (auto [w, h] : kSizes)
        for (Mode mode : {Mode::Filter, Mode::Blend, Mode::Alpha}) {
            EXPECT_TRUE(RippleRun<P>(w, h, mode, &workers) == RippleRun<P>(w, h, mode, nullptr))
                << "ripple " << w << "x" << h << " mode " << static_cast<int>(mode);
            EXPECT_TRUE(SwirlRun<P>(w, h, mode, &workers) == SwirlRun<P>(w, h, mode, nullptr))
                << "swirl " << w << "x" << h << " mode " << static_cast<int>(mode);
        }
}

TEST(DisplaceThreads, SharedRowsGiveTheOneThreadPixels32) { ExpectThreadedEqualsOneThread<uint32_t>(); }
TEST(DisplaceThreads, SharedRowsGiveTheOneThreadPixels16) { ExpectThreadedEqualsOneThread<uint16_t>(); }

}  // namespace
