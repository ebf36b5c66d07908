// The display commands on the in-memory backend, with the window surfaces
// read back: titles, sizes, modes, monitors, showing and hiding, hidden
// displays, moving and the refusals of each command.
#include <utility>
#include <vector>

#include "adapter_install.h"
#include "displaylib_fixture.h"

namespace {

class DisplayLibTest : public DisplayLibWorld {
protected:
    // Display 1, opened as start-up opens it, and current.
    qbDisplay* OpenFirst(uint32_t colour = 0x204060) {
        EXPECT_EQ(Create(1, [&] {
                      Field("active", 1);
                      Field("color", static_cast<int32_t>(colour));
                  }),
                  0);
        EXPECT_EQ(StartDisplays(L_), 0);
        return Find(1);
    }

    static uint32_t Pixel(const qbDisplay* d, int x, int y) {
        const null_backend::Surface* s = null_backend::GetSurface(d);
        return s ? s->At(x, y) : 0;
    }
};

}  // namespace

TEST_F(DisplayLibTest, TheFirstDisplayShowsItsBackdropInItsWindow) {
    qbDisplay* d = OpenFirst(0x204060);
    ASSERT_NE(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(GetCurrentDisplay(), d);
    EXPECT_EQ(Pixel(d, 0, 0), 0xFF204060u);
    EXPECT_EQ(Pixel(d, 639, 479), 0xFF204060u);
}

TEST_F(DisplayLibTest, SetTitleTakes255CharactersAndRefuses256) {
    qbDisplay* d = OpenFirst();
    const std::string longest(255, 'a');
    VmPushString(L_, longest.c_str());
    ASSERT_EQ(Run("SetTitle", 1), 0);
    EXPECT_EQ(std::string(d->title), longest);
    EXPECT_EQ(std::string(d->view.title), longest);
    const std::string tooLong(256, 'b');
    VmPushString(L_, tooLong.c_str());
    EXPECT_EQ(Run("SetTitle", 1), ERR_WRONGUSAGE);
    EXPECT_EQ(std::string(d->title), longest);
}

TEST_F(DisplayLibTest, ChangingAttributesRefillsTheDisplaysOwnBackdrop) {
    qbDisplay* d = OpenFirst(0x000000);
    VmPushNewTable(L_);
    Field("color", 0xFF0000);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(Pixel(d, 10, 10), 0xFFFF0000u);
    VmPushNewTable(L_);
    Field("fillstyle", 7);
    EXPECT_EQ(Run("SetDisplayAttributes", 1), ERR_WRONGUSAGE);
}

TEST_F(DisplayLibTest, ChangeDisplaySizeRebuildsThePictureAndKeepsProportionsOnRequest) {
    qbDisplay* d = OpenFirst();
    ASSERT_EQ(RunNumbers("ChangeDisplaySize", {320, 100000}), 0);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 240);
    EXPECT_EQ(d->bgpic->currentWidth, 320);
    EXPECT_EQ(d->bgpic->currentHeight, 240);
    // Centred again on its monitor.
    EXPECT_EQ(d->x, (1920 - 320) / 2);
    VmPushString(L_, "50%");
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("ChangeDisplaySize", 2), 0);
    EXPECT_EQ(d->width, 160);
    EXPECT_EQ(RunNumbers("ChangeDisplaySize", {100000, 100000}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("ChangeDisplaySize", {0, 10}), ERR_BADDIMENSIONS);
    EXPECT_EQ(d->width, 160);
}

TEST_F(DisplayLibTest, ChangeDisplayModeRefusals) {
    qbDisplay* d = OpenFirst();
    EXPECT_EQ(RunNumbers("ChangeDisplayMode", {DISPMODE_WINDOWED}), 0);
    EXPECT_EQ(RunNumbers("ChangeDisplayMode", {DISPMODE_ASK}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("ChangeDisplayMode", {DISPMODE_FULLSCREEN, 320, 200}), ERR_WRONGUSAGE);
    EXPECT_EQ(d->screen.mode, DISPMODE_WINDOWED);
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(RunNumbers("ChangeDisplayMode", {DISPMODE_WINDOWED}), ERR_CLOSEDDISPLAY);
}

TEST_F(DisplayLibTest, MonitorsAndTheirModes) {
    null_backend::SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {3200, 0, 800, 600}});
    EXPECT_EQ(RunNumbers("GetDisplayModes", {0}), ERR_MONITORRANGE);
    EXPECT_EQ(RunNumbers("GetDisplayModes", {4}), ERR_MONITORRANGE);
    VmSetTop(L_, 0);
    ASSERT_EQ(Run("GetDisplayModes", 0, 1), 0);
    std::vector<int> widths, heights;
    for (int i = 0;; ++i) {
        VmRawGetIndex(L_, 1, i);
        if (VmType(L_, -1) == kTypeNil) break;
        int32_t w = 0, h = -1;
        GetTableFieldInt(L_, -1, "width", &w, nullptr);
        GetTableFieldInt(L_, -1, "height", &h, nullptr);
        widths.push_back(w);
        heights.push_back(h);
        VmSetTop(L_, -2);
    }
    EXPECT_EQ(widths, (std::vector<int>{800, 1280, 1920}));
    EXPECT_EQ(heights, (std::vector<int>{600, 1024, 1080}));
    VmSetTop(L_, 0);
    ASSERT_EQ(Run("GetMonitors", 0, 1), 0);
    VmRawGetIndex(L_, 1, 1);
    int32_t x = 0, height = 0;
    GetTableFieldInt(L_, -1, "x", &x, nullptr);
    GetTableFieldInt(L_, -1, "height", &height, nullptr);
    EXPECT_EQ(x, 1920);
    EXPECT_EQ(height, 1024);
    VmRawGetIndex(L_, 1, 3);
    EXPECT_EQ(VmType(L_, -1), kTypeNil);

    // Each monitor its own modes: the first by default, the one asked for,
    // with no display as with one.
    null_backend::SetDisplayModes(0, {{1024, 768, 60}});
    null_backend::SetDisplayModes(1, {{1280, 1024, 60}, {800, 600, 60}});
    null_backend::SetDisplayModes(2, {{640, 480, 60}});
    auto modeWidths = [&](std::initializer_list<double> args) {
        VmSetTop(L_, 0);
        for (double a : args) VmPushNumber(L_, a);
        std::vector<int> out;
        if (Run("GetDisplayModes", static_cast<int>(args.size()), 1) != 0) return out;
        for (int i = 0;; ++i) {
            VmRawGetIndex(L_, 1, i);
            if (VmType(L_, -1) == kTypeNil) break;
            int32_t w = 0;
            GetTableFieldInt(L_, -1, "width", &w, nullptr);
            out.push_back(w);
            VmSetTop(L_, -2);
        }
        VmSetTop(L_, 0);
        return out;
    };
    EXPECT_EQ(modeWidths({}), (std::vector<int>{1024}));
    EXPECT_EQ(modeWidths({2}), (std::vector<int>{800, 1280}));
    EXPECT_EQ(modeWidths({3}), (std::vector<int>{640}));
    OpenFirst();
    EXPECT_EQ(modeWidths({}), (std::vector<int>{1024}));
    EXPECT_EQ(modeWidths({2}), (std::vector<int>{800, 1280}));
    EXPECT_EQ(modeWidths({3}), (std::vector<int>{640}));
}

TEST_F(DisplayLibTest, HideAndShowFollowTheDisplayState) {
    qbDisplay* d = OpenFirst();
    EXPECT_EQ(Run("ShowDisplay", 0), ERR_WRONGUSAGE);
    ASSERT_EQ(Run("HideDisplay", 0), 0);
    EXPECT_EQ(d->state, DISPSTATE_MINIMIZED);
    EXPECT_FALSE(null_backend::GetSurface(d)->visible);
    EXPECT_EQ(Run("HideDisplay", 0), ERR_WRONGUSAGE);
    ASSERT_EQ(Run("ShowDisplay", 0), 0);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_TRUE(null_backend::GetSurface(d)->visible);
}

TEST_F(DisplayLibTest, AHiddenDisplayOpensOnlyWhenAsked) {
    OpenFirst();
    ASSERT_EQ(Create(2, [&] {
                  Field("hidden", 1);
                  Field("width", 100);
                  Field("height", 50);
                  Field("color", 0x00FF00);
              }),
              0);
    qbDisplay* d = Find(2);
    EXPECT_EQ(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(RunNumbers("ActivateDisplay", {2}), ERR_CLOSEDDISPLAY);
    EXPECT_EQ(RunNumbers("CloseDisplay", {2}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("OpenDisplay", {2, 1}), 0);  // noselect
    EXPECT_EQ(null_backend::GetSurface(d)->width, 100);
    EXPECT_EQ(GetCurrentDisplay(), Find(1));
    EXPECT_EQ(Pixel(d, 99, 49), 0xFF00FF00u);
    EXPECT_EQ(RunNumbers("OpenDisplay", {2}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("SelectDisplay", {2}), 0);
    EXPECT_EQ(GetCurrentDisplay(), d);
    EXPECT_EQ(RunNumbers("FreeDisplay", {2}), ERR_FREEADISPLAY);
    ASSERT_EQ(RunNumbers("SelectDisplay", {1}), 0);
    ASSERT_EQ(RunNumbers("FreeDisplay", {2}), 0);
    EXPECT_EQ(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(RunNumbers("FreeDisplay", {2}), ERR_FINDDISPLAY);
}

TEST_F(DisplayLibTest, MoveDisplayResolvesPositionConstantsOnItsMonitor) {
    qbDisplay* d = OpenFirst();
    ASSERT_EQ(RunNumbers("MoveDisplay", {-100000 + 10, -60000}), 0);
    EXPECT_EQ(d->x, (1920 - 640) / 2 + 10);
    EXPECT_EQ(d->y, 1080 - 480);
    EXPECT_EQ(d->view.x, d->x);
    ASSERT_EQ(RunNumbers("MoveDisplay", {7, 8}), 0);
    EXPECT_EQ(d->x, 7);
    EXPECT_EQ(d->y, 8);
    // Numbers beyond 32 bits clamp instead of wrapping.
    ASSERT_EQ(RunNumbers("MoveDisplay", {1e12, -1e12}), 0);
    EXPECT_EQ(d->x, INT32_MAX);
    EXPECT_EQ(d->y, INT32_MIN);
}

TEST_F(DisplayLibTest, ANewPictureReplacesTheDisplaysOwn) {
    qbDisplay* d = OpenFirst(0x000000);
    BitmapPtr red(AllocBitmap(100, 80, 0, nullptr));
    ASSERT_TRUE(red);
    FillBitmapRect(red.get(), 0, 0, 100, 80, 0xFF0000);
    qbBGPic* picture = nullptr;
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{7, 0}, 0, 100, 80, 100, nullptr, red.get(), nullptr, kNoKeyColour, nullptr,
                               nullptr, nullptr, &picture),
              0);
    (void)red.release();
    VmPushNewTable(L_);
    Field("bgpic", 7);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(d->bgpic, picture);
    EXPECT_EQ(d->ownsBGPic, 0);
    EXPECT_EQ(d->width, 100);
    EXPECT_EQ(d->height, 80);
    // The display's own picture went; the new one is shown in the window.
    EXPECT_EQ(CountBGPics(), 1);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 100);
    EXPECT_EQ(Pixel(d, 99, 79), 0xFFFF0000u);
    EXPECT_EQ(Create(3, [&] { Field("bgpic", 7); }), ERR_MULTIBGPIC);
}

namespace {

int activations = 0;

}  // namespace

// Selecting a display brings its window forward, unless asked to keep the
// windows as they are.
TEST_F(DisplayLibTest, SelectDisplayRaisesItsWindowUnlessAskedNotTo) {
    OpenFirst();
    ASSERT_EQ(Create(2, [&] {
                  Field("hidden", 1);
                  Field("width", 100);
                  Field("height", 50);
              }),
              0);
    ASSERT_EQ(RunNumbers("OpenDisplay", {2, 1}), 0);  // noselect
    static qbPlatformOps ops;
    ops = NullPlatformOps();
    ops.ActivateNativeWindow = [](qbDisplay*) { ++activations; };
    SetPlatformBackend(&ops);
    activations = 0;
    EXPECT_EQ(RunNumbers("SelectDisplay", {2, 1}), 0);
    EXPECT_EQ(GetCurrentDisplay(), Find(2));
    EXPECT_EQ(activations, 0);
    EXPECT_EQ(RunNumbers("SelectDisplay", {1}), 0);
    EXPECT_EQ(GetCurrentDisplay(), Find(1));
    EXPECT_EQ(activations, 1);
    SetPlatformBackend(nullptr);
}

namespace {

// A display adapter that lists the monitor and modes the test sets, and
// counts its mode lists asked and given back.
std::vector<qbAdapterMode> adapterModes;
int modeListsAsked = 0;
int modeListsFreed = 0;
int modeListRefusal = 0;

qbDisplayAdapterSlots ModeListingSlots() {
    qbDisplayAdapterSlots s;
    s.GetMonitorInfo = [](int what, int, void** out, void*) {
        static const qbAdapterMonitor kMonitors[] = {{0, 0, 1600, 900}, {0, 0, 0, 0}};
        static std::vector<qbAdapterMode> listed;
        if (what == 0) {  // the monitors; 1: the modes
            *out = const_cast<qbAdapterMonitor*>(kMonitors);
            return 0;
        }
        ++modeListsAsked;
        if (modeListRefusal) return modeListRefusal;
        listed = adapterModes;
        listed.push_back({0, 0});
        *out = listed.data();
        return 0;
    };
    s.FreeMonitorInfo = [](int what, void*) { modeListsFreed += what == 1; };
    return s;
}

}  // namespace

// An adapter's modes come back sorted by width, then height, each with its
// size; the adapter is asked once for the count and once for the list, and
// once only when it has none.
TEST_F(DisplayLibTest, AnAdaptersModesAreSortedAndAnEmptyListIsAskedOnce) {
    static const qbDisplayAdapterSlots slots = ModeListingSlots();
    qbPlugin plugin;
    plugin.name = "modes";
    ASSERT_EQ(InstallTestAdapter(&plugin, const_cast<qbDisplayAdapterSlots*>(&slots), kAdapterMonitors), 0);
    auto sizes = [&] {
        std::vector<std::pair<int, int>> out;
        VmSetTop(L_, 0);
        const int err = Run("GetDisplayModes", 0, 1);
        for (int i = 0; err == 0; ++i) {
            VmRawGetIndex(L_, 1, i);
            if (VmType(L_, -1) == kTypeNil) break;
            int32_t w = -1, h = -1;
            GetTableFieldInt(L_, -1, "width", &w, nullptr);
            GetTableFieldInt(L_, -1, "height", &h, nullptr);
            out.emplace_back(w, h);
            VmSetTop(L_, -2);
        }
        VmSetTop(L_, 0);
        return std::make_pair(err, out);
    };
    modeListsAsked = modeListsFreed = modeListRefusal = 0;
    adapterModes = {{1280, 1024}, {800, 600}, {1280, 720}, {800, 480}, {1600, 900}};
    auto [err, listed] = sizes();
    ASSERT_EQ(err, 0);
    EXPECT_EQ(listed, (std::vector<std::pair<int, int>>{{800, 480}, {800, 600}, {1280, 720}, {1280, 1024}, {1600, 900}}));
    EXPECT_EQ(modeListsAsked, 2);
    EXPECT_EQ(modeListsFreed, 2);

    modeListsAsked = modeListsFreed = 0;
    adapterModes.clear();
    EXPECT_EQ(sizes().first, ERR_NODISPMODES);
    EXPECT_EQ(modeListsAsked, 1);
    EXPECT_EQ(modeListsFreed, 1);

    // A list the adapter refuses is no list, and nothing to give back.
    modeListsAsked = modeListsFreed = 0;
    adapterModes = {{640, 480}};
    modeListRefusal = ERR_WRONGUSAGE;
    EXPECT_EQ(sizes().first, ERR_NODISPMODES);
    EXPECT_EQ(modeListsAsked, 1);
    EXPECT_EQ(modeListsFreed, 0);
}

// OpenDisplay's table: "x" and "y" each place the window on its own axis
// and only when given, "monitor" centres it on that monitor, "noselect"
// keeps the current display and the screen-mode keys are checked.
TEST_F(DisplayLibTest, OpenDisplayTakesEachFieldOfItsTable) {
    null_backend::SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    qbDisplay* first = OpenFirst();
    ASSERT_EQ(Create(2, [&] {
                  Field("hidden", 1);
                  Field("width", 100);
                  Field("height", 50);
              }),
              0);
    qbDisplay* d = Find(2);
    auto open = [&](auto fill) {
        VmPushNumber(L_, 2);
        VmPushNewTable(L_);
        fill();
        const int err = Run("OpenDisplay", 2);
        VmSetTop(L_, 0);
        return err;
    };
    auto place = [&] {
        const null_backend::Surface* s = null_backend::GetSurface(d);
        return s ? std::make_pair(s->x, s->y) : std::make_pair(-1, -1);
    };
    ASSERT_EQ(open([&] {
                  Field("x", 37);
                  Field("y", 59);
                  Field("noselect", 1);
              }),
              0);
    EXPECT_EQ(place(), std::make_pair(37, 59));
    EXPECT_EQ(GetCurrentDisplay(), first);
    ASSERT_EQ(RunNumbers("CloseDisplay", {2}), 0);

    // One axis given: the other keeps its place.
    ASSERT_EQ(open([&] { Field("x", 11); }), 0);
    EXPECT_EQ(place(), std::make_pair(11, 59));
    EXPECT_EQ(GetCurrentDisplay(), d);
    ASSERT_EQ(RunNumbers("SelectDisplay", {1}), 0);
    ASSERT_EQ(RunNumbers("CloseDisplay", {2}), 0);
    ASSERT_EQ(open([&] { Field("y", 23); }), 0);
    EXPECT_EQ(place(), std::make_pair(11, 23));
    ASSERT_EQ(RunNumbers("SelectDisplay", {1}), 0);
    ASSERT_EQ(RunNumbers("CloseDisplay", {2}), 0);

    // Another monitor: centred on it.
    ASSERT_EQ(open([&] { Field("monitor", 2); }), 0);
    EXPECT_EQ(place(), std::make_pair(1920 + (1280 - 100) / 2, (1024 - 50) / 2));
    EXPECT_EQ(d->monitor, 1);
    ASSERT_EQ(RunNumbers("SelectDisplay", {1}), 0);
    ASSERT_EQ(RunNumbers("CloseDisplay", {2}), 0);

    EXPECT_EQ(open([&] { Field("monitor", 3); }), ERR_MONITORRANGE);
    EXPECT_EQ(open([&] { Field("mode", "bogus"); }), ERR_WRONGUSAGE);
    EXPECT_EQ(null_backend::GetSurface(d), nullptr);
}
