// The scripted requester answers of test runs: each kind's answer forms and
// cancel, the log of what was asked, and ERR_WINDOW where no answer fits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/errcodes.h"
#include "platform/requesterscript.h"

namespace fs = std::filesystem;

namespace {

class RequesterScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = fs::temp_directory_path() / ("qb_answers_" + std::to_string(::getpid()) + ".txt");
        fs::remove(file_);
        fs::remove(LogPath());
        setenv(kRequesterAnswersVariable, file_.c_str(), 1);
        ResetRequesterScript();
    }
    void TearDown() override {
        unsetenv(kRequesterAnswersVariable);
        ResetRequesterScript();
        fs::remove(file_);
        fs::remove(LogPath());
    }
    void Answers(const std::string& text) {
        std::ofstream(file_, std::ios::binary) << text;
        ResetRequesterScript();
    }
    fs::path LogPath() const { return fs::path(file_.string() + ".log"); }
    std::string Log() const {
        std::ifstream in(LogPath(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path file_;
};

}  // namespace

TEST_F(RequesterScriptTest, SystemListAndColourAnswersWithTheirCancels) {
    Answers("2\r\n3\ncancel\n1\ncancel\n0x00ff80\n255\ncancel\n");
    int result = -1;
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "OK|Cancel", 0, &result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "Retry|Skip|Abort|Help", 0, &result), 0);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "Yes|No", 0, &result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ScriptedListRequester("t", "b", "a\0b\0", &result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ScriptedListRequester("t", "b", "a\0b\0", &result), 0);
    EXPECT_EQ(result, -1);
    int32_t colour = 0;
    EXPECT_EQ(ScriptedColorRequester("c", &colour), 0);
    EXPECT_EQ(colour, 0x00FF80);
    EXPECT_EQ(ScriptedColorRequester("c", &colour), 0);
    EXPECT_EQ(colour, 255);
    EXPECT_EQ(ScriptedColorRequester("c", &colour), 0);
    EXPECT_EQ(colour, -1);
    // No line left: at once, and again.
    EXPECT_EQ(ScriptedColorRequester("c", &colour), ERR_WINDOW);
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "OK", 0, &result), ERR_WINDOW);
}

TEST_F(RequesterScriptTest, TextFileAndFontAnswersWithTheirCancels) {
    Answers("h\xC3\xA9llo\ncancel\n/tmp/x\ncancel\n/a/b.qba\n/a/c.png\t/a/d.png\ncancel\nSans|14\ncancel\n");
    char text[1024];
    EXPECT_EQ(ScriptedStringRequester("t", "b", text), 0);
    EXPECT_STREQ(text, "h\xE9llo");
    EXPECT_EQ(ScriptedStringRequester("t", "b", text), ERR_USERABORT);
    EXPECT_STREQ(text, "");
    std::optional<std::string> path;
    EXPECT_EQ(ScriptedPathRequester("t", &path), 0);
    EXPECT_EQ(path, "/tmp/x");
    EXPECT_EQ(ScriptedPathRequester("t", &path), 0);
    EXPECT_FALSE(path.has_value());
    qbFileRequestResult r;
    EXPECT_EQ(ScriptedFileRequester("t", "qba", kReqNormal, &r), 0);
    EXPECT_EQ(r.folder, "/a/");
    EXPECT_EQ(r.files, std::string("b.qba\0", 6));
    EXPECT_EQ(r.chosen, 1);
    EXPECT_EQ(ScriptedFileRequester("t", "png", kReqMultiSelect, &r), 0);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.files, std::string("c.png\0d.png\0", 12));
    EXPECT_EQ(ScriptedFileRequester("t", "", kReqNormal, &r), 0);
    EXPECT_EQ(r.chosen, 0);
    qbFontRequest font;
    EXPECT_EQ(ScriptedFontRequester("f", &font), 0);
    EXPECT_STREQ(font.name, "Sans");
    EXPECT_EQ(font.size, 14);
    EXPECT_EQ(font.weight, 80);
    EXPECT_EQ(font.slant, 0);
    font.size = 99;
    EXPECT_EQ(ScriptedFontRequester("f", &font), 0);
    EXPECT_EQ(font.size, 99);  // a cancel leaves the record as it was
}

TEST_F(RequesterScriptTest, AnswersThatDoNotFitTheirKindAreWindowErrors) {
    Answers("x\n5\n0\n/a\t/b\nSans\n#12\n");
    int result = 0;
    EXPECT_EQ(ScriptedListRequester("t", "b", "a\0b\0", &result), ERR_WINDOW);
    EXPECT_EQ(ScriptedListRequester("t", "b", "a\0b\0", &result), ERR_WINDOW);
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "OK", 0, &result), ERR_WINDOW);
    qbFileRequestResult r;
    EXPECT_EQ(ScriptedFileRequester("t", "", kReqNormal, &r), ERR_WINDOW);
    qbFontRequest font;
    EXPECT_EQ(ScriptedFontRequester("f", &font), ERR_WINDOW);
    int32_t colour = 0;
    EXPECT_EQ(ScriptedColorRequester("c", &colour), ERR_WINDOW);

    fs::remove(file_);
    ResetRequesterScript();
    EXPECT_TRUE(RequesterScriptActive());
    EXPECT_EQ(ScriptedSystemRequester("t", "b", "OK", 0, &result), ERR_WINDOW);
}

TEST_F(RequesterScriptTest, EveryRequesterLogsItsKindTitleBodyAndChoicesEscaped) {
    Answers("1\n0\ncancel\n");
    int result = 0;
    ScriptedSystemRequester("Tab\there", "line\nbreak \\ \xE9", "A|B", 0, &result);
    ScriptedListRequester("L", "pick", "one\0two\0", &result);
    qbFileRequestResult r;
    ScriptedFileRequester("F", "png|jpg", kReqNormal, &r);
    EXPECT_EQ(Log(),
              "system\tTab\\there\tline\\nbreak \\\\ \xC3\xA9\tA|B\n"
              "list\tL\tpick\tone|two\n"
              "file\tF\t\tpng|jpg\n");
}
