// Where the scan engine's lines stop: every line drawer lights both end
// pixels and nothing past them, and a thick line whose side lies exactly on
// the picture's first column or row still fills it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "draw/scan/scan.h"

namespace {

struct Raster {
    CoverageRasterPtr raster;
    uint8_t* px = nullptr;
    int32_t pitch = 0;
    Raster(int32_t w, int32_t h) { raster.reset(CreateCoverageRaster(w, h, &px, &pitch)); }
    uint8_t At(int32_t x, int32_t y) const { return px[y * pitch + x]; }
    ScanRasterView View() const {
        ScanRasterView v;
        DescribeRaster(raster.get(), &v);
        return v;
    }
};

const char* const kDrawers[] = {"8-connected", "4-connected", "subpixel", "antialiased"};

void Draw(int drawer, const ScanRasterView& v, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t one = 65536;
    switch (drawer) {
        case 0: DrawRasterLine(v, x0, y0, x1, y1, 255, kLine8Connected); break;
        case 1: DrawRasterLine(v, x0, y0, x1, y1, 255, kLine4Connected); break;
        case 2: DrawRasterLineSubpixel(v, x0 * one, y0 * one, x1 * one, y1 * one, 255); break;
        default: DrawRasterLineAA(v, x0 * one, y0 * one, x1 * one, y1 * one); break;
    }
}

}  // namespace

TEST(ScanLineEnds, EveryDrawerLightsBothEndsAndNothingPast) {
    const int32_t ends[][2] = {{12, 5}, {5, 12},  {-12, 5}, {-5, 12},  {12, -5}, {5, -12}, {-12, -5},
                               {-5, -12}, {12, 0}, {0, 12}, {-12, 0}, {0, -12}, {0, 0}};
    for (int d = 0; d < 4; ++d)
        for (const auto& e : ends) {
            Raster r(40, 40);
            const int32_t x1 = 20 + e[0], y1 = 20 + e[1];
            Draw(d, r.View(), 20, 20, x1, y1);
            const char* name = kDrawers[d];
            EXPECT_NE(r.At(20, 20), 0) << name << " to " << x1 << "," << y1;
            EXPECT_NE(r.At(x1, y1), 0) << name << " to " << x1 << "," << y1;
            if (e[0] == 0 && e[1] == 0) continue;
            // One step past each end along the line's longer axis.
            const bool xMajor = std::abs(e[0]) >= std::abs(e[1]);
            const int32_t sx = xMajor ? (e[0] > 0 ? 1 : -1) : 0, sy = xMajor ? 0 : (e[1] > 0 ? 1 : -1);
            EXPECT_EQ(r.At(x1 + sx, y1 + sy), 0) << name << " to " << x1 << "," << y1;
            EXPECT_EQ(r.At(20 - sx, 20 - sy), 0) << name << " to " << x1 << "," << y1;
        }
}

TEST(ScanLineEnds, ThickLinesTouchingTheFirstColumnOrRowFillIt) {
    for (int aa = 0; aa < 2; ++aa)
        for (int32_t t : {2, 4, 6}) {
            // The right side of the vertical line lies on column 0, the
            // lower side of the horizontal one on row 0; the same lines
            // moved in by 8 show the side's pixels are the line's.
            for (int32_t in : {0, 8}) {
                Raster column(24, 24), row(24, 24);
                DrawThickLine(column.raster.get(), in - t / 2, 4, in - t / 2, 16, aa, t);
                DrawThickLine(row.raster.get(), 4, in - t / 2, 16, in - t / 2, aa, t);
                for (int32_t i = 4; i <= 16; ++i) {
                    EXPECT_EQ(column.At(in, i), 255) << "aa=" << aa << " t=" << t << " in=" << in << " row " << i;
                    EXPECT_EQ(row.At(i, in), 255) << "aa=" << aa << " t=" << t << " in=" << in << " column " << i;
                }
            }
        }
}
