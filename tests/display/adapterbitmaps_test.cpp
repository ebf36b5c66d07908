// Bitmaps kept by a display adapter: what the adapter is asked to make from
// pixels and from requests, refusals, and reading its pixels back.
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "core/plugin.h"
#include "display/adapterbitmaps.h"
#include "display_fixture.h"
#include "imaging/bitmappixels.h"

namespace {

// What the fake adapter saw and what it answers.
struct Seen {
    std::vector<qbAdapterTag> tags;
    std::vector<uint32_t> pixels;  // tag 1's words, width x height
    uint32_t flags = 0;
    bool refuse = false;
    int freedBitmaps = 0;
    int freedPixels = 0;
    int32_t readFormat = 10;
    int32_t readAlpha = 0;
    std::vector<uint8_t> readBytes;
    bool readNothing = false;
};
Seen g;
int g_token = 0;

void* AllocVideo(int32_t width, int32_t height, uint32_t flags, uint32_t* state, const qbAdapterTag* tags) {
    g.flags = flags;
    g.tags.clear();
    for (const qbAdapterTag* t = tags; t; ++t) {
        g.tags.push_back(*t);
        if (t->tag == 0) break;
        // An adapter bitmap handed back as the source is not ARGB words.
        if (t->tag == kVideoTagPixels && t->value && t->value != reinterpret_cast<intptr_t>(&g_token)) {
            const auto* p = reinterpret_cast<const uint32_t*>(t->value);
            g.pixels.assign(p, p + static_cast<size_t>(width) * height);
        }
    }
    if (state) *state = 0;
    return g.refuse ? nullptr : &g_token;
}
void FreeVideo(void*) { ++g.freedBitmaps; }
void* ReadVideo(void*, const qbAdapterTag* tags) {
    if (g.readNothing) return nullptr;
    for (const qbAdapterTag* t = tags; t && t->tag; ++t) {
        if (t->tag == kReadTagFormat) *reinterpret_cast<int32_t*>(t->value) = g.readFormat;
        if (t->tag == kReadTagHasAlpha) *reinterpret_cast<int32_t*>(t->value) = g.readAlpha;
    }
    return g.readBytes.data();
}
void FreePixels(void*) { ++g.freedPixels; }

class AdapterBitmapTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        g = Seen{};
        slots_.AllocVideoBitMap = AllocVideo;
        slots_.FreeVideoBitMap = FreeVideo;
        slots_.ReadVideoPixels = ReadVideo;
        slots_.FreeVideoPixels = FreePixels;
    }
    int Install(uint32_t flags, uint32_t features = 0) {
        plugin_.capabilities = PLUGINCAPS_DISPLAYADAPTER;
        plugin_.displaySlots = &slots_;
        const qbAdapterTag tags[] = {{kAdapterTagFeatures, features}, {0, 0}};
        SetAdapterWindowOpen(true);
        const int err = SetDisplayAdapter(&plugin_, flags, tags);
        SetAdapterWindowOpen(false);
        return err;
    }
    intptr_t Tag(uint32_t tag) const {
        for (const qbAdapterTag& t : g.tags)
            if (t.tag == tag) return t.value;
        return -1;
    }
    qbDisplayAdapterSlots slots_{};
    qbPlugin plugin_;
};

}  // namespace

TEST_F(AdapterBitmapTest, PixelsBecomeOpaqueKeyedOrPlaneAlphaBlocks) {
    ASSERT_EQ(Install(kAdapterVideoBitmaps), 0);
    const uint32_t pixels[4] = {0x11FF0000, 0x2200FF00, 0x330000FF, 0x44FF0000};
    void* out = nullptr;
    bool fallback = true;
    BitmapPtr none;
    // Neither plane nor key colour: format 8, every alpha 255.
    ASSERT_EQ(PixelsToAdapterBitmap(pixels, kNoKeyColour, 2, 2, 2, 0, 7, &out, &none, &fallback), 0);
    EXPECT_EQ(out, &g_token);
    EXPECT_FALSE(fallback);
    EXPECT_EQ(Tag(kVideoTagFormat), kBlockOpaque);
    EXPECT_EQ(g.flags, 7u);
    EXPECT_EQ(g.pixels, (std::vector<uint32_t>{0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFF0000}));
    // The key colour: alpha 0 there, 255 elsewhere, format 9.
    ASSERT_EQ(PixelsToAdapterBitmap(pixels, 0xFF0000, 2, 2, 2, 0, 0, &out, &none, &fallback), 0);
    EXPECT_EQ(Tag(kVideoTagFormat), kBlockAlpha);
    EXPECT_EQ(g.pixels, (std::vector<uint32_t>{0x00FF0000, 0xFF00FF00, 0xFF0000FF, 0x00FF0000}));
    // A plane: its bytes, and it is taken.
    BitmapPtr plane(CreateAlphaFromARGB(pixels, 2, 2, 2));
    ASSERT_TRUE(plane);
    ASSERT_EQ(PixelsToAdapterBitmap(pixels, 0xFF0000, 2, 2, 2, 0, 0, &out, &plane, &fallback), 0);
    EXPECT_FALSE(plane);
    EXPECT_EQ(Tag(kVideoTagFormat), kBlockAlpha);
    EXPECT_EQ(g.pixels, (std::vector<uint32_t>{0x11FF0000, 0x2200FF00, 0x330000FF, 0x44FF0000}));
    // Mode 1 hands the caller's pixels on with their row length.
    const uint32_t wide[6] = {1, 2, 9, 3, 4, 9};
    ASSERT_EQ(PixelsToAdapterBitmap(wide, kNoKeyColour, 2, 2, 3, 1, 0, &out, &none, &fallback), 0);
    EXPECT_EQ(Tag(kVideoTagPixels), reinterpret_cast<intptr_t>(wide));
    EXPECT_EQ(Tag(kVideoTagRowLength), 3);
    EXPECT_EQ(Tag(kVideoTagFormat), kBlockAlpha);
}

TEST_F(AdapterBitmapTest, ARefusalFailsOrFallsBackByTheAdaptersFlag) {
    const uint32_t pixels[1] = {0x123456};
    void* out = nullptr;
    bool fallback = false;
    BitmapPtr none;
    // No adapter at all.
    EXPECT_EQ(PixelsToAdapterBitmap(pixels, kNoKeyColour, 1, 1, 1, 0, 0, &out, &none, &fallback), ERR_BITMAP);
    ASSERT_EQ(Install(kAdapterVideoBitmaps), 0);
    g.refuse = true;
    EXPECT_EQ(PixelsToAdapterBitmap(pixels, kNoKeyColour, 1, 1, 1, 0, 0, &out, &none, &fallback), ERR_BITMAP);
    EXPECT_FALSE(fallback);
    ASSERT_EQ(Install(kAdapterVideoBitmaps | kAdapterBitmapFallback), 0);
    EXPECT_EQ(PixelsToAdapterBitmap(pixels, kNoKeyColour, 1, 1, 1, 0, 0, &out, &none, &fallback), 0);
    EXPECT_TRUE(fallback);
    EXPECT_EQ(out, nullptr);
    // A hardware import then makes an ordinary bitmap.
    qbBitmap* made = nullptr;
    ASSERT_EQ(CreateBitmapFromARGB(pixels, kNoKeyColour, 1, 1, 1, true, 0, 0, &made, nullptr, nullptr), 0);
    BitmapPtr bitmap(made);
    EXPECT_EQ(bitmap->videoFlag, 0u);
    EXPECT_TRUE(bitmap->colour);
}

TEST_F(AdapterBitmapTest, VideoBitmapsComeFromTheRequestInTheTagOrder) {
    // Without video bitmaps, flag 8 makes an ordinary bitmap.
    BitmapPtr plain(AllocBitmap(2, 2, kAllocVideoBitmap, nullptr));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->videoFlag, 0u);
    ASSERT_EQ(Install(kAdapterVideoBitmaps), 0);

    const double matrix[4] = {1, 0, 0, 1};
    const uint32_t argb[4] = {1, 2, 3, 4};
    int handle = 0;
    qbVideoBitmapRequest request;
    request.displayHandle = &handle;
    request.argb = argb;
    request.values[0] = 10;
    request.values[1] = 20;
    request.values[2] = 30;
    request.transform = matrix;
    BitmapPtr video(AllocBitmap(2, 2, kAllocVideoBitmap, &request));
    ASSERT_TRUE(video);
    EXPECT_EQ(video->videoFlag, 1u);
    std::vector<uint32_t> order;
    for (const qbAdapterTag& t : g.tags) order.push_back(t.tag);
    EXPECT_EQ(order, (std::vector<uint32_t>{6, 1, 2, 3, 5, 4, 0}));
    EXPECT_EQ(Tag(kVideoTagValue3), 30);
    EXPECT_EQ(Tag(kVideoTagTransform), reinterpret_cast<intptr_t>(matrix));
    EXPECT_EQ(request.hasAlpha, 0);

    // Without a transform: 1, 2, 3, 4; a source with a mask gives its copy
    // with alpha 255 where the bit is set, and flag 1.
    BitmapPtr source(AllocBitmap(2, 1, 0, nullptr));
    FillBitmapRect(source.get(), 0, 0, 2, 1, 0x00ABCDEF);
    BitmapPtr mask(AllocMask(source.get(), 2, 1, true, nullptr, 0));
    FillMaskRect(mask.get(), 1, 0, 1, 1, 0);
    qbVideoBitmapRequest fromSource;
    fromSource.source = source.get();
    fromSource.sourceMask = mask.get();
    BitmapPtr second(AllocBitmap(2, 1, kAllocVideoBitmap, &fromSource));
    ASSERT_TRUE(second);
    order.clear();
    for (const qbAdapterTag& t : g.tags) order.push_back(t.tag);
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(g.pixels, (std::vector<uint32_t>{0x00ABCDEF, 0xFFABCDEF}));
    EXPECT_EQ(g.flags & kVideoFlagAlpha, kVideoFlagAlpha);
    EXPECT_EQ(fromSource.hasAlpha, 1);
    // A source that lives in the adapter is handed over as it is.
    qbVideoBitmapRequest fromVideo;
    fromVideo.source = video.get();
    BitmapPtr third(AllocBitmap(2, 2, kAllocVideoBitmap, &fromVideo));
    EXPECT_EQ(Tag(kVideoTagPixels), reinterpret_cast<intptr_t>(&g_token));
    EXPECT_EQ(g.flags & kVideoFlagAdapterData, kVideoFlagAdapterData);
    third.reset();
    second.reset();
    video.reset();
    EXPECT_EQ(g.freedBitmaps, 3);
}

TEST_F(AdapterBitmapTest, ReadsTakeAlphaFromTheFormatsAlphaByteAndFreeEveryRead) {
    ASSERT_EQ(Install(kAdapterVideoBitmaps), 0);
    int handle = 0;
    qbVideoBitmapRequest request;
    request.displayHandle = &handle;
    BitmapPtr video(AllocBitmap(2, 1, kAllocVideoBitmap, &request));
    ASSERT_TRUE(video);
    // Two pixels whose bytes are 10 20 30 40 and 50 60 70 80.
    g.readBytes = {10, 20, 30, 40, 50, 60, 70, 80};
    g.readAlpha = 1;
    const struct {
        int32_t format;
        uint8_t first, second;
    } cases[] = {{10, 40, 80}, {11, 10, 50}, {12, 10, 50}, {13, 40, 80}};
    int reads = 0;
    for (const auto& c : cases) {
        g.readFormat = c.format;
        BitmapPtr copy, alpha;
        ASSERT_EQ(PlainCopyOfAdapterBitmap(video.get(), &copy, &alpha), 0) << c.format;
        ++reads;
        ASSERT_TRUE(copy && alpha) << c.format;
        EXPECT_EQ(alpha->plane->data[0], c.first) << c.format;
        EXPECT_EQ(alpha->plane->data[1], c.second) << c.format;
    }
    EXPECT_EQ(g.freedPixels, reads);
    // Alpha claimed by a 16-bit format is a wrong use; a pixel size other
    // than 2 or 4 bytes is not read; no pixels at all is 1524. Each read
    // that gave pixels is freed.
    BitmapPtr copy, alpha;
    g.readFormat = 4;
    EXPECT_EQ(PlainCopyOfAdapterBitmap(video.get(), &copy, &alpha), ERR_WRONGUSAGE);
    g.readFormat = 8;  // 3 bytes a pixel
    EXPECT_EQ(PlainCopyOfAdapterBitmap(video.get(), &copy, &alpha), ERR_READVIDEOPIXELS);
    EXPECT_EQ(g.freedPixels, reads + 2);
    g.readNothing = true;
    EXPECT_EQ(PlainCopyOfAdapterBitmap(video.get(), &copy, &alpha), ERR_READVIDEOPIXELS);
    EXPECT_EQ(ERR_READVIDEOPIXELS, 1524);
    EXPECT_EQ(g.freedPixels, reads + 2);
    EXPECT_FALSE(copy);
}
