// What sprites look like: the window against a picture composed by hand,
// drawing under shown sprites, sprites kept in the picture, and the
// sprite's rows of GetAttribute, pointers and collisions.
#include <cstdlib>

#ifdef QB_TEST_HAVE_PIXMAN
#include <pixman.h>
#endif

#include "display/pointers.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "objects/sprite_fixture.h"
#include "platform/null/null_pointer.h"

namespace {

using SpritePixels = SpriteWorld;

// Gives frame 1 of the sprite a checkerboard mask (1-bit) or a left-to-right
// alpha ramp.
void AddMask(qbSprite* s) {
    qbBitmap* frame = s->bitmaps[0].get();
    s->masks[0].reset(AllocMask(frame, s->width, s->height, true, nullptr, 0));
    for (int y = 0; y < s->height; ++y)
        for (int x = 0; x < s->width; ++x)
            if ((x + y) % 2) WriteBitmapPixel(s->masks[0].get(), x, y, kMaskVisible, true);
}
void AddAlpha(qbSprite* s) {
    s->alphas[0].reset(AllocAlphaChannel(s->width, s->height, true, nullptr, 0));
    qbBitmapPlane& p = *s->alphas[0]->plane;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) p.data[static_cast<size_t>(y) * p.rowBytes + x] = uint8_t(x * 255 / 15);
}

// The colour over the pixel at coverage a, by pixman where the tests have
// it.
uint32_t Over(uint32_t s, uint32_t d, int a) {
#ifdef QB_TEST_HAVE_PIXMAN
    uint32_t src = s | 0xFF000000u, dst = d | 0xFF000000u;
    uint32_t maskWord = static_cast<uint32_t>(a);  // one a8 pixel in a 4-byte row
    pixman_image_t* si = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1, 1, &src, 4);
    pixman_image_t* mi = pixman_image_create_bits(PIXMAN_a8, 1, 1, &maskWord, 4);
    pixman_image_t* di = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1, 1, &dst, 4);
    pixman_image_composite32(PIXMAN_OP_OVER, si, mi, di, 0, 0, 0, 0, 0, 0, 1, 1);
    for (pixman_image_t* i : {si, mi, di}) pixman_image_unref(i);
    return dst & 0xFFFFFFu;
#else
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        const int sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        out |= uint32_t((sc * a + dc * (255 - a) + 127) / 255) << shift;
    }
    return out;
#endif
}

TEST_F(SpritePixels, TheWindowIsThePictureWithEachFrameCopiedInListOrder) {
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x)
            WriteBitmapPixel(display_->spriteFreeBuffer.get(), x, y, uint32_t(x * 2) << 16 | uint32_t(y * 3) << 8,
                             false);
    RefreshDisplay(L_, display_);
    FramesSprite(1, 1, 16, 16);
    FramesSprite(2, 2, 16, 16);
    FramesSprite(3, 3, 16, 16);
    AddMask(Sprite(2));
    AddAlpha(Sprite(3));
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 10, 10}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 18, 14}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {3, 14, 20}), 0);
    // A move of the masked one repaints what lies above and below it.
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 20, 15, 1}), 0);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            uint32_t want = Shown(x, y);
            if (x >= 10 && x < 26 && y >= 10 && y < 26) want = FrameColour(0);
            if (x >= 20 && x < 36 && y >= 15 && y < 31 && (x - 20 + y - 15) % 2) want = FrameColour(0);
            if (x >= 14 && x < 30 && y >= 20 && y < 36) {
                const uint32_t over = Over(FrameColour(0), want, (x - 14) * 255 / 15);
                const uint32_t got = Real(x, y);
                for (int shift : {0, 8, 16})
                    ASSERT_LE(std::abs(int((got >> shift) & 255) - int((over >> shift) & 255)), 1) << x << "," << y;
                continue;
            }
            ASSERT_EQ(Real(x, y), want) << x << "," << y;
        }
}

TEST_F(SpritePixels, DrawingUnderASpriteGoesIntoThePictureAndLeavesTheSpriteOnTop) {
    FramesSprite(1, 1, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 20, 20}), 0);
    MakeBrush(5, 20, 20, 0x00AA00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {5, 15, 15}), 0);
    EXPECT_EQ(Real(22, 22), FrameColour(0));
    EXPECT_EQ(Shown(22, 22), 0x00AA00u);
    EXPECT_EQ(Real(16, 16), 0x00AA00u);
    ASSERT_EQ(RunNumbers("RemoveSprite", {1}), 0);
    EXPECT_EQ(Real(22, 22), 0x00AA00u);
}

// A plain blit under shown sprites, into the picture and for the window
// only, of a lying and a standing rectangle with sprites reaching past its
// short side: the window and the composed picture show the blit in its
// rectangle, the sprites whole on top, and the picture elsewhere.
TEST_F(SpritePixels, BlitsUnderSpritesCoverTheirRectangleOnEachAxis) {
    FramesSprite(1, 1, 12, 12);
    FramesSprite(2, 1, 12, 12);
    constexpr uint32_t kDrawn = 0x00AA00;
    for (const bool intoPicture : {true, false}) {
        for (const bool lying : {true, false}) {
            const int32_t x = 10, y = 6, w = lying ? 44 : 14, h = lying ? 14 : 44;
            FillBitmapRect(display_->spriteFreeBuffer.get(), 0, 0, 100, 80, 0x203040);
            // One sprite across the far end, one across the long side.
            const int32_t s1x = x + w - 6, s1y = y + h - 6, s2x = lying ? x + 20 : x + 8, s2y = lying ? y + 8 : y + 20;
            ASSERT_EQ(RunNumbers("DisplaySprite", {1, double(s1x), double(s1y)}), 0);
            ASSERT_EQ(RunNumbers("DisplaySprite", {2, double(s2x), double(s2y)}), 0);
            RefreshDisplay(L_, display_);
            BitmapPtr fill(AllocBitmap(w, h, 0, nullptr));
            FillBitmapRect(fill.get(), 0, 0, w, h, kDrawn);
            qbSafeBlt b;
            b.source = fill.get();
            b.srcWidth = b.width = w;
            b.srcHeight = b.height = h;
            b.destination = intoPicture ? display_->spriteFreeBuffer.get() : nullptr;
            b.dstX = x;
            b.dstY = y;
            b.dstWidth = 100;
            b.dstHeight = 80;
            SafeBlt(L_, b);
            const auto in = [](int32_t px, int32_t py, int32_t rx, int32_t ry, int32_t rw, int32_t rh) {
                return px >= rx && px < rx + rw && py >= ry && py < ry + rh;
            };
            for (int32_t py = 0; py < 80; ++py)
                for (int32_t px = 0; px < 100; ++px) {
                    uint32_t want = in(px, py, x, y, w, h) ? kDrawn : 0x203040u;
                    if (in(px, py, s1x, s1y, 12, 12) || in(px, py, s2x, s2y, 12, 12)) want = FrameColour(0);
                    ASSERT_EQ(Real(px, py), want) << intoPicture << lying << " window " << px << "," << py;
                    ASSERT_EQ(ReadBitmapPixel(display_->backBuffer.get(), px, py, false), want)
                        << intoPicture << lying << " composed " << px << "," << py;
                }
            ASSERT_EQ(RunNumbers("RemoveSprites", {}), 0);
        }
    }
}

TEST_F(SpritePixels, RemoveSpritesKeepsThemInThePictureOnlyWhenAsked) {
    FramesSprite(1, 1, 8, 8);
    FramesSprite(2, 1, 8, 8);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("RemoveSprites", {}), 0);
    EXPECT_EQ(Real(2, 2), 0x203040u);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 60, 0}), 0);
    ASSERT_EQ(RunNumbers("RemoveSprites", {1}), 0);
    EXPECT_EQ(InstanceCount(), 0);
    EXPECT_EQ(Shown(2, 2), FrameColour(0));
    EXPECT_EQ(Shown(62, 2), FrameColour(0));
    EXPECT_EQ(Real(62, 2), FrameColour(0));
}

TEST_F(SpritePixels, AttributesPointersAndCollisionsReadTheShownFrame) {
    FramesSprite(1, 2, 8, 8);
    auto attribute = [&](double id, double attr, double* out) {
        for (double a : {32.0, id, attr}) VmPushNumber(L_, a);
        const int err = Run("GetAttribute", 3, 1);
        if (!err) *out = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return err;
    };
    double v = 0;
    EXPECT_EQ(attribute(1, 7, &v), 1220);
    ASSERT_EQ(attribute(1, 11, &v), 0);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(attribute(1, 23, &v), 0);
    EXPECT_EQ(v, 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 33, 4, 2}), 0);
    ASSERT_EQ(attribute(1, 7, &v), 0);
    EXPECT_EQ(v, 33);
    ASSERT_EQ(attribute(1, 12, &v), 0);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(attribute(5, 0, &v), 1219);

    ASSERT_EQ(RunNumbers("CreatePointer", {4, 32, 1, 2}), 0);
    qbPointerObject* pointer = nullptr;
    ASSERT_EQ(GetPointerRecord(ObjectID{4, nullptr}, &pointer), 0);
    const null_backend::PointerImage* image = null_backend::GetPointerImage(static_cast<const qbNativePointer*>(pointer->native));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width, 8);
    EXPECT_EQ(image->argb[9] & 0xFFFFFFu, FrameColour(1));
    EXPECT_EQ(RunNumbers("CreatePointer", {5, 32, 1, 3}), 1094);

    FramesSprite(2, 1, 8, 8);
    auto collide = [&](std::initializer_list<double> args, double* out) {
        for (double a : args) VmPushNumber(L_, a);
        const int err = Run("Collision", static_cast<int>(args.size()), 1);
        if (!err) *out = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return err;
    };
    EXPECT_EQ(collide({32, 1, 2}, &v), 1220);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 38, 8}), 0);
    ASSERT_EQ(collide({32, 1, 2}, &v), 0);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(collide({48, 2, 0, 0, 10, 10}, &v), 0);
    EXPECT_EQ(v, 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 80, 60}), 0);
    ASSERT_EQ(collide({32, 1, 2}, &v), 0);
    EXPECT_EQ(v, 0);
}

}  // namespace

namespace {

TEST_F(SpritePixels, FreeingTheClipRegionOfAShownSpriteShowsItWhole) {
    FramesSprite(1, 1, 8, 8);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, 14, 0, 0, 4, 80}), 0);
    ASSERT_EQ(RunNumbers("SetClipRegion", {1}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    EXPECT_EQ(Real(2, 2), FrameColour(0));
    EXPECT_EQ(Real(6, 2), 0x203040u);
    ASSERT_EQ(RunNumbers("SetClipRegion", {0}), 0);
    ASSERT_EQ(RunNumbers("FreeClipRegion", {1}), 0);
    EXPECT_EQ(display_->bgpic->spriteInstances->clip, nullptr);
    EXPECT_EQ(Real(6, 2), FrameColour(0));
}

}  // namespace

// A Nil in the place of an optional switch is the switch left out: no
// smoothing when scaling, no sprites kept in the picture when removing.
TEST_F(SpritePixels, ANilSwitchIsTheSwitchLeftOut) {
    FramesSprite(1, 1, 4, 4);
    FillBitmapRect(Sprite(1)->bitmaps[0].get(), 2, 0, 2, 4, 0x0000FF);
    for (double a : {1.0, 8.0, 8.0}) VmPushNumber(L_, a);
    VmPushNil(L_);
    ASSERT_EQ(Run("ScaleSprite", 4), 0);
    qbBitmap *bm, *m, *a;
    ASSERT_EQ(GetSpriteFrameImage(Sprite(1), 1, &bm, &m, &a), 0);
    EXPECT_EQ(ReadBitmapPixel(bm, 3, 3, false) & 0xFFFFFFu, FrameColour(0) & 0xFFFFFFu);
    EXPECT_EQ(ReadBitmapPixel(bm, 4, 3, false) & 0xFFFFFFu, 0x0000FFu);

    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 0, 0}), 0);
    VmPushNil(L_);
    ASSERT_EQ(Run("RemoveSprites", 1), 0);
    EXPECT_EQ(InstanceCount(), 0);
    EXPECT_EQ(Shown(2, 2), 0x203040u);
    EXPECT_EQ(Real(2, 2), 0x203040u);
}

namespace {

// Sprites shown through a clip region collide only where the region lets them
// be seen.
TEST_F(SpritePixels, SpritesCollideOnlyInsideTheirClipRegion) {
    FramesSprite(1, 1, 8, 8);
    FramesSprite(2, 1, 8, 8);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, 14, 20, 0, 60, 80}), 0);
    ASSERT_EQ(RunNumbers("SetClipRegion", {1}), 0);
    auto collide = [&] {
        for (double a : {32, 1, 2}) VmPushNumber(L_, a);
        EXPECT_EQ(Run("Collision", 3, 1), 0);
        const double v = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return v;
    };
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 10, 30}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 14, 32}), 0);
    EXPECT_EQ(collide(), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {1, 18, 30}), 0);
    ASSERT_EQ(RunNumbers("DisplaySprite", {2, 22, 32}), 0);
    EXPECT_EQ(collide(), 1);
    ASSERT_EQ(RunNumbers("SetClipRegion", {0}), 0);
}

}  // namespace
