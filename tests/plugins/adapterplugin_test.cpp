// The display adapter through a plugin built from qbplugin.h alone and
// loaded as the player loads one: every window wrapper reaches its slot,
// opacity is inverted for an adapter that counts it the other way, and
// closed displays get their draw hooks only, unless the adapter draws on
// them.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/plugin.h"
#include "core/preproc.h"
#include "core/runstate.h"
#include "display/displayhooks.h"
#include "display/display_fixture.h"
#include "plugins/pluginlist.h"
#include "plugins/plugins.h"

namespace {

namespace fs = std::filesystem;

static_assert(QBADAPTER_SLEEP == kAdapterSleep && QBADAPTER_VWAIT == kAdapterVWait &&
              QBADAPTER_MONITORS == kAdapterMonitors && QBADAPTER_GRAB == kAdapterGrab &&
              QBADAPTER_INVERTSALPHA == kAdapterInvertsAlpha && QBADAPTER_DRAWSUNOPENED == kAdapterDrawsUnopened &&
              QBADAPTER_NOREPLACE == kAdapterNoReplace && QBADAPTER_SCALESBLITS == kAdapterScalesBlits &&
              QBADAPTER_VIDEOBITMAPS == kAdapterVideoBitmaps && QBADAPTER_OWNSBITMAPS == kAdapterOwnsBitmaps);

std::vector<std::string> hookLog;

int LoggingHook(qbDisplayHook*, int kind, const void*, void* user) {
    std::string line = static_cast<const char*>(user);
    line += ' ';
    line += std::to_string(kind);
    hookLog.push_back(line);
    return 0;
}

class AdapterPluginTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        dir_ = fs::temp_directory_path() /
               ("qb_adapter_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "scan");
        ::setenv("QB_TEST_PLUGIN_LOG", (dir_ / "calls.log").c_str(), 1);
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / "logadapter.qbp", dir_ / "scan" / "logadapter.qbp");
        ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    }
    void TearDown() override {
        DisplayWorld::TearDown();
        FreePluginList();
        ::unsetenv("QB_TEST_PLUGIN_LOG");
        fs::remove_all(dir_);
    }
    // Requires the plugin as start-up does, with the install flags as the
    // tag "flags"; the plugin's answer to its install must be 0.
    int Require(uint32_t flags) {
        std::vector<qbRequireTag> tags(1);
        tags[0].key = "flags";
        tags[0].number = flags;
        int hide = 0;
        SetAdapterWindowOpen(true);
        const int err = RequirePluginWithTags(nullptr, "logadapter", 0, 0, tags, &hide);
        SetAdapterWindowOpen(false);
        if (err) return err;
        const std::vector<std::string> said = Take();
        if (said == std::vector<std::string>{"SetDisplayAdapter 0"}) return 0;
        for (const std::string& line : said) ADD_FAILURE() << line;
        return -1;
    }
    // The plugin's calls since the last look, one a line.
    std::vector<std::string> Take() {
        std::vector<std::string> lines;
        std::ifstream in(dir_ / "calls.log");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        in.close();
        fs::remove(dir_ / "calls.log");
        return lines;
    }
    fs::path dir_;
};

}  // namespace

TEST_F(AdapterPluginTest, WithAnAdapterEveryWrapperReachesItsSlot) {
    ASSERT_EQ(Require(kAdapterSleep | kAdapterVWait | kAdapterMonitors | kAdapterGrab), 0);
    qbDisplayOptions o;
    o.title = "T";
    o.x = 5;
    o.y = 6;
    o.width = 30;
    o.height = 20;
    o.flags = kDisplayActivate | 0x2;  // sizeable
    qbDisplay* d = Make(1, o);
    ASSERT_EQ(StartDisplays(nullptr), 0);
    ASSERT_NE(d->adapterHandle, nullptr);
    const std::vector<std::string> opening = {"GetMonitorInfo 0 0",      "FreeMonitorInfo 0",
                                              "DetermineBorderSizes 2",  "OpenDisplay T",
                                              "OpenDisplay 5 6 30 20 2", "ShowHidePointer 1 1",
                                              "ChangeBufferSize 1 30 20 0 1",
                                              "BltBitMap 1 1 0 0 0 0 30 20 0 0 0", "ActivateDisplay 1 1"};
    EXPECT_EQ(Take(), opening);
    EXPECT_EQ(d->borderWidth, 3);
    EXPECT_EQ(d->borderHeight, 23);

    SizeMoveDisplayWindow(d);
    MoveDisplayWindow(d);
    ShowHideDisplayWindow(d, true);
    UpdateDisplayTitle(d);
    ActivateDisplayWindow(d, false);
    uint32_t argb[1] = {0xFF00FF};
    void* pointer = nullptr;
    EXPECT_EQ(CreateDisplayPointer(argb, 1, 1, &pointer, 0, 0), 0);
    SetDisplayPointer(d, pointer, 2);
    MoveDisplayPointer(d, 7, 8);
    FreeDisplayPointer(pointer);
    int32_t x = 0, y = 0;
    GetDisplayMousePos(d, &x, &y);
    EXPECT_EQ(x, 11);
    EXPECT_EQ(y, 22);
    EXPECT_EQ(GetDisplayQualifiers(d), 0x55u);
    FillDisplayRect(d, 1, 2, 3, 4, 0x00112233);
    PlotDisplayPixel(d, 5, 6, 0x01000000);
    DrawDisplayLine(d, 1, 2, 3, 4, 9);
    ClearAdapterDisplay(d, 0x77);
    EXPECT_EQ(WakeDisplayAdapter(), 1);
    EXPECT_EQ(DelayPumpingEvents(15), 0);
    EXPECT_EQ(DelayPumpingEvents(13), ERR_USERABORT);
    EXPECT_EQ(WaitDisplayVBlank(nullptr, d, 3), 0);
    EXPECT_EQ(CountMonitors(d), 2);
    qbDisplayModeEntry list[4];
    EXPECT_EQ(GetDisplayModeList(d, list), 2);
    EXPECT_EQ(list[1].width, 800);
    BitmapPtr grab(GrabDisplayScreen(d, 1, 2, 2, 2));
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(ReadBitmapPixel(grab.get(), 1, 1, false), 0x40u);
    EXPECT_EQ(RunMainChunkThroughAdapter(nullptr), 0);
    const std::vector<std::string> expected = {
        "SizeMoveDisplay 1 5 6 30 20 0", "SizeMoveDisplay 1 5 6 0 0 0", "ShowHideDisplay 1 0",
        "SetDisplayTitle 1 T", "ActivateDisplay 1 0", "CreatePointer 16711935 1 1 0 0", "SetPointer 1 2 1",
        "ShowHidePointer 1 1", "MovePointer 1 7 8", "FreePointer 1", "GetMousePos 1", "GetQualifiers 1",
        "RectFill 1 1 2 3 4 1122867 0", "WritePixel 1 5 6 16777216 0", "Line 1 1 2 3 4 9 0", "Cls 1 119",
        "ForceEventLoopIteration", "Sleep 15", "Sleep 13", "VWait 1 1 3 0", "GetMonitorInfo 0 0", "FreeMonitorInfo 0",
        "GetMonitorInfo 1 0", "FreeMonitorInfo 1", "GrabScreenPixels 1 1 2 2 2", "FreeGrabScreenPixels 1",
        "AdapterMainLoop 1"};
    EXPECT_EQ(Take(), expected);
    CloseDisplayCore(nullptr, d, 0);
    EXPECT_EQ(Take(), std::vector<std::string>{"CloseDisplay 1"});
    EXPECT_EQ(d->adapterHandle, nullptr);
}

TEST_F(AdapterPluginTest, AnAdapterThatCountsOpacityTheOtherWayGetsInvertedAlpha) {
    EXPECT_EQ(AdjustAlphaForAdapter(0x00123456), 0x00123456u);
    ASSERT_EQ(Require(kAdapterInvertsAlpha), 0);
    EXPECT_EQ(AdjustAlphaForAdapter(0x00123456), 0xFF123456u);
    EXPECT_EQ(AdjustAlphaForAdapter(0xFF123456), 0x00123456u);
    EXPECT_EQ(AdjustAlphaForAdapter(0x40123456), 0xBF123456u);
}

TEST_F(AdapterPluginTest, ClosedDisplaysGetOnlyTheirHooksWithAnAdapter) {
    ASSERT_EQ(Require(0), 0);
    qbDisplay* d = Make(2);
    hookLog.clear();
    static char name[] = "h";
    ASSERT_NE(AddDisplayHook(ObjectID{2, nullptr}, &LoggingHook, name, nullptr, 0), nullptr);
    Take();
    FillDisplayRect(d, 0, 0, 1, 1, 0);
    PlotDisplayPixel(d, 0, 0, 0);
    DrawDisplayLine(d, 0, 0, 1, 1, 0);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(hookLog, (std::vector<std::string>{"h 1", "h 3", "h 2"}));
}

TEST_F(AdapterPluginTest, AnAdapterThatDrawsOnUnopenedDisplaysGetsTheirDrawing) {
    ASSERT_EQ(Require(kAdapterDrawsUnopened), 0);
    qbDisplayOptions o;
    o.flags = kDisplayActivate;
    qbDisplay* open = Make(1, o);
    ASSERT_EQ(StartDisplays(nullptr), 0);
    ASSERT_NE(open->adapterHandle, nullptr);
    qbDisplay* d = Make(2);
    d->adapterHandle = open->adapterHandle;
    Take();
    FillDisplayRect(d, 0, 0, 1, 1, 0);
    EXPECT_EQ(Take(), std::vector<std::string>{"RectFill 1 0 0 1 1 0 0"});
    d->adapterHandle = nullptr;
}

// An adapter's monitors and modes reach the player field by field: none of
// them is square, so a width taken for a height shows.
TEST_F(AdapterPluginTest, EveryFieldOfTheAdaptersMonitorsAndModesArrives) {
    ASSERT_EQ(Require(kAdapterMonitors), 0);
    MonitorList monitors = GetMonitorList(nullptr);
    std::vector<std::vector<int32_t>> got;
    for (const qbMonitorEntry* m = monitors.get(); m; m = m->next.get())
        got.push_back({m->x, m->y, m->width, m->height});
    EXPECT_EQ(got, (std::vector<std::vector<int32_t>>{{0, 0, 800, 600}, {800, 0, 1024, 768}}));
    qbDisplayModeEntry modes[4];
    ASSERT_EQ(GetDisplayModeList(nullptr, modes), 2);
    EXPECT_EQ(std::vector<int32_t>({modes[0].width, modes[0].height, modes[1].width, modes[1].height}),
              std::vector<int32_t>({640, 480, 800, 600}));
}
