// An applet that listens for clipboard changes on a real X server: another
// program's copy reaches its handler, which prints a line and ends it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"

namespace {

// InstallEventHandler({ClipboardChange = handler}), prints "listening", then
// waits for events; the handler prints "clipboard changed" and ends the applet.
constexpr const char* kClipboardChunk = R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    CLOSURE 2 onchange
    SETTABLE 1 "clipboardchange" 2
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "listening"
    CALL 0 2 1
.line 2
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onchange params=1 maxstack=4
.line 3
    GETGLOBAL 1 "debugprint"
    LOADK 2 "clipboard changed"
    CALL 1 2 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";

class ClipboardAppletTest : public XvfbFixture {};

TEST_F(ClipboardAppletTest, AnotherProgramsCopyRunsTheHandler) {
    for (const char* tool : {"xvfb-run", "xclip"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::filesystem::path applet =
        Pack(Chunk(kClipboardChunk, "clip"), dir_ / "clip.qba", "--include clip.qbs:1:1000:0");
    // The copies start once the handler is in place: starting the desktop
    // toolkit can take long on a loaded machine. Then a new copy each second
    // until the player ends, so that the desktop's own pace decides nothing.
    const e2e::RunResult r = UnderXvfb("ASAN_OPTIONS=detect_leaks=0 " + std::string(QB_PLAYER_PATH) + " " +
                                        applet.string() + R"( >out.txt & pid=$!
i=0
until grep -q listening out.txt 2>/dev/null || ! kill -0 $pid 2>/dev/null || [ $i -ge 900 ]; do i=$((i+1)); sleep 0.1; done
n=0
while kill -0 $pid 2>/dev/null && [ $n -lt 30 ]; do
    echo "copy $n" | xclip -selection clipboard -loops 1 -quiet >/dev/null 2>&1 &
    sleep 1
    n=$((n+1))
done
if kill -0 $pid 2>/dev/null; then kill -KILL $pid; exit 3; fi
wait $pid
)");
    const std::string out = e2e::ReadFile(dir_ / "out.txt");
    EXPECT_EQ(e2e::ReadFile(dir_ / "status.txt"), "0\n") << out << r.out << r.err;
    EXPECT_NE(out.find("clipboard changed"), std::string::npos) << out << r.out << r.err;
}

}  // namespace
