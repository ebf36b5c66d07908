// SafeBlt's cost per call for sprite-sized blits into a 640x480 back buffer
// (and for 1x1 ones, which show the cost of the call itself), opaque, masked
// and alpha-blended, against SDL_BlitSurface of the same sizes (colour key
// for the masked case, blend mode for the alpha case); and a full 1920x1080
// refresh of a display into its in-memory window against one memcpy of the
// frame. Counters: calls or frames per second.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "pixelbench.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

#ifdef QB_BENCH_HAVE_SDL2
#include <SDL.h>
#endif

namespace {

constexpr int32_t kBackWidth = 640;
constexpr int32_t kBackHeight = 480;
// Blits land at these places in turn, so that no single spot stays in L1.
constexpr int32_t kSpots = 16;

enum Kind : int64_t { kOpaque = 0, kMasked = 1, kAlpha = 2 };

const char* KindName(int64_t kind) { return kind == kOpaque ? "opaque" : kind == kMasked ? "masked" : "alpha"; }

using pixelbench::Noise;

// One open display of that size made current, in a window of its size.
struct World {
    explicit World(int32_t width = 64, int32_t height = 64) {
        // As the player runs: the in-memory backend installed, not defaulted.
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        qbDisplayOptions o;
        o.width = width;
        o.height = height;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, width, height);
        StartDisplays(nullptr);
    }
    ~World() {
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
    }
    qbDisplay* display = nullptr;
};

void BM_SafeBlt(benchmark::State& state) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    const int64_t kind = state.range(1);
    World world;
    BitmapPtr back(AllocBitmap(kBackWidth, kBackHeight, 0, nullptr));
    BitmapPtr sprite(AllocBitmap(size, size, 0, nullptr));
    BitmapPtr mask(AllocMask(sprite.get(), size, size, true, nullptr, 0));
    BitmapPtr alpha(AllocAlphaChannel(size, size, true, nullptr, 0));
    FillBitmapRect(back.get(), 0, 0, kBackWidth, kBackHeight, 0x203040);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) {
            WriteBitmapPixel(sprite.get(), x, y, Noise(seed) & 0xFFFFFF, false);
            // A round sprite: set inside the circle, clear outside.
            const int32_t dx = 2 * x - size, dy = 2 * y - size;
            if (dx * dx + dy * dy < size * size) WriteBitmapPixel(mask.get(), x, y, 0, true);
            alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = static_cast<uint8_t>(Noise(seed));
        }
    qbSafeBlt b;
    b.source = sprite.get();
    b.destination = back.get();
    b.width = b.height = b.srcWidth = b.srcHeight = size;
    b.dstWidth = kBackWidth;
    b.dstHeight = kBackHeight;
    if (kind == kMasked) b.mask = mask.get();
    if (kind == kAlpha) b.alpha = alpha.get();
    int32_t spot = 0;
    for (auto _ : state) {
        b.dstX = (spot * 37) % (kBackWidth - size);
        b.dstY = (spot * 23) % (kBackHeight - size);
        spot = (spot + 1) % kSpots;
        SafeBlt(nullptr, b);
        benchmark::ClobberMemory();
    }
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(KindName(kind));
}

void BlitArgs(benchmark::internal::Benchmark* b) {
    for (int64_t kind : {kOpaque, kMasked, kAlpha})
        for (int64_t size : {1, 16, 32, 64}) b->Args({size, kind});
}

#ifdef QB_BENCH_HAVE_SDL2
void BM_SDL_BlitSurface(benchmark::State& state) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    const int64_t kind = state.range(1);
    const uint32_t format = kind == kAlpha ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB888;
    SDL_Surface* back = SDL_CreateRGBSurfaceWithFormat(0, kBackWidth, kBackHeight, 32, SDL_PIXELFORMAT_RGB888);
    SDL_Surface* sprite = SDL_CreateRGBSurfaceWithFormat(0, size, size, 32, format);
    uint32_t seed = 12345;
    auto* pixels = static_cast<uint32_t*>(sprite->pixels);
    const int32_t pitch = sprite->pitch / 4;
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) {
            uint32_t p = Noise(seed) & 0xFFFFFF;
            const int32_t dx = 2 * x - size, dy = 2 * y - size;
            if (kind == kMasked && dx * dx + dy * dy >= size * size) p = 0xFF00FF;  // the key colour
            if (kind == kAlpha) p |= (Noise(seed) & 0xFFu) << 24;
            pixels[y * pitch + x] = p;
        }
    SDL_SetSurfaceBlendMode(sprite, kind == kAlpha ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
    if (kind == kMasked) SDL_SetColorKey(sprite, SDL_TRUE, 0xFF00FF);
    int32_t spot = 0;
    for (auto _ : state) {
        SDL_Rect to{(spot * 37) % (kBackWidth - size), (spot * 23) % (kBackHeight - size), size, size};
        spot = (spot + 1) % kSpots;
        SDL_BlitSurface(sprite, nullptr, back, &to);
        benchmark::ClobberMemory();
    }
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(KindName(kind));
    SDL_FreeSurface(sprite);
    SDL_FreeSurface(back);
}
#endif

void BM_RefreshFullHD(benchmark::State& state) {
    World world(1920, 1080);
    for (auto _ : state) {
        RefreshDisplay(nullptr, world.display);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_MemcpyFullHD(benchmark::State& state) {
    const size_t bytes = size_t{1920} * 1080 * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_SafeBlt)->Apply(BlitArgs);
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_SDL_BlitSurface)->Apply(BlitArgs);
#endif
BENCHMARK(BM_RefreshFullHD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFullHD)->Unit(benchmark::kMillisecond);
