// Text layers in the compositor: a scaled TEXTOUT layer is drawn anew at
// the font's new size, as TextOut draws scaled text without layers, and a
// thin border follows the glyphs.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/bitmap.h"
#include "objects/compositor.h"
#include "objects/layergeometry.h"
#include "text/textcompose.h"
#include "text/textlayers.h"
#include "text_world.h"

namespace {

class TextLayerWorld : public TextWorld {
protected:
    int ScaledTextOut(int32_t x, int32_t y, const char* text, double scale) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushString(L_, text);
        VmPushNewTable(L_);
        VmPushString(L_, "scalex");
        VmPushNumber(L_, scale);
        VmRawSet(L_, -3);
        VmPushString(L_, "scaley");
        VmPushNumber(L_, scale);
        VmRawSet(L_, -3);
        return Run("TextOut", 4);
    }
    // The pixels of a band of the bitmap, as 0 (ground) or 1 (ink).
    static std::vector<int> Band(qbBitmap* b, int32_t y0, int32_t height) {
        const uint32_t ground = ReadBitmapPixel(b, 639, 479, false);
        std::vector<int> out;
        for (int32_t y = y0; y < y0 + height; ++y)
            for (int32_t x = 0; x < 400; ++x) out.push_back(ReadBitmapPixel(b, x, y, false) != ground);
        return out;
    }
};

TEST_F(TextLayerWorld, AScaledTextOutLayerShowsWhatScaledTextOutDraws) {
    ASSERT_EQ(SetFont(":::default_sans", 20), 0);
    ASSERT_EQ(ScaledTextOut(10, 10, "Wavy", 2.0), 0);
    const std::vector<int> direct = Band(display_->spriteFreeBuffer.get(), 0, 100);
    int inked = 0;
    for (int v : direct) inked += v;
    ASSERT_GT(inked, 200);

    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 210, "Wavy"), 0);
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 1);
    qbLayer* layer = GetLayerByIndex(picture, 1);
    const double m[4] = {2, 0, 0, 2};
    for (int i = 0; i < 4; ++i) layer->transform.matrix[i] = m[i];
    ASSERT_EQ(ApplyLayerChange(L_, layer, kChangeRefresh), 0);
    RefreshLayerRect(L_, 0, 0, 640, 480, 0);
    qbBitmap* shown = display_->backBuffer ? display_->backBuffer.get() : display_->spriteFreeBuffer.get();
    EXPECT_EQ(Band(shown, 200, 100), direct);
}

TEST_F(TextLayerWorld, AThinBorderOfATextLayerIsTheGlyphOutline) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Edge"), 0);
    qbLayer* layer = GetLayerByIndex(GetCurrentBGPic(), 1);
    qbLayerState* s = layer->shownstate;
    // The layer's picture is its own composed image.
    qbObjectImage image;
    int32_t w = 0, h = 0;
    ASSERT_EQ(GetLayerSourceImage(L_, layer, s, true, &image, &w, &h), 0);
    EXPECT_EQ(image.bitmap, layer->basestate->bitmap);
    layer->border = {1, 0xFF0000, 3};
    int32_t x = 0, y = 0, bw = 0, bh = 0;
    RenderLayerBorder(L_, layer, s, &x, &y, &bw, &bh);
    qbComposedText expected;
    ASSERT_EQ(RenderTextLayerBorder(image.mask, image.alpha, s->shownwidth, s->shownheight, 3, 0xFF0000, &expected), 0);
    EXPECT_EQ(bw, expected.width);
    EXPECT_EQ(bh, expected.height);
    EXPECT_EQ(x, s->shownx - 3);
    ASSERT_NE(s->bdbitmap, nullptr);
    int differing = 0;
    for (int32_t yy = 0; yy < bh; ++yy)
        for (int32_t xx = 0; xx < bw; ++xx)
            differing += ReadBitmapPixel(s->bdbitmap, xx, yy, false) != ReadBitmapPixel(expected.bitmap.get(), xx, yy, false);
    EXPECT_EQ(differing, 0);
}

TEST_F(TextLayerWorld, ATextLayerIsDrawnAnewAsANewLayerWithItsLayout) {
    ASSERT_EQ(SetFont(":::default_sans", 20), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "One two"), 0);
    qbLayer* layer = GetLayerByIndex(GetCurrentBGPic(), 1);
    qbTransformOptions t;
    t.matrix[0] = t.matrix[3] = 2;
    qbLayer* made = nullptr;
    ASSERT_EQ(RenderLayerTransformed(L_, layer, -1, layer->basestate, &t, 0, &made), 0);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(CountLayers(GetCurrentBGPic()), 2);
    EXPECT_EQ(made->type, kLayerTextOut);
    EXPECT_EQ(TextLayoutOfLayer(made)->text, "One two");
    EXPECT_NEAR(made->shownstate->shownwidth, 2 * layer->basestate->width, layer->basestate->width / 10);
}

}  // namespace
