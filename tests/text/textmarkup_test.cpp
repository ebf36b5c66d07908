// The inline tags of styled text: literal brackets, style tags in any case
// and spacing, the colour stack, shadow and edge values, and each error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/vmhost.h"
#include "text/textmarkup.h"

namespace {

const ScriptConstant kColours[] = {{"RED", nullptr, 0xFF0000}, {"BLUE", nullptr, 0x0000FF}, {nullptr, nullptr, 0}};

class TextMarkup : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmRegisterConstants(L_, kColours, 1);
        base_.colour = 0x123456;
    }
    void TearDown() override { VmClose(L_); }
    int Parse(const std::string& text, qbMarkedText* out = nullptr) {
        qbMarkedText scratch;
        return ParseTextMarkup(L_, text.data(), text.size(), false, base_, out ? out : &scratch);
    }
    // The style in force at each character of the tag-free text.
    static std::vector<qbTextStyle> Styles(const qbMarkedText& m) {
        std::vector<qbTextStyle> out;
        size_t c = 0;
        for (size_t i = 0; i < m.text.size(); ++i) {
            while (c + 1 < m.changes.size() && m.changes[c + 1].at <= i) ++c;
            out.push_back(m.changes[c].style);
        }
        return out;
    }
    ScriptState* L_ = nullptr;
    qbTextStyle base_;
};

TEST_F(TextMarkup, LiteralBracketsStyleTagsAndRawText) {
    qbMarkedText m;
    ASSERT_EQ(Parse("a[[b]]c", &m), 0);
    EXPECT_EQ(m.text, "a[b]c");
    ASSERT_EQ(Parse("[B ]x[/ b] y[ i]z[/i][u]w[/U]", &m), 0);
    EXPECT_EQ(m.text, "x yzw");
    const std::vector<qbTextStyle> s = Styles(m);
    EXPECT_EQ(s[0].flags, kTextNormal | kTextBold);
    EXPECT_EQ(s[1].flags, kTextNormal);
    EXPECT_EQ(s[3].flags, kTextNormal | kTextItalic);
    EXPECT_EQ(s[4].flags, kTextNormal | kTextUnderlined);
    ASSERT_EQ(ParseTextMarkup(L_, "[b]]", 4, true, base_, &m), 0);
    EXPECT_EQ(m.text, "[b]]");
    EXPECT_EQ(m.changes.size(), 1u);
}

TEST_F(TextMarkup, EveryErrorHasItsCode) {
    EXPECT_EQ(Parse("[/color]"), ERR_TEXTSYNTAX);
    EXPECT_EQ(Parse("a]b"), ERR_TEXTSYNTAX);
    EXPECT_EQ(Parse("[color]"), ERR_TEXTARG);
    EXPECT_EQ(Parse("[colour=1]"), ERR_UNKTEXTFMT);
    EXPECT_EQ(Parse("[bx]"), ERR_UNKTEXTFMT);
    EXPECT_EQ(Parse("[b"), ERR_SQBRACKETCLOSE);
    EXPECT_EQ(Parse("["), ERR_SQBRACKETCLOSE);
    EXPECT_EQ(Parse("[color=1"), ERR_SQBRACKETCLOSE);
    EXPECT_EQ(Parse("[color=\"red\"]"), ERR_VALUEEXPECTED);
    EXPECT_EQ(Parse("[edge=$FF0000,9]"), ERR_WRONGUSAGE);
    EXPECT_EQ(Parse("[edge=$FF0000,0]"), ERR_WRONGUSAGE);
    EXPECT_EQ(Parse("[shadow=0,65]"), ERR_WRONGUSAGE);
    EXPECT_EQ(Parse("[color=#NOSUCH]"), ERR_FINDCST);
    qbMarkedText m;
    EXPECT_EQ(ParseTextMarkup(nullptr, "[color=#RED]", 12, false, base_, &m), ERR_FINDCST);
}

TEST_F(TextMarkup, ShadowAndEdgeValuesAndTheColourStack) {
    qbMarkedText m;
    ASSERT_EQ(Parse("[edge=$FF0000,8]e[/edge][shadow=#RED,64,7]s[/shadow][shadow=1,2,265]t", &m), 0);
    std::vector<qbTextStyle> s = Styles(m);
    EXPECT_EQ(s[0].flags, kTextNormal | kTextEdge);
    EXPECT_EQ(s[0].edgeColour, 0xFF0000u);
    EXPECT_EQ(s[0].edgeSize, 8);
    EXPECT_EQ(s[1].flags, kTextNormal | kTextShadow);
    EXPECT_EQ(s[1].shadowColour, 0xFF0000u);
    EXPECT_EQ(s[1].shadowSize, 64);
    EXPECT_EQ(s[1].shadowDirection, 7);
    EXPECT_EQ(s[2].shadowDirection, 9);  // the low 8 bits; drawn as 3
    // Omitted values keep what the style had.
    ASSERT_EQ(Parse("[shadow=$FF]x", &m), 0);
    EXPECT_EQ(Styles(m)[0].shadowSize, base_.shadowSize);

    ASSERT_EQ(Parse("[color=#BLUE]x[color=#RED]y[/color]z[/color]w", &m), 0);
    s = Styles(m);
    EXPECT_EQ(s[0].colour, 0x0000FFu);
    EXPECT_EQ(s[1].colour, 0xFF0000u);
    EXPECT_EQ(s[2].colour, 0x0000FFu);
    EXPECT_EQ(s[3].colour, 0x123456u);
    // Values become unsigned 32-bit: negative ones 0, large ones saturate.
    ASSERT_EQ(Parse("[color=-5]a[/color][color=1e12]b[/color][color=$80FF0000]c", &m), 0);
    s = Styles(m);
    EXPECT_EQ(s[0].colour, 0u);
    EXPECT_EQ(s[1].colour, 0xFFFFFFFFu);
    EXPECT_EQ(s[2].colour, 0x80FF0000u);
}

}  // namespace
