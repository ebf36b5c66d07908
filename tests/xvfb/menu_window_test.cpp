// The player's menu on a real X server: an applet whose menu handler ends
// it, ended by Ctrl+Q that xdotool types into its window; and a menu open
// on a sizeable window that shrinks under it before it closes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"

namespace {

// CreateMenu(1, {{"File", {{"Quit", id = "quit", hotkey = "q"}}}}), shown on
// the display, with an OnMenuSelect handler that ends the applet.
// SIZEABLE is the display's "sizeable" attribute.
constexpr const char* kMenuChunkTemplate = R"(
.function main maxstack=10
.line 1
    GETGLOBAL 0 "createmenu"
    LOADK 1 #1
    NEWTABLE 2 0 1
    NEWTABLE 3 0 2
    LOADK 4 "File"
    SETTABLE 3 #0 4
    NEWTABLE 4 0 1
    NEWTABLE 5 0 3
    LOADK 6 "Quit"
    SETTABLE 5 #0 6
    LOADK 6 "quit"
    SETTABLE 5 "id" 6
    LOADK 6 "q"
    SETTABLE 5 "hotkey" 6
    SETTABLE 4 #0 5
    SETTABLE 3 #1 4
    SETTABLE 2 #0 3
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "setdisplayattributes"
    NEWTABLE 1 0 2
    LOADK 2 #1
    SETTABLE 1 "menu" 2
    LOADK 2 #SIZEABLE
    SETTABLE 1 "sizeable" 2
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    CLOSURE 2 onmenu
    SETTABLE 1 "onmenuselect" 2
    CALL 0 2 1
.line 4
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onmenu params=1 maxstack=4
.line 5
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";

std::string MenuChunk(bool sizeable) {
    std::string s = kMenuChunkTemplate;
    s.replace(s.find("SIZEABLE"), 8, sizeable ? "1" : "0");
    return s;
}

// The shell, after the player started as $pid: its window shown, then
// grown by the strip once the script attaches its menu.
const std::string kMenuAttached = R"(await_window Quenbrook $pid
i=0
until xwininfo -name Quenbrook 2>/dev/null | grep -q "Height: 500" || [ $i -ge 400 ]; do i=$((i+1)); sleep 0.1; done
)";

// Ctrl+Q into window $wid again each second until the player ends, so that
// no timing decides; a player still running after 30 tries fails the test.
const std::string kQuitByCtrlQ = R"(n=0
while kill -0 $pid 2>/dev/null && [ $n -lt 30 ]; do
    xdotool key --window $wid ctrl+q
    sleep 1
    n=$((n+1))
done
if kill -0 $pid 2>/dev/null; then kill -KILL $pid; exit 3; fi
wait $pid
)";

class MenuWindowTest : public XvfbFixture {};

TEST_F(MenuWindowTest, CtrlQChoosesQuitAndTheAppletEnds) {
    for (const char* tool : {"xvfb-run", "xwininfo", "xdotool"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::filesystem::path applet = Pack(Chunk(MenuChunk(false), "menu"), dir_ / "menu.qba", "--include menu.qbs:1:1000:0");
    // Under the address sanitizer, SDL's X11 driver leaves allocations of
    // libraries it unloads at exit, which the leak check reports without a
    // stack to suppress them by; they are no concern of this test.
    const e2e::RunResult r = UnderXvfb("ASAN_OPTIONS=detect_leaks=0 " + std::string(QB_PLAYER_PATH) + " " +
                                        applet.string() + R"( -quiet & pid=$!
)" + kMenuAttached + R"(xwininfo -name Quenbrook >info.txt
wid=$(xdotool search --name Quenbrook | head -n 1)
xdotool windowfocus --sync $wid
)" + kQuitByCtrlQ);
    EXPECT_EQ(e2e::ReadFile(dir_ / "status.txt"), "0\n") << r.out << r.err;
    const std::string info = e2e::ReadFile(dir_ / "info.txt");
    EXPECT_NE(info.find("Width: 640\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Height: 500\n"), std::string::npos) << info;  // the picture and the strip above it
}

TEST_F(MenuWindowTest, AMenuClosedAfterTheWindowShrankUnderItWritesInsideTheWindow) {
    for (const char* tool : {"xvfb-run", "xwininfo", "xdotool"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    const std::filesystem::path applet =
        Pack(Chunk(MenuChunk(true), "shrink"), dir_ / "shrink.qba", "--include shrink.qbs:1:1000:0");
    // The File menu opened by a click on its title, the window made 40 x 30
    // (no window manager: the server takes the size as asked; the picture
    // keeps 10 rows below the strip), Escape closes the menu over the smaller
    // window, and Ctrl+Q ends the applet.
    const e2e::RunResult r = UnderXvfb("ASAN_OPTIONS=detect_leaks=0 " + std::string(QB_PLAYER_PATH) + " " +
                                        applet.string() + R"( -quiet 2>player.txt & pid=$!
)" + kMenuAttached + R"(wid=$(xdotool search --name Quenbrook | head -n 1)
xdotool windowfocus --sync $wid
xdotool mousemove --window $wid 12 6 click 1
xdotool windowsize $wid 40 30
i=0
until xwininfo -name Quenbrook 2>/dev/null | grep -q "Width: 40$" || [ $i -ge 400 ]; do i=$((i+1)); sleep 0.1; done
xwininfo -name Quenbrook >info.txt
xdotool key --window $wid Escape
)" + kQuitByCtrlQ,
                                        false,
                                        // Without shared memory the window's pixels are the player's own heap,
                                        // where the sanitizer sees a write past them (a shared segment is
                                        // rounded up to whole pages, which a short overrun stays inside).
                                        "-extension MIT-SHM");
    const std::string player = e2e::ReadFile(dir_ / "player.txt");
    EXPECT_EQ(e2e::ReadFile(dir_ / "status.txt"), "0\n") << r.out << r.err << player;
    EXPECT_EQ(player.find("Sanitizer"), std::string::npos) << player;
    const std::string info = e2e::ReadFile(dir_ / "info.txt");
    EXPECT_NE(info.find("Width: 40\n"), std::string::npos) << info;
}

}  // namespace
