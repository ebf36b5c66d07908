// Layer filters running: their order, the geometric-only pass, failures,
// clamped arguments, the compositor's cached filtered image and border,
// and the private copy filtered with layers off.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/convolve.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/objectoptions.h"
#include "objects/layerfilters.h"
#include "show_fixture.h"

namespace {

BitmapPtr Noisy(int32_t w, int32_t h, uint32_t seed) {
    BitmapPtr b(AllocBitmap(w, h, 0, nullptr));
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(b.get(), x, y, rng() & 0xFFFFFF, false);
    return b;
}

std::vector<uint32_t> Pixels(qbBitmap* b) {
    std::vector<uint32_t> v;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x) v.push_back(ReadBitmapPixel(b, x, y, false));
    return v;
}

qbFilterSlot Slot(uint8_t priority, std::initializer_list<float> floats = {}, std::initializer_list<int32_t> ints = {}) {
    qbFilterSlot s;
    s.enabled = 1;
    s.priority = priority;
    int i = 0;
    for (float f : floats) s.floats[i++] = f;
    i = 0;
    for (int32_t v : ints) s.ints[i++] = v;
    return s;
}

struct FilterEntry {
    const char* name;
    std::vector<double> args;
    int priority = 0;
};

class LayerFiltersShowTest : public ShowWorld {
protected:
    // {filters = {...}} into the option table on the stack top.
    void PushFilters(const std::vector<FilterEntry>& entries) {
        VmPushString(L_, "filters");
        VmPushNewTable(L_);
        int i = 0;
        for (const FilterEntry& e : entries) {
            VmPushNewTable(L_);
            SetTableFieldString(L_, "name", e.name);
            SetTableFieldInt(L_, "priority", e.priority);
            if (!e.args.empty()) {
                VmPushString(L_, "args");
                VmPushNewTable(L_);
                int k = 0;
                for (double a : e.args) {
                    VmPushNumber(L_, a);
                    VmRawSetIndex(L_, -2, k++);
                }
                VmSetTableAt(L_, -3);
            }
            VmRawSetIndex(L_, -2, i++);
        }
        VmSetTableAt(L_, -3);
    }
    // The filters GetLayerStyle lists for the layer, in its order.
    std::vector<FilterEntry> Listed(int32_t layer) {
        std::vector<FilterEntry> out;
        VmSetTop(L_, 0);
        VmPushNumber(L_, layer);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        VmPushString(L_, "filters");
        VmGetTableAt(L_, 1);
        EXPECT_EQ(VmType(L_, 2), kTypeTable);
        for (int i = 0; VmType(L_, 2) == kTypeTable; ++i) {
            VmRawGetIndex(L_, 2, i);
            if (VmType(L_, 3) != kTypeTable) break;
            FilterEntry e;
            const char* name = "?";
            GetTableFieldString(L_, 3, "name", &name, nullptr);
            names_.push_back(name);
            e.name = names_.back().c_str();
            GetTableFieldInt(L_, 3, "priority", &e.priority, nullptr);
            VmPushString(L_, "args");
            VmGetTableAt(L_, 3);
            for (int k = 0;; ++k) {
                VmRawGetIndex(L_, 4, k);
                if (VmType(L_, 5) != kTypeNumber) break;
                e.args.push_back(VmToNumber(L_, 5));
                VmSetTop(L_, 4);
            }
            out.push_back(e);
            VmSetTop(L_, 2);
        }
        VmSetTop(L_, 0);
        return out;
    }
    std::deque<std::string> names_;
    std::vector<uint32_t> Composed() {
        RefreshLayerRect(L_, 0, 0, 100, 80, 0);
        std::vector<uint32_t> out;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x) out.push_back(ReadBitmapPixel(display_->backBuffer.get(), x, y, false));
        return out;
    }
};

}  // namespace

TEST(ApplyLayerFiltersTest, HigherPrioritiesRunFirstAndEqualOnesInSlotOrder) {
    BitmapPtr a = Noisy(12, 9, 1), blurFirst = Noisy(12, 9, 1), invertFirst = Noisy(12, 9, 1);
    qbFilterSet set;
    set.slot[kFilterInvert] = Slot(0);
    set.slot[kFilterBlur] = Slot(5, {2});
    ApplyLayerFilters(set, a.get(), nullptr, nullptr, 12, 9, false);
    ConvolveBitmap(kConvolveBlur, blurFirst.get(), nullptr, 12, 9, 2, 2 / 3.0f);
    InvertBitmap(blurFirst.get(), 12, 9);
    InvertBitmap(invertFirst.get(), 12, 9);
    ConvolveBitmap(kConvolveBlur, invertFirst.get(), nullptr, 12, 9, 2, 2 / 3.0f);
    ASSERT_NE(Pixels(blurFirst.get()), Pixels(invertFirst.get()));
    EXPECT_EQ(Pixels(a.get()), Pixels(blurFirst.get()));
}

TEST(ApplyLayerFiltersTest, GeometricOnlyRunsTheFiltersThatMovePixels) {
    BitmapPtr a = Noisy(10, 10, 2), b = Noisy(10, 10, 2);
    qbFilterSet set;
    for (int i = 0; i < kFilterSlots; ++i) set.slot[i] = Slot(0, {2, 1, 1}, {1, 1, 128});
    set.slot[kFilterPixelate] = Slot(0, {}, {3});
    ApplyLayerFilters(set, a.get(), nullptr, nullptr, 10, 10, true);
    PixelateBitmap(b.get(), nullptr, nullptr, 10, 10, 3);
    SwirlBitmap(b.get(), nullptr, nullptr, 10, 10, 1);
    WaterRippleBitmap(b.get(), nullptr, nullptr, 10, 10, 1, 1, 128, 2, 1);
    FlipBitmap(b.get(), nullptr, nullptr, 10, 10, 1);
    FlipBitmap(b.get(), nullptr, nullptr, 10, 10, 0);
    EXPECT_EQ(Pixels(a.get()), Pixels(b.get()));
}

TEST(ApplyLayerFiltersTest, AFailingFilterLeavesItsImageAndTheNextRuns) {
    BitmapPtr a = Noisy(6, 6, 3), b = Noisy(6, 6, 3);
    qbFilterSet set;
    set.slot[kFilterGamma] = Slot(9, {NAN, 1, 1});
    set.slot[kFilterWaterRipple] = Slot(9, {NAN, 0.5f}, {32, 1, 0});
    set.slot[kFilterInvert] = Slot(0);
    ApplyLayerFilters(set, a.get(), nullptr, nullptr, 6, 6, false);
    InvertBitmap(b.get(), 6, 6);
    EXPECT_EQ(Pixels(a.get()), Pixels(b.get()));
}

TEST(ApplyLayerFiltersTest, TintLevelsOutOfRangeAreClamped) {
    BitmapPtr a = Noisy(4, 4, 4), b = Noisy(4, 4, 4);
    qbFilterSet set;
    set.slot[kFilterTint] = Slot(0, {}, {0x00FF00, 300});
    ApplyLayerFilters(set, a.get(), nullptr, nullptr, 4, 4, false);
    for (uint32_t p : Pixels(a.get())) EXPECT_EQ(p, 0x00FF00u);
    set.slot[kFilterTint] = Slot(0, {}, {0x00FF00, -5});
    ApplyLayerFilters(set, b.get(), nullptr, nullptr, 4, 4, false);
    EXPECT_EQ(Pixels(b.get()), Pixels(Noisy(4, 4, 4).get()));
}

TEST_F(LayerFiltersShowTest, TheCompositorFiltersACopyOnceAndKeepsIt) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 10, 10, 0xFF0000);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}, [&] { PushFilters({{"invert", {}}}); }), 0);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    ASSERT_NE(layer, nullptr);
    const std::vector<uint32_t> first = Composed();
    const qbBitmap* filtered = layer->shownstate->fxbitmap;
    ASSERT_NE(filtered, nullptr);
    EXPECT_EQ(first[7 * 100 + 7], 0x00FFFFu);
    EXPECT_EQ(Composed(), first);
    EXPECT_EQ(layer->shownstate->fxbitmap, filtered);  // no filter ran again
    qbBrush* brush = nullptr;
    GetBrushRecord(nullptr, ObjectID{1, nullptr}, &brush, 0);
    EXPECT_EQ(ReadBitmapPixel(brush->bitmap, 3, 3, false), 0xFF0000u);
    FreeLayerFilterCaches(layer);
    EXPECT_EQ(layer->shownstate->fxbitmap, nullptr);
    EXPECT_EQ(Composed(), first);
}

TEST_F(LayerFiltersShowTest, XFlipMirrorsTheBorderToo) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    qbLayerState* states[2] = {};
    for (int id : {1, 2}) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, 12);
        VmPushNumber(L_, 8);
        VmPushNumber(L_, 0xFFFFFF);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "mask", 1);
        ASSERT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        ASSERT_NE(b->mask, nullptr);
        // A shape that is not its own mirror image: the left third.
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) WriteBitmapPixel(b->mask, x, y, x < 4 ? kMaskVisible : kMaskInvisible, true);
        ASSERT_EQ(Show("DisplayBrush", {double(id), 10.0 + 30 * id, 20}, [&] {
                      SetTableFieldInt(L_, "border", 1);
                      SetTableFieldInt(L_, "bordersize", 3);
                      if (id == 2) PushFilters({{"xflip", {}}});
                  }),
                  0);
        states[id - 1] = GetLayerByIndex(display_->bgpic, id)->shownstate;
    }
    Composed();
    const qbBitmap* plain = states[0]->bdalpha;
    const qbBitmap* flipped = states[1]->bdalpha;
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(flipped, nullptr);
    ASSERT_EQ(plain->width, flipped->width);
    const int32_t w = plain->width;
    bool asymmetric = false;
    for (int y = 0; y < plain->height; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t a = plain->plane->data[y * plain->plane->rowBytes + x];
            const uint8_t m = plain->plane->data[y * plain->plane->rowBytes + (w - 1 - x)];
            asymmetric = asymmetric || a != m;
            ASSERT_EQ(flipped->plane->data[y * flipped->plane->rowBytes + (w - 1 - x)], a) << x << "," << y;
        }
    EXPECT_TRUE(asymmetric);
}

TEST_F(LayerFiltersShowTest, WithLayersOffAPrivateCopyIsFiltered) {
    MakeBrush(1, 10, 10, 0xFFFFFF);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}, [&] { PushFilters({{"sepiatone", {}}}); }), 0);
    EXPECT_EQ(Shown(9, 9), 0xFFFFDDu);
    ASSERT_EQ(Show("DisplayBrush", {1, 30, 5}, [&] {
                  PushFilters({{"invert", {}}});
                  SetTableFieldInt(L_, "transparency", 128);
              }),
              0);
    // White inverted to black, then half of it over the background.
    EXPECT_NE(Shown(34, 9), 0xFFFFFFu);
    qbBrush* brush = nullptr;
    GetBrushRecord(nullptr, ObjectID{1, nullptr}, &brush, 0);
    EXPECT_EQ(ReadBitmapPixel(brush->bitmap, 3, 3, false), 0xFFFFFFu);
}

TEST_F(LayerFiltersShowTest, ARenderersImageIsFilteredThenFadedWithLayersOff) {
    qbLayerOptions lopts;
    ResetLayerOptions(&lopts);
    lopts.filters.slot[kFilterInvert] = Slot(0);
    lopts.transparency = 55;
    qbObjectImage image;
    image.bitmap = AllocBitmap(8, 4, 0, nullptr);
    image.mask = AllocMask(image.bitmap, 8, 4, true, nullptr, 0);
    FillBitmapRect(image.bitmap, 0, 0, 8, 4, 0x102030);
    WriteBitmapPixel(image.mask, 2, 1, kMaskVisible, true);
    ApplyFiltersAndTransparency(&lopts, &image, 8, 4);
    EXPECT_EQ(ReadBitmapPixel(image.bitmap, 0, 0, false), 0xEFDFCFu);
    ASSERT_EQ(image.mask, nullptr);
    ASSERT_NE(image.alpha, nullptr);
    EXPECT_EQ(image.alpha->plane->data[1 * image.alpha->plane->rowBytes + 2], 200);
    EXPECT_EQ(image.alpha->plane->data[0], 0);
    // With layers on the renderer's image is the layer's, filtered later.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ApplyFiltersAndTransparency(&lopts, &image, 8, 4);
    EXPECT_EQ(ReadBitmapPixel(image.bitmap, 0, 0, false), 0xEFDFCFu);
    FreeObjectImage(&image);
}

// A renderer's image wider than tall is faded over its whole width.
TEST_F(LayerFiltersShowTest, AWideRenderersImageIsFadedOverItsWidth) {
    qbLayerOptions lopts;
    ResetLayerOptions(&lopts);
    lopts.transparency = 55;
    qbObjectImage image;
    image.bitmap = AllocBitmap(64, 3, 0, nullptr);
    image.mask = AllocMask(image.bitmap, 64, 3, true, nullptr, 0);
    for (int32_t x = 0; x < 64; x += 5) WriteBitmapPixel(image.mask, x, x % 3, kMaskVisible, true);
    ApplyFiltersAndTransparency(&lopts, &image, 64, 3);
    ASSERT_NE(image.alpha, nullptr);
    ASSERT_GE(image.alpha->plane->rowBytes, 64);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 64; ++x)
            ASSERT_EQ(image.alpha->plane->data[y * image.alpha->plane->rowBytes + x], x % 5 == 0 && x % 3 == y ? 200 : 0)
                << x << "," << y;
    FreeObjectImage(&image);
}

// Layers one pixel thin either way are filtered like any other.
TEST_F(LayerFiltersShowTest, ALayerOnePixelThinIsFilteredToo) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 12, 1, 0xFF0000);
    MakeBrush(2, 1, 12, 0xFF0000);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}, [&] { PushFilters({{"invert", {}}}); }), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 30, 5}, [&] { PushFilters({{"invert", {}}}); }), 0);
    const std::vector<uint32_t> shown = Composed();
    for (auto [x, y] : {std::pair{5, 5}, {16, 5}, {30, 5}, {30, 16}})
        EXPECT_EQ(shown[y * 100 + x], 0x00FFFFu) << x << "," << y;
}

namespace {

// Every filter with arguments that change a noisy picture, and what its
// kernel makes of a w x h picture.
struct FilterCase {
    FilterEntry entry;
    std::function<void(qbBitmap*, int32_t, int32_t)> kernel;
};

std::vector<FilterCase> EveryFilter() {
    return {
        {{"blur", {2.5}}, [](qbBitmap* b, int32_t w, int32_t h) { ConvolveBitmap(kConvolveBlur, b, nullptr, w, h, 2.5, 2.5 / 3); }},
        {{"charcoal", {1.5}}, [](qbBitmap* b, int32_t w, int32_t h) { CharcoalBitmap(b, nullptr, w, h, 1.5, 1.0); }},
        {{"contrast", {1, 2}}, [](qbBitmap* b, int32_t w, int32_t h) { ContrastBitmap(b, w, h, true, 2); }},
        {{"edge", {1.5}}, [](qbBitmap* b, int32_t w, int32_t h) { ConvolveBitmap(kConvolveEdge, b, nullptr, w, h, 1.5, 0); }},
        {{"emboss", {1.5}}, [](qbBitmap* b, int32_t w, int32_t h) { ConvolveBitmap(kConvolveEmboss, b, nullptr, w, h, 1.5, 1.0); }},
        {{"gamma", {0.5, 1.5, 2}}, [](qbBitmap* b, int32_t w, int32_t h) { GammaBitmap(b, w, h, 0.5, 1.5, 2); }},
        {{"grayscale", {}}, [](qbBitmap* b, int32_t w, int32_t h) { GrayscaleBitmap(b, w, h, false); }},
        {{"invert", {}}, [](qbBitmap* b, int32_t w, int32_t h) { InvertBitmap(b, w, h); }},
        {{"modulate", {80, 150, 120}}, [](qbBitmap* b, int32_t w, int32_t h) { ModulateBitmap(b, w, h, 0.8, 1.5, 1.2); }},
        {{"monochrome", {1}}, [](qbBitmap* b, int32_t w, int32_t h) { MonochromeBitmap(b, w, h, true); }},
        {{"oilpaint", {2}}, [](qbBitmap* b, int32_t w, int32_t h) { OilPaintBitmap(b, w, h, 2); }},
        {{"pixelate", {3}}, [](qbBitmap* b, int32_t w, int32_t h) { PixelateBitmap(b, nullptr, nullptr, w, h, 3); }},
        {{"sepiatone", {150}}, [](qbBitmap* b, int32_t w, int32_t h) { SepiaToneBitmap(b, w, h, 150); }},
        {{"sharpen", {1.5}}, [](qbBitmap* b, int32_t w, int32_t h) { ConvolveBitmap(kConvolveSharpen, b, nullptr, w, h, 1.5, 1.0); }},
        {{"solarize", {100}}, [](qbBitmap* b, int32_t w, int32_t h) { SolarizeBitmap(b, w, h, 100); }},
        {{"swirl", {90}}, [](qbBitmap* b, int32_t w, int32_t h) { SwirlBitmap(b, nullptr, nullptr, w, h, 90); }},
        {{"tint", {0x123456, 100}}, [](qbBitmap* b, int32_t w, int32_t h) { TintBitmap(b, 0, 0, w, h, 0x123456, 100); }},
        {{"waterripple", {16, 2, 10, 0.5, 0.25}},
         [](qbBitmap* b, int32_t w, int32_t h) { WaterRippleBitmap(b, nullptr, nullptr, w, h, 16, 2, 10, 0.5, 0.25); }},
        {{"xflip", {}}, [](qbBitmap* b, int32_t w, int32_t h) { FlipBitmap(b, nullptr, nullptr, w, h, 1); }},
        {{"yflip", {}}, [](qbBitmap* b, int32_t w, int32_t h) { FlipBitmap(b, nullptr, nullptr, w, h, 0); }},
        {{"quantize", {16, 0}}, [](qbBitmap* b, int32_t w, int32_t h) { QuantizeBitmap(b, w, h, 16, false); }},
    };
}

}  // namespace

// Every filter on a layer wider than tall and on one taller than wide, at
// distinct offsets, with layers off (a private copy) and on (the
// compositor's): the layer shows the filter's kernel run over the whole
// picture, not over a square of one of its sides.
TEST_F(LayerFiltersShowTest, EveryFilterRunsOverTheWholeOfANonSquareLayer) {
    const std::vector<FilterCase> cases = EveryFilter();
    ASSERT_EQ(int(cases.size()), kFilterSlots);
    for (bool layers : {false, true}) {
        if (layers) {
            ASSERT_EQ(Run("EnableLayers", 0), 0);
        }
        for (auto [w, h] : {std::pair{23, 9}, std::pair{9, 23}}) {
            const BitmapPtr picture = Noisy(w, h, uint32_t(w));
            MakeBrush(1, w, h, 0);
            CopyBitmapRect(picture.get(), 0, 0, Brush(1)->bitmap, 0, 0, w, h);
            for (const FilterCase& c : cases) {
                SCOPED_TRACE(std::string(c.entry.name) + (layers ? " layers " : " no layers ") + std::to_string(w) +
                             "x" + std::to_string(h));
                const int32_t x0 = 7, y0 = 4;
                ASSERT_EQ(Show("DisplayBrush", {1, double(x0), double(y0)}, [&] { PushFilters({c.entry}); }), 0);
                const BitmapPtr want = Noisy(w, h, uint32_t(w));
                c.kernel(want.get(), w, h);
                ASSERT_NE(Pixels(want.get()), Pixels(picture.get())) << "the filter changes the picture";
                const std::vector<uint32_t> shown = layers ? Composed() : std::vector<uint32_t>{};
                int wrong = 0;
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        const uint32_t got = layers ? shown[(y0 + y) * 100 + x0 + x] : Shown(x0 + x, y0 + y);
                        wrong += got != ReadBitmapPixel(want.get(), x, y, false);
                    }
                EXPECT_EQ(wrong, 0);
                if (layers) {
                    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
                }
            }
        }
    }
}

// Every filter a layer holds is listed back by GetLayerStyle under its own
// name, with its priority and every argument.
TEST_F(LayerFiltersShowTest, GetLayerStyleListsEveryFilterByName) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 6, 4, 0x336699);
    std::vector<FilterEntry> all;
    for (const FilterCase& c : EveryFilter()) {
        all.push_back(c.entry);
        all.back().priority = int(all.size()) * 3;
    }
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}, [&] { PushFilters(all); }), 0);
    const std::vector<FilterEntry> listed = Listed(1);
    ASSERT_EQ(listed.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_STREQ(listed[i].name, all[i].name);
        EXPECT_EQ(listed[i].priority, all[i].priority) << all[i].name;
        EXPECT_EQ(listed[i].args, all[i].args) << all[i].name;
    }
}

// Every refusal of a filter list, each leaving the layer's filters as they
// were; then a percentage argument, arguments left out (their defaults)
// and a filter disabled, read back.
TEST_F(LayerFiltersShowTest, FilterListsAreRefusedWithTheirErrorsOrReadBackAsGiven) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    MakeBrush(1, 6, 4, 0x336699);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 5}, [&] { PushFilters({{"invert", {}}}); }), 0);
    const auto style = [&](const std::function<void()>& filters) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 1);
        VmPushNewTable(L_);
        VmPushString(L_, "filters");
        filters();
        VmSetTableAt(L_, -3);
        return Run("SetLayerStyle", 2);
    };
    // A list of entries, each a table that its function fills.
    const auto list = [&](std::initializer_list<std::function<void()>> fills) {
        return [&, entries = std::vector<std::function<void()>>(fills)] {
            VmPushNewTable(L_);
            int i = 0;
            for (const auto& fill : entries) {
                VmPushNewTable(L_);
                fill();
                VmRawSetIndex(L_, -2, i++);
            }
        };
    };
    const auto args = [&](const std::function<void()>& push) {
        VmPushString(L_, "args");
        VmPushNewTable(L_);
        push();
        VmRawSetIndex(L_, -2, 0);
        VmSetTableAt(L_, -3);
    };
    const struct {
        const char* what;
        std::function<void()> filters;
        int err;
    } refused[] = {
        {"not a table", [&] { VmPushNumber(L_, 5); }, ERR_TABEXPECTED2},
        {"an entry not a table", [&] { VmPushNewTable(L_), VmPushNumber(L_, 5), VmRawSetIndex(L_, -2, 0); },
         ERR_TABEXPECTED2},
        {"no name", list({[] {}}), ERR_NOFILTERNAME},
        {"a number for a name", list({[&] { SetTableFieldInt(L_, "name", 7); }}), ERR_STRTABLEARG},
        {"an unknown name", list({[&] { SetTableFieldString(L_, "name", "fog"); }}), ERR_UNKNOWNFILTER},
        {"args not a table", list({[&] {
             SetTableFieldString(L_, "name", "blur");
             SetTableFieldInt(L_, "args", 5);
         }}),
         ERR_TABEXPECTED},
        {"a text argument", list({[&] {
             SetTableFieldString(L_, "name", "blur");
             args([&] { VmPushString(L_, "x"); });
         }}),
         ERR_NUMTABLEARG},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(style(r.filters), r.err) << r.what;
        const std::vector<FilterEntry> listed = Listed(1);
        ASSERT_EQ(listed.size(), 1u) << r.what;
        EXPECT_STREQ(listed[0].name, "invert") << r.what;
    }
    ASSERT_EQ(style(list({[&] {
                              SetTableFieldString(L_, "name", "sepiatone");
                              args([&] { VmPushString(L_, "50%"); });
                          },
                          [&] {
                              SetTableFieldString(L_, "name", "tint");
                              args([&] { VmPushNumber(L_, 0xFF0000); });
                          },
                          [&] {
                              SetTableFieldString(L_, "name", "invert");
                              SetTableFieldInt(L_, "disable", 1);
                          }})),
              0);
    const std::vector<FilterEntry> listed = Listed(1);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_STREQ(listed[0].name, "sepiatone");
    EXPECT_EQ(listed[0].args, std::vector<double>{127});
    EXPECT_STREQ(listed[1].name, "tint");
    EXPECT_EQ(listed[1].args, (std::vector<double>{0xFF0000, 128}));
}
