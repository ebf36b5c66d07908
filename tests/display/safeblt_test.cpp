// SafeBlt and the refresh: empty blits draw and refresh nothing, blits for a
// display reach its window, clip regions cut through their mask, selected
// targets keep their planes, refresh blocks hold drawing back, and pictures
// queued by worker threads are drawn on the main thread.
#include <thread>
#include <vector>

#include "display/displayhooks.h"
#include "display/output.h"
#include "display_fixture.h"

namespace {

class SafeBltTest : public DisplayWorld {
protected:
    static qbSafeBlt Blit(qbBitmap* source, qbBitmap* destination, int32_t w, int32_t h) {
        qbSafeBlt b;
        b.source = source;
        b.destination = destination;
        b.width = w;
        b.height = h;
        b.srcWidth = source->width;
        b.srcHeight = source->height;
        b.dstWidth = destination ? destination->width : 64;
        b.dstHeight = destination ? destination->height : 48;
        return b;
    }
};

uint32_t Window(const qbDisplay* d, int x, int y) { return null_backend::GetSurface(d)->At(x, y) & 0xFFFFFFu; }

int blitHooks = 0;
std::vector<std::thread::id> hookThreads;

int CountBlits(qbDisplayHook*, int kind, const void*, void*) {
    if (kind == kDrawHookBlit) {
        ++blitHooks;
        hookThreads.push_back(std::this_thread::get_id());
    }
    return 0;
}

}  // namespace

TEST_F(SafeBltTest, EmptyBlitsDrawAndRefreshNothing) {
    qbDisplay* d = MakeOpen(1);
    blitHooks = 0;
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &CountBlits, nullptr, nullptr, 0), nullptr);
    BitmapPtr red = FilledBitmap(8, 8, 0xFF0000);
    qbBitmap* buffer = d->spriteFreeBuffer.get();
    qbSafeBlt b = Blit(red.get(), buffer, 0, 4);
    SafeBlt(nullptr, b);
    b = Blit(red.get(), buffer, 4, 4);
    b.srcX = -1;
    SafeBlt(nullptr, b);
    b = Blit(red.get(), nullptr, 4, 0);
    SafeBlt(nullptr, b);
    // Entirely outside the destination.
    b = Blit(red.get(), buffer, 4, 4);
    b.dstX = 64;
    SafeBlt(nullptr, b);
    EXPECT_EQ(blitHooks, 0);
    EXPECT_EQ(ReadBitmapPixel(buffer, 0, 0, false), 0x102030u);
    EXPECT_EQ(Window(d, 0, 0), 0x102030u);
}

TEST_F(SafeBltTest, ABlendForAClosedDisplayHasNothingToBlendInto) {
    qbDisplay* d = Make(1);
    SetActiveDisplay(nullptr, d, true);
    blitHooks = 0;
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &CountBlits, nullptr, nullptr, 0), nullptr);
    BitmapPtr red = FilledBitmap(4, 4, 0xFF0000);
    BitmapPtr alpha(AllocAlphaChannel(4, 4, true, nullptr, 0));
    qbSafeBlt b = Blit(red.get(), nullptr, 4, 4);
    b.alpha = alpha.get();
    SafeBlt(nullptr, b);
    EXPECT_EQ(blitHooks, 0);
    RemoveDisplayHook(d->hooks);
}

TEST_F(SafeBltTest, ABlitIntoTheDisplaysPictureReachesItsWindow) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr red = FilledBitmap(8, 8, 0xFF0000);
    qbSafeBlt b = Blit(red.get(), d->spriteFreeBuffer.get(), 8, 8);
    b.dstX = 60;  // cut to the picture's right edge
    b.dstY = 2;
    SafeBlt(nullptr, b);
    EXPECT_EQ(Window(d, 60, 2), 0xFF0000u);
    EXPECT_EQ(Window(d, 63, 9), 0xFF0000u);
    EXPECT_EQ(Window(d, 59, 2), 0x102030u);
    EXPECT_EQ(Window(d, 60, 10), 0x102030u);
    // Without the refresh only the picture changes.
    BitmapPtr green = FilledBitmap(2, 2, 0x00FF00);
    b = Blit(green.get(), d->spriteFreeBuffer.get(), 2, 2);
    b.flags = kSafeBltNoRefresh;
    SafeBlt(nullptr, b);
    EXPECT_EQ(ReadBitmapPixel(d->spriteFreeBuffer.get(), 0, 0, false), 0x00FF00u);
    EXPECT_EQ(Window(d, 0, 0), 0x102030u);
    // A plain copy for the display itself goes straight to the window.
    BitmapPtr blue = FilledBitmap(2, 2, 0x0000FF);
    SafeBlt(nullptr, Blit(blue.get(), nullptr, 2, 2));
    EXPECT_EQ(Window(d, 0, 0), 0x0000FFu);
    EXPECT_EQ(ReadBitmapPixel(d->spriteFreeBuffer.get(), 0, 0, false), 0x00FF00u);
}

TEST_F(SafeBltTest, AClipRegionCutsTheRectangleAndMasksIt) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr clipMask(AllocMask(nullptr, 4, 4, true, nullptr, 0));
    for (int i = 0; i < 4; ++i) WriteBitmapPixel(clipMask.get(), i, i, 0, true);  // the diagonal
    const qbClipRegion clip{10, 10, 4, 4, clipMask.get()};
    BitmapPtr red = FilledBitmap(16, 16, 0xFF0000);
    qbSafeBlt b = Blit(red.get(), d->spriteFreeBuffer.get(), 16, 16);
    b.dstX = 4;
    b.dstY = 4;
    b.clip = &clip;
    SafeBlt(nullptr, b);
    EXPECT_EQ(Window(d, 10, 10), 0xFF0000u);
    EXPECT_EQ(Window(d, 13, 13), 0xFF0000u);
    EXPECT_EQ(Window(d, 11, 10), 0x102030u);
    EXPECT_EQ(Window(d, 9, 9), 0x102030u);
    EXPECT_EQ(Window(d, 14, 14), 0x102030u);
    // Flag 1 ignores the region.
    b.flags = kSafeBltIgnoreClip;
    SafeBlt(nullptr, b);
    EXPECT_EQ(Window(d, 4, 4), 0xFF0000u);
}

TEST_F(SafeBltTest, ASelectedTargetsAlphaPlaneFollowsTheSource) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr target = FilledBitmap(4, 1, 0);
    BitmapPtr targetAlpha(AllocAlphaChannel(4, 1, true, nullptr, 0));
    d->output = qbOutputSelection{target.get(), nullptr, targetAlpha.get(), 3, 1};
    d->selectionAlphaMode = 1;
    BitmapPtr src = FilledBitmap(4, 1, 0xFFFFFF);
    BitmapPtr srcAlpha(AllocAlphaChannel(4, 1, true, nullptr, 0));
    srcAlpha->plane->data[1] = 200;
    qbSafeBlt b = Blit(src.get(), target.get(), 4, 1);
    b.alpha = srcAlpha.get();
    SafeBlt(nullptr, b);
    EXPECT_EQ(targetAlpha->plane->data[0], 0);
    EXPECT_EQ(targetAlpha->plane->data[1], 200);
    // A plain blit marks its whole rectangle opaque.
    SafeBlt(nullptr, Blit(src.get(), target.get(), 2, 1));
    EXPECT_EQ(targetAlpha->plane->data[0], 255);
    EXPECT_EQ(targetAlpha->plane->data[2], 0);
    d->output = qbOutputSelection{};
}

TEST_F(SafeBltTest, AlphaModesOfASelectedTargetChooseCopyOrTheBlendByItsAlpha) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr src = FilledBitmap(2, 1, 0xFF0000);
    BitmapPtr srcAlpha(AllocAlphaChannel(2, 1, true, nullptr, 0));
    srcAlpha->plane->data[0] = srcAlpha->plane->data[1] = 128;
    for (const int32_t mode : {0, 1, 2}) {
        BitmapPtr target = FilledBitmap(2, 1, 0);
        BitmapPtr targetAlpha(AllocAlphaChannel(2, 1, true, nullptr, 0));
        targetAlpha->plane->data[1] = 255;  // pixel 0 transparent, pixel 1 opaque
        d->output = qbOutputSelection{target.get(), nullptr, targetAlpha.get(), 3, 1};
        d->selectionAlphaMode = mode;
        qbSafeBlt b = Blit(src.get(), target.get(), 2, 1);
        b.alpha = srcAlpha.get();
        SafeBlt(nullptr, b);
        if (mode == 0) {
            EXPECT_EQ(ReadBitmapPixel(target.get(), 0, 0, false), 0xFF0000u);
            EXPECT_EQ(ReadBitmapPixel(target.get(), 1, 0, false), 0xFF0000u);
        } else {
            // The transparent pixel takes the colour whole, the opaque one half of it.
            EXPECT_EQ(ReadBitmapPixel(target.get(), 0, 0, false), 0xFF0000u) << mode;
            EXPECT_EQ(ReadBitmapPixel(target.get(), 1, 0, false), 0x800000u) << mode;
        }
        // The upkeep after the draw: the source's alpha where it is set, or
        // (mode 2) the alpha of the very blend.
        EXPECT_EQ(targetAlpha->plane->data[0], 128) << mode;
        EXPECT_EQ(targetAlpha->plane->data[1], mode == 2 ? 255 : 128) << mode;
    }
    d->output = qbOutputSelection{};
    d->selectionAlphaMode = 0;
}

// A selected mask or alpha channel alone takes the blit's rectangle: its
// width and height, and the source and target offsets of each axis.
TEST_F(SafeBltTest, ASelectedMaskOrAlphaChannelTakesTheWholeRectangle) {
    qbDisplay* d = MakeOpen(1);
    constexpr int32_t kSide = 16, kSx = 1, kSy = 4, kDx = 3, kDy = 9, kW = 6, kH = 2;
    const auto inside = [&](int32_t x, int32_t y) { return x >= kDx && x < kDx + kW && y >= kDy && y < kDy + kH; };
    BitmapPtr src = FilledBitmap(8, 8, 0xFFFFFF);
    BitmapPtr srcAlpha(AllocAlphaChannel(8, 8, true, nullptr, 0));
    const AlphaRows from = AlphaRowsOf(srcAlpha.get(), 0, 0);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) from.data[static_cast<size_t>(y) * from.rowBytes + x] = uint8_t(1 + x + 8 * y);
    qbSafeBlt b = Blit(src.get(), nullptr, kW, kH);
    b.srcX = kSx, b.srcY = kSy, b.dstX = kDx, b.dstY = kDy;

    BitmapPtr selectedMask(AllocMask(nullptr, kSide, kSide, true, nullptr, 0));
    d->output = qbOutputSelection{nullptr, selectedMask.get(), nullptr, kOutputMask, 1};
    SafeBlt(nullptr, b);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
            EXPECT_EQ(ReadBitmapPixel(selectedMask.get(), x, y, true) != 0, inside(x, y)) << x << "," << y;

    BitmapPtr selectedAlpha(AllocAlphaChannel(kSide, kSide, true, nullptr, 0));
    d->output = qbOutputSelection{nullptr, nullptr, selectedAlpha.get(), kOutputAlphaChannel, 1};
    b.alpha = srcAlpha.get();
    SafeBlt(nullptr, b);
    const AlphaRows to = AlphaRowsOf(selectedAlpha.get(), 0, 0);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
            EXPECT_EQ(to.data[static_cast<size_t>(y) * to.rowBytes + x],
                      inside(x, y) ? 1 + (x - kDx + kSx) + 8 * (y - kDy + kSy) : 0)
                << x << "," << y;
    d->output = qbOutputSelection{};
}

TEST_F(SafeBltTest, ABlitHangingOffTheWindowIsCutAtItsEdges) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr red = FilledBitmap(4, 4, 0xFF0000);
    WriteBitmapPixel(red.get(), 2, 1, 0x00FF00, false);
    BlitToDisplay(red.get(), 0, 0, d, -2, -1, 4, 4, 0, 0, 0, nullptr, nullptr);
    EXPECT_EQ(Window(d, 0, 0), 0x00FF00u);
    EXPECT_EQ(Window(d, 1, 2), 0xFF0000u);
    EXPECT_EQ(Window(d, 2, 0), 0x102030u);
    EXPECT_EQ(Window(d, 0, 3), 0x102030u);
    BlitToDisplay(red.get(), 1, 0, d, 62, 46, 3, 4, 0, 0, 0, nullptr, nullptr);
    EXPECT_EQ(Window(d, 62, 46), 0xFF0000u);
    EXPECT_EQ(Window(d, 63, 47), 0x00FF00u);
}

TEST_F(SafeBltTest, DestinationsAtThe32BitLimitsAreCutWithoutWrapping) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr red = FilledBitmap(8, 8, 0xFF0000);
    const qbClipRegion clip{-4, -4, 40, 40, nullptr};
    for (const qbClipRegion* c : {static_cast<const qbClipRegion*>(nullptr), &clip})
        for (const int32_t far : {INT32_MIN, INT32_MIN + 4, INT32_MAX - 4, INT32_MAX})
            for (const int32_t other : {0, INT32_MIN, INT32_MAX}) {
                qbSafeBlt b = Blit(red.get(), d->spriteFreeBuffer.get(), 8, 8);
                b.clip = c;
                b.dstX = far;
                b.dstY = other;
                SafeBlt(nullptr, b);
                b.dstX = other;
                b.dstY = far;
                SafeBlt(nullptr, b);
            }
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{63, 0}, std::pair{0, 47}, std::pair{63, 47}})
        EXPECT_EQ(Window(d, x, y), 0x102030u) << x << " " << y;
    // A source as wide as 32 bits allow, from the far left, never reaches 0.
    int32_t sx = 0, sy = 0, dx = INT32_MIN, dy = 0, w = INT32_MAX, h = 1;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, INT32_MAX, 1, 64, 48, false);
    EXPECT_LT(w, 1);
    // Eleven pixels further right, its last ten do.
    sx = 0, dx = INT32_MIN + 11, w = INT32_MAX, h = 1;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, INT32_MAX, 1, 64, 48, false);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(sx, INT32_MAX - 10);
    EXPECT_EQ(w, 10);
}

TEST_F(SafeBltTest, ARefreshBlockHoldsDrawingBackUnlessForced) {
    qbDisplay* d = MakeOpen(1);
    BitmapPtr red = FilledBitmap(2, 2, 0xFF0000);
    d->refreshBlock = 1;
    RefreshDisplayRect(red.get(), 0, 0, d, 0, 0, 2, 2, 0);
    EXPECT_EQ(Window(d, 0, 0), 0x102030u);
    RefreshDisplayRect(red.get(), 0, 0, d, 0, 0, 2, 2, kRefreshForce);
    EXPECT_EQ(Window(d, 0, 0), 0xFF0000u);
    d->refreshBlock = 0;
}

TEST_F(SafeBltTest, AScaledDisplayShowsItsWholePictureAtTheScaleSize) {
    qbDisplay* d = MakeOpen(1, 4, 4, 0x000000);
    d->scaleWidth = 8;
    d->scaleHeight = 8;
    null_backend::SetWindowSize(d, 8, 8);
    CloseDisplayCore(nullptr, d, 0);
    ASSERT_EQ(OpenDisplayWindow(nullptr, d, 0), 0);
    FillBitmapRect(d->spriteFreeBuffer.get(), 3, 3, 1, 1, 0xFFFFFF);
    blitHooks = 0;
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &CountBlits, nullptr, nullptr, 0), nullptr);
    RefreshDisplayRect(d->spriteFreeBuffer.get(), 3, 3, d, 3, 3, 1, 1, kRefreshScaled);
    EXPECT_EQ(Window(d, 7, 7), 0xFFFFFFu);
    EXPECT_EQ(Window(d, 6, 6), 0xFFFFFFu);
    EXPECT_EQ(Window(d, 5, 5), 0u);
    EXPECT_EQ(blitHooks, 1);
}

TEST_F(SafeBltTest, PicturesQueuedByAWorkerAreDrawnOnTheMainThread) {
    qbDisplay* d = MakeOpen(1);
    blitHooks = 0;
    hookThreads.clear();
    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &CountBlits, nullptr, nullptr, 0), nullptr);
    std::thread worker([d] {
        for (int i = 0; i < 3; ++i) {
            BitmapPtr picture(AllocBitmap(4, 4, 0, nullptr));
            FillBitmapRect(picture.get(), 0, 0, 4, 4, 0x00FF00u + static_cast<uint32_t>(i));
            EXPECT_EQ(QueueDisplayBlit(d, std::move(picture), 0, 0, 10 * i, 0, 4, 4), 0);
        }
    });
    worker.join();
    EXPECT_EQ(Window(d, 0, 0), 0x102030u);
    EXPECT_EQ(blitHooks, 0);
    ASSERT_EQ(FlushDisplayBlitQueue(nullptr), 0);
    EXPECT_EQ(Window(d, 0, 0), 0x00FF00u);
    EXPECT_EQ(Window(d, 23, 3), 0x00FF02u);
    EXPECT_EQ(blitHooks, 3);
    for (const std::thread::id& id : hookThreads) EXPECT_EQ(id, std::this_thread::get_id());
    // The queue is empty afterwards.
    ASSERT_EQ(FlushDisplayBlitQueue(nullptr), 0);
    EXPECT_EQ(blitHooks, 3);
    EXPECT_EQ(QueueDisplayBlit(d, nullptr, 0, 0, 0, 0, 1, 1), ERR_WRONGUSAGE);
}

TEST_F(SafeBltTest, QueuedPicturesOfAnOwnerReplaceAndDropOnlyTheirOwn) {
    qbDisplay* d = MakeOpen(1);
    int ownerA = 0, ownerB = 0;
    auto picture = [](uint32_t colour) {
        BitmapPtr p(AllocBitmap(3, 2, 0, nullptr));
        FillBitmapRect(p.get(), 0, 0, 3, 2, colour);
        return p;
    };
    EXPECT_EQ(QueueDisplayBlit(d, picture(0x000011), 0, 0, 2, 40, 3, 2), 0);
    EXPECT_EQ(QueueOwnedDisplayBlit(d, &ownerA, picture(0x0000A1), 10, 20), 0);
    EXPECT_EQ(QueueOwnedDisplayBlit(d, &ownerB, picture(0x0000B1), 50, 30), 0);
    EXPECT_EQ(QueueOwnedDisplayBlit(d, &ownerA, picture(0x0000A2), 30, 5), 0);  // replaces A's first
    EXPECT_EQ(QueueOwnedDisplayBlit(d, nullptr, picture(0x0000C1), 0, 0), ERR_WRONGUSAGE);
    EXPECT_TRUE(OwnedDisplayBlitPending(d, &ownerA));
    EXPECT_TRUE(OwnedDisplayBlitPending(d, &ownerB));
    DropOwnedDisplayBlits(d, &ownerB);
    EXPECT_FALSE(OwnedDisplayBlitPending(d, &ownerB));
    EXPECT_TRUE(OwnedDisplayBlitPending(d, &ownerA));
    ASSERT_EQ(FlushDisplayBlitQueue(nullptr), 0);
    EXPECT_FALSE(OwnedDisplayBlitPending(d, &ownerA));
    EXPECT_EQ(Window(d, 2, 40), 0x000011u);
    EXPECT_EQ(Window(d, 4, 41), 0x000011u);
    EXPECT_EQ(Window(d, 10, 20), 0x102030u);
    EXPECT_EQ(Window(d, 30, 5), 0x0000A2u);
    EXPECT_EQ(Window(d, 32, 6), 0x0000A2u);
    EXPECT_EQ(Window(d, 33, 6), 0x102030u);
    EXPECT_EQ(Window(d, 30, 7), 0x102030u);
    EXPECT_EQ(Window(d, 50, 30), 0x102030u);
    // Wholly past the picture's edge: nothing is drawn.
    EXPECT_EQ(QueueDisplayBlit(d, picture(0x0000D1), 0, 0, 64, 46, 3, 2), 0);
    EXPECT_EQ(QueueDisplayBlit(d, picture(0x0000D2), 0, 0, 61, 48, 3, 2), 0);
    ASSERT_EQ(FlushDisplayBlitQueue(nullptr), 0);
    EXPECT_EQ(Window(d, 63, 47), 0x102030u);
}
