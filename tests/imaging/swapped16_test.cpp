// The weighted imaging roads on byte-swapped 16-bit pixels give exactly the
// byte-swap of what they give on the plain format.
#include <gtest/gtest.h>

#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "imaging/mixbitmaps.h"
#include "swapped16.h"

namespace {

using swapped16::kH;
using swapped16::kW;

// Weights from 0 to 255, both ends included.
BitmapPtr Weights() {
    BitmapPtr alpha(AllocAlphaChannel(kW, kH, true, nullptr, 0));
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            alpha->plane->data[y * alpha->plane->rowBytes + x] =
                static_cast<uint8_t>(x == 0 ? 255 : (x * 37 + y * 11) & 255);
    return alpha;
}

}  // namespace

TEST(Swapped16Imaging, AlphaBlendAndAlphaChannelDraw) {
    const BitmapPtr alpha = Weights();
    swapped16::ExpectBitmapTwins([&](qbBitmap* dst, qbBitmap* src, int) {
        CopyBitmapRectAlpha(src, 0, 0, dst, 0, 0, kW, kH, alpha.get());
    });
    for (const bool fromSource : {false, true})
        swapped16::ExpectBitmapTwins([&](qbBitmap* dst, qbBitmap* src, int) {
            qbAlphaChannelBlit b;
            b.alpha = alpha.get();
            b.destination = dst;
            b.width = kW;
            b.height = kH;
            b.colour = 0x3080C0;
            b.sourceColour = fromSource ? src : nullptr;
            BltAlphaChannel(b);
        });
}

TEST(Swapped16Imaging, GreyFilterAndBlendFill) {
    for (const bool blackWhite : {false, true})
        swapped16::ExpectBitmapTwins(
            [&](qbBitmap* dst, qbBitmap*, int) { ASSERT_EQ(GrayscaleBitmap(dst, kW, kH, blackWhite), 0); });
    swapped16::ExpectBufferTwins([](uint16_t* pixels, int32_t rowLength, int format) {
        FillPixelRect(pixels, 0, 0, kW, kH, 0x3080C0, 100, rowLength, static_cast<uint32_t>(format));
    });
}

TEST(Swapped16Imaging, MixBitmaps) {
    const BitmapPtr alpha = Weights();
    for (qbBitmap* weights : {static_cast<qbBitmap*>(nullptr), alpha.get()})
        swapped16::ExpectBitmapTwins([&](qbBitmap* dst, qbBitmap* src, int) {
            ASSERT_EQ(MixBitmaps(dst, src, nullptr, 0, 0, 0, 0, kW, kH, 160, weights, kW, kH), 0);
        });
}
