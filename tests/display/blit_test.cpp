// Bitmap-to-bitmap blits: fills and copies through the kernels or the
// adapter, tiling offsets, the alpha combinations against their table, plane
// clipping and the null-destination messages.
#include <random>
#include <vector>

#include "core/plugin.h"
#include "display_fixture.h"

namespace {

using BlitTest = DisplayWorld;

BitmapPtr Alpha(int32_t w, int32_t h) { return BitmapPtr(AllocAlphaChannel(w, h, true, nullptr, 0)); }

uint8_t& At(qbBitmap* alpha, int32_t x, int32_t y) {
    return alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + static_cast<size_t>(x)];
}

uint32_t Pixel(qbBitmap* b, int32_t x, int32_t y) { return ReadBitmapPixel(b, x, y, false); }

// The alpha-combination table, one byte at a time.
uint8_t CombineReference(int mode, uint32_t s, uint32_t d, uint32_t value) {
    switch (mode) {
        case 0: return static_cast<uint8_t>(s);
        case 1: return static_cast<uint8_t>(s ? s : d);
        case 2: return static_cast<uint8_t>(s ? 255 - s : d);
        case 3: return static_cast<uint8_t>(s ? 255 : d);
        case 4: return static_cast<uint8_t>(s ? s * value / 255 : d);
        case 5: return static_cast<uint8_t>(s && d ? 255 - s : d);
        case 6: return static_cast<uint8_t>(s ? value : d);
        case 7: return static_cast<uint8_t>(s && d ? s : 0);
        case 8: return static_cast<uint8_t>(s == 255 ? 255 : d);
        case 9:
            if (s == 255) return 255;
            if (s == 0) return static_cast<uint8_t>(d);
            return static_cast<uint8_t>(std::min<uint32_t>((s * 255 + (255 - s) * d + 127) / 255, 255));
        default: return static_cast<uint8_t>(d);
    }
}

std::vector<std::string> adapterCalls;

}  // namespace

TEST_F(BlitTest, CombineAlphaRectFollowsTheTableInEveryMode) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int mode = 0; mode <= 9; ++mode) {
        BitmapPtr src = Alpha(13, 5);
        BitmapPtr dst = Alpha(11, 6);
        std::vector<uint8_t> before(11 * 6);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                // Plenty of the values the rules single out.
                const int r = byte(rng);
                At(src.get(), x, y) = static_cast<uint8_t>(r < 40 ? 0 : r > 215 ? 255 : r);
            }
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 11; ++x) {
                const int r = byte(rng);
                At(dst.get(), x, y) = before[y * 11 + x] = static_cast<uint8_t>(r < 40 ? 0 : r);
            }
        CombineAlphaRect(src.get(), 2, 1, dst.get(), 1, 2, 9, 4, mode, 128);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 11; ++x) {
                const bool inside = x >= 1 && x < 10 && y >= 2 && y < 6;
                const uint8_t d = before[y * 11 + x];
                const uint8_t want = inside ? CombineReference(mode, At(src.get(), x + 1, y - 1), d, 128) : d;
                ASSERT_EQ(At(dst.get(), x, y), want) << "mode " << mode << " at " << x << "," << y;
            }
    }
}

TEST_F(BlitTest, ClippedPlaneCombinationShiftsTheSourceWithANegativeDestination) {
    BitmapPtr src = Alpha(4, 1);
    BitmapPtr dst = Alpha(3, 1);
    for (int x = 0; x < 4; ++x) At(src.get(), x, 0) = static_cast<uint8_t>(10 + x);
    CombineAlphaRectClipped(src.get(), 0, 0, dst.get(), -1, 0, 4, 1, 0, 0, 4, 1, 3, 1);
    EXPECT_EQ(At(dst.get(), 0, 0), 11);
    EXPECT_EQ(At(dst.get(), 2, 0), 13);
    // Beyond both planes nothing is touched.
    CombineAlphaRectClipped(src.get(), 0, 0, dst.get(), 5, 0, 4, 1, 3, 0, 4, 1, 3, 1);
    EXPECT_EQ(At(dst.get(), 2, 0), 13);
}

TEST_F(BlitTest, ATileStartOfMinusOneBeginsAtTheTilesLastColumn) {
    std::vector<uint32_t> tile(8 * 2);
    for (int i = 0; i < 16; ++i) tile[i] = static_cast<uint32_t>(i);
    std::vector<uint32_t> out(10 * 3);
    TileRawRect(out.data(), 10, 3, tile.data(), -1, 0, 8, 2, 8);
    EXPECT_EQ(out[0], 7u);
    EXPECT_EQ(out[1], 0u);
    EXPECT_EQ(out[9], 8u % 8);
    EXPECT_EQ(out[10], 15u);  // second row of the tile
    EXPECT_EQ(out[20], 7u);   // third row wraps to the tile's first
    // A start of a whole tile width and one beyond it wrap the same way.
    std::vector<uint32_t> again(10 * 3);
    TileRawRect(again.data(), 10, 3, tile.data(), -9, 2, 8, 2, 8);
    EXPECT_EQ(again, out);

    BitmapPtr bitmapTile(AllocBitmap(8, 1, 0, nullptr));
    for (int x = 0; x < 8; ++x) WriteBitmapPixel(bitmapTile.get(), x, 0, static_cast<uint32_t>(x), false);
    BitmapPtr target = FilledBitmap(10, 2, 0);
    TileBitmapRect(target.get(), 1, 1, 9, 1, bitmapTile.get(), -1, 0, 8, 1);
    EXPECT_EQ(Pixel(target.get(), 0, 1), 0u);
    EXPECT_EQ(Pixel(target.get(), 1, 1), 7u);
    EXPECT_EQ(Pixel(target.get(), 2, 1), 0u);
    EXPECT_EQ(Pixel(target.get(), 9, 1), 7u);
    EXPECT_EQ(Pixel(target.get(), 1, 0), 0u);
}

TEST_F(BlitTest, CopiesGoThroughTheMaskAndTheAlphaAtTheSourcePosition) {
    BitmapPtr src = FilledBitmap(4, 1, 0xFF0000);
    BitmapPtr dst = FilledBitmap(4, 1, 0x0000FF);
    BitmapPtr mask(AllocMask(src.get(), 4, 1, true, nullptr, 0));
    WriteBitmapPixel(mask.get(), 2, 0, 0, true);  // mode visible: sets the bit
    CopyBitmapRectMasked(src.get(), 1, 0, dst.get(), 0, 0, 3, 1, mask.get());
    EXPECT_EQ(Pixel(dst.get(), 0, 0), 0x0000FFu);
    EXPECT_EQ(Pixel(dst.get(), 1, 0), 0xFF0000u);
    EXPECT_EQ(Pixel(dst.get(), 2, 0), 0x0000FFu);

    BitmapPtr alpha = Alpha(4, 1);
    At(alpha.get(), 3, 0) = 255;
    At(alpha.get(), 2, 0) = 128;
    BitmapPtr blend = FilledBitmap(2, 1, 0x000000);
    CopyBitmapRectAlpha(src.get(), 2, 0, blend.get(), 0, 0, 2, 1, alpha.get());
    EXPECT_EQ(Pixel(blend.get(), 0, 0), 0x7F0000u);  // 255 * 128 >> 8
    EXPECT_EQ(Pixel(blend.get(), 1, 0), 0xFF0000u);

    CopyBitmapRect(src.get(), 0, 0, dst.get(), 3, 0, 1, 1);
    EXPECT_EQ(Pixel(dst.get(), 3, 0), 0xFF0000u);
}

TEST_F(BlitTest, GlyphMasksDrawOneColour) {
    BitmapPtr dst = FilledBitmap(8, 1, 0);
    const uint8_t rows[2] = {0xA0, 0};
    DrawMaskInColor(dst.get(), 1, 0, nullptr, 0, 0, 4, 1, 0x00FF00, rows, 2);
    EXPECT_EQ(Pixel(dst.get(), 1, 0), 0x00FF00u);
    EXPECT_EQ(Pixel(dst.get(), 2, 0), 0u);
    EXPECT_EQ(Pixel(dst.get(), 3, 0), 0x00FF00u);
}

TEST_F(BlitTest, AlphaChannelDrawBlendsTheColourAndTracksDestinationAlpha) {
    BitmapPtr weights = Alpha(3, 1);
    At(weights.get(), 0, 0) = 0;
    At(weights.get(), 1, 0) = 255;
    At(weights.get(), 2, 0) = 128;
    BitmapPtr dst = FilledBitmap(3, 1, 0);
    qbAlphaChannelBlit b;
    b.alpha = weights.get();
    b.destination = dst.get();
    b.width = 3;
    b.height = 1;
    b.colour = 0xFFFFFF;
    b.mode = 1;
    BltAlphaChannel(b);
    EXPECT_EQ(Pixel(dst.get(), 0, 0), 0u);
    EXPECT_EQ(Pixel(dst.get(), 1, 0), 0xFFFFFFu);
    EXPECT_EQ(Pixel(dst.get(), 2, 0), 0x7F7F7Fu);
    // Clipped: a destination left of 0 moves the source.
    BitmapPtr small = FilledBitmap(2, 1, 0);
    b.destination = small.get();
    b.dstX = -1;
    BltAlphaChannelClipped(b, 3, 1, 2, 1);
    EXPECT_EQ(Pixel(small.get(), 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Pixel(small.get(), 1, 0), 0x7F7F7Fu);
}

TEST_F(BlitTest, NullDestinationsPrintTheirMessages) {
    testing::internal::CaptureStdout();
    BltAlphaChannel(qbAlphaChannelBlit{});
    BltAlphaChannelClipped(qbAlphaChannelBlit{}, 1, 1, 1, 1);
    EXPECT_EQ(DrawGradient(nullptr, 0, 0, 1, 1, nullptr), 0);
    BitmapPtr src = FilledBitmap(2, 2, 0);
    qbSafeBlt blit;
    blit.source = src.get();
    blit.width = blit.height = blit.srcWidth = blit.srcHeight = blit.dstWidth = blit.dstHeight = 2;
    SafeBlt(nullptr, blit);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n"
              "ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n"
              "ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n"
              "ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
    BitmapPtr dst = FilledBitmap(2, 2, 0);
    EXPECT_EQ(DrawGradient(dst.get(), 0, 0, 2, 2, nullptr), ERR_WRONGUSAGE);
}

TEST_F(BlitTest, ClipBlitRectCutsToTheClipAndBothBitmaps) {
    int32_t sx = 0, sy = 0, dx = -3, dy = 2, w = 10, h = 10;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, 8, 8, 6, 6, false);
    EXPECT_EQ(sx, 3);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(w, 5);  // the source ends first
    EXPECT_EQ(h, 4);  // the destination's bottom
    const qbClipRegion clip{2, 2, 3, 3, nullptr};
    sx = 0, sy = 0, dx = 0, dy = 4, w = 10, h = 10;
    ClipBlitRect(&clip, &sx, &sy, &dx, &dy, &w, &h, 8, 8, 100, 100, true);
    EXPECT_EQ(sx, 2);
    EXPECT_EQ(dx, 2);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
}

TEST_F(BlitTest, AnAdapterDrawsTheKindsItAnnounces) {
    static qbDisplayAdapterSlots slots;
    slots.BltBitMap = [](void*, void*, const qbAdapterBlitBlock* b, uint32_t mode, void*) {
        adapterCalls.push_back("blt " + std::to_string(b->srcX) + " " + std::to_string(b->dstX) + " " +
                               std::to_string(b->width) + " " + std::to_string(b->mask != nullptr) + " " +
                               std::to_string(mode));
        return 0;
    };
    slots.RectFill = [](void*, int32_t, int32_t, int32_t w, int32_t, uint32_t c, uint32_t mode, void*) {
        adapterCalls.push_back("fill " + std::to_string(w) + " " + std::to_string(c) + " " + std::to_string(mode));
        return 0;
    };
    qbPlugin plugin;
    plugin.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    plugin.displaySlots = &slots;
    const qbAdapterTag tags[] = {{kAdapterTagDrawFlags, kAdapterDrawCopy | kAdapterDrawAlpha | kAdapterDrawFill},
                                {0, 0}};
    SetAdapterWindowOpen(true);
    ASSERT_EQ(SetDisplayAdapter(&plugin, kAdapterInvertsAlpha, tags), 0);
    SetAdapterWindowOpen(false);
    adapterCalls.clear();
    BitmapPtr src(AllocBitmap(4, 1, 0, nullptr));
    BitmapPtr dst(AllocBitmap(4, 1, 0, nullptr));
    BitmapPtr mask(AllocMask(src.get(), 4, 1, true, nullptr, 0));
    BitmapPtr alpha = Alpha(4, 1);
    FillBitmapRect(dst.get(), 0, 0, 2, 1, 0x00123456);
    CopyBitmapRect(src.get(), 1, 0, dst.get(), 2, 0, 2, 1);
    CopyBitmapRectAlpha(src.get(), 0, 0, dst.get(), 0, 0, 3, 1, alpha.get());
    // Masked copies are not announced: the kernels draw them.
    CopyBitmapRectMasked(src.get(), 0, 0, dst.get(), 0, 0, 4, 1, mask.get());
    const std::vector<std::string> want = {"fill 2 4279383126 1", "blt 1 2 2 0 2", "blt 0 0 3 1 2"};
    EXPECT_EQ(adapterCalls, want);
}
