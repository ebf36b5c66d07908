// Full screens on the in-memory backend: the virtual mode a full screen
// sets, the backfill display behind it, leaving it again, the refusals that
// leave the display as it was, the monitors' modes, and every backfill type.
#include <functional>
#include <vector>

#include "core/eventqueue.h"
#include "display/backfill.h"
#include "display/displayoptions.h"
#include "display/displaywindow.h"
#include "displaylib_fixture.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layersources.h"
#include "display/imagecache.h"
#include "test_bmp.h"

namespace {

// How often the script's functions under the commands' names were called.
int standInCalls = 0;

int StandIn(ScriptState*) {
    ++standInCalls;
    return 0;
}

class FullScreenTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        null_backend::SetMonitors({{0, 0, 1024, 768}, {1024, 0, 800, 600}});
        standInCalls = 0;
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllBrushes(L_);
        FreeImageCache();
        ClearLayerSources();
        DisplayLibWorld::TearDown();
    }

    // Display 1 of the given size and mode, opened at start-up.
    template <class Fill>
    qbDisplay* Start(int32_t width, int32_t height, const char* mode, Fill fill) {
        EXPECT_EQ(Create(1, [&] {
                      Field("active", 1);
                      Field("width", width);
                      Field("height", height);
                      Field("color", 0x808080);
                      Field("mode", mode);
                      fill();
                  }),
                  0);
        EXPECT_EQ(StartDisplays(L_), 0);
        return Find(1);
    }
    qbDisplay* Start(int32_t width, int32_t height, const char* mode) {
        return Start(width, height, mode, [] {});
    }

    static qbDisplay* Backfill(const qbDisplay* d) {
        qbDisplay* b = nullptr;
        GetDisplayRecord(d->backfillDisplay, &b);
        return b;
    }
    static qbBGPic* BackfillPicture(const qbDisplay* d) {
        qbBGPic* p = nullptr;
        GetBGPic(nullptr, d->backfillBGPic, &p, 0);
        return p;
    }
    static uint32_t At(const qbBGPic* p, int32_t x, int32_t y) {
        return ReadBitmapPixel(p->current.bitmap, x, y, false) & 0xFFFFFF;
    }
    static int CountDisplays() {
        int n = 0;
        for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) ++n;
        return n;
    }
    static int CountBrushes() {
        int n = 0;
        for (qbObject* b = FirstBrush(); b; b = b->next) ++n;
        return n;
    }
    int ChangeMode(std::initializer_list<double> args) { return RunNumbers("ChangeDisplayMode", args); }
    // A 4x2 brush of number id whose pixel (x, y) is x << 16 | y << 8 | 7;
    // with a mask, pixel (0, 0) is transparent.
    qbBrush* MakeBrush(int32_t id, bool masked = false) {
        VmPushNumber(L_, id);
        VmPushString(L_, test_bmp::WriteBmp(4, 2).c_str());
        VmPushNewTable(L_);
        if (masked) Field("transparency", 7);
        EXPECT_EQ(Run("LoadBrush", 3), 0);
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    static uint32_t Pixel(int x, int y) { return (uint32_t(x) << 16) | (uint32_t(y) << 8) | 7; }
    void BackfillTable(const char* type, std::function<void()> fields) {
        VmPushString(L_, "backfill");
        VmPushNewTable(L_);
        Field("type", type);
        fields();
        VmSetTableAt(L_, -3);
    }
};

TEST_F(FullScreenTest, AFullScreenSetsItsModeOverABlackBackfillShownFirst) {
    qbDisplay* d = Start(640, 400, "fullscreen");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{640, 400}));
    MonitorList monitors = ListNativeMonitors();
    EXPECT_EQ(monitors->width, 640);
    EXPECT_EQ(monitors->height, 400);
    EXPECT_EQ(monitors->next->width, 800);
    EXPECT_NE(d->flags & kDispBorderless, 0u);
    EXPECT_NE(d->flags & kDispFixed, 0u);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    qbDisplay* b = Backfill(d);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->handle, nullptr);
    EXPECT_EQ(b->isBackfill, 1);
    EXPECT_EQ(b->servedDisplay, d);
    EXPECT_NE(b->flags & kDisplayNotInTaskBar, 0u);
    EXPECT_EQ(b->y, 0);
    EXPECT_EQ(b->state, DISPSTATE_OPEN);
    const null_backend::Surface* front = null_backend::GetSurface(d);
    const null_backend::Surface* back = null_backend::GetSurface(b);
    ASSERT_TRUE(front && back);
    EXPECT_LT(back->serial, front->serial);
    EXPECT_EQ(back->At(0, 0), 0xFF000000u);
    EXPECT_EQ(GetCurrentDisplay(), d);
    EXPECT_EQ(null_backend::PresentationMode(), 2);
    // Nothing was on the screen to fade at start-up.
    for (const null_backend::FadeCall& f : null_backend::FadeLog()) EXPECT_FALSE(f.faded);
}

TEST_F(FullScreenTest, LeavingAFullScreenRestoresTheWindowAndFreesTheBackfill) {
    qbDisplay* d = Start(640, 480, "windowed", [&] {
        Field("sizeable", 1);
        Field("x", 100);
        Field("y", 50);
    });
    const int displays = CountDisplays(), pictures = CountBGPics();
    ASSERT_EQ(ChangeMode({2}), 0);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(d->flags & kDispSizeable, 0u);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{640, 480}));
    EXPECT_EQ(CountDisplays(), displays + 1);
    EXPECT_EQ(CountBGPics(), pictures + 1);
    std::vector<null_backend::FadeCall> fades = null_backend::FadeLog();
    ASSERT_EQ(fades.size(), 2u);
    EXPECT_TRUE(fades[0].out && fades[0].faded && fades[0].waited);
    EXPECT_TRUE(!fades[1].out && fades[1].faded);

    ASSERT_EQ(ChangeMode({1}), 0);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->x, 100);
    EXPECT_EQ(d->y, 50);
    EXPECT_NE(d->flags & kDispSizeable, 0u);
    EXPECT_EQ(d->flags & kDispFixed, 0u);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{0, 0}));
    EXPECT_EQ(CountDisplays(), displays);
    EXPECT_EQ(CountBGPics(), pictures);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(null_backend::PresentationMode(), 0);
}

TEST_F(FullScreenTest, RefusedFullScreensLeaveTheDisplaysOpenInTheirWindows) {
    qbDisplay* d = Start(640, 480, "windowed");
    const int displays = CountDisplays();
    EXPECT_EQ(ChangeMode({2, 1200, 600}), ERR_SCREEN);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_NE(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{0, 0}));
    EXPECT_EQ(CountDisplays(), displays);

    ASSERT_EQ(ChangeMode({2}), 0);
    ASSERT_EQ(Create(2, [&] {
                  Field("width", 320);
                  Field("height", 200);
              }),
              0);
    ASSERT_EQ(RunNumbers("OpenDisplay", {2}), 0);
    qbDisplay* two = Find(2);
    ASSERT_EQ(two->state, DISPSTATE_OPEN);
    const int code = ChangeMode({2});
    ASSERT_EQ(code, ERR_MONITORFULLSCREEN);
    EXPECT_EQ(Text(code), "Monitor 1 is already in fullscreen mode!");
    EXPECT_EQ(two->state, DISPSTATE_OPEN);
    EXPECT_EQ(two->fullScreen, 0);
    EXPECT_NE(null_backend::GetSurface(two), nullptr);
    EXPECT_EQ(d->fullScreen, 1);
}

TEST_F(FullScreenTest, MonitorsModesAndFakeFullScreens) {
    qbDisplay* d = Start(640, 400, "fullscreen", [&] { Field("monitor", 2); });
    EXPECT_EQ(null_backend::VirtualMode(1), (std::pair<int, int>{640, 400}));
    MonitorList monitors = ListNativeMonitors();
    EXPECT_EQ(monitors->width, 1024);
    EXPECT_EQ(monitors->next->width, 640);
    EXPECT_EQ(d->x, 1024);
    EXPECT_EQ(Backfill(d)->x, 1024);
    ASSERT_EQ(ChangeMode({1}), 0);

    ASSERT_EQ(Create(3, [&] {
                  Field("hidden", 1);
                  Field("mode", "fakefullscreen");
              }),
              0);
    ASSERT_EQ(RunNumbers("OpenDisplay", {3}), 0);
    qbDisplay* fake = Find(3);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{0, 0}));
    EXPECT_NE(fake->flags & kDisplayFakeFullScreen, 0u);
    EXPECT_NE(fake->flags & kDispBorderless, 0u);
    ASSERT_NE(Backfill(fake), nullptr);
    EXPECT_EQ(BackfillPicture(fake)->currentWidth, 1024);
    EXPECT_NE(Backfill(fake)->flags & kDisplayFakeFullScreen, 0u);

    null_backend::SetDisplayModes(0, {{1024, 768, 60}, {1024, 768, 75}});
    EXPECT_EQ(ListNativeDisplayModes(fake, nullptr), 2);
    qbDisplayModeEntry modes[2];
    EXPECT_EQ(ListNativeDisplayModes(fake, modes), 1);
    ASSERT_EQ(Run("GetDisplayModes", 0, 1), 0);
    VmRawGetIndex(L_, -1, 0);
    EXPECT_EQ(VmType(L_, -1), kTypeTable);
    VmSetTop(L_, -2);
    VmRawGetIndex(L_, -1, 1);
    EXPECT_EQ(VmType(L_, -1), kTypeNil);
}

// A full screen asked for again on a monitor that has gone is refused, not
// taken as already had.
TEST_F(FullScreenTest, AFullScreenAgainOnAMonitorThatIsGoneFails) {
    qbDisplay* d = Start(640, 400, "fullscreen", [&] { Field("monitor", 2); });
    ASSERT_EQ(d->fullScreen, 1);
    ASSERT_EQ(ChangeMode({2}), 0);
    null_backend::SetMonitors({{0, 0, 1024, 768}});
    EXPECT_EQ(ChangeMode({2}), ERR_GETMONITORINFO);
}

TEST_F(FullScreenTest, ColourGradientAndTextureBackfills) {
    qbDisplay* d = Start(640, 400, "fullscreen", [&] { BackfillTable("color", [&] { Field("color", 0x336699); }); });
    ASSERT_NE(BackfillPicture(d), nullptr);
    EXPECT_EQ(At(BackfillPicture(d), 0, 0), 0x336699u);
    ASSERT_EQ(ChangeMode({1}), 0);

    d->screen.backfill.type = 2;
    d->screen.backfill.startColor = 0x000040;
    d->screen.backfill.endColor = 0;
    ASSERT_EQ(ChangeMode({2}), 0);
    // The same gradient made by the command at the monitor's (new) size.
    VmPushNumber(L_, 50);
    for (double v : {2.0, double(0x000040), 0.0, 640.0, 400.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateGradientBGPic", 6), 0);
    qbBGPic* reference = nullptr;
    ASSERT_EQ(GetBGPic(nullptr, ObjectID{50, nullptr}, &reference, 0), 0);
    for (int y : {0, 100, 399})
        for (int x : {0, 320, 639}) EXPECT_EQ(At(BackfillPicture(d), x, y), At(reference, x, y)) << x << "," << y;
    EXPECT_NE(At(BackfillPicture(d), 0, 0), At(BackfillPicture(d), 0, 399));
    ASSERT_EQ(ChangeMode({1}), 0);

    MakeBrush(7);
    d->screen.backfill.type = 3;
    d->screen.backfill.brush = 7;
    ASSERT_EQ(ChangeMode({2}), 0);
    for (int y : {0, 1, 2, 399})
        for (int x : {0, 3, 4, 637}) EXPECT_EQ(At(BackfillPicture(d), x, y), Pixel(x % 4, y % 2)) << x << "," << y;
}

TEST_F(FullScreenTest, PictureBackfillsAreCentredOnBlackThroughTheirMask) {
    MakeBrush(7);
    qbDisplay* d = Start(640, 400, "fullscreen", [&] { BackfillTable("picture", [&] { Field("brush", 7); }); });
    qbBGPic* p = BackfillPicture(d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(At(p, 0, 0), 0u);
    EXPECT_EQ(At(p, 317, 199), 0u);
    EXPECT_EQ(At(p, 318, 199), Pixel(0, 0));
    EXPECT_EQ(At(p, 321, 200), Pixel(3, 1));
    EXPECT_EQ(At(p, 322, 200), 0u);
    const int brushes = CountBrushes();
    ASSERT_EQ(ChangeMode({1}), 0);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(CountBrushes(), brushes - 1);

    ASSERT_NE(MakeBrush(8, true)->mask, nullptr);
    d->screen.backfill.brush = 8;
    d->screen.backfill.startColor = 0x0000FF;
    ASSERT_EQ(ChangeMode({2}), 0);
    p = BackfillPicture(d);
    EXPECT_EQ(At(p, 0, 0), 0x0000FFu);
    EXPECT_EQ(At(p, 318, 199), 0x0000FFu);
    EXPECT_EQ(At(p, 319, 199), Pixel(1, 0));
    EXPECT_EQ(At(p, 318, 200), Pixel(0, 1));
}

// A brush with an alpha channel is blended onto the start colour; a brush
// that does not exist refuses the full screen with the brush lookup's error
// and leaves nothing behind.
TEST_F(FullScreenTest, PictureBackfillsBlendThroughTheAlphaChannelAndNeedTheirBrush) {
    qbBrush* b = MakeBrush(9);
    ASSERT_NE(b, nullptr);
    b->alpha = AllocAlphaChannel(4, 2, true, nullptr, 0);
    ASSERT_NE(b->alpha, nullptr);
    qbBitmapPlane& plane = *b->alpha->plane;
    const uint8_t levels[2][4] = {{0, 255, 0, 255}, {255, 0, 255, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) plane.data[static_cast<size_t>(y) * plane.rowBytes + x] = levels[y][x];
    qbDisplay* d = Start(640, 400, "fullscreen", [&] {
        BackfillTable("picture", [&] {
            Field("brush", 9);
            Field("color", 0x0000FF);
        });
    });
    qbBGPic* p = BackfillPicture(d);
    ASSERT_NE(p, nullptr);
    // The brush sits at 318, 199; an alpha of 0 leaves the colour showing.
    EXPECT_EQ(At(p, 317, 199), 0x0000FFu);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(At(p, 318 + x, 199 + y), levels[y][x] ? Pixel(x, y) : 0x0000FFu) << x << "," << y;
    ASSERT_EQ(ChangeMode({1}), 0);

    const int brushes = CountBrushes(), pictures = CountBGPics();
    d->screen.backfill.brush = 99;
    const int code = ChangeMode({2});
    EXPECT_EQ(code, ERR_FINDBRUSH);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(CountBrushes(), brushes);
    EXPECT_EQ(CountBGPics(), pictures);
}

// A picture backfill from a file (the command line's brush file): loaded as
// a brush of the display's own, shown centred and freed with the mode; a
// file that does not load refuses the full screen with the loader's error.
TEST_F(FullScreenTest, PictureBackfillsFromAFileLoadTheirOwnBrush) {
    qbDisplay* d = Start(640, 400, "windowed");
    d->screen.backfill.type = 4;
    d->screen.backfill.fileName = test_bmp::WriteBmp(4, 2);
    const int brushes = CountBrushes();
    ASSERT_EQ(ChangeMode({2}), 0);
    EXPECT_EQ(CountBrushes(), brushes + 1);
    qbBGPic* p = BackfillPicture(d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(At(p, 317, 199), 0u);
    EXPECT_EQ(At(p, 318, 199), Pixel(0, 0));
    EXPECT_EQ(At(p, 321, 200), Pixel(3, 1));
    EXPECT_EQ(At(p, 322, 200), 0u);
    ASSERT_EQ(ChangeMode({1}), 0);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(CountBrushes(), brushes);

    d->screen.backfill.fileName = d->screen.backfill.fileName + ".missing";
    const int code = ChangeMode({2});
    EXPECT_EQ(code, ERR_READFILE);
    const std::string& file = d->screen.backfill.fileName;
    EXPECT_EQ(Text(code), "Cannot read file " + file.substr(file.rfind('/') + 1) + " !");
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(CountBrushes(), brushes);
}

TEST_F(FullScreenTest, ScaledPicturesGoThroughThePlayersOwnScaleBrush) {
    MakeBrush(7);
    ASSERT_EQ(Create(1, [&] {
                  Field("active", 1);
                  Field("mode", "fullscreen");
                  BackfillTable("picture", [&] {
                      Field("brush", 7);
                      Field("scalepicture", 1);
                      Field("smoothscale", 1);
                  });
              }),
              0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    EXPECT_EQ(d->fullScreen, 1);
    ASSERT_TRUE(HasBackfillObjects(d));
    qbTexturePicture scaled;
    ASSERT_EQ(GetTexturePicture(L_, d->backfillBrush, &scaled), 0);
    EXPECT_EQ(scaled.width, 640);
    EXPECT_EQ(scaled.height, 480);
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);

    // The script's own functions under the names of every command the
    // backfill calls change nothing: the player's commands make and free
    // its objects.
    for (const char* name : {"loadbrush", "copybrush", "scalebrush", "createbgpic", "creategradientbgpic",
                             "createtexturedbgpic", "createdisplay", "freedisplay", "freebgpic", "freebrush"}) {
        VmPushString(L_, name);
        VmPushCClosure(L_, StandIn, 0);
        VmSetTableAt(L_, kGlobalsIndex);
    }
    const int displays = CountDisplays(), pictures = CountBGPics(), brushes = CountBrushes();
    ASSERT_EQ(RunNumbers("OpenDisplay", {1}), 0);
    ASSERT_NE(Backfill(d), nullptr);
    ASSERT_EQ(GetTexturePicture(L_, d->backfillBrush, &scaled), 0);
    EXPECT_EQ(scaled.width, 640);
    EXPECT_EQ(scaled.height, 480);
    EXPECT_EQ(CountBrushes(), brushes + 1);
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_FALSE(HasBackfillObjects(d));
    EXPECT_EQ(CountDisplays(), displays);
    EXPECT_EQ(CountBGPics(), pictures);
    EXPECT_EQ(CountBrushes(), brushes);
    EXPECT_EQ(standInCalls, 0);
}

TEST_F(FullScreenTest, TheWindowsToggleSwitchesModesAndFiftyTogglesLeaveNothing) {
    qbDisplay* d = Start(640, 480, "windowed");
    const int displays = CountDisplays(), pictures = CountBGPics(), brushes = CountBrushes();
    ASSERT_EQ(InitEventQueue(), 0);
    for (int i = 0; i < 50; ++i) {
        null_backend::ScriptEvent({d, kEventFullScreenToggle, 0, 0, 0});
        null_backend::SetClock([i] { return int64_t{1000} * (i + 1); });
        int err = -1;
        EXPECT_EQ(PumpNativeEvents(L_, &err), 0);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(d->fullScreen, i % 2 == 0 ? 1 : 0);
        EXPECT_EQ(d->state, DISPSTATE_OPEN);
    }
    ClearEventQueue(L_);
    EXPECT_EQ(d->fullScreen, 0);
    EXPECT_EQ(CountDisplays(), displays);
    EXPECT_EQ(CountBGPics(), pictures);
    EXPECT_EQ(CountBrushes(), brushes);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{0, 0}));
}

TEST_F(FullScreenTest, ALayerScaledFitScaleDisplayDrawsItsPictureAtTheMonitorsSize) {
    qbDisplay* d = Start(320, 240, "fullscreen", [&] {
        Field("scalemode", 2);
        Field("scalewidth", 640);
        Field("scaleheight", 480);
        Field("fitscale", 1);
        Field("keepproportions", 1);
    });
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->screen.width, 1024);
    EXPECT_EQ(d->screen.height, 768);
    EXPECT_EQ(d->width, 1024);
    EXPECT_EQ(d->bgpic->currentWidth, 1024);
    EXPECT_EQ(d->bgpic->currentHeight, 768);
    EXPECT_EQ(d->bgpic->baseWidth, 320);
    EXPECT_DOUBLE_EQ(d->scaleX, 3.2);
    ASSERT_NE(null_backend::GetSurface(d), nullptr);
    EXPECT_EQ(null_backend::GetSurface(d)->width, 1024);
}

}  // namespace

// The screen may be as small as the display, down to a single row.
TEST_F(FullScreenTest, AOneRowDisplayTakesAOneRowScreen) {
    qbDisplay* d = Start(640, 1, "windowed");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->height, 1);
    EXPECT_EQ(ChangeMode({2, 640, 1}), 0);
    EXPECT_EQ(d->fullScreen, 1);
    EXPECT_EQ(null_backend::VirtualMode(0), (std::pair<int, int>{640, 1}));
}
