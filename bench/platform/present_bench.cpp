// The present of a full screen: a 640x480 virtual screen scaled into a
// 1920x1080 desktop window (1440x1080 between bars), nearest and smooth,
// against pixman's NEAREST and BILINEAR composites and SDL_BlitScaled of
// the same rectangle, and the present of a 64x64 changed rectangle.

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <vector>

#include "platform/linux/sdl_backend.h"

namespace {

constexpr int kScreenW = 640, kScreenH = 480, kDesktopW = 1920, kDesktopH = 1080;

struct PresentData {
    sdl_backend::Desktop desktop;
    SDL_Surface* target = nullptr;
    sdl_backend::ScreenPlacement place;
    PresentData() {
        desktop.width = kScreenW;
        desktop.height = kScreenH;
        desktop.screen.resize(static_cast<size_t>(kScreenW) * kScreenH);
        uint32_t seed = 7;
        for (uint32_t& p : desktop.screen) {
            seed = seed * 1664525u + 1013904223u;
            p = 0xFF000000u | (seed >> 8);
        }
        target = SDL_CreateRGBSurfaceWithFormat(0, kDesktopW, kDesktopH, 32, SDL_PIXELFORMAT_XRGB8888);
        place = sdl_backend::FitScreen(kScreenW, kScreenH, kDesktopW, kDesktopH);
    }
    ~PresentData() { SDL_FreeSurface(target); }
    SDL_Rect Whole() const { return SDL_Rect{place.x, place.y, place.width, place.height}; }
};

void BM_PresentNearest(benchmark::State& state) {
    PresentData d;
    const SDL_Rect r = d.Whole();
    for (auto _ : state) {
        sdl_backend::ScaleScreenRect(d.desktop, d.target, d.place, r, false, 256);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PresentNearest)->Unit(benchmark::kMicrosecond);

void BM_PresentSmooth(benchmark::State& state) {
    PresentData d;
    const SDL_Rect r = d.Whole();
    for (auto _ : state) {
        sdl_backend::ScaleScreenRect(d.desktop, d.target, d.place, r, true, 256);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PresentSmooth)->Unit(benchmark::kMicrosecond);

// A 64x64 rectangle of the screen: 144x144 pixels of the desktop.
void BM_PresentChanged64(benchmark::State& state) {
    PresentData d;
    const SDL_Rect r{d.place.x + 300, d.place.y + 300, 64 * d.place.width / kScreenW, 64 * d.place.height / kScreenH};
    for (auto _ : state) {
        sdl_backend::ScaleScreenRect(d.desktop, d.target, d.place, r, false, 256);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PresentChanged64)->Unit(benchmark::kMicrosecond);

void Pixman(benchmark::State& state, pixman_filter_t filter) {
    PresentData d;
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, kScreenW, kScreenH, d.desktop.screen.data(),
                                                   kScreenW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kDesktopW, kDesktopH,
                                                   static_cast<uint32_t*>(d.target->pixels), d.target->pitch);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kScreenW) / d.place.width),
                                pixman_double_to_fixed(double(kScreenH) / d.place.height));
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, filter, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, d.place.x, d.place.y, d.place.width,
                                 d.place.height);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
}
void BM_PixmanNearest(benchmark::State& state) { Pixman(state, PIXMAN_FILTER_NEAREST); }
void BM_PixmanBilinear(benchmark::State& state) { Pixman(state, PIXMAN_FILTER_BILINEAR); }
BENCHMARK(BM_PixmanNearest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixmanBilinear)->Unit(benchmark::kMicrosecond);

void BM_SDLBlitScaled(benchmark::State& state) {
    PresentData d;
    SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(d.desktop.screen.data(), kScreenW, kScreenH, 32, kScreenW * 4,
                                                          SDL_PIXELFORMAT_XRGB8888);
    SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
    for (auto _ : state) {
        SDL_Rect dst = d.Whole();
        SDL_BlitScaled(src, nullptr, d.target, &dst);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(src);
}
BENCHMARK(BM_SDLBlitScaled)->Unit(benchmark::kMicrosecond);

}  // namespace
