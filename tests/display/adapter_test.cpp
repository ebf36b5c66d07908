// The display adapter: installing it with its refusals, every window wrapper
// reaching the backend without one, draw hooks, and the events and queries
// that plugins send.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/plugin.h"
#include "core/runstate.h"
#include "display/displayhooks.h"
#include "display/displayscaling.h"
#include "display_fixture.h"

namespace {

std::vector<std::string> calls;

template <class... A>
void Log(const char* name, A... args) {
    std::string line = name;
    // Appended piece by piece: g++ -O3 takes " " + a temporary for an
    // overlapping copy.
    ((line += ' ', line += std::to_string(args)), ...);
    calls.push_back(line);
}

void* const kHandle = reinterpret_cast<void*>(0x1234);
int pointerToken = 0;

// Installing reads no slot: the cases that call the slots run through the
// logging adapter plugin (tests/plugins/adapterplugin_test.cpp).
const qbDisplayAdapterSlots kFakeSlots{};

qbPlugin FakeAdapter() {
    qbPlugin p;
    p.name = "fake";
    p.capabilities = PLUGINCAPS_DISPLAYADAPTER | PLUGINCAPS_REQUESTERADAPTER;
    p.displaySlots = &kFakeSlots;
    return p;
}

class AdapterTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        calls.clear();
    }
    int Install(qbPlugin& plugin, uint32_t flags, const qbAdapterTag* tags = nullptr) {
        SetAdapterWindowOpen(true);
        const int err = SetDisplayAdapter(&plugin, flags, tags);
        SetAdapterWindowOpen(false);
        return err;
    }
    // Drops the calls made while setting a display up.
    std::vector<std::string> Take() { return std::exchange(calls, {}); }
};

// The backend operations the wrappers reach, each logged by name.
qbPlatformOps RecordingOps() {
    qbPlatformOps ops = NullPlatformOps();
    ops.MeasureWindowBorders = [](qbDisplay* d) {
        Log("MeasureWindowBorders");
        d->view.borderLeft = 2;
        d->view.borderWidth = 4;
        d->view.borderTop = 20;
        d->view.borderHeight = 22;
        return 0;
    };
    ops.SetNativeWindowBounds = [](qbDisplay*) { Log("SetNativeWindowBounds"); };
    ops.CollapseNativeWindow = [](qbDisplay*, int m) { Log("CollapseNativeWindow", m); return 0; };
    ops.SetNativeWindowTitle = [](qbDisplay* d) { calls.push_back(std::string("SetNativeWindowTitle ") + d->view.title); };
    ops.ActivateNativeWindow = [](qbDisplay*) { Log("ActivateNativeWindow"); };
    ops.FreeNativePointer = [](qbNativePointer*) { Log("FreeNativePointer"); };
    ops.ShowWindowPointer = [](qbDisplay*) { Log("ShowWindowPointer"); };
    ops.HideWindowPointer = [](qbDisplay*) { Log("HideWindowPointer"); };
    ops.MoveNativePointer = [](qbDisplay*, int x, int y) { Log("MoveNativePointer", x, y); };
    ops.GetKeyQualifiers = [] { Log("GetKeyQualifiers"); return 7u; };
    ops.FillWindowRect = [](qbDisplay*, int x, int y, int w, int h, uint32_t c) { Log("FillWindowRect", x, y, w, h, c); };
    ops.WriteWindowPixel = [](qbDisplay*, int x, int y, uint32_t c) { Log("WriteWindowPixel", x, y, c); };
    ops.DrawWindowLine = [](qbDisplay*, int a, int b, int c, int d, uint32_t col) { Log("DrawWindowLine", a, b, c, d, col); };
    ops.ListNativeMonitors = [] {
        Log("ListNativeMonitors");
        return MonitorList(std::make_unique<qbMonitorEntry>());
    };
    ops.ListNativeDisplayModes = [](qbDisplay*, qbDisplayModeEntry*) { Log("ListNativeDisplayModes"); return 3; };
    ops.GrabScreenRegion = [](qbDisplay*, int, int, int, int) {
        Log("GrabScreenRegion");
        return NativeBitmapPtr(AllocNativeBitmap(2, 2));
    };
    ops.BlitToWindow = [](const qbNativeBitmap*, int sx, int sy, qbDisplay*, int dx, int dy, int w, int h, int sw, int sh,
                          uint32_t) { Log("BlitToWindow", sx, sy, dx, dy, w, h, sw, sh); };
    return ops;
}

int hookOrder = 0;
std::vector<std::string> hookLog;

int LoggingHook(qbDisplayHook* hook, int kind, const void*, void* user) {
    std::string line = static_cast<const char*>(user);
    line += ' ';
    line += std::to_string(kind);
    hookLog.push_back(line);
    (void)hook;
    ++hookOrder;
    return 0;
}

int SizeLoggingHook(qbDisplayHook*, int kind, const void* info, void*) {
    if (kind == kDrawHookResize) {
        const auto* size = static_cast<const qbHookSizeInfo*>(info);
        Log("resize", size->width, size->height);
    }
    return 0;
}

int SelfRemovingHook(qbDisplayHook* hook, int kind, const void* info, void* user) {
    LoggingHook(hook, kind, info, user);
    RemoveDisplayHook(hook);
    return 0;
}

}  // namespace

TEST_F(AdapterTest, InstallIsRefusedOutsideStartUpWithoutTheCapabilityAndForMarshalledPlugins) {
    qbPlugin plugin = FakeAdapter();
    EXPECT_EQ(SetDisplayAdapter(&plugin, 0, nullptr), ERR_SETADAPTER);
    EXPECT_EQ(Text(ERR_SETADAPTER), "Cannot set adapter!");
    qbPlugin noCaps = FakeAdapter();
    noCaps.capabilities = PLUGINCAPS_IMAGE;
    EXPECT_EQ(Install(noCaps, 0), ERR_WRONGUSAGE);
    qbPlugin marshalled = FakeAdapter();
    marshalled.callingMode = kPluginCallMarshalled;
    EXPECT_EQ(Install(marshalled, 0), ERR_SETADAPTER);
    EXPECT_FALSE(HasDisplayAdapter());
}

TEST_F(AdapterTest, ASecondAdapterReplacesTheFirstUnlessItMayNotBeReplaced) {
    qbPlugin first = FakeAdapter();
    qbPlugin second = FakeAdapter();
    const qbAdapterTag tags[] = {{kAdapterTagPixelFormat, 11}, {kAdapterTagDrawFlags, 9}, {kAdapterTagFeatures, 3}, {0, 0}};
    ASSERT_EQ(Install(first, 0, tags), 0);
    EXPECT_EQ(DisplayAdapter().pixelFormat, 11);
    EXPECT_EQ(DisplayAdapter().drawFlags, 9u);
    EXPECT_EQ(first.displayAdapterFeatures, 3u);
    ASSERT_EQ(Install(second, kAdapterNoReplace), 0);
    EXPECT_EQ(DisplayAdapter().plugin, &second);
    EXPECT_EQ(DisplayAdapter().pixelFormat, 10);
    EXPECT_EQ(Install(first, 0), ERR_SETADAPTER);
    EXPECT_EQ(DisplayAdapter().plugin, &second);
}

TEST_F(AdapterTest, WithoutAnAdapterEveryWrapperReachesTheBackend) {
    const qbPlatformOps ops = RecordingOps();
    SetPlatformBackend(&ops);
    qbDisplay* d = MakeOpen(1, 8, 8);
    Take();
    DetermineDisplayBorders(d);
    EXPECT_EQ(d->borderWidth, 4);
    EXPECT_EQ(d->borderHeight, 22);
    std::strcpy(d->title, "Other");
    SizeMoveDisplayWindow(d);
    MoveDisplayWindow(d);
    ShowHideDisplayWindow(d, true);
    UpdateDisplayTitle(d);
    ActivateDisplayWindow(d, true);
    FreeDisplayPointer(nullptr);
    SetDisplayPointer(d, nullptr, 2);
    ShowHideDisplayPointer(d, false);
    MoveDisplayPointer(d, 3, 4);
    EXPECT_EQ(GetDisplayQualifiers(d), 7u);
    FillDisplayRect(d, 1, 2, 3, 4, 0xABCDEF);
    PlotDisplayPixel(d, 5, 6, 0x123456);
    DrawDisplayLine(d, 1, 2, 3, 4, 0x654321);
    EXPECT_EQ(CountMonitors(d), 1);
    EXPECT_EQ(GetDisplayModeList(d, nullptr), 3);
    BitmapPtr grab(GrabDisplayScreen(d, 0, 0, 2, 2));
    EXPECT_NE(grab, nullptr);
    EXPECT_EQ(WakeDisplayAdapter(), 0);
    ClearAdapterDisplay(d, 0);  // adapter only: nothing reaches the backend
    const std::vector<std::string> expected = {
        "MeasureWindowBorders", "SetNativeWindowBounds", "SetNativeWindowBounds", "CollapseNativeWindow 1",
        "SetNativeWindowTitle Other", "ActivateNativeWindow", "FreeNativePointer", "ShowWindowPointer",
        "HideWindowPointer", "MoveNativePointer 3 4", "GetKeyQualifiers", "FillWindowRect 1 2 3 4 11259375",
        "WriteWindowPixel 5 6 1193046", "DrawWindowLine 1 2 3 4 6636321", "ListNativeMonitors",
        "ListNativeDisplayModes", "GrabScreenRegion"};
    EXPECT_EQ(Take(), expected);
    SetPlatformBackend(nullptr);
}

TEST_F(AdapterTest, AHookThatRemovesItselfDoesNotStopTheOthers) {
    qbDisplay* d = Make(3);
    hookLog.clear();
    static char a[] = "a", b[] = "b", c[] = "c";
    ASSERT_NE(AddDisplayHook(ObjectID{3, nullptr}, &LoggingHook, a, nullptr, 0), nullptr);
    ASSERT_NE(AddDisplayHook(ObjectID{3, nullptr}, &SelfRemovingHook, b, nullptr, 0), nullptr);
    ASSERT_NE(AddDisplayHook(ObjectID{3, nullptr}, &LoggingHook, c, nullptr, 0), nullptr);
    NotifyDisplayResized(d, 10, 20);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"a 4", "b 4", "c 4"}));
    hookLog.clear();
    NotifyDisplayResized(d, 10, 20);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"a 4", "c 4"}));
}

TEST_F(AdapterTest, HooksAreRefusedWhereTheyCouldNotMirrorTheDisplay) {
    static char name[] = "h";
    EXPECT_EQ(AddDisplayHook(ObjectID{9, nullptr}, &LoggingHook, name, nullptr, 0), nullptr);
    qbDisplay* d = Make(1);
    EXPECT_EQ(AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, nullptr, 1), nullptr);
    d->bgpic->keyColour = 0;
    EXPECT_EQ(AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, nullptr, 0), nullptr);
    d->bgpic->keyColour = -1;
    d->hardDoubleBuffer = 1;
    EXPECT_EQ(AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, nullptr, 0), nullptr);
    d->hardDoubleBuffer = 0;
    qbAdapterTag tags[] = {{kHookTagWidth, 0}, {kHookTagHeight, 0}, {kHookTagExtra, 42}, {0, 0}};
    qbDisplayHook* hook = AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, tags, 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(tags[0].value, 640);
    EXPECT_EQ(tags[1].value, 480);
    EXPECT_EQ(hook->extra, 42);
}

TEST_F(AdapterTest, AdapterEventsPostButtonsWheelKeysAndClose) {
    ASSERT_EQ(InitEventQueue(), 0);
    qbDisplay* d = Make(1);
    static char name[] = "h";
    qbDisplayHook* hook = AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    const int32_t left[3] = {10, 20, 1};
    const int32_t right[3] = {11, 21, 1};
    const int32_t middle[3] = {12, 22, 0};
    const int32_t wheel[3] = {13, 23, 1};
    const int32_t key[3] = {65, 1, 0x8};
    const int32_t badKeys[2][3] = {{300, 1, 0}, {-1, 1, 0}};
    const int32_t close[3] = {1, 2, 0};
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventLeftButton, left), 0);
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventRightButton, right), 0);
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventMiddleButton, middle), 0);
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventWheel, wheel), 0);
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventKey, key), 0);
    for (const auto& bad : badKeys) ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventKey, bad), 0);
    ASSERT_EQ(PostAdapterDisplayEvent(hook, kAdapterEventClose, close), 0);
    EXPECT_EQ(PostAdapterDisplayEvent(hook, 6, close), ERR_WRONGUSAGE);
    EXPECT_EQ(PostAdapterDisplayEvent(nullptr, kAdapterEventClose, close), ERR_FINDDISPLAY);

    EXPECT_EQ(d->lastButtonWord[0], 1);
    EXPECT_EQ(d->lastButtonWord[1], 1);
    EXPECT_EQ(d->lastButtonWord[2], 0);
    EXPECT_EQ(d->keyState[65], 1);
    EXPECT_EQ(d->lastQualifiers, 0u);
    EXPECT_EQ(d->closeRequested, 1);
    EXPECT_EQ(d->lastMouseX, 1);
    EXPECT_EQ(d->lastMouseY, 2);

    // Buttons: x, y and the pressed state; keys: pressed, qualifiers, code.
    struct Want {
        uint32_t type;
        int32_t a, b, c;
    };
    const Want want[] = {{kEventLeftButton, 10, 20, 1},  {kEventRightButton, 11, 21, 1},
                         {kEventMiddleButton, 12, 22, 0}, {kEventWheelDown, 0, 0, 0},
                         {kEventKey, 1, 8, 65},           {kEventKey, 1, 0, 300},
                         {kEventKey, 1, 0, -1}};
    LockEventQueue();
    for (int i = 0; i < 7; ++i) {
        qbInputEvent e;
        ASSERT_EQ(PeekQueuedEvent(nullptr, i, &e, 0), i + 1);
        EXPECT_EQ(e.type, want[i].type) << i;
        EXPECT_EQ(e.display, d);
        if (e.type == kEventKey) {
            EXPECT_EQ(e.state, want[i].a);
            EXPECT_EQ(e.key[0], want[i].b);
            EXPECT_EQ(e.key[1], want[i].c);
        } else if (e.type != kEventWheelDown) {
            EXPECT_EQ(e.x, want[i].a);
            EXPECT_EQ(e.y, want[i].b);
            EXPECT_EQ(e.state, want[i].c);
        }
    }
    UnlockEventQueue();
    ClearEventQueue(nullptr);
}

TEST_F(AdapterTest, AHookResizesItsDisplayInPlaceAndPostsTheSize) {
    ASSERT_EQ(InitEventQueue(), 0);
    qbDisplay* d = Make(1);
    d->x = 7;
    d->y = 9;
    static char name[] = "h";
    qbDisplayHook* hook = AddDisplayHook(ObjectID{1, nullptr}, &LoggingHook, name, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    ASSERT_EQ(ResizeDisplayOfHook(hook, 320, 200), 0);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 200);
    EXPECT_EQ(d->x, 7);
    EXPECT_EQ(d->y, 9);
    LockEventQueue();
    qbInputEvent e;
    ASSERT_EQ(PeekQueuedEvent(nullptr, 0, &e, 0), 1);
    EXPECT_EQ(e.type, uint32_t{kEventResized});
    UnlockEventQueue();
    ClearEventQueue(nullptr);
    EXPECT_EQ(ResizeDisplayOfHook(reinterpret_cast<qbDisplayHook*>(name), 10, 10), ERR_FINDDISPLAY);
}

TEST_F(AdapterTest, HooksHearEachChangeOfEitherSideAndNothingElse) {
    ASSERT_EQ(InitEventQueue(), 0);
    qbDisplayOptions o;
    o.width = 40;
    o.height = 30;
    qbDisplay* d = Make(1, o);
    qbDisplayHook* hook = AddDisplayHook(ObjectID{1, nullptr}, &SizeLoggingHook, nullptr, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    Take();
    ASSERT_EQ(ResizeDisplayOfHook(hook, 40, 35), 0);
    EXPECT_EQ(Take(), (std::vector<std::string>{"resize 40 35"}));
    ASSERT_EQ(ResizeDisplayOfHook(hook, 52, 35), 0);
    EXPECT_EQ(Take(), (std::vector<std::string>{"resize 52 35"}));
    ASSERT_EQ(ResizeDisplayOfHook(hook, 52, 35), 0);
    EXPECT_EQ(Take(), std::vector<std::string>{});
    // A quiet resize tells no hook.
    qbResizeRequest r;
    r.width = 20;
    r.height = 10;
    r.noWindow = true;
    r.quiet = true;
    ASSERT_EQ(ResizeDisplay(GetMainState(), d, r), 0);
    EXPECT_EQ(d->width, 20);
    EXPECT_EQ(d->height, 10);
    EXPECT_EQ(Take(), std::vector<std::string>{});
    ClearEventQueue(nullptr);
}

TEST_F(AdapterTest, PluginsReadDisplayAttributesByHandle) {
    qbDisplayOptions o;
    o.width = 30;
    o.height = 20;
    o.scaleWidth = 60;
    o.smoothScale = 1;
    qbDisplay* d = Make(1, o);
    d->adapterHandle = kHandle;
    qbAdapterTag tags[] = {{1, 0}, {4, 0}, {6, 0}, {8, 0}, {99, 0}, {0, 0}};
    EXPECT_EQ(GetAdapterDisplayAttrs(kHandle, tags), 4);
    EXPECT_EQ(tags[0].value, 30);
    EXPECT_EQ(tags[1].value, 20);
    EXPECT_EQ(tags[2].value, 60);
    EXPECT_EQ(tags[3].value, 1);
    EXPECT_EQ(GetAdapterDisplayAttrs(&pointerToken, tags), -1);
    EXPECT_EQ(RequestAdapterDisplayRefresh(&pointerToken), ERR_FINDDISPLAY);
    d->adapterHandle = nullptr;
}

// The mouse position of an open display comes from the window, of any other
// from where the mouse was last seen; each axis lands in its own place, and
// a caller may ask for one axis alone.
TEST_F(AdapterTest, TheMousePositionFillsEachAxisAskedForFromTheWindowOrTheLastSeen) {
    qbPlatformOps ops = RecordingOps();
    ops.GetNativeDisplayAttr = [](qbDisplay*, int attribute) -> intptr_t {
        return attribute == 6 ? 30 : attribute == 7 ? 41 : 0;
    };
    SetPlatformBackend(&ops);
    qbDisplay* d = MakeOpen(1, 8, 8);
    d->lastMouseX = 5;
    d->lastMouseY = 9;
    for (const int32_t state : {DISPSTATE_OPEN, DISPSTATE_MINIMIZED}) {
        d->state = state;
        const int32_t wantX = state == DISPSTATE_OPEN ? 30 : 5, wantY = state == DISPSTATE_OPEN ? 41 : 9;
        int32_t x = -1, y = -1;
        GetDisplayMousePos(d, &x, &y);
        EXPECT_EQ(x, wantX) << state;
        EXPECT_EQ(y, wantY) << state;
        x = y = -1;
        GetDisplayMousePos(d, &x, nullptr);
        EXPECT_EQ(x, wantX) << state;
        GetDisplayMousePos(d, nullptr, &y);
        EXPECT_EQ(y, wantY) << state;
    }
    d->state = DISPSTATE_OPEN;
    SetPlatformBackend(nullptr);
}
