// The coverage painter on 4- and 2-byte targets: which pixels get mask bits
// and alpha bytes against the engine's own raster, the clip region's
// rectangle and mask, and outlines wider than the engine takes.
#include <gtest/gtest.h>

#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "draw/scan/scan.h"
#include "draw/shapefill.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"

namespace {

constexpr int32_t kW = 40, kH = 30;
// A triangle offset by (5, 3) on the target.
const int32_t kTriangle[] = {1, 1, 28, 4, 10, 24};

std::vector<uint8_t> Reference(int antialias, int32_t thickness) {
    uint8_t* pixels = nullptr;
    int32_t pitch = 0;
    CoverageRasterPtr r(CreateCoverageRaster(30, 26, &pixels, &pitch));
    EXPECT_TRUE(r);
    FillPolygon(r.get(), kTriangle, 3, antialias, thickness);
    std::vector<uint8_t> out(30 * 26);
    for (int32_t j = 0; j < 26; ++j)
        for (int32_t i = 0; i < 30; ++i) out[static_cast<size_t>(j * 30 + i)] = pixels[j * pitch + i];
    return out;
}

struct Target {
    BitmapPtr bitmap, mask, alpha;
    explicit Target(int format) {
        SetPlatformPixelFormat(format);
        bitmap.reset(AllocBitmap(kW, kH, 0, nullptr));
        FillBitmapRect(bitmap.get(), 0, 0, kW, kH, 0);
        mask.reset(AllocMask(nullptr, kW, kH, true, nullptr, 0));
        alpha.reset(AllocAlphaChannel(kW, kH, true, nullptr, 0));
        SetPlatformPixelFormat(kPixelFormatUnset);
    }
    qbShapeFill Fill() const {
        qbShapeFill f;
        f.x = 5;
        f.y = 3;
        f.width = 30;
        f.height = 26;
        f.target = bitmap.get();
        f.points = kTriangle;
        f.count = 3;
        f.colour = 0xF81008;
        f.mask = mask.get();
        f.alpha = alpha.get();
        return f;
    }
    int AlphaAt(int32_t x, int32_t y) const { return alpha->plane->data[y * alpha->plane->rowBytes + x]; }
    uint32_t Bit(int32_t x, int32_t y) const { return ReadBitmapPixel(mask.get(), x, y, true); }
};

}  // namespace

TEST(ShapeFill, MaskBitsAndAlphaBytesFollowTheRasterOnBothPixelSizes) {
    for (int format : {kFormatARGB, kFormatRGB565}) {
        // Without anti-aliasing: all or nothing.
        Target t(format);
        qbShapeFill f = t.Fill();
        f.filled = true;
        f.alphaByte = 0x40;
        ASSERT_EQ(FillShapeCoverage(f), 0);
        const std::vector<uint8_t> solid = Reference(0, 0);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const bool in = x >= 5 && y >= 3 && x < 35 && y < 29 && solid[static_cast<size_t>((y - 3) * 30 + x - 5)];
                ASSERT_EQ(t.Bit(x, y), in ? 1u : 0u) << format << " " << x << "," << y;
                ASSERT_EQ(t.AlphaAt(x, y), in ? 255 - 0x40 : 0) << format << " " << x << "," << y;
                if (in) ASSERT_NE(ReadBitmapPixel(t.bitmap.get(), x, y, false), 0u);
                else ASSERT_EQ(ReadBitmapPixel(t.bitmap.get(), x, y, false), 0u);
            }
        // An anti-aliased outline: alpha = coverage x opacity / 255.
        Target a(format);
        f = a.Fill();
        f.antialias = true;
        f.lineWidth = 3;
        f.alphaByte = 0x20;
        ASSERT_EQ(FillShapeCoverage(f), 0);
        const std::vector<uint8_t> ring = Reference(1, 3);
        int partial = 0;
        for (int32_t y = 0; y < 26; ++y)
            for (int32_t x = 0; x < 30; ++x) {
                const uint32_t c = ring[static_cast<size_t>(y * 30 + x)];
                partial += c > 0 && c < 255;
                ASSERT_EQ(a.AlphaAt(x + 5, y + 3), static_cast<int>(c * (255 - 0x20) / 255)) << x << "," << y;
                ASSERT_EQ(a.Bit(x + 5, y + 3), c ? 1u : 0u);
            }
        EXPECT_GT(partial, 0);
    }
}

TEST(ShapeFill, TheClipRegionsRectangleAndMaskHold) {
    Target t(kFormatARGB);
    BitmapPtr clipMask(AllocMask(nullptr, 20, 20, true, nullptr, 0));
    FillMaskRect(clipMask.get(), 0, 0, 20, 10, kMaskVisible);  // the top half open
    qbClipRegion clip;
    clip.x = 10;
    clip.y = 5;
    clip.width = 20;
    clip.height = 20;
    clip.mask = clipMask.get();
    qbShapeFill f = t.Fill();
    f.filled = true;
    f.clip = &clip;
    ASSERT_EQ(FillShapeCoverage(f), 0);
    const std::vector<uint8_t> solid = Reference(0, 0);
    int inside = 0;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const bool covered = x >= 5 && y >= 3 && x < 35 && y < 29 && solid[static_cast<size_t>((y - 3) * 30 + x - 5)];
            const bool open = x >= 10 && x < 30 && y >= 5 && y < 15;
            inside += covered && open;
            ASSERT_EQ(t.Bit(x, y), covered && open ? 1u : 0u) << x << "," << y;
            ASSERT_EQ(ReadBitmapPixel(t.bitmap.get(), x, y, false) != 0, covered && open) << x << "," << y;
        }
    EXPECT_GT(inside, 0);
}

TEST(ShapeFill, AnOutlineWiderThanTheEngineTakesIsDrawnAtItsWidest) {
    Target wide(kFormatARGB), widest(kFormatARGB);
    qbShapeFill f = wide.Fill();
    f.lineWidth = 300;
    ASSERT_EQ(FillShapeCoverage(f), 0);
    f = widest.Fill();
    f.lineWidth = kMaxScanThickness;
    ASSERT_EQ(FillShapeCoverage(f), 0);
    int set = 0;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            set += static_cast<int>(wide.Bit(x, y));
            ASSERT_EQ(wide.Bit(x, y), widest.Bit(x, y));
        }
    EXPECT_GT(set, 0);
    // A thick line the same way.
    Target line(kFormatRGB565);
    f = line.Fill();
    f.points = nullptr;
    f.line[0] = 2;
    f.line[1] = 2;
    f.line[2] = 20;
    f.line[3] = 20;
    f.lineThickness = 1000;
    ASSERT_EQ(FillShapeCoverage(f), 0);
    EXPECT_EQ(line.Bit(5 + 10, 3 + 10), 1u);
}

TEST(ShapeFill, OnePixelLinesGoStraightIntoThePixels) {
    Target t(kFormatRGB565);
    qbShapeFill f = t.Fill();
    f.points = nullptr;
    f.line[2] = 9;
    f.line[3] = 0;
    ASSERT_EQ(FillShapeCoverage(f), 0);
    for (int32_t x = 5; x <= 14; ++x) EXPECT_EQ(ReadBitmapPixel(t.bitmap.get(), x, 3, false), 0xF81008u) << x;
    EXPECT_EQ(ReadBitmapPixel(t.bitmap.get(), 15, 3, false), 0u);
}
