// The player's window on a real X server: the player binary runs under
// xvfb-run, and the X tools find its window and take a screenshot of it.
// Skipped where xvfb-run or the X tools are missing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/e2e_util.h"
#include "core/pixelformats.h"
#include "imaging/imagefixtures.h"
#include "platform/platform.h"
#include "xvfb/xvfb_run.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kBackdrop = 0x3366CC;

// Keeps the player busy for far longer than the test looks at its window;
// the test kills it once it has its screenshot.
constexpr const char* kBusyChunk = R"(
.function main maxstack=6
.line 1
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #100000000000
    LOADK 3 #1
    JMP next
body:
.line 2
    ADD 0 0 1
next:
.line 3
    FORLOOP 1 body
    RETURN 0 1 0
.end
)";

// An X window dump: a big-endian header, a colour table, then the pixels.
struct WindowDump {
    std::string data;
    uint32_t headerSize = 0, width = 0, height = 0, byteOrder = 0, bitsPerPixel = 0, bytesPerLine = 0, colours = 0;
    uint32_t redMask = 0, greenMask = 0, blueMask = 0;

    uint32_t Word(size_t index) const {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(data[index * 4 + i]);
        return v;
    }
    static std::optional<WindowDump> Read(const fs::path& file) {
        WindowDump d;
        d.data = e2e::ReadFile(file);
        if (d.data.size() < 100) return std::nullopt;
        d.headerSize = d.Word(0);
        d.width = d.Word(4);
        d.height = d.Word(5);
        d.byteOrder = d.Word(7);
        d.bitsPerPixel = d.Word(11);
        d.bytesPerLine = d.Word(12);
        d.redMask = d.Word(14);
        d.greenMask = d.Word(15);
        d.blueMask = d.Word(16);
        d.colours = d.Word(19);
        if (d.bitsPerPixel != 32 || d.data.size() < d.PixelStart() + size_t{d.bytesPerLine} * d.height)
            return std::nullopt;
        return d;
    }
    size_t PixelStart() const { return size_t{headerSize} + size_t{colours} * 12; }
    static uint32_t Channel(uint32_t pixel, uint32_t mask) {
        if (mask == 0) return 0;
        while (!(mask & 1)) {
            mask >>= 1;
            pixel >>= 1;
        }
        return pixel & mask;
    }
    // 0xRRGGBB of a pixel.
    uint32_t At(uint32_t x, uint32_t y) const {
        const size_t at = PixelStart() + size_t{y} * bytesPerLine + size_t{x} * 4;
        uint32_t pixel = 0;
        for (size_t i = 0; i < 4; ++i) {
            const uint32_t byte = static_cast<uint8_t>(data[at + i]);
            pixel |= byteOrder == 0 ? byte << (8 * i) : byte << (8 * (3 - i));
        }
        return (Channel(pixel, redMask) << 16) | (Channel(pixel, greenMask) << 8) | Channel(pixel, blueMask);
    }
};

class PlayerWindowTest : public XvfbFixture {
protected:
    void SetUp() override {
        E2eFixture::SetUp();
        for (const char* tool : {"xvfb-run", "xwininfo", "xwd"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
};

TEST_F(PlayerWindowTest, TheAppletShowsA640x480WindowTitledQuenbrookWithItsBackdrop) {
    fs::path applet = Pack(Chunk(kBusyChunk, "busy"), dir_ / "busy.qba",
                           "--include busy.qbs:1:1000:0 --display-color " + std::to_string(kBackdrop));
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                       R"( -quiet & pid=$!
await_window Quenbrook $pid
i=0
until xwininfo -name Quenbrook 2>/dev/null | grep -q IsViewable || [ $i -ge 400 ]; do i=$((i+1)); sleep 0.1; done
sleep 1
xwininfo -name Quenbrook >info.txt
xwd -silent -name Quenbrook -out shot.xwd
kill -KILL $pid
wait $pid
exit 0
)");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string info = e2e::ReadFile(dir_ / "info.txt");
    EXPECT_NE(info.find("\"Quenbrook\""), std::string::npos) << info << r.err;
    EXPECT_NE(info.find("Width: 640\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Height: 480\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Map State: IsViewable"), std::string::npos) << info;

    const std::optional<WindowDump> shot = WindowDump::Read(dir_ / "shot.xwd");
    ASSERT_TRUE(shot.has_value()) << r.err;
    EXPECT_EQ(shot->width, 640u);
    EXPECT_EQ(shot->height, 480u);
    for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{320u, 240u}, std::pair{639u, 479u}})
        EXPECT_EQ(shot->At(x, y), kBackdrop) << x << "," << y;
}

constexpr const char* kFailingChunk = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "error"
    LOADK 1 "Stopped here"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

TEST_F(PlayerWindowTest, AnErrorEndsThePlayerWithoutWaitingOnABoxWhenTheBoxIsSwitchedOff) {
    fs::path applet = Pack(Chunk(kFailingChunk, "fail"), dir_ / "fail.qba", "--include fail.qbs:1:1000:0");
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet\n");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Stopped here"), std::string::npos) << r.err;
}

// On an X server with the core fonts that SDL draws its box with, the error
// that ends the player waits in a system requester named after the player
// until its OK button is pressed; QB_NO_ERROR_BOX=1 lets the player end at
// once, with no box at any moment. Every wait is bounded: a box that never comes, or a player
// that never ends, fails the test instead of holding it.
TEST_F(PlayerWindowTest, TheEndingErrorWaitsInABoxUntilDismissedUnlessTheBoxIsSwitchedOff) {
    if (!HaveTool("xdotool") || !HaveTool("xlsfonts")) GTEST_SKIP() << "xdotool or xlsfonts is not installed";
    fs::path applet = Pack(Chunk(kFailingChunk, "fail"), dir_ / "fail.qba", "--include fail.qbs:1:1000:0");
    const std::string player = std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet";
    // Polls every 0.05 s while the player runs, for at most 5 s or until a
    // box is seen; then whether the player is still there.
    const std::string watch = player + R"( & pid=$!
i=0
while kill -0 $pid 2>/dev/null && [ $i -lt 100 ]; do
    xwininfo -root -tree | grep -q '"QuenbrookPlayer"' && { echo seen >box.txt; break; }
    i=$((i+1)); sleep 0.05
done
kill -0 $pid 2>/dev/null && echo waiting >waiting.txt
)";
    const e2e::RunResult off = UnderXvfb(watch + "kill -KILL $pid 2>/dev/null\nwait $pid\n");
    EXPECT_EQ(off.status, 1) << off.err;
    EXPECT_NE(off.err.find("Stopped here"), std::string::npos) << off.err;
    EXPECT_FALSE(fs::exists(dir_ / "box.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "waiting.txt"));
    fs::remove(dir_ / "box.txt");
    fs::remove(dir_ / "waiting.txt");
#if defined(__SANITIZE_ADDRESS__)
#define QB_BOX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_BOX_UNDER_ASAN 1
#endif
#endif
#ifdef QB_BOX_UNDER_ASAN
    // SDL shows the box from a forked copy of the player; the address
    // sanitizer's allocator is not safe to fork in a process with threads,
    // so under load the copy may fail before it draws. The other builds
    // check the box.
    GTEST_SKIP() << "the box is drawn by a forked process, which the address sanitizer cannot fork safely";
#endif

    const e2e::RunResult on = UnderXvfb(R"(xlsfonts -fn '-*-*-medium-r-normal--*-120-*-*-*-*-*-*' | grep -q . || { echo >nofonts.txt; exit 0; }
)" + watch + R"(xwininfo -root -tree >tree.txt
wid=$(xwininfo -name QuenbrookPlayer 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
[ -n "$wid" ] && xdotool key --window "$wid" Return && echo pressed >pressed.txt
i=0
while kill -0 $pid 2>/dev/null && [ $i -lt 100 ]; do i=$((i+1)); sleep 0.05; done
kill -KILL $pid 2>/dev/null
wait $pid
)",
                                        true);
    // Without them SDL can draw no box (see README); the set-up installs them.
    ASSERT_FALSE(fs::exists(dir_ / "nofonts.txt")) << "the X server lacks the core fonts of xfonts-base";
    EXPECT_TRUE(fs::exists(dir_ / "box.txt")) << on.err;
    // The box is modal: the player was still there, waiting on it.
    EXPECT_TRUE(fs::exists(dir_ / "waiting.txt"));
    EXPECT_NE(e2e::ReadFile(dir_ / "tree.txt").find("\"QuenbrookPlayer\""), std::string::npos);
    // Return, sent to the box without focus, presses its OK button; the
    // player then ends with the error's status (not killed: 137).
    EXPECT_TRUE(fs::exists(dir_ / "pressed.txt"));
    EXPECT_EQ(on.status, 1) << on.err;
    EXPECT_NE(on.err.find("Stopped here"), std::string::npos) << on.err;
}

// With a display server where GTK cannot start (it is told to look for a
// Wayland one) and no applet named, the player asks zenity for one (a fake
// zenity here, first on PATH, that records its arguments) and runs the file
// it answers.
TEST_F(PlayerWindowTest, WithoutAnAppletAndWithoutGtkZenityAsksForOneAndThePlayerRunsIt) {
    const std::string print =
        ".function main maxstack=4\n.line 1\n    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"picked\"\n"
        "    CALL 0 2 1\n    RETURN 0 1 0\n.end\n";
    const fs::path applet = Pack(Chunk(print, "picked"), dir_ / "picked.qba", "--include picked.qbs:1:1000:0");
    fs::create_directories(dir_ / "bin");
    e2e::WriteFile(dir_ / "bin" / "zenity", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"" +
                                                (dir_ / "argv.txt").string() + "\"\necho '" + applet.string() +
                                                "'\n");
    fs::permissions(dir_ / "bin" / "zenity", fs::perms::owner_all);
    // Under the address sanitizer, SDL's X11 driver leaves allocations of
    // libraries it unloads at exit, which the leak check reports without a
    // stack to suppress them by; they are no concern of this test.
    const e2e::RunResult r =
        UnderXvfb("PATH=" + (dir_ / "bin").string() + ":$PATH GDK_BACKEND=wayland ASAN_OPTIONS=detect_leaks=0 " +
                  QB_PLAYER_PATH + " -quiet >played.txt\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "played.txt"), "picked\n") << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "argv.txt"),
              "--file-selection\n--title=Select Quenbrook applet to run\n--file-filter=*.qba | *.[qQ][bB][aA]\n");
}

// With a display server and no applet named, the player asks in a GTK file
// chooser of its own process: a window of the player's process bears the
// chooser's title, and the fake zenity first on PATH is never run. Nothing
// is typed into the chooser; the player is killed.
TEST_F(PlayerWindowTest, WithoutAnAppletAGtkFileChooserOfThePlayersOwnAsksForOne) {
#if !QB_TEST_HAVE_GTK
    GTEST_SKIP() << "the player is built without GTK";
#endif
    if (!HaveTool("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    fs::create_directories(dir_ / "bin");
    e2e::WriteFile(dir_ / "bin" / "zenity", "#!/bin/sh\ntouch \"" + (dir_ / "zenity-ran.txt").string() + "\"\n");
    fs::permissions(dir_ / "bin" / "zenity", fs::perms::owner_all);
    // No session bus under Xvfb: GTK keeps its settings in memory.
    const e2e::RunResult r = UnderXvfb("PATH=" + (dir_ / "bin").string() +
                                       ":$PATH GSETTINGS_BACKEND=memory ASAN_OPTIONS=detect_leaks=0 " +
                                       QB_PLAYER_PATH + R"( -quiet & pid=$!
i=0
until { xdotool search --all --pid $pid --name 'Select Quenbrook applet' >ids.txt 2>/dev/null && [ -s ids.txt ]; } || [ $i -ge 300 ]; do i=$((i+1)); sleep 0.1; done
for id in $(cat ids.txt); do xdotool getwindowname $id; done >names.txt
kill -KILL $pid
wait $pid
exit 0
)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(e2e::ReadFile(dir_ / "names.txt").find("Select Quenbrook applet to run"), std::string::npos)
        << r.err << e2e::ReadFile(dir_ / "ids.txt");
    EXPECT_FALSE(fs::exists(dir_ / "zenity-ran.txt"));
}

// DisplayBrush(1, #CENTER, #CENTER) of a PNG brush, then the busy loop: the
// brush must stand in the window's centre, with layers off and on.
TEST_F(PlayerWindowTest, ABrushShownAtTheCentreStandsInTheWindowsCentreWithLayersOffAndOn) {
    for (bool layers : {false, true}) {
        SCOPED_TRACE(layers ? "layers on" : "layers off");
        const int w = 40, h = 20;
        std::vector<uint32_t> pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) pixels.push_back(x < w / 2 ? 0xFF0000 : 0x00FF00);
        const fs::path png = dir_ / "pic.png";
        ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), w, h, pixels, false, false));
        const std::string enable = layers ? "    GETGLOBAL 0 \"enablelayers\"\n    CALL 0 1 1\n" : "";
        const std::string busy = kBusyChunk;
        const std::string show = ".line 1\n" + enable + "    GETGLOBAL 0 \"loadbrush\"\n    LOADK 1 #1\n    LOADK 2 \"" +
                                 png.string() +
                                 "\"\n    CALL 0 3 1\n    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #1\n"
                                 "    LOADK 2 #-100000\n    LOADK 3 #-100000\n    CALL 0 4 1\n";
        std::string chunk = busy;
        chunk.replace(chunk.find(".line 1\n"), 8, show + ".line 2\n");
        fs::path applet = Pack(Chunk(chunk, "brush"), dir_ / "brush.qba", "--include brush.qbs:1:1000:0");
        const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                           R"( -quiet & pid=$!
await_window Quenbrook $pid
sleep 0.5
xwd -silent -name Quenbrook -out shot.xwd
kill -KILL $pid
wait $pid
exit 0
)");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::optional<WindowDump> shot = WindowDump::Read(dir_ / "shot.xwd");
        ASSERT_TRUE(shot.has_value()) << r.err << Waited();
        ASSERT_EQ(shot->width, 640u);
        EXPECT_EQ(shot->At(300, 230), 0xFF0000u);
        EXPECT_EQ(shot->At(319, 249), 0xFF0000u);
        EXPECT_EQ(shot->At(320, 230), 0x00FF00u);
        EXPECT_EQ(shot->At(339, 249), 0x00FF00u);
        EXPECT_EQ(shot->At(299, 240), 0u);
        EXPECT_EQ(shot->At(340, 240), 0u);
        EXPECT_EQ(shot->At(320, 229), 0u);
        EXPECT_EQ(shot->At(320, 250), 0u);
    }
}

// -fullscreen on a 1024x768 screen: one window of the screen's size shows
// the 320x400 display scaled to 614x768 between black bars.
TEST_F(PlayerWindowTest, AFullScreenIsOneScreenSizedWindowWithTheDisplayBetweenBars) {
    fs::path applet = Pack(Chunk(kBusyChunk, "busy"), dir_ / "busy.qba",
                           "--include busy.qbs:1:1000:0 --display-size 320:400 --display-color " +
                               std::to_string(kBackdrop));
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                       R"( -quiet -fullscreen & pid=$!
await_window Quenbrook $pid
sleep 1
xwininfo -root -tree | grep -c '"Quenbrook"' >count.txt
xwininfo -name Quenbrook >info.txt
xwd -silent -root -out shot.xwd
kill -KILL $pid
wait $pid
exit 0
)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "count.txt"), "1\n") << Waited();
    const std::string info = e2e::ReadFile(dir_ / "info.txt");
    EXPECT_NE(info.find("Width: 1024\n"), std::string::npos) << info << r.err;
    EXPECT_NE(info.find("Height: 768\n"), std::string::npos) << info;
    const std::optional<WindowDump> shot = WindowDump::Read(dir_ / "shot.xwd");
    ASSERT_TRUE(shot.has_value()) << r.err;
    ASSERT_EQ(shot->width, 1024u);
    for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{204u, 384u}, std::pair{819u, 384u}, std::pair{1023u, 767u}})
        EXPECT_EQ(shot->At(x, y), 0u) << x << "," << y;
    for (const auto& [x, y] : {std::pair{205u, 0u}, std::pair{512u, 384u}, std::pair{818u, 767u}})
        EXPECT_EQ(shot->At(x, y), kBackdrop) << x << "," << y;
}

// A grab of the screen shows another program's window where it stands.
// The grab runs in a copy of this test binary on the virtual screen, beside
// an xclock; it writes what it read at three places.
TEST_F(PlayerWindowTest, AGrabShowsAnotherProgramsWindowAtItsPlace) {
    if (!HaveTool("xclock")) GTEST_SKIP() << "xclock is not installed";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    // A clock that could not reach the server is started again.
    const e2e::RunResult r = UnderXvfb(R"(xclock -bg white -geometry 100x100+50+60 & clock=$!
i=0
until xwininfo -name xclock >/dev/null 2>&1 || [ $i -ge 400 ]; do
    kill -0 $clock 2>/dev/null || { xclock -bg white -geometry 100x100+50+60 & clock=$!; }
    i=$((i+1)); sleep 0.1
done
QB_GRAB_CHILD=1 )" + self + R"( --gtest_filter=GrabChild.* >child.txt 2>&1
status=$?
kill $clock
exit $status
)");
    EXPECT_EQ(r.status, 0) << e2e::ReadFile(dir_ / "child.txt") << r.err;
    EXPECT_NE(e2e::ReadFile(dir_ / "child.txt").find("[  PASSED  ] 1 test"), std::string::npos)
        << e2e::ReadFile(dir_ / "child.txt");
}

}  // namespace

// Run only by the test above, inside the virtual screen: the player's X
// window opens, and a grab of the screen's corner holds the clock's white
// face where the clock stands.
TEST(GrabChild, TheRootWindowIsRead) {
    if (!std::getenv("QB_GRAB_CHILD")) GTEST_SKIP() << "runs inside AGrabShowsAnotherProgramsWindowAtItsPlace";
    SetPlatformBackend(&LinuxPlatformOps());
    ASSERT_EQ(StartNativeUI(), 0);
    int display = 0;
    qbDisplay* d = reinterpret_cast<qbDisplay*>(&display);
    qbWindowView view;
    view.x = 600;
    view.y = 400;
    view.width = 64;
    view.height = 48;
    ASSERT_EQ(AllocNativeWindowRec(&view, d), 0);
    ASSERT_EQ(CreateNativeWindow(d, 1, nullptr, nullptr), 0);
    NativeBitmapPtr grab;
    const auto at = [&](int x, int y) {
        uint8_t rgb[3];
        ReadPixelRGB(grab->pixels.get() + y * grab->bytesPerRow + x * grab->bytesPerPixel, grab->pixelFormat, rgb);
        return (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    };
    // The clock's window exists before it has painted itself: on a busy
    // machine the grab is taken again until its face shows.
    for (int tries = 0; tries < 100; ++tries) {
        grab = GrabScreenRegion(d, 40, 50, 120, 120);
        ASSERT_NE(grab, nullptr);
        if (at(14, 14) == 0xFFFFFFu && at(105, 105) == 0xFFFFFFu) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Just inside the clock's top left corner, past its border.
    EXPECT_EQ(at(14, 14), 0xFFFFFFu);
    EXPECT_EQ(at(105, 105), 0xFFFFFFu);
    FreeNativeWindowRec(d);
    ShutdownPlatform();
    SetPlatformBackend(nullptr);
}

// An applet opens a second display on a BGPic whose alpha channel is opaque
// in the square (50, 50)-(149, 149) only: its window is cut to that square.
TEST_F(PlayerWindowTest, ADisplayOnAPictureWithAlphaOpensAWindowOfItsShape) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) pixels.push_back(x >= 50 && x < 150 && y >= 50 && y < 150 ? 0xFF00FF00 : 0);
    const fs::path png = dir_ / "shape.png";
    ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), 200, 200, pixels, true, false));
    const std::string open = ".line 1\n    GETGLOBAL 0 \"loadbgpic\"\n    LOADK 1 #2\n    LOADK 2 \"" + png.string() +
                             "\"\n    NEWTABLE 3 0 0\n    SETTABLE 3 \"loadalpha\" #1\n    CALL 0 4 1\n"
                             "    GETGLOBAL 0 \"createdisplay\"\n    LOADK 1 #2\n    NEWTABLE 2 0 0\n"
                             "    SETTABLE 2 \"bgpic\" #2\n    SETTABLE 2 \"title\" \"Shaped\"\n"
                             "    SETTABLE 2 \"borderless\" #1\n    CALL 0 3 1\n"
                             "    GETGLOBAL 0 \"opendisplay\"\n    LOADK 1 #2\n    CALL 0 2 1\n";
    std::string chunk = kBusyChunk;
    chunk.replace(chunk.find(".line 1\n"), 8, open + ".line 2\n");
    const fs::path applet = Pack(Chunk(chunk, "shaped"), dir_ / "shaped.qba", "--include shaped.qbs:1:1000:0");
    const e2e::RunResult r = UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                       R"( -quiet & pid=$!
await_window Shaped $pid
sleep 0.5
xwininfo -shape -name Shaped >shape.txt
xwininfo -shape -name Quenbrook >plain.txt
kill -KILL $pid
wait $pid
exit 0
)");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string shape = e2e::ReadFile(dir_ / "shape.txt");
    EXPECT_NE(shape.find("Window shape extents:  100x100+50+50"), std::string::npos) << shape << r.err << Waited();
    EXPECT_NE(e2e::ReadFile(dir_ / "plain.txt").find("No window shape defined"), std::string::npos);
}
