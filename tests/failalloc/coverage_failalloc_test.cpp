// The engine's rasteriser with each allocation failing in turn, on a thread
// of its own each time (its buffers are per thread, so every run makes
// them): a raster either fails or is whole, for the buffer and the row
// sink alike.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/memory.h"
#include "vector/coverage.h"

namespace {

constexpr int kWidth = 37, kHeight = 23, kPitch = kWidth + 3;

// A triangle reaching past the right and bottom borders, in 26.6 units.
struct Triangle {
    FT_Vector points[3] = {{2 * 64, 3 * 64}, {45 * 64, 9 * 64}, {11 * 64, 30 * 64}};
    char tags[3] = {FT_CURVE_TAG_ON, FT_CURVE_TAG_ON, FT_CURVE_TAG_ON};
    short ends[1] = {2};
    FT_Outline View() {
        FT_Outline o{};
        o.n_points = 3;
        o.n_contours = 1;
        o.points = points;
        o.tags = tags;
        o.contours = ends;
        return o;
    }
};

struct Raster {
    bool ok = false;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(static_cast<size_t>(kPitch) * kHeight, 0xA5);
};

// Into the buffer, or row by row through the sink into the same layout;
// allocation `failAt` fails (-1: none). *reached: every allocation was made.
Raster Rasterise(bool sink, long failAt, bool* reached = nullptr) {
    Raster r;
    std::thread([&] {
        Triangle t;
        const FT_Outline o = t.View();
        qbCoverageRows rows;
        rows.user = &r;
        rows.count = kHeight;
        rows.row = [](void* user, int32_t y, const uint8_t* coverage, int32_t x0, int32_t x1) {
            auto* to = static_cast<Raster*>(user);
            for (int32_t x = x0; x < x1; ++x) to->pixels[static_cast<size_t>(y * kPitch + x)] = coverage[x];
        };
        SetAllocationFailCountdown(failAt);
        r.ok = sink ? RasteriseCoverageRows(&o, kWidth, kHeight, rows)
                    : RasteriseCoverage(&o, r.pixels.data(), kPitch, kWidth, kHeight);
        if (reached) *reached = AllocationFailCountdown() >= 0;
        SetAllocationFailCountdown(-1);
    }).join();
    return r;
}

TEST(CoverageFailAllocTest, ARasterEitherFailsOrIsWhole) {
    for (bool sink : {false, true}) {
        SCOPED_TRACE(sink ? "row sink" : "buffer");
        const Raster whole = Rasterise(sink, -1);
        ASSERT_TRUE(whole.ok);
        for (long n = 0;; ++n) {
            bool reached = false;
            const Raster r = Rasterise(sink, n, &reached);
            if (reached) {
                EXPECT_TRUE(r.ok);
                EXPECT_EQ(r.pixels, whole.pixels);
                break;  // every allocation of the raster was failed once
            }
            // The first allocation a thread's first raster makes is its
            // row buffers: without them there is no raster.
            if (n == 0) {
                EXPECT_FALSE(r.ok);
            }
            if (r.ok) {
                EXPECT_EQ(r.pixels, whole.pixels) << "allocation " << n;
            }
        }
    }
}

}  // namespace
