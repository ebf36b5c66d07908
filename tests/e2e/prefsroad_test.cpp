// Preferences across runs: one applet saves a nested table, a second with the
// same identifier loads it into a table that holds a further key, each run
// with its own home and configuration folder.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace {

const char kSave[] = R"(
.function main maxstack=6
    NEWTABLE 0 0 0
    NEWTABLE 1 0 0
    SETTABLE 1 "inner" #7
    SETTABLE 0 "outer" 1
    GETGLOBAL 2 "saveprefs"
    MOVE 3 0
    CALL 2 2 1
    RETURN 0 1
.end
)";

const char kLoad[] = R"(
.function main maxstack=8
    NEWTABLE 0 0 0
    SETTABLE 0 "extra" #3
    GETGLOBAL 1 "loadprefs"
    MOVE 2 0
    CALL 1 2 1
    GETTABLE 1 0 "outer"
    GETTABLE 1 1 "inner"
    GETTABLE 2 0 "extra"
    GETGLOBAL 3 "debugprint"
    MOVE 4 1
    MOVE 5 2
    CALL 3 3 1
    RETURN 0 1
.end
)";

using PrefsRoadTest = e2e::E2eFixture;

TEST_F(PrefsRoadTest, ATableSavedInOneRunIsLoadedInTheNext) {
    const std::string env = "HOME=" + dir_.string() + " XDG_CONFIG_HOME=" + dir_.string() + "/config ";
    const auto save = Pack(Chunk(kSave, "save"), dir_ / "save.qba", "--identifier e2e.prefs");
    const auto load = Pack(Chunk(kLoad, "load"), dir_ / "load.qba", "--identifier e2e.prefs");
    // Before any save LoadPrefs is silent: the run gets as far as the
    // missing field.
    e2e::RunResult first = Run(env + QB_PLAYER_PATH + " " + load.string() + " -quiet");
    EXPECT_NE(first.err.find("\"outer\""), std::string::npos) << first.err;
    e2e::RunResult saved = Run(env + QB_PLAYER_PATH + " " + save.string() + " -quiet");
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "config/MorvaleLumegrid/Quenbrook/Preferences/e2e.prefs"));
    e2e::RunResult second = Run(env + QB_PLAYER_PATH + " " + load.string() + " -quiet");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "7 3\n");
}

}  // namespace
