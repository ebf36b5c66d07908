// Sprites shown over the picture without layers: frames, moves and the
// rectangles refreshed, the instance order under videos, removal, the
// layer and lookup errors, and freeing sprites that others link to.
#include "objects/sprite_fixture.h"
#include "platform/platform_ops.h"

namespace {

using SpriteShow = SpriteWorld;

TEST_F(SpriteShow, FrameZeroAdvancesAndTheSameFrameDrawsNothing) {
    FramesSprite(1, 3, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 10, 10}), 0);
    EXPECT_EQ(Real(12, 12), FrameColour(0));
    for (int expect : {1, 2, 0, 1}) {
        ASSERT_EQ(RunNumbers("DisplaySprite", {1, 10, 10}), 0);
        EXPECT_EQ(Real(12, 12), FrameColour(expect));
    }
    Blits();
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 10, 10, 2}), 0);
    EXPECT_TRUE(Blits().empty());
    EXPECT_EQ(RunNumbers("DisplaySprite", {1, 10, 10, 4}), 1094);
    EXPECT_EQ(RunNumbers("DisplaySprite", {1, 10, 10, -1}), 1094);
}

TEST_F(SpriteShow, MovesRefreshTheUnionOrBothRectanglesAndRestoreThePicture) {
    FramesSprite(1, 1, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 44, 10}), 0);
    Blits();
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 45, 10}), 0);
    auto near = Blits();
    ASSERT_EQ(near.size(), 1u);
    EXPECT_EQ(near[0].x, 44);
    EXPECT_EQ(near[0].width, 9);
    EXPECT_EQ(near[0].height, 8);
    EXPECT_EQ(Real(44, 12), 0x203040u);
    EXPECT_EQ(Real(52, 12), FrameColour(0));
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 70, 50}), 0);
    auto far = Blits();
    ASSERT_EQ(far.size(), 2u);
    EXPECT_EQ(far[0].x, 45);
    EXPECT_EQ(far[1].x, 70);
    EXPECT_EQ(Real(46, 12), 0x203040u);
    EXPECT_EQ(Real(52, 12), 0x405060u);
    EXPECT_EQ(Real(72, 52), FrameColour(0));
    // The picture itself never held the sprite.
    EXPECT_EQ(Shown(72, 52), 0x405060u);
    ASSERT_EQ(RunNumbers("RemoveSprite", {1}), 0);
    EXPECT_EQ(Real(72, 52), 0x405060u);
    EXPECT_EQ(InstanceCount(), 0);
}

TEST_F(SpriteShow, SpritesGoBelowVideosAndEveryInstanceStays) {
    FramesSprite(1, 1, 8, 8);
    FramesSprite(2, 1, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    int video = 0;
    qbSpriteInstance* v = nullptr;
    ASSERT_EQ(AddSpriteInstance(display_->bgpic, 0, 0, 20, 20, 1, nullptr, &video, nullptr, ObjectID{7, nullptr}, &v),
              0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 4, 4}), 0);
    const qbSpriteInstance* i = display_->bgpic->spriteInstances.get();
    ASSERT_EQ(InstanceCount(), 3);
    EXPECT_EQ(i->sprite, Sprite(1));
    EXPECT_EQ(i->next->sprite, Sprite(2));
    EXPECT_EQ(i->next->next.get(), v);
}

TEST_F(SpriteShow, RemovingASpriteNotShownNamesItAndLayersRefuseEveryShowingCommand) {
    FramesSprite(1, 1, 8, 8);
    EXPECT_EQ(RunNumbers("RemoveSprite", {1}), 1220);
    FramesBrush(91, 1, 8, 8);
    VmPushNil(L_);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 91);
    ASSERT_EQ(Run("CreateSprite", 3, 1), 0);
    ASSERT_EQ(VmType(L_, -1), kTypeLightUserdata);
    EXPECT_EQ(Run("RemoveSprite", 1), 1325);
    EXPECT_EQ(RunNumbers("RemoveSprite", {5}), 1219);

    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    EXPECT_EQ(EnableDisplayLayers(display_), ERR_NOSPRITES);
    ASSERT_EQ(RunNumbers("RemoveSprites", {}), 0);
    ASSERT_EQ(EnableDisplayLayers(display_), 0);
    EXPECT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 1162);
    EXPECT_EQ(RunNumbers("RemoveSprite", {1}), 1162);
    EXPECT_EQ(RunNumbers("RemoveSprites", {1}), 1162);
}

TEST_F(SpriteShow, FreeingALinkedToSpriteFreesItsLinksAndTakesThemOffScreen) {
    FramesSprite(1, 2, 8, 8);
    FramesSprite(2, 3, 8, 8);
    ASSERT_EQ(RunNumbers("CreateSprite", {3, 32, 1, 2}), 0);
    EXPECT_EQ(Sprite(3)->frameCount, 5);
    ASSERT_EQ(RunNumbers("DisplaySprite", {3, 20, 20, 4}), 0);
    EXPECT_EQ(Real(22, 22), FrameColour(1));  // sprite 2's second frame
    EXPECT_EQ(RunNumbers("ScaleSprite", {1, 16, 16}), 1228);
    EXPECT_EQ(RunNumbers("FlipSprite", {3, 1}), 1227);
    ASSERT_EQ(RunNumbers("FreeSprite", {2}), 0);
    EXPECT_EQ(Sprite(3), nullptr);
    EXPECT_EQ(InstanceCount(), 0);
    EXPECT_EQ(Real(22, 22), 0x203040u);
    EXPECT_NE(Sprite(1), nullptr);
    EXPECT_EQ(RunNumbers("FreeSprite", {2}), 1219);
}

TEST_F(SpriteShow, ASpriteMadeOfTheOneWhoseNumberItTakesIsRefused) {
    FramesSprite(4, 2, 8, 8);
    FramesSprite(5, 1, 8, 8);
    qbSprite* four = Sprite(4);
    qbSprite* five = Sprite(5);
    EXPECT_EQ(RunNumbers("CreateSprite", {4, 32, 4}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("CreateSprite", {5, 32, 4, 5}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("CreateSprite", {3, 32, 4}), 0);
    EXPECT_EQ(RunNumbers("CopySprite", {3, 4}), ERR_WRONGUSAGE);
    EXPECT_EQ(Sprite(4), four);
    EXPECT_EQ(Sprite(5), five);
    ASSERT_NE(Sprite(3), nullptr);
    int count = 0;
    for (const qbSprite* s = FirstSprite(); s; s = static_cast<const qbSprite*>(s->next)) ++count;
    EXPECT_EQ(count, 3) << "a refused sprite is not left on the list";
    // Taking the number of a sprite it is not made of replaces as ever.
    ASSERT_EQ(RunNumbers("CreateSprite", {5, 32, 4}), 0);
    EXPECT_EQ(Sprite(5)->frameCount, 2);
}

TEST_F(SpriteShow, SpriteListsNeedOneSizeAndNoLinkedSprites) {
    FramesSprite(1, 1, 8, 8);
    FramesSprite(2, 1, 8, 9);
    EXPECT_EQ(RunNumbers("CreateSprite", {3, 32, 1, 2}), 1382);
    ASSERT_EQ(RunNumbers("CreateSprite", {3, 32, 1, 1}), 0);
    EXPECT_EQ(RunNumbers("CreateSprite", {4, 32, 1, 3}), 1381);
    EXPECT_EQ(RunNumbers("CreateSprite", {4, 32, 1, 77}), 1219);
    EXPECT_EQ(Sprite(4), nullptr);
}

TEST_F(SpriteShow, GridsCutRowByRowAndAreCheckedAgainstTheBrush) {
    MakeBrush(5, 16, 24, 0);
    qbBrush* b = nullptr;
    ASSERT_EQ(GetBrushRecord(L_, ObjectID{5, nullptr}, &b, 0), 0);
    for (int i = 0; i < 6; ++i) FillBitmapRect(b->bitmap, (i % 2) * 8, (i / 2) * 8, 8, 8, FrameColour(i));
    // Five frames two to a row: three rows.
    ASSERT_EQ(RunNumbers("CreateSprite", {1, 3, 5, 8, 8, 5, 2}), 0);
    qbBitmap *bm, *m, *a;
    ASSERT_EQ(Sprite(1)->frameCount, 5);
    ASSERT_EQ(GetSpriteFrameImage(Sprite(1), 5, &bm, &m, &a), 0);
    EXPECT_EQ(ReadBitmapPixel(bm, 3, 3, false), FrameColour(4));
    EXPECT_EQ(GetSpriteFrameImage(Sprite(1), 6, &bm, &m, &a), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("CreateSprite", {2, 3, 5, 8, 9, 5, 2}), 1156);
    EXPECT_EQ(RunNumbers("CreateSprite", {2, 3, 5, 9, 8, 4, 2}), 1156);
    EXPECT_EQ(RunNumbers("CreateSprite", {2, 3, 5, 8, 8, 4, 2, -1}), 1154);
    EXPECT_EQ(RunNumbers("CreateSprite", {2, 3, 5, 8, 8, 0, 2}), 1055);
    // Without a grid the whole brush is one frame.
    ASSERT_EQ(RunNumbers("CreateSprite", {2, 3, 5}), 0);
    EXPECT_EQ(Sprite(2)->frameCount, 1);
    EXPECT_EQ(Sprite(2)->height, 24);
    // A grid needs both sizes: a height alone is still the whole brush.
    ASSERT_EQ(RunNumbers("CreateSprite", {3, 3, 5, 0, 8}), 0);
    EXPECT_EQ(Sprite(3)->frameCount, 1);
    EXPECT_EQ(Sprite(3)->width, 16);
    EXPECT_EQ(Sprite(3)->height, 24);
}

TEST_F(SpriteShow, ChangingCommandsRefuseShownLockedAndLinkedSprites) {
    FramesSprite(1, 2, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    EXPECT_EQ(RunNumbers("ScaleSprite", {1, 16, 16}), 1227);
    Sprite(1)->useCount = 1;
    EXPECT_EQ(RunNumbers("ScaleSprite", {1, 16, 16}), 1314);
    EXPECT_EQ(RunNumbers("RemoveSprites", {}), 1314);
    EXPECT_EQ(RunNumbers("FreeSprite", {1}), 1314);
    Sprite(1)->useCount = 0;
    ASSERT_EQ(RunNumbers("RemoveSprite", {1}), 0);
    ASSERT_EQ(RunNumbers("ScaleSprite", {1, 16, 4}), 0);
    qbBitmap *bm, *m, *a;
    ASSERT_EQ(GetSpriteFrameImage(Sprite(1), 2, &bm, &m, &a), 0);
    EXPECT_EQ(bm->width, 16);
    EXPECT_EQ(bm->height, 4);
    EXPECT_EQ(ReadBitmapPixel(bm, 9, 2, false), FrameColour(1));
}

TEST_F(SpriteShow, FlipSpriteMirrorsEveryFrameEitherWay) {
    FramesSprite(1, 2, 8, 8);
    const uint32_t marks[] = {0x112233, 0x445566};
    for (size_t f = 0; f < 2; ++f) WriteBitmapPixel(Sprite(1)->bitmaps[f].get(), 1, 2, marks[f], false);
    auto at = [&](int32_t frame, int32_t x, int32_t y) {
        qbBitmap *bm, *m, *a;
        EXPECT_EQ(GetSpriteFrameImage(Sprite(1), frame, &bm, &m, &a), 0);
        return ReadBitmapPixel(bm, x, y, false) & 0xFFFFFFu;
    };
    ASSERT_EQ(RunNumbers("FlipSprite", {1, 1}), 0);  // left for right
    for (int32_t f = 0; f < 2; ++f) {
        EXPECT_EQ(at(f + 1, 6, 2), marks[f]) << "frame " << f + 1;
        EXPECT_NE(at(f + 1, 1, 2), marks[f]) << "frame " << f + 1;
    }
    ASSERT_EQ(RunNumbers("FlipSprite", {1, 0}), 0);  // top for bottom
    for (int32_t f = 0; f < 2; ++f) EXPECT_EQ(at(f + 1, 6, 5), marks[f]) << "frame " << f + 1;
}

TEST_F(SpriteShow, FailedReplacementsKeepTheOldSprite) {
    FramesSprite(1, 2, 8, 8);
    qbSprite* before = Sprite(1);
    VmPushNumber(L_, 1);
    VmPushString(L_, "missing.png");
    EXPECT_NE(Run("LoadSprite", 2), 0);
    EXPECT_EQ(Sprite(1), before);
    EXPECT_EQ(RunNumbers("CreateSprite", {1, 3, 424242}), 1174);
    EXPECT_EQ(Sprite(1), before);
    EXPECT_EQ(RunNumbers("CopySprite", {1, 1}), 1055);
    ASSERT_EQ(RunNumbers("CopySprite", {1, 2}), 0);
    ASSERT_EQ(RunNumbers("FlipSprite", {1, 1}), 0);
    qbBitmap *bm, *m, *a;
    ASSERT_EQ(GetSpriteFrameImage(Sprite(2), 1, &bm, &m, &a), 0);
    EXPECT_NE(bm, before->bitmaps[0].get());
    EXPECT_EQ(Sprite(2)->frameCount, 2);
}

}  // namespace

namespace {

// The in-memory backend whose bitmaps run out after a number of them.
int bitmapsLeft = -1;
qbNativeBitmap* ScarceBitmap(int width, int height) {
    if (bitmapsLeft == 0) return nullptr;
    if (bitmapsLeft > 0) --bitmapsLeft;
    return NullPlatformOps().AllocPlatformBitmap(width, height);
}

TEST_F(SpriteShow, RunningOutOfBitmapsLeavesNoSpriteAndNothingBehind) {
    FramesSprite(1, 3, 8, 8);
    qbSprite* one = Sprite(1);
    one->masks[1].reset(AllocMask(one->bitmaps[1].get(), 8, 8, true, nullptr, 0));
    one->alphas[2].reset(AllocAlphaChannel(8, 8, true, nullptr, 0));
    FramesBrush(92, 4, 8, 8);
    qbPlatformOps scarce = NullPlatformOps();
    scarce.AllocPlatformBitmap = ScarceBitmap;
    SetPlatformBackend(&scarce);
    bool copied = false, created = false;
    for (int n = 0; n < 12 && !(copied && created); ++n) {
        bitmapsLeft = n;
        const int copy = RunNumbers("CopySprite", {1, 2});
        EXPECT_TRUE(copy == 0 || copy == ERR_MEM) << n << " " << copy;
        EXPECT_EQ(Sprite(2) != nullptr, copy == 0);
        copied = copied || copy == 0;
        bitmapsLeft = n;
        const int create = RunNumbers("CreateSprite", {3, 3, 92, 8, 8, 4});
        EXPECT_TRUE(create == 0 || create == ERR_BITMAP) << n << " " << create;
        EXPECT_EQ(Sprite(3) != nullptr, create == 0);
        created = created || create == 0;
    }
    bitmapsLeft = -1;
    SetPlatformBackend(&NullPlatformOps());
    EXPECT_TRUE(copied && created);
    EXPECT_EQ(Sprite(2)->frameCount, 3);
    EXPECT_EQ(Sprite(3)->frameCount, 4);
}

}  // namespace
