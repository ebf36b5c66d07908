// Opening and closing a display's window: placement on its monitor, the
// position and size kept across a close, the regions a window gets, and
// the modes that cannot open yet.
#include "core/eventqueue.h"
#include "core/plugin.h"
#include "display/displayoptions.h"
#include "display/displaywindow.h"
#include "displaylib_fixture.h"

namespace {

using WindowTest = DisplayLibWorld;

// An adapter that remembers the tags of its last OpenDisplay and refuses
// closing while asked to.
std::vector<qbAdapterTag> openTags;
int closeAnswer = 0;
int handleSeed = 0;

void* AdapterOpen(const char*, int32_t, int32_t, int32_t, int32_t, uint32_t, const qbAdapterTag* tags) {
    openTags.clear();
    for (const qbAdapterTag* t = tags; t->tag; ++t) openTags.push_back(*t);
    return &handleSeed;
}

int AdapterClose(void*) { return closeAnswer; }

qbDisplayAdapterSlots AdapterSlots() {
    qbDisplayAdapterSlots s;
    s.OpenDisplay = &AdapterOpen;
    s.CloseDisplay = &AdapterClose;
    return s;
}

intptr_t TagValue(uint32_t tag) {
    for (const qbAdapterTag& t : openTags)
        if (t.tag == tag) return t.value;
    return -1;
}

}  // namespace

TEST_F(WindowTest, AnAdapterOpensTheWindowAndARefusedCloseKeepsItOpen) {
    static const qbDisplayAdapterSlots slots = AdapterSlots();
    qbPlugin plugin;
    plugin.name = "windows";
    plugin.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    plugin.displaySlots = &slots;
    SetAdapterWindowOpen(true);
    ASSERT_EQ(SetDisplayAdapter(&plugin, 0, nullptr), 0);
    SetAdapterWindowOpen(false);
    ASSERT_EQ(Create(1, [&] {
                  Field("active", 1);
                  Field("width", 200);
                  Field("height", 100);
                  Field("scalemode", 1);
                  Field("scalewidth", 400);
                  Field("scaleheight", 300);
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    EXPECT_EQ(d->adapterHandle, &handleSeed);
    EXPECT_EQ(TagValue(1), 200);  // the picture's size
    EXPECT_EQ(TagValue(2), 100);
    EXPECT_EQ(TagValue(6), 0);  // the monitor
    EXPECT_EQ(TagValue(7), -1);  // no screen size in a window
    EXPECT_EQ(TagValue(10), 400);
    EXPECT_EQ(TagValue(11), 300);
    closeAnswer = ERR_WINDOW;
    EXPECT_EQ(RunNumbers("CloseDisplay", {1}), ERR_WINDOW);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->adapterHandle, &handleSeed);
    closeAnswer = 0;
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(d->adapterHandle, nullptr);
    // Menus are the backend's; an adapter has none.
    VmPushNumber(L_, 1);
    VmPushString(L_, "x");
    EXPECT_EQ(Run("SelectMenuItem", 2), ERR_DISPLAYADAPTERSUPPORT);
}

TEST_F(WindowTest, ClosingAndOpeningAgainRestoresSizeAndPosition) {
    ASSERT_EQ(Create(1, [&] { Field("active", 1); }), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    EXPECT_EQ(d->x, (1920 - 640) / 2);
    EXPECT_EQ(d->y, (1080 - 480) / 2);
    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {320, 200}), 0);
    // The user drags the window; the backend writes where it went.
    d->view.x = 100;
    d->view.y = 50;
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(d->state, DISPSTATE_CLOSED);
    ASSERT_EQ(RunNumbers("OpenDisplay", {1}), 0);
    EXPECT_EQ(d->x, 100);
    EXPECT_EQ(d->y, 50);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 200);
    EXPECT_EQ(d->view.x, 100);
    EXPECT_NE(null_backend::GetSurface(d), nullptr);
}

TEST_F(WindowTest, ARestoreSizeResizesTheDisplayBeforeItOpens) {
    PicturesReady();
    ASSERT_EQ(Create(2, [&] {
                  Field("hidden", 1);
                  Field("width", 200);
                  Field("height", 100);
                  Field("__restorewidth", 300);
                  Field("__restoreheight", 150);
              }),
              0);
    ASSERT_EQ(InitEventQueue(), 0);
    qbDisplay* d = Find(2);
    EXPECT_EQ(d->state, DISPSTATE_CLOSED);
    ASSERT_EQ(RunNumbers("OpenDisplay", {2}), 0);
    EXPECT_EQ(d->width, 300);
    EXPECT_EQ(d->bgpic->currentHeight, 150);
    bool resized = false;
    qbInputEvent event;
    LockEventQueue();
    for (int n = 0; PeekQueuedEvent(L_, n, &event, 0); ++n)
        resized = resized || (event.type == kEventResized && event.display == d);
    UnlockEventQueue();
    ClearEventQueue(L_);
    EXPECT_TRUE(resized);
}

TEST_F(WindowTest, WindowsGetDefaultRegionsAndGivenOnesAreClamped) {
    ASSERT_EQ(Create(1, [&] {
                  Field("active", 1);
                  VmPushString(L_, "sizeregion");
                  VmPushNewTable(L_);
                  VmPushNewTable(L_);
                  Field("type", kRegionBox);
                  Field("x", 630);
                  Field("y", 470);
                  Field("width", 100);
                  Field("height", 100);
                  VmRawSetIndex(L_, -2, 0);
                  VmSetTableAt(L_, -3);
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    const qbDisplay* d = Find(1);
    ASSERT_EQ(d->view.dragRegions.size(), 1u);
    EXPECT_EQ(d->view.dragRegions[0].width, 640);
    EXPECT_EQ(d->view.dragRegions[0].height, 15);
    ASSERT_EQ(d->view.sizeRegions.size(), 1u);
    EXPECT_EQ(d->view.sizeRegions[0].x, 630);
    EXPECT_EQ(d->view.sizeRegions[0].width, 10);
    EXPECT_EQ(d->view.sizeRegions[0].height, 10);
}

TEST_F(WindowTest, AnAskingModeWithNobodyToAnswerAndAnAutoscaledDesktopDoNotOpen) {
    ASSERT_EQ(Create(2, [&] {
                  Field("hidden", 1);
                  Field("mode", "ask");
              }),
              0);
    // The requester that cannot be shown is the error, nothing waits.
    EXPECT_EQ(RunNumbers("OpenDisplay", {2}), ERR_WINDOW);
    EXPECT_EQ(Find(2)->state, DISPSTATE_CLOSED);
    ASSERT_EQ(Create(3, [&] {
                  Field("hidden", 1);
                  Field("desktop", 1);
                  Field("scalemode", 1);
              }),
              0);
    EXPECT_EQ(RunNumbers("OpenDisplay", {3}), ERR_DDAUTOSCALE);
}

TEST_F(WindowTest, TheWindowFollowsTheDisplaysSizeTitleAndPlace) {
    ASSERT_EQ(Create(1, [&] {
                  Field("active", 1);
                  Field("width", 320);
                  Field("height", 200);
                  Field("color", 0x0000FF);
                  Field("title", "Mine");
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    const null_backend::Surface* s = null_backend::GetSurface(d);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->width, 320);
    EXPECT_EQ(s->height, 200);
    EXPECT_EQ(s->title, "Mine");
    EXPECT_EQ(s->x, (1920 - 320) / 2);
    EXPECT_EQ(s->At(319, 199), 0xFF0000FFu);
    VmPushString(L_, "Renamed");
    ASSERT_EQ(Run("SetTitle", 1), 0);
    EXPECT_EQ(s->title, "Renamed");
    // A larger display gets a larger window, filled by its new backdrop.
    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {400, 300}), 0);
    s = null_backend::GetSurface(d);
    EXPECT_EQ(s->width, 400);
    EXPECT_EQ(s->height, 300);
    EXPECT_EQ(s->At(399, 299), 0xFF0000FFu);
    EXPECT_EQ(s->x, (1920 - 400) / 2);
}

TEST_F(WindowTest, ADisplayIsCentredOnItsOwnMonitorAndMovesWithIt) {
    null_backend::SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    ASSERT_EQ(Create(1, [&] { Field("active", 1); }), 0);
    ASSERT_EQ(Create(2, [&] { Field("monitor", 2); }), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    EXPECT_EQ(Find(2)->x, 1920 + (1280 - 640) / 2);
    EXPECT_EQ(Find(2)->y, (1024 - 480) / 2);
    EXPECT_EQ(Find(2)->relativeX, 0);
    VmPushNewTable(L_);
    Field("monitor", 2);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    qbDisplay* d = Find(1);
    EXPECT_EQ(d->x, 1920 + (1280 - 640) / 2);
    EXPECT_EQ(d->y, (1024 - 480) / 2);
    EXPECT_EQ(null_backend::GetSurface(d)->x, d->x);
    // Keeping the position keeps the desktop coordinate as it is.
    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {320, 240}), 0);
    ASSERT_EQ(RunNumbers("MoveDisplay", {10, 20}), 0);
    EXPECT_EQ(d->x, 1930);
    VmPushNumber(L_, 300);
    VmPushNumber(L_, 200);
    VmPushNewTable(L_);
    Field("x", 100000);
    Field("y", 100000);
    ASSERT_EQ(Run("ChangeDisplaySize", 3), 0);
    EXPECT_EQ(d->x, 1930);
    EXPECT_EQ(d->y, 20);
}

namespace {

// A plane of the given kind over the bytes, rowBytes a row.
qbBitmap Plane(int32_t kind, int32_t width, int32_t height, uint32_t rowBytes, std::vector<uint8_t>& bytes) {
    qbBitmap b;
    b.kind = kind;
    b.width = width;
    b.height = height;
    b.plane = std::make_unique<qbBitmapPlane>();
    b.plane->width = width;
    b.plane->height = height;
    b.plane->rowBytes = rowBytes;
    b.plane->data = bytes.data();
    b.plane->external = 1;
    return b;
}

TEST(WindowShape, TheMaskWinsOverTheAlphaAndBothScaleToTheDisplay) {
    qbDisplay d;
    d.width = 4;
    d.height = 2;
    std::vector<uint8_t> alphaBytes = {0, 1, 0, 0};  // 2 x 2: only (1, 0) shows
    std::vector<uint8_t> maskBytes = {0x80, 0x40};   // 2 x 2 bits: (0, 0) and (1, 1)
    const qbBitmap alpha = Plane(kBitmapKindAlpha, 2, 2, 2, alphaBytes);
    const qbBitmap mask = Plane(kBitmapKindMask, 2, 2, 1, maskBytes);
    EXPECT_TRUE(WindowShapePlane(&d, nullptr, nullptr).empty());
    EXPECT_EQ(WindowShapePlane(&d, nullptr, &alpha), (std::vector<uint8_t>{0, 0, 255, 255, 0, 0, 0, 0}));
    EXPECT_EQ(WindowShapePlane(&d, &mask, &alpha), (std::vector<uint8_t>{255, 255, 0, 0, 0, 0, 255, 255}));
}

}  // namespace
