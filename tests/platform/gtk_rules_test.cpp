// The GTK requesters' rules that need no screen: what the string field takes
// as it is typed into, and which names the file pattern's filter shows.
#include <gtest/gtest.h>

#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"
#if QB_TEST_HAVE_GTK
#include "platform/linux/gtk_dialog.h"
#endif

using namespace linux_requesters;

TEST(GtkStringFieldTest, ChangesAreTakenOrRefusedWhole) {
    // A NUMERICAL field: a letter, a second point, a pasted burst with one
    // bad character; the partial numbers that typing starts with pass.
    EXPECT_TRUE(StringFieldTakesInsert("", 0, "12", kStringNumerical, 0));
    EXPECT_FALSE(StringFieldTakesInsert("12", 2, "a", kStringNumerical, 0));
    EXPECT_FALSE(StringFieldTakesInsert("1.2", 3, ".3", kStringNumerical, 0));
    EXPECT_FALSE(StringFieldTakesInsert("", 0, "x5", kStringNumerical, 0));
    EXPECT_TRUE(StringFieldTakesInsert("", 0, "-.", kStringNumerical, 0));
    EXPECT_FALSE(StringFieldTakesInsert("5", 1, "-", kStringNumerical, 0));
    EXPECT_TRUE(StringFieldTakesInsert("5", 0, "-", kStringNumerical, 0));
    // The maximum counts characters, not UTF-8 bytes; other types take any
    // ISO 8859-1 text but nothing beyond it.
    EXPECT_TRUE(StringFieldTakesInsert("ab\xC3\xA9", 3, "d", 0, 4));
    EXPECT_FALSE(StringFieldTakesInsert("abcd", 1, "x", 0, 4));
    EXPECT_TRUE(StringFieldTakesInsert("abc", 1, "x", 0, 0));
    EXPECT_FALSE(StringFieldTakesInsert("abc", 1, "\xE2\x82\xAC", 0, 0));
    // The position is in characters: "é" before it takes one, two bytes.
    EXPECT_TRUE(StringFieldTakesInsert("\xC3\xA9" "1", 1, "2", 0, 3));
}

#if QB_TEST_HAVE_GTK
namespace {

bool Shows(GtkFileFilter* filter, const char* name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

}  // namespace

TEST(GtkPatternFilterTest, SuffixesInAnyCaseAndHiddenFilesShow) {
    GtkFileFilter* filter = NewPatternFilter("png|.jpg");
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(Shows(filter, "a.PNG"));
    EXPECT_TRUE(Shows(filter, "b.jpg"));
    EXPECT_TRUE(Shows(filter, ".hidden.png"));
    EXPECT_FALSE(Shows(filter, "c.gif"));
    EXPECT_FALSE(Shows(filter, "png"));
    g_object_unref(filter);
    for (const char* all : {"", "*", "#?"}) EXPECT_EQ(NewPatternFilter(all), nullptr) << all;
}
#endif
