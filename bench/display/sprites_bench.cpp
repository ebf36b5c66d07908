// Sprites moved over a picture: 128 sprites of 64x64 (1-bit mask, or 8-bit
// alpha) each moved by 3 pixels per frame with DisplaySprite's core, on a
// 1920x1080 and a 640x480 display, the sprites at the same places on both
// (the cost should follow the changed area, not the display's size). Beside
// it pixman doing the same work per sprite: the union rectangle copied from
// the background, every sprite overlapping it composited over with its a1
// or a8 mask, and the rectangle copied to the window surface. Each of
// pixman's sprites has its own image, as each of the player's has its frame.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "imaging/bitmap.h"
#include "objects/sprites.h"
#include "pixelbench.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kSprites = 128;
constexpr int32_t kSize = 64, kStep = 3;
enum Kind : int64_t { kMasked = 0, kAlpha = 1 };

using pixelbench::Noise;

struct World {
    World(int32_t width, int32_t height) {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        qbDisplayOptions o;
        o.width = width;
        o.height = height;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, width, height);
        StartDisplays(nullptr);
        uint32_t seed = 7;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                WriteBitmapPixel(display->spriteFreeBuffer.get(), x, y, Noise(seed) & 0xFFFFFF, false);
    }
    ~World() {
        FreeAllSprites(nullptr);
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
    }
    qbDisplay* display = nullptr;
};

// A sprite of noise with a round mask or a noise alpha plane.
void MakeSprite(int32_t id, int64_t kind) {
    std::unique_ptr<qbSprite> s = NewSpriteRecord();
    BitmapPtr bitmap(AllocBitmap(kSize, kSize, 0, nullptr));
    BitmapPtr mask, alpha;
    if (kind == kMasked) mask.reset(AllocMask(bitmap.get(), kSize, kSize, true, nullptr, 0));
    else alpha.reset(AllocAlphaChannel(kSize, kSize, true, nullptr, 0));
    uint32_t seed = 99 + static_cast<uint32_t>(id);
    for (int32_t y = 0; y < kSize; ++y)
        for (int32_t x = 0; x < kSize; ++x) {
            WriteBitmapPixel(bitmap.get(), x, y, Noise(seed) & 0xFFFFFF, false);
            const int32_t dx = 2 * x - kSize, dy = 2 * y - kSize;
            if (mask && dx * dx + dy * dy < kSize * kSize) WriteBitmapPixel(mask.get(), x, y, 0, true);
            if (alpha) alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = uint8_t(Noise(seed));
        }
    s->width = s->height = kSize;
    s->frameCount = 1;
    s->bitmaps.push_back(std::move(bitmap));
    s->masks.push_back(std::move(mask));
    s->alphas.push_back(std::move(alpha));
    qbSprite* made = nullptr;
    AddSpriteRecord(nullptr, std::move(s), &made);
    AdoptSpriteID(nullptr, made, NewObjectID{id, 0});
}

// The places fit the small display, so that both sizes move the same
// sprites over the same areas.
int32_t XOf(int i, int step) { return (i * 397 + step * kStep) % (640 - kSize - kStep); }
int32_t YOf(int i) { return (i * 211) % (480 - kSize); }

void BM_DisplaySprite(benchmark::State& state) {
    const bool large = state.range(0) != 0;
    const int64_t kind = state.range(1);
    World world(large ? 1920 : 640, large ? 1080 : 480);
    for (int i = 0; i < kSprites; ++i) {
        MakeSprite(i + 1, kind);
        RedrawSprite(nullptr, ObjectID{i + 1, nullptr}, XOf(i, 0), YOf(i), 1);
    }
    int step = 1;
    for (auto _ : state) {
        for (int i = 0; i < kSprites; ++i) RedrawSprite(nullptr, ObjectID{i + 1, nullptr}, XOf(i, step), YOf(i), 1);
        ++step;
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(large ? "1920x1080 " : "640x480 ") + (kind == kMasked ? "mask" : "alpha"));
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_Pixman(benchmark::State& state) {
    const bool large = state.range(0) != 0;
    const int64_t kind = state.range(1);
    const int32_t width = large ? 1920 : 640, height = large ? 1080 : 480;
    std::vector<uint32_t> bg(size_t(width) * height), back(bg.size()), window(bg.size());
    // Each sprite its own image (and mask), as on the player's side, so
    // that both read the same amount of sprite memory.
    std::vector<uint32_t> src(size_t(kSprites) * kSize * kSize), maskBits(size_t(kSprites) * kSize * kSize / 32);
    uint32_t seed = 5;
    for (auto& v : bg) v = Noise(seed) & 0xFFFFFF;
    for (auto& v : src) v = Noise(seed);
    for (auto& v : maskBits) v = Noise(seed);
    if (kind == kMasked)
        for (auto& v : src) v |= 0xFF000000u;
    pixman_image_t* background = pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, bg.data(), width * 4);
    pixman_image_t* target = pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, back.data(), width * 4);
    pixman_image_t* surface = pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, window.data(), width * 4);
    std::vector<pixman_image_t*> sprites(kSprites), masks(kSprites);
    for (int i = 0; i < kSprites; ++i) {
        sprites[size_t(i)] = pixman_image_create_bits(kind == kAlpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, kSize,
                                                      kSize, src.data() + size_t(i) * kSize * kSize, kSize * 4);
        masks[size_t(i)] = kind == kMasked ? pixman_image_create_bits(PIXMAN_a1, kSize, kSize,
                                                                      maskBits.data() + size_t(i) * kSize * kSize / 32,
                                                                      kSize / 8)
                                           : nullptr;
    }
    std::vector<int32_t> xs(kSprites);
    for (int i = 0; i < kSprites; ++i) xs[size_t(i)] = XOf(i, 0);
    int step = 1;
    for (auto _ : state) {
        for (int i = 0; i < kSprites; ++i) {
            const int32_t oldX = xs[size_t(i)], newX = XOf(i, step), y = YOf(i);
            xs[size_t(i)] = newX;
            const int32_t ux = std::min(oldX, newX), uw = std::max(oldX, newX) + kSize - ux;
            pixman_image_composite32(PIXMAN_OP_SRC, background, nullptr, target, ux, y, 0, 0, ux, y, uw, kSize);
            for (int j = 0; j < kSprites; ++j) {
                const int32_t sx = xs[size_t(j)], sy = YOf(j);
                const int32_t l = std::max(ux, sx), r = std::min(ux + uw, sx + kSize);
                const int32_t t = std::max(y, sy), b = std::min(y + kSize, sy + kSize);
                if (l >= r || t >= b) continue;
                pixman_image_composite32(PIXMAN_OP_OVER, sprites[size_t(j)], masks[size_t(j)], target, l - sx, t - sy,
                                         l - sx, t - sy, l, t, r - l, b - t);
            }
            pixman_image_composite32(PIXMAN_OP_SRC, target, nullptr, surface, ux, y, 0, 0, ux, y, uw, kSize);
        }
        ++step;
        benchmark::ClobberMemory();
    }
    for (pixman_image_t* image : {background, target, surface}) pixman_image_unref(image);
    for (int i = 0; i < kSprites; ++i)
        for (pixman_image_t* image : {sprites[size_t(i)], masks[size_t(i)]})
            if (image) pixman_image_unref(image);
    state.SetLabel(std::string(large ? "1920x1080 " : "640x480 ") + (kind == kMasked ? "mask" : "alpha"));
}
#endif

void Args(benchmark::internal::Benchmark* b) {
    for (int64_t kind : {kMasked, kAlpha})
        for (int64_t large : {1, 0}) b->Args({large, kind});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_DisplaySprite)->Apply(Args);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Pixman)->Apply(Args);
#endif
