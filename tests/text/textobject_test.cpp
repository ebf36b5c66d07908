// Text objects: their sizes, copies, scaling and turning, the layers that
// show them (and keep showing them after a change or a free), re-rendering
// in a scalable font, brushes made from them and text layer borders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/compositor.h"
#include "objects/layersources.h"
#include "objects/spritecmds.h"
#include "objects/sprites.h"
#include "text/font.h"
#include "text/textobjects.h"
#include "text_world.h"

namespace {

constexpr double kKeepAspect = 100000;

class TextObjectWorld : public TextWorld {
protected:
    int CreateObject(int32_t id, const char* text) {
        VmPushNumber(L_, id);
        VmPushString(L_, text);
        return Run("CreateTextObject", 2);
    }
    qbTextObject* Object(ObjectID id) {
        qbTextObject* o = nullptr;
        EXPECT_EQ(GetTextObject(L_, id, &o, 0), 0);
        return o;
    }
    int Scale(int32_t id, const char* width, double height) {
        VmPushNumber(L_, id);
        VmPushString(L_, width);
        VmPushNumber(L_, height);
        return Run("ScaleTextObject", 3);
    }
    // Columns 2k and 2k + 1 of the picture are alike everywhere.
    static bool PixelDoubled(const qbTextObject& o) {
        for (int32_t x = 0; x + 1 < o.width; x += 2)
            for (int32_t y = 0; y < o.height; ++y)
                if (ReadBitmapPixel(o.bitmap.get(), x, y, false) != ReadBitmapPixel(o.bitmap.get(), x + 1, y, false))
                    return false;
        return true;
    }
};

TEST_F(TextObjectWorld, SizesIdsAndTransformsFollowTheirRules) {
    VmPushNil(L_);
    VmPushString(L_, "");
    ASSERT_EQ(Run("CreateTextObject", 2, 1), 0);
    ASSERT_EQ(VmType(L_, -1), kTypeLightUserdata);
    const qbTextObject* empty = Object(ObjectID{0, VmToUserdata(L_, -1)});
    VmSetTop(L_, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->width, 1);
    EXPECT_EQ(empty->height, Height());

    ASSERT_EQ(CreateObject(1, "Hello"), 0);
    EXPECT_EQ(RunNumbers("CopyTextObject", {1, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CopyTextObject", {7, 2}), ERR_FINDTEXTOBJECT);
    ASSERT_EQ(RunNumbers("RotateTextObject", {1, 450}), 0);
    EXPECT_EQ(Object(ObjectID{1, nullptr})->transform.rotate, 90);
    ASSERT_EQ(RunNumbers("RotateTextObject", {1, -30}), 0);
    EXPECT_EQ(Object(ObjectID{1, nullptr})->transform.rotate, -30);
    ASSERT_EQ(RunNumbers("RotateTextObject", {1, 0}), 0);

    qbTextObject* o = Object(ObjectID{1, nullptr});
    const int32_t bw = o->baseWidth, bh = o->baseHeight;
    ASSERT_EQ(Scale(1, "200%", kKeepAspect), 0);
    EXPECT_EQ(o->transform.width, 2 * bw);
    EXPECT_EQ(o->transform.height, 2 * bh);
    ASSERT_EQ(Scale(1, "50%", kKeepAspect), 0);
    ASSERT_EQ(Scale(1, "200%", kKeepAspect), 0);
    EXPECT_EQ(o->transform.width, 2 * bw);
    EXPECT_EQ(o->transform.height, 2 * bh);
    EXPECT_EQ(Scale(1, "0%", kKeepAspect), ERR_BADDIMENSIONS);
    // One pixel wide keeps a height that rounds to nothing.
    ASSERT_GT(bw, 2 * bh);
    EXPECT_EQ(RunNumbers("ScaleTextObject", {1, 1, kKeepAspect}), ERR_BADDIMENSIONS);
    EXPECT_EQ(o->transform.height, 2 * bh);
    o->locked = 1;
    EXPECT_EQ(Scale(1, "100%", kKeepAspect), ERR_LOCKEDOBJ);
    o->locked = 0;
    // The copy keeps the picture, the base size and the transform.
    ASSERT_EQ(RunNumbers("CopyTextObject", {1, 2}), 0);
    const qbTextObject* copy = Object(ObjectID{2, nullptr});
    EXPECT_EQ(copy->width, o->width);
    EXPECT_EQ(copy->baseWidth, bw);
    EXPECT_EQ(copy->transform.width, 2 * bw);
}

// Drawn with layers off at every anchor on each axis (distinct on x and y),
// the ink moves from where anchor 0 puts it by the anchor's share of the
// object's width and height, whole pixels towards the origin.
TEST_F(TextObjectWorld, EveryAnchorPlacesTheObjectWithLayersOff) {
    ASSERT_EQ(CreateObject(1, "Tq"), 0);
    const qbTextObject* o = Object(ObjectID{1, nullptr});
    ASSERT_NE(o, nullptr);
    const int32_t w = o->width, h = o->height;
    ASSERT_LT(w, 70);
    ASSERT_LT(h, 70);
    const std::pair<double, double> anchors[] = {{0, 0}, {0.5, 0.25}, {1, 0.75}, {0.25, 1}, {0.75, 0.5}, {0.3, 0.6}};
    // The ink's top left corner in the 160 x 160 cell, drawn at its middle.
    const auto inkCorner = [&](int cell) {
        const int32_t x0 = 160 * (cell % 4), y0 = 160 * (cell / 4);
        const uint32_t ground = Pixel(639, 479);
        int32_t left = INT32_MAX, top = INT32_MAX;
        for (int32_t y = y0; y < y0 + 160; ++y)
            for (int32_t x = x0; x < x0 + 160; ++x)
                if (Pixel(x, y) != ground) left = std::min(left, x - x0), top = std::min(top, y - y0);
        return std::pair<int32_t, int32_t>{left, top};
    };
    for (size_t i = 0; i < std::size(anchors); ++i) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 1);
        VmPushNumber(L_, 160 * (i % 4) + 80);
        VmPushNumber(L_, 160 * (i / 4) + 80);
        VmPushNewTable(L_);
        SetTableFieldFloat(L_, "anchorx", anchors[i].first);
        SetTableFieldFloat(L_, "anchory", anchors[i].second);
        ASSERT_EQ(Run("DisplayTextObject", 4), 0) << i;
    }
    const auto origin = inkCorner(0);
    ASSERT_LT(origin.first, 160);
    for (size_t i = 1; i < std::size(anchors); ++i) {
        const auto corner = inkCorner(static_cast<int>(i));
        EXPECT_EQ(corner.first, origin.first - static_cast<int32_t>(w * anchors[i].first)) << i;
        EXPECT_EQ(corner.second, origin.second - static_cast<int32_t>(h * anchors[i].second)) << i;
    }
}

TEST_F(TextObjectWorld, LayersKeepTheirPictureWhenTheObjectChangesOrGoes) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(CreateObject(1, "Layer"), 0);
    const int32_t width = Object(ObjectID{1, nullptr})->width;
    ASSERT_EQ(RunNumbers("DisplayTextObject", {1, 10, 10}), 0);
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 1);
    qbLayer* layer = GetLayerByIndex(picture, 1);
    EXPECT_EQ(layer->type, kLayerTextObject);
    qbObjectImage image;
    int32_t w = 0, h = 0;
    ASSERT_EQ(GetLayerSourceImage(L_, layer, layer->basestate, false, &image, &w, &h), 0);
    EXPECT_EQ(image.bitmap, Object(ObjectID{1, nullptr})->bitmap.get());

    // A change gives the layer a private copy, which the object no longer shares.
    ASSERT_EQ(Scale(1, "300%", kKeepAspect), 0);
    EXPECT_FALSE(layer->id == (ObjectID{1, nullptr}));
    ASSERT_EQ(GetLayerSourceImage(L_, layer, layer->basestate, false, &image, &w, &h), 0);
    EXPECT_EQ(w, width);
    EXPECT_NE(image.bitmap, Object(ObjectID{1, nullptr})->bitmap.get());

    // Freeing the object shown by the layer: the id is free at once, the
    // layer keeps its picture until it goes, then the object goes too.
    ASSERT_EQ(RunNumbers("DisplayTextObject", {1, 10, 100}), 0);
    ASSERT_EQ(RunNumbers("FreeTextObject", {1}), 0);
    qbTextObject* gone = nullptr;
    EXPECT_EQ(GetTextObject(L_, ObjectID{1, nullptr}, &gone, 0), ERR_FINDTEXTOBJECT);
    qbLayer* second = GetLayerByIndex(picture, 2);
    ASSERT_EQ(GetLayerSourceImage(L_, second, second->basestate, false, &image, &w, &h), 0);
    EXPECT_GT(w, width);
    ASSERT_EQ(CreateObject(1, "New"), 0);
    EXPECT_EQ(CountObjectsOfType(kObjectTypeTextObject), 3);
    // Both layers were made for id 1, whichever object they show now.
    ASSERT_EQ(RunNumbers("Undo", {kLayerTextObject, 1}), 0);
    ASSERT_EQ(RunNumbers("Undo", {kLayerTextObject, 1}), 0);
    EXPECT_EQ(CountLayers(picture), 0);
    EXPECT_EQ(CountObjectsOfType(kObjectTypeTextObject), 1);
}

TEST_F(TextObjectWorld, AScalableFontIsRenderedAnewABitmapFontScaledAsAnImage) {
    ASSERT_EQ(CreateObject(1, "Wavy"), 0);  // the built-in bitmap font
    ASSERT_EQ(Scale(1, "200%", kKeepAspect), 0);
    const qbTextObject* topaz = Object(ObjectID{1, nullptr});
    EXPECT_EQ(topaz->width, 2 * topaz->baseWidth);
    EXPECT_TRUE(PixelDoubled(*topaz));

    ASSERT_EQ(SetFont(":::default_sans", 20), 0);
    ASSERT_EQ(CreateObject(2, "Wavy"), 0);
    ASSERT_EQ(Scale(2, "200%", kKeepAspect), 0);
    ASSERT_EQ(SetFont(":::default_sans", 40), 0);
    ASSERT_EQ(CreateObject(3, "Wavy"), 0);
    const qbTextObject* scaled = Object(ObjectID{2, nullptr});
    const qbTextObject* direct = Object(ObjectID{3, nullptr});
    EXPECT_FALSE(PixelDoubled(*scaled));
    // Sizes map to pixels with rounding: within a few per cent.
    EXPECT_NEAR(scaled->width, direct->width, direct->width / 20);
    EXPECT_NEAR(scaled->height, direct->height, direct->height / 20);
    // The font is back at its own size afterwards.
    EXPECT_EQ(CurrentFont(*GetTextStyle())->xScale, 1.0);

    // A scale whose glyphs no raster holds is refused as the bitmap font's
    // picture is, and the object keeps its size.
    for (int32_t id : {1, 2}) {
        const int32_t width = Object(ObjectID{id, nullptr})->width;
        EXPECT_EQ(Scale(id, "1000000%", kKeepAspect), ERR_BITMAP) << id;
        EXPECT_EQ(Object(ObjectID{id, nullptr})->width, width) << id;
    }
    EXPECT_EQ(CurrentFont(*GetTextStyle())->xScale, 1.0);
}

TEST_F(TextObjectWorld, ABrushFromATextObjectHasItsPicture) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L_), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(CreateObject(1, "Brush"), 0);
    ASSERT_EQ(RunNumbers("ConvertToBrush", {8, 1, 5}), 0);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{5, nullptr}, &brush, 0), 0);
    const qbTextObject* o = Object(ObjectID{1, nullptr});
    EXPECT_EQ(brush->width, o->width);
    EXPECT_EQ(brush->height, o->height);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {8, 9, 6}), ERR_FINDTEXTOBJECT);
    FreeAllBrushes(L_);
}

TEST_F(TextObjectWorld, ASpriteFromATextObjectHasItsPicture) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitSpriteLibrary(L_), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(CreateObject(1, "Sprite"), 0);
    ASSERT_EQ(RunNumbers("CreateSprite", {5, 8, 1}), 0);
    qbSprite* sprite = nullptr;
    ASSERT_EQ(GetSprite(L_, ObjectID{5, nullptr}, &sprite, 0), 0);
    const qbTextObject* o = Object(ObjectID{1, nullptr});
    EXPECT_EQ(sprite->width, o->width);
    EXPECT_EQ(sprite->height, o->height);
    EXPECT_EQ(sprite->frameCount, 1);
    EXPECT_EQ(RunNumbers("CreateSprite", {6, 8, 1, 4}), ERR_TOOMANYARGS);
    EXPECT_EQ(RunNumbers("CreateSprite", {6, 8, 9}), ERR_FINDTEXTOBJECT);
    FreeAllSprites(L_);
}

TEST_F(TextObjectWorld, NonFiniteNumbersAreRefusedAndChangeNothing) {
    ASSERT_EQ(CreateObject(1, "Hello"), 0);
    ASSERT_EQ(Scale(1, "200%", kKeepAspect), 0);
    const qbTextObject* o = Object(ObjectID{1, nullptr});
    const int32_t width = o->width, height = o->height;
    const qbTransformOptions before = o->transform;
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RunNumbers("ScaleTextObject", {1, bad, 40}), ERR_WRONGUSAGE);
        EXPECT_EQ(RunNumbers("ScaleTextObject", {1, 40, bad}), ERR_WRONGUSAGE);
        EXPECT_EQ(RunNumbers("RotateTextObject", {1, bad}), ERR_WRONGUSAGE);
        EXPECT_EQ(o->transform.width, before.width);
        EXPECT_EQ(o->transform.height, before.height);
        EXPECT_EQ(o->transform.rotate, before.rotate);
        EXPECT_EQ(o->width, width);
        EXPECT_EQ(o->height, height);
    }
    // A negative word wrap and an encoding past the last one are refused
    // however far out they lie; nothing is created.
    VmPushNumber(L_, 3);
    VmPushString(L_, "x");
    for (double a : {0.0, -inf}) VmPushNumber(L_, a);
    EXPECT_EQ(Run("CreateTextObject", 4), ERR_WRONGUSAGE);
    for (double encoding : {inf, -inf}) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 3);
        VmPushString(L_, "x");
        for (double a : {0.0, 0.0, encoding}) VmPushNumber(L_, a);
        EXPECT_EQ(Run("CreateTextObject", 5), ERR_WRONGUSAGE);
    }
    VmSetTop(L_, 0);
    qbTextObject* none = nullptr;
    EXPECT_EQ(GetTextObject(L_, ObjectID{3, nullptr}, &none, 0), ERR_FINDTEXTOBJECT);
}

}  // namespace
