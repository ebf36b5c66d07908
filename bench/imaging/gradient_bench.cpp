// 1920 x 1080 linear and radial gradient fills of a 32-bit buffer against
// pixman's gradient images composited SRC into an a8r8g8b8 image of the
// same size: two colours, the linear one at 0, 90 and 30 degrees, the
// radial one from the centre to the corners.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "imaging/gradient.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int32_t kW = 1920;
constexpr int32_t kH = 1080;
constexpr uint32_t kStart = 0x2040C0;
constexpr uint32_t kEnd = 0xF0A010;

void Fill(benchmark::State& state, int style, int angle) {
    std::vector<uint32_t> pixels(static_cast<size_t>(kW) * kH);
    qbGradient g;
    g.style = style;
    g.angle = angle;
    g.startColor = kStart;
    g.endColor = kEnd;
    qbGradientFill f;
    f.pixels = pixels.data();
    f.width = kW;
    f.height = kH;
    f.pitch = kW;
    f.gradient = &g;
    for (auto _ : state) {
        FillGradientPixels(f);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Linear(benchmark::State& state) { Fill(state, kGradientLinear, static_cast<int>(state.range(0))); }
void BM_Radial(benchmark::State& state) { Fill(state, kGradientRadial, 0); }
BENCHMARK(BM_Linear)->Arg(0)->Arg(90)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Radial)->Unit(benchmark::kMillisecond);

#ifdef QB_BENCH_HAVE_PIXMAN
pixman_color_t Colour(uint32_t c) {
    auto channel = [](uint32_t v) { return static_cast<uint16_t>((v & 0xFF) * 257); };
    return pixman_color_t{channel(c >> 16), channel(c >> 8), channel(c), 0xFFFF};
}

void Pixman(benchmark::State& state, pixman_image_t* gradient) {
    std::vector<uint32_t> pixels(static_cast<size_t>(kW) * kH);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, pixels.data(), kW * 4);
    pixman_image_set_repeat(gradient, PIXMAN_REPEAT_PAD);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    pixman_image_unref(dst);
    pixman_image_unref(gradient);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

const pixman_gradient_stop_t* Stops() {
    static const pixman_gradient_stop_t stops[2] = {{0, Colour(kStart)}, {pixman_fixed_1, Colour(kEnd)}};
    return stops;
}

// The same end points the player lays out for 0, 90 and 30 degrees.
void BM_PixmanLinear(benchmark::State& state) {
    pixman_point_fixed_t p1{0, 0}, p2{0, pixman_int_to_fixed(kH)};
    if (state.range(0) == 90) p2 = {pixman_int_to_fixed(kW), 0};
    if (state.range(0) == 30) p2 = {pixman_double_to_fixed(947.6), pixman_double_to_fixed(1641.4)};
    Pixman(state, pixman_image_create_linear_gradient(&p1, &p2, Stops(), 2));
}
void BM_PixmanRadial(benchmark::State& state) {
    const pixman_point_fixed_t c{pixman_int_to_fixed(kW / 2), pixman_int_to_fixed(kH / 2)};
    const double r = 0.5 * std::sqrt(double(kW) * kW + double(kH) * kH);
    Pixman(state, pixman_image_create_radial_gradient(&c, &c, 0, pixman_double_to_fixed(r), Stops(), 2));
}
BENCHMARK(BM_PixmanLinear)->Arg(0)->Arg(90)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanRadial)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
