// The YUV 4:2:0 frame conversion against libswscale's sws_scale (one thread,
// nearest pixel, BT.601 studio range) where the distribution has it, at full
// HD unscaled and scaled to 720p; and the blend against the destination's
// alpha against the plain alpha blend it stands in for.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/kernels.h"
#include "imaging/pixeltransfer.h"
#include "imaging/yuvframes.h"
#include "platform/platform_media.h"

#ifdef QB_BENCH_HAVE_SWSCALE
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#endif

namespace {

constexpr int32_t kW = 1920, kH = 1080;

struct Frame {
    std::vector<uint8_t> y = std::vector<uint8_t>(kW * kH), u = std::vector<uint8_t>(kW / 2 * kH / 2),
                         v = std::vector<uint8_t>(kW / 2 * kH / 2);
    const uint8_t* planes[3];
    int32_t pitches[3] = {kW, kW / 2, kW / 2};
    Frame() {
        std::mt19937 rng(1);
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p) b = static_cast<uint8_t>(16 + rng() % 220);
        planes[0] = y.data(), planes[1] = u.data(), planes[2] = v.data();
    }
};

void Ours(benchmark::State& state, int32_t dw, int32_t dh, KernelIsa isa = KernelIsa::Avx512, int32_t rows = kH) {
    Frame f;
    std::vector<uint32_t> out(static_cast<size_t>(dw) * dh);
    qbYUVFrameRequest q;
    q.planes = f.planes;
    q.pitches = f.pitches;
    q.destination = out.data();
    q.sourceWidth = kW, q.sourceHeight = rows;
    q.destWidth = dw, q.destHeight = dh;
    q.destPitch = dw;
    q.destFormat = 10;
    q.destBytesPerPixel = 4;
    for (auto _ : state) {
        if (dw == kW && dh == kH)
            ConvertYUVToRGBWith(isa, q);
        else
            ScaleYUVToRGBWith(isa, q);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * dw * (rows < kH ? rows : dh));
}
void BM_Ours_1080p(benchmark::State& state) { Ours(state, kW, kH); }
// The top 64 rows alone, whose pixels stay in the caches: the arithmetic
// without the memory's share.
void BM_Ours_1080p_Rows64(benchmark::State& state) { Ours(state, kW, kH, KernelIsa::Avx512, 64); }
void BM_Ours_1080pTo720p(benchmark::State& state) { Ours(state, 1280, 720); }
// The AVX2 rows alone, as on processors without AVX-512.
void BM_Ours_1080p_Avx2(benchmark::State& state) { Ours(state, kW, kH, KernelIsa::Avx2); }
void BM_Ours_1080pTo720p_Avx2(benchmark::State& state) { Ours(state, 1280, 720, KernelIsa::Avx2); }
BENCHMARK(BM_Ours_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_1080pTo720p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_1080p_Rows64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ours_1080p_Avx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_1080pTo720p_Avx2)->Unit(benchmark::kMillisecond);

#ifdef QB_BENCH_HAVE_SWSCALE
void Swscale(benchmark::State& state, int32_t dw, int32_t dh, int32_t rows = kH) {
    Frame f;
    std::vector<uint32_t> out(ConvertedPictureWords(dw, dh));
    SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, dw, dh, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr,
                                     nullptr);
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.data()), nullptr, nullptr, nullptr};
    const int dstStride[4] = {dw * 4, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(sws, f.planes, f.pitches, 0, rows, dst, dstStride);
        benchmark::DoNotOptimize(out.data());
    }
    sws_freeContext(sws);
    state.SetItemsProcessed(state.iterations() * dw * (rows < kH ? rows : dh));
}
void BM_Swscale_1080p(benchmark::State& state) { Swscale(state, kW, kH); }
void BM_Swscale_1080pTo720p(benchmark::State& state) { Swscale(state, 1280, 720); }
void BM_Swscale_1080p_Rows64(benchmark::State& state) { Swscale(state, kW, kH, 64); }
BENCHMARK(BM_Swscale_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swscale_1080pTo720p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swscale_1080p_Rows64)->Unit(benchmark::kMicrosecond);
#endif

// Sprite-like weights: mostly 0 and 255, the edges in between.
std::vector<uint8_t> Weights(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> a(kW * kH);
    for (auto& b : a) {
        const uint32_t r = rng() % 8;
        b = r < 3 ? 0 : r < 6 ? 255 : static_cast<uint8_t>(rng());
    }
    return a;
}

void BlendOver(benchmark::State& state, bool avx512, int32_t rows = kH) {
    std::vector<uint32_t> src(kW * kH, 0x00FF8040u), dst(kW * kH, 0x00204080u);
    const std::vector<uint8_t> mask = Weights(2), destAlpha = Weights(3);
    qbPixelTransferRequest r;
    r.source = src.data(), r.srcPitch = kW;
    r.destination = dst.data(), r.dstPitch = kW;
    r.width = kW, r.height = rows;
    r.mask = mask.data(), r.maskPitch = kW;
    r.destAlpha = destAlpha.data(), r.destAlphaPitch = kW;
    for (auto _ : state) {
        BlendAlpha32With(KernelIsa::Avx2, r, avx512);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * kW * rows);
}
void PlainBlend(benchmark::State& state, int32_t rows) {
    std::vector<uint32_t> src(kW * kH, 0x00FF8040u), dst(kW * kH, 0x00204080u);
    std::vector<uint8_t> mask = Weights(2);
    for (auto _ : state) {
        AlphaBlend32({dst.data(), kW, 0, 0}, {src.data(), kW, 0, 0}, {mask.data(), kW, 0, 0}, kW, rows, 10);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * kW * rows);
}
void BM_PlainAlphaBlend32_1080p(benchmark::State& state) { PlainBlend(state, kH); }
// The top 64 rows alone, which stay in the caches.
void BM_PlainAlphaBlend32_1080p_Rows64(benchmark::State& state) { PlainBlend(state, 64); }
void BM_BlendAlpha32_1080p_Rows64(benchmark::State& state) { BlendOver(state, true, 64); }
void BM_BlendAlpha32_1080p(benchmark::State& state) { BlendOver(state, true); }
void BM_BlendAlpha32_1080p_Avx2(benchmark::State& state) { BlendOver(state, false); }
BENCHMARK(BM_BlendAlpha32_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendAlpha32_1080p_Avx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainAlphaBlend32_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendAlpha32_1080p_Rows64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainAlphaBlend32_1080p_Rows64)->Unit(benchmark::kMicrosecond);

}  // namespace
