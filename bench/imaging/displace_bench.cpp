// The swirl and ripple kernels on one 1920x1080 ARGB frame as WATER1 and
// STRUDEL use them: blending two pictures (BGPic transitions) or fading a
// picture's alpha (layers). Range 0: 0 the one-by-one loops, 1 AVX-512
// where the processor has it, 2 the same with the rows shared among
// threads, one per processor the process may run on, 3 AVX2; range 1: the
// transition step (ripple) or angle (swirl). Time is wall time; the
// counter proc_ms is the processor time of all the process's threads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "core/rowworkers.h"
#include "imaging/swirlripple.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr size_t kPixels = size_t{kW} * kH;

struct Frames {
    std::vector<uint32_t> a = std::vector<uint32_t>(kPixels), b = a, out = a;
    std::vector<uint8_t> alpha = std::vector<uint8_t>(kPixels), outAlpha = alpha;
    std::vector<double> sine = std::vector<double>(kDisplaceTableSize), cosine = sine;
    std::vector<int32_t> distances = std::vector<int32_t>(kPixels);
    Frames() {
        std::mt19937 rng(11);
        for (size_t i = 0; i < kPixels; ++i) {
            a[i] = rng(), b[i] = rng();
            alpha[i] = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : 255);
        }
    }
};

Frames& Shared() {
    static Frames f;
    return f;
}

KernelIsa IsaOf(const benchmark::State& state) {
    const int64_t set = state.range(0);
    return set == 0 ? KernelIsa::Portable : set == 3 ? KernelIsa::Avx2 : KernelIsa::Avx512;
}

double ProcessMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The workers of range 0 = 2, none otherwise.
std::unique_ptr<qbRowWorkers> WorkersOf(const benchmark::State& state) {
    return state.range(0) == 2 ? std::make_unique<qbRowWorkers>() : nullptr;
}

// Runs a frame per iteration and reports the processor time of them all.
template <typename Frame>
void TimeFrames(benchmark::State& state, Frame frame) {
    const double start = ProcessMs();
    for (auto _ : state) {
        frame();
        benchmark::ClobberMemory();
    }
    state.counters["proc_ms"] = (ProcessMs() - start) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

template <typename R>
void SetPlanes(R& r, Frames& f, bool alphaMode) {
    r.source = f.a.data();
    r.destination = f.out.data();
    r.sourcePitch = r.source2Pitch = r.destinationPitch = kW;
    r.pixelFormat = kFormatARGB;
    r.width = kW;
    r.height = kH;
    if (alphaMode) {
        r.sourceAlpha = f.alpha.data();
        r.destinationAlpha = f.outAlpha.data();
        r.sourceAlphaPitch = r.destinationAlphaPitch = kW;
    } else {
        r.source2 = f.b.data();
    }
}

void RippleFrame(benchmark::State& state, bool alphaMode) {
    Frames& f = Shared();
    qbRippleRequest r;
    SetPlanes(r, f, alphaMode);
    r.distances = f.distances.data();
    r.sine = f.sine.data();
    r.centreX = kW / 2;
    r.centreY = kH / 2;
    r.extent = kW / 2;
    r.waveLength = 32;
    r.amplitudePerStep = 0.05;
    r.steps = 25;
    InitRippleTables(r);
    const auto workers = WorkersOf(state);
    r.workers = workers.get();
    TimeFrames(state, [&] { RipplePixels32With(IsaOf(state), r, static_cast<int32_t>(state.range(1))); });
}

void SwirlFrame(benchmark::State& state, bool alphaMode) {
    Frames& f = Shared();
    qbSwirlRequest r;
    SetPlanes(r, f, alphaMode);
    r.sine = f.sine.data();
    r.cosine = f.cosine.data();
    InitSwirlTables(r);
    const auto workers = WorkersOf(state);
    r.workers = workers.get();
    TimeFrames(state, [&] { SwirlPixels32With(IsaOf(state), r, static_cast<int32_t>(state.range(1))); });
}

void BM_RippleBlend(benchmark::State& state) { RippleFrame(state, false); }
void BM_RippleAlpha(benchmark::State& state) { RippleFrame(state, true); }
void BM_SwirlBlend(benchmark::State& state) { SwirlFrame(state, false); }
void BM_SwirlAlpha(benchmark::State& state) { SwirlFrame(state, true); }

BENCHMARK(BM_RippleBlend)->ArgsProduct({{0, 1, 2, 3}, {0, 5, 25}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RippleAlpha)->ArgsProduct({{0, 1, 2, 3}, {25}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SwirlBlend)->ArgsProduct({{0, 1, 2, 3}, {90, 360}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SwirlAlpha)->ArgsProduct({{0, 1, 2, 3}, {360}})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
