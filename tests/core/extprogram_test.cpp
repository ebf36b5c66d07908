// The external-program thread: every end of a program, by exit or by a
// signal, becomes one run-finished event naming the run record.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>

#include "core/errcodes.h"
#include "core/extprogram.h"
#include "core/soundevents.h"
#include "platform/platform.h"

namespace {

using namespace std::chrono_literals;

// The next sound event, waiting (woken by the event's wake) up to a generous
// limit.
std::optional<qbSoundEvent> AwaitSoundEvent() {
    auto limit = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        if (auto event = PopSoundEvent()) return event;
        if (std::chrono::steady_clock::now() > limit) return std::nullopt;
        WaitForNativeEvent(50);
    }
}

class ExternalProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSoundEvents(); }
    void TearDown() override {
        StopThread(run.thread);
        ClearSoundEvents();
    }

    void ExpectRunFinished() {
        std::optional<qbSoundEvent> event = AwaitSoundEvent();
        ASSERT_TRUE(event) << "no run-finished event";
        EXPECT_EQ(event->type, kSoundEventRunFinished);
        EXPECT_EQ(event->id.number, 0);
        EXPECT_EQ(event->id.handle, &run);
        EXPECT_TRUE(run.finished);
    }

    qbRunningProgram run;
};

TEST_F(ExternalProgramTest, ProgramThatExitsIsReportedOnce) {
    run.program = "/bin/sh";
    run.args = "-c \"exit 3\"";
    ASSERT_EQ(StartExternalProgramThread(&run), 0);
    EXPECT_GT(run.pid.load(), 0);
    ExpectRunFinished();
    int status = run.waitStatus;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    StopThread(run.thread);
    EXPECT_FALSE(PopSoundEvent()) << "the end was reported twice";
}

TEST_F(ExternalProgramTest, ProgramKilledBySignalIsReported) {
    run.program = "/bin/sleep";
    run.args = "30";
    ASSERT_EQ(StartExternalProgramThread(&run), 0);
    ASSERT_GT(run.pid.load(), 0);
    EXPECT_FALSE(PopSoundEvent());
    ASSERT_EQ(kill(run.pid, SIGKILL), 0);
    ExpectRunFinished();
    int status = run.waitStatus;
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST_F(ExternalProgramTest, ProgramThatCannotStartFailsWithItsOwnError) {
    run.program = "/nonexistent/quenbrook-test-program";
    EXPECT_EQ(StartExternalProgramThread(&run), ERR_EXECUTE);
    EXPECT_FALSE(run.thread);
    EXPECT_FALSE(PopSoundEvent());
}

}  // namespace
