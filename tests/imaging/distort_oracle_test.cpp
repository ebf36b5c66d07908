// Nearest-sampled distortions against ImageMagick 6 with the point filter
// and integer interpolation: the same output box and the same colour on
// every pixel both cover. Coverage may differ only along the first column
// or row, where a sampling position in (-1, 0) truncates to pixel 0 here
// and is floored to -1 (outside) there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/distort.h"

namespace {

constexpr int32_t kW = 53, kH = 41;

uint32_t Colour(int32_t x, int32_t y) {
    return static_cast<uint32_t>((x * 4 + 1) & 0xFF) << 16 | static_cast<uint32_t>((y * 6 + 2) & 0xFF) << 8 |
           static_cast<uint32_t>((x * y + 7) & 0xFF);
}

struct Oracle {
    bool ok = false;
    int32_t w = 0, h = 0, x = 0, y = 0;
    std::vector<uint8_t> rgba;
};

std::string TempName(const char* tail) {
    return std::string(::testing::TempDir()) + "qb_distort_" + std::to_string(getpid()) + tail;
}

Oracle RunImageMagick(const std::string& option, const std::string& method, const std::string& args) {
    Oracle o;
    const std::string in = TempName("_in.ppm"), out = TempName("_out.pam"), info = TempName("_info.txt");
    {
        std::ofstream f(in, std::ios::binary);
        f << "P6\n" << kW << " " << kH << "\n255\n";
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const uint32_t c = Colour(x, y);
                f.put(static_cast<char>(c >> 16)).put(static_cast<char>(c >> 8)).put(static_cast<char>(c));
            }
    }
    const std::string cmd = "convert " + in +
                            " -alpha set -virtual-pixel transparent -filter point -interpolate integer " + option +
                            " " + method + " \"" + args + "\" -print \"%w %h %X %Y\\n\" " + out + " > " + info +
                            " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return o;
    std::ifstream i(info);
    std::string sx, sy;
    i >> o.w >> o.h >> sx >> sy;
    o.x = static_cast<int32_t>(std::strtol(sx.c_str(), nullptr, 10));
    o.y = static_cast<int32_t>(std::strtol(sy.c_str(), nullptr, 10));
    std::ifstream p(out, std::ios::binary);
    std::string line;
    while (std::getline(p, line) && line != "ENDHDR") {
    }
    o.rgba.resize(static_cast<size_t>(o.w) * o.h * 4);
    p.read(reinterpret_cast<char*>(o.rgba.data()), static_cast<std::streamsize>(o.rgba.size()));
    o.ok = p.gcount() == static_cast<std::streamsize>(o.rgba.size());
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(info.c_str());
    return o;
}

void Compare(int32_t method, const std::vector<double>& numbers, const std::string& option,
             const std::string& imMethod, const std::string& imArgs) {
    if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick not installed";
    BitmapPtr src(AllocBitmap(kW, kH, 0, nullptr));
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) WriteBitmapPixel(src.get(), x, y, Colour(x, y), false);
    qbDistortRequest q;
    q.method = method;
    q.argumentCount = static_cast<int32_t>(numbers.size());
    q.arguments = numbers.data();
    q.source.width = kW;
    q.source.height = kH;
    ASSERT_EQ(ComputeDistortGeometry(&q), 0);
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(DistortBitmap(src.get(), nullptr, nullptr, kW, kH, method, q.argumentCount, numbers.data(), false, &b,
                            &m, &a, &w, &h),
              0);
    BitmapPtr bitmap(b), mask(m), alpha(a);
    const Oracle o = RunImageMagick(option, imMethod, imArgs);
    ASSERT_TRUE(o.ok) << imMethod;
    ASSERT_EQ(w, o.w) << imMethod;
    ASSERT_EQ(h, o.h) << imMethod;
    if (method != kDistortBarrel) {
        EXPECT_EQ(q.outX, o.x) << imMethod;
        EXPECT_EQ(q.outY, o.y) << imMethod;
    }
    int both = 0, onlyOurs = 0, onlyTheirs = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const qbBitmapPlane& p = *mask->plane;
            const bool ours = (p.data[static_cast<size_t>(y) * p.rowBytes + (x >> 3)] & (0x80 >> (x & 7))) != 0;
            const uint8_t* t = &o.rgba[(static_cast<size_t>(y) * w + x) * 4];
            const bool theirs = t[3] == 255;
            if (ours && theirs) {
                ++both;
                const uint32_t c = static_cast<uint32_t>(t[0]) << 16 | static_cast<uint32_t>(t[1]) << 8 | t[2];
                ASSERT_EQ(ReadBitmapPixel(bitmap.get(), x, y, false), c) << imMethod << " at " << x << "," << y;
            } else if (ours) {
                ++onlyOurs;
            } else if (theirs) {
                ++onlyTheirs;
            }
        }
    EXPECT_GT(both, 200) << imMethod;
    // Only the truncated strip differs, which is thin against the picture.
    EXPECT_LT(onlyOurs, both / 8 + 10) << imMethod;
    EXPECT_LT(onlyTheirs, 10) << imMethod;
}

}  // namespace

TEST(DistortOracleTest, PerspectiveMatchesImageMagick) {
    Compare(kDistortPerspective, {0, 0, 3, 4, kW, 0, 60, 9, kW, kH, 49, 50, 0, kH, 7, 37}, "+distort", "Perspective",
            "0,0 3,4 53,0 60,9 53,41 49,50 0,41 7,37");
}

TEST(DistortOracleTest, ArcMatchesImageMagick) {
    Compare(kDistortArc, {75, 10, 70, 25}, "+distort", "Arc", "75 10 70 25");
    Compare(kDistortArc, {120}, "+distort", "Arc", "120");
}

TEST(DistortOracleTest, PolarMatchesImageMagick) {
    Compare(kDistortPolar, {30, 5, 26.3, 20.1, -170, 150}, "+distort", "Polar", "30 5 26.3 20.1 -170 150");
}

TEST(DistortOracleTest, BarrelMatchesImageMagick) {
    Compare(kDistortBarrel, {0.05, -0.02, 0.1, 0.9, 26.2, 19.7}, "-distort", "Barrel", "0.05 -0.02 0.1 0.9 26.2 19.7");
}
