// Bitmaps whose pixels the display adapter keeps: read through its pixel
// slot in its own format, and scaling and copying working on what the
// adapter reads, not on the host's memory.
#include "core/pixelformats.h"
#include "core/plugin.h"
#include "display/adapter_install.h"
#include "display_fixture.h"
#include "imaging/bitmappixels.h"
#include "imaging/clonebitmap.h"
#include "imaging/scalebitmap.h"

namespace {

// 2 x 2 pixels in format 12 (RGBA: $RRGGBB << 8).
std::vector<uint32_t> adapterPixels = {0x11223300u, 0x44556600u, 0x77889900u, 0xAABBCC00u};
// The same in RGB565, as an adapter of 16-bit pixels answers.
std::vector<uint16_t> adapterPixels16 = {0xF800u, 0x07E0u, 0x001Fu, 0xFFFFu};
int reads = 0, frees = 0;
bool failReads = false;
int32_t answeredFormat = kFormatRGBA;

void* ReadPixels(void*, const qbAdapterTag* tags) {
    ++reads;
    for (const qbAdapterTag* t = tags; t && t->tag; ++t)
        if (t->tag == kAdapterTagPixelFormat) *reinterpret_cast<int32_t*>(t->value) = answeredFormat;
    if (failReads) return nullptr;
    return answeredFormat == kFormatRGB565 ? static_cast<void*>(adapterPixels16.data()) : adapterPixels.data();
}
void FreePixels(void*) { ++frees; }

}  // namespace

TEST_F(DisplayWorld, ReadingScalingAndCopyingWorkOnWhatTheAdapterReads) {
    qbDisplayAdapterSlots slots;
    slots.ReadVideoPixels = &ReadPixels;
    slots.FreeVideoPixels = &FreePixels;
    qbPlugin plugin;
    ASSERT_EQ(InstallTestAdapter(&plugin, &slots, kAdapterVideoBitmaps | kAdapterOwnsBitmaps), 0);
    BitmapPtr bitmap(AllocBitmap(2, 2, 0, nullptr));
    FillBitmapRect(bitmap.get(), 0, 0, 2, 2, 0);
    bitmap->videoFlag = 1;
    bitmap->videoState = 5;

    std::vector<uint32_t> argb;
    uint32_t flag = 0;
    ASSERT_EQ(ReadBitmapPixels(bitmap.get(), 1, 0, 1, 2, &flag, &argb), 0);
    EXPECT_EQ(argb, (std::vector<uint32_t>{0x445566u, 0xAABBCCu}));
    EXPECT_EQ(flag, 5u);
    qbBitmap *scaled = nullptr, *m = nullptr, *a = nullptr;
    ASSERT_EQ(ScaleBitmap(bitmap.get(), nullptr, nullptr, 0, 0, nullptr, 2, 2, 4, 4, false, &scaled, &m, &a), 0);
    BitmapPtr keepScaled(scaled);
    EXPECT_EQ(ReadBitmapPixel(scaled, 3, 3, false), 0xAABBCCu);
    EXPECT_EQ(ReadBitmapPixel(scaled, 0, 1, false), 0x112233u);
    qbBitmap* copy = nullptr;
    ASSERT_EQ(CloneBitmapRect(bitmap.get(), nullptr, nullptr, 1, 1, 1, 1, &copy, &m, &a), 0);
    BitmapPtr keepCopy(copy);
    EXPECT_EQ(ReadBitmapPixel(copy, 0, 0, false), 0xAABBCCu);
    EXPECT_EQ(frees, reads);
    failReads = true;
    EXPECT_EQ(CloneBitmapRect(bitmap.get(), nullptr, nullptr, 0, 0, 1, 1, &copy, &m, &a), ERR_READVIDEOPIXELS);
    EXPECT_EQ(ReadBitmapPixels(bitmap.get(), 0, 0, 2, 2, nullptr, &argb), ERR_READVIDEOPIXELS);
    EXPECT_TRUE(argb.empty());
}

TEST_F(DisplayWorld, AdapterPixelsOfTwoBytesAreReadAsSuchAndOtherSizesAreRefused) {
    qbDisplayAdapterSlots slots;
    slots.ReadVideoPixels = &ReadPixels;
    slots.FreeVideoPixels = &FreePixels;
    qbPlugin plugin;
    ASSERT_EQ(InstallTestAdapter(&plugin, &slots, kAdapterVideoBitmaps | kAdapterOwnsBitmaps), 0);
    BitmapPtr bitmap(AllocBitmap(2, 2, 0, nullptr));
    bitmap->videoFlag = 1;
    failReads = false;
    reads = frees = 0;
    answeredFormat = kFormatRGB565;
    std::vector<uint32_t> argb;
    ASSERT_EQ(ReadBitmapPixels(bitmap.get(), 0, 0, 2, 2, nullptr, &argb), 0);
    EXPECT_EQ(argb, (std::vector<uint32_t>{0xF80000u, 0x00FC00u, 0x0000F8u, 0xF8FCF8u}));
    // Three bytes a pixel, or no format at all: nothing is read, the
    // adapter's pixels are still given back.
    for (int32_t format : {int32_t{kFormatRGB24}, int32_t{99}}) {
        answeredFormat = format;
        EXPECT_EQ(ReadBitmapPixels(bitmap.get(), 0, 0, 2, 2, nullptr, &argb), ERR_READVIDEOPIXELS) << format;
    }
    EXPECT_EQ(frees, reads);
    answeredFormat = kFormatRGBA;
}
