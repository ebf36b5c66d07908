// Where display 1 opens across runs: a declaration that remembers its
// position opens where the last run left it, and one that asks for a mode
// opens full screen in the mode the answers file picks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"

namespace {

// Moves display 1 to (100, 80) and ends.
const char kMove[] = R"(
.function main maxstack=4
    GETGLOBAL 0 "movedisplay"
    LOADK 1 #100
    LOADK 2 #80
    CALL 0 3 1
    RETURN 0 1
.end
)";

// Prints display 1's position.
const char kWhere[] = R"(
.function main maxstack=8
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #21
    LOADK 3 #1
    LOADK 4 #7
    CALL 1 4 2
    GETGLOBAL 2 "getattribute"
    LOADK 3 #21
    LOADK 4 #1
    LOADK 5 #8
    CALL 2 4 2
    CALL 0 3 1
    RETURN 0 1
.end
)";

using PlacementsTest = e2e::E2eFixture;

TEST_F(PlacementsTest, ADisplayThatRemembersItsPositionOpensWhereTheLastRunLeftIt) {
    const std::string env = "HOME=" + dir_.string() + " XDG_CONFIG_HOME=" + dir_.string() + "/config ";
    const std::string decl = "--identifier e2e.placement --display-decl 1:300:200+0x8000000:Placed";
    const auto move = Pack(Chunk(kMove, "move"), dir_ / "move.qba", decl);
    const auto where = Pack(Chunk(kWhere, "where"), dir_ / "where.qba", decl);
    e2e::RunResult moved = Run(env + QB_PLAYER_PATH + " " + move.string() + " -quiet");
    ASSERT_EQ(moved.status, 0) << moved.err;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "config/MorvaleLumegrid/Quenbrook/Preferences/e2e.placement"));
    e2e::RunResult again = Run(env + QB_PLAYER_PATH + " " + where.string() + " -quiet");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "100 80\n");
    // The command line can ignore it.
    e2e::RunResult overridden = Run(env + QB_PLAYER_PATH + " " + where.string() + " -quiet -overrideplacement");
    ASSERT_EQ(overridden.status, 0) << overridden.err;
    EXPECT_NE(overridden.out, "100 80\n");
}

TEST_F(PlacementsTest, TheModeRequesterOpensFullScreenInTheChosenMode) {
    const auto where = Pack(Chunk(kWhere, "where"), dir_ / "where.qba", "--display-decl 1:300:200:Asked");
    e2e::WriteFile(dir_ / "answers.txt", "0\n");
    e2e::RunResult r = Run("QB_REQUESTER_ANSWERS=" + (dir_ / "answers.txt").string() + " " + QB_PLAYER_PATH + " " +
                           where.string() + " -quiet -moderequester");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string log = e2e::ReadFile(dir_ / "answers.txt.log");
    EXPECT_EQ(log.rfind("list\tAsked\t", 0), 0u) << log;
    EXPECT_NE(log.find("1024x768"), std::string::npos) << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1) << log;
}

}  // namespace

TEST_F(PlacementsTest, AskingWithNobodyToAnswerEndsStartUpAtOnce) {
    const auto where = Pack(Chunk(kWhere, "where"), dir_ / "where.qba", "--display-decl 1:300:200:Asked");
    e2e::WriteFile(dir_ / "answers.txt", "");
    e2e::RunResult r = Run("QB_NO_ERROR_BOX=1 QB_REQUESTER_ANSWERS=" + (dir_ / "answers.txt").string() + " " +
                           QB_PLAYER_PATH + " " + where.string() + " -quiet -askdisplaymode");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to open window!"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}
