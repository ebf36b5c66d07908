// The layer compositor. Full screen: a 1920x1080 BGPic with 1, 16 and 128
// layers of 256x256 brushes (opaque, 1-bit mask, 8-bit alpha, transparency
// 128) redrawn whole, against the same work in pixman and against memcpy of
// the same bytes. Small updates: a 640x480 BGPic with 50 layers of 64x64,
// one layer moved per frame and only its old and new areas redrawn, against
// a full redraw of that BGPic. Counters: bytes per second (full screen) or
// frames per second (small updates).

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "pixelbench.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

enum Kind : int64_t { kOpaque = 0, kMasked = 1, kAlpha = 2, kTransparent = 3 };
constexpr int32_t kLayerSize = 256;

const char* KindName(int64_t k) {
    return k == kOpaque ? "opaque" : k == kMasked ? "mask" : k == kAlpha ? "alpha" : "transparency128";
}

using pixelbench::Noise;

// One open display of that size, current, with layers on.
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
        display->layersEnabled = 1;
        uint32_t seed = 7;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                WriteBitmapPixel(display->spriteFreeBuffer.get(), x, y, Noise(seed) & 0xFFFFFF, false);
    }
    ~World() {
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
        ClearLayerSources();
        FreeAllBrushes(nullptr);
    }
    qbDisplay* display = nullptr;
};

// A brush of noise: a round mask, a noise alpha plane, or neither.
qbBrush* MakeBrush(int32_t id, int32_t size, int64_t kind) {
    BitmapPtr bitmap(AllocBitmap(size, size, 0, nullptr));
    BitmapPtr mask, alpha;
    uint32_t seed = 99 + static_cast<uint32_t>(id);
    if (kind == kMasked) mask.reset(AllocMask(bitmap.get(), size, size, true, nullptr, 0));
    if (kind == kAlpha) alpha.reset(AllocAlphaChannel(size, size, true, nullptr, 0));
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) {
            WriteBitmapPixel(bitmap.get(), x, y, Noise(seed) & 0xFFFFFF, false);
            const int32_t dx = 2 * x - size, dy = 2 * y - size;
            if (mask && dx * dx + dy * dy < size * size) WriteBitmapPixel(mask.get(), x, y, 0, true);
            if (alpha) alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = static_cast<uint8_t>(Noise(seed));
        }
    qbBrush* b = nullptr;
    AllocBrushRecord(NewObjectID{id, 0}, kBrushPixels, size, size, size, 0, nullptr, bitmap.release(), -1,
                     mask.release(), alpha.release(), ObjectID{}, &b);
    return b;
}

struct Place {
    int32_t x, y;
};

Place PlaceOf(int i, int32_t width, int32_t height, int32_t size) {
    return {(i * 397) % (width - size), (i * 211) % (height - size)};
}

void AddLayers(int count, int64_t kind, int32_t width, int32_t height, int32_t size) {
    qbLayerOptions lopts = DefaultLayerOptions();
    if (kind == kTransparent) lopts.transparency = 128;
    for (int i = 0; i < count; ++i) {
        const Place p = PlaceOf(i, width, height, size);
        AddObjectLayer(nullptr, kLayerBrush, ObjectID{1, nullptr}, 0, 0, p.x, p.y, size, size, nullptr, &lopts,
                       nullptr, -1, 0, nullptr);
    }
}

int64_t FrameBytes(int64_t layers) { return (1920 * 1080 + layers * kLayerSize * kLayerSize) * 4; }

void BM_Composite(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int64_t kind = state.range(1);
    World world(1920, 1080);
    MakeBrush(1, kLayerSize, kind);
    AddLayers(count, kind, 1920, 1080, kLayerSize);
    qbDisplay* d = world.display;
    for (auto _ : state) {
        RedrawLayers(nullptr, d, d->bgpic, d->backBuffer.get(), 0, 0, 1920, 1080, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes(count));
    state.SetLabel(KindName(kind));
}

void BM_Memcpy(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<uint32_t> from(1920 * 1080), to(1920 * 1080);
    std::vector<uint32_t> tile(kLayerSize * kLayerSize);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        // Each layer's rows into the frame where the compositor puts them.
        for (int i = 0; i < count; ++i) {
            const Place p = PlaceOf(i, 1920, 1080, kLayerSize);
            for (int32_t y = 0; y < kLayerSize; ++y)
                std::memcpy(&to[static_cast<size_t>(p.y + y) * 1920 + p.x], &tile[static_cast<size_t>(y) * kLayerSize],
                            kLayerSize * 4);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes(count));
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_Pixman(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int64_t kind = state.range(1);
    std::vector<uint32_t> bg(1920 * 1080), dst(1920 * 1080), src(kLayerSize * kLayerSize);
    std::vector<uint32_t> maskBits(kLayerSize * kLayerSize / 32);
    uint32_t seed = 5;
    for (auto& v : bg) v = Noise(seed) & 0xFFFFFF;
    for (auto& v : src) v = Noise(seed);
    for (auto& v : maskBits) v = Noise(seed);
    if (kind != kAlpha)
        for (auto& v : src) v |= 0xFF000000u;
    pixman_image_t* background = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1920, 1080, bg.data(), 1920 * 4);
    pixman_image_t* target = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1920, 1080, dst.data(), 1920 * 4);
    pixman_image_t* layer = pixman_image_create_bits(kind == kAlpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, kLayerSize,
                                                     kLayerSize, src.data(), kLayerSize * 4);
    pixman_image_t* mask = nullptr;
    if (kind == kMasked)
        mask = pixman_image_create_bits(PIXMAN_a1, kLayerSize, kLayerSize, maskBits.data(), kLayerSize / 8);
    if (kind == kTransparent) {
        const pixman_color_t level{0, 0, 0, static_cast<uint16_t>(127 * 257)};
        mask = pixman_image_create_solid_fill(&level);
    }
    const pixman_op_t op = kind == kOpaque ? PIXMAN_OP_SRC : PIXMAN_OP_OVER;
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, background, nullptr, target, 0, 0, 0, 0, 0, 0, 1920, 1080);
        for (int i = 0; i < count; ++i) {
            const Place p = PlaceOf(i, 1920, 1080, kLayerSize);
            pixman_image_composite32(op, layer, mask, target, 0, 0, 0, 0, p.x, p.y, kLayerSize, kLayerSize);
        }
        benchmark::ClobberMemory();
    }
    for (pixman_image_t* image : {background, target, layer, mask})
        if (image) pixman_image_unref(image);
    state.SetBytesProcessed(state.iterations() * FrameBytes(count));
    state.SetLabel(KindName(kind));
}
#endif

// One of 50 64x64 layers moves by a few pixels each frame; only the union of
// its old and new areas is redrawn and shown, against the whole picture.
void BM_SmallUpdate(benchmark::State& state) {
    const bool whole = state.range(0) != 0;
    World world(640, 480);
    MakeBrush(1, 64, kMasked);
    AddLayers(50, kMasked, 640, 480, 64);
    qbDisplay* d = world.display;
    qbLayer* moving = GetLayerByIndex(d->bgpic, 25);
    int32_t step = 0;
    for (auto _ : state) {
        qbLayerState* s = moving->shownstate;
        const int32_t oldX = s->shownx, oldY = s->showny;
        s->shownx = s->x = 100 + (step % 400);
        s->showny = s->y = 100 + (step % 300);
        ++step;
        if (whole) {
            RefreshLayerRect(nullptr, 0, 0, 640, 480, 0);
        } else {
            const int32_t x = std::min(oldX, s->shownx), y = std::min(oldY, s->showny);
            RefreshLayerRect(nullptr, x, y, std::max(oldX, s->shownx) + 64 - x, std::max(oldY, s->showny) + 64 - y, 0);
        }
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(whole ? "whole picture" : "moved area");
}

void Args(benchmark::internal::Benchmark* b) {
    for (int64_t kind : {kOpaque, kMasked, kAlpha, kTransparent})
        for (int64_t count : {1, 16, 128}) b->Args({count, kind});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Composite)->Apply(Args);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Pixman)->Apply(Args);
#endif
BENCHMARK(BM_Memcpy)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
