// The compositor against references: opaque and 1-bit-masked layers are
// bit-exact against copies in stack order, alpha and transparency layers
// within one step per channel of pixman's OVER, and a second redraw of
// unchanged layers reuses the cached transform and shadow.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "objects/compositekernels.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "show_fixture.h"

#ifdef QB_TEST_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kW = 100, kH = 80;

class CompositorTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        // A random background: what every redraw starts from.
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) WriteBitmapPixel(display_->spriteFreeBuffer.get(), x, y, Random(), false);
    }
    uint32_t Random() { return rng_() & 0xFFFFFF; }

    // A brush of random pixels with a random plane ("mask", "alphachannel" or none).
    qbBrush* RandomBrush(int32_t id, int32_t w, int32_t h, const char* plane) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, 0);
        VmPushNewTable(L_);
        if (plane) SetTableFieldInt(L_, plane, 1);
        EXPECT_EQ(Run("CreateBrush", 5), 0);
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                WriteBitmapPixel(b->bitmap, x, y, Random(), false);
                if (b->mask) WriteBitmapPixel(b->mask, x, y, rng_() & 1, true);
                if (b->alpha) b->alpha->plane->data[y * b->alpha->plane->rowBytes + x] = static_cast<uint8_t>(rng_());
            }
        return b;
    }
    std::vector<uint32_t> Read(qbBitmap* b) {
        std::vector<uint32_t> out;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) out.push_back(ReadBitmapPixel(b, x, y, false));
        return out;
    }
    std::vector<uint32_t> Composed() {
        RefreshLayerRect(L_, 0, 0, kW, kH, 0);
        return Read(display_->backBuffer.get());
    }
    // Copies the brush into the reference at (x, y) where keep says so.
    template <class Keep>
    static void Place(std::vector<uint32_t>& ref, const qbBrush* b, int x0, int y0, Keep keep) {
        for (int y = 0; y < b->height; ++y)
            for (int x = 0; x < b->width; ++x) {
                const int dx = x0 + x, dy = y0 + y;
                if (dx < 0 || dy < 0 || dx >= kW || dy >= kH || !keep(x, y)) continue;
                ref[dy * kW + dx] = ReadBitmapPixel(b->bitmap, x, y, false);
            }
    }

    std::mt19937 rng_{1234};
};

}  // namespace

TEST_F(CompositorTest, OpaqueAndMaskedLayersAreBitExactCopiesInStackOrder) {
    qbBrush* opaque = RandomBrush(1, 30, 20, nullptr);
    qbBrush* masked = RandomBrush(2, 25, 25, "mask");
    std::vector<uint32_t> ref = Read(display_->spriteFreeBuffer.get());
    const struct {
        qbBrush* b;
        int x, y;
    } layers[] = {{opaque, 5, 7}, {masked, 20, 10}, {opaque, 80, 70}, {masked, -5, 60}, {opaque, 15, 12}};
    for (const auto& l : layers) {
        ASSERT_EQ(Show("DisplayBrush", {double(l.b->id), double(l.x), double(l.y)}), 0);
        Place(ref, l.b, l.x, l.y, [&](int x, int y) { return !l.b->mask || ReadBitmapPixel(l.b->mask, x, y, true); });
    }
    EXPECT_EQ(Composed(), ref);
}

// A rectangle that one layer covers with set mask bits or opaque pixels is
// redrawn from that layer up; one clear bit, an edge or a transparent layer
// on top lets what lies under show again.
TEST_F(CompositorTest, RectanglesHiddenByALayerRedrawAsTheWholeStack) {
    qbBrush* masked = RandomBrush(1, 40, 30, "mask");
    FillMaskRect(masked->mask, 0, 0, 40, 30, kMaskVisible);
    WriteBitmapPixel(masked->mask, 10, 10, kMaskInvisible, true);
    RandomBrush(2, 30, 20, nullptr);  // opaque
    RandomBrush(3, 10, 10, nullptr);  // made faint below
    ASSERT_EQ(Show("DisplayBrush", {1, 20, 20}), 0);
    ASSERT_EQ(Show("DisplayBrush", {2, 50, 40}), 0);
    ASSERT_EQ(Show("DisplayBrush", {3, 22, 40}), 0);
    ASSERT_EQ(RunNumbers("SetLayerTransparency", {3, 128}), 0);
    const std::vector<uint32_t> ref = Composed();
    // Inside the masked layer, across its clear bit, across both layers,
    // inside the opaque one, over an edge, under the faint one.
    const int rects[][4] = {{25, 25, 10, 4}, {28, 28, 5, 5}, {45, 42, 14, 6}, {55, 45, 10, 10},
                            {15, 15, 10, 10}, {24, 42, 5, 5}};
    for (const auto& r : rects) {
        FillBitmapRect(display_->backBuffer.get(), 0, 0, kW, kH, 0x123456);
        RefreshLayerRect(L_, r[0], r[1], r[2], r[3], 0);
        const std::vector<uint32_t> got = Read(display_->backBuffer.get());
        for (int y = r[1]; y < r[1] + r[3]; ++y)
            for (int x = r[0]; x < r[0] + r[2]; ++x)
                ASSERT_EQ(got[y * kW + x], ref[y * kW + x]) << x << "," << y << " in " << r[0] << "," << r[1];
    }
}

#ifdef QB_TEST_HAVE_PIXMAN
TEST_F(CompositorTest, AlphaAndTransparencyLayersAreWithinAStepOfPixmanOver) {
    qbBrush* alpha = RandomBrush(1, 40, 30, "alphachannel");
    qbBrush* opaque = RandomBrush(2, 30, 30, nullptr);
    std::vector<uint32_t> ref = Read(display_->spriteFreeBuffer.get());
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, ref.data(), kW * 4);
    // The alpha brush premultiplied, as pixman's OVER takes it.
    std::vector<uint32_t> pre(40 * 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const uint32_t a = alpha->alpha->plane->data[y * alpha->alpha->plane->rowBytes + x];
            const uint32_t c = ReadBitmapPixel(alpha->bitmap, x, y, false);
            auto ch = [&](int s) { return (((c >> s) & 0xFF) * a + 127) / 255 << s; };
            pre[y * 40 + x] = a << 24 | ch(16) | ch(8) | ch(0);
        }
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, 40, 30, pre.data(), 40 * 4);
    ASSERT_EQ(Show("DisplayBrush", {1, 10, 10}), 0);
    pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, 10, 10, 40, 30);

    std::vector<uint32_t> plain(30 * 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) plain[y * 30 + x] = ReadBitmapPixel(opaque->bitmap, x, y, false);
    pixman_image_t* src2 = pixman_image_create_bits(PIXMAN_x8r8g8b8, 30, 30, plain.data(), 30 * 4);
    const pixman_color_t level{0, 0, 0, static_cast<uint16_t>(127 * 257)};
    pixman_image_t* weight = pixman_image_create_solid_fill(&level);
    ASSERT_EQ(Show("DisplayBrush", {2, 35, 30}, [&] { SetTableFieldInt(L_, "transparency", 128); }), 0);
    pixman_image_composite32(PIXMAN_OP_OVER, src2, weight, dst, 0, 0, 0, 0, 35, 30, 30, 30);

    const std::vector<uint32_t> got = Composed();
    int worst = 0;
    for (size_t i = 0; i < got.size(); ++i)
        for (int s : {0, 8, 16}) {
            const int d = std::abs(int((got[i] >> s) & 0xFF) - int((ref[i] >> s) & 0xFF));
            worst = std::max(worst, d);
        }
    EXPECT_LE(worst, 1);
    for (pixman_image_t* image : {dst, src, src2, weight}) pixman_image_unref(image);
}
#endif

TEST_F(CompositorTest, ASecondRedrawReusesTheCachedTransformAndShadow) {
    RandomBrush(1, 20, 10, "mask");
    ASSERT_EQ(Show("DisplayBrush", {1, 50, 40}, [&] {
                  SetTableFieldFloat(L_, "rotate", 30);
                  SetTableFieldInt(L_, "shadow", 1);
                  SetTableFieldInt(L_, "border", 1);
              }),
              0);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    ASSERT_NE(layer, nullptr);
    const qbLayerState* s = layer->shownstate;
    ASSERT_NE(s->xfbitmap, nullptr);
    ASSERT_NE(s->shadowalpha, nullptr);
    ASSERT_NE(s->bdbitmap, nullptr);
    const qbBitmap* cached[] = {s->xfbitmap, s->shadowalpha, s->bdbitmap};
    const std::vector<uint32_t> first = Composed();
    const std::vector<uint32_t> second = Composed();
    EXPECT_EQ(first, second);
    EXPECT_EQ(layer->shownstate, s);
    EXPECT_EQ(s->xfbitmap, cached[0]);
    EXPECT_EQ(s->shadowalpha, cached[1]);
    EXPECT_EQ(s->bdbitmap, cached[2]);
}

TEST(CompositeKernelsTest, TheRoundedBlendEqualsThePlainOneOnRandomRowsOfOddSizes) {
    std::mt19937 rng(99);
    for (int w : {1, 7, 12, 33, 64, 67}) {
        for (uint32_t level : {255u, 128u, 1u, 0u}) {
            for (int kind = 0; kind < 6; ++kind) {
                // Each kind through the SSE2 rows and through the AVX2 ones
                // (the same where the processor lacks AVX2).
                const KernelIsa isa = kind < 3 ? KernelIsa::Sse2 : KernelIsa::Avx2;
                const int h = 3, pitch = w + 5;
                std::vector<uint32_t> src(pitch * h), dst(pitch * h);
                std::vector<uint8_t> alpha(pitch * h), mask(16 * h);
                for (auto& v : src) v = rng();
                for (auto& v : dst) v = rng();
                // Clear and solid runs (which the fast path skips or copies)
                // between ramps.
                for (size_t i = 0; i < alpha.size(); ++i) {
                    const size_t run = i / 16 % 3;
                    alpha[i] = run == 0 ? 0 : run == 1 ? 255 : static_cast<uint8_t>(rng());
                }
                for (auto& v : mask) v = static_cast<uint8_t>(rng());
                qbBlendRows r;
                r.src = src.data() + 2;
                r.srcRowLength = pitch;
                r.alpha = kind % 3 == 1 ? alpha.data() + 2 : nullptr;
                r.alphaRowBytes = pitch;
                r.mask = kind % 3 == 2 ? mask.data() : nullptr;
                r.maskRowBytes = 16;
                r.maskBit = 3;
                r.width = w;
                r.height = h;
                r.level = level;
                std::vector<uint32_t> fast = dst, plain = dst;
                r.dst = fast.data() + 1;
                r.dstRowLength = pitch;
                BlendRows32With(isa, r);
                r.dst = plain.data() + 1;
                BlendRows32Ref(r);
                ASSERT_EQ(fast, plain) << w << " " << level << " " << kind;
            }
        }
    }
}

TEST_F(CompositorTest, AnInvisibleLayerStillCastsItsShadowMovedByDirectionAndSize) {
    RandomBrush(1, 10, 10, nullptr);
    ASSERT_EQ(Show("DisplayBrush", {1, 40, 30}, [&] {
                  SetTableFieldInt(L_, "transparency", 255);
                  SetTableFieldInt(L_, "shadow", 1);
                  SetTableFieldUInt(L_, "shadowcolor", 0x00FFFFFF);  // opaque white
                  SetTableFieldInt(L_, "shadowsize", 4);
                  SetTableFieldInt(L_, "shadowdir", 3);
              }),
              0);
    qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    int32_t x, y, w, h;
    GetShadowRect(L_, layer, layer->shownstate, &x, &y, &w, &h);
    // Grown by the radius 5, then 4 to the right and 4 down.
    EXPECT_EQ(x, 40 - 5 + 4);
    EXPECT_EQ(y, 30 - 5 + 4);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 20);
    const std::vector<uint32_t> got = Composed();
    const std::vector<uint32_t> bg = Read(display_->spriteFreeBuffer.get());
    EXPECT_EQ(got[40 + 30 * kW], bg[40 + 30 * kW]);      // the layer itself is not seen
    for (int s : {0, 8, 16}) EXPECT_GE((got[48 + 38 * kW] >> s) & 0xFF, 0xF0u);  // its (blurred) shadow is
}

TEST_F(CompositorTest, BordersAndShadowsOfTheLargestSizesLeaveTheLayerShown) {
    qbBrush* brush = RandomBrush(1, 10, 10, nullptr);
    const uint32_t colour = ReadBitmapPixel(brush->bitmap, 5, 5, false);
    const struct {
        const char* key;
        int dir;
    } styles[] = {{"bordersize", 0}, {"shadowradius", 0}, {"shadowsize", 3}, {"shadowsize", 7}, {"shadowsize", 1}};
    int x = 0;
    for (const auto& style : styles) {
        SCOPED_TRACE(std::string(style.key) + " dir " + std::to_string(style.dir));
        const bool border = std::string(style.key) == "bordersize";
        // A border no bitmap could hold is refused rather than never drawn.
        ASSERT_EQ(Show("DisplayBrush", {1, double(x), 30}, [&] {
                      SetTableFieldInt(L_, border ? "border" : "shadow", 1);
                      SetTableFieldInt(L_, "shadowdir", style.dir);
                      SetTableFieldFloat(L_, style.key, 2147483647.0);
                  }),
                  border ? ERR_WRONGUSAGE : 0);
        if (border) continue;
        qbLayer* layer = GetLayerByIndex(display_->bgpic, CountLayers(display_->bgpic));
        ASSERT_NE(layer, nullptr);
        int32_t bx, by, bw, bh;
        GetLayerBounds(L_, layer, layer->shownstate, &bx, &by, &bw, &bh);
        EXPECT_LE(bx, x);
        EXPECT_LE(by, 30);
        EXPECT_GE(int64_t{bx} + bw, x + 10);
        EXPECT_GE(int64_t{by} + bh, 40);
        EXPECT_EQ(Window(x + 5, 35), colour);
        EXPECT_EQ(Composed()[x + 5 + 35 * kW], colour);
        x += 20;
    }
}
