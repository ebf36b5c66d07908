// End-to-end runs of compressed applets against their plain twins, and of the
// start-up paths around the applet: usage, help, the options file and
// required plugins.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "test_bmp.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReadFile;
using e2e::RunResult;
using e2e::WriteFile;

const char kCountingScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "start"
    CALL 0 2 1
.line 2
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #100
    LOADK 3 #1
    JMP check
body:
    ADD 0 0 1
check:
    FORLOOP 1 body
    GETGLOBAL 4 "debugprint"
    MOVE 5 0
    CALL 4 2 1
    RETURN 0 1 0
.end
)";

const char kFailingScript[] = R"(
.function main maxstack=4
.line 7
    GETGLOBAL 0 "debugprint"
    CALL 0 1 1
    RETURN 0 1 0
.end
)";

class CompressedTest : public e2e::E2eFixture {
protected:
    // Assembles source and packs it as name with the extra qbapplet options.
    fs::path Applet(const std::string& source, const std::string& name, const std::string& extra = "") {
        return Pack(Chunk(source, "prog"), dir_ / name, "--include prog.qbs:1:1000:0 --title Twin " + extra);
    }

    RunResult Play(const std::string& args) { return Run(std::string(QB_PLAYER_PATH) + " " + args); }
};

TEST_F(CompressedTest, RunsExactlyLikeItsPlainTwin) {
    // The icon block travels inside the compressed part and is loaded from there.
    const std::string icon = "--icon 16:16:0:" + test_bmp::WriteBmp(16, 16);
    for (const char* source : {kCountingScript, kFailingScript}) {
        fs::path plain = Applet(source, "plain.qba", icon);
        fs::path packed = Applet(source, "packed.qba", "--compress " + icon);
        EXPECT_NE(ReadFile(plain), ReadFile(packed));
        const std::string tmp = " -tempdir " + (dir_ / "tmp").string();
        RunResult a = Play(plain.string() + " -quiet" + tmp);
        RunResult b = Play(packed.string() + " -quiet" + tmp);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.out, b.out);
        EXPECT_EQ(a.err, b.err);
        // The inflated applet is gone once the player has ended.
        EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
    }
    RunResult r = Play((dir_ / "packed.qba").string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File: prog.qbs (current line: 7 - In function: DebugPrint)"), std::string::npos) << r.err;

    fs::path packed = Applet(kCountingScript, "packed.qba", "--compress");
    r = Play(packed.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("QuenbrookPlayer 6.1 [Linux]\n"), 0u) << r.out;
    EXPECT_NE(r.out.find("start\n5050\n"), std::string::npos) << r.out;
}

// Start-up around the applet: usage, help, the options file beside the
// applet (which wins), and required plugins that cannot be loaded.
TEST_F(CompressedTest, StartUpPathsEndWithTheirStatusAndText) {
    const std::string plain = Applet(kCountingScript, "game.qba").string();
    const std::string needs =
        Applet(kCountingScript, "needs.qba", "--compress --plugin gadget:1:2 --plugin-tag speed=3").string();
    const struct {
        std::string args;
        const char* ini;  // game.ini
        int status;
        const char* out;  // a part of standard output, or all of it when it starts with '='
        const char* err;
    } cases[] = {
        {"", "", 1, "=", "Usage: quenbrookplayer"},
        {"", "", 1, "=", "Arguments controlling plugins:"},
        {"-help", "", 0, "  -REQUIRETAGS <list>", ""},
        {plain, "[Player]\nQUIET = yes\n", 0, "=start\n5050\n", ""},
        {plain + " -fullscreen", "QUIET = yes\nWINDOW = 1\n", 1, "", "Invalid combination of console arguments!"},
        {needs + " -quiet", "", 1, "=", "gadget"},
        {plain + " -quiet -requireplugins other -requiretags \"other[level=2]\"", "", 1, "", "other"},
        {plain + " -quiet -requireplugins other -requiretags \"other[level 2]\"", "", 1, "",
         "Invalid require tags format!"},
    };
    for (const auto& c : cases) {
        WriteFile(dir_ / "game.ini", c.ini);
        RunResult r = Play(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        if (c.out[0] == '=') {
            EXPECT_EQ(r.out, c.out + 1) << c.args;
        } else {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args << ": " << r.out;
        }
        if (*c.err) {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
        } else {
            EXPECT_EQ(r.err, "") << c.args;
        }
    }
}

}  // namespace
