// Playing anims and showing their frames: PlayAnim synchronously and as an
// async-draw object, PlayAnimDisk, DisplayAnimFrame with layers off and on,
// timed by an injected frame-pacing clock, beside display 1 of the
// in-memory backend.
#include <gtest/gtest.h>

#include "animworld.h"

namespace {

class AnimPlayTest : public AnimWorld {};

}  // namespace

TEST_F(AnimPlayTest, SpeedsGiveTheDelaysBetweenFrames) {
    MakeAnim(1, 4, 4, {0x100000, 0x200000, 0x300000});
    int64_t start = clock_;
    ASSERT_EQ(Play(1, 0, 0, 5, 1), 0);
    // Three frames of 100 ms each: the vertical-blank waits fall inside them.
    EXPECT_EQ(clock_ - start, 300000);
    EXPECT_EQ(Shown(1, 1), 0x300001u);

    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 1, 10}), 0);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 2, 200}), 0);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 3, 50}), 0);
    start = clock_;
    ASSERT_EQ(Play(1, 0, 0, kDefaultSpeed, 1), 0);
    // The 10 ms frame still waits for its vertical blank.
    EXPECT_GE(clock_ - start, 260000);
    EXPECT_LE(clock_ - start, 270000);

    // Two passes at the fast speed take only the vertical blanks.
    start = clock_;
    ASSERT_EQ(Play(1, 0, 0, kFastSpeed, 2), 0);
    EXPECT_LE(clock_ - start, 6 * 16667);
    EXPECT_EQ(Anim(1)->lockCount, 0);

    // The file's own delays (3 jiffies = 50 ms) when none were set.
    VmSetTop(L_, 0);
    VmPushNumber(L_, 2);
    VmPushString(L_, WriteAnim("slow.anim", 3, 3).c_str());
    ASSERT_EQ(Run("LoadAnim", 2), 0);
    start = clock_;
    ASSERT_EQ(Play(2, 0, 0, kDefaultSpeed, 1), 0);
    EXPECT_EQ(clock_ - start, 150000);
}

TEST_F(AnimPlayTest, FramesDrawnOverTheSavedBackground) {
    MakeBrush(9, 100, 80, 0x0000FF);
    ASSERT_EQ(RunNumbers("DisplayBrush", {9, 0, 0}), 0);
    MakeAnim(1, 4, 3, {0x100000, 0x200000}, true);
    ASSERT_EQ(Play(1, 10, 20, kFastSpeed, 1), 0);
    EXPECT_EQ(Shown(10, 20), 0x0000FFu);  // the masked column keeps the background
    EXPECT_EQ(Shown(11, 20), 0x200001u);
    EXPECT_EQ(Shown(14, 20), 0x0000FFu);

    // Partly left of and above the picture: the visible part plays.
    ASSERT_EQ(Play(1, -2, -1, kFastSpeed, 1), 0);
    EXPECT_EQ(Shown(0, 0), 0x200002u);
    EXPECT_EQ(Shown(1, 1), 0x200003u);
    EXPECT_EQ(Shown(2, 0), 0x0000FFu);
    // Wholly left or above: nothing to play; wholly right: no bitmap.
    EXPECT_EQ(Play(1, -4, 0, kFastSpeed, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(Play(1, 0, -3, kFastSpeed, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(Play(1, 100, 0, kFastSpeed, 1), ERR_BITMAP);
    EXPECT_EQ(Anim(1)->lockCount, 0);

    // Position constants resolve against the anim's size.
    ASSERT_EQ(Play(1, -100000, -100000, kFastSpeed, 1), 0);
    EXPECT_EQ(Shown(49, 39), 0x200001u);
}

// Far past the picture on either side, and at the 32-bit limits (which a
// far place saturates to): nothing to play, nothing drawn, by PlayAnim and
// PlayAnimDisk alike.
TEST_F(AnimPlayTest, AnAnimFarOffThePictureEndsWithoutDrawing) {
    MakeBrush(9, 100, 80, 0x0000FF);
    ASSERT_EQ(RunNumbers("DisplayBrush", {9, 0, 0}), 0);
    MakeAnim(1, 4, 3, {0x100000, 0x200000});
    const std::string file = WriteAnim("far.anim", 3);
    for (double far : {-3e9, -2147483648.0, -2147483647.0, 3e9, 2147483647.0}) {
        for (bool onX : {true, false}) {
            const double x = onX ? far : 0, y = onX ? 0 : far;
            SCOPED_TRACE(testing::Message() << x << ", " << y);
            VmSetTop(L_, 0);
            for (double a : {1.0, x, y, double(kFastSpeed)}) VmPushNumber(L_, a);
            EXPECT_EQ(Run("PlayAnim", 4), far < 0 ? ERR_WRONGUSAGE : ERR_BITMAP);
            VmSetTop(L_, 0);
            VmPushString(L_, file.c_str());
            for (double a : {x, y}) VmPushNumber(L_, a);
            VmPushNil(L_);
            VmPushNumber(L_, kFastSpeed);
            EXPECT_EQ(Run("PlayAnimDisk", 5), far < 0 ? ERR_WRONGUSAGE : ERR_BITMAP);
            int changed = 0;
            for (int32_t j = 0; j < 80; ++j)
                for (int32_t i = 0; i < 100; ++i) changed += Shown(i, j) != 0x0000FFu;
            EXPECT_EQ(changed, 0);
        }
    }
    EXPECT_EQ(Anim(1)->lockCount, 0);
    EXPECT_EQ(CountAnims(), 1);
}

// Without a place the anim plays in the top left corner.
TEST_F(AnimPlayTest, PlayAnimWithoutAPlacePlaysAtTheOrigin) {
    MakeAnim(1, 4, 3, {0x100000, 0x200000});
    ASSERT_EQ(RunNumbers("PlayAnim", {1}), 0);
    EXPECT_EQ(Shown(0, 0), 0x200000u);
    EXPECT_EQ(Shown(3, 2), 0x200003u);
    EXPECT_EQ(Shown(0, 3), kBackground);
}

TEST_F(AnimPlayTest, AsyncPlayDrawsWhenDueAndLocksTheAnim) {
    ASSERT_EQ(RunNumbers("Cls", {kBackground}), 0);
    MakeAnim(1, 4, 4, {0x100000, 0x200000, 0x300000});
    ObjectID async;
    ASSERT_EQ(Play(1, 0, 0, 5, 0, true, &async), 0);
    ASSERT_NE(async.handle, nullptr);
    EXPECT_EQ(Shown(0, 0), kBackground);  // nothing until the script steps it

    EXPECT_EQ(RunNumbers("FreeAnim", {1}), ERR_LOCKEDOBJ);
    EXPECT_EQ(RunNumbers("ScaleAnim", {1, 8, 8}), ERR_LOCKEDOBJ);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 1}), ERR_LOCKEDOBJ);

    clock_ += 1;
    ASSERT_EQ(Step(async), 0);
    EXPECT_EQ(Shown(0, 0), 0x100000u);
    // Not due yet: the frame stays.
    clock_ += 50000;
    ASSERT_EQ(Step(async), 0);
    EXPECT_EQ(Shown(0, 0), 0x100000u);
    clock_ += 50001;
    ASSERT_EQ(Step(async), 0);
    EXPECT_EQ(Shown(0, 0), 0x200000u);
    // times 0 wraps to the first frame for ever.
    for (uint32_t colour : {0x300000u, 0x100000u, 0x200000u}) {
        clock_ += 100001;
        ASSERT_EQ(Step(async), 0);
        EXPECT_EQ(Shown(0, 0), colour);
    }
    VmSetTop(L_, 0);
    VmPushLightUserdata(L_, async.handle);
    ASSERT_EQ(Run("CancelAsyncDraw", 1), 0);
    EXPECT_EQ(Anim(1)->lockCount, 0);
    // The flag is read as the script's If reads it: 0.5 plays asynchronously
    // and answers its async-draw object.
    VmSetTop(L_, 0);
    for (double a : {1.0, 0.0, 0.0}) VmPushNumber(L_, a);
    VmPushNewTable(L_);
    SetTableFieldFloat(L_, "async", 0.5);
    ASSERT_EQ(Run("PlayAnim", 4, 1), 0);
    void* handle = VmToUserdata(L_, -1);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(Anim(1)->lockCount, 1);
    VmSetTop(L_, 0);
    VmPushLightUserdata(L_, handle);
    ASSERT_EQ(Run("CancelAsyncDraw", 1), 0);
    EXPECT_EQ(RunNumbers("FreeAnim", {1}), 0);
}

TEST_F(AnimPlayTest, OutputRefusalsAndTheSelectedAnim) {
    MakeAnim(1, 4, 4, {0x100000, 0x200000});
    MakeAnim(2, 4, 4, {0x300000});
    MakeBrush(5, 8, 8, 0x445566);
    ASSERT_EQ(RunNumbers("SelectBrush", {5}), 0);
    EXPECT_EQ(Play(1, 0, 0, kFastSpeed, 1), ERR_SELECTBRUSH);
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    ASSERT_EQ(RunNumbers("SelectMask", {5}), 0);
    EXPECT_EQ(Play(1, 0, 0, kFastSpeed, 1), ERR_SELECTMASK);
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    ASSERT_EQ(RunNumbers("SelectAlphaChannel", {5}), 0);
    EXPECT_EQ(Play(1, 0, 0, kFastSpeed, 1), ERR_SELECTALPHACHANNEL);
    ASSERT_EQ(RunNumbers("EndSelect", {}), 0);
    ASSERT_EQ(RunNumbers("SelectAnim", {2, 1}), 0);
    EXPECT_EQ(Play(1, 0, 0, kFastSpeed, 1), ERR_SELECTANIM);
    // Playing the anim that drawing goes into ends the selection.
    ASSERT_EQ(Play(2, 0, 0, kFastSpeed, 1), 0);
    EXPECT_EQ(Shown(0, 0), 0x300000u);
    EXPECT_EQ(display_->output.type, kObjectTypeDisplay);
    ASSERT_EQ(RunNumbers("BeginRefresh", {}), 0);
    EXPECT_EQ(Play(1, 0, 0, kFastSpeed, 1), ERR_BEGINREFRESH);
    ASSERT_EQ(RunNumbers("EndRefresh", {}), 0);
    EXPECT_EQ(Play(9, 0, 0, kFastSpeed, 1), ERR_FINDANIM);
}

TEST_F(AnimPlayTest, PlayAnimDiskFreesItsAnim) {
    const std::string file = WriteAnim("walk.anim", 3);
    VmSetTop(L_, 0);
    VmPushString(L_, file.c_str());
    for (double a : {0.0, 0.0}) VmPushNumber(L_, a);
    VmPushNil(L_);
    VmPushNumber(L_, kFastSpeed);
    ASSERT_EQ(Run("PlayAnimDisk", 5), 0);
    EXPECT_EQ(CountAnims(), 0);
    EXPECT_EQ(Shown(0, 0), 0x445566u);  // the last frame: (0 + 2) % 3

    // A file cut short fails in the middle of playback and still goes.
    std::vector<uint8_t> bytes = imagefixtures::ReadBytes(file);
    bytes.resize(bytes.size() - 8);
    const std::string cut = dir_.File("cut.anim");
    imagefixtures::WriteBytes(cut, bytes);
    VmSetTop(L_, 0);
    VmPushString(L_, cut.c_str());
    for (double a : {20.0, 0.0}) VmPushNumber(L_, a);
    VmPushNil(L_);
    VmPushNumber(L_, kFastSpeed);
    EXPECT_EQ(Run("PlayAnimDisk", 5), ERR_LOADFRAME);
    EXPECT_EQ(Shown(21, 0), 0x445566u);  // the two frames before the cut were played
    EXPECT_EQ(CountAnims(), 0);
}

TEST_F(AnimPlayTest, DisplayAnimFrameDrawsOrAddsALayer) {
    MakeAnim(1, 4, 3, {0x100000, 0x200000, 0x300000}, true);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 5, 6, 2}), 0);
    EXPECT_EQ(Shown(6, 6), 0x200001u);
    EXPECT_EQ(Shown(5, 6), kBackground);
    EXPECT_EQ(RunNumbers("DisplayAnimFrame", {1, 5, 6, 0}), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("DisplayAnimFrame", {1, 5, 6, 4}), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("DisplayAnimFrame", {7, 5, 6, 1}), ERR_FINDANIM);

    // With layers the frame becomes a layer, shown at once, pixel for pixel
    // as drawn without layers.
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 20, 6, 3}), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(Real(21, 6), 0x300001u);
    EXPECT_EQ(Real(20, 6), kBackground);
    // Freed while the layer shows it: the id is free, the layer keeps the frames.
    ASSERT_EQ(RunNumbers("FreeAnim", {1}), 0);
    MakeAnim(1, 2, 2, {0x400000});
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 0, 0, 1}), 0);
    EXPECT_EQ(Real(0, 0), 0x400000u);
}

TEST_F(AnimPlayTest, PlayAnimWithLayersStepsItsLayer) {
    MakeAnim(1, 4, 4, {0x100000, 0x200000, 0x300000});
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ObjectID async;
    ASSERT_EQ(Play(1, 2, 2, 5, 1, true, &async), 0);
    EXPECT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(Real(2, 2), 0x100000u);
    // A layer that the playback steps cannot be removed meanwhile.
    EXPECT_EQ(RunNumbers("RemoveLayer", {1}), ERR_REMADLAYER);
    for (uint32_t colour : {0x100000u, 0x200000u, 0x300000u}) {
        clock_ += 100001;
        ASSERT_EQ(Step(async), 0);
        EXPECT_EQ(Real(2, 2), colour);
    }
}

TEST_F(AnimPlayTest, AnimLayersStepByNextFrameAndDoMove) {
    MakeAnim(1, 4, 4, {0x100000, 0x200000, 0x300000});
    ASSERT_EQ(RunNumbers("EnableLayers", {}), 0);
    ASSERT_EQ(RunNumbers("InsertLayer", {0, 4, 1, 10, 10}), 0);
    EXPECT_EQ(Real(10, 10), 0x100000u);
    EXPECT_EQ(RunNumbers("NextFrame", {1}), 0);
    EXPECT_EQ(Real(10, 10), 0x200000u);
    EXPECT_EQ(RunNumbers("NextFrame", {1, 20, 10}), 0);
    EXPECT_EQ(Real(20, 10), 0x300000u);
    EXPECT_EQ(Real(10, 10), kBackground);
    EXPECT_EQ(RunNumbers("NextFrame", {1}), 0);  // past the last frame: the first
    EXPECT_EQ(Real(20, 10), 0x100000u);
    EXPECT_EQ(RunNumbers("NextFrame", {1, 100000, 100000, -1}), 0);
    EXPECT_EQ(Real(20, 10), 0x300000u);
    EXPECT_EQ(RunNumbers("NextFrame", {1, 100000, 100000, 4}), ERR_ANIMFRAME);
    MakeBrush(5, 4, 4, 0x445566);
    ASSERT_EQ(RunNumbers("DisplayBrush", {5, 0, 0}), 0);
    EXPECT_EQ(RunNumbers("NextFrame", {2}), ERR_NOANMLAYER);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 3, 70}), 0);
    // GetAttribute(#LAYER, 1, ...): frames, current frame, its delay, the anim.
    for (auto [attribute, want] : {std::pair{11, 3.0}, {12, 3.0}, {37, 70.0}, {82, 1.0}})
        EXPECT_EQ(Number("GetAttribute", {22, 1, double(attribute)}), want);
    for (double a : {22.0, 2.0, 11.0}) VmPushNumber(L_, a);
    EXPECT_EQ(Run("GetAttribute", 3, 1), ERR_BADLAYERTYPE);  // a brush layer has no frames
    VmSetTop(L_, 0);

    // The style row: "frame" picks a frame, "id" another anim from its first.
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "frame", 2);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);
    EXPECT_EQ(Real(20, 10), 0x200000u);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("GetLayerStyle", 1, 1), 0);
    int32_t frame = 0;
    GetTableFieldInt(L_, 1, "frame", &frame, nullptr);
    EXPECT_EQ(frame, 2);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "frame", 4);
    EXPECT_EQ(Run("SetLayerStyle", 2), ERR_ANIMFRAME);
    VmSetTop(L_, 0);
    MakeAnim(3, 4, 4, {0x600000, 0x700000});
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "type", 4);
    SetTableFieldInt(L_, "id", 3);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);  // the brush layer becomes an anim layer
    VmSetTop(L_, 0);
    EXPECT_EQ(Real(0, 0), 0x600000u);
    EXPECT_EQ(RunNumbers("NextFrame", {2}), 0);
    EXPECT_EQ(Real(0, 0), 0x700000u);
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "type", 3);
    SetTableFieldInt(L_, "id", 5);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);
    VmSetTop(L_, 0);

    // DoMove: NEXTFRAME steps every layer of the anim and moves it; an anim
    // no layer shows gets a new layer; NEXTFRAME2 steps by position.
    MakeAnim(2, 4, 4, {0x400000, 0x500000});
    VmSetTop(L_, 0);
    VmPushNil(L_);
    for (double a : {29.0, 1.0, 30.0, 30.0, 0.0}) VmPushNumber(L_, a);
    ASSERT_EQ(Run("AddMove", 6, 1), 0);
    void* queue = VmToUserdata(L_, -1);
    VmSetTop(L_, 0);
    auto add = [&](std::initializer_list<double> args) {
        VmPushLightUserdata(L_, queue);
        for (double a : args) VmPushNumber(L_, a);
        ASSERT_EQ(Run("AddMove", static_cast<int>(args.size()) + 1, 0), 0);
        VmSetTop(L_, 0);
    };
    add({29, 2, 50, 50, 0});
    VmPushLightUserdata(L_, queue);
    ASSERT_EQ(Run("DoMove", 1), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(Real(30, 30), 0x300000u);
    EXPECT_EQ(Real(20, 10), kBackground);
    EXPECT_EQ(Real(50, 50), 0x500000u);  // the frame after the first
    EXPECT_EQ(CountLayers(display_->bgpic), 3);

    VmPushNil(L_);
    for (double a : {34.0, 1.0, 0.0, 0.0, 0.0}) VmPushNumber(L_, a);
    ASSERT_EQ(Run("AddMove", 6, 1), 0);
    queue = VmToUserdata(L_, -1);
    VmSetTop(L_, 0);
    VmPushLightUserdata(L_, queue);
    ASSERT_EQ(Run("DoMove", 1), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(Real(30, 30), 0x100000u);  // stepped where it was, wrapping
    add({34, 2, 0, 0, 0});               // the brush layer
    VmPushLightUserdata(L_, queue);
    EXPECT_EQ(Run("DoMove", 1), ERR_WRONGUSAGE);
    VmSetTop(L_, 0);
}
