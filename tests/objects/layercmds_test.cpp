// The stack commands: hiding and showing (groups move as one), removing
// (groups, the limit, one refresh), order changes with what they refresh,
// names kept when a new one is refused, and hit tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/preproc.h"
#include "display/bgpics.h"
#include "show_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

class LayerCmdsTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        MakeBrush(1, 10, 10, kRed);
        MakeBrush(2, 10, 10, kGreen);
        MakeBrush(3, 10, 10, kBlue);
        MakeBrush(4, 10, 10, kWhite);
    }
    qbBGPic* Picture() { return display_->bgpic; }
    qbLayer* Layer(int32_t n) { return GetLayerByIndex(Picture(), n); }
    int Add(int32_t brush, int32_t x, int32_t y, const char* name = nullptr) {
        return Show("DisplayBrush", {double(brush), double(x), double(y)}, [&] {
            if (name) SetTableFieldString(L_, "name", name);
        });
    }
    // Three overlapping layers: red at 10, green at 15, blue at 20 (top).
    void Three() {
        ASSERT_EQ(Add(1, 10, 10, "red"), 0);
        ASSERT_EQ(Add(2, 15, 15, "green"), 0);
        ASSERT_EQ(Add(3, 20, 20, "blue"), 0);
        null_backend::TakeBlits(display_);
    }
    int RunLayer(const char* command, int32_t layer) { return RunNumbers(command, {double(layer)}); }
    int32_t BrushAt(int32_t position) { return Layer(position)->id.number; }
    // GetLayerAtPos's two results.
    std::pair<int32_t, std::string> At(int32_t x, int32_t y) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        EXPECT_EQ(Run("GetLayerAtPos", 2, 2), 0);
        std::pair<int32_t, std::string> r{int32_t(VmToNumber(L_, -2)), VmToCString(L_, -1)};
        VmSetTop(L_, 0);
        return r;
    }
    int SetName(int32_t position, const std::string& name) {
        VmPushNumber(L_, position);
        VmPushString(L_, name.c_str());
        return Run("SetLayerName", 2);
    }
    bool Exists(const char* name) {
        VmSetTop(L_, 0);
        VmPushString(L_, name);
        EXPECT_EQ(Run("LayerExists", 1, 1), 0);
        const bool found = VmToNumber(L_, -1) != 0;
        VmSetTop(L_, 0);
        return found;
    }
};

}  // namespace

TEST_F(LayerCmdsTest, HideThenShowWithoutPositionKeepsThePlace) {
    Three();
    ASSERT_EQ(Real(17, 17), kGreen);
    ASSERT_EQ(RunLayer("HideLayer", 2), 0);
    EXPECT_EQ(Real(17, 17), kRed);
    EXPECT_EQ(Real(24, 24), kBlue);
    EXPECT_EQ(null_backend::TakeBlits(display_).size(), 1u);
    ASSERT_EQ(RunLayer("ShowLayer", 2), 0);
    EXPECT_EQ(Real(17, 17), kGreen);
    EXPECT_EQ(Layer(2)->basestate->x, 15);
    // A position moves it as it shows it; the old place is cleaned up.
    ASSERT_EQ(RunLayer("HideLayer", 2), 0);
    ASSERT_EQ(RunNumbers("ShowLayer", {2, 60, 5}), 0);
    EXPECT_EQ(Real(61, 6), kGreen);
    EXPECT_EQ(Real(17, 17), kRed);
    EXPECT_EQ(Real(14, 14), kRed);
    // By name, and an unknown name.
    VmPushString(L_, "blue");
    ASSERT_EQ(Run("HideLayer", 1), 0);
    EXPECT_EQ(Real(25, 25), 0u);
    VmPushString(L_, "nobody");
    EXPECT_EQ(Run("HideLayer", 1), ERR_FINDLAYER);
    EXPECT_EQ(RunLayer("ShowLayer", 4), ERR_LAYERRANGE);
}

TEST_F(LayerCmdsTest, ShowingAGroupCentresItsBoundingBox) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(2, 30, 20), 0);  // the box is 40 x 30
    ASSERT_EQ(Add(3, 70, 70), 0);
    Layer(1)->groupname = "pair";
    Layer(2)->groupname = "pair";
    VmPushString(L_, "pair");
    ASSERT_EQ(Run("HideLayer", 1), 0);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Real(35, 25), 0u);
    EXPECT_EQ(Real(75, 75), kBlue);
    VmPushString(L_, "pair");
    VmPushNumber(L_, kCenterPosition);
    VmPushNumber(L_, kCenterPosition);
    ASSERT_EQ(Run("ShowLayer", 3), 0);
    // (100 - 40) / 2 = 30, (80 - 30) / 2 = 25; the members keep 30, 20 apart.
    EXPECT_EQ(Layer(1)->basestate->x, 30);
    EXPECT_EQ(Layer(1)->basestate->y, 25);
    EXPECT_EQ(Layer(2)->basestate->x, 60);
    EXPECT_EQ(Layer(2)->basestate->y, 45);
    EXPECT_EQ(Real(30, 25), kRed);
    EXPECT_EQ(Real(69, 54), kGreen);
    EXPECT_EQ(Real(5, 5), 0u);
    EXPECT_EQ(Layer(3)->basestate->x, 70);
}

TEST_F(LayerCmdsTest, RemovingAGroupRefreshesOnceAtTheEnd) {
    ASSERT_EQ(Add(1, 0, 0), 0);
    ASSERT_EQ(Add(2, 5, 5), 0);
    ASSERT_EQ(Add(3, 50, 50), 0);
    Layer(1)->groupname = "g";
    Layer(2)->groupname = "g";
    null_backend::TakeBlits(display_);
    VmPushString(L_, "g");
    ASSERT_EQ(Run("RemoveLayer", 1), 0);
    ASSERT_EQ(CountLayers(Picture()), 1);
    EXPECT_EQ(BrushAt(1), 3);
    // Two overlapping bounds merge into one refresh.
    const auto blits = null_backend::TakeBlits(display_);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].x, 0);
    EXPECT_EQ(blits[0].width, 15);
    EXPECT_EQ(Real(7, 7), 0u);
    EXPECT_EQ(Real(55, 55), kBlue);
    ASSERT_EQ(RunLayer("RemoveLayer", 1), 0);
    EXPECT_EQ(Real(55, 55), 0u);
    EXPECT_EQ(RunLayer("RemoveLayer", 1), ERR_LAYERRANGE);
}

TEST_F(LayerCmdsTest, RemovingMoreThan256LayersRemovesNone) {
    for (int i = 0; i < 257; ++i) {
        ASSERT_EQ(Add(1 + i % 3, i % 90, i % 70), 0);
        Layer(i + 1)->groupname = "many";
    }
    VmPushString(L_, "many");
    EXPECT_EQ(Run("RemoveLayer", 1), ERR_INTERNAL);
    EXPECT_EQ(CountLayers(Picture()), 257);
    // One fewer goes.
    ASSERT_EQ(RunLayer("RemoveLayer", 257), 0);
    VmPushString(L_, "many");
    ASSERT_EQ(Run("RemoveLayer", 1), 0);
    EXPECT_EQ(CountLayers(Picture()), 0);
}

TEST_F(LayerCmdsTest, ZPosMovesALayerAndRefusesItsOwnPlace) {
    Three();
    EXPECT_EQ(RunNumbers("SetLayerZPos", {2, 2}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerZPos", {2, -1}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("SetLayerZPos", {1, 0}), 0);
    EXPECT_EQ(BrushAt(1), 2);
    EXPECT_EQ(BrushAt(3), 1);
    EXPECT_EQ(Real(19, 19), kRed);
    EXPECT_EQ(Real(21, 21), kBlue);
    // A layer name stands for that layer's position.
    VmPushNumber(L_, 3);
    VmPushString(L_, "green");
    ASSERT_EQ(Run("SetLayerZPos", 2), 0);
    EXPECT_EQ(BrushAt(1), 1);
    EXPECT_EQ(Real(19, 19), kGreen);
}

TEST_F(LayerCmdsTest, GetLayerAtPosCountsHiddenLayers) {
    Three();
    ASSERT_EQ(RunLayer("HideLayer", 3), 0);
    EXPECT_EQ(At(22, 22), (std::pair<int32_t, std::string>{3, "blue"}));
    EXPECT_EQ(At(16, 16), (std::pair<int32_t, std::string>{2, "green"}));
    EXPECT_EQ(At(10, 10), (std::pair<int32_t, std::string>{1, "red"}));
    EXPECT_EQ(At(9, 10), (std::pair<int32_t, std::string>{0, ""}));
    EXPECT_EQ(At(30, 30), (std::pair<int32_t, std::string>{0, ""}));
}

TEST_F(LayerCmdsTest, ToBackAndToFrontSwapWithTheEnds) {
    for (int i = 0; i < 5; ++i) ASSERT_EQ(Add(1 + i % 4, 10 * i, 10 * i), 0);
    const int32_t top = BrushAt(5);
    ASSERT_EQ(RunLayer("LayerToBack", 3), 0);
    EXPECT_EQ(BrushAt(1), 3);
    EXPECT_EQ(BrushAt(2), 2);
    EXPECT_EQ(BrushAt(3), 1);
    EXPECT_EQ(BrushAt(4), 4);
    EXPECT_EQ(BrushAt(5), top);
    null_backend::TakeBlits(display_);
    ASSERT_EQ(RunLayer("LayerToFront", 5), 0);
    EXPECT_EQ(BrushAt(5), top);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
    ASSERT_EQ(RunLayer("LayerToBack", 1), 0);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
    EXPECT_EQ(RunLayer("LayerToFront", 6), ERR_LAYERRANGE);
}

TEST_F(LayerCmdsTest, SwapRefreshesTheUnionOfBothBoundsOnce) {
    Three();
    EXPECT_EQ(RunNumbers("SwapLayers", {2, 2}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("SwapLayers", {1, 3}), 0);
    EXPECT_EQ(BrushAt(1), 3);
    EXPECT_EQ(BrushAt(3), 1);
    const auto blits = null_backend::TakeBlits(display_);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].x, 10);
    EXPECT_EQ(blits[0].y, 10);
    EXPECT_EQ(blits[0].width, 20);
    EXPECT_EQ(blits[0].height, 20);
    EXPECT_EQ(Real(19, 19), kRed);
    EXPECT_EQ(Real(16, 16), kRed);
    EXPECT_EQ(Real(26, 26), kBlue);
    // A layer off the picture: nothing to show.
    ASSERT_EQ(RunNumbers("TranslateLayer", {3, 200, 0}), 0);
    null_backend::TakeBlits(display_);
    ASSERT_EQ(RunNumbers("SwapLayers", {3, 1}), 0);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
}

TEST_F(LayerCmdsTest, TranslateMovesByTheOffset) {
    Three();
    ASSERT_EQ(RunNumbers("TranslateLayer", {3, -5, 30}), 0);
    EXPECT_EQ(Layer(3)->basestate->x, 15);
    EXPECT_EQ(Layer(3)->basestate->y, 50);
    EXPECT_EQ(Real(16, 51), kBlue);
    EXPECT_EQ(Real(26, 26), 0u);
    EXPECT_EQ(null_backend::TakeBlits(display_).size(), 1u);
}

TEST_F(LayerCmdsTest, ARefusedNameKeepsTheOldOne) {
    Three();
    EXPECT_EQ(SetName(1, "green"), ERR_NAMEUSED);
    EXPECT_EQ(SetName(1, std::string(256, 'n')), ERR_NAMETOOLONG);
    EXPECT_TRUE(Exists("red"));
    EXPECT_EQ(Layer(1)->name, "red");
    // The layer's own name does not count as taken; letter case aside.
    ASSERT_EQ(SetName(1, "RED"), 0);
    EXPECT_TRUE(Exists("red"));
    const std::string longest(255, 'x');
    ASSERT_EQ(SetName(1, longest), 0);
    EXPECT_TRUE(Exists(longest.c_str()));
    // Position 0 names the top layer; an empty name removes it.
    ASSERT_EQ(SetName(0, "top"), 0);
    EXPECT_EQ(Layer(3)->name, "top");
    EXPECT_FALSE(Exists("blue"));
    ASSERT_EQ(SetName(3, ""), 0);
    EXPECT_FALSE(Exists("top"));
    EXPECT_EQ(SetName(4, "four"), ERR_LAYERRANGE);
}

TEST_F(LayerCmdsTest, CommandsNeedLayersOn) {
    Three();
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(RunLayer("HideLayer", 1), ERR_NOLAYERS);
    EXPECT_EQ(RunLayer("RemoveLayer", 1), ERR_NOLAYERS);
    EXPECT_EQ(RunNumbers("SwapLayers", {1, 2}), ERR_NOLAYERS);
    EXPECT_EQ(SetName(1, "x"), ERR_NOLAYERS);
}

TEST_F(LayerCmdsTest, ShadowAndBorderCheckTheirValuesBeforeTheGuard) {
    Three();
    const double shadowColour = double(0x80000000u);
    EXPECT_EQ(RunNumbers("SetLayerShadow", {1, 1, shadowColour, 0.5}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerShadow", {1, 1, shadowColour, 5, -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerShadow", {1, 1, shadowColour, 5, 4, 3, 0}), ERR_WRONGUSAGE);
    // A border whose picture no bitmap could hold would never show: refused
    // as a size below 1 is, and the layer keeps none.
    for (double size : {0.0, 40000.0, 2147483647.0})
        EXPECT_EQ(RunNumbers("SetLayerBorder", {1, 1, 0, size}), ERR_WRONGUSAGE) << size;
    EXPECT_EQ(Layer(1)->border.border, 0);
    // 11583 fits around one pixel, not around the layer's picture.
    EXPECT_EQ(RunNumbers("SetLayerBorder", {1, 1, 0, 11583}), ERR_WRONGUSAGE);
    EXPECT_EQ(Layer(1)->border.border, 0);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(RunNumbers("SetLayerShadow", {1, 1, shadowColour, 0.5}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerBorder", {1, 1, 0, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerBorder", {1, 1, 0, 40000}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetLayerBorder", {1, 1}), ERR_NOLAYERS);
}

TEST_F(LayerCmdsTest, BorderOnAndOffRefreshesItsBounds) {
    ASSERT_EQ(Add(3, 40, 40), 0);
    null_backend::TakeBlits(display_);
    ASSERT_EQ(RunNumbers("SetLayerBorder", {1, 1, double(kWhite), 3}), 0);
    EXPECT_EQ(Layer(1)->border.border, 1);
    EXPECT_EQ(Layer(1)->border.size, 3);
    EXPECT_EQ(null_backend::TakeBlits(display_).size(), 1u);
    EXPECT_EQ(Real(45, 45), kBlue);
    EXPECT_NE(Real(40 + 10 + 1, 45), 0u);  // the border lies outside the image
    ASSERT_EQ(RunNumbers("SetLayerBorder", {1, 0}), 0);
    EXPECT_EQ(Layer(1)->border.border, 0);
    EXPECT_EQ(Real(40 + 10 + 1, 45), 0u);
    // Off when off already: nothing to show.
    null_backend::TakeBlits(display_);
    ASSERT_EQ(RunNumbers("SetLayerBorder", {1, 0}), 0);
    EXPECT_TRUE(null_backend::TakeBlits(display_).empty());
    ASSERT_EQ(RunNumbers("SetLayerShadow", {1, 1}), 0);
    EXPECT_EQ(Layer(1)->shadow.shadow, 1);
    EXPECT_EQ(Layer(1)->shadow.colour, 0x80000000u);
    EXPECT_DOUBLE_EQ(Layer(1)->shadow.sigma, 5.0 / 3.0);
    ASSERT_EQ(RunNumbers("SetLayerShadow", {1, 0}), 0);
    EXPECT_EQ(Layer(1)->shadow.shadow, 0);
}

TEST_F(LayerCmdsTest, ShadowFallsItsSizeAwayInItsDirection) {
    ASSERT_EQ(Add(3, 40, 40), 0);
    const double opaqueRed = double(kRed);  // no transparency
    // Down and right by 6 (direction 3), hardly blurred.
    ASSERT_EQ(RunNumbers("SetLayerShadow", {1, 1, opaqueRed, 1, 6, 3}), 0);
    auto red = [&](int32_t x, int32_t y) { return (Real(x, y) >> 16 & 255) > 0x80 && (Real(x, y) & 255) < 0x40; };
    EXPECT_EQ(Real(44, 44), kBlue);
    EXPECT_TRUE(red(53, 53)) << std::hex << Real(53, 53);
    EXPECT_TRUE(red(48, 53)) << std::hex << Real(48, 53);
    EXPECT_FALSE(red(44, 53)) << "it starts its size away";
    EXPECT_FALSE(red(57, 57)) << "no farther than its size";
    EXPECT_FALSE(red(38, 44)) << "none to the left";
    // Up and left (direction 7): the shape moves its size away from the shadow.
    ASSERT_EQ(RunNumbers("SetLayerShadow", {1, 1, opaqueRed, 1, 6, 7}), 0);
    int32_t redPixels = 0, leftmostRed = 1000, topmostRed = 1000;
    for (int32_t y = 30; y < 70; ++y)
        for (int32_t x = 30; x < 70; ++x)
            if (red(x, y)) {
                ++redPixels;
                leftmostRed = std::min(leftmostRed, x);
                topmostRed = std::min(topmostRed, y);
            }
    EXPECT_GT(redPixels, 20);
    EXPECT_EQ(Real(leftmostRed + 1, topmostRed + 1) >> 16 & 255, 0xFFu);
    EXPECT_TRUE(red(leftmostRed + 1, topmostRed + 1));
    EXPECT_FALSE(red(leftmostRed + 7, topmostRed + 7)) << "the shape lies over the shadow 6 down and right";
}

TEST_F(LayerCmdsTest, CollisionOfBoxesBrushesAndLayers) {
    const auto collide = [&](std::initializer_list<double> args) {
        VmSetTop(L_, 0);
        for (double a : args) VmPushNumber(L_, a);
        const int err = Run("Collision", static_cast<int>(args.size()), 1);
        const int result = err ? -err : int(VmToNumber(L_, -1));
        VmSetTop(L_, 0);
        return result;
    };
    EXPECT_EQ(collide({14, 0, 0, 10, 10, 9, 9, 5, 5}), 1);
    EXPECT_EQ(collide({14, 0, 0, 10, 10, 10, 0, 5, 5}), 0);
    EXPECT_EQ(collide({2, 0, 0}), -ERR_WRONGUSAGE);
    EXPECT_EQ(collide({49}), -ERR_WRONGUSAGE);
    // Brush 5 is opaque in its left half only (its mask).
    MakeBrush(5, 10, 10, kRed);
    qbBrush* brush = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, {5, nullptr}, &brush, 0), 0);
    FreeMask(brush->mask);
    brush->mask = AllocMask(nullptr, 10, 10, true, nullptr, 0);
    FillMaskRect(brush->mask, 0, 0, 5, 10, kMaskVisible);
    EXPECT_EQ(collide({3, 5, 0, 0, 1, 5, 0}), 0);
    EXPECT_EQ(collide({3, 5, 0, 0, 1, 4, 0}), 1);
    EXPECT_EQ(collide({46, 5, 0, 0, 5, 0, 3, 3}), 0);
    EXPECT_EQ(collide({46, 5, 0, 0, 4, 9, 3, 3}), 1);
    EXPECT_EQ(collide({3, 99, 0, 0, 1, 0, 0}), -ERR_FINDBRUSH);
    // Layers at their shown places.
    ASSERT_EQ(Add(5, 20, 20), 0);
    ASSERT_EQ(Add(1, 25, 20), 0);
    ASSERT_EQ(Add(2, 26, 20), 0);
    EXPECT_EQ(collide({22, 1, 2}), 0);
    EXPECT_EQ(collide({22, 1, 3}), 0);
    EXPECT_EQ(collide({22, 2, 3}), 1);
    EXPECT_EQ(collide({47, 1, 24, 29, 1, 1}), 1);
    EXPECT_EQ(collide({47, 1, 25, 20, 5, 5}), 0);
    EXPECT_EQ(collide({22, 1, 4}), -ERR_LAYERRANGE);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(collide({22, 1, 2}), -ERR_NOLAYERS);
    EXPECT_EQ(collide({14, 0, 0, 10, 10, 9, 9, 5, 5}), 1);
}

TEST_F(LayerCmdsTest, FreeLayersKeepsThePictureOrShowsTheBareBGPic) {
    Three();
    ASSERT_EQ(Run("FreeLayers", 0), 0);
    EXPECT_EQ(CountLayers(Picture()), 0);
    // The layers are gone but their picture stays on screen.
    EXPECT_EQ(Real(12, 12), kRed);
    EXPECT_EQ(Shown(25, 25), kBlue);
    Three();
    ASSERT_EQ(RunNumbers("FreeLayers", {0}), 0);
    EXPECT_EQ(CountLayers(Picture()), 0);
    EXPECT_EQ(Real(12, 12), 0u);
    EXPECT_EQ(Shown(25, 25), 0u);
    // A new layer is shown on the bare picture.
    ASSERT_EQ(Add(2, 50, 50), 0);
    EXPECT_EQ(Real(55, 55), kGreen);
}

// A layer named in vain is named in the error, whichever command and
// argument took it: the stack, style, frame, drawing, collision and video
// commands alike. "?" marks the name; "{}" an empty table.
TEST_F(LayerCmdsTest, EveryCommandNamesAMissingLayer) {
    Three();
    const std::vector<std::vector<std::string>> calls = {
        {"GetLayerStyle", "?"},
        {"SelectLayer", "?"},
        {"SeekLayer", "?", "0"},
        {"SwapLayers", "?", "1"},
        {"SwapLayers", "1", "?"},
        {"LayerToFront", "?"},
        {"LayerToBack", "?"},
        {"ShowLayer", "?"},
        {"HideLayer", "?"},
        {"RemoveLayer", "?"},
        {"SetLayerTransparency", "?", "10"},
        {"SetLayerTint", "?", "10", "0"},
        {"NextFrame", "?"},
        {"ModifyLayerFrames", "?", "1"},
        {"Collision", "22", "?", "1"},
        {"Collision", "22", "1", "?"},
        {"ScaleLayer", "?", "20", "20"},
        {"RotateLayer", "?", "10"},
        {"SetLayerStyle", "?", "{}"},
        {"TransformLayer", "?", "1", "0", "0", "1"},
        {"SetLayerAnchor", "?", "0", "0"},
        {"SetLayerZPos", "?", "1"},
        {"SetLayerZPos", "1", "?"},
        {"TranslateLayer", "?", "1", "1"},
        {"SetLayerShadow", "?", "1"},
        {"SetLayerFilter", "?", "{}"},
        {"SetLayerBorder", "?", "1"},
        {"PlayLayer", "?"},
        {"StopLayer", "?"},
        {"PauseLayer", "?"},
        {"ResumeLayer", "?"},
        {"SetLayerVolume", "?", "64"},
        {"InsertLayer", "?", "3", "1", "0", "0"},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call[0] + " " + std::to_string(call.size() - 1));
        VmSetTop(L_, 0);
        SetErrorDetail("");
        for (size_t i = 1; i < call.size(); ++i) {
            const std::string& a = call[i];
            if (a == "?") VmPushString(L_, "nowhere");
            else if (a == "{}") VmPushNewTable(L_);
            else if (a[0] >= '0' && a[0] <= '9') VmPushNumber(L_, std::stod(a));
            else VmPushString(L_, a.c_str());
        }
        EXPECT_EQ(Run(call[0].c_str(), static_cast<int>(call.size() - 1)), ERR_FINDLAYER);
        char text[kErrorTextSize];
        GetErrorText(ERR_FINDLAYER, text);
        EXPECT_STREQ(text, "Cannot find layer \"nowhere\" in current BGPic!");
    }
    EXPECT_EQ(CountLayers(Picture()), 3);
    EXPECT_EQ(BrushAt(1), 1);
    EXPECT_EQ(BrushAt(3), 3);
}
