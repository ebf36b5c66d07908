// The anti-aliased edge of a 400 x 40 run of coverage at e = 1, 4, 8 and 64:
// running sums over rows and columns against the plain (2e + 1)-square
// loop. Both must give the same bytes, checked before timing.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "text/textedge.h"

namespace {

constexpr int32_t kWidth = 400;
constexpr int32_t kHeight = 40;

std::vector<uint8_t> Run() {
    std::mt19937 random(11);
    std::vector<uint8_t> cov(static_cast<size_t>(kWidth) * kHeight);
    // Glyph-like: solid stems with soft sides, gaps between them.
    for (int32_t y = 4; y < kHeight - 6; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            const int32_t phase = x % 12;
            cov[static_cast<size_t>(y) * kWidth + x] =
                static_cast<uint8_t>(phase < 3 ? 255 : phase == 3 ? random() % 256 : 0);
        }
    return cov;
}

void BM_EdgeRunningSums(benchmark::State& state) {
    const auto e = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> cov = Run();
    std::vector<uint8_t> out, naive;
    EdgeCoverageAntialiased(cov.data(), kWidth, kHeight, e, &out);
    EdgeCoverageAntialiasedNaive(cov.data(), kWidth, kHeight, e, &naive);
    if (out != naive) return state.SkipWithError("running sums differ from the square loop");
    for (auto _ : state) {
        EdgeCoverageAntialiased(cov.data(), kWidth, kHeight, e, &out);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_EdgeSquareLoop(benchmark::State& state) {
    const auto e = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> cov = Run();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        EdgeCoverageAntialiasedNaive(cov.data(), kWidth, kHeight, e, &out);
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

BENCHMARK(BM_EdgeRunningSums)->Arg(1)->Arg(4)->Arg(8)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EdgeSquareLoop)->Arg(1)->Arg(4)->Arg(8)->Arg(64)->Unit(benchmark::kMicrosecond);
