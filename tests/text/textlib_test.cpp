// The text library's constants, its style record, MeasureText with the room
// each style adds (worked out by hand), and the three measuring commands.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontwriter.h"
#include "text/text.h"
#include "text/textlib.h"

using namespace fontfixture;

namespace {

class TextLib : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(InitDefaultFont(), 0);
    }
    void TearDown() override {
        FreeTextLibrary(L_);
        VmClose(L_);
        ResetRuntimeSettings();
    }

    std::vector<int32_t> Measure(const std::string& text, const qbTextStyle& style) {
        qbTextMetrics m;
        EXPECT_EQ(MeasureText(text.data(), text.size(), 0, &m, style), 0);
        return {m.width,        m.height,   m.minX,        m.minY,      m.maxX,      m.maxY,
                m.visibleWidth, m.extraTop, m.extraBottom, m.extraLeft, m.extraRight};
    }

    // The result of a one-result command; the error code when it fails.
    int Call(const char* command, const std::string& text, int encoding = -1) {
        VmPushLString(L_, text.data(), text.size());
        if (encoding >= 0) VmPushNumber(L_, encoding);
        return CallCommand(L_, command, encoding >= 0 ? 2 : 1, 1);
    }

    std::vector<int32_t> Extent(const std::string& text) {
        EXPECT_EQ(Call("TextExtent", text), 0);
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

    ScriptState* L_ = nullptr;
};

}  // namespace

TEST_F(TextLib, TheConstantsTableHoldsEveryRowInOrder) {
    struct Row {
        const char* name;
        const char* text;
        double value;
    };
    const Row want[] = {
        {"NORMAL", nullptr, 1}, {"BOLD", nullptr, 2}, {"ITALIC", nullptr, 4}, {"UNDERLINED", nullptr, 8},
        {"ALL", nullptr, 0}, {"ALPHANUMERICAL", nullptr, 1}, {"NUMERICAL", nullptr, 3},
        {"ALPHABETICAL", nullptr, 2}, {"HEXNUMERICAL", nullptr, 4}, {"ANTIALIAS", nullptr, 16},
        {"SHADOW", nullptr, 32}, {"EDGE", nullptr, 64}, {"SHDWNORTH", nullptr, 0}, {"SHDWNORTHEAST", nullptr, 1},
        {"SHDWEAST", nullptr, 2}, {"SHDWSOUTHEAST", nullptr, 3}, {"SHDWSOUTH", nullptr, 4},
        {"SHDWSOUTHWEST", nullptr, 5}, {"SHDWWEST", nullptr, 6}, {"SHDWNORTHWEST", nullptr, 7},
        {"BITMAP_DEFAULT", ":::default_bitmap", 0}, {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
        {"SANS", ":::default_sans", 0}, {"SERIF", ":::default_serif", 0}, {"MONOSPACE", ":::default_mono", 0},
        {"FONTENGINE_NATIVE", nullptr, 0}, {"FONTENGINE_INBUILT", nullptr, 4}, {"FONTWEIGHT_THIN", nullptr, 0},
        {"FONTWEIGHT_EXTRALIGHT", nullptr, 40}, {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
        {"FONTWEIGHT_LIGHT", nullptr, 50}, {"FONTWEIGHT_BOOK", nullptr, 75}, {"FONTWEIGHT_NORMAL", nullptr, 80},
        {"FONTWEIGHT_REGULAR", nullptr, 80}, {"FONTWEIGHT_MEDIUM", nullptr, 100},
        {"FONTWEIGHT_SEMIBOLD", nullptr, 180}, {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
        {"FONTWEIGHT_BOLD", nullptr, 200}, {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
        {"FONTWEIGHT_ULTRABOLD", nullptr, 205}, {"FONTWEIGHT_HEAVY", nullptr, 210},
        {"FONTWEIGHT_BLACK", nullptr, 210}, {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
        {"FONTWEIGHT_ULTRABLACK", nullptr, 215}, {"FONTSLANT_ROMAN", nullptr, 0},
        {"FONTSLANT_ITALIC", nullptr, 100}, {"FONTSLANT_OBLIQUE", nullptr, 110},
        {"ENCODING_ISO8859_1", nullptr, 0}, {"ENCODING_UTF8", nullptr, 1},
    };
    const ScriptConstant* row = TextConstants();
    for (const Row& w : want) {
        ASSERT_NE(row->name, nullptr) << "missing " << w.name;
        EXPECT_STREQ(row->name, w.name);
        EXPECT_EQ(row->num, w.value) << w.name;
        if (w.text)
            EXPECT_STREQ(row->str, w.text) << w.name;
        else
            EXPECT_EQ(row->str, nullptr) << w.name;
        ++row;
    }
    EXPECT_EQ(row->name, nullptr) << "49 rows";
}

TEST_F(TextLib, TheStyleStartsAtItsDefaultsAndClamps) {
    qbTextStyle* style = GetTextStyle();
    EXPECT_EQ(style->flags, 1u);
    EXPECT_EQ(style->colour, 0xFFFFFFu);
    EXPECT_EQ(style->edgeColour, 0x0093DDu);
    EXPECT_EQ(style->shadowSize, 4);
    EXPECT_EQ(style->shadowDirection, 3);
    EXPECT_EQ(style->edgeSize, 2);
    qbFont* topaz = nullptr;
    ASSERT_EQ(GetDefaultFont(&topaz), 0);
    EXPECT_EQ(style->font, topaz);
    qbTextStyle s;
    s.shadowSize = 100;
    s.edgeSize = 0;
    s.shadowDirection = 8;
    ClampTextStyle(&s);
    EXPECT_EQ((std::vector<int32_t>{s.shadowSize, s.edgeSize, s.shadowDirection}), (std::vector<int32_t>{64, 1, 3}));
    s.shadowDirection = 7;
    ClampTextStyle(&s);
    EXPECT_EQ(s.shadowDirection, 7);
}

// Fields: width, height, min x, min y, max x, max y, visible width, extra
// top, bottom, left, right.
TEST_F(TextLib, MeasureTextAddsTheRoomOfEachStyle) {
    qbTextStyle s = *GetTextStyle();
    EXPECT_EQ(Measure("Hi", s), (std::vector<int32_t>{16, 8, 0, -6, 15, 1, 16, 0, 0, 0, 0}));
    s.flags = kTextBold;
    EXPECT_EQ(Measure("Hi", s), (std::vector<int32_t>{16, 8, 0, -6, 16, 1, 17, 0, 0, 0, 0}));
    s.flags = kTextBold | kTextAntialias;
    EXPECT_EQ(Measure("Hi", s), (std::vector<int32_t>{16, 8, 0, -6, 15, 1, 16, 0, 0, 0, 0}));
    s.flags = kTextItalic;  // baseline 6: +3 right; height - baseline 2: -1 left
    EXPECT_EQ(Measure("Hi", s), (std::vector<int32_t>{16, 8, -1, -6, 18, 1, 19, 0, 0, 0, 0}));
    s.flags = kTextEdge;
    s.edgeSize = 3;
    EXPECT_EQ(Measure("Hi", s), (std::vector<int32_t>{16, 8, 0, -6, 15, 1, 16, -3, 3, -3, 3}));

    // Extra top, bottom, left, right for each direction, size 5.
    const std::vector<int32_t> room[8] = {{-5, 0, 0, 0}, {-5, 0, 0, 5}, {0, 0, 0, 5}, {0, 5, 0, 5},
                                          {0, 5, 0, 0},  {0, 5, -5, 0}, {0, 0, -5, 0}, {-5, 0, -5, 0}};
    s.flags = kTextShadow;
    s.shadowSize = 5;
    for (int d = 0; d < 8; ++d) {
        s.shadowDirection = d;
        const std::vector<int32_t> m = Measure("x", s);
        EXPECT_EQ(std::vector<int32_t>(m.begin() + 7, m.end()), room[d]) << "direction " << d;
    }
    s.flags = kTextShadow | kTextEdge;
    s.shadowDirection = kShadowNorthWest;
    const std::vector<int32_t> both = Measure("x", s);
    EXPECT_EQ(std::vector<int32_t>(both.begin() + 7, both.end()), (std::vector<int32_t>{-8, 3, -8, 3}));
}

TEST_F(TextLib, MeasureTextInAKernedFont) {
    ScratchFolder dir;
    FontPtr font(std::make_unique<qbFont>().release());
    const FontLayout layout = Proportional(true);
    ASSERT_EQ(LoadBitmapFont(dir.WriteFont("k", {{7, WriteFontFile(layout)}}).c_str(), 7, font.get(), nullptr), 1);
    qbTextStyle s = *GetTextStyle();
    s.font = font.get();
    // "ba": b kerned to -2, a at 8; pen 12; ink -2..11. Height 7, baseline 5.
    EXPECT_EQ(Measure("ba", s), (std::vector<int32_t>{12, 7, -2, -5, 11, 1, 12, 0, 0, 0, 0}));
    s.flags = kTextItalic | kTextBold;  // +1 bold, +2 italic right; -1 italic left
    EXPECT_EQ(Measure("ba", s), (std::vector<int32_t>{12, 7, -3, -5, 14, 1, 15, 0, 0, 0, 0}));
}

TEST_F(TextLib, TheMeasuringCommands) {
    ASSERT_EQ(Call("TextHeight", ""), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 8);
    VmSetTop(L_, 0);
    ASSERT_EQ(Call("TextWidth", "Hello"), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 40);
    VmSetTop(L_, 0);
    ASSERT_EQ(Call("TextWidth", "", 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    VmSetTop(L_, 0);

    GetTextStyle()->flags = kTextShadow;
    EXPECT_EQ(Extent("Hi"), (std::vector<int32_t>{0, 19, -6, 5, 16, 8}));
    EXPECT_EQ(Extent(""), (std::vector<int32_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Call("TextExtent", "Hi", 2), ERR_WRONGUSAGE);
    VmSetTop(L_, 0);
    EXPECT_EQ(Call("TextWidth", "Hi", 2), ERR_WRONGUSAGE);
    VmSetTop(L_, 0);
    VmPushString(L_, "a");
    VmPushString(L_, "b");
    EXPECT_EQ(CallCommand(L_, "TextHeight", 2, 1), ERR_TOOMANYARGS);
}
