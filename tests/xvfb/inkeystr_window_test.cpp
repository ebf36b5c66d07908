// Keys typed into the player's window on a real X server reach InKeyStr,
// backspace included. Skipped where xvfb-run or xdotool are missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"

namespace {

constexpr const char* kInputChunk = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "inkeystr"
    LOADK 2 #0
    CALL 1 2 0
    CALL 0 0 1
    RETURN 0 1 0
.end
)";

class InKeyStrWindowTest : public XvfbFixture {};

TEST_F(InKeyStrWindowTest, TypedKeysWithABackspaceGiveTheEditedLine) {
    for (const char* tool : {"xvfb-run", "xdotool"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::filesystem::path applet =
        Pack(Chunk(kInputChunk, "input"), dir_ / "input.qba", "--include input.qbs:1:1000:0");
    // See menu_window_test.cpp for the leak check switched off under X.
    const e2e::RunResult r = UnderXvfb("ASAN_OPTIONS=detect_leaks=0 " + std::string(QB_PLAYER_PATH) + " " +
                                        applet.string() + R"( -quiet >out.txt & pid=$!
await_window Quenbrook $pid
i=0
until wid=$(xdotool search --onlyvisible --name Quenbrook 2>/dev/null | tail -n 1) && [ -n "$wid" ] || [ $i -ge 400 ]; do i=$((i+1)); sleep 0.1; done
sleep 1
# Looked up again: a loaded machine may show the window before SDL settles it.
wid=$(xdotool search --onlyvisible --name Quenbrook 2>/dev/null | tail -n 1)
xdotool windowfocus --sync $wid
xdotool key --window $wid a b BackSpace c Return
n=0
while kill -0 $pid 2>/dev/null && [ $n -lt 100 ]; do sleep 0.1; n=$((n+1)); done
if kill -0 $pid 2>/dev/null; then kill -KILL $pid; exit 3; fi
wait $pid
)");
    EXPECT_EQ(e2e::ReadFile(dir_ / "status.txt"), "0\n") << r.out << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "out.txt"), "ac\n");
}

}  // namespace
