// Filled polygons into a cleared 1920x1080 coverage raster: the scan
// engine, plain and anti-aliased, against cairo (A8 surface, even-odd,
// ANTIALIAS_NONE and the default), AGG (binary and anti-aliased scanlines
// into gray8) and, as the floor, FreeType's mono and gray rasterisers. Each
// run fills one shape into a cleared raster: a 64-vertex star, a 999-vertex
// random polygon and a 73-point circle of radius 500.
//
// Only the fill is timed. Every contender clears its whole raster before
// each fill with the timers paused (the same memset of the same bytes, so
// each fill also starts from the same cache state); BM_ClearOnly says what
// a timed full clear would add and BM_PauseOnly what the pause itself
// leaves in every figure.
#include <agg_pixfmt_gray.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_bin.h>
#include <agg_scanline_p.h>
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "draw/scan/scan.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kPi = 3.14159265358979323846;

enum Shape { kStar = 0, kRandom = 1, kCircle = 2 };

std::vector<int32_t> MakeShape(int shape) {
    std::vector<int32_t> pts;
    if (shape == kStar) {
        for (int i = 0; i < 64; ++i) {
            const double r = i % 2 ? 200 : 500, a = i * 2 * kPi / 64;
            pts.push_back(static_cast<int32_t>(std::lround(960 + r * std::cos(a))));
            pts.push_back(static_cast<int32_t>(std::lround(540 + r * std::sin(a))));
        }
    } else if (shape == kRandom) {
        std::mt19937 rng(999);
        for (int i = 0; i < 999; ++i) {
            pts.push_back(static_cast<int32_t>(rng() % kWidth));
            pts.push_back(static_cast<int32_t>(rng() % kHeight));
        }
    } else {
        for (int i = 0; i <= 72; ++i) {
            const double a = i * 5 * kPi / 180;
            pts.push_back(static_cast<int32_t>(std::lround(960 + 500 * std::cos(a))));
            pts.push_back(static_cast<int32_t>(std::lround(540 - 500 * std::sin(a))));
        }
    }
    return pts;
}

void Ours(benchmark::State& state, int antialias) {
    const std::vector<int32_t> pts = MakeShape(static_cast<int>(state.range(0)));
    uint8_t* px = nullptr;
    int32_t pitch = 0;
    CoverageRasterPtr raster(CreateCoverageRaster(kWidth, kHeight, &px, &pitch));
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(px, 0, static_cast<size_t>(pitch) * kHeight);
        state.ResumeTiming();
        FillPolygon(raster.get(), pts.data(), static_cast<int32_t>(pts.size() / 2), antialias, 0);
        benchmark::DoNotOptimize(px[pitch * 540 + 960]);
    }
}

void Cairo(benchmark::State& state, cairo_antialias_t antialias) {
    const std::vector<int32_t> pts = MakeShape(static_cast<int>(state.range(0)));
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, kWidth, kHeight);
    cairo_t* cr = cairo_create(s);
    uint8_t* px = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_set_antialias(cr, antialias);
    for (auto _ : state) {
        state.PauseTiming();
        cairo_surface_flush(s);
        std::memset(px, 0, static_cast<size_t>(stride) * kHeight);
        cairo_surface_mark_dirty(s);
        state.ResumeTiming();
        cairo_move_to(cr, pts[0], pts[1]);
        for (size_t i = 2; i < pts.size(); i += 2) cairo_line_to(cr, pts[i], pts[i + 1]);
        cairo_close_path(cr);
        cairo_fill(cr);
        cairo_surface_flush(s);
        benchmark::DoNotOptimize(px[stride * 540 + 960]);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

template <class Scanline, class Renderer>
void Agg(benchmark::State& state) {
    const std::vector<int32_t> pts = MakeShape(static_cast<int>(state.range(0)));
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    agg::rendering_buffer buffer(px.data(), kWidth, kHeight, kWidth);
    agg::pixfmt_gray8 format(buffer);
    agg::renderer_base<agg::pixfmt_gray8> base(format);
    Renderer renderer(base);
    renderer.color(agg::gray8(255));
    agg::rasterizer_scanline_aa<> ras;
    ras.filling_rule(agg::fill_even_odd);
    Scanline sl;
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(px.data(), 0, px.size());
        state.ResumeTiming();
        ras.reset();
        ras.move_to_d(pts[0], pts[1]);
        for (size_t i = 2; i < pts.size(); i += 2) ras.line_to_d(pts[i], pts[i + 1]);
        ras.close_polygon();
        agg::render_scanlines(ras, sl, renderer);
        benchmark::DoNotOptimize(px[kWidth * 540 + 960]);
    }
}

void FreeType(benchmark::State& state, bool gray) {
    const std::vector<int32_t> pts = MakeShape(static_cast<int>(state.range(0)));
    FT_Library lib = nullptr;
    FT_Init_FreeType(&lib);
    const int n = static_cast<int>(pts.size() / 2);
    std::vector<FT_Vector> v(static_cast<size_t>(n));
    std::vector<char> tags(static_cast<size_t>(n), FT_CURVE_TAG_ON);
    for (int k = 0; k < n; ++k) v[k] = {pts[2 * k] * 64 + 32, (kHeight - pts[2 * k + 1]) * 64 - 32};
    short end = static_cast<short>(n - 1);
    FT_Outline outline{};
    outline.n_contours = 1;
    outline.n_points = static_cast<short>(n);
    outline.points = v.data();
    outline.tags = tags.data();
    outline.contours = &end;
    outline.flags = FT_OUTLINE_EVEN_ODD_FILL;
    FT_Bitmap bm{};
    bm.rows = kHeight;
    bm.width = kWidth;
    bm.pitch = gray ? kWidth : kWidth / 8;
    bm.pixel_mode = gray ? FT_PIXEL_MODE_GRAY : FT_PIXEL_MODE_MONO;
    bm.num_grays = 256;
    std::vector<uint8_t> px(static_cast<size_t>(bm.pitch) * kHeight);
    bm.buffer = px.data();
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(px.data(), 0, px.size());
        state.ResumeTiming();
        FT_Outline_Get_Bitmap(lib, &outline, &bm);
        benchmark::DoNotOptimize(px[px.size() / 2]);
    }
    FT_Done_FreeType(lib);
}

// The full clear that every run below makes untimed.
void BM_ClearOnly(benchmark::State& state) {
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        std::memset(px.data(), 0, px.size());
        benchmark::DoNotOptimize(px.data());
        benchmark::ClobberMemory();
    }
}

// The untimed clear with nothing timed after it: what pausing and resuming
// the timers leaves in every figure below.
void BM_PauseOnly(benchmark::State& state) {
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(px.data(), 0, px.size());
        benchmark::ClobberMemory();
        state.ResumeTiming();
        benchmark::DoNotOptimize(px.data());
    }
}

void BM_ScanPlain(benchmark::State& s) { Ours(s, 0); }
void BM_ScanAntialiased(benchmark::State& s) { Ours(s, 1); }
void BM_CairoNone(benchmark::State& s) { Cairo(s, CAIRO_ANTIALIAS_NONE); }
void BM_CairoDefault(benchmark::State& s) { Cairo(s, CAIRO_ANTIALIAS_DEFAULT); }
void BM_AggBinary(benchmark::State& s) {
    Agg<agg::scanline_bin, agg::renderer_scanline_bin_solid<agg::renderer_base<agg::pixfmt_gray8>>>(s);
}
void BM_AggAntialiased(benchmark::State& s) {
    Agg<agg::scanline_p8, agg::renderer_scanline_aa_solid<agg::renderer_base<agg::pixfmt_gray8>>>(s);
}
void BM_FreeTypeMono(benchmark::State& s) { FreeType(s, false); }
void BM_FreeTypeGray(benchmark::State& s) { FreeType(s, true); }

// Arguments: 0 star, 1 random 999-gon, 2 circle.
BENCHMARK(BM_ClearOnly);
// Nearly nothing is timed here: a fixed count, or the run would go on until
// half a second of it had been timed.
BENCHMARK(BM_PauseOnly)->Iterations(20000);
BENCHMARK(BM_ScanPlain)->DenseRange(0, 2);
BENCHMARK(BM_CairoNone)->DenseRange(0, 2);
BENCHMARK(BM_AggBinary)->DenseRange(0, 2);
BENCHMARK(BM_FreeTypeMono)->DenseRange(0, 2);
BENCHMARK(BM_ScanAntialiased)->DenseRange(0, 2);
BENCHMARK(BM_CairoDefault)->DenseRange(0, 2);
BENCHMARK(BM_AggAntialiased)->DenseRange(0, 2);
BENCHMARK(BM_FreeTypeGray)->DenseRange(0, 2);

}  // namespace
