// The text keys of TEXTOUT and PRINT layers in SetLayerStyle and
// GetLayerStyle: the layer drawn anew as TextOut would draw it, the style
// bits and the layer's own shadow, refusals that leave the layer alone, and
// the print layer's tab stops, margins and cursor.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "display/display.h"
#include "display/positions.h"
#include "draw/attributes.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layersources.h"
#include "objects/selectcmds.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlayers.h"
#include "text/textlib.h"
#include "text/textobjects.h"
#include "text_world.h"

namespace {

class TextLayerStyleWorld : public TextWorld {
protected:
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(GetCurrentBGPic(), n); }
    int Style(int32_t layer, const std::function<void()>& fill) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        VmPushNewTable(L_);
        fill();
        return Run("SetLayerStyle", 2);
    }
    void Key(const char* key, double v) { SetTableFieldFloat(L_, key, v); }
    void Key(const char* key, const char* v) { SetTableFieldString(L_, key, v); }
    // One field of GetLayerStyle(layer) as a string (numbers too).
    std::string Get(int32_t layer, const char* key) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        std::string out = "?";
        double v = 0;
        const char* s = nullptr;
        VmPushString(L_, key);
        VmRawGet(L_, -2);
        const int type = VmType(L_, -1);
        VmSetTop(L_, -2);
        if (type == kTypeNumber && GetTableFieldFloat(L_, -1, key, &v, nullptr)) out = std::to_string(int64_t(v));
        else if (GetTableFieldString(L_, -1, key, &s, nullptr)) out = s;
        VmSetTop(L_, 0);
        return out;
    }
};

TEST_F(TextLayerStyleWorld, TextAndSizeDrawTheLayerAnewAsTextOutWould) {
    ASSERT_EQ(SetFont(":::default_sans", 20), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Score: 0"), 0);
    const std::string font = Get(1, "font");
    ASSERT_EQ(Style(1, [&] {
                  Key("text", "Score: 20");
                  Key("fontsize", 32);
              }),
              0);
    // The same text at that size from TextOut.
    ASSERT_EQ(SetFont(":::default_sans", 32), 0);
    ASSERT_EQ(TextOutPlain(10, 200, "Score: 20"), 0);
    const qbLayerState& restyled = *Layer(1)->basestate;
    const qbLayerState& direct = *Layer(2)->basestate;
    EXPECT_EQ(restyled.width, direct.width);
    EXPECT_EQ(restyled.height, direct.height);
    EXPECT_EQ(Layer(1)->shownstate->shownwidth, direct.width);
    EXPECT_EQ(Get(1, "text"), "Score: 20");
    EXPECT_EQ(Get(1, "fontsize"), "32");
    EXPECT_EQ(Get(1, "font"), font);
    EXPECT_EQ(Get(1, "encoding"), "0");
    EXPECT_EQ(Get(1, "align"), std::to_string(kTextAlignLeft));
    EXPECT_EQ(TextLayoutOfLayer(Layer(1))->text, "Score: 20");
}

TEST_F(TextLayerStyleWorld, StyleBitsAndRefusalsThatLeaveTheLayerAlone) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Bold"), 0);
    const int32_t plainWidth = Layer(1)->basestate->width;
    ASSERT_EQ(Style(1, [&] { Key("fontstyle", kTextBold); }), 0);
    EXPECT_NE(TextLayoutOfLayer(Layer(1))->style.flags & kTextBold, 0u);
    const int32_t boldWidth = Layer(1)->basestate->width;
    EXPECT_GT(boldWidth, plainWidth);
    ASSERT_EQ(Style(1, [&] { Key("fontstyle", kTextNormal); }), 0);
    EXPECT_EQ(TextLayoutOfLayer(Layer(1))->style.flags, uint32_t{kTextNormal});
    EXPECT_EQ(Layer(1)->basestate->width, plainWidth);

    ASSERT_EQ(Style(1, [&] { Key("fontstyle", kTextShadow); }), 0);
    EXPECT_EQ(Layer(1)->shadow.shadow, 1);
    EXPECT_EQ(Get(1, "shadow"), "1");
    ASSERT_EQ(Style(1, [&] { Key("fontstyleclear", kTextShadow); }), 0);
    EXPECT_EQ(Layer(1)->shadow.shadow, 0);

    const qbBitmap* bitmap = Layer(1)->basestate->bitmap;
    const int32_t width = Layer(1)->basestate->width;
    EXPECT_EQ(Style(1, [&] { Key("encoding", 2); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Style(1, [&] {
                  Key("text", "Other");
                  Key("font", "no such font here");
              }),
              ERR_OPENFONT);
    EXPECT_EQ(Layer(1)->basestate->bitmap, bitmap);
    EXPECT_EQ(Layer(1)->basestate->width, width);
    EXPECT_EQ(Get(1, "text"), "Bold");
}

TEST_F(TextLayerStyleWorld, PrintLayersTakeTabsMarginsAndCursor) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunText("Print", "a\tb"), 0);
    ASSERT_EQ(Layer(1)->type, kLayerPrint);
    auto tabs = [&](int count, bool withString) {
        return Style(1, [&] {
            VmPushString(L_, "tabs");
            VmPushNewTable(L_);
            for (int i = 0; i < count; ++i) {
                if (withString && i == 1) VmPushString(L_, "x");
                else VmPushNumber(L_, 100 - i);
                VmRawSetIndex(L_, -2, i);
            }
            VmSetTableAt(L_, -3);
        });
    };
    EXPECT_EQ(tabs(32, false), ERR_INTERNAL);
    EXPECT_EQ(tabs(3, true), ERR_NUMTABLEARG);
    ASSERT_EQ(tabs(31, false), 0);
    const std::vector<int32_t>& stops = TextLayoutOfLayer(Layer(1))->tabStops;
    ASSERT_EQ(stops.size(), 31u);
    EXPECT_TRUE(std::is_sorted(stops.begin(), stops.end()));

    EXPECT_EQ(Style(1, [&] { Key("leftmargin", -1); }), ERR_WRONGUSAGE);
    ASSERT_EQ(Style(1, [&] {
                  Key("leftmargin", 20);
                  Key("rightmargin", 300);
                  Key("cursorx", 400);
              }),
              0);
    EXPECT_EQ(Get(1, "cursorx"), "20");
    EXPECT_EQ(Get(1, "leftmargin"), "20");
    EXPECT_EQ(Get(1, "rightmargin"), "300");
}

// Colour, edge on and off, encoding: each reads back from the layer; an
// edge the layer did not have takes the current style's colour and size.
// Position constants for the print cursor and tab stops that are no list
// are refused with their own errors.
TEST_F(TextLayerStyleWorld, EachTextKeyReadsBackAndBadOnesHaveTheirErrors) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Edge"), 0);
    ASSERT_EQ(Style(1, [&] { Key("color", 0xFF123456u); }), 0);
    EXPECT_EQ(Get(1, "color"), std::to_string(0x123456));
    EXPECT_EQ(Layer(1)->border.border, 0);
    GetTextStyle()->edgeColour = 0x00FF00;
    GetTextStyle()->edgeSize = 3;
    ASSERT_EQ(Style(1, [&] { Key("fontstyle", kTextEdge); }), 0);
    EXPECT_EQ(Get(1, "border"), "1");
    EXPECT_EQ(Get(1, "bordercolor"), std::to_string(0x00FF00));
    EXPECT_EQ(Get(1, "bordersize"), "3");
    ASSERT_EQ(Style(1, [&] { Key("fontstyleclear", kTextEdge); }), 0);
    EXPECT_EQ(Get(1, "border"), "0");
    for (int encoding : {1, 0}) {
        ASSERT_EQ(Style(1, [&] { Key("encoding", encoding); }), 0);
        EXPECT_EQ(Get(1, "encoding"), std::to_string(encoding));
    }

    ASSERT_EQ(RunText("Print", "p"), 0);
    ASSERT_EQ(Layer(2)->type, kLayerPrint);
    for (int32_t x : {kPositionCenter, int32_t{kPositionLeft}, int32_t{kPositionRight}})
        EXPECT_EQ(Style(2, [&] { Key("cursorx", x); }), ERR_NOCOORDCST) << x;
    for (int32_t y : {kPositionCenter, int32_t{kPositionTop}, int32_t{kPositionBottom}})
        EXPECT_EQ(Style(2, [&] { Key("cursory", y); }), ERR_NOCOORDCST) << y;
    EXPECT_EQ(Style(2, [&] { Key("tabs", "8 16"); }), ERR_TABEXPECTED);
    EXPECT_EQ(Get(2, "text"), "p");
}

TEST_F(TextLayerStyleWorld, ABrushLayerTurnsIntoTextInTheCurrentStyle) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitBrushLibrary(L_), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (double v : {1.0, 8.0, 8.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateBrush", 3), 0);
    for (double v : {1.0, 5.0, 5.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("DisplayBrush", 3), 0);
    EXPECT_EQ(Style(1, [&] { Key("type", kLayerTextOut); }), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Layer(1)->type, kLayerBrush);
    ASSERT_EQ(Style(1, [&] {
                  Key("type", kLayerTextOut);
                  Key("text", "Turned");
              }),
              0);
    ASSERT_EQ(Layer(1)->type, kLayerTextOut);
    EXPECT_EQ(Get(1, "text"), "Turned");
    ASSERT_EQ(TextOutPlain(5, 100, "Turned"), 0);
    EXPECT_EQ(Layer(1)->basestate->width, Layer(2)->basestate->width);
    EXPECT_EQ(Layer(1)->basestate->height, Layer(2)->basestate->height);
    EXPECT_EQ(Layer(1)->basestate->x, 5);
    // Printed text starts from the display's cursor and margins.
    qbDisplay* d = GetCurrentDisplay();
    d->outputPosition[kTextLeftMargin] = 30;
    d->outputPosition[kTextRightMargin] = 200;
    for (double v : {2.0, 8.0, 8.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateBrush", 3), 0);
    for (double v : {2.0, 50.0, 50.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("DisplayBrush", 3), 0);
    const int32_t printed = CountLayers(GetCurrentBGPic());
    ASSERT_EQ(Style(printed, [&] {
                  Key("type", kLayerPrint);
                  Key("text", "Printed");
              }),
              0);
    EXPECT_EQ(Layer(printed)->type, kLayerPrint);
    EXPECT_EQ(Get(printed, "leftmargin"), "30");
    EXPECT_EQ(Get(printed, "rightmargin"), "200");
    // And back: the text's picture, planes and layout go with it.
    ASSERT_EQ(Style(1, [&] {
                  Key("type", kLayerBrush);
                  Key("id", 1);
              }),
              0);
    EXPECT_EQ(Layer(1)->type, kLayerBrush);
    EXPECT_EQ(TextLayoutOfLayer(Layer(1)), nullptr);
    EXPECT_EQ(Layer(1)->basestate->mask, nullptr);
    EXPECT_EQ(Layer(1)->basestate->alpha, nullptr);
    EXPECT_EQ(Layer(1)->basestate->width, 8);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    FreeAllBrushes(L_);
}

TEST_F(TextLayerStyleWorld, ATextObjectLayerTakesAnotherObjectAndTextTurnsIntoOne) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (auto [id, text] : {std::pair{1.0, "One"}, std::pair{2.0, "The second one"}}) {
        VmPushNumber(L_, id);
        VmPushString(L_, text);
        ASSERT_EQ(Run("CreateTextObject", 2), 0);
    }
    ASSERT_EQ(RunNumbers("InsertLayer", {0, double(kLayerTextObject), 1, 30, 40}), 0);
    ASSERT_EQ(TextOutPlain(10, 100, "Text"), 0);
    qbTextObject *one = nullptr, *two = nullptr;
    ASSERT_EQ(GetTextObject(L_, ObjectID{1, nullptr}, &one, 0), 0);
    ASSERT_EQ(GetTextObject(L_, ObjectID{2, nullptr}, &two, 0), 0);
    const int32_t x = Layer(1)->basestate->x;

    EXPECT_EQ(Style(1, [&] { Key("id", 9); }), ERR_FINDTEXTOBJECT);
    ASSERT_EQ(Style(1, [&] { Key("id", 2); }), 0);
    EXPECT_EQ(Layer(1)->id.number, 2);
    EXPECT_EQ(Layer(1)->basestate->width, two->width);
    EXPECT_EQ(Layer(1)->basestate->x, x);
    EXPECT_EQ(Get(1, "id"), "2");
    EXPECT_EQ(CountLayerSources(kLayerTextObject, ObjectID{1, nullptr}), 0);
    EXPECT_EQ(CountLayerSources(kLayerTextObject, ObjectID{2, nullptr}), 1);

    EXPECT_EQ(Style(2, [&] { Key("type", kLayerTextObject); }), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Layer(2)->type, kLayerTextOut);
    ASSERT_EQ(Style(2, [&] {
                  Key("type", kLayerTextObject);
                  Key("id", 1);
              }),
              0);
    EXPECT_EQ(Layer(2)->type, kLayerTextObject);
    EXPECT_EQ(Layer(2)->basestate->x, 10);
    EXPECT_EQ(Layer(2)->basestate->width, one->width);
    EXPECT_EQ(TextLayoutOfLayer(Layer(2)), nullptr);
    EXPECT_EQ(CountLayerSources(kLayerTextObject, ObjectID{1, nullptr}), 1);
    // And back into text: the object is no longer held.
    ASSERT_EQ(Style(2, [&] {
                  Key("type", kLayerTextOut);
                  Key("text", "Again");
              }),
              0);
    EXPECT_EQ(CountLayerSources(kLayerTextObject, ObjectID{1, nullptr}), 0);
}

TEST_F(TextLayerStyleWorld, GroupsKeepTheirTextAndPrintedTextIsPlacedOneWay) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "First"), 0);
    ASSERT_EQ(TextOutPlain(10, 40, "Second"), 0);
    for (int32_t n : {1, 2}) ASSERT_EQ(Style(n, [&] { Key("group", "words"); }), 0);
    VmSetTop(L_, 0);
    VmPushString(L_, "words");
    VmPushNewTable(L_);
    Key("text", "Changed");
    Key("x", 50);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);
    EXPECT_EQ(Get(1, "text"), "First");
    EXPECT_EQ(Get(2, "text"), "Second");
    EXPECT_EQ(Layer(1)->basestate->x, 50);
    EXPECT_EQ(Layer(2)->basestate->x, 50);

    // Unprinted text wraps at its right margin.
    ASSERT_EQ(Style(1, [&] { Key("rightmargin", 120); }), 0);
    EXPECT_EQ(Get(1, "rightmargin"), "120");
    EXPECT_EQ(Get(1, "leftmargin"), "0");
    EXPECT_EQ(Style(1, [&] { Key("rightmargin", -1); }), ERR_WRONGUSAGE);

    ASSERT_EQ(RunText("Print", "p"), 0);
    ASSERT_EQ(Layer(3)->type, kLayerPrint);
    EXPECT_EQ(Get(3, "align"), std::to_string(kTextAlignLeft));
    EXPECT_EQ(Style(3, [&] {
                  Key("cursorx", 5);
                  Key("x", 3);
              }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(Style(3, [&] { Key("cursory", kPositionBottom); }), ERR_NOCOORDCST);
    EXPECT_EQ(Style(3, [&] { Key("cursorx", kPositionCenter + 4); }), 0);
}

TEST_F(TextLayerStyleWorld, InsertLayerPutsATextObjectUnderTheOthers) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Top"), 0);
    VmPushNumber(L_, 1);
    VmPushString(L_, "Hello");
    ASSERT_EQ(Run("CreateTextObject", 2), 0);
    auto insert = [&](double id) {
        VmSetTop(L_, 0);
        for (double v : {1.0, double(kLayerTextObject), id, 30.0, 40.0}) VmPushNumber(L_, v);
        return Run("InsertLayer", 5);
    };
    EXPECT_EQ(insert(2), ERR_FINDTEXTOBJECT);
    ASSERT_EQ(insert(1), 0);
    ASSERT_EQ(CountLayers(GetCurrentBGPic()), 2);
    EXPECT_EQ(Layer(1)->type, kLayerTextObject);
    EXPECT_EQ(Layer(1)->id.number, 1);
    qbTextObject* object = nullptr;
    ASSERT_EQ(GetTextObject(L_, ObjectID{1, nullptr}, &object, 0), 0);
    EXPECT_EQ(Layer(1)->basestate->x, 30 + object->xOffset);
    EXPECT_EQ(Layer(2)->type, kLayerTextOut);
}

TEST_F(TextLayerStyleWorld, SelectingATextLayerMakesItABrushLayerOfItsPixels) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(10, 10, "Draw"), 0);
    ASSERT_EQ(TextOutPlain(10, 50, "Other"), 0);
    qbBitmap* text = Layer(1)->basestate->bitmap;
    const int32_t w = Layer(1)->basestate->width, h = Layer(1)->basestate->height;
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) pixels.push_back(ReadBitmapPixel(text, x, y, false));
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("SelectLayer", 1), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(cmdEndSelect(L_), 0);
    ASSERT_EQ(Layer(1)->type, kLayerBrush);
    EXPECT_EQ(TextLayoutOfLayer(Layer(1)), nullptr);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, Layer(1)->id, &brush, kBrushDetachedToo), 0);
    ASSERT_EQ(brush->width, w);
    ASSERT_EQ(brush->height, h);
    std::vector<uint32_t> drawn;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) drawn.push_back(ReadBitmapPixel(brush->bitmap, x, y, false));
    EXPECT_EQ(drawn, pixels);
    // The other text layer is untouched.
    EXPECT_EQ(Layer(2)->type, kLayerTextOut);

    // Text drawn into the selected layer lands in its brush alone.
    const qbBitmap* other = Layer(2)->basestate->bitmap;
    const uint32_t otherPixel = ReadBitmapPixel(Layer(2)->basestate->bitmap, 2, 2, false);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("SelectLayer", 1), 0);
    VmSetTop(L_, 0);
    ASSERT_EQ(TextOutPlain(0, 0, "##"), 0);
    ASSERT_EQ(cmdEndSelect(L_), 0);
    ASSERT_EQ(GetBrushRecord(L_, Layer(1)->id, &brush, kBrushDetachedToo), 0);
    size_t changed = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            changed += ReadBitmapPixel(brush->bitmap, x, y, false) != pixels[static_cast<size_t>(y * w + x)];
    EXPECT_GT(changed, 0u);
    EXPECT_EQ(Layer(2)->basestate->bitmap, other);
    EXPECT_EQ(ReadBitmapPixel(Layer(2)->basestate->bitmap, 2, 2, false), otherPixel);
}

TEST_F(TextLayerStyleWorld, TextObjectsAnswerTheirSizeTextAndFontToGetAttribute) {
    InstallBuiltInAttributeRows();
    InstallFontAttributeRows();
    std::string got;
    const auto get = [&](double id, int32_t attribute) {
        VmSetTop(L_, 0);
        for (double v : {double(kObjectTypeTextObject), id, double(attribute)}) VmPushNumber(L_, v);
        const int n = cmdGetAttribute(L_);
        got = n == 1 && VmToCString(L_, -1) ? VmToCString(L_, -1) : "";
        VmSetTop(L_, 0);
        return n >= 1000 ? n : 0;
    };
    VmPushNumber(L_, 1);
    VmPushString(L_, "Hi there");
    ASSERT_EQ(Run("CreateTextObject", 2), 0);
    qbTextObject* object = nullptr;
    ASSERT_EQ(GetTextObject(L_, ObjectID{1, nullptr}, &object, 0), 0);
    ASSERT_EQ(get(1, 0), 0);
    EXPECT_EQ(got, std::to_string(object->width));
    ASSERT_EQ(get(1, 1), 0);
    EXPECT_EQ(got, std::to_string(object->height));
    ASSERT_EQ(get(1, 36), 0);
    EXPECT_EQ(got, "Hi there");
    // Made in the default topaz: its name alone, fixed size, no smoothing.
    const qbFont* font = CurrentFont(object->layout->style);
    ASSERT_EQ(get(1, 32), 0);
    EXPECT_EQ(got, font->name);
    ASSERT_EQ(get(1, 34), 0);
    EXPECT_EQ(got, "0");
    ASSERT_EQ(get(1, 35), 0);
    EXPECT_EQ(got, "0");
    ASSERT_EQ(get(1, 31), 0);
    EXPECT_EQ(got, std::to_string(font->height - font->baseline));
    EXPECT_EQ(get(2, 0), ERR_FINDTEXTOBJECT);

    // A text-object layer names its object.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("InsertLayer", {0, double(kLayerTextObject), 1, 0, 0}), 0);
    VmSetTop(L_, 0);
    for (double v : {double(kObjectTypeLayer), 1.0, 82.0}) VmPushNumber(L_, v);
    ASSERT_EQ(cmdGetAttribute(L_), 1);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
    VmSetTop(L_, 0);
    ASSERT_EQ(Run("DisableLayers", 0), 0);

    // Vera through the inbuilt engine scales and smooths.
    VmPushNumber(L_, 3);
    VmPushString(L_, ":::default_sans");
    VmPushNumber(L_, 20);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "engine", kFontEngineInbuilt);
    ASSERT_EQ(Run("OpenFont", 4), 0);
    const auto font3 = [&](int32_t attribute) {
        VmSetTop(L_, 0);
        for (double v : {double(kObjectTypeFont), 3.0, double(attribute)}) VmPushNumber(L_, v);
        EXPECT_EQ(cmdGetAttribute(L_), 1) << attribute;
        got = VmToCString(L_, -1) ? VmToCString(L_, -1) : "";
        VmSetTop(L_, 0);
        return got;
    };
    EXPECT_EQ(font3(34), "1");
    EXPECT_EQ(font3(35), "1");
    EXPECT_EQ(font3(32), "Bitstream Vera Sans");
    EXPECT_EQ(font3(33), "20");

    // The cursor follows Locate and Print.
    const auto cursorX = [&] {
        VmSetTop(L_, 0);
        for (double v : {21.0, 0.0, 21.0}) VmPushNumber(L_, v);
        EXPECT_EQ(cmdGetAttribute(L_), 1);
        const double x = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return x;
    };
    ASSERT_EQ(RunNumbers("Locate", {30, 20}), 0);
    EXPECT_EQ(cursorX(), 30);
    ASSERT_EQ(RunText("Print", "ab"), 0);
    EXPECT_EQ(cursorX(), 30 + Width("ab"));
}

}  // namespace
