// The Linux requesters through zenity, against a fake zenity first on PATH
// that records its arguments and answers from a list; and the headless rule
// that keeps them from running at all.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bounded_child.h"
#include "core/errcodes.h"
#include "platform/linux/requesters_linux.h"

namespace fs = std::filesystem;
using namespace linux_requesters;

namespace {

// Each run n records its arguments, NUL-separated, in argv.n, and answers
// with line n of "answers": "status:output" (printf %b escapes).
constexpr char kFakeZenity[] = R"(#!/bin/sh
dir=$(dirname "$0")
n=$(cat "$dir/count" 2>/dev/null || echo 0)
n=$((n+1))
echo $n >"$dir/count"
for a in "$@"; do printf '%s\0' "$a"; done >"$dir/argv.$n"
line=$(sed -n "${n}p" "$dir/answers")
printf '%b\n' "${line#*:}"
exit "${line%%:*}"
)";

class ZenityTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qb_zenity_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "zenity") << kFakeZenity;
        fs::permissions(dir_ / "zenity", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        fs::remove_all(dir_);
    }
    void Answers(const std::string& lines) { std::ofstream(dir_ / "answers") << lines; }
    int Runs() const {
        std::ifstream in(dir_ / "count");
        int n = 0;
        in >> n;
        return n;
    }
    std::vector<std::string> Argv(int run) const {
        std::ifstream in(dir_ / ("argv." + std::to_string(run)), std::ios::binary);
        std::vector<std::string> args;
        std::string arg;
        while (std::getline(in, arg, '\0')) args.push_back(arg);
        return args;
    }
    fs::path dir_;
    std::string oldPath_;
};

using Args = std::vector<std::string>;

}  // namespace

TEST_F(ZenityTest, StringRequesterAsksAgainUntilTheAnswerIsANumberAndTitlesArriveAsUtf8) {
    Answers("0:abc\n0:-1.5\n");
    char text[1024];
    ASSERT_EQ(ZenityStringRequester("Caf\xE9", "How many?", "12a", 3, 0, 1, text), 0);
    EXPECT_STREQ(text, "-1.5");
    EXPECT_EQ(Runs(), 2);
    EXPECT_EQ(Argv(1), (Args{"--entry", "--title=Caf\xC3\xA9", "--text=How many?", "--entry-text=0", "--hide-text"}));

    Answers("0:toolong\n1:\n");
    fs::remove(dir_ / "count");
    EXPECT_EQ(ZenityStringRequester("t", "b", "abcdef", 1, 4, 0, text), ERR_USERABORT);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(Argv(1)[3], "--entry-text=abcd");
}

TEST_F(ZenityTest, FileRequestersPassModeStartAndCaseBlindFilterAndReadEveryName) {
    Answers("0:/pics/a.PNG\\n/pics/b.jpg\n1:\n0:/out/new.txt\n");
    qbFileRequestResult r;
    ASSERT_EQ(ZenityFileRequester("Pick", "png|.jpg", kReqMultiSelect, "/pics", "", &r), 0);
    EXPECT_EQ(Argv(1), (Args{"--file-selection", "--title=Pick", "--multiple", "--separator=\n",
                             "--filename=/pics/", "--file-filter=*.png *.jpg | *.[pP][nN][gG] *.[jJ][pP][gG]"}));
    EXPECT_EQ(r.folder, "/pics/");
    EXPECT_EQ(r.files, std::string("a.PNG\0b.jpg\0", 12));
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.chosen, 1);

    ASSERT_EQ(ZenityFileRequester("Pick", "*", kReqNormal, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.chosen, 0);
    EXPECT_EQ(Argv(2), (Args{"--file-selection", "--title=Pick"}));

    ASSERT_EQ(ZenityFileRequester("Save", "", kReqSaveMode, "/out", "new.txt", &r), 0);
    EXPECT_EQ(Argv(3), (Args{"--file-selection", "--title=Save", "--save", "--confirm-overwrite",
                             "--filename=/out/new.txt"}));
    EXPECT_EQ(r.folder, "/out/");
    EXPECT_EQ(r.count, 1);
}

TEST_F(ZenityTest, ListColourAndPathRequesters) {
    Answers("0:1\n0:rgb(255,0,16)\n0:/home/u\n1:\n");
    int index = -1;
    ASSERT_EQ(ZenityListRequester("L", "pick", "one\0two\0", 1, &index), 0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Argv(1), (Args{"--list", "--radiolist", "--title=L", "--text=pick", "--column=", "--column=#",
                             "--column=", "--hide-column=2", "--print-column=2", "--hide-header", "FALSE", "0", "one",
                             "TRUE", "1", "two"}));
    int32_t colour = 0;
    ASSERT_EQ(ZenityColorRequester(0x123456, &colour), 0);
    EXPECT_EQ(colour, 0xFF0010);
    EXPECT_EQ(Argv(2), (Args{"--color-selection", "--color=#123456"}));
    std::optional<std::string> path;
    ASSERT_EQ(ZenityPathRequester("P", "/home", &path), 0);
    EXPECT_EQ(path, "/home/u");
    EXPECT_EQ(Argv(3), (Args{"--file-selection", "--directory", "--title=P", "--filename=/home/"}));
    ASSERT_EQ(ZenityPathRequester("P", nullptr, &path), 0);
    EXPECT_FALSE(path.has_value());

    EXPECT_EQ(ParseZenityColour("rgba(1,2,3,0.5)"), 0x010203);
    EXPECT_EQ(ParseZenityColour("#a0b0c0"), 0xA0B0C0);
    EXPECT_EQ(ParseZenityColour("red"), -1);
}

TEST_F(ZenityTest, AFailingOrMissingZenityIsAWindowError) {
    Answers("5:\n0:7\n");
    int index = 0;
    EXPECT_EQ(ZenityListRequester("L", "b", "a\0", -1, &index), ERR_WINDOW);
    EXPECT_EQ(ZenityListRequester("L", "b", "a\0", -1, &index), ERR_WINDOW);  // no such entry
    setenv("PATH", "/nonexistent", 1);
    ZenityReply reply;
    EXPECT_EQ(RunZenity({"--info"}, &reply), ERR_WINDOW);
}

TEST_F(ZenityTest, HeadlessRunsNeverStartTheProgram) {
    Answers("0:x\n");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    char text[1024];
    EXPECT_EQ(StringRequesterNative("t", "b", "", 1, 0, 0, text), ERR_WINDOW);
    int result = -1;
    EXPECT_EQ(SystemRequesterNative("t", "b", "OK", 0, &result), ERR_WINDOW);
    qbFileRequestResult r;
    EXPECT_EQ(FileRequesterNative("t", "", 0, nullptr, nullptr, &r), ERR_WINDOW);
    EXPECT_EQ(Runs(), 0);
    EXPECT_EQ(FontRequesterNative(nullptr, "Sans", 12, nullptr), ERR_WINDOW);
}

// Descriptor 0 is an ordinary one once standard input is closed (in a
// child, whose standard input is its own): the pipe's read end there reads
// the answer and is given back.
TEST_F(ZenityTest, ThePipeOnDescriptorZeroIsReadAndGivenBack) {
    Answers("0:there\n");
    EXPECT_EQ(test_child::InChild([] {
                  close(0);
                  ZenityReply reply;
                  if (RunZenity({"--entry"}, &reply) != 0 || reply.output != "there") return 1;
                  return fcntl(0, F_GETFD) == -1 ? 0 : 2;
              }),
              0);
}
