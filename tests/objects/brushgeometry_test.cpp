// The brush geometry commands through the brush library: sizes, turns,
// crops and trims with their refusals, vector brushes rendered again from a
// host-made picture, and brushes that keep their images after any error.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/errcodes.h"
#include "imaging/imagehandle.h"
#include "objects/bgpiclib.h"
#include "show_fixture.h"

namespace {

// A host-made vector picture: a red disc filling the asked size.
struct Disc {
    int32_t w = 0, h = 0;
    std::vector<uint32_t> pixels;
};

uint32_t DiscPixel(int32_t x, int32_t y, int32_t w, int32_t h) {
    const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0, r = std::min(w, h) / 2.0;
    return dx * dx + dy * dy <= r * r ? 0xFFFF0000u : 0u;
}

void RenderDisc(Disc* d, int32_t w, int32_t h) {
    d->w = w;
    d->h = h;
    d->pixels.assign(static_cast<size_t>(w) * h, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) d->pixels[static_cast<size_t>(y) * w + x] = DiscPixel(x, y, w, h);
}

uint32_t* DiscGet(void* image, qbImageLoadRequest* request) {
    auto* d = static_cast<Disc*>(image);
    request->width = d->w;
    request->height = d->h;
    request->rowLength = d->w;
    request->hasAlpha = 1;
    return d->pixels.data();
}
int DiscTransform(void* image, const double* block) {
    RenderDisc(static_cast<Disc*>(image), static_cast<int32_t>(block[4]), static_cast<int32_t>(block[5]));
    return 1;
}
void DiscFree(void* image) { delete static_cast<Disc*>(image); }

class BrushGeometryTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, kBrushHardwareToo);
        return b;
    }
    // A brush whose every pixel has its own colour.
    qbBrush* Pattern(int32_t id, int32_t w, int32_t h) {
        MakeBrush(id, w, h, 0);
        qbBrush* b = Brush(id);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b->bitmap, x, y, Colour(x, y), false);
        return b;
    }
    static uint32_t Colour(int32_t x, int32_t y) { return static_cast<uint32_t>(x << 12 | y) | 0x800000u; }

    qbBrush* Vector(int32_t id, int32_t w, int32_t h) {
        auto disc = std::make_unique<Disc>();
        RenderDisc(disc.get(), w, h);
        qbImageHandle* handle = NewImageHandle();
        handle->hostFunctions = 1;
        handle->hostGet = DiscGet;
        handle->hostTransform = DiscTransform;
        handle->hostFree = DiscFree;
        handle->loaderImage = disc.release();
        handle->loaderPixels = static_cast<Disc*>(handle->loaderImage)->pixels.data();
        handle->nominalWidth = w;
        handle->nominalHeight = h;
        qbBitmap *bitmap = nullptr, *alpha = nullptr;
        EXPECT_EQ(CreateBitmapFromARGB(handle->loaderPixels, kNoKeyColour, w, h, w, false, 0, 0, &bitmap, nullptr,
                                       nullptr),
                  0);
        alpha = CreateAlphaFromARGB(handle->loaderPixels, w, h, w);
        qbBrush* made = nullptr;
        EXPECT_EQ(AllocBrushRecord(NewObjectID{id, 0}, kBrushVector, w, h, w, 0, handle, bitmap, -1, nullptr, alpha,
                                   ObjectID{}, &made),
                  0);
        return made;
    }
    int Call(const char* command, int32_t id, std::initializer_list<double> numbers, int results = 0) {
        VmPushNumber(L_, id);
        for (double n : numbers) VmPushNumber(L_, n);
        return Run(command, static_cast<int>(numbers.size()) + 1, results);
    }
    int ScaleByStrings(int32_t id, const char* w, const char* h) {
        VmPushNumber(L_, id);
        VmPushString(L_, w);
        VmPushString(L_, h);
        return Run("ScaleBrush", 3);
    }
};

}  // namespace

TEST_F(BrushGeometryTest, ScaleBrushSizes) {
    Pattern(1, 100, 60);
    ASSERT_EQ(ScaleByStrings(1, "50%", "50%"), 0);
    EXPECT_EQ(Brush(1)->width, 50);
    EXPECT_EQ(Brush(1)->height, 30);
    EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 10, 10, false), Colour(20, 20));
    const qbBitmap* before = Brush(1)->bitmap;
    ASSERT_EQ(Call("ScaleBrush", 1, {50, 30}), 0);
    EXPECT_EQ(Brush(1)->bitmap, before);
    ASSERT_EQ(Call("ScaleBrush", 1, {100, 100000}), 0);  // keep the aspect ratio
    EXPECT_EQ(Brush(1)->height, 60);
    EXPECT_EQ(Call("ScaleBrush", 1, {0, 10}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Brush(1)->width, 100);
}

TEST_F(BrushGeometryTest, RotateAndTransform) {
    Pattern(1, 100, 50);
    ASSERT_EQ(Call("RotateBrush", 1, {90}), 0);
    qbBrush* b = Brush(1);
    ASSERT_EQ(b->width, 50);
    ASSERT_EQ(b->height, 100);
    // A quarter turn one way or the other, the same for every pixel.
    const bool clockwise = ReadBitmapPixel(b->bitmap, 49, 0, false) == Colour(0, 0);
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 50; ++x) {
            const uint32_t want = clockwise ? Colour(y, 49 - x) : Colour(99 - y, x);
            ASSERT_EQ(ReadBitmapPixel(b->bitmap, x, y, false), want) << x << "," << y;
        }
    EXPECT_EQ(Call("RotateBrush", 1, {30, 0}), ERR_WRONGUSAGE);
    Pattern(2, 100, 50);
    ASSERT_EQ(Call("TransformBrush", 2, {1, 1, 1, 1, 1}), 0);
    b = Brush(2);
    ASSERT_EQ(b->width, 150);
    ASSERT_EQ(b->height, 150);
    ASSERT_TRUE(b->mask);
    for (int32_t y = 0; y < 150; y += 7)
        for (int32_t x = 0; x < 150; x += 7) ASSERT_EQ(ReadBitmapPixel(b->mask, x, y, true), 0u);
    EXPECT_EQ(Call("TransformBrush", 2, {0, 1, 1, 1}), ERR_WRONGUSAGE);
}

TEST_F(BrushGeometryTest, CropBrushKeepsAStripAndChecksItsCorner) {
    Pattern(1, 100, 100);
    EXPECT_EQ(Call("CropBrush", 1, {100, 0, 50, 50}), ERR_COORDSRANGE);
    EXPECT_EQ(Call("CropBrush", 1, {-1, 0, 50, 50}), ERR_NEGCOORDS);
    EXPECT_EQ(Call("CropBrush", 1, {0, 0, 0, 50}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Brush(1)->width, 100);
    ASSERT_EQ(Call("CropBrush", 1, {90, 0, 50, 50}), 0);
    EXPECT_EQ(Brush(1)->width, 10);
    EXPECT_EQ(Brush(1)->height, 50);
    EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 3, 7, false), Colour(93, 7));
}

TEST_F(BrushGeometryTest, TrimBrushFindsTheVisiblePart) {
    qbBrush* b = Pattern(1, 40, 30);
    ASSERT_EQ(Call("TrimBrush", 1, {}, 2), 0);  // no planes: nothing to cut
    EXPECT_EQ(VmToNumber(L_, -2), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    EXPECT_EQ(b->width, 40);
    VmSetTop(L_, 0);
    b->alpha = AllocAlphaChannel(40, 30, true, nullptr, 0);
    EXPECT_EQ(Call("TrimBrush", 1, {}), ERR_TRANSBRUSH);
    EXPECT_EQ(b->width, 40);
    b->alpha->plane->data[20 * b->alpha->plane->rowBytes + 10] = 9;
    ASSERT_EQ(Call("TrimBrush", 1, {}, 2), 0);
    EXPECT_EQ(VmToNumber(L_, -2), 10);
    EXPECT_EQ(VmToNumber(L_, -1), 20);
    EXPECT_EQ(b->width, 1);
    EXPECT_EQ(b->height, 1);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), Colour(10, 20));
}

TEST_F(BrushGeometryTest, DistortionsReplaceTheImagesOrLeaveThemAlone) {
    Pattern(1, 60, 40);
    const qbBitmap* before = Brush(1)->bitmap;
    EXPECT_EQ(Call("BarrelDistortBrush", 1, {0, 0, 0, 1, 0, 0, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ArcDistortBrush", 1, {0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PolarDistortBrush", 1, {1, 2, 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PerspectiveDistortBrush", 1, {5, 5, 5, 5, 5, 5, 5, 5}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PolarDistortBrush", 1, {1e10}), ERR_BITMAP);
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_EQ(Call("BarrelDistortBrush", 1, {bad, 0, 0, 1}), ERR_WRONGUSAGE) << bad;
        EXPECT_EQ(Call("BarrelDistortBrush", 1, {0, 0, 0, 1, bad, 20}), ERR_WRONGUSAGE) << bad;
    }
    EXPECT_EQ(Brush(1)->bitmap, before);
    EXPECT_EQ(Brush(1)->width, 60);
    ASSERT_EQ(Call("BarrelDistortBrush", 1, {0, 0, 0, 1}), 0);
    EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 17, 33, false), Colour(17, 33));
    ASSERT_TRUE(Brush(1)->mask);
    ASSERT_EQ(Call("ArcDistortBrush", 1, {}), 0);
    EXPECT_GT(Brush(1)->width, 60);
    // The smooth flag after the fourth number gives an alpha plane.
    ASSERT_EQ(Call("PerspectiveDistortBrush", 1, {0, 0, 50, 5, 50, 40, 0, 35, 1}), 0);
    EXPECT_TRUE(Brush(1)->mask);  // the source had a mask: it stays a mask
    Pattern(2, 30, 30);
    ASSERT_EQ(Call("PolarDistortBrush", 2, {0, 0, 15, 15, 0, 0, 1}), 0);
    EXPECT_TRUE(Brush(2)->alpha);
    EXPECT_FALSE(Brush(2)->mask);
}

TEST_F(BrushGeometryTest, RefusalsByKindAndOutput) {
    Vector(1, 20, 20);
    for (const char* c : {"CropBrush", "TrimBrush", "BarrelDistortBrush", "PolarDistortBrush", "ArcDistortBrush",
                          "PerspectiveDistortBrush"}) {
        VmPushNumber(L_, 1);
        for (int i = 0; i < (c[0] == 'C' ? 4 : c[0] == 'T' ? 0 : c[1] == 'e' ? 8 : 4); ++i) VmPushNumber(L_, 10);
        EXPECT_EQ(Run(c, c[0] == 'C' ? 5 : c[0] == 'T' ? 1 : c[1] == 'e' ? 9 : 5), ERR_BRUSHTYPE) << c;
    }
    qbBrush* hw = Pattern(2, 10, 10);
    hw->hardware = 1;
    EXPECT_EQ(Call("CropBrush", 2, {0, 0, 5, 5}), ERR_HWBRUSH);
    EXPECT_EQ(Call("BarrelDistortBrush", 2, {0, 0, 0, 1}), ERR_HWBRUSH);
    EXPECT_EQ(Call("RasterizeBrush", 2, {}), ERR_HWBRUSH);
    hw->hardware = 0;
    EXPECT_EQ(Call("RasterizeBrush", 2, {}), ERR_WRONGUSAGE);
    ASSERT_EQ(Show("SelectBrush", {2}), 0);
    EXPECT_EQ(Call("ScaleBrush", 2, {5, 5}), ERR_MODIFYABR);
    EXPECT_EQ(Call("RotateBrush", 2, {45}), ERR_MODIFYABR);
    EXPECT_EQ(Call("TrimBrush", 2, {}), ERR_MODIFYABR);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(Brush(2)->width, 10);
}

TEST_F(BrushGeometryTest, VectorBrushesRenderAgainFromTheirPicture) {
    Vector(1, 20, 20);
    ASSERT_EQ(Call("ScaleBrush", 1, {40, 40}), 0);
    ASSERT_EQ(Call("ScaleBrush", 1, {80, 80}), 0);
    qbBrush* b = Brush(1);
    ASSERT_EQ(b->width, 80);
    ASSERT_TRUE(b->alpha);
    EXPECT_EQ(b->transformed, 1);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 80; ++x) {
            const uint32_t want = DiscPixel(x, y, 80, 80);
            ASSERT_EQ(b->alpha->plane->data[static_cast<size_t>(y) * b->alpha->plane->rowBytes + x], want >> 24)
                << x << "," << y;
            ASSERT_EQ(ReadBitmapPixel(b->bitmap, x, y, false), want & 0xFFFFFF);
        }
    ASSERT_EQ(Call("RotateBrush", 1, {90}), 0);
    EXPECT_EQ(Brush(1)->width, 80);
    ASSERT_EQ(Call("RasterizeBrush", 1, {}), 0);
    EXPECT_EQ(Brush(1)->kind, kBrushPixels);
    EXPECT_EQ(Brush(1)->imageSource, nullptr);
    ASSERT_EQ(Call("CropBrush", 1, {0, 0, 10, 10}), 0);
}

// The centre constants are resolved before the corner is checked.
TEST_F(BrushGeometryTest, CropBrushAtTheCentreConstantsKeepsTheMiddle) {
    Pattern(1, 100, 100);
    ASSERT_EQ(Call("CropBrush", 1, {kPositionCenter, kPositionCenter, 20, 10}), 0);
    EXPECT_EQ(Brush(1)->width, 20);
    EXPECT_EQ(Brush(1)->height, 10);
    EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 0, 0, false), Colour(40, 45));
}

// Shown with layers, a transformed vector brush is refused; without them it
// is drawn, and an untransformed one is shown with layers too.
TEST_F(BrushGeometryTest, ATransformedVectorBrushIsShownWithLayersOffOnly) {
    Vector(1, 20, 20);
    ASSERT_EQ(Call("ScaleBrush", 1, {40, 40}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    EXPECT_EQ(Shown(20, 20), 0xFF0000u);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    EXPECT_EQ(Show("DisplayBrush", {1, 0, 0}), ERR_TFVBRUSH);
    Vector(3, 20, 20);
    EXPECT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
}
