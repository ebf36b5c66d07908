// The system library's version, plugin and requester commands in an applet
// run headless beside plugins of its own: what the script learns about the
// player and its plugins, and a requester answered from a script of answers.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

// Prints GetVersion().platform, HavePlugin("TESTLIB.QBP", 1, 9),
// HavePlugin("lazy") and GetPlugins()[0].name on one line, then the button
// of a system requester.
const char kScript[] = R"(
.function main maxstack=10
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getversion"
    CALL 1 1 2
    GETTABLE 1 1 "platform"
    GETGLOBAL 2 "haveplugin"
    LOADK 3 "TESTLIB.QBP"
    LOADK 4 #1
    LOADK 5 #9
    CALL 2 4 3
    GETGLOBAL 4 "haveplugin"
    LOADK 5 "lazy"
    CALL 4 2 3
    GETGLOBAL 6 "getplugins"
    CALL 6 1 2
    GETTABLE 6 6 #0
    GETTABLE 6 6 "name"
    CALL 0 7 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "systemrequest"
    LOADK 2 "Save"
    LOADK 3 "Keep changes?"
    LOADK 4 "Yes|No"
    CALL 1 4 0
    CALL 0 0 1
    RETURN 0 1 0
.end
)";

class SystemPluginsTest : public e2e::E2eFixture {};

TEST_F(SystemPluginsTest, AnAppletAsksAboutThePlayerAndItsPlugins) {
    const fs::path app = dir_ / "app";
    fs::create_directories(app);
    const fs::path player = app / "quenbrookplayer";
    fs::copy_file(QB_PLAYER_PATH, player);
    for (const char* name : {"testlib", "testimg"})
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / (std::string(name) + ".qbp"), app / (std::string(name) + ".qbp"));
    fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / "good.qbp", app / "_lazy.qbp");
    const fs::path answers = dir_ / "answers.txt";
    e2e::WriteFile(answers, "1\n");
    const fs::path qba = Pack(Chunk(kScript, "sys"), dir_ / "sys.qba", "--include sys.qbs:1:1000:0");

    const e2e::RunResult r = Run("cd " + dir_.string() + " && QB_REQUESTER_ANSWERS=" + answers.string() + " " +
                                 player.string() + " " + qba.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Linux 1 1 1 0 testimg\n1\n") << r.err;
    const std::string asked = e2e::ReadFile(fs::path(answers.string() + ".log"));
    EXPECT_NE(asked.find("Save"), std::string::npos) << asked;
}

}  // namespace
