// The anim library's IsAnim and LoadAnimFrame, called as a script calls
// them, over ANIMs the builder writes.
#include <gtest/gtest.h>

#include "animbuilder.h"
#include "animtest.h"
#include "core/errors.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "imaging/giffixtures.h"
#include "media/animlib.h"
#include "objects/brush_fixture.h"

using animbuilder::AnimFile;
using animbuilder::DeltaOptions;
using animbuilder::Picture;
using animbuilder::Layout;

namespace {

class AnimLibTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        SetPicturesPending(false);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        layout_.width = 16;
        layout_.height = 2;
        layout_.planes = 2;
        layout_.masking = 2;
        layout_.transparent = 3;
        layout_.palette = {0x000000, 0x112233, 0x445566, 0x778899};
        AnimFile anim(layout_, Frame(0));
        for (int f = 1; f < 5; ++f) anim.AddDelta(Frame(f), DeltaOptions{});
        anim_ = dir_.File("walk.anim");
        imagefixtures::WriteBytes(anim_, anim.Build());
    }
    void TearDown() override {
        SetPicturesPending(true);
        BrushWorld::TearDown();
    }
    // Pixel x of row 0 has colour (x + frame) % 3; row 1 is all 3 (the
    // transparent index) but its first pixel.
    static Picture Frame(int f) {
        Picture p(32, 3);
        for (int x = 0; x < 16; ++x) p[static_cast<size_t>(x)] = static_cast<uint8_t>((x + f) % 3);
        p[16] = 1;
        return p;
    }
    int LoadFrame(int32_t id, double frame, const std::string& file,
                  std::initializer_list<std::pair<const char*, int32_t>> fields = {}) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, frame);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, v);
        return Run("LoadAnimFrame", 4);
    }
    double IsAnim(const std::string& file) {
        VmPushString(L_, file.c_str());
        if (Run("IsAnim", 1, 1) != 0) return -1;
        const double r = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return r;
    }

    imagefixtures::ScratchDir dir_;
    Layout layout_;
    std::string anim_;
};

}  // namespace

TEST_F(AnimLibTest, IsAnimAnswersForAnimsOnly) {
    EXPECT_EQ(IsAnim(anim_), 1);
    giffixtures::GifFile one(2, 2);
    one.Image(0, 0, 2, 2, {0, 1, 2, 3}, 2);
    const std::string gif = dir_.File("one.gif");
    imagefixtures::WriteBytes(gif, one.Bytes());
    EXPECT_EQ(IsAnim(gif), 0);
    EXPECT_EQ(IsAnim(dir_.File("missing.anim")), 0);
}

TEST_F(AnimLibTest, LoadAnimFrameMakesABrushOfOneFrame) {
    ASSERT_EQ(LoadFrame(1, 3, anim_), 0);
    qbBrush* b = Find(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 16);
    EXPECT_EQ(b->height, 2);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(ReadBitmapPixel(b->bitmap, x, 0, false), layout_.palette[static_cast<size_t>((x + 2) % 3)]);
    EXPECT_EQ(b->mask, nullptr);
    // -1 is the last frame; it replaces brush 1.
    ASSERT_EQ(LoadFrame(1, -1, anim_), 0);
    EXPECT_EQ(ReadBitmapPixel(Find(1)->bitmap, 0, 0, false), layout_.palette[1]);
    // The transparent index becomes the mask.
    ASSERT_EQ(LoadFrame(2, 1, anim_, {{"loadtransparency", 1}}), 0);
    qbBrush* keyed = Find(2);
    ASSERT_NE(keyed->mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(keyed->mask, 0, 1, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(keyed->mask, 1, 1, true), 0u);
    EXPECT_EQ(ReadBitmapPixel(keyed->mask, 1, 0, true), 1u);
}

TEST_F(AnimLibTest, LoadAnimFrameErrors) {
    EXPECT_EQ(LoadFrame(1, 0, anim_), ERR_ANIMFRAME);
    EXPECT_EQ(LoadFrame(1, 6, anim_), ERR_ANIMFRAME);
    EXPECT_EQ(LoadFrame(1, 1, anim_, {{"loadalpha", 1}, {"loadtransparency", 1}}), ERR_WRONGUSAGE);
    EXPECT_EQ(LoadFrame(1, 1, anim_, {{"loadtransparency", 1}, {"transparency", 0}}), ERR_WRONGUSAGE);
    EXPECT_EQ(LoadFrame(1, 1, anim_, {{"loadalpha", 1}}), ERR_NOALPHA);
    EXPECT_STREQ(GetErrorDetail(), anim_.c_str());
    EXPECT_EQ(LoadFrame(1, 1, dir_.File("missing")), ERR_READFILE);

    // A frame whose delta points outside its chunk.
    Layout plain = layout_;
    plain.masking = 0;
    AnimFile bad(plain, Frame(0));
    bad.AddRawDelta(animbuilder::Bytes(4, 0xFF), DeltaOptions{});
    bad.AddDelta(Frame(1), DeltaOptions{});
    const std::string badPath = dir_.File("bad.anim");
    imagefixtures::WriteBytes(badPath, bad.Build());
    EXPECT_EQ(LoadFrame(1, 1, badPath, {{"loadtransparency", 1}}), ERR_NOTRANSPARENCY);
    EXPECT_EQ(LoadFrame(1, 2, badPath), ERR_LOADFRAME);
    EXPECT_EQ(Find(1), nullptr);
}
