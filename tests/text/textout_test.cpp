// TextOut into display 1 under the dummy video driver: the position
// constants, the direct path against the composed one, argument errors, and
// TEXTOUT layers with their kept layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/displaylib_fixture.h"
#include "draw/attributes.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "text/font.h"
#include "text/text.h"
#include "text/textlayers.h"
#include "text/textlib.h"
#include "peak_memory.h"
#include "text_world.h"

namespace {

class TextOutWorld : public TextWorld {
protected:
    int SetFont(int32_t size) {
        VmPushString(L_, ":::default_sans");
        VmPushNumber(L_, size);
        return Run("SetFont", 2);
    }
    int TextOut(int32_t x, int32_t y, const std::string& text, int32_t align = kPositionLeftDefault,
                int32_t wrap = 0) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushLString(L_, text.data(), text.size());
        VmPushNumber(L_, align);
        VmPushNumber(L_, wrap);
        return Run("TextOut", 5);
    }
    uint32_t Pixel(int32_t x, int32_t y) {
        return ReadBitmapPixel(shown_ ? shown_ : display_->spriteFreeBuffer.get(), x, y, false);
    }
    // The columns in which any pixel of the rows differs from the corner.
    std::vector<int32_t> InkColumns(int32_t top, int32_t bottom) {
        const uint32_t ground = Pixel(0, 0);
        std::vector<int32_t> out;
        for (int32_t x = 0; x < 640; ++x)
            for (int32_t y = top; y < bottom; ++y)
                if (Pixel(x, y) != ground) {
                    out.push_back(x);
                    break;
                }
        return out;
    }
    static constexpr int32_t kPositionLeftDefault = -90000;
    qbBitmap* shown_ = nullptr;  // where the layers are composed, once they are on
};

TEST_F(TextOutWorld, ACentredStemLandsOnTheWindowCentreLayersOffAndOn) {
    ASSERT_EQ(SetFont(120), 0);
    ASSERT_EQ(TextOut(-100000, -100000, "I"), 0);
    std::vector<int32_t> ink = InkColumns(170, 480);
    ASSERT_FALSE(ink.empty());
    EXPECT_NEAR((ink.front() + ink.back()) / 2.0, 320, 4);
    EXPECT_LT(ink.back() - ink.front(), 40);

    // Layers on, at the top: the stem's columns there.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOut(-100000, 0, "I"), 0);
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 1);
    RefreshLayerRect(L_, 0, 0, 640, 480, 0);
    if (display_->backBuffer) shown_ = display_->backBuffer.get();
    ink = InkColumns(0, 150);
    ASSERT_FALSE(ink.empty());
    EXPECT_NEAR((ink.front() + ink.back()) / 2.0, 320, 4);
}

TEST_F(TextOutWorld, TheDirectPathDrawsTheComposedPathsPixels) {
    ASSERT_EQ(SetFont(24), 0);
    VmPushNumber(L_, kTextAntialias);
    ASSERT_EQ(Run("SetFontStyle", 1), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(TextOut(10, 20, "Hello, Wavy World"), 0);  // no tag: straight to the engine
    ASSERT_EQ(TextOut(10, 220, "[b][/b]Hello, Wavy World"), 0);  // an empty tag: composed
    int32_t differing = 0, inked = 0;
    const uint32_t ground = Pixel(0, 0);
    for (int32_t y = 10; y < 60; ++y)
        for (int32_t x = 0; x < 400; ++x) {
            if (Pixel(x, y) != ground) ++inked;
            if (Pixel(x, y) != Pixel(x, y + 200)) ++differing;
        }
    EXPECT_GT(inked, 100);
    EXPECT_EQ(differing, 0);
}

// Wrapped text cut by the window's top and bottom draws the rows it crosses
// as the whole block would: the same text drawn whole beside it, 3.5 lines
// lower, matches row for row.
TEST_F(TextOutWorld, WrappedLinesCutByTheWindowDrawAsTheWholeBlockDoes) {
    ASSERT_EQ(SetFont(24), 0);
    std::string words;
    for (int i = 0; i < 40; ++i) words += std::string(static_cast<size_t>(1 + i % 7), static_cast<char>('a' + i % 26)) + " ";
    const int32_t line = CurrentFont(*GetTextStyle())->height;
    const int32_t cut = line * 7 / 2;
    ASSERT_EQ(TextOut(5, 10, words, kTextAlignCenter, 250), 0);
    const int32_t height = GetCurrentBGPic()->currentHeight;
    ASSERT_EQ(TextOut(325, 10 - cut, words, kTextAlignCenter, 250), 0);
    int32_t inked = 0, differing = 0;
    const uint32_t ground = Pixel(0, 0);
    for (int32_t y = 0; y + cut < height; ++y)
        for (int32_t x = 0; x < 310; ++x) {
            inked += Pixel(x, y + cut) != ground;
            differing += Pixel(x, y + cut) != Pixel(x + 320, y);
        }
    EXPECT_GT(inked, 1000);
    EXPECT_EQ(differing, 0);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_TEXTOUT_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QB_TEXTOUT_ASAN 1
#endif
#ifdef QB_TEXTOUT_ASAN
// Under AddressSanitizer blocks carry red zones and freed ones stay
// resident in its quarantine (256 MB by default) before they are reused.
constexpr uint64_t kWrappedTextBound = 2 * (uint64_t{80} << 20) + (uint64_t{256} << 20);
#else
constexpr uint64_t kWrappedTextBound = uint64_t{80} << 20;
#endif

// 4 MB of words wrapped at 600 pixels are 56,000 lines; the window shows
// thirty, and only those are composed: the cost is the text's, a few times
// over (10 MB cost 124 MB), not a picture of every line (2 MB cost 694 MB).
TEST_F(TextOutWorld, WrappedTextCostsTheLinesTheWindowShows) {
    ASSERT_EQ(SetFont(16), 0);
    std::string words;
    while (words.size() < (size_t{4} << 20)) words += "lorem ipsum dolor sit amet ";
    EXPECT_LT(PeakGrowth([&] { EXPECT_EQ(TextOut(0, 0, words, kTextAlignLeft, 600), 0); }), kWrappedTextBound);
    EXPECT_GT(InkColumns(0, 40).size(), 400u);
}

TEST_F(TextOutWorld, BadArgumentsFailWithTheirCodesAndDrawNothing) {
    ASSERT_EQ(SetFont(20), 0);
    EXPECT_EQ(TextOut(0, 0, "x", kPositionLeftDefault, -1), ERR_WRONGUSAGE);
    EXPECT_EQ(TextOut(0, 0, "[/color]x"), ERR_TEXTSYNTAX);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushString(L_, "x");
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "encoding", 2);
    EXPECT_EQ(Run("TextOut", 4), ERR_WRONGUSAGE);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushString(L_, "x");
    VmPushNewTable(L_);
    VmPushString(L_, "wordwraptable");
    VmPushNewTable(L_);
    for (int i = 0; i < 32768; ++i) {
        VmPushNumber(L_, i);
        VmRawSetIndex(L_, -2, i);
    }
    VmRawSet(L_, -3);
    EXPECT_EQ(Run("TextOut", 4), ERR_INTERNAL);
    VmSetTop(L_, 0);
    EXPECT_TRUE(InkColumns(0, 480).empty());
}

TEST_F(TextOutWorld, OneTextOutLayerPerCallKeepsItsLayoutAndUndoFreesIt) {
    ASSERT_EQ(SetFont(20), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (uint32_t style : {kTextShadow, kTextEdge}) {
        VmPushNumber(L_, style);
        ASSERT_EQ(Run("SetFontStyle", 1), 0);
        VmSetTop(L_, 0);
    }
    ASSERT_EQ(TextOut(10, 10, "one two three", -100000, 50), 0);
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 1);
    qbLayer* layer = GetLayerByIndex(picture, 1);
    EXPECT_EQ(layer->type, kLayerTextOut);
    EXPECT_EQ(layer->shadow.shadow, 1);
    EXPECT_EQ(layer->border.border, 1);
    const qbTextLayout* kept = TextLayoutOfLayer(layer);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->text, "one two three");
    EXPECT_FALSE(kept->wordBreaks.empty());
    EXPECT_EQ(kept->style.flags & (kTextShadow | kTextEdge), 0u);
    VmPushNumber(L_, kLayerTextOut);
    ASSERT_EQ(Run("Undo", 1), 0);
    EXPECT_EQ(CountLayers(picture), 0);
}

TEST_F(TextOutWorld, TextLayersAnswerTheirTextAndFontToGetAttribute) {
    // The libraries in the player's order: graphics, then text over its
    // refusals.
    InstallBuiltInAttributeRows();
    InstallFontAttributeRows();
    // GetAttribute(#LAYER, index, attribute): the error, the result as text.
    std::string got;
    const auto get = [&](double index, int32_t attribute) {
        VmSetTop(L_, 0);
        for (double v : {22.0, index, double(attribute)}) VmPushNumber(L_, v);
        const int n = cmdGetAttribute(L_);
        got = n == 1 && VmToCString(L_, -1) ? VmToCString(L_, -1) : "";
        VmSetTop(L_, 0);
        return n >= 1000 ? n : 0;
    };
    ASSERT_EQ(SetFont(20), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOut(10, 10, "hello there"), 0);
    ASSERT_EQ(SetFont(31), 0);
    ASSERT_EQ(get(1, 36), 0);
    EXPECT_EQ(got, "hello there");
    // The layer keeps the font it was drawn with.
    ASSERT_EQ(get(1, 33), 0);
    EXPECT_EQ(got, "20");
    ASSERT_EQ(get(1, 32), 0);
    EXPECT_EQ(got, GetTextStyle()->font->name);
    // Other layers are no text layers.
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L_), 0);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    for (double v : {8.0, 8.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateBrush", 3), 0);
    for (double v : {1.0, 0.0, 0.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("DisplayBrush", 3), 0);
    EXPECT_EQ(get(2, 36), ERR_NOTXTLAYER);
    EXPECT_EQ(get(2, 30), ERR_NOTXTLAYER);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    FreeAllBrushes(L_);
}

}  // namespace
