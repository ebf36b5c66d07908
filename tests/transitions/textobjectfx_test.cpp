// DisplayTextObjectFX: a text object shown by every effect ends where and
// as DisplayTextObject shows it, drawn into the window with layers off and
// as a new text-object layer with layers on.
#include <gtest/gtest.h>

#include "text/text.h"
#include "text/textlib.h"
#include "text/textobjects.h"
#include "transition_fixture.h"

namespace {

constexpr uint32_t kBlue = 0x0000FF, kYellow = 0xFFFF00, kRed = 0xFF0000;

class TextObjectEffects : public TransitionWorld {
protected:
    void SetUp() override {
        TransitionWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        ShowColourBGPic(3, kBlue);
        ASSERT_EQ(RunNumbers("CreateBGPic", {4, kW, kH, double(kBlue)}), 0);
        ASSERT_EQ(RunNumbers("SetFontColor", {double(kYellow)}), 0);
        // An edge puts the picture's top left before the text origin, so
        // the object's offsets matter.
        ASSERT_EQ(RunNumbers("SetFontStyle", {double(kTextEdge), double(kRed), 2}), 0);
        VmPushNumber(L_, 1);
        VmPushString(L_, "Hi!");
        ASSERT_EQ(Run("CreateTextObject", 2), 0);
        qbTextObject* o = nullptr;
        ASSERT_EQ(GetTextObject(L_, ObjectID{1, nullptr}, &o, 0), 0);
        ASSERT_NE(o->xOffset, 0);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeTextLibrary(L_);
        TransitionWorld::TearDown();
    }
    // The window after a bare BGPic is shown again and the command ran.
    Picture After(const char* command, std::initializer_list<double> args) {
        EXPECT_EQ(RunNumbers("DisplayBGPic", {4}), 0);
        EXPECT_EQ(RunNumbers("DisplayBGPic", {3}), 0);
        EXPECT_EQ(Snapshot(), Picture(size_t{kW} * kH, kBlue));
        frames_ = 0;
        EXPECT_EQ(RunNumbers(command, args), 0) << command;
        return Snapshot();
    }
    void EveryEffectEndsAsTheObjectShown() {
        const Picture expected = After("DisplayTextObject", {1, 30, 25});
        int32_t ink = 0;
        for (uint32_t p : expected) ink += p != kBlue;
        ASSERT_GT(ink, 40);
        if (display_->layersEnabled) {
            ASSERT_EQ(Run("FreeLayers", 0), 0);
            EnableLayers();
        }
        for (int32_t type = 0; type < 140; ++type) {
            if (type == 113) continue;
            const int32_t layersBefore = CountLayers(display_->bgpic);
            const Picture shown = After("DisplayTextObjectFX", {1, 30, 25, double(type), 12});
            EXPECT_EQ(shown, expected) << "type " << type;
            EXPECT_GT(frames_, 0) << "type " << type;
            if (display_->layersEnabled) {
                // DisplayBGPic keeps the stack: the effect adds one on top.
                ASSERT_EQ(CountLayers(display_->bgpic), layersBefore + 1) << type;
                const qbLayer* top = GetLayerByIndex(display_->bgpic, CountLayers(display_->bgpic));
                ASSERT_NE(top, nullptr);
                EXPECT_EQ(top->type, kLayerTextObject) << type;
                EXPECT_EQ(top->hidden, 0) << type;
                ASSERT_EQ(Run("FreeLayers", 0), 0);
                EnableLayers();
            }
        }
    }
};

TEST_F(TextObjectEffects, EveryEffectWithLayersOff) { EveryEffectEndsAsTheObjectShown(); }

TEST_F(TextObjectEffects, EveryEffectWithLayersOn) {
    EnableLayers();
    EveryEffectEndsAsTheObjectShown();
}

TEST_F(TextObjectEffects, PositionConstantsAndUnknownObjects) {
    const Picture expected = After("DisplayTextObject", {1, double(kPositionCenter), double(kPositionCenter)});
    EXPECT_EQ(After("DisplayTextObjectFX", {1, double(kPositionCenter), double(kPositionCenter), 115, 50}), expected);
    EXPECT_EQ(RunNumbers("DisplayTextObjectFX", {2, 0, 0}), ERR_FINDTEXTOBJECT);
    // The object is free to change again once the effect is over.
    EXPECT_EQ(RunNumbers("FreeTextObject", {1}), 0);
}

}  // namespace
