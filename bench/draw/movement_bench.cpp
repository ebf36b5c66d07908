// One frame of a plain-mode move: a 256x256 picture with an alpha plane
// travelling 10 pixels a frame across a 1920x1080 display (the union of its
// old and new place restored from the background, the picture blended over
// it, the union shown in the window). Beside it pixman doing the frame's
// work: PIXMAN_OP_SRC of the union from the background, PIXMAN_OP_OVER of
// the picture through its a8 mask, and the union copied to the window
// surface.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "../display/pixelbench.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "draw/movement.h"
#include "imaging/bitmap.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kSize = 256, kSpeed = 10, kY = 400;
constexpr int32_t kEndX = kWidth - kSize;

using pixelbench::Noise;

struct World {
    World() {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        qbDisplayOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, kWidth, kHeight);
        StartDisplays(nullptr);
        uint32_t seed = 7;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                WriteBitmapPixel(display->spriteFreeBuffer.get(), x, y, Noise(seed) & 0xFFFFFF, false);
        picture.reset(AllocBitmap(kSize, kSize, 0, nullptr));
        alpha.reset(AllocAlphaChannel(kSize, kSize, true, nullptr, 0));
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x) {
                WriteBitmapPixel(picture.get(), x, y, Noise(seed) & 0xFFFFFF, false);
                alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = uint8_t(Noise(seed));
            }
    }
    ~World() {
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
    }
    // A move from the left edge to the right one.
    void Start(qbMove* m) {
        *m = qbMove{};
        m->kind = kMoveKindPicture;
        m->bitmap = picture.get();
        m->alpha = alpha.get();
        m->width = m->height = kSize;
        m->x = 0;
        m->y = m->targetY = kY;
        m->targetX = kEndX;
        m->speed = kSpeed;
        StartEffectMove(nullptr, m);
    }
    qbDisplay* display = nullptr;
    BitmapPtr picture, alpha;
};

void BM_MoveFrame(benchmark::State& state) {
    World world;
    qbMove m;
    world.Start(&m);
    for (auto _ : state) {
        int32_t done = 0;
        m.step(&m, &done);
        if (done) {
            state.PauseTiming();
            m.cleanup(&m);
            world.Start(&m);
            state.ResumeTiming();
        }
        benchmark::ClobberMemory();
    }
    // A move without its bitmaps would draw nothing and time nothing.
    if (!m.work || !m.background) state.SkipWithError("the move has no work bitmap");
    m.cleanup(&m);
    state.SetLabel("1920x1080 256x256 alpha");
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_PixmanFrame(benchmark::State& state) {
    std::vector<uint32_t> bg(size_t(kWidth) * kHeight), work(bg.size()), window(bg.size());
    std::vector<uint32_t> src(size_t(kSize) * kSize);
    std::vector<uint8_t> maskBytes(src.size());
    uint32_t seed = 5;
    for (auto& v : bg) v = Noise(seed) & 0xFFFFFF;
    work = bg;
    for (auto& v : src) v = Noise(seed) | 0xFF000000u;
    for (auto& v : maskBytes) v = uint8_t(Noise(seed));
    pixman_image_t* background = pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, bg.data(), kWidth * 4);
    pixman_image_t* target = pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, work.data(), kWidth * 4);
    pixman_image_t* surface = pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, window.data(), kWidth * 4);
    pixman_image_t* picture = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSize, kSize, src.data(), kSize * 4);
    pixman_image_t* mask = pixman_image_create_bits(PIXMAN_a8, kSize, kSize,
                                                    reinterpret_cast<uint32_t*>(maskBytes.data()), kSize);
    int32_t x = 0;
    for (auto _ : state) {
        const int32_t oldX = x;
        x = x + kSpeed > kEndX ? 0 : x + kSpeed;
        const int32_t ux = std::min(oldX, x), uw = std::max(oldX, x) + kSize - ux;
        pixman_image_composite32(PIXMAN_OP_SRC, background, nullptr, target, ux, kY, 0, 0, ux, kY, uw, kSize);
        pixman_image_composite32(PIXMAN_OP_OVER, picture, mask, target, 0, 0, 0, 0, x, kY, kSize, kSize);
        pixman_image_composite32(PIXMAN_OP_SRC, target, nullptr, surface, ux, kY, 0, 0, ux, kY, uw, kSize);
        benchmark::ClobberMemory();
    }
    for (pixman_image_t* image : {background, target, surface, picture, mask}) pixman_image_unref(image);
    state.SetLabel("1920x1080 256x256 a8");
}
#endif

}  // namespace

BENCHMARK(BM_MoveFrame)->Unit(benchmark::kMicrosecond);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_PixmanFrame)->Unit(benchmark::kMicrosecond);
#endif
