// The display list: creation with its replacements and refusals, freeing in
// its order of refusals, the display's own BGPic before and after the first
// display opens, and start-up.
#include <cstring>

#include "core/eventqueue.h"
#include "display/displayhooks.h"
#include "display_fixture.h"
#include "imaging/imagehandle.h"
#include "vm/vm.h"

namespace {

int NoHook(qbDisplayHook*, int, const void*, void*) { return 0; }

int DisplayCount() {
    int n = 0;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) ++n;
    return n;
}

using DisplayListTest = DisplayWorld;

}  // namespace

TEST_F(DisplayListTest, AnExistingIdIsFreedBeforeItsReplacementUnlessItIsCurrent) {
    qbDisplayOptions first;
    first.title = "first";
    Make(5, first);
    qbDisplayOptions second;
    second.title = "second";
    qbDisplay* d = Make(5, second);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(DisplayCount(), 1);
    EXPECT_STREQ(FirstDisplay()->title, "second");
    // The first display's own BGPic went with it.
    EXPECT_EQ(CountBGPics(), 1);
    qbDisplay* found = nullptr;
    ASSERT_EQ(GetDisplayRecord(ObjectID{5, nullptr}, &found), 0);
    EXPECT_EQ(found, d);

    // Replacing the current display is refused and keeps it.
    FreeAllDisplays(nullptr);
    d = MakeOpen(1);
    qbDisplay* out = nullptr;
    EXPECT_EQ(CreateDisplay(nullptr, NewObjectID{1, 0}, nullptr, &out), ERR_FREEADISPLAY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(FirstDisplay(), d);
    EXPECT_EQ(DisplayCount(), 1);
}

TEST_F(DisplayListTest, NilGivesAnAutomaticIdPushedAsItsHandle) {
    ScriptState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    qbDisplay* d = nullptr;
    EXPECT_EQ(CreateDisplay(L, NewObjectID{0, 1}, nullptr, &d), 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->id, 0);
    EXPECT_EQ(d->handle, d);
    ASSERT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(VmType(L, -1), kTypeLightUserdata);
    EXPECT_EQ(VmToUserdata(L, -1), d);
    qbDisplay* found = nullptr;
    EXPECT_EQ(GetDisplayRecord(ObjectID{0, d}, &found), 0);
    EXPECT_EQ(found, d);
    FreeAllDisplays(L);
    FreeAllBGPics(L);
    VmClose(L);
}

TEST_F(DisplayListTest, DefaultsAndTitleLimit) {
    qbDisplay* d = Make(2);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->title, "Quenbrook");
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_EQ(d->x, -100000);
    qbDisplayOptions o;
    o.title = std::string(255, 'a');
    EXPECT_NE(Make(3, o), nullptr);
    o.title = std::string(256, 'a');
    qbDisplay* out = nullptr;
    EXPECT_EQ(CreateDisplay(nullptr, NewObjectID{4, 0}, &o, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(DisplayCount(), 2);
}

TEST_F(DisplayListTest, VideoRecordingRefusesAnotherDisplay) {
    SetVideoRecording(true);
    qbDisplay* out = nullptr;
    EXPECT_EQ(CreateDisplay(nullptr, NewObjectID{1, 0}, nullptr, &out), ERR_VIDRECMULTI);
    EXPECT_EQ(Text(ERR_VIDRECMULTI), "Cannot use multiple displays while in video recording mode!");
    EXPECT_EQ(DisplayCount(), 0);
}

TEST_F(DisplayListTest, FreeRefusesInOrderWithTheirTexts) {
    qbDisplay* current = MakeOpen(1);
    qbDisplay* other = Make(2);
    // The current display is refused before its hooks are looked at.
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &NoHook, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{1, nullptr}, true), ERR_FREEADISPLAY);
    EXPECT_EQ(Text(ERR_FREEADISPLAY), "Cannot free the active display!");

    qbDisplayHook* hook = AddDisplayHook(ObjectID{2, nullptr}, &NoHook, nullptr, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{2, nullptr}, true), ERR_SATFREEDISP);
    EXPECT_EQ(Text(ERR_SATFREEDISP), "Cannot free display before attached satellites have been detached!");
    RemoveDisplayHook(hook);
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{2, nullptr}, true), 0);
    EXPECT_EQ(FirstDisplay(), current);
    EXPECT_EQ(NextDisplay(current), nullptr);
    (void)other;
}

TEST_F(DisplayListTest, NotFoundIsReportedOnlyWhenAsked) {
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{7, nullptr}, false), 0);
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{7, nullptr}, true), ERR_FINDDISPLAY);
    EXPECT_EQ(Text(ERR_FINDDISPLAY), "Could not find display 7!");
    int marker = 0;
    EXPECT_EQ(GetDisplayRecord(ObjectID{0, &marker}, nullptr), ERR_FINDARRAY);
}

TEST_F(DisplayListTest, FreeingAnOpenDisplayClosesItsWindowAndOrphansItsEvents) {
    MakeOpen(1);
    qbDisplay* second = Make(2);
    null_backend::SetWindowSize(second, 8, 8);
    ASSERT_EQ(OpenDisplayWindow(nullptr, second, 0), 0);
    ASSERT_NE(null_backend::GetSurface(second), nullptr);
    ASSERT_EQ(InitEventQueue(), 0);
    ASSERT_EQ(PostEvent(second, kEventKey, 1, 0, 65, nullptr), 1);
    EXPECT_EQ(FreeDisplayCore(nullptr, ObjectID{2, nullptr}, true), 0);
    EXPECT_EQ(null_backend::GetSurface(second), nullptr);
    LockEventQueue();
    qbInputEvent e;
    ASSERT_EQ(PeekQueuedEvent(nullptr, 0, &e, 0), 1);
    EXPECT_EQ(e.display, nullptr);
    UnlockEventQueue();
    ClearEventQueue(nullptr);
}

TEST_F(DisplayListTest, ADisplayMadeBeforeTheFirstOpensWaitsInAPixelBuffer) {
    qbDisplayOptions o;
    o.width = 4;
    o.height = 3;
    o.fill.colour = 0xFF336699;  // the fill is a plain colour: the alpha byte goes
    o.flags = kDisplayActivate;
    qbDisplay* d = Make(1, o);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->bgpic, nullptr);
    EXPECT_TRUE(d->bgpic->madeByDisplay);
    EXPECT_EQ(d->bgpic->current.bitmap, nullptr);
    ASSERT_NE(d->bgpic->source, nullptr);
    EXPECT_EQ(GetImageHandlePixels(d->bgpic->source)[5], 0x336699u);
    // The BGPic of display 1 takes id 1.
    EXPECT_EQ(d->bgpic->id, 1);

    null_backend::SetWindowSize(d, 4, 3);
    ASSERT_EQ(StartDisplays(nullptr), 0);
    EXPECT_EQ(d->bgpic->source, nullptr);
    ASSERT_NE(d->bgpic->current.bitmap, nullptr);
    EXPECT_EQ(ReadBitmapPixel(d->bgpic->current.bitmap, 3, 2, false), 0x336699u);
    const null_backend::Surface* s = null_backend::GetSurface(d);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->At(3, 2) & 0xFFFFFFu, 0x336699u);
    EXPECT_EQ(GetCurrentDisplay(), d);
    EXPECT_EQ(GetCurrentBGPic(), d->bgpic);
    EXPECT_FALSE(PicturesPending());
}

TEST_F(DisplayListTest, DisplayOneReplacesAWaitingBGPicOne) {
    qbBGPic* old = nullptr;
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{1, 0}, 0, 2, 2, 2, NewImageHandleBuffer(2, 2), nullptr, nullptr, -1,
                               nullptr, nullptr, nullptr, &old),
              0);
    qbDisplay* d = Make(1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(CountBGPics(), 1);
    EXPECT_NE(FirstBGPic(), nullptr);
    EXPECT_EQ(FirstBGPic(), d->bgpic);
}

TEST_F(DisplayListTest, ATextureBackdropWithoutItsBrushIsRefusedWithoutLeftovers) {
    qbDisplayOptions o;
    o.fill.style = kFillTexture;
    o.fill.textureBrush = ObjectID{5, nullptr};
    qbDisplay* out = nullptr;
    EXPECT_EQ(CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &out), ERR_FINDBRUSH);
    EXPECT_EQ(DisplayCount(), 0);
    EXPECT_EQ(CountBGPics(), 0);
}

TEST_F(DisplayListTest, StartOpensTheVisibleDisplaysAndChoosesTheActiveOne) {
    qbDisplayOptions plain;
    plain.width = plain.height = 8;
    qbDisplay* one = Make(1, plain);
    qbDisplayOptions hidden = plain;
    hidden.hidden = true;
    hidden.flags = kDisplayActivate;
    qbDisplay* two = Make(2, hidden);
    qbDisplayOptions active = plain;
    active.flags = kDisplayActivate;
    qbDisplay* three = Make(3, active);
    ASSERT_EQ(StartDisplays(nullptr), 0);
    EXPECT_EQ(one->state, DISPSTATE_OPEN);
    EXPECT_EQ(two->state, DISPSTATE_CLOSED);
    EXPECT_EQ(three->state, DISPSTATE_OPEN);
    EXPECT_EQ(GetCurrentDisplay(), three);

    // Without an active display, display 1 is current.
    FreeAllDisplays(nullptr);
    Make(2);
    one = Make(1);
    ASSERT_EQ(StartDisplays(nullptr), 0);
    EXPECT_EQ(GetCurrentDisplay(), one);
}

TEST_F(DisplayListTest, StartUpLinesAreQuietUnderQuiet) {
    Make(1);
    SetRuntimeTag(kTagQuiet, 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(StartDisplays(nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Preparing display...done\nAnd Action!\n");
    FreeAllDisplays(nullptr);
    Make(1);
    SetRuntimeTag(kTagQuiet, 1);
    testing::internal::CaptureStdout();
    ASSERT_EQ(StartDisplays(nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(DisplayListTest, AFailedPlatformStartCheckIsAWindowError) {
    qbPlatformOps ops = NullPlatformOps();
    ops.NoPlatformHook = [] { return 1; };
    SetPlatformBackend(&ops);
    Make(1);
    EXPECT_EQ(StartDisplays(nullptr), ERR_WINDOW);
    EXPECT_EQ(Text(ERR_WINDOW), "Unable to open window!");
    SetPlatformBackend(nullptr);
}

TEST_F(DisplayListTest, AShownBGPicOutlivesItsIdUntilNothingShowsIt) {
    qbDisplay* d = MakeOpen(1);
    qbBGPic* shown = d->bgpic;
    ASSERT_EQ(shown->id, 1);
    EXPECT_EQ(FreeBGPicCore(nullptr, ObjectID{1, nullptr}, true), 0);
    EXPECT_TRUE(shown->pendingFree);
    EXPECT_EQ(shown->handle, shown);
    qbBGPic* found = nullptr;
    EXPECT_EQ(GetBGPic(nullptr, ObjectID{1, nullptr}, &found, 0), ERR_FINDBGPIC);
    EXPECT_EQ(Text(ERR_FINDBGPIC), "Could not find BGPic 1!");
    // The id is free at once.
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{1, 0}, 0, 1, 1, 1, nullptr, AllocBitmap(1, 1, 0, nullptr), nullptr, -1,
                               nullptr, nullptr, nullptr, &found),
              0);
    FreeUnusedPendingBGPics(nullptr);
    EXPECT_EQ(CountBGPics(), 2);
    EXPECT_EQ(FreeBGPicCore(nullptr, ObjectID{9, nullptr}, false), 0);
    EXPECT_EQ(FreeBGPicCore(nullptr, ObjectID{9, nullptr}, true), ERR_FINDBGPIC);
}

TEST_F(DisplayListTest, ALockedBGPicCannotBeFreed) {
    qbBGPic* p = nullptr;
    ASSERT_EQ(AllocBGPicRecord(NewObjectID{3, 0}, 0, 1, 1, 1, nullptr, AllocBitmap(1, 1, 0, nullptr), nullptr, -1,
                               nullptr, nullptr, nullptr, &p),
              0);
    p->locked = 1;
    EXPECT_EQ(FreeBGPicCore(nullptr, ObjectID{3, nullptr}, false), ERR_LOCKEDOBJ);
    p->locked = 0;
    EXPECT_EQ(FreeBGPicCore(nullptr, ObjectID{3, nullptr}, false), 0);
    EXPECT_EQ(CountBGPics(), 0);
}
