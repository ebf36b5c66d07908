// The bgpic library through its commands: lookup errors, the two gradient
// option forms, creating (a failure leaves the BGPic of that number alone),
// textures, copies, scaling, conversion to brushes, and pictures loaded
// before the displays start.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "brush_fixture.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/gradientopts.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "test_bmp.h"

namespace {

class BGPicLibTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetPicturesPending(false);
        SetRuntimeTag(kTagQuiet, 1);
    }
    void TearDown() override {
        FreeAllBGPics(L_);
        BrushWorld::TearDown();
    }

    int Numbers(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        return Run(command, static_cast<int>(args.size()));
    }
    // Pushes a flat list {a0, a1, ...} from index 0.
    void PushList(std::initializer_list<double> values) {
        VmPushNewTable(L_);
        int i = 0;
        for (double v : values) {
            VmPushNumber(L_, v);
            VmRawSetIndex(L_, -2, i++);
        }
    }
    static qbBGPic* Pic(int32_t id) {
        qbBGPic* p = nullptr;
        GetBGPic(nullptr, ObjectID{id, nullptr}, &p, 0);
        return p;
    }
    static uint32_t At(qbBGPic* p, int32_t x, int32_t y) { return ReadBitmapPixel(p->current.bitmap, x, y, false); }
    static std::string Text(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }
};

}  // namespace

TEST_F(BGPicLibTest, LookupErrorsNameTheNumberOrTheHandle) {
    qbBGPic* p = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{42, nullptr}, &p, 0), ERR_FINDBGPIC);
    EXPECT_EQ(Text(ERR_FINDBGPIC), "Could not find BGPic 42!");
    int dummy = 0;
    EXPECT_EQ(GetBGPic(L_, ObjectID{0, &dummy}, &p, 0), ERR_FINDARRAY);
    EXPECT_EQ(Text(ERR_FINDARRAY), "Requested object not found!");
    EXPECT_EQ(Numbers("FreeBGPic", {9}), ERR_FINDBGPIC);
}

TEST_F(BGPicLibTest, BothGradientOptionFormsGiveTheSameRecord) {
    VmPushNewTable(L_);  // argument 1: the long keys
    SetTableFieldInt(L_, "gradientstyle", kGradientRadial);
    SetTableFieldInt(L_, "gradientstartcolor", 0xFF0000);
    SetTableFieldInt(L_, "gradientendcolor", 0x0000FF);
    SetTableFieldFloat(L_, "gradientcenterx", 0.25);
    SetTableFieldFloat(L_, "gradientborder", 0.5);
    VmPushString(L_, "gradientcolors");
    PushList({0xFF0000, 0, 0x00FF00, 0.4, 0x0000FF, 1});
    VmSetTableAt(L_, -3);
    VmPushNumber(L_, 0);  // argument 2: an angle radial gradients do not read
    VmPushNewTable(L_);   // argument 3: the short form's table
    SetTableFieldFloat(L_, "centerx", 0.25);
    SetTableFieldFloat(L_, "border", 0.5);
    VmPushString(L_, "colors");
    PushList({0xFF0000, 0, 0x00FF00, 0.4, 0x0000FF, 1});
    VmSetTableAt(L_, -3);

    qbGradient a, b;
    ASSERT_EQ(ParseGradientOptions(L_, 1, &a), 0);
    b.style = kGradientRadial;
    b.startColor = 0xFF0000;
    b.endColor = 0x0000FF;
    ASSERT_EQ(ParseGradientTable(L_, 2, &b), 0);
    for (const qbGradient* g : {&a, &b}) {
        EXPECT_EQ(g->style, kGradientRadial);
        EXPECT_EQ(g->startColor, 0xFF0000);
        EXPECT_EQ(g->endColor, 0x0000FF);
        EXPECT_EQ(g->centerX, 0.25);
        EXPECT_EQ(g->centerY, 0.5);
        EXPECT_EQ(g->border, 0.5);
        ASSERT_EQ(g->stops.size(), 3u);
        EXPECT_EQ(g->stops[1].color, 0x00FF00);
        EXPECT_EQ(g->stops[1].position, 0.4);
    }
    // Types 0 and 1 are linear at 0 and 90 degrees, whatever the angle says.
    qbGradient c;
    c.style = 1;
    VmSetTop(L_, 0);
    VmPushNumber(L_, 45);
    ASSERT_EQ(ParseGradientTable(L_, 1, &c), 0);
    EXPECT_EQ(c.style, kGradientLinear);
    EXPECT_EQ(c.angle, 90);
}

TEST_F(BGPicLibTest, BadStopListsAndCentresAreRefused) {
    auto parse = [&](int style, const char* key, double value, std::initializer_list<double> colours) {
        VmSetTop(L_, 0);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "gradientstyle", style);
        if (key) SetTableFieldFloat(L_, key, value);
        VmPushString(L_, "gradientcolors");
        PushList(colours);
        VmSetTableAt(L_, -3);
        qbGradient g;
        return ParseGradientOptions(L_, 1, &g);
    };
    EXPECT_EQ(parse(kGradientLinear, nullptr, 0, {0xFF, 0.5}), ERR_WRONGUSAGE);
    EXPECT_EQ(parse(kGradientLinear, nullptr, 0, {0xFF, 0.5, 0xFF}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(parse(kGradientLinear, nullptr, 0, {0xFF, 1.5, 0xFF, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(parse(kGradientLinear, nullptr, 0, {}), 0);
    EXPECT_EQ(parse(kGradientRadial, "gradientcenterx", 1.5, {}), ERR_WRONGUSAGE);
    EXPECT_EQ(parse(kGradientRadial, "gradientborder", std::nan(""), {}), ERR_WRONGUSAGE);
    EXPECT_EQ(parse(kGradientLinear, "gradientcenterx", 1.5, {}), 0);
    auto stops = [&](int pairs) {
        VmSetTop(L_, 0);
        VmPushNewTable(L_);
        VmPushString(L_, "gradientcolors");
        VmPushNewTable(L_);
        for (int i = 0; i < 2 * pairs; ++i) {
            VmPushNumber(L_, i % 2 ? (i / 2) / 64.0 : i);
            VmRawSetIndex(L_, -2, i);
        }
        VmSetTableAt(L_, -3);
        qbGradient g;
        const int err = ParseGradientOptions(L_, 1, &g);
        return err ? -err : static_cast<int>(g.stops.size());
    };
    EXPECT_EQ(stops(64), 64);
    EXPECT_EQ(stops(65), -ERR_INTERNAL);
}

TEST_F(BGPicLibTest, AFailedCreationLeavesTheBGPicOfItsNumber) {
    ASSERT_EQ(Numbers("CreateBGPic", {1, 8, 6, 0xFF123456}), 0);  // the alpha byte is dropped
    qbBGPic* old = Pic(1);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(At(old, 7, 5), 0x123456u);
    // Too large to allocate, or stops too many: BGPic 1 stays as it was.
    EXPECT_EQ(Numbers("CreateGradientBGPic", {1, kGradientLinear, 0, 0xFFFFFF, 3e9, 3e9}), ERR_BITMAP);
    EXPECT_EQ(Numbers("CreateGradientBGPic", {1, kGradientLinear, 0, 0xFFFFFF, 100000, 100000}), ERR_BITMAP);
    EXPECT_EQ(Numbers("CreateBGPic", {1, 0, 10}), ERR_WRONGUSAGE);
    ASSERT_EQ(Numbers("CreateBGPic", {2, 8, 1}), 0);  // one row is a picture
    EXPECT_EQ(Numbers("CreateGradientBGPic", {1, kGradientLinear, 0, 0xFFFFFF, 0, 10}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Numbers("CreateTexturedBGPic", {1, 77, 4, 4}), ERR_FINDBRUSH);
    EXPECT_EQ(Pic(1), old);
    // A success replaces it; Nil asks for an automatic id that comes back.
    ASSERT_EQ(Numbers("CreateGradientBGPic", {1, kGradientLinear, 0, 0xFFFFFF, 4, 4}), 0);
    EXPECT_NE(Pic(1), nullptr);
    EXPECT_EQ(Pic(1)->fill.style, kFillGradient);
    VmPushNil(L_);
    for (double a : {double(kGradientRadial), 0.0, 255.0, 5.0, 5.0}) VmPushNumber(L_, a);
    ASSERT_EQ(Run("CreateRainbowBGPic", 6, 1), 0);
    EXPECT_EQ(VmType(L_, -1), kTypeLightUserdata);
}

TEST_F(BGPicLibTest, ATexturedBGPicTilesItsBrushFromTheOffset) {
    ASSERT_EQ(Numbers("CreateBrush", {5, 3, 2, 0x000000}), 0);
    qbBrush* brush = Find(5);
    WriteBitmapPixel(brush->bitmap, 1, 0, 0xFF0000, false);
    WriteBitmapPixel(brush->bitmap, 2, 1, 0x00FF00, false);
    ASSERT_EQ(Numbers("CreateTexturedBGPic", {2, 5, 7, 5, 1, 1}), 0);
    qbBGPic* p = Pic(2);
    ASSERT_NE(p, nullptr);
    // (0, 0) shows brush pixel (1, 1), so the red (1, 0) turns up at (0, 1).
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x) {
            const int32_t bx = (x + 1) % 3, by = (y + 1) % 2;
            const uint32_t want = bx == 1 && by == 0 ? 0xFF0000u : bx == 2 && by == 1 ? 0x00FF00u : 0u;
            EXPECT_EQ(At(p, x, y), want) << x << "," << y;
        }
    // The BGPic keeps its own copy: freeing the brush changes nothing, and a
    // new size is tiled again from that copy.
    ASSERT_EQ(Numbers("FreeBrush", {5}), 0);
    ASSERT_EQ(Numbers("ScaleBGPic", {2, 9, 3}), 0);
    EXPECT_EQ(p->currentWidth, 9);
    EXPECT_EQ(At(p, 6, 1), 0xFF0000u);
    EXPECT_EQ(At(p, 7, 2), 0x00FF00u);
}

TEST_F(BGPicLibTest, CopiesScalingAndConversionToBrushes) {
    ASSERT_EQ(Numbers("CreateGradientBGPic", {1, kGradientLinear, 0x000000, 0xFFFFFF, 10, 10}), 0);
    EXPECT_EQ(Numbers("CopyBGPic", {1, 1}), ERR_WRONGUSAGE);
    ASSERT_EQ(Numbers("CopyBGPic", {1, 2}), 0);
    qbBGPic* copy = Pic(2);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->initial.bitmap, Pic(1)->initial.bitmap);
    EXPECT_EQ(At(copy, 3, 9), At(Pic(1), 3, 9));
    ASSERT_EQ(Numbers("ConvertToBrush", {1, 1, 3}), 0);
    EXPECT_EQ(ReadBitmapPixel(Find(3)->bitmap, 2, 8, false), At(Pic(1), 2, 8));
    EXPECT_EQ(Numbers("ConvertToBrush", {3, 3, 3}), ERR_WRONGUSAGE);
    // A gradient is made anew at a new size, after which it no longer
    // converts to a brush of its first size.
    VmPushNumber(L_, 1);
    VmPushString(L_, "200%");
    VmPushNumber(L_, 10);
    ASSERT_EQ(Run("ScaleBGPic", 3), 0);
    EXPECT_EQ(Pic(1)->baseWidth, 20);
    EXPECT_EQ(At(Pic(1), 19, 9), At(copy, 9, 9));
    EXPECT_EQ(Numbers("BGPicToBrush", {1, 4}), ERR_TFVBGPICBRUSH);
    ASSERT_EQ(Numbers("BGPicToBrush", {2, 4}), 0);
    ASSERT_EQ(Numbers("BrushToBGPic", {4, 6}), 0);
    EXPECT_EQ(At(Pic(6), 5, 5), At(copy, 5, 5));
}

TEST_F(BGPicLibTest, APictureLoadedBeforeTheDisplaysIsBuiltWhenTheyStart) {
    const std::string file = test_bmp::WriteBmp(6, 4);
    // An alpha channel and a key colour together are refused before reading.
    VmPushNumber(L_, 1);
    VmPushString(L_, "no such file");
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "loadalpha", 1);
    SetTableFieldInt(L_, "transparency", 0xFF00FF);
    EXPECT_EQ(Run("LoadBGPic", 3), ERR_MASKNALPHA);

    SetPicturesPending(true);
    // Pixel (0, 0) is $000007: the key colour, under which the fill shows.
    VmPushNumber(L_, 1);
    VmPushString(L_, file.c_str());
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "transparency", 0x000007);
    SetTableFieldInt(L_, "fillstyle", kFillGradient);
    SetTableFieldInt(L_, "gradientstartcolor", 0xABCDEF);
    SetTableFieldInt(L_, "gradientendcolor", 0xABCDEF);
    ASSERT_EQ(Run("LoadBGPic", 3), 0);
    qbBGPic* p = Pic(1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->current.bitmap, nullptr);
    ASSERT_EQ(LoadPendingBGPics(L_), 0);
    SetPicturesPending(false);
    ASSERT_NE(p->current.bitmap, nullptr);
    EXPECT_EQ(p->source, nullptr);
    EXPECT_EQ(At(p, 0, 0), 0xABCDEFu);
    EXPECT_EQ(At(p, 5, 3), 0x050307u);
    EXPECT_EQ(p->current.mask, nullptr);
    std::remove(file.c_str());
}

// Without the smoothing flag a scaled picture keeps its pixels' colours.
TEST_F(BGPicLibTest, ScalingWithoutTheFlagDoesNotBlend) {
    ASSERT_EQ(Numbers("CreateBrush", {5, 2, 2, 0x000000}), 0);
    WriteBitmapPixel(Find(5)->bitmap, 1, 0, 0xFFFFFF, false);
    WriteBitmapPixel(Find(5)->bitmap, 1, 1, 0xFFFFFF, false);
    ASSERT_EQ(Numbers("BrushToBGPic", {5, 2}), 0);
    ASSERT_EQ(Numbers("ScaleBGPic", {2, 16, 2}), 0);
    qbBGPic* p = Pic(2);
    ASSERT_EQ(p->currentWidth, 16);
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(At(p, x, 1), x < 8 ? 0u : 0xFFFFFFu) << x;
}

// LoadBGPic's palette table takes numbers up to its first Nil; anything
// else in it is refused, named, before the file is read.
TEST_F(BGPicLibTest, APaletteEntryThatIsNoNumberIsRefused) {
    const std::string file = test_bmp::WriteBmp(6, 4);
    const auto load = [&](const char* second) {
        VmPushNumber(L_, 1);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        VmPushNewTable(L_);
        VmPushNumber(L_, 0xFF0000);
        VmRawSetIndex(L_, -2, 0);
        if (second) {
            VmPushString(L_, second);
            VmRawSetIndex(L_, -2, 1);
        }
        return Run("LoadBGPic", 4);
    };
    EXPECT_EQ(load("red"), ERR_NUMTABLEARG);
    EXPECT_STREQ(GetErrorDetail(), "palette");
    EXPECT_EQ(Pic(1), nullptr);
    ASSERT_EQ(load(nullptr), 0);
    EXPECT_EQ(At(Pic(1), 5, 3), 0x050307u);
    std::remove(file.c_str());
}
