// The graphics table as plugins reach it: brushes made and read back
// through it, the pixel slots' tag and alpha rules, and null records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "core/iconlist.h"
#include "core/runstate.h"
#include "core/scratch.h"
#include "display/displayhooks.h"
#include "display/displaylib_fixture.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/imagefixtures.h"
#include "objects/brush_fixture.h"
#include "plugins/basetables.h"
#include "plugins/plugin.h"

namespace {

const qbGraphicsTable& G() { return kPluginGraphicsTable; }

class BaseGraphicsTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        SetMainState(L_);
    }
    void TearDown() override {
        SetMainState(nullptr);
        BrushWorld::TearDown();
    }
};

}  // namespace

TEST(BaseGraphicsLayout, TheRootServesEverySlotAndNullRecordsFailQuietly) {
    EXPECT_EQ(GetPluginBase()->graphicsTable, &kPluginGraphicsTable);
    auto slots = reinterpret_cast<void* const*>(&kPluginGraphicsTable);
    for (int i = 0; i < 30; ++i) EXPECT_NE(slots[i], nullptr) << "slot " << i;

    EXPECT_EQ(G().LoadImage(nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(G().LoadImagePixels("x.png", nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(G().GetImagePixels(nullptr, nullptr, nullptr), nullptr);
    G().FreeImage(nullptr);
    G().FreeLockRecord(nullptr);
    G().UnlockBitmap(nullptr);
    G().RemoveDisplayHook(nullptr);
    EXPECT_EQ(G().RefreshHookDisplay(nullptr), ERR_FINDDISPLAY);
    EXPECT_EQ(G().ResizeHookDisplay(nullptr, 10, 10), ERR_FINDDISPLAY);
    EXPECT_EQ(G().MakeBrush(1, 2, 2, nullptr, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(G().SetDisplayAdapter(nullptr, 0, nullptr), ERR_WRONGUSAGE);
    G().FreeImageList(nullptr);
    qbBitmapLockRecord record{};
    EXPECT_EQ(G().LockBitmap(nullptr, nullptr, &record), 0);
    BitmapPtr bitmap(AllocBitmap(2, 2, 0, nullptr));
    EXPECT_EQ(G().LockBitmap(bitmap.get(), nullptr, nullptr), 0);
    int handle = 0;
    EXPECT_EQ(G().GetDisplayAttrs(&handle, nullptr), -1);
    EXPECT_EQ(G().TransferPixels(nullptr, 0), 0);
    G().FillPixelRect(nullptr, nullptr, 0, 0, nullptr);
    EXPECT_EQ(G().ReadBitmapARGB(nullptr, nullptr, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(G().GetBitmapAttr(nullptr, 0), 0);
    EXPECT_EQ(G().DisplayIdHandle(1, 1), 0);
}

TEST_F(BaseGraphicsTest, BrushesMadeThroughTheTableReadBackAndFree) {
    const uint32_t pixels[4] = {0x80FF0000, 0xFF00FF00, 0x000000FF, 0x40FFFFFF};
    // A key colour: the blue pixel is masked out.
    qbBrushRequest keyed{};
    keyed.pixels = pixels;
    keyed.keyColour = 0x0000FF;
    keyed.flags = 2;
    ASSERT_EQ(G().MakeBrush(5, 2, 2, &keyed, nullptr), 0);
    qbBrush* b = Find(5);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->mask, nullptr);
    EXPECT_EQ(b->alpha, nullptr);
    int err = -1;
    int32_t width = 0, height = 0;
    uint32_t* argb = G().ReadBrushPixels(5, &width, &height, &err);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(std::vector<uint32_t>(argb, argb + 4),
              (std::vector<uint32_t>{0xFFFF0000, 0xFF00FF00, 0x000000FF, 0xFFFFFFFF}));
    G().FreeMemory(argb);

    // An alpha plane from the top bytes, under an automatic id.
    qbBrushRequest blended{};
    blended.pixels = pixels;
    blended.flags = 1;
    void* automatic = nullptr;
    ASSERT_EQ(G().MakeBrush(0, 2, 2, &blended, &automatic), 0);
    ASSERT_NE(automatic, nullptr);
    const auto id = reinterpret_cast<intptr_t>(automatic);
    qbBrush* a = Find(ObjectID{0, automatic});
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->alpha, nullptr);
    EXPECT_EQ(a->alpha->plane->data[0], 0x80);
    // The brush's own pixels, locked, equal what went in.
    qbBitmapLockRecord* lock = G().GetBrushARGB(static_cast<int32_t>(5), &err);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->width, 2);
    EXPECT_EQ(lock->format, kFormatARGB);
    const auto* row = static_cast<const uint32_t*>(lock->pixels);
    EXPECT_EQ(row[1] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(static_cast<const uint32_t*>(lock->pixels)[lock->rowLength] & 0xFFFFFF, 0x0000FFu);
    G().FreeLockRecord(lock);
    // Without pixels: an empty brush of the size.
    qbBrushRequest empty{};
    ASSERT_EQ(G().MakeBrush(6, 3, 1, &empty, nullptr), 0);
    EXPECT_EQ(Find(6)->width, 3);
    EXPECT_EQ(G().MakeBrush(7, 0, 1, &empty, nullptr), ERR_BADDIMENSIONS);
    keyed.rowLength = 1;  // shorter than a row
    EXPECT_EQ(G().MakeBrush(7, 2, 2, &keyed, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(Find(7), nullptr);

    // Freed by id; then it is gone for every slot.
    EXPECT_EQ(G().FreeBrush(5), 0);
    EXPECT_EQ(G().ReadBrushPixels(5, &width, &height, &err), nullptr);
    EXPECT_EQ(err, ERR_FINDBRUSH);
    EXPECT_EQ(G().FreeBrush(5), ERR_FINDBRUSH);
    EXPECT_EQ(G().GetBrushARGB(5, &err), nullptr);
    EXPECT_NE(Find(ObjectID{0, reinterpret_cast<void*>(id)}), nullptr);
}

TEST(BaseGraphicsPixels, ColoursRoundTripAndDrawingNeedsTheRowLength) {
    for (int32_t format = 10; format <= 13; ++format) {
        const uint32_t pixel = G().ColourToPixel(0x80123456, format, 1);
        EXPECT_EQ(G().PixelToColour(pixel, format, 1), 0x80123456u) << format;
        EXPECT_EQ(G().PixelToColour(G().ColourToPixel(0x80123456, format, 0), format, 0), 0x123456u) << format;
    }
    std::vector<uint32_t> pixels(4 * 3, 0x000000);
    const qbAdapterTag noRow[] = {{1, 10}, {0, 0}};
    const qbAdapterTag row[] = {{2, 4}, {3, 3}, {0, 0}};
    // Without tag 2, nothing.
    G().FillPixels(pixels.data(), 0, 0, 4, 3, 0xFFFFFFFF, 0, noRow);
    G().DrawPixelLine(pixels.data(), 0, 0, 3, 0, 0xFFFFFFFF, 0, nullptr);
    EXPECT_EQ(pixels, std::vector<uint32_t>(12, 0));
    // Alpha 255 unless flag bit 0 takes the colour's own.
    G().FillPixels(pixels.data(), 1, 1, 10, 10, 0x00FF0000, 0, row);
    EXPECT_EQ(pixels[5] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(pixels[4 * 2 + 3] & 0xFFFFFF, 0xFF0000u);  // clipped to the row and tag 3's rows
    const qbPixelRect rect{0, 0, 1, 1};
    G().FillPixelRect(pixels.data(), &rect, 0x000000FF, 1, row);  // alpha 0: nothing
    EXPECT_EQ(pixels[0], 0u);
    G().FillPixelRect(pixels.data(), &rect, 0x800000FF, 1, row);
    EXPECT_GT(pixels[0] & 0xFF, 0x70u);
    EXPECT_LT(pixels[0] & 0xFF, 0x90u);
    G().DrawPixelLine(pixels.data(), 0, 0, 3, 0, 0x0000FF00, 0, row);
    EXPECT_EQ(pixels[3] & 0xFFFFFF, 0x00FF00u);
    // A line far outside stays inside the buffer.
    G().DrawPixelLine(pixels.data(), -100, 1, 100, 1, 0x00FFFFFF, 0, row);
    EXPECT_EQ(pixels[4] & 0xFFFFFF, 0xFFFFFFu);
}

TEST(BaseGraphicsPixels, TransfersCopyMaskAndBlend) {
    const uint32_t source[2] = {0x00FF0000, 0x0000FF00};
    const uint8_t mask[2] = {0, 255};
    uint32_t target[2] = {0x000000FF, 0x000000FF};
    qbPixelTransfer t{};
    t.source = source;
    t.srcPitch = 2;
    t.destination = target;
    t.dstPitch = 2;
    t.width = 2;
    t.height = 1;
    t.format = 10;
    t.bytesPerPixel = 4;
    t.mask = mask;
    t.maskPitch = 2;
    EXPECT_EQ(G().TransferPixels(&t, 1), 1);
    EXPECT_EQ(target[0], 0x000000FFu);
    EXPECT_EQ(target[1] & 0xFFFFFF, 0x00FF00u);
    t.bytesPerPixel = 3;
    EXPECT_EQ(G().TransferPixels(&t, 0), 0);
    t.bytesPerPixel = 4;
    t.mask = nullptr;
    EXPECT_EQ(G().TransferPixels(&t, 2), 0);  // a blend needs its mask
    EXPECT_EQ(G().TransferPixels(&t, 0), 1);
    EXPECT_EQ(target[0] & 0xFFFFFF, 0xFF0000u);
}

TEST(BaseGraphicsPictures, APictureLoadsWithItsSizeAndPixelsOrGivesTheLoadersError) {
    ScratchDir dir;
    const std::string path = dir / "p.png";
    const std::vector<uint32_t> argb = {0xFF102030, 0x80405060, 0xFF708090, 0x00A0B0C0, 0xFFD0E0F0, 0x40010203};
    ASSERT_TRUE(imagefixtures::WriteRgbPng(path, 3, 2, argb, true, false));
    int32_t width = 0, height = 0;
    int err = -1;
    void* image = G().LoadImage(path.c_str(), nullptr, &width, &height, &err);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    const uint32_t* pixels = G().GetImagePixels(image, nullptr, nullptr);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(pixels, pixels + 6), argb);
    G().FreeImage(image);

    void* second = nullptr;
    width = height = 0;
    pixels = G().LoadImagePixels(path.c_str(), nullptr, &width, &height, &second, &err);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(pixels[5], argb[5]);
    G().FreeImage(second);

    const std::string missing = dir / "none.png";
    width = 7;
    EXPECT_EQ(G().LoadImage(missing.c_str(), nullptr, &width, nullptr, &err), nullptr);
    EXPECT_NE(err, 0);
    EXPECT_EQ(width, 7);
    second = &width;
    EXPECT_EQ(G().LoadImagePixels(missing.c_str(), nullptr, nullptr, nullptr, &second, &err), nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(G().LoadImage(nullptr, nullptr, nullptr, nullptr, &err), nullptr);
    EXPECT_EQ(err, ERR_WRONGUSAGE);
}

// A 4 x 3 bitmap with a pixel of its own at (1,0), (0,1) and (3,2).
TEST(BaseGraphicsPictures, BitmapsLockAndReadBackAnyRectangle) {
    BitmapPtr bitmap(AllocBitmap(4, 3, 0, nullptr));
    ASSERT_TRUE(bitmap);
    FillBitmapRect(bitmap.get(), 0, 0, 4, 3, 0x000000);
    FillBitmapRect(bitmap.get(), 1, 0, 1, 1, 0xFF0000);
    FillBitmapRect(bitmap.get(), 0, 1, 1, 1, 0x00FF00);
    FillBitmapRect(bitmap.get(), 3, 2, 1, 1, 0x0000FF);
    auto rgb = [](std::vector<uint32_t> v) {
        for (uint32_t& p : v) p &= 0xFFFFFF;
        return v;
    };
    std::vector<uint32_t> all(12, 1);
    ASSERT_EQ(G().ReadBitmapARGB(bitmap.get(), all.data(), nullptr), 0);
    EXPECT_EQ(rgb(all), (std::vector<uint32_t>{0, 0xFF0000, 0, 0, 0x00FF00, 0, 0, 0, 0, 0, 0, 0x0000FF}));
    const qbAdapterTag corner[] = {{1, 1}, {2, 0}, {3, 3}, {4, 3}, {0, 0}};
    std::vector<uint32_t> part(9, 1);
    ASSERT_EQ(G().ReadBitmapARGB(bitmap.get(), part.data(), corner), 0);
    EXPECT_EQ(rgb(part), (std::vector<uint32_t>{0xFF0000, 0, 0, 0, 0, 0, 0, 0, 0x0000FF}));
    // Outside the bitmap reads black.
    const qbAdapterTag left[] = {{1, -1}, {2, 1}, {3, 2}, {4, 1}, {0, 0}};
    std::vector<uint32_t> edge(2, 1);
    ASSERT_EQ(G().ReadBitmapARGB(bitmap.get(), edge.data(), left), 0);
    EXPECT_EQ(rgb(edge), (std::vector<uint32_t>{0, 0x00FF00}));
    const qbAdapterTag empty[] = {{3, 0}, {0, 0}};
    EXPECT_EQ(G().ReadBitmapARGB(bitmap.get(), part.data(), empty), ERR_MEM);
    EXPECT_EQ(G().ReadBitmapARGB(bitmap.get(), nullptr, nullptr), ERR_WRONGUSAGE);

    // A lock shows the bitmap's own pixels: what is written there reads back.
    for (const qbAdapterTag* tags : {static_cast<const qbAdapterTag*>(nullptr), corner}) {
        qbBitmapLockRecord record{};
        ASSERT_EQ(G().LockBitmap(bitmap.get(), tags, &record), 1);
        EXPECT_EQ(record.width, 4);
        EXPECT_EQ(record.height, 3);
        EXPECT_EQ(record.format, kFormatARGB);
        EXPECT_GE(record.rowLength, 4);
        EXPECT_EQ(record.bytesPerRow, record.rowLength * 4);
        ASSERT_NE(record.token, nullptr);
        EXPECT_EQ(static_cast<uint32_t*>(record.pixels)[record.rowLength + 0] & 0xFFFFFF, 0x00FF00u);
        if (tags == nullptr) static_cast<uint32_t*>(record.pixels)[record.rowLength * 2 + 1] = 0xFFABCDEF;
        G().UnlockBitmap(&record);
        EXPECT_EQ(record.token, nullptr);
        EXPECT_EQ(record.pixels, nullptr);
    }
    ASSERT_EQ(G().ReadBitmapARGB(bitmap.get(), all.data(), nullptr), 0);
    EXPECT_EQ(all[9] & 0xFFFFFF, 0xABCDEFu);
}

// 16-bit targets: the line takes the colour in the target's layout, plain
// and blended, green being where 5-5-5 and 5-6-5 differ.
TEST(BaseGraphicsPixels, LinesOnSixteenBitTargetsUseTheTargetsLayout) {
    for (const auto& [format, green] : {std::pair<int, uint16_t>{kFormatRGB555, 0x03E0},
                                        {kFormatRGB565, 0x07E0}, {kFormatBGR565, 0x07E0}}) {
        std::vector<uint16_t> pixels(4 * 3, 0);
        const qbAdapterTag tags[] = {{1, format}, {2, 4}, {3, 2}, {0, 0}};
        G().DrawPixelLine(pixels.data(), 0, 1, 3, 1, 0x0000FF00, 0, tags);
        G().DrawPixelLine(pixels.data(), 0, 2, 3, 2, 0x0000FF00, 0, tags);  // below tag 3's rows
        EXPECT_EQ(pixels, (std::vector<uint16_t>{0, 0, 0, 0, green, green, green, green, 0, 0, 0, 0})) << format;
        std::fill(pixels.begin(), pixels.end(), 0);
        G().DrawPixelLine(pixels.data(), 1, 0, 1, 5, 0x00FF0000, 0, tags);
        const uint16_t red = format == kFormatBGR565 ? 0x001F : format == kFormatRGB565 ? 0xF800 : 0x7C00;
        EXPECT_EQ(pixels, (std::vector<uint16_t>{0, red, 0, 0, 0, red, 0, 0, 0, 0, 0, 0})) << format;
        // Half green over black blends in the target's layout: half green.
        G().DrawPixelLine(pixels.data(), 2, 0, 2, 0, 0x8000FF00, 1, tags);
        const uint32_t half = G().PixelToColour(pixels[2], format, 0);
        EXPECT_NEAR(static_cast<int>((half >> 8) & 0xFF), 0x80, 0x10) << format;
        EXPECT_LT(half & 0xFF00FF, 0x100000u) << format;
    }
}

TEST(BaseGraphicsPictures, TheIconListComesAsNodesOfItsPixels) {
    EXPECT_EQ(G().GetImageList(), nullptr);
    std::vector<qbIconImage> icons(2);
    icons[0].pixels = {0xFF000001, 0xFF000002};
    icons[0].width = 2;
    icons[0].height = 1;
    icons[0].flags = kIconImageMarked;
    icons[1].pixels = {0x80000003, 0x80000004, 0x80000005};
    icons[1].width = 1;
    icons[1].height = 3;
    icons[1].flags = kIconImageSecondKind;
    SetIconImageList(icons);
    qbImageNode* list = G().GetImageList();
    std::vector<std::vector<uint32_t>> seen;
    for (const qbImageNode* n = list; n; n = n->next) {
        seen.push_back({static_cast<uint32_t>(n->width), static_cast<uint32_t>(n->height), n->flags});
        seen.back().insert(seen.back().end(), n->pixels, n->pixels + n->width * n->height);
    }
    G().FreeImageList(list);
    SetIconImageList({});
    EXPECT_EQ(seen, (std::vector<std::vector<uint32_t>>{{2, 1, 1, 0xFF000001, 0xFF000002},
                                                        {1, 3, 2, 0x80000003, 0x80000004, 0x80000005}}));
}

namespace {

std::vector<qbHookBlitInfo> blits;

int RecordBlits(qbDisplayHook*, int kind, const void* info, void*) {
    if (kind == kDrawHookBlit) blits.push_back(*static_cast<const qbHookBlitInfo*>(info));
    return 0;
}

int CountCalls(qbDisplayHook*, int, const void*, void* count) {
    ++*static_cast<int*>(count);
    return 0;
}

class BaseGraphicsDisplayTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        SetMainState(L_);
        blits.clear();
        ASSERT_EQ(Create(1, [&] {
                      Field("width", 40);
                      Field("height", 30);
                  }),
                  0);
        ASSERT_EQ(RunNumbers("OpenDisplay", {1}), 0);
    }
    void TearDown() override {
        SetMainState(nullptr);
        DisplayLibWorld::TearDown();
    }
};

}  // namespace

// A plugin's hook on a display by id: refreshed through the hook (that hook
// alone) or by the display's id it sees the whole display go by; unknown ids
// are refused.
TEST_F(BaseGraphicsDisplayTest, HooksAndRefreshesFindTheirDisplayById) {
    EXPECT_EQ(G().AddDisplayHook(99, RecordBlits, nullptr, nullptr), nullptr);
    int otherCalls = 0;
    qbDisplayHook* other = G().AddDisplayHook(1, CountCalls, &otherCalls, nullptr);
    ASSERT_NE(other, nullptr);
    qbDisplayHook* hook = G().AddDisplayHook(1, RecordBlits, nullptr, nullptr);
    ASSERT_NE(hook, nullptr);
    const auto covered = [] {
        int64_t area = 0;
        for (const qbHookBlitInfo& b : blits) area += int64_t{b.width} * b.height;
        return area;
    };
    // Through the hook, only that hook is called.
    ASSERT_EQ(G().RefreshHookDisplay(hook), 0);
    EXPECT_EQ(covered(), 40 * 30);
    EXPECT_EQ(otherCalls, 0);
    blits.clear();
    ASSERT_EQ(G().RefreshDisplayById(1), 0);
    EXPECT_EQ(covered(), 40 * 30);
    EXPECT_GT(otherCalls, 0);
    G().RemoveDisplayHook(other);
    EXPECT_EQ(G().RefreshDisplayById(2), ERR_FINDDISPLAY);
    const intptr_t handle = G().DisplayIdHandle(1, 1);
    EXPECT_EQ(handle, reinterpret_cast<intptr_t>(FirstDisplay()->adapterHandle));
    EXPECT_EQ(G().DisplayIdHandle(2, 1), 0);
    if (handle) {
        EXPECT_EQ(G().DisplayIdHandle(handle, 0), 1);
    }
    G().RemoveDisplayHook(hook);
    blits.clear();
    ASSERT_EQ(G().RefreshDisplayById(1), 0);
    EXPECT_TRUE(blits.empty());
    // A hook no display holds any more is let go of quietly, and the list
    // takes new hooks after it.
    G().RemoveDisplayHook(other);
    ASSERT_NE(G().AddDisplayHook(1, RecordBlits, nullptr, nullptr), nullptr);
    ASSERT_EQ(G().RefreshDisplayById(1), 0);
    EXPECT_EQ(covered(), 40 * 30);
}

// Tags 1 and 2 receive the size the hook sees: the display's, or its scale
// size while it scales.
TEST_F(BaseGraphicsDisplayTest, AHookIsToldTheSizeItSees) {
    // A tag the player does not know keeps its value; the ones after it are
    // still answered.
    qbAdapterTag tags[] = {{1, 0}, {9, 55}, {2, 0}, {4, 77}, {0, 0}};
    ASSERT_NE(G().AddDisplayHook(1, RecordBlits, nullptr, tags), nullptr);
    EXPECT_EQ(tags[0].value, 40);
    EXPECT_EQ(tags[1].value, 55);
    EXPECT_EQ(tags[2].value, 30);
    EXPECT_EQ(tags[3].value, 77);
    ASSERT_EQ(Create(2, [&] {
                  Field("width", 40);
                  Field("height", 30);
                  Field("scalemode", 1);
                  Field("scalewidth", 90);
                  Field("scaleheight", 50);
              }),
              0);
    ASSERT_EQ(RunNumbers("OpenDisplay", {2}), 0);
    qbAdapterTag scaled[] = {{2, 0}, {1, 0}, {0, 0}};
    ASSERT_NE(G().AddDisplayHook(2, RecordBlits, nullptr, scaled), nullptr);
    EXPECT_EQ(scaled[0].value, 50);
    EXPECT_EQ(scaled[1].value, 90);
}
