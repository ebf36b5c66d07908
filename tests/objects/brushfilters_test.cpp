// The brush filter and colour commands: each one against its image kernel
// run on a copy of the brush, the refusals every one shares, and the
// argument checks and edge cases of the single commands.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "imaging/bitmapfilters.h"
#include "imaging/mixbitmaps.h"
#include "imaging/planekernels.h"
#include "objects/bgpiclib.h"
#include "show_fixture.h"

namespace {

using Arg = NumberOrText;

using Kernel = std::function<int(qbBrush*)>;

class BrushFilterTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);  // EndSelect
        VmSetTop(L_, 0);
    }
    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, kBrushHardwareToo);
        return b;
    }
    // Every pixel its own colour and alpha byte, optionally an alpha plane.
    qbBrush* Pattern(int32_t id, int32_t w, int32_t h, bool alpha) {
        MakeBrush(id, w, h, 0);
        if (alpha) {
            EXPECT_EQ(RunNumbers("ChangeBrushTransparency", {double(id), 30}), 0);
        }
        qbBrush* b = Brush(id);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                WriteBitmapPixel(b->bitmap, x, y, static_cast<uint32_t>((x * 37) << 16 | (y * 53) << 8 | (x * y)),
                                 false);
                if (alpha) b->alpha->plane->data[y * b->alpha->plane->rowBytes + x] = static_cast<uint8_t>(x * 9 + y);
            }
        return b;
    }
    static std::vector<uint32_t> Pixels(qbBrush* b) {
        return GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, true, kLockReadOnly);
    }
};

TEST_F(BrushFilterTest, EachCommandDoesWhatItsKernelDoesOnACopy) {
    struct Row {
        const char* command;
        std::vector<Arg> args;
        Kernel kernel;
    };
    const std::vector<Row> rows = {
        {"BlurBrush", {}, [](qbBrush* b) { return ConvolveBitmap(98, b->bitmap, b->alpha, b->width, b->height, 0, 0); }},
        {"BlurBrush", {{2}, {1.5}},
         [](qbBrush* b) { return ConvolveBitmap(98, b->bitmap, b->alpha, b->width, b->height, 2, 1.5); }},
        {"SharpenBrush", {{1}},
         [](qbBrush* b) { return ConvolveBitmap(115, b->bitmap, b->alpha, b->width, b->height, 1, 1.0); }},
        {"EmbossBrush", {{1}},
         [](qbBrush* b) { return ConvolveBitmap(101, b->bitmap, b->alpha, b->width, b->height, 1, 1.0); }},
        {"EdgeBrush", {}, [](qbBrush* b) { return ConvolveBitmap(103, b->bitmap, b->alpha, b->width, b->height, 0, 0.0); }},
        {"CharcoalBrush", {{1}},
         [](qbBrush* b) { return CharcoalBitmap(b->bitmap, b->alpha, b->width, b->height, 1, 1.0); }},
        {"OilPaintBrush", {{2}}, [](qbBrush* b) { return OilPaintBitmap(b->bitmap, b->width, b->height, 2); }},
        {"SwirlBrush", {{90.7}},
         [](qbBrush* b) { return SwirlBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, 90); }},
        {"WaterRippleBrush", {{8}, {2}, {3}, {0.25}},
         [](qbBrush* b) {
             return WaterRippleBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, 8, 2, 3, 0.25, 0.5);
         }},
        {"PixelateBrush", {{3}},
         [](qbBrush* b) { return PixelateBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, 3); }},
        {"TintBrush", {{0xFF0000}, {0, "50%"}},
         [](qbBrush* b) { return TintBitmap(b->bitmap, 0, 0, b->width, b->height, 0xFF0000, 127); }},
        {"TintBrush", {{0x00FF00}, {300}},
         [](qbBrush* b) { return TintBitmap(b->bitmap, 0, 0, b->width, b->height, 0x00FF00, 255); }},
        {"BrushToGray", {}, [](qbBrush* b) { return GrayscaleBitmap(b->bitmap, b->width, b->height, false); }},
        {"BrushToMonochrome", {}, [](qbBrush* b) { return MonochromeBitmap(b->bitmap, b->width, b->height, true); }},
        {"SepiaToneBrush", {{0, "80%"}}, [](qbBrush* b) { return SepiaToneBitmap(b->bitmap, b->width, b->height, 204); }},
        {"SolarizeBrush", {{100}}, [](qbBrush* b) { return SolarizeBitmap(b->bitmap, b->width, b->height, 100); }},
        {"GammaBrush", {{0.5}, {1.0}, {2.0}},
         [](qbBrush* b) { return GammaBitmap(b->bitmap, b->width, b->height, 0.5, 1.0, 2.0); }},
        {"ContrastBrush", {{1}, {2}}, [](qbBrush* b) { return ContrastBitmap(b->bitmap, b->width, b->height, true, 2); }},
        {"ModulateBrush", {{1.2}, {0.5}, {1.0}},
         [](qbBrush* b) { return ModulateBitmap(b->bitmap, b->width, b->height, 1.2, 0.5, 1.0); }},
        {"InvertBrush", {}, [](qbBrush* b) { return InvertBitmap(b->bitmap, b->width, b->height); }},
        {"FlipBrush", {{1}},
         [](qbBrush* b) { return FlipBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, 1); }},
        {"QuantizeBrush", {{16}, {0}},
         [](qbBrush* b) { return QuantizeBitmap(b->bitmap, b->width, b->height, 16, false); }},
        {"ReduceAlphaChannel", {{0, "50%"}},
         [](qbBrush* b) {
             qbBitmapPlane& p = *b->alpha->plane;
             const AlphaRows rows{p.data, static_cast<int32_t>(p.rowBytes), 0, 0};
             MultiplyAlpha(rows, rows, b->width, b->height, 127);
             return 0;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        Pattern(1, 13, 9, true);
        qbBrush* copy = nullptr;
        ASSERT_EQ(CopyBrushCore(L_, Brush(1), &copy), 0);
        ASSERT_EQ(row.kernel(copy), 0);
        ASSERT_EQ(Call(row.command, 1, row.args), 0);
        EXPECT_EQ(Pixels(Brush(1)), Pixels(copy));
        EXPECT_EQ(Brush(1)->width, 13);
        UnlinkAndFreeBrush(L_, copy);

        // The refusals shared by every command, whatever the numbers.
        Pattern(2, 6, 6, true);
        Brush(2)->kind = kBrushVector;
        EXPECT_EQ(Call(row.command, 2, row.args), ERR_BRUSHTYPE);
        Brush(2)->kind = kBrushPixels;
        Brush(2)->hardware = 1;
        EXPECT_EQ(Call(row.command, 2, row.args), ERR_HWBRUSH);
        Brush(2)->hardware = 0;
        ASSERT_EQ(Show("SelectBrush", {2}), 0);
        EXPECT_EQ(Call(row.command, 2, row.args), ERR_MODIFYABR);
        ASSERT_EQ(Run("EndSelect", 0), 0);
    }
}

TEST_F(BrushFilterTest, NumbersOutsideTheirRangeAreRefused) {
    Pattern(1, 10, 6, false);
    const auto before = Pixels(Brush(1));
    EXPECT_EQ(Call("BlurBrush", 1, {{-1}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PixelateBrush", 1, {{7}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PixelateBrush", 1, {{0}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("QuantizeBrush", 1, {{0}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("QuantizeBrush", 1, {{257}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ContrastBrush", 1, {{1}, {0}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ModulateBrush", 1, {{1}, {-0.5}, {1}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ReduceAlphaChannel", 1, {{128}}), ERR_WRONGUSAGE);  // no alpha channel
    EXPECT_EQ(Pixels(Brush(1)), before);
    EXPECT_EQ(Call("PixelateBrush", 1, {{1}}), 0);
    EXPECT_EQ(Pixels(Brush(1)), before);
    // A radius whose kernel cannot be built leaves the picture alone, for
    // the blur as for the others.
    EXPECT_EQ(Call("BlurBrush", 1, {{4194304}}), 0);
    EXPECT_EQ(Call("BlurBrush", 1, {{1e12}, {1}}), 0);
    EXPECT_EQ(Call("SharpenBrush", 1, {{1e12}}), 0);
    EXPECT_EQ(Call("OilPaintBrush", 1, {{1e12}}), 0);
    EXPECT_EQ(Pixels(Brush(1)), before);
}

TEST_F(BrushFilterTest, MixBrushMixesOnlyTheCommonCorner) {
    MakeBrush(1, 100, 100, 0x000000);
    MakeBrush(2, 50, 200, 0xFFFFFF);
    ASSERT_EQ(Call("MixBrush", 1, {{2}, {255}}), 0);
    qbBrush* b = Brush(1);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 49, 99, false), 0xFFFFFFu);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), 0xFFFFFFu);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 50, 0, false), 0u);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 99, false), 0xFFFFFFu);
    EXPECT_EQ(Brush(1)->height, 100);
}

TEST_F(BrushFilterTest, ReplaceColorsChainsAndKeepsAlphaBytes) {
    MakeBrush(1, 3, 1, 0);
    qbBrush* b = Brush(1);
    WriteBitmapPixel(b->bitmap, 0, 0, 0xFF0000, false);
    WriteBitmapPixel(b->bitmap, 1, 0, 0x00FF00, false);
    WriteBitmapPixel(b->bitmap, 2, 0, 0x0000FF, false);
    qbBitmapLock lock;
    ASSERT_NE(LockBitmap(b->bitmap, 0, &lock), 0u);
    auto* px = static_cast<uint32_t*>(lock.pixels);
    const uint32_t colourBits = lock.pixelFormat == 11 || lock.pixelFormat == 12 ? 0xFFFFFF00u : 0x00FFFFFFu;
    for (int i = 0; i < 3; ++i) px[i] = (px[i] & colourBits) | (0xA5A5A5A5u & ~colourBits);
    UnlockBitmap(&lock);

    auto table = [&](std::initializer_list<double> values) {
        VmPushNumber(L_, 1);
        VmPushNewTable(L_);
        int i = 0;
        for (double v : values) {
            VmPushNumber(L_, v);
            VmRawSetIndex(L_, -2, i++);
        }
        const int err = Run("ReplaceColors", 2);
        VmSetTop(L_, 0);
        return err;
    };
    // red -> green, then that green -> blue: red ends blue.
    ASSERT_EQ(table({0xFF0000, 0x00FF00, 0x00FF00, 0x0000FF, -1}), 0);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), 0x0000FFu);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 1, 0, false), 0x0000FFu);
    ASSERT_NE(LockBitmap(b->bitmap, kLockReadOnly, &lock), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(static_cast<uint32_t*>(lock.pixels)[i] & ~colourBits, 0xA5A5A5A5u & ~colourBits);
    UnlockBitmap(&lock);
    EXPECT_EQ(table({0x0000FF, 0x123456, 0xFF0000}), ERR_NUMTABLEARG);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 2, 0, false), 0x0000FFu);
    // Starting with -1 changes nothing, even for a brush that is not there.
    VmPushNumber(L_, 77);
    VmPushNewTable(L_);
    VmPushNumber(L_, -1);
    VmRawSetIndex(L_, -2, 0);
    EXPECT_EQ(Run("ReplaceColors", 2), 0);
    VmSetTop(L_, 0);
}

}  // namespace
