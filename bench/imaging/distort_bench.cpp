// DistortBitmap of a 1024 x 768 picture (perspective and barrel, nearest and
// smooth) against ImageMagick's DistortImage on one thread, point filter for
// nearest and its EWA with the Gaussian filter for smooth (another
// weighting, so a speed peer only); and the turn RotateBrush makes
// (TransformBitmap, 30 degrees, 1024 x 1024) against pixman's transformed
// SRC composite. A near-horizon perspective reports the most
// samples one pixel summed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/distort.h"
#include "imaging/transform.h"
#include "objects/objectoptions.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif
#include "magickpeer.h"

namespace {

constexpr int32_t kW = 1024, kH = 768, kTurnSide = 1024;

std::vector<uint32_t> Picture(int32_t w, int32_t h) {
    std::vector<uint32_t> v(static_cast<size_t>(w) * h);
    uint32_t seed = 7;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const uint32_t n = seed >> 28;
            v[static_cast<size_t>(y) * w + x] =
                0xFF000000u | ((x * 255u / w) ^ n) << 16 | ((y * 255u / h) ^ n) << 8 | (n << 4);
        }
    return v;
}

BitmapPtr SourceBitmap(int32_t w, int32_t h) {
    const std::vector<uint32_t> pixels = Picture(w, h);
    qbBitmap* b = nullptr;
    CreateBitmapFromARGB(pixels.data(), kNoKeyColour, w, h, w, false, 0, 0, &b, nullptr, nullptr);
    return BitmapPtr(b);
}

// The corners: top-left, top-right, bottom-right, bottom-left.
const std::vector<double> kPerspective = {0, 0, 0, 0, kW, 0, kW, 150, kW, kH, kW, kH - 150, 0, kH, 0, kH};
// The right edge almost at the vanishing point.
const std::vector<double> kNearHorizon = {0, 0, 0, 0, kW, 0, kW, 380, kW, kH, kW, 388, 0, kH, 0, kH};
const std::vector<double> kBarrel = {0.05, -0.1, 0.02, 1.0, kW / 2.0, kH / 2.0};

void BM_Distort(benchmark::State& state, int32_t method, const std::vector<double>* args, bool smooth) {
    BitmapPtr source = SourceBitmap(kW, kH);
    int64_t samples = 0;
    for (auto _ : state) {
        qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        int32_t w = 0, h = 0;
        DistortBitmap(source.get(), nullptr, nullptr, kW, kH, method, static_cast<int32_t>(args->size()),
                      args->data(), smooth, &b, &m, &a, &w, &h, &samples);
        FreeBitmap(b);
        FreeMask(m);
        FreeAlphaChannel(a);
    }
    state.counters["max_samples_per_pixel"] = static_cast<double>(samples);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Magick(benchmark::State& state, int32_t method, const std::vector<double>* args, bool smooth) {
    const std::vector<uint32_t> pixels = Picture(kW, kH);
    MagickPeer* peer = CreateMagickPeer(pixels.data(), kW, kH, smooth);
    for (auto _ : state) RunMagickDistort(peer, method, args->data(), args->size());
    FreeMagickPeer(peer);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Rotate(benchmark::State& state, bool smooth) {
    BitmapPtr source = SourceBitmap(kTurnSide, kTurnSide);
    double m[4];
    BuildScaleRotateMatrix(m, 0, 0, kTurnSide, kTurnSide, 1, 1, 30);
    for (auto _ : state) {
        qbBitmap *b = nullptr, *mask = nullptr, *alpha = nullptr;
        int32_t w = 0, h = 0;
        TransformBitmap(source.get(), nullptr, nullptr, 0, 0, kTurnSide, kTurnSide, m, smooth, &b, &mask, &alpha, &w,
                        &h);
        FreeBitmap(b);
        FreeMask(mask);
    }
    state.SetItemsProcessed(state.iterations() * kTurnSide * kTurnSide);
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_RotatePixman(benchmark::State& state, bool smooth) {
    std::vector<uint32_t> src = Picture(kTurnSide, kTurnSide);
    double m[4];
    BuildScaleRotateMatrix(m, 0, 0, kTurnSide, kTurnSide, 1, 1, 30);
    int32_t w = 0, h = 0;
    double minX = 0, minY = 0;
    GetTransformedBounds(m, kTurnSide, kTurnSide, &w, &h, &minX, &minY);
    std::vector<uint32_t> dst(static_cast<size_t>(w) * h);
    pixman_image_t* si = pixman_image_create_bits(PIXMAN_a8r8g8b8, kTurnSide, kTurnSide, src.data(), kTurnSide * 4);
    pixman_image_t* di = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, dst.data(), w * 4);
    // pixman maps destination to source: the inverse of the turn, moved to the box.
    const double det = m[0] * m[3] - m[1] * m[2];
    const double ia = m[3] / det, ib = -m[1] / det, ic = -m[2] / det, id = m[0] / det;
    pixman_transform_t t;
    pixman_transform_init_identity(&t);
    t.matrix[0][0] = pixman_double_to_fixed(ia);
    t.matrix[0][1] = pixman_double_to_fixed(ic);
    t.matrix[0][2] = pixman_double_to_fixed(ia * minX + ic * minY);
    t.matrix[1][0] = pixman_double_to_fixed(ib);
    t.matrix[1][1] = pixman_double_to_fixed(id);
    t.matrix[1][2] = pixman_double_to_fixed(ib * minX + id * minY);
    pixman_image_set_transform(si, &t);
    pixman_image_set_filter(si, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, si, nullptr, di, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(si);
    pixman_image_unref(di);
    state.SetItemsProcessed(state.iterations() * kTurnSide * kTurnSide);
}
BENCHMARK_CAPTURE(BM_RotatePixman, nearest, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RotatePixman, bilinear, true)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK_CAPTURE(BM_Distort, perspective_nearest, kDistortPerspective, &kPerspective, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Magick, perspective_nearest, kDistortPerspective, &kPerspective, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Distort, perspective_smooth, kDistortPerspective, &kPerspective, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Magick, perspective_smooth, kDistortPerspective, &kPerspective, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Distort, barrel_nearest, kDistortBarrel, &kBarrel, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Magick, barrel_nearest, kDistortBarrel, &kBarrel, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Distort, barrel_smooth, kDistortBarrel, &kBarrel, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Magick, barrel_smooth, kDistortBarrel, &kBarrel, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Distort, near_horizon_smooth, kDistortPerspective, &kNearHorizon, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate, nearest, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate, smooth, true)->Unit(benchmark::kMillisecond);

}  // namespace
