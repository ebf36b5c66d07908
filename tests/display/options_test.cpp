// The display option table through CreateDisplay and SetDisplayAttributes:
// scale sizes and their percentages, regions, scale modes, pictures shared
// between displays, titles, screen-mode keys and monitors; and the fit
// borders of "keepproportions".
#include <cstdint>
#include <vector>

#include "display/displayhooks.h"
#include "display/displayoptions.h"
#include "display/displayscaling.h"
#include "displaylib_fixture.h"

namespace {

class DisplayOptionsTest : public DisplayLibWorld {
protected:
    // A 400x300 picture autoscaled into an 800x800 window.
    int CreateKeepingProportions(int32_t id) {
        return Create(id, [&] {
            Field("width", 400);
            Field("height", 300);
            Field("scalemode", 1);
            Field("keepproportions", 1);
            Field("scalewidth", 800);
            Field("scaleheight", 800);
        });
    }
};

}  // namespace

TEST_F(DisplayOptionsTest, ScaleWidthPercentIsOfTheDisplayWidthAndZeroIsRefused) {
    ASSERT_EQ(Create(2, [&] {
                  Field("width", 640);
                  Field("height", 480);
                  Field("scalewidth", "50%");
                  Field("scaleheight", "25%");
              }),
              0);
    EXPECT_EQ(Find(2)->scaleWidth, 320);
    EXPECT_EQ(Find(2)->scaleHeight, 120);
    EXPECT_EQ(Create(3, [&] { Field("scalewidth", 0); }), ERR_WRONGUSAGE);
    // A percentage that comes out below one pixel would later divide by zero.
    EXPECT_EQ(Create(4, [&] { Field("scalewidth", "0%"); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Create(5, [&] {
                  Field("width", 50);
                  Field("scalewidth", "1%");
              }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(Find(3), nullptr);
    EXPECT_EQ(Find(5), nullptr);
    // A number below zero is a percentage too; at the bottom of the range
    // it comes out too big, never negative.
    ASSERT_EQ(Create(6, [&] {
                  Field("width", 640);
                  Field("height", 480);
                  SetTableFieldFloat(L_, "scalewidth", -1e300);
              }),
              0);
    EXPECT_EQ(Find(6)->scaleWidth, INT32_MAX);
}

TEST_F(DisplayOptionsTest, RegionsAreCheckedAndMoreThanTheRecordHoldsAreRefused) {
    auto regions = [&](int count, int32_t type, int32_t x, bool withHeight) {
        return [=, this] {
            VmPushString(L_, "dragregion");
            VmPushNewTable(L_);
            for (int i = 0; i < count; ++i) {
                VmPushNewTable(L_);
                Field("type", type);
                Field("x", x);
                Field("y", 0);
                Field("width", 10);
                if (withHeight) Field("height", 10);
                VmRawSetIndex(L_, -2, i);
            }
            VmSetTableAt(L_, -3);
        };
    };
    EXPECT_EQ(Create(2, regions(1, 13, 0, true)), ERR_WRONGUSAGE);
    EXPECT_EQ(Create(2, regions(1, kRegionBox, -1, true)), ERR_WRONGUSAGE);
    EXPECT_EQ(Create(2, regions(1, kRegionBox, 0, false)), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Create(2, regions(65, kRegionBox, 0, true)), ERR_WRONGUSAGE);
    EXPECT_EQ(Find(2), nullptr);
    ASSERT_EQ(Create(2, regions(64, kRegionBox, 5, true)), 0);
    EXPECT_EQ(Find(2)->dragRegions.size(), 64u);
    EXPECT_EQ(Find(2)->dragRegionsGiven, 1);
    EXPECT_EQ(Find(2)->sizeRegionsGiven, 0);
}

TEST_F(DisplayOptionsTest, ScaleModesAndFlagKeys) {
    EXPECT_EQ(Create(2, [&] { Field("scalemode", 3); }), ERR_WRONGUSAGE);
    ASSERT_EQ(Create(2, [&] {
                  Field("scalemode", 1);
                  Field("borderless", 1);
                  Field("sizeable", 0);
                  VmPushString(L_, "smoothscale");
                  VmPushBoolean(L_, 1);
                  VmSetTableAt(L_, -3);
              }),
              0);
    const qbDisplay* d = Find(2);
    EXPECT_EQ(d->autoscale, 1);
    EXPECT_EQ(d->layerScale, 0);
    EXPECT_EQ(d->smoothScale, 1);
    EXPECT_EQ(d->flags & (kDispBorderless | kDispSizeable | kDispSmoothScale), kDispBorderless | kDispSmoothScale);
}

TEST_F(DisplayOptionsTest, KeepProportionsCentresThePictureBetweenBordersUntilScaleModeZero) {
    PicturesReady();
    ASSERT_EQ(CreateKeepingProportions(2), 0);
    qbDisplay* d = Find(2);
    EXPECT_EQ(d->width, 800);
    EXPECT_EQ(d->bgpic->currentWidth, 400);
    EXPECT_EQ(d->fitBorders[0], 0);
    EXPECT_EQ(d->fitBorders[1], 100);
    EXPECT_EQ(d->fitBorders[2], 0);
    EXPECT_EQ(d->fitBorders[3], 100);
    EXPECT_DOUBLE_EQ(d->scaleX, 2.0);
    int32_t w = 0, h = 0;
    // Too wide a window: the borders go left and right, odd pixels right.
    ComputeFitBorders(d, d->bgpic, 1001, 300, &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
    EXPECT_EQ(d->fitBorders[0], 300);
    EXPECT_EQ(d->fitBorders[2], 301);

    // Scale mode 0 clears the borders.
    ASSERT_EQ(RunNumbers("SelectDisplay", {2}), 0);
    VmPushNewTable(L_);
    Field("scalemode", 0);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(d->autoscale, 0);
    EXPECT_EQ(d->fitBorders[1], 0);
    EXPECT_EQ(d->fitBorders[3], 0);
    EXPECT_DOUBLE_EQ(d->scaleY, 1.0);
}

TEST_F(DisplayOptionsTest, ABGPicShownByADisplayCannotBeAnotherDisplaysPicture) {
    ASSERT_EQ(Create(2), 0);
    const ObjectID picture = IDOf(*Find(2)->bgpic);
    EXPECT_EQ(Create(3, [&] { SetTableFieldObjectID(L_, "bgpic", picture); }), ERR_MULTIBGPIC);
    EXPECT_EQ(Find(3), nullptr);
    // Nor may an open display take it over.
    ASSERT_EQ(Create(3), 0);
    ASSERT_EQ(RunNumbers("SelectDisplay", {3}), 0);
    VmPushNewTable(L_);
    SetTableFieldObjectID(L_, "bgpic", picture);
    EXPECT_EQ(Run("SetDisplayAttributes", 1), ERR_MULTIBGPIC);
    EXPECT_NE(Find(3)->bgpic, Find(2)->bgpic);
}

TEST_F(DisplayOptionsTest, ScreenModeAndBackfillKeysAreReadByName) {
    ASSERT_EQ(Create(2, [&] {
                  Field("mode", "FullScreen");
                  Field("scrwidth", 800);
                  VmPushString(L_, "backfill");
                  VmPushNewTable(L_);
                  Field("type", "Picture");
                  Field("startcolor", 0x123456);
                  VmSetTableAt(L_, -3);
              }),
              0);
    const qbDisplay* d = Find(2);
    EXPECT_EQ(d->screen.mode, DISPMODE_FULLSCREEN);
    EXPECT_EQ(d->screen.width, 800);
    EXPECT_EQ(d->screen.backfill.type, 4);
    EXPECT_EQ(d->screen.backfill.startColor, 0x123456);
    EXPECT_EQ(Create(3, [&] { Field("mode", "bogus"); }), ERR_WRONGUSAGE);
}

TEST_F(DisplayOptionsTest, MonitorsAreCountedFromOneAndMustExist) {
    null_backend::SetMonitors({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    EXPECT_EQ(Create(2, [&] { Field("monitor", 0); }), ERR_MONITORRANGE);
    EXPECT_EQ(Create(2, [&] { Field("monitor", 3); }), ERR_MONITORRANGE);
    ASSERT_EQ(Create(2, [&] { Field("monitor", 2); }), 0);
    EXPECT_EQ(Find(2)->monitor, 1);
}

TEST_F(DisplayOptionsTest, FitScaleFillsTheMonitorWithBordersKeepingProportions) {
    PicturesReady();
    ASSERT_EQ(Create(2, [&] {
                  Field("width", 400);
                  Field("height", 300);
                  Field("scalemode", 1);
                  Field("fitscale", 1);
                  Field("keepproportions", 1);
                  Field("scalewidth", 800);
                  Field("scaleheight", 600);
              }),
              0);
    const qbDisplay* d = Find(2);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_EQ(d->width, 1920);
    EXPECT_EQ(d->height, 1080);
    EXPECT_EQ(d->fitBorders[0], 240);
    EXPECT_EQ(d->fitBorders[2], 240);
    EXPECT_EQ(d->fitBorders[1], 0);
    EXPECT_EQ(d->bgpic->currentWidth, 400);
}

// Each key of the option table lands in its own field, on its own when
// given and never when not: every flag key both ways, the place on each
// axis, the orientation at creation and through SetDisplayAttributes, and
// every screen-mode and backfill key with a value of its own.
TEST_F(DisplayOptionsTest, EachOptionKeyReachesItsOwnFieldOnlyWhenGiven) {
    const std::pair<const char*, uint32_t> flagKeys[] = {
        {"borderless", kDispBorderless},       {"sizeable", kDispSizeable},
        {"fixed", kDispFixed},                 {"nohide", kDispNoHide},
        {"nomodeswitch", kDispNoModeSwitch},   {"smoothscale", kDispSmoothScale},
        {"active", kDispActive},               {"hidepointer", kDispHidePointer},
        {"usequartz", kDispUseQuartz},         {"noclose", kDispNoClose},
        {"keepproportions", kDispKeepProportions}, {"fitscale", kDispFitScale},
        {"keepscreenon", kDispKeepScreenOn},   {"hidefromtaskbar", kDispHideFromTaskbar},
        {"hideoptionsmenu", kDispHideOptionsMenu}, {"nohardwarescale", kDispNoHardwareScale},
        {"disableblanker", kDispDisableBlanker}, {"rememberposition", kDispRememberPosition},
    };
    ASSERT_EQ(Create(2), 0);
    const uint32_t defaults = Find(2)->flags;
    int32_t id = 3;
    for (const auto& flagKey : flagKeys) {
        const char* key = flagKey.first;
        const uint32_t bit = flagKey.second;
        SCOPED_TRACE(key);
        for (int on : {0, 1}) {
            ASSERT_EQ(Create(id, [&] { Field(key, on); }), 0);
            EXPECT_EQ(Find(id)->flags, on ? defaults | bit : defaults & ~bit);
            ++id;
        }
    }

    ASSERT_EQ(Create(id, [&] {
                  Field("x", 37);
                  Field("y", 59);
                  Field("orientation", 2);
              }),
              0);
    qbDisplay* d = Find(id);
    EXPECT_EQ(d->x, 37);
    EXPECT_EQ(d->y, 59);
    EXPECT_EQ(d->orientation, 2);
    ASSERT_EQ(RunNumbers("SelectDisplay", {static_cast<double>(id)}), 0);
    VmPushNewTable(L_);
    Field("title", "other");
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(d->orientation, 2);
    VmPushNewTable(L_);
    Field("orientation", 1);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(d->orientation, 1);
    ++id;
    ASSERT_EQ(Create(id, [&] { Field("y", 59); }), 0);
    EXPECT_EQ(Find(id)->x, Find(2)->x);
    EXPECT_EQ(Find(id)->y, 59);
    EXPECT_EQ(Find(id)->orientation, 0);

    ++id;
    ASSERT_EQ(Create(id, [&] {
                  Field("mode", "fakefullscreen");
                  Field("scrwidth", 1024);
                  Field("scrheight", 600);
                  Field("scrdepth", 16);
                  Field("desktop", 1);
                  VmPushString(L_, "backfill");
                  VmPushNewTable(L_);
                  Field("type", "texture");
                  Field("startcolor", 0x123456);
                  Field("endcolor", 0x654321);
                  Field("x", 13);
                  Field("y", 17);
                  Field("brush", 9);
                  Field("scalepicture", 1);
                  Field("hidetitlebar", 1);
                  Field("smoothscale", 1);
                  VmSetTableAt(L_, -3);
              }),
              0);
    const qbScreenMode& s = Find(id)->screen;
    EXPECT_EQ(s.mode, DISPMODE_FAKEFULLSCREEN);
    EXPECT_EQ(s.width, 1024);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.depth, 16);
    EXPECT_EQ(s.desktop, 1);
    EXPECT_EQ(s.backfill.type, 3);
    EXPECT_EQ(s.backfill.startColor, 0x123456);
    EXPECT_EQ(s.backfill.endColor, 0x654321);
    EXPECT_EQ(s.backfill.x, 13);
    EXPECT_EQ(s.backfill.y, 17);
    EXPECT_EQ(s.backfill.brush, 9);
    EXPECT_EQ(s.backfill.scalePicture, 1);
    EXPECT_EQ(s.backfill.hideTitleBar, 1);
    EXPECT_EQ(s.backfill.smoothScale, 1);
    // Nothing given: the defaults; "color" is the start colour's other name.
    ++id;
    ASSERT_EQ(Create(id, [&] {
                  VmPushString(L_, "backfill");
                  VmPushNewTable(L_);
                  Field("color", 0x00ff00);
                  VmSetTableAt(L_, -3);
              }),
              0);
    const qbScreenMode& plain = Find(id)->screen;
    qbBackfillOptions none;
    InitBackfillOptions(none);
    EXPECT_EQ(plain.mode, DISPMODE_WINDOWED);
    EXPECT_EQ(plain.width, 0);
    EXPECT_EQ(plain.height, 0);
    EXPECT_EQ(plain.depth, 0);
    EXPECT_EQ(plain.desktop, 0);
    EXPECT_EQ(plain.backfill.type, none.type);
    EXPECT_EQ(plain.backfill.startColor, 0x00ff00);
    EXPECT_EQ(plain.backfill.endColor, none.endColor);
    EXPECT_EQ(plain.backfill.x, none.x);
    EXPECT_EQ(plain.backfill.y, none.y);
    EXPECT_EQ(plain.backfill.brush, none.brush);
    EXPECT_EQ(plain.backfill.scalePicture, 0);
    EXPECT_EQ(plain.backfill.hideTitleBar, 0);
    EXPECT_EQ(plain.backfill.smoothScale, 0);
}

namespace {

// The window pixels a display hook is told were filled black, in window
// coordinates: a plugin mirroring the display draws what the hook says.
std::vector<std::vector<uint8_t>> blackened;
const qbDisplay* hooked = nullptr;

int RecordBlackFills(qbDisplayHook*, int kind, const void* info, void*) {
    if (kind != kDrawHookFill) return 0;
    const auto* fill = static_cast<const qbHookFillInfo*>(info);
    if (fill->colour != 0) return 0;
    for (int32_t y = fill->y; y < fill->y + fill->height; ++y)
        for (int32_t x = fill->x; x < fill->x + fill->width; ++x) {
            const int32_t wx = x + hooked->view.offsetX, wy = y + hooked->view.offsetY;
            if (wy >= 0 && wy < static_cast<int32_t>(blackened.size()) && wx >= 0 &&
                wx < static_cast<int32_t>(blackened[0].size()))
                blackened[wy][wx] = 1;
        }
    return 0;
}

}  // namespace

// The fit borders of a window wider than its picture's proportions and of
// one higher are filled black, each pixel of them and no pixel of the
// picture, with an odd border on each axis.
TEST_F(DisplayOptionsTest, TheFitBordersAreFilledExactlyOnEitherAxis) {
    PicturesReady();
    struct Window {
        int32_t width, height;
        int32_t left, top, right, bottom;  // the picture's 400x300 scaled in
    };
    // 400x300 into 1001x300: 300 left, 301 right (the picture 400 wide);
    // 400x300 into 400x601: 300 high, 150 above and 151 below.
    for (const Window& w : {Window{1001, 300, 300, 0, 301, 0}, Window{400, 601, 0, 150, 0, 151}}) {
        SCOPED_TRACE(w.width);
        FreeAllDisplays(L_);
        PicturesReady();
        ASSERT_EQ(Create(2, [&] {
                      Field("width", 400);
                      Field("height", 300);
                      Field("scalemode", 1);
                      Field("keepproportions", 1);
                      Field("scalewidth", w.width);
                      Field("scaleheight", w.height);
                  }),
                  0);
        hooked = Find(2);
        blackened.assign(static_cast<size_t>(w.height), std::vector<uint8_t>(static_cast<size_t>(w.width), 0));
        ASSERT_NE(AddDisplayHook(ObjectID{2, nullptr}, &RecordBlackFills, nullptr, nullptr, 0), nullptr);
        ASSERT_EQ(RunNumbers("OpenDisplay", {2}), 0);
        ASSERT_EQ(hooked->fitBorders[0], w.left);
        ASSERT_EQ(hooked->fitBorders[1], w.top);
        int wrong = 0;
        for (int32_t y = 0; y < w.height; ++y)
            for (int32_t x = 0; x < w.width; ++x) {
                const bool border = x < w.left || x >= w.width - w.right || y < w.top || y >= w.height - w.bottom;
                if (blackened[y][x] != border && ++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
            }
        EXPECT_EQ(wrong, 0);
    }
}
