// The text style, cursor, margin and tab commands on an open display, the
// cursor kept across an output selection, the room each style set by
// SetFontStyle adds to TextExtent, and a colour font opened before the
// first display that draws once the display is ready.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/settings.h"
#include "display/displays.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/fontwriter.h"
#include "text/text.h"
#include "text/textlib.h"

using namespace fontfixture;

namespace {

constexpr double kCenter = -100000, kBottom = -60000;

class TextState : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(InitDefaultFont(), 0);
    }
    void TearDown() override {
        FreeTextLibrary(L_);
        ShowWorld::TearDown();
    }

    std::vector<int32_t> Cursor() const {
        return {display_->outputPosition[0], display_->outputPosition[1], display_->outputPosition[2],
                display_->outputPosition[3]};
    }
    std::vector<int32_t> Tabs() const { return {display_->tabStops, display_->tabStops + display_->tabCount}; }

    std::vector<int32_t> Extent(const std::string& text) {
        VmPushString(L_, text.c_str());
        EXPECT_EQ(Run("TextExtent", 1, 1), 0);
        std::vector<int32_t> out;
        for (const char* key : {"minx", "maxx", "miny", "maxy", "width", "height"}) {
            VmPushString(L_, key);
            VmGetTableAt(L_, -2);
            out.push_back(static_cast<int32_t>(VmToNumber(L_, -1)));
            VmSetTop(L_, -2);
        }
        VmSetTop(L_, 0);
        return out;
    }
    int SetFont(const std::string& name, double size) {
        VmPushString(L_, name.c_str());
        VmPushNumber(L_, size);
        return Run("SetFont", 2);
    }
};

}  // namespace

TEST_F(TextState, SetFontStyleSetsAndAccumulatesItsFlagsAndSizes) {
    qbTextStyle* s = GetTextStyle();
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextBold | kTextNormal}), 0);
    EXPECT_EQ(s->flags, 1u);
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextShadow, 0xFF0000, 100}), 0);
    EXPECT_EQ(s->shadowColour, 0xFF0000u);
    EXPECT_EQ(s->shadowSize, 64);
    EXPECT_EQ(s->shadowDirection, 3);
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextShadow, 0, 0, 9}), 0);
    EXPECT_EQ((std::vector<int32_t>{s->shadowSize, s->shadowDirection}), (std::vector<int32_t>{1, 3}));
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextEdge, 0x00FF00, 3, 7}), 0);
    EXPECT_EQ(s->edgeColour, 0x0093DDu);
    EXPECT_EQ(s->edgeSize, 2);
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextEdge, 0x00FF00, 5}), 0);
    EXPECT_EQ(s->edgeColour, 0x00FF00u);
    EXPECT_EQ(s->edgeSize, 5);
    ASSERT_EQ(RunNumbers("SetFontStyle", {kTextItalic}), 0);
    EXPECT_EQ(s->flags, 1u | kTextShadow | kTextEdge | kTextItalic);
    EXPECT_EQ(RunNumbers("SetFontStyle", {kTextBold, 5}), ERR_TOOMANYARGS);
    EXPECT_EQ(s->flags & kTextBold, 0u);
    ASSERT_EQ(RunNumbers("SetFontColor", {0x80FF0000}), 0);
    EXPECT_EQ(s->colour, 0x80FF0000u);
}

TEST_F(TextState, TabStopsStayAscendingUpToThirtyTwo) {
    ASSERT_EQ(RunNumbers("AddTab", {100, 50, 100}), 0);
    EXPECT_EQ(Tabs(), (std::vector<int32_t>{50, 100, 100}));
    EXPECT_EQ(RunNumbers("AddTab", {70, -1, 10}), ERR_NEGCOORDS);
    EXPECT_EQ(Tabs(), (std::vector<int32_t>{50, 70, 100, 100}));
    ASSERT_EQ(RunNumbers("ResetTabs", {}), 0);
    EXPECT_TRUE(Tabs().empty());
    for (int i = 0; i < 31; ++i) ASSERT_EQ(RunNumbers("AddTab", {double(310 - 10 * i)}), 0);
    // The 32nd fits, the 33rd fails and the stops before it stay.
    EXPECT_EQ(RunNumbers("AddTab", {5, 7}), ERR_INTERNAL);
    ASSERT_EQ(Tabs().size(), 32u);
    EXPECT_EQ(Tabs().front(), 5);
    EXPECT_EQ(Tabs().back(), 310);
}

TEST_F(TextState, LocateAndSetMarginsKeepTheCursorInsideTheMargins) {
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{0, 0, 0, 99}));
    ASSERT_EQ(RunNumbers("SetMargins", {10, 60}), 0);
    ASSERT_EQ(RunNumbers("Locate", {30, -20}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{30, -20, 10, 60}));
    ASSERT_EQ(RunNumbers("Locate", {-100001, 10}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{10, 10, 10, 60}));
    ASSERT_EQ(RunNumbers("Locate", {61, 0}), 0);
    EXPECT_EQ(Cursor()[0], 10);
    EXPECT_EQ(RunNumbers("Locate", {kCenter, 0}), ERR_NOCOORDCST);
    EXPECT_EQ(RunNumbers("Locate", {0, kBottom}), ERR_NOCOORDCST);
    EXPECT_EQ(RunNumbers("SetMargins", {10, 5}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetMargins", {10, 10}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("Locate", {30, 20}), 0);
    ASSERT_EQ(RunNumbers("SetMargins", {-5, 9999}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{0, 0, 0, 99}));
    ASSERT_EQ(RunNumbers("SetDefaultEncoding", {1}), 0);
    EXPECT_EQ(GetDefaultEncoding(), 1);
    EXPECT_EQ(RunNumbers("SetDefaultEncoding", {2}), ERR_WRONGUSAGE);
    EXPECT_EQ(GetDefaultEncoding(), 1);
}

TEST_F(TextState, TheDisplayAnswersItsCursorMarginsAndFontToGetAttribute) {
    // GetAttribute(#DISPLAY, 0, attribute): the first result.
    const auto get = [&](int32_t attribute) -> std::string {
        VmSetTop(L_, 0);
        for (double v : {21.0, 0.0, double(attribute)}) VmPushNumber(L_, v);
        EXPECT_EQ(Run("GetAttribute", 3, -1), 0) << attribute;
        const std::string got = VmGetTop(L_) && VmToCString(L_, 1) ? VmToCString(L_, 1) : "(none)";
        VmSetTop(L_, 0);
        return got;
    };
    ASSERT_EQ(RunNumbers("SetMargins", {10, 60}), 0);
    ASSERT_EQ(RunNumbers("Locate", {30, -20}), 0);
    EXPECT_EQ(get(21), "30");
    EXPECT_EQ(get(22), "-20");
    EXPECT_EQ(get(52), "10");
    EXPECT_EQ(get(53), "60");
    const qbFont* font = CurrentFont(*GetTextStyle());
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(get(32), font->name);
    EXPECT_EQ(get(33), std::to_string(font->size));
    EXPECT_EQ(get(30), std::to_string(font->baseline));
    EXPECT_EQ(get(31), std::to_string(font->height - font->baseline));
    // A selection answers with the cursor it gives the display meanwhile.
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(RunNumbers("SelectBrush", {1}), 0);
    EXPECT_EQ(get(53), "9");
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
}

TEST_F(TextState, ASelectionResetsTheCursorAndEndSelectBringsItBack) {
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(RunNumbers("SetMargins", {10, 60}), 0);
    ASSERT_EQ(RunNumbers("Locate", {30, 20}), 0);
    ASSERT_EQ(RunNumbers("SelectBrush", {1}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{0, 0, 0, 9}));
    // Margins measure the selected output, not the display.
    ASSERT_EQ(RunNumbers("SetMargins", {2, 50}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{2, 0, 2, 9}));
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    EXPECT_EQ(Cursor(), (std::vector<int32_t>{30, 20, 10, 60}));
}

// minx, maxx, miny, maxy, width, height with one style at a time.
TEST_F(TextState, TextExtentAddsTheRoomOfTheStylesSetByCommands) {
    ScratchFolder dir;
    dir.WriteFont("kerned", {{7, WriteFontFile(Proportional(true))}});
    struct Case {
        std::initializer_list<double> style;
        std::vector<int32_t> topaz, kerned;
    };
    const Case cases[] = {
        {{kTextNormal}, {0, 15, -6, 1, 16, 8}, {-2, 11, -5, 1, 12, 7}},
        {{kTextBold}, {0, 16, -6, 1, 16, 8}, {-2, 12, -5, 1, 12, 7}},
        {{kTextItalic}, {-1, 18, -6, 1, 16, 8}, {-3, 13, -5, 1, 12, 7}},
        {{kTextShadow, 0, 5, kShadowEast}, {0, 20, -6, 1, 16, 8}, {-2, 16, -5, 1, 12, 7}},
        {{kTextShadow, 0, 2, kShadowNorthWest}, {-2, 15, -8, 1, 16, 8}, {-4, 11, -7, 1, 12, 7}},
        {{kTextEdge, 0, 3}, {-3, 18, -9, 4, 16, 8}, {-5, 14, -8, 4, 12, 7}},
    };
    VmPushString(L_, dir.Path("").c_str());
    ASSERT_EQ(Run("AddFontPath", 1), 0);
    for (const Case& c : cases) {
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_EQ(RunNumbers("SetFontStyle", c.style), 0);
        EXPECT_EQ(Extent("Hi"), c.topaz) << "style " << *c.style.begin();
        ASSERT_EQ(SetFont("kerned", 7), 0);
        ASSERT_EQ(RunNumbers("SetFontStyle", c.style), 0);
        EXPECT_EQ(Extent("ba"), c.kerned) << "style " << *c.style.begin();
    }
}

TEST_F(TextState, AColourFontOpenedWhileDeclaringDrawsOnceADisplayIsReady) {
    ScratchFolder dir;
    const FontLayout layout = Colour(3);
    dir.WriteFont("colour", {{6, WriteFontFile(layout)}});
    SetRuntimeTag(kTagDeclaring, 1);
    VmPushNumber(L_, 1);
    VmPushString(L_, dir.Path("colour").c_str());
    VmPushNumber(L_, 6);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "engine", kFontEngineInbuilt);
    const int err = Run("OpenFont", 4);
    SetRuntimeTag(kTagDeclaring, 0);
    ASSERT_EQ(err, 0);
    qbFontObject* object = nullptr;
    ASSERT_EQ(FindFontObject(ObjectID{1, nullptr}, &object), 0);
    qbFont* font = object->font;
    EXPECT_FALSE(font->rawPixels.empty());
    EXPECT_EQ(font->glyphBitmap, nullptr);

    SetRuntimeTag(kTagQuiet, 1);
    ASSERT_EQ(PrepareFirstDisplay(L_, display_), 0);
    EXPECT_TRUE(font->rawPixels.empty());
    ASSERT_NE(font->glyphMask, nullptr);

    constexpr uint32_t kPaper = 0x102030;
    constexpr int kWidth = 30, kHeight = 6;
    BitmapPtr page(AllocBitmap(kWidth, kHeight, 0, nullptr));
    ASSERT_NE(page, nullptr);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) WriteBitmapPixel(page.get(), x, y, kPaper, false);
    RenderFontText(font, page.get(), nullptr, 0, 0, "abc", 3, 0, 0, qbClipRect{0, 0, kWidth, kHeight}, 0);
    int pen = 0;
    int paper = 0;
    for (int index = 0; index < 3; ++index) {
        pen += layout.kern[static_cast<size_t>(index)];
        const uint32_t loc = layout.charLoc[static_cast<size_t>(index)];
        for (int row = 0; row < layout.ySize; ++row)
            for (int col = 0; col < static_cast<int>(loc & 0xFFFF); ++col) {
                const uint32_t v = StripPixel(layout, static_cast<int>(loc >> 16) + col, row);
                // Index 0 is the transparent key; the last index has no colour.
                const bool clear = v == 0 || v >= layout.colours.size();
                ASSERT_EQ(ReadBitmapPixel(page.get(), pen + col, row, false),
                          clear ? kPaper : PaletteColour(layout, v))
                    << "glyph " << index << " at " << col << "," << row;
                paper += clear;
            }
        pen += layout.space[static_cast<size_t>(index)];
    }
    EXPECT_GT(paper, 0);
}
