// Option values: the number syntax, the options-file text, what start-up
// makes of the values (overrides, conflicts, backfill) and REQUIRETAGS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/applet.h"
#include "core/errcodes.h"
#include "libs/errorhandler.h"
#include "player/options.h"
#include "player/requiretags.h"

namespace {

struct Number {
    double value;
    size_t used;
    int err;
};

Number Convert(const char* text) {
    Number n{};
    n.value = StringToNumber(text, &n.used, &n.err);
    return n;
}

TEST(StringToNumberTest, PrefixesSignsAndErrors) {
    struct Case {
        const char* text;
        double value;
        size_t used;
        int err;
    } cases[] = {
        {"42", 42, 2, 0},
        {"-3.5e2x", -350, 6, 0},
        {".5", 0.5, 2, 0},
        {"$ff", 255, 3, 0},
        {"$-10", -16, 4, 0},
        {"-$10", -16, 4, 0},
        {"$FFFFFFFF", 4294967295.0, 9, 0},
        {"%1011 ", 11, 5, 0},
        {"0x1F", 31, 4, 0},
        {"0", 0, 1, 0},
        {"50%", 50, 2, 0},
        {"0x", 0, 0, ERR_SYNTAXERROR},
        {"$", 0, 0, ERR_SYNTAXERROR},
        {"$g", 0, 0, ERR_SYNTAXERROR},
        {"%2", 0, 0, ERR_SYNTAXERROR},
        {"abc", 0, 0, ERR_VALUEEXPECTED},
        {"", 0, 0, ERR_VALUEEXPECTED},
        {".x", 0, 0, ERR_VALUEEXPECTED},
        {"-", 0, 0, ERR_VALUEEXPECTED},
    };
    for (const Case& c : cases) {
        Number n = Convert(c.text);
        EXPECT_EQ(n.value, c.value) << c.text;
        EXPECT_EQ(n.used, c.used) << c.text;
        EXPECT_EQ(n.err, c.err) << c.text;
    }
    // Hex digits beyond 32 bits wrap like the unsigned word they are read into.
    EXPECT_EQ(Convert("$100000001").value, 1);
}

struct Ini {
    qbOptionValues values;
    std::vector<qbUnknownOption> unknown;
    int err = 0;
};

Ini ParseIni(const std::string& text) {
    Ini ini;
    ini.err = ParseIniText(text.data(), text.size(), ini.values, ini.unknown);
    return ini;
}

TEST(OptionsFileTest, EntriesCommentsAndSections) {
    Ini ini = ParseIni(
        "# comment = ignored\r\n"
        "[Section]\n"
        "  ScrWidth\t=  800  \t\n"
        "FULLSCREEN = off\n"
        "quiet=YES\n"
        "NoSound = 2\n"
        "HideTitleBar = 0\n"
        "title = \"a b # c\"\n"
        "BrushFile = \"\"\n"
        "My_Plugin_Key = some value  \n");
    ASSERT_EQ(ini.err, 0);
    EXPECT_TRUE(ini.values.given[kOptScrWidth]);
    EXPECT_EQ(ini.values.text[kOptScrWidth], "800");
    EXPECT_TRUE(ini.values.given[kOptFullScreen]);
    EXPECT_EQ(ini.values.flag[kOptFullScreen], 0);
    EXPECT_EQ(ini.values.flag[kOptQuiet], 1);
    EXPECT_EQ(ini.values.flag[kOptNoSound], 1);
    EXPECT_EQ(ini.values.flag[kOptHideTitleBar], 0);
    EXPECT_TRUE(ini.values.given[kOptBrushFile]);
    EXPECT_EQ(ini.values.text[kOptBrushFile], "");
    ASSERT_EQ(ini.unknown.size(), 2u);
    EXPECT_EQ(ini.unknown[0].name, "title");
    EXPECT_EQ(ini.unknown[0].value, "a b # c");
    EXPECT_EQ(ini.unknown[1].name, "My_Plugin_Key");
    EXPECT_EQ(ini.unknown[1].value, "some value");
}

TEST(OptionsFileTest, SyntaxErrors) {
    for (const char* text : {"1KEY = x\n", "_KEY = x\n", "KEY x\n", "KEY\n", "KEY = \"open\n", "KEY = \"open",
                             "KEY = \"a\" junk\n", "= x\n"})
        EXPECT_EQ(ParseIni(text).err, ERR_INISYNTAX) << text;
    EXPECT_EQ(ParseIni(std::string(127, 'K') + "=1").err, 0);
    EXPECT_EQ(ParseIni(std::string(128, 'K') + "=1").err, ERR_INISYNTAX);
    // The text ends at a NUL byte.
    EXPECT_EQ(ParseIni(std::string("QUIET = 1\n\0garbage!", 20)).err, 0);
}

class ResolveTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetDebugFunctionsDisabled(false);
        SetCallTracing(false);
    }

    void Flag(int id, int on = 1) {
        values_.flag[id] = on;
        values_.given[id] = true;
    }
    void Text(int id, const char* text) {
        values_.text[id] = text;
        values_.given[id] = true;
    }
    int Resolve() {
        cl_ = qbCommandLine{};
        applet_ = qbApplet{};
        return ResolveStartupOptions(&cl_, values_, &applet_);
    }

    qbOptionValues values_;
    qbCommandLine cl_;
    qbApplet applet_;
};

TEST_F(ResolveTest, FlagsBecomeOverrideBits) {
    for (int id : {kOptBorderless, kOptSizeable, kOptFixed, kOptNoHide, kOptHidePointer, kOptNoModeSwitch,
                   kOptSmoothScale, kOptKeepProportions, kOptFitScale, kOptUseQuartz, kOptDisableBlanker,
                   kOptHideTitleBar, kOptAllDisplays, kOptFullScreen})
        Flag(id);
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.flags, 0x1u | 0x2 | 0x4 | 0x20 | 0x10 | 0x8 | 0x80 | 0x8000 | 0x10000 | 0x2000 |
                                           0x1000000);
    EXPECT_EQ(applet_.overrides.backfill.hideTitleBar, 1);
    EXPECT_EQ(applet_.overrides.mode, 2);
    EXPECT_EQ(cl_.allDisplays, 1);
}

TEST_F(ResolveTest, DisplayModesExcludeEachOther) {
    Flag(kOptModeRequester);
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.mode, 4);
    Flag(kOptWindow);
    EXPECT_EQ(Resolve(), ERR_CONSOLEARG);
}

TEST_F(ResolveTest, NumbersAndTheirLimits) {
    Text(kOptScrWidth, "$400");
    Text(kOptScrHeight, "768");
    Text(kOptScrDepth, "16");
    Text(kOptMonitor, "2");
    Text(kOptNumChannels, "8");
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.scrWidth, 1024);
    EXPECT_EQ(applet_.overrides.scrHeight, 768);
    EXPECT_EQ(applet_.overrides.scrDepth, 16);
    EXPECT_EQ(applet_.overrides.monitor, 1);
    EXPECT_EQ(cl_.channelCount, 8);
    Text(kOptMonitor, "0");
    EXPECT_EQ(Resolve(), ERR_MONITORRANGE);
    Text(kOptMonitor, "1");
    Text(kOptNumChannels, "0");
    EXPECT_EQ(Resolve(), ERR_CONSOLEARG);
    Text(kOptNumChannels, "4");
    Text(kOptScrWidth, "wide");
    EXPECT_EQ(Resolve(), ERR_VALUEEXPECTED);
    Text(kOptScrWidth, "640px");
    EXPECT_EQ(Resolve(), ERR_SYNTAXERROR);
    Text(kOptScrWidth, "0x");
    EXPECT_EQ(Resolve(), ERR_SYNTAXERROR);
}

TEST_F(ResolveTest, BackfillNeedsWhatItsTypeUses) {
    Text(kOptBackfill, "gradient");
    Text(kOptStartColor, "$FF0000");
    EXPECT_EQ(Resolve(), ERR_BACKFILL);
    Text(kOptEndColor, "$0000FF");
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.backfill.type, 2);
    EXPECT_EQ(applet_.overrides.backfill.startColor, 0xFF0000);
    EXPECT_EQ(applet_.overrides.backfill.endColor, 0x0000FF);

    Text(kOptBackfill, "Picture");
    EXPECT_EQ(Resolve(), ERR_BACKFILL);
    Text(kOptBrushFile, "back.png");
    Text(kOptPicXPos, "-5");
    Text(kOptPicTrans, "$FFFFFFFF");
    Flag(kOptScalePicture);
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.backfill.type, 4);
    EXPECT_EQ(applet_.overrides.backfill.fileName, "back.png");
    EXPECT_EQ(applet_.overrides.backfill.x, -5);
    EXPECT_EQ(applet_.overrides.backfill.y, -100000);
    EXPECT_EQ(applet_.overrides.backfill.transparentColor, -1);
    EXPECT_EQ(applet_.overrides.backfill.scalePicture, 1);
    Text(kOptBrush, "3");
    EXPECT_EQ(Resolve(), ERR_BACKFILL);

    Text(kOptBackfill, "plaid");
    EXPECT_EQ(Resolve(), ERR_BACKFILL);
    values_ = {};
    Text(kOptBackfill, "color");
    EXPECT_EQ(Resolve(), ERR_BACKFILL);
    // Without BACKFILL its companions are not read at all.
    values_ = {};
    Text(kOptStartColor, "not a number");
    EXPECT_EQ(Resolve(), 0);
    EXPECT_EQ(applet_.overrides.backfill.type, 0);
}

TEST_F(ResolveTest, PluginListsAndLongValues) {
    // An empty entry ends a list.
    Text(kOptRequirePlugins, "a.qbp|b||c");
    Text(kOptSkipPlugins, "c|");
    Text(kOptRequireTags, "a[x=1]");
    ASSERT_EQ(Resolve(), 0);
    EXPECT_EQ(cl_.requirePlugins, (std::vector<std::string>{"a.qbp", "b"}));
    EXPECT_EQ(cl_.skipPlugins, (std::vector<std::string>{"c"}));
    EXPECT_EQ(cl_.requireTags, "a[x=1]");
    Text(kOptTempDir, std::string(1024, 't').c_str());
    EXPECT_EQ(Resolve(), ERR_ARGS);
}

std::vector<qbRequireTag> Tags(const char* text, const char* plugin, int expect = 0) {
    std::vector<qbRequireTag> tags;
    EXPECT_EQ(ParseRequireTags(text, plugin, tags), expect) << text;
    return tags;
}

TEST(RequireTagsTest, TheMatchingSectionGivesItsPairs) {
    auto tags = Tags("other[a=1] myplugin[ count = $10 , label='two words',on=true, off = false, raw=abc ]",
                     "MyPlugin.qbp");
    ASSERT_EQ(tags.size(), 5u);
    EXPECT_EQ(tags[0].key, "count ");  // blanks before "=" stay in the key
    EXPECT_FALSE(tags[0].isText);
    EXPECT_EQ(tags[0].number, 16);
    EXPECT_TRUE(tags[1].isText);
    EXPECT_EQ(tags[1].text, "two words");
    EXPECT_EQ(tags[2].number, 1);
    EXPECT_FALSE(tags[2].isText);
    EXPECT_EQ(tags[3].number, 0);
    EXPECT_EQ(tags[4].text, "abc");

    EXPECT_TRUE(Tags("other[a=1]", "mine").empty());
    EXPECT_TRUE(Tags("", "mine").empty());
    // The section name is a prefix of the plugin's name, not the other way.
    EXPECT_TRUE(Tags("myplugin2[a=1]", "myplugin").empty());
}

TEST(RequireTagsTest, MalformedTexts) {
    for (const char* text : {"my plugin[a=1]", "[a=1]", "  [a=1]", "p[1a=2]", "p[a 1]", "p[a='open]", "p[a=1",
                             "p[]", "bad name[a=1] p[b=2]"})
        EXPECT_TRUE(Tags(text, "p", ERR_REQUIRETAGFMT).empty()) << text;
    // A malformed section after the one that matched is never reached.
    EXPECT_EQ(Tags("p[a=1] x y[", "p").size(), 1u);
}

}  // namespace
