// Error texts from codes, details and argument numbers; user codes; the
// requester text; the console progress lines.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "core/context.h"
#include "core/errors.h"
#include "core/messages.h"
#include "core/settings.h"

namespace {

std::string TextOf(int code) {
    char out[kErrorTextSize];
    GetErrorText(code, out);
    return out;
}

int CountPlaceholders(const char* text) {
    int count = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') ++p;
        else ++count;
    }
    return count;
}

std::string RequesterText(const char* text, bool raw) {
    char out[kErrorTextSize];
    FormatErrorRequesterText(nullptr, text, raw, out, sizeof out);
    return out;
}

class ErrorTextTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        ResetRuntimeSettings();
        SetErrorDetail("");
        SetErrorArgIndex(0);
        SetCurrentCommandName(nullptr);
    }
};

const std::string kUnknown = "Unknown error code!";

}  // namespace

TEST_F(ErrorTextTest, NoErrorAndCodesWithoutMessages) {
    EXPECT_EQ(TextOf(ERR_NONE), "No error occurred!");
    for (int code : {1, 999, 1249, 1406, 1407, 1408, -5}) EXPECT_EQ(TextOf(code), kUnknown) << code;
}

TEST_F(ErrorTextTest, EveryBuiltinCodeHasItsOwnText) {
    std::set<int> numbers;
    std::set<std::string> texts;
    for (int code = 1000; code <= 1580; ++code) {
        if (code == ERR_OPENFONT || code == ERR_ERRORCALLED || code == 1249 || (code >= 1406 && code <= 1408)) {
            EXPECT_EQ(GetErrorMessageNumber(code), -1) << code;
            continue;
        }
        const int number = GetErrorMessageNumber(code);
        ASSERT_GE(number, 0) << code;
        EXPECT_LE(number, 794) << code;
        EXPECT_TRUE(numbers.insert(number).second) << "message " << number << " shared by code " << code;
        const char* text = GetMessageText(number);
        ASSERT_NE(text, nullptr) << code;
        EXPECT_TRUE(texts.insert(text).second) << code << ": " << text;
        EXPECT_GT(std::strlen(text), 0u) << code;
        EXPECT_LE(CountPlaceholders(text), 1) << code << ": " << text;
        // ERR_UNKNOWN is the one code whose text says so.
        if (code != ERR_UNKNOWN) {
            EXPECT_NE(TextOf(code), kUnknown) << code;
        }
    }
}

TEST_F(ErrorTextTest, MessageTableRowsAreUnique) {
    std::set<int> numbers;
    for (size_t i = 0; i < kMessageRowCount; ++i) {
        EXPECT_TRUE(numbers.insert(kMessageRows[i].number).second) << kMessageRows[i].number;
        EXPECT_NE(kMessageRows[i].text, nullptr);
    }
    EXPECT_EQ(GetMessageText(795), nullptr);
}

TEST_F(ErrorTextTest, UserCodesFollowTheBuiltinOnes) {
    EXPECT_EQ(TextOf(1581), kUnknown);
    EXPECT_EQ(AddUserErrorCode("First problem!"), 1581);
    EXPECT_EQ(AddUserErrorCode(nullptr), 1582);
    EXPECT_EQ(AddUserErrorCode("Bad %s here, 100%% sure"), 1583);
    EXPECT_EQ(TextOf(1581), "First problem!");
    EXPECT_EQ(TextOf(1582), kUnknown);
    EXPECT_EQ(TextOf(1584), kUnknown);
    SetErrorDetail("input");
    EXPECT_EQ(TextOf(1583), "Bad input here, 100% sure");

    FreeUserErrorList();
    EXPECT_EQ(TextOf(1581), kUnknown);
    EXPECT_EQ(AddUserErrorCode("Again"), 1581);
}

TEST_F(ErrorTextTest, DetailFillsTheNameWholeOrAsFilePart) {
    SetErrorDetail("a/b/pic.png");
    EXPECT_EQ(TextOf(ERR_READFILE), "Cannot read file pic.png !");
    EXPECT_EQ(TextOf(ERR_WRITEFILE), "Cannot write to file a/b/pic.png !");
    SetErrorDetail("Work:pic.png");
    EXPECT_EQ(TextOf(ERR_LOADPICTURE2), "Image file \"pic.png\" is in an unknown/unsupported format!");
    SetErrorDetail("bg/top");
    EXPECT_EQ(TextOf(ERR_FINDLAYER), "Cannot find layer \"bg/top\" in current BGPic!");
    // A chunk name shows the linked file's own name.
    SetErrorDetail(":::chunk1000:20*gfx/pic.png?/apps/x.app");
    EXPECT_EQ(TextOf(ERR_FINDLAYER), "Cannot find layer \"pic.png\" in current BGPic!");
    EXPECT_STREQ(GetErrorDetail(), "pic.png");
    // A literal percent sign in a message is no placeholder.
    EXPECT_EQ(TextOf(ERR_MALFORMPAT1), "Malformed pattern! (ends with \"%\")");
}

TEST_F(ErrorTextTest, DetailIsTheWholeTextOfFontAndScriptErrors) {
    SetErrorDetail("Cannot open font x.font with size 12!");
    EXPECT_EQ(TextOf(ERR_OPENFONT), "Cannot open font x.font with size 12!");
    SetErrorDetail("50% of %s done");
    EXPECT_EQ(TextOf(ERR_ERRORCALLED), "50% of %s done");
}

TEST_F(ErrorTextTest, PercentSignsInTextsAndDetailsPrintLiterally) {
    // Script texts, details and file names may hold anything; only the one
    // known placeholder of a text is filled.
    const int code = AddUserErrorCode("%s%n%d");
    SetErrorDetail("%s%n%d");
    EXPECT_EQ(TextOf(code), "%s%n%d%n%d");
    EXPECT_EQ(TextOf(ERR_WRITEFILE), "Cannot write to file %s%n%d !");
    EXPECT_EQ(TextOf(ERR_ERRORCALLED), "%s%n%d");
    SetErrorDetail("a/%n%s.png");
    EXPECT_EQ(TextOf(ERR_READFILE), "Cannot read file %n%s.png !");
    SetErrorArgIndex(3);
    EXPECT_EQ(TextOf(ERR_NUMEXPECTED), "Number expected in argument 3!");
    SetErrorArgIndex(-2147483647 - 1);
    EXPECT_EQ(TextOf(ERR_NUMEXPECTED), "Number expected in argument -2147483648!");
    EXPECT_EQ(TextOf(AddUserErrorCode("50%")), "50%");
}

TEST_F(ErrorTextTest, TranslationsNeedTheBuiltinPlaceholders) {
    EXPECT_TRUE(SamePlaceholders("Datei %s nicht lesbar", "Cannot read file %s !"));
    EXPECT_TRUE(SamePlaceholders("Argument %d: 100%%", "Argument %ld!"));
    EXPECT_TRUE(SamePlaceholders("Fertig", nullptr));
    EXPECT_FALSE(SamePlaceholders("%s %s", "File %s"));
    EXPECT_FALSE(SamePlaceholders("%d", "File %s"));
    EXPECT_FALSE(SamePlaceholders("%s%n", "File %s"));
    EXPECT_FALSE(SamePlaceholders("kaputt %", "broken"));
    EXPECT_FALSE(SamePlaceholders("%x", nullptr));
    EXPECT_FALSE(SamePlaceholders(nullptr, "done"));
}

TEST_F(ErrorTextTest, LongDetailIsCut) {
    const std::string longText(3000, 'x');
    SetErrorDetail(longText.c_str());
    EXPECT_EQ(std::strlen(GetErrorDetail()), kErrorDetailSize - 1);
    const std::string text = TextOf(ERR_WRITEFILE);
    EXPECT_EQ(text.size(), kErrorTextSize - 1);
    EXPECT_EQ(text.substr(0, 21), "Cannot write to file ");

    // A full detail inside the longest kind of message: cut at the buffer.
    SetErrorDetail(std::string(kErrorDetailSize - 1, 'v').c_str());
    const std::string old = TextOf(ERR_OLDAPPLET);
    EXPECT_EQ(old.size(), kErrorTextSize - 1);
    EXPECT_EQ(old.substr(0, 12), "This functio");
    EXPECT_EQ(old.back(), 'v');
    // No text clears the detail.
    SetErrorDetail(nullptr);
    EXPECT_STREQ(GetErrorDetail(), "");
    EXPECT_EQ(TextOf(ERR_WRITEFILE), "Cannot write to file  !");
}

TEST_F(ErrorTextTest, RequesterTextCarriesFileLineAndFunction) {
    EXPECT_EQ(RequesterText("Boom!", false), "Boom!");
    SetRuntimeTag(kTagFileAndLine, 1);
    EXPECT_EQ(RequesterText("Boom!", true), "Boom!");
    // No applet is loaded here, so the script name and line are the unknown ones.
    const std::string file = std::string("File: ") + GetCurrentScriptName(nullptr);
    const std::string line = "current line: " + std::to_string(GetCurrentScriptLine(nullptr));
    EXPECT_EQ(RequesterText("Boom!", false), "Boom!\n" + file + " (" + line + ")");
    SetCurrentCommandName("DisplayBrush");
    EXPECT_EQ(RequesterText("Boom!", false), "Boom!\n" + file + " (" + line + " - In function: DisplayBrush)");

    char small[8];
    FormatErrorRequesterText(nullptr, "A long message", false, small, sizeof small);
    EXPECT_STREQ(small, "A long ");
}

TEST_F(ErrorTextTest, ErrorInfoNamesThePlaceOnlyWhenAsked) {
    char out[kErrorTextSize];
    const char* file = "unset";
    int line = 99;
    EXPECT_EQ(GetErrorInfo(nullptr, ERR_MEM, out, &file, &line), out);
    EXPECT_STREQ(out, "Out of memory!");
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(line, 0);
    SetRuntimeTag(kTagFileAndLine, 1);
    GetErrorInfo(nullptr, ERR_MEM, out, &file, &line);
    EXPECT_STREQ(file, GetCurrentScriptName(nullptr));
    EXPECT_EQ(line, GetCurrentScriptLine(nullptr));
}

TEST_F(ErrorTextTest, ConsoleMessages) {
    testing::internal::CaptureStdout();
    PrintMessage(GetMessageText(MSG_LOADINGBRUSH), "a/b/pic.png", 1);
    PrintDoneMessage();
    PrintMessage("100% plain", nullptr, 0);
    PrintMessage(GetMessageText(MSG_COMPILING), nullptr, 1);
    PrintFailedMessage();
    SetRuntimeTag(kTagQuiet, 1);
    PrintMessage("hidden %s", "x", 1);
    PrintDoneMessage();
    ConsolePrintf("%d\n", 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Loading brush pic.png...done\n100% plainCompiling script...failed\n7\n");
}

TEST_F(ErrorTextTest, ConsoleMessagesNeverFormatTheirTexts) {
    testing::internal::CaptureStdout();
    PrintMessage("%n %s", "dir/%n.qbs", 1);
    PrintMessage("%s%n%d", nullptr, 0);
    PrintMessage("%s%n", nullptr, 1);
    PrintMessage(std::string(2000, 'y').c_str(), "f", 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "%n %n.qbs...%s%n%d%s%n..." + std::string(511, 'y'));
}
