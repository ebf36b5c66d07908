// Requesters of a whole player run, headless: the applet asked for at
// start-up, and the error that ends a run, answered and logged by the
// scripted answers of QB_REQUESTER_ANSWERS.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

using e2e::RunResult;

constexpr char kHello[] = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "picked and ran"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

constexpr char kFailing[] = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "error"
    LOADK 1 "Stopped here"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

class RequestersTest : public e2e::E2eFixture {
protected:
    // The player with the arguments, answering requesters from the lines.
    RunResult PlayAnswering(const std::string& answers, const std::string& args) {
        e2e::WriteFile(dir_ / "answers.txt", answers);
        return Run("env -u QB_NO_ERROR_BOX QB_REQUESTER_ANSWERS=" + (dir_ / "answers.txt").string() + " " +
                   QB_PLAYER_PATH + " " + args);
    }
    std::string Log() { return e2e::ReadFile(dir_ / "answers.txt.log"); }
};

}  // namespace

TEST_F(RequestersTest, WithoutAnAppletThePlayerRunsTheOneTheRequesterAnswers) {
    const fs::path applet = Pack(Chunk(kHello, "hello"), dir_ / "hello.qba", "--include hello.qbs:1:1000:0");
    const RunResult r = PlayAnswering(applet.string() + "\n", "-quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "picked and ran\n");
    EXPECT_EQ(Log(), "file\tSelect Quenbrook applet to run\t\tqba\n");

    const RunResult cancelled = PlayAnswering("cancel\n", "-quiet");
    EXPECT_EQ(cancelled.status, 0) << cancelled.err;
    EXPECT_EQ(cancelled.out, "");
    EXPECT_EQ(cancelled.err, "");

    // Headless without the answers, nothing waits: the usage instead.
    const RunResult plain = Run(std::string("env -u QB_REQUESTER_ANSWERS ") + QB_PLAYER_PATH);
    EXPECT_EQ(plain.status, 1);
    EXPECT_NE(plain.err.find("Usage: quenbrookplayer"), std::string::npos) << plain.err;
    EXPECT_EQ(plain.err.find("Unable to open window"), std::string::npos) << plain.err;
}

TEST_F(RequestersTest, TheErrorThatEndsARunGoesToStandardErrorAndASystemRequester) {
    const fs::path applet = Pack(Chunk(kFailing, "fail"), dir_ / "fail.qba", "--include fail.qbs:1:1000:0");
    const RunResult r = PlayAnswering("1\n", applet.string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Stopped here"), std::string::npos) << r.err;
    const std::string log = Log();
    EXPECT_EQ(log.rfind("system\tQuenbrookPlayer\t", 0), 0u) << log;
    EXPECT_NE(log.find("Stopped here"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 4), "\tOK\n") << log;

    // Switched off, the error box is not even asked for.
    e2e::WriteFile(dir_ / "answers.txt", "1\n");
    fs::remove(dir_ / "answers.txt.log");
    const RunResult off = Run("QB_NO_ERROR_BOX=1 QB_REQUESTER_ANSWERS=" + (dir_ / "answers.txt").string() + " " +
                              QB_PLAYER_PATH + " " + applet.string() + " -quiet");
    EXPECT_EQ(off.status, 1);
    EXPECT_FALSE(fs::exists(dir_ / "answers.txt.log"));
}
