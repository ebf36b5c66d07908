// Pixels and lines in platform offscreen bitmaps, through both backends:
// written pixels read back in every pixel format as the pixel kernels read
// them, lines keep their pixels when cut at the edges or reaching far
// outside, and coordinates off the bitmap or records without pixels change
// nothing.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "platform/platform.h"

namespace {

class OffscreenTest : public ::testing::TestWithParam<const qbPlatformOps*> {
protected:
    void SetUp() override { SetPlatformBackend(GetParam()); }
    void TearDown() override {
        SetPlatformPixelFormat(kPixelFormatUnset);
        SetPlatformBackend(nullptr);
    }

    static NativeBitmapPtr Bitmap(int width, int height, uint32_t fill = 0) {
        NativeBitmapPtr b(AllocPlatformBitmap(width, height));
        EXPECT_NE(b, nullptr);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) WriteNativePixel(b.get(), x, y, fill);
        return b;
    }

    // The pixels of a colour, row by row.
    static std::set<std::pair<int, int>> PixelsOf(qbNativeBitmap* b, uint32_t colour) {
        std::set<std::pair<int, int>> found;
        for (int y = 0; y < b->height; ++y)
            for (int x = 0; x < b->width; ++x)
                if (ReadNativePixel(b, x, y) == colour) found.insert({x, y});
        return found;
    }
};

TEST_P(OffscreenTest, WrittenPixelsReadBackInEveryFormatAsTheKernelsReadThem) {
    std::mt19937 random(7);
    for (int format = kFormatRGB555; format <= kFormatABGR; ++format) {
        SCOPED_TRACE(format);
        SetPlatformPixelFormat(format);
        NativeBitmapPtr b(AllocPlatformBitmap(7, 3));
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->pixelFormat, format);
        for (int i = 0; i < 50; ++i) {
            const uint32_t colour = random() & 0xFFFFFFu;
            const int x = static_cast<int>(random() % 7), y = static_cast<int>(random() % 3);
            WriteNativePixel(b.get(), x, y, colour | 0xAB000000u);
            const uint8_t* p = b->pixels.get() + y * b->bytesPerRow + x * b->bytesPerPixel;
            uint8_t rgb[3];
            ReadPixelRGB(p, format, rgb);
            const uint32_t kernels = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
            EXPECT_EQ(ReadNativePixel(b.get(), x, y), kernels) << std::hex << colour;
            // Formats of 24 bits and more keep the colour whole.
            if (b->bytesPerPixel > 2) {
                EXPECT_EQ(kernels, colour) << std::hex << colour;
            }
        }
    }
    // A new colour leaves the alpha byte that the pixel had.
    SetPlatformPixelFormat(kFormatARGB);
    NativeBitmapPtr b(AllocPlatformBitmap(1, 1));
    const uint32_t translucent = 0x7F010203u;
    std::memcpy(b->pixels.get(), &translucent, 4);
    WriteNativePixel(b.get(), 0, 0, 0xFFFFFFu);
    uint32_t word = 0;
    std::memcpy(&word, b->pixels.get(), 4);
    EXPECT_EQ(word, 0x7FFFFFFFu);
}

TEST_P(OffscreenTest, LinesTakeOnePixelPerStepNearTheExactLineWithBothEnds) {
    const std::vector<std::array<int, 4>> lines = {
        {1, 1, 18, 6}, {18, 6, 1, 1}, {3, 14, 5, 0}, {0, 0, 19, 14}, {7, 7, 7, 7}, {19, 0, 0, 14}, {2, 9, 17, 9}};
    for (const auto& [x1, y1, x2, y2] : lines) {
        SCOPED_TRACE(::testing::Message() << x1 << "," << y1 << " - " << x2 << "," << y2);
        NativeBitmapPtr b = Bitmap(20, 15);
        DrawNativeLine(b.get(), x1, y1, x2, y2, 0xFFFFFF);
        const auto drawn = PixelsOf(b.get(), 0xFFFFFF);
        EXPECT_TRUE(drawn.count({x1, y1}));
        EXPECT_TRUE(drawn.count({x2, y2}));
        const int dx = x2 - x1, dy = y2 - y1;
        EXPECT_EQ(drawn.size(), static_cast<size_t>(std::max(std::abs(dx), std::abs(dy)) + 1));
        for (const auto& [x, y] : drawn) {
            // Along the longer axis, within half a pixel of the exact line.
            if (std::abs(dx) >= std::abs(dy)) {
                const double exact = dx == 0 ? y1 : y1 + static_cast<double>(dy) * (x - x1) / dx;
                EXPECT_LE(std::abs(y - exact), 0.5) << x << "," << y;
            } else {
                const double exact = x1 + static_cast<double>(dx) * (y - y1) / dy;
                EXPECT_LE(std::abs(x - exact), 0.5) << x << "," << y;
            }
        }
    }
}

// A small bitmap shows exactly the part of a line that a larger one, placed
// around it, shows at the same place: cutting at the edges moves nothing.
TEST_P(OffscreenTest, LinesCutAtTheEdgesKeepThePixelsTheyHaveInside) {
    constexpr int kMargin = 60;
    const std::vector<std::array<int, 4>> lines = {
        {-5, -3, 20, 9}, {-40, 2, 45, 6}, {4, -50, 6, 55}, {12, 3, -30, 40}, {-10, -10, -1, -1}, {10, 9, 10, 30}};
    for (const auto& [x1, y1, x2, y2] : lines) {
        SCOPED_TRACE(::testing::Message() << x1 << "," << y1 << " - " << x2 << "," << y2);
        NativeBitmapPtr small = Bitmap(12, 10);
        NativeBitmapPtr large = Bitmap(12 + 2 * kMargin, 10 + 2 * kMargin);
        DrawNativeLine(small.get(), x1, y1, x2, y2, 0xFF00FF);
        DrawNativeLine(large.get(), x1 + kMargin, y1 + kMargin, x2 + kMargin, y2 + kMargin, 0xFF00FF);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                EXPECT_EQ(ReadNativePixel(small.get(), x, y), ReadNativePixel(large.get(), x + kMargin, y + kMargin))
                    << x << "," << y;
    }
    // Ends at the limits of int draw at once what lies inside.
    NativeBitmapPtr b = Bitmap(12, 10);
    DrawNativeLine(b.get(), INT_MIN, 3, INT_MAX, 3, 0x00FF00);
    DrawNativeLine(b.get(), INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x0000FF);
    DrawNativeLine(b.get(), INT_MAX, INT_MIN, INT_MAX, INT_MAX, 0xFF0000);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
            const uint32_t want = x == y ? 0x0000FFu : y == 3 ? 0x00FF00u : 0u;
            EXPECT_EQ(ReadNativePixel(b.get(), x, y), want) << x << "," << y;
        }
}

TEST_P(OffscreenTest, CoordinatesOffTheBitmapAndRecordsWithoutPixelsChangeNothing) {
    NativeBitmapPtr b = Bitmap(4, 3, 0x445566);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{-1, 0}, {4, 0}, {0, 3}, {0, -1}, {INT_MIN, INT_MAX}}) {
        WriteNativePixel(b.get(), x, y, 0xFFFFFF);
        EXPECT_EQ(ReadNativePixel(b.get(), x, y), 0u) << x << "," << y;
    }
    DrawNativeLine(b.get(), -9, -1, 9, -1, 0xFFFFFF);
    DrawNativeLine(b.get(), 4, -5, 4, 5, 0xFFFFFF);
    EXPECT_EQ(PixelsOf(b.get(), 0x445566).size(), 12u);

    EXPECT_EQ(ReadNativePixel(nullptr, 0, 0), 0u);
    WriteNativePixel(nullptr, 0, 0, 0xFFFFFF);
    DrawNativeLine(nullptr, 0, 0, 5, 5, 0xFFFFFF);
    // A record that claims another pixel size than its format has, an
    // unknown format, or no pixels at all, is not addressed.
    b->bytesPerPixel = 2;
    EXPECT_EQ(ReadNativePixel(b.get(), 1, 1), 0u);
    WriteNativePixel(b.get(), 1, 1, 0xFFFFFF);
    DrawNativeLine(b.get(), 0, 0, 3, 2, 0xFFFFFF);
    b->bytesPerPixel = 4;
    EXPECT_EQ(PixelsOf(b.get(), 0x445566).size(), 12u);
    b->pixelFormat = 99;
    EXPECT_EQ(ReadNativePixel(b.get(), 1, 1), 0u);
    b->pixelFormat = kFormatARGB;
    b->pixels.reset();
    EXPECT_EQ(ReadNativePixel(b.get(), 1, 1), 0u);
    WriteNativePixel(b.get(), 1, 1, 0xFFFFFF);
    DrawNativeLine(b.get(), 0, 0, 3, 2, 0xFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(Backends, OffscreenTest, ::testing::Values(&NullPlatformOps(), &LinuxPlatformOps()),
                         [](const ::testing::TestParamInfo<const qbPlatformOps*>& info) {
                             return std::string(info.param->name);
                         });

}  // namespace
