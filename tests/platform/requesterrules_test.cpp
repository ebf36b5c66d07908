// The rules every native requester keeps: button sets and their results,
// the string field's filter and defaults, file patterns and results.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "platform/requesterrules.h"

namespace {

qbRequesterButtons Buttons(const char* text) {
    qbRequesterButtons b;
    EXPECT_EQ(ParseButtonSet(text, &b), 0) << text;
    return b;
}

}  // namespace

TEST(RequesterRules, ButtonSetsGiveTheirResultsAndDefaultAndCancelButtons) {
    qbRequesterButtons b = Buttons(nullptr);
    EXPECT_EQ(b.labels, std::vector<std::string>{"OK"});
    EXPECT_EQ(b.results, std::vector<int>{0});
    b = Buttons("ok|cancel");
    EXPECT_EQ(b.labels, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_EQ(b.results, (std::vector<int>{1, 0}));
    EXPECT_EQ(b.cancelButton, 1);
    b = Buttons("Yes|No|Cancel");
    EXPECT_EQ(b.labels, (std::vector<std::string>{"Yes", "No", "Cancel"}));
    EXPECT_EQ(b.results, (std::vector<int>{1, 2, 0}));
    b = Buttons("Retry|Skip|Abort");
    EXPECT_EQ(b.results, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(b.defaultButton, -1);
    EXPECT_EQ(b.cancelButton, -1);
    b = Buttons("Go|Stay");
    EXPECT_EQ(b.results, (std::vector<int>{1, 0}));
    EXPECT_EQ(b.defaultButton, 0);
    EXPECT_EQ(b.cancelButton, 1);

    std::string many = "b";
    for (int i = 1; i < 32; ++i) many += "|b";
    EXPECT_EQ(Buttons(many.c_str()).results.size(), 32u);
    EXPECT_EQ(ParseButtonSet((many + "|b").c_str(), &b), ERR_WINDOW);
    EXPECT_TRUE(b.labels.empty());
}

TEST(RequesterRules, NumericalFieldsTakeOnlyNumbersAndPartialsAndDefaultsAreCut) {
    for (const char* ok : {"12", "-3.5", ".5", "5.", "-", ".", "-."}) EXPECT_TRUE(IsValidNumberText(ok)) << ok;
    for (const char* bad : {"", "1.2.3", "--1", "1-", "12a", " 1"}) EXPECT_FALSE(IsValidNumberText(bad)) << bad;
    EXPECT_EQ(StringFieldDefault("12a", kStringNumerical, 0), "0");
    EXPECT_EQ(StringFieldDefault(nullptr, kStringNumerical, 0), "0");
    EXPECT_EQ(StringFieldDefault("12a", 1, 0), "12a");
    EXPECT_EQ(StringFieldDefault("abcdef", 1, 4), "abcd");
    EXPECT_EQ(StringFieldDefault("123456", kStringNumerical, 3), "123");
    EXPECT_EQ(TypeIntoStringField("", "1.2.3", kStringNumerical, 0), "1.2");
    EXPECT_EQ(TypeIntoStringField("", "-.", kStringNumerical, 0), "-.");
    EXPECT_EQ(TypeIntoStringField("ab", "cdef", 1, 4), "abcd");
    EXPECT_FALSE(StringFieldAccepts("abcde", 2, 4));
}

TEST(RequesterRules, FilePatternsMatchSuffixesIgnoringCaseAndShowFolders) {
    const std::vector<std::string> s = FilePatternSuffixes("png|.jpg");
    EXPECT_EQ(s, (std::vector<std::string>{".png", ".jpg"}));
    EXPECT_TRUE(FilePatternShows(s, "a.PNG", false));
    EXPECT_TRUE(FilePatternShows(s, "b.jpg", false));
    EXPECT_FALSE(FilePatternShows(s, "c.gif", false));
    EXPECT_FALSE(FilePatternShows(s, "png", false));
    EXPECT_TRUE(FilePatternShows(s, "pictures", true));
    for (const char* all : {"", "*", "#?"}) EXPECT_TRUE(FilePatternSuffixes(all).empty()) << all;
    EXPECT_TRUE(FilePatternSuffixes(nullptr).empty());
}

TEST(RequesterRules, FileResultsAndFontDefaults) {
    qbFileRequestResult r;
    FillFileResult({"/home/u/a.qba", "/home/u/b.qba"}, &r);
    EXPECT_EQ(r.folder, "/home/u/");
    EXPECT_EQ(r.files, std::string("a.qba\0b.qba\0", 12));
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.chosen, 1);
    FillFileResult({}, &r);
    EXPECT_EQ(r.chosen, 0);
    EXPECT_TRUE(r.folder.empty());

    std::string name;
    int size = 0;
    FontRequestDefaults("", 30, &name, &size);
    EXPECT_EQ(name, "Helvetica");
    EXPECT_EQ(size, 12);
    FontRequestDefaults("Sans", 9, &name, &size);
    EXPECT_EQ(name, "Sans");
    EXPECT_EQ(size, 9);
    qbFontRequest f;
    FillFontRecord(std::string(300, 'n'), 10, &f);
    EXPECT_EQ(std::string(f.name).size(), 255u);
    EXPECT_EQ(f.weight, 80);
    EXPECT_EQ(f.slant, 0);
    EXPECT_EQ(ColourFromRGB(255, 128, 1), 0xFF8001);

    char out[kStringResultSize + 1];
    out[kStringResultSize] = 'g';
    CopyStringResult(std::string(2000, 'x'), out);
    EXPECT_EQ(std::string(out).size(), 1023u);
    EXPECT_EQ(out[kStringResultSize], 'g');

    EXPECT_FALSE(RequesterDriverUsable("dummy"));
    EXPECT_FALSE(RequesterDriverUsable("OFFSCREEN"));
    EXPECT_FALSE(RequesterDriverUsable(nullptr));
    EXPECT_TRUE(RequesterDriverUsable("x11"));
}
