// SetClipboard and GetClipboard of an applet on a real X server, against
// xclip: another program reads what the script put there, and the script
// reads what another program put there.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"

namespace {

// SetClipboard(#CLIPBOARD_TEXT, "from player"), prints "set", then reads the
// clipboard every two ticks until it holds "from xclip", which it prints.
constexpr const char* kClipboardChunk = R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "setclipboard"
    LOADK 1 #1
    LOADK 2 "from player"
    CALL 0 3 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "set"
    CALL 0 2 1
.line 2
loop:
    GETGLOBAL 0 "wait"
    LOADK 1 #2
    CALL 0 2 1
    GETGLOBAL 0 "getclipboard"
    CALL 0 1 3
    LOADK 2 "from xclip"
    EQ 0 1 2
    JMP loop
.line 3
    MOVE 3 1
    LOADK 2 "read "
    CONCAT 1 2 3
    GETGLOBAL 0 "debugprint"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

class ClipboardCommandsTest : public XvfbFixture {};

TEST_F(ClipboardCommandsTest, TextGoesBothWaysWithAnotherProgram) {
    for (const char* tool : {"xvfb-run", "xclip"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::filesystem::path applet =
        Pack(Chunk(kClipboardChunk, "clipcmds"), dir_ / "clipcmds.qba", "--include clipcmds.qbs:1:1000:0");
    // The player owns the selection while it runs: xclip reads it then, and
    // offers its own text until the player has read it and ended.
    const e2e::RunResult r = UnderXvfb("ASAN_OPTIONS=detect_leaks=0 " + std::string(QB_PLAYER_PATH) + " " +
                                        applet.string() + R"( -quiet >out.txt & pid=$!
i=0
until grep -q set out.txt 2>/dev/null || ! kill -0 $pid 2>/dev/null || [ $i -ge 900 ]; do i=$((i+1)); sleep 0.1; done
timeout 30 xclip -o -selection clipboard >got.txt 2>/dev/null
printf 'from xclip' | xclip -selection clipboard -quiet >/dev/null 2>&1 &
xc=$!
i=0
while kill -0 $pid 2>/dev/null && [ $i -lt 600 ]; do i=$((i+1)); sleep 0.1; done
kill $xc 2>/dev/null
if kill -0 $pid 2>/dev/null; then kill -KILL $pid; exit 3; fi
wait $pid
)");
    const std::string out = e2e::ReadFile(dir_ / "out.txt");
    EXPECT_EQ(e2e::ReadFile(dir_ / "status.txt"), "0\n") << out << r.out << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "got.txt"), "from player") << r.out << r.err;
    EXPECT_EQ(out, "set\nread from xclip\n") << r.out << r.err;
}

}  // namespace
