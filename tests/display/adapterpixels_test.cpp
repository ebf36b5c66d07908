// Bitmaps whose pixels the display adapter keeps: read through its pixel
// slot in its own format, and the operations on locked pixels (scaling,
// copying) working on what the adapter reads, not on the host's memory.
#include "display_fixture.h"
#include "display/pixelformats.h"
#include "imaging/bitmappixels.h"
#include "imaging/clonebitmap.h"
#include "imaging/scalebitmap.h"
#include "plugins/plugin.h"

namespace {

struct FakeVideoPixels {
    static inline std::vector<uint32_t> pixels;
    static inline int reads = 0, frees = 0;
    static inline bool fail = false;
    static void* Read(void*, const qbAdapterTag* tags) {
        ++reads;
        if (fail) return nullptr;
        for (const qbAdapterTag* t = tags; t && t->tag; ++t)
            if (t->tag == kAdapterTagPixelFormat) *reinterpret_cast<int32_t*>(t->value) = kFormatRGBA;
        return pixels.data();
    }
    static void Free(void*) { ++frees; }
};

class AdapterPixelsTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        slots_.ReadVideoPixels = &FakeVideoPixels::Read;
        slots_.FreeVideoPixels = &FakeVideoPixels::Free;
        plugin_.capabilities = PLUGINCAPS_DISPLAYADAPTER;
        plugin_.displaySlots = &slots_;
        SetAdapterWindowOpen(true);
        ASSERT_EQ(SetDisplayAdapter(&plugin_, kAdapterVideoBitmaps | kAdapterOwnsBitmaps, nullptr), 0);
        SetAdapterWindowOpen(false);
        // 2 x 2 in format 12 (RGBA): $RRGGBB << 8.
        FakeVideoPixels::pixels = {0x11223300u, 0x44556600u, 0x77889900u, 0xAABBCC00u};
        FakeVideoPixels::reads = FakeVideoPixels::frees = 0;
        FakeVideoPixels::fail = false;
        bitmap_.reset(AllocBitmap(2, 2, 0, nullptr));
        FillBitmapRect(bitmap_.get(), 0, 0, 2, 2, 0);
        bitmap_->videoFlag = 1;
        bitmap_->videoState = 5;
    }
    qbDisplayAdapterSlots slots_;
    qbPlugin plugin_;
    BitmapPtr bitmap_;
};

}  // namespace

TEST_F(AdapterPixelsTest, ReadingScalingAndCopyingWorkOnWhatTheAdapterReads) {
    std::vector<uint32_t> argb;
    uint32_t flag = 0;
    ASSERT_EQ(ReadBitmapPixels(bitmap_.get(), 1, 0, 1, 2, &flag, &argb), 0);
    EXPECT_EQ(argb, (std::vector<uint32_t>{0x445566u, 0xAABBCCu}));
    EXPECT_EQ(flag, 5u);
    qbBitmap *scaled = nullptr, *m = nullptr, *a = nullptr;
    ASSERT_EQ(ScaleBitmap(bitmap_.get(), nullptr, nullptr, 0, 0, nullptr, 2, 2, 4, 4, false, &scaled, &m, &a), 0);
    BitmapPtr keepScaled(scaled);
    EXPECT_EQ(ReadBitmapPixel(scaled, 3, 3, false), 0xAABBCCu);
    EXPECT_EQ(ReadBitmapPixel(scaled, 0, 1, false), 0x112233u);
    qbBitmap* copy = nullptr;
    ASSERT_EQ(CloneBitmapRect(bitmap_.get(), nullptr, nullptr, 1, 1, 1, 1, &copy, &m, &a), 0);
    BitmapPtr keepCopy(copy);
    EXPECT_EQ(ReadBitmapPixel(copy, 0, 0, false), 0xAABBCCu);
    EXPECT_EQ(FakeVideoPixels::frees, FakeVideoPixels::reads);
    FakeVideoPixels::fail = true;
    EXPECT_EQ(CloneBitmapRect(bitmap_.get(), nullptr, nullptr, 0, 0, 1, 1, &copy, &m, &a), ERR_READVIDEOPIXELS);
    EXPECT_EQ(ReadBitmapPixels(bitmap_.get(), 0, 0, 2, 2, nullptr, &argb), ERR_READVIDEOPIXELS);
    EXPECT_TRUE(argb.empty());
}
