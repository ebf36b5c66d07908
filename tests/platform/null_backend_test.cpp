// The in-memory backend: window surfaces that tests read back, virtual
// monitors, scripted input reaching the event queue one event per pump,
// and requesters answering from a queue.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/preproc.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "queued_events.h"

namespace {

// Displays are only compared by address here.
int displayA, displayB;
qbDisplay* const kDisplayA = reinterpret_cast<qbDisplay*>(&displayA);
qbDisplay* const kDisplayB = reinterpret_cast<qbDisplay*>(&displayB);

class NullBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatformBackend(&NullPlatformOps());
        null_backend::Reset();
        ASSERT_EQ(InitEventQueue(), 0);
        ClearEventQueue(nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
    }
    void TearDown() override {
        ClearEventQueue(nullptr);
        null_backend::Reset();
        SetPlatformBackend(nullptr);
    }

    static std::vector<qbInputEvent> Queued() { return QueuedEvents(); }
};

TEST_F(NullBackendTest, WindowSurfacesTakeClippedFillsLinesAndPixels) {
    null_backend::SetWindowSize(kDisplayA, 5, 5);
    ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
    const null_backend::Surface& s = *null_backend::GetSurface(kDisplayA);
    EXPECT_EQ(s.width, 5);
    EXPECT_EQ(s.At(4, 4), 0xFF000000u);
    EXPECT_EQ(null_backend::GetSurface(kDisplayB), nullptr);
    FillWindowRect(kDisplayA, -2, 3, 4, 10, 0x123456);
    DrawWindowLine(kDisplayA, 4, 2, 2, 0, 0xFF0000);
    WriteWindowPixel(kDisplayA, 5, 0, 0x00FF00);
    WriteWindowPixel(kDisplayA, -1, 0, 0x00FF00);
    WriteWindowPixel(kDisplayA, 0, 0, 0x0000FF);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint32_t want = x < 2 && y >= 3 ? 0xFF123456u : (x - y == 2) ? 0xFFFF0000u
                                  : x == 0 && y == 0                   ? 0xFF0000FFu
                                                                       : 0xFF000000u;
            EXPECT_EQ(s.At(x, y), want) << x << "," << y;
        }
    FlushNativeWindow(kDisplayA);
    EXPECT_EQ(s.flushes, 1);
    CloseNativeWindow(kDisplayA);
    EXPECT_EQ(null_backend::GetSurface(kDisplayA), nullptr);
}

TEST_F(NullBackendTest, MenuItemsStartWithTheirTreesFlags) {
    ASSERT_EQ(AllocNativeWindowRec(nullptr, kDisplayA), 0);
    ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
    qbMenuItem item;
    item.flags = 1 | kMenuItemChecked;
    uint32_t flags = 0;
    ASSERT_EQ(GetNativeMenuItemState(kDisplayA, &item, &flags), 0);
    EXPECT_EQ(flags, uint32_t{kMenuItemChecked});
    ASSERT_EQ(SetNativeMenuItemState(kDisplayA, &item, kMenuItemDisabled, 0), 0);
    ASSERT_EQ(GetNativeMenuItemState(kDisplayA, &item, &flags), 0);
    EXPECT_EQ(flags, uint32_t{kMenuItemChecked | kMenuItemDisabled});
}

TEST_F(NullBackendTest, BlitCopiesFromAPlatformBitmapAndScales) {
    null_backend::SetWindowSize(kDisplayA, 6, 6);
    ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
    NativeBitmapPtr bitmap(AllocPlatformBitmap(2, 2));
    ASSERT_NE(bitmap, nullptr);
    auto* px = reinterpret_cast<uint32_t*>(bitmap->pixels.get());
    const int row = bitmap->bytesPerRow / 4;
    px[0] = 0x010101;
    px[1] = 0x020202;
    px[row] = 0x030303;
    px[row + 1] = 0x040404;
    BlitToWindow(bitmap.get(), 0, 0, kDisplayA, 1, 1, 2, 2, 4, 4, 0);
    const null_backend::Surface& s = *null_backend::GetSurface(kDisplayA);
    EXPECT_EQ(s.At(0, 0), 0xFF000000u);
    EXPECT_EQ(s.At(1, 1), 0xFF010101u);
    EXPECT_EQ(s.At(2, 2), 0xFF010101u);
    EXPECT_EQ(s.At(3, 1), 0xFF020202u);
    EXPECT_EQ(s.At(1, 4), 0xFF030303u);
    EXPECT_EQ(s.At(4, 4), 0xFF040404u);
    EXPECT_EQ(s.At(5, 5), 0xFF000000u);
}

// The display's image sits at the view's drawing offset; what falls left of
// or above the window is cut off.
TEST_F(NullBackendTest, WindowDrawingLandsAtTheDrawingOffset) {
    qbWindowView view;
    view.width = 6;
    view.height = 5;
    view.offsetX = 2;
    view.offsetY = 1;
    ASSERT_EQ(AllocNativeWindowRec(&view, kDisplayA), 0);
    ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
    FillWindowRect(kDisplayA, -2, -1, 2, 1, 0x111111);
    WriteWindowPixel(kDisplayA, 3, 3, 0x222222);
    WriteWindowPixel(kDisplayA, -3, 0, 0x999999);
    DrawWindowLine(kDisplayA, -2, 1, 0, 1, 0x333333);
    NativeBitmapPtr bitmap(AllocPlatformBitmap(1, 1));
    ASSERT_NE(bitmap, nullptr);
    *reinterpret_cast<uint32_t*>(bitmap->pixels.get()) = 0x444444;
    BlitToWindow(bitmap.get(), 0, 0, kDisplayA, 0, 0, 1, 1, 2, 1, 0);
    const null_backend::Surface& s = *null_backend::GetSurface(kDisplayA);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint32_t want = y == 0 && x < 2  ? 0x111111u
                                  : y == 4 && x == 5 ? 0x222222u
                                  : y == 2 && x < 3  ? 0x333333u
                                  : y == 1 && (x == 2 || x == 3) ? 0x444444u
                                                                  : 0u;
            EXPECT_EQ(s.At(x, y), want | 0xFF000000u) << x << "," << y;
        }
    FreeNativeWindowRec(kDisplayA);
}

// Window systems cap window sizes; a scaled blit far bigger than the window
// draws only what lands on it, in about the time that takes.
TEST_F(NullBackendTest, NoHugeSurfacesAndFarScaledBlitsDrawWhatLands) {
    null_backend::SetWindowSize(kDisplayB, INT32_MAX, 40);
    EXPECT_EQ(CreateNativeWindow(kDisplayB, 1, nullptr, nullptr), ERR_WINDOW);
    null_backend::SetWindowSize(kDisplayA, 4, 3);
    ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
    NativeBitmapPtr bitmap(AllocPlatformBitmap(1, 1));
    ASSERT_NE(bitmap, nullptr);
    *reinterpret_cast<uint32_t*>(bitmap->pixels.get()) = 0x0A0B0C;
    BlitToWindow(bitmap.get(), 0, 0, kDisplayA, -1, 0, 1, 1, INT32_MAX, INT32_MAX, 0);
    const null_backend::Surface& s = *null_backend::GetSurface(kDisplayA);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(s.At(x, y), 0xFF0A0B0Cu) << x << "," << y;
}

// Unscaled blits are clipped once per rectangle: narrow columns at odd
// places, cut by every edge of the window and of the source, land exactly
// where a pixel-by-pixel copy puts them.
TEST_F(NullBackendTest, UnscaledBlitsClipNarrowColumnsAtEveryEdge) {
    constexpr int kW = 9, kH = 7, kSrcW = 6, kSrcH = 5;
    NativeBitmapPtr bitmap(AllocPlatformBitmap(kSrcW, kSrcH));
    ASSERT_NE(bitmap, nullptr);
    const int row = bitmap->bytesPerRow / 4;
    auto* px = reinterpret_cast<uint32_t*>(bitmap->pixels.get());
    for (int y = 0; y < kSrcH; ++y)
        for (int x = 0; x < kSrcW; ++x) px[y * row + x] = static_cast<uint32_t>(0x010000 * (y + 1) + x + 1);
    struct Blit {
        int sx, sy, dx, dy, w, h;
    };
    const Blit blits[] = {{1, 0, 3, 1, 1, 5},   {0, 1, -1, 2, 2, 4},  {2, 2, 7, 5, 3, 4},  {4, 0, 8, -2, 3, 5},
                          {-1, 1, 0, 0, 2, 3},  {3, -2, 5, 0, 1, 4},  {5, 3, 1, 6, 2, 9},  {0, 0, -7, -5, 9, 9},
                          {2, 4, 4, 3, 3, 3}};
    for (const Blit& b : blits) {
        null_backend::Reset();
        null_backend::SetWindowSize(kDisplayA, kW, kH);
        ASSERT_EQ(CreateNativeWindow(kDisplayA, 1, nullptr, nullptr), 0);
        BlitToWindow(bitmap.get(), b.sx, b.sy, kDisplayA, b.dx, b.dy, b.w, b.h, 0, 0, 0);
        const null_backend::Surface& s = *null_backend::GetSurface(kDisplayA);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const int fx = x - b.dx + b.sx, fy = y - b.dy + b.sy;
                const bool inside = x >= b.dx && x < b.dx + b.w && y >= b.dy && y < b.dy + b.h && fx >= 0 &&
                                    fx < kSrcW && fy >= 0 && fy < kSrcH;
                EXPECT_EQ(s.At(x, y), (inside ? px[fy * row + fx] : 0u) | 0xFF000000u)
                    << b.sx << "," << b.sy << " to " << b.dx << "," << b.dy << ": " << x << "," << y;
            }
    }
}

TEST_F(NullBackendTest, MonitorsKeepTheConfiguredOrder) {
    null_backend::SetMonitors({{0, 0, 1024, 768}, {1024, 0, 800, 600}, {-800, 0, 1024, 768}});
    MonitorList list = ListNativeMonitors();
    std::vector<int> xs;
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get()) xs.push_back(m->x);
    EXPECT_EQ(xs, (std::vector<int>{0, 1024, -800}));
    EXPECT_EQ(list->next->width, 800);

    EXPECT_EQ(ListNativeDisplayModes(kDisplayA, nullptr), 2);
    qbDisplayModeEntry modes[2];
    ASSERT_EQ(ListNativeDisplayModes(kDisplayA, modes), 2);
    EXPECT_EQ(modes[0].width, 1024);
    EXPECT_EQ(modes[1].height, 600);

    null_backend::SetMonitors({});
    EXPECT_EQ(ListNativeMonitors(), nullptr);
}

TEST_F(NullBackendTest, EachPumpPostsOneScriptedEventInOrder) {
    null_backend::ScriptEvent({kDisplayA, kEventLeftButton, 10, 20, 1});
    null_backend::ScriptEvent({kDisplayB, kEventKey, 1, 'a', 0});
    int err = -1;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    EXPECT_EQ(err, 0);
    std::vector<qbInputEvent> events = Queued();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].display, kDisplayA);
    EXPECT_EQ(events[0].type, kEventLeftButton);
    EXPECT_EQ(events[0].y, 20);
    EXPECT_EQ(null_backend::PendingScriptedEvents(), 1u);

    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    events = Queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].display, kDisplayB);
    EXPECT_EQ(events[1].type, kEventKey);
    EXPECT_EQ(events[1].key[0], 'a');

    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    EXPECT_EQ(Queued().size(), 2u);
}

TEST_F(NullBackendTest, EmptyPumpWithin10msLooksAtNothing) {
    int64_t now = 1000;
    null_backend::SetClock([&now] { return now; });
    int err = 0;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    null_backend::ScriptEvent({kDisplayA, kEventKey, 1, 0, null_backend::kKeyEscape});
    now += 5;
    // Scripted events are the system's queue: not empty, so the pump runs.
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 1);
    // The quit request sticks, but an empty queue 9 ms later is not looked at.
    now += 9;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    now += 10;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 1);
}

TEST_F(NullBackendTest, QuitSwitchesDecideWhetherInputQuits) {
    int64_t now = 0;
    null_backend::SetClock([&now] { return now; });
    int err = 0;
    // Escape released, a right click, Ctrl-C and Escape with their switches
    // off: no quit.
    null_backend::ScriptEvent({kDisplayA, kEventKey, 0, 0, null_backend::kKeyEscape});
    null_backend::ScriptEvent({kDisplayA, kEventRightButton, 1, 1, 1});
    null_backend::ScriptEvent({kDisplayA, null_backend::kScriptedCtrlC, 0, 0, 0});
    null_backend::ScriptEvent({kDisplayA, kEventLeftButton, 1, 1, 1});
    SetQuitShortcut(nullptr, kQuitShortcutEscape, 1);
    for (int i = 0; i < 4; ++i) {
        now += 20;
        EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0) << i;
    }
    // Ctrl-C posts nothing, as the real key handler does.
    EXPECT_EQ(Queued().size(), 3u);

    SetQuitShortcut(nullptr, kQuitShortcutCtrlC, 1);
    null_backend::ScriptEvent({kDisplayA, null_backend::kScriptedCtrlC, 0, 0, 0});
    now += 20;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 1);
    EXPECT_EQ(err, 0);
}

TEST_F(NullBackendTest, CloseRequestQuitsOnlyWithoutACloseHandler) {
    int64_t now = 0;
    null_backend::SetClock([&now] { return now; });
    int err = 0;
    null_backend::SetCloseHandler(kDisplayA, true);
    null_backend::ScriptEvent({kDisplayA, kEventCloseRequest, 0, 0, 0});
    null_backend::ScriptEvent({kDisplayB, kEventCloseRequest, 0, 0, 0});
    now += 20;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 0);
    now += 20;
    EXPECT_EQ(PumpNativeEvents(nullptr, &err), 1);
    const std::vector<qbInputEvent> events = Queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, kEventCloseRequest);
    EXPECT_EQ(events[1].display, kDisplayB);
}

TEST_F(NullBackendTest, RequestersAnswerFromTheQueueAndLogEachCall) {
    null_backend::QueueRequesterAnswer({0, 2, {}, {}});
    null_backend::QueueRequesterAnswer({ERR_USERABORT, 0, "ignored", {}});
    null_backend::QueueRequesterAnswer({0, 0, "hello world", {}});
    null_backend::QueueRequesterAnswer({0, 2, "/tmp", std::string("a\0b\0", 4)});

    int result = -1;
    EXPECT_EQ(SystemRequesterNative("Title", "Body", "Yes|No|Cancel", 1, &result), 0);
    EXPECT_EQ(result, 2);

    char text[1024] = "stale";
    EXPECT_EQ(StringRequesterNative("S", "Say", nullptr, 0, 0, 0, text), ERR_USERABORT);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(StringRequesterNative("S2", "Say", nullptr, 0, 5, 0, text), 0);
    EXPECT_STREQ(text, "hello");

    qbFileRequestResult files;
    EXPECT_EQ(FileRequesterNative("Open", "#?", kReqMultiSelect, "", "", &files), 0);
    EXPECT_EQ(files.folder, "/tmp");
    EXPECT_EQ(files.count, 2);
    EXPECT_EQ(files.chosen, 1);

    // An empty queue answers like a requester that could not open.
    int32_t colour = 0;
    EXPECT_EQ(ColorRequesterNative(0xFF0000, &colour), ERR_WINDOW);
    EXPECT_EQ(colour, -1);

    const std::vector<null_backend::RequesterCall> log = null_backend::RequesterLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].operation, "SystemRequesterNative");
    EXPECT_EQ(log[0].body, "Body");
    EXPECT_EQ(log[4].operation, "ColorRequesterNative");
}

TEST_F(NullBackendTest, ClipboardReadsBackWhatWasWritten) {
    qbWindowView listening;
    listening.hasClipboardHandler = 1;
    qbWindowView deaf;
    ASSERT_EQ(AllocNativeWindowRec(&listening, kDisplayA), 0);
    ASSERT_EQ(AllocNativeWindowRec(&deaf, kDisplayB), 0);
    int type = -1;
    EXPECT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardEmpty);
    qbClipboardData written;
    written.text = "a\rb\xe9";
    EXPECT_EQ(WriteClipboard(kClipboardText, &written), 0);
    qbClipboardData read;
    EXPECT_EQ(ReadClipboardContents(&read, &type), 0);
    EXPECT_EQ(type, kClipboardText);
    EXPECT_EQ(read.text, "a\nb\xe9");
    // A record without a picture is refused; what was there stays.
    EXPECT_EQ(WriteClipboard(kClipboardImage, &written), ERR_CLIPWRITE);
    EXPECT_EQ(GetClipboardType(&type), 0);
    EXPECT_EQ(type, kClipboardText);
    EXPECT_EQ(EmptyClipboard(), 0);
    read.text = "stale";
    EXPECT_EQ(ReadClipboardContents(&read, &type), 0);
    EXPECT_EQ(type, kClipboardEmpty);
    EXPECT_EQ(read.text, "");
    // One notice for each write and the emptying, to the listener alone.
    const std::vector<qbInputEvent> events = Queued();
    ASSERT_EQ(events.size(), 2u);
    for (const qbInputEvent& e : events) {
        EXPECT_EQ(e.type, uint32_t{kEventClipboardChanged});
        EXPECT_EQ(e.display, kDisplayA);
    }
}

TEST_F(NullBackendTest, FoldersLieBelowAHomeOfItsOwn) {
    const std::string home = null_backend::TemporaryHome();
    ASSERT_FALSE(home.empty());
    ASSERT_NE(home, std::getenv("HOME") ? std::getenv("HOME") : "");
    auto folder = [](int index) {
        char buffer[1024] = "stale";
        EXPECT_EQ(GetSystemFolderPath(index, buffer, sizeof buffer), 0);
        return std::string(buffer);
    };
    EXPECT_EQ(folder(0), "/usr/bin");
    EXPECT_EQ(folder(1), home + "/.config");
    EXPECT_EQ(folder(2), home);
    EXPECT_EQ(folder(3), home);
    EXPECT_FALSE(folder(4).empty());
    EXPECT_EQ(folder(5), "/etc/xdg");
    EXPECT_EQ(folder(7), "");
    char prefs[1024];
    ASSERT_EQ(GetPrefsPath(prefs, sizeof prefs), 0);
    EXPECT_EQ(std::string(prefs), home + "/.config/MorvaleLumegrid/Quenbrook/Preferences");
    EXPECT_TRUE(std::filesystem::is_directory(prefs));
}

}  // namespace
