// The flood fill of a 4096 x 4096 brush against std::fill of the same
// pixels: an open area (every pixel filled), and a maze of nested walls
// with one-pixel corridors (about half the pixels filled, through some two
// thousand turns); and a 256 x 256 maze walled in at the foot of the open
// picture, which the fill must not pay for by the picture's size. Each run
// starts from a fresh copy of the picture, made outside the timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/floodfill.h"

namespace {

constexpr int32_t kSide = 4096;
constexpr uint32_t kWall = 0xFF0000, kFill = 0x00FF00;

// Nested square walls in the n x n square at (x0, y0).
void DrawMaze(std::vector<uint32_t>& px, int32_t x0, int32_t y0, int32_t n) {
    auto at = [&](int32_t x, int32_t y) -> uint32_t& { return px[static_cast<size_t>(y0 + y) * kSide + x0 + x]; };
    int ring = 0;
    for (int32_t d = 1; d < n - 1 - d; d += 2, ++ring) {
        for (int32_t i = d; i <= n - 1 - d; ++i) at(i, d) = at(i, n - 1 - d) = at(d, i) = at(n - 1 - d, i) = kWall;
        at(ring % 2 == 0 ? d : n - 1 - d, n / 2) = 0;
    }
}

std::vector<uint32_t> Maze() {
    std::vector<uint32_t> px(static_cast<size_t>(kSide) * kSide, 0);
    DrawMaze(px, 0, 0, kSide);
    return px;
}

constexpr int32_t kSmall = 256, kSmallAt = kSide - kSmall - 1;

std::vector<uint32_t> SmallMazeLow() {
    std::vector<uint32_t> px(static_cast<size_t>(kSide) * kSide, 0);
    for (int32_t i = kSmallAt - 1; i <= kSmallAt + kSmall; ++i)
        px[static_cast<size_t>(kSmallAt - 1) * kSide + i] = px[static_cast<size_t>(kSmallAt + kSmall) * kSide + i] =
            px[static_cast<size_t>(i) * kSide + kSmallAt - 1] = px[static_cast<size_t>(i) * kSide + kSmallAt + kSmall] =
                kWall;
    DrawMaze(px, kSmallAt, kSmallAt, kSmall);
    return px;
}

void Fill(benchmark::State& state, const std::vector<uint32_t>& picture, int64_t scanBudget = -1, int32_t seed = 0) {
    std::vector<uint32_t> px(picture.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(picture.begin(), picture.end(), px.begin());
        state.ResumeTiming();
        FloodFill32With(KernelIsa::Avx512, scanBudget, {px.data(), kSide, 0, 0}, kSide, kSide, seed, seed, kWall, kFill,
                        0x00FFFFFFu);
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(px.size()));
}

void BM_FloodFillOpen(benchmark::State& state) {
    Fill(state, std::vector<uint32_t>(static_cast<size_t>(kSide) * kSide, 0));
}
void BM_FloodFillMaze(benchmark::State& state) { Fill(state, Maze()); }
// Each walk on its own: the scan-line walk never turning, the row-order
// pass from the seed's row on.
void BM_FloodFillMazeScanOnly(benchmark::State& state) { Fill(state, Maze(), INT64_MAX); }
void BM_FloodFillMazeRowsOnly(benchmark::State& state) { Fill(state, Maze(), 0); }
void BM_FloodFillSmallMazeLow(benchmark::State& state) { Fill(state, SmallMazeLow(), -1, kSmallAt); }
void BM_FloodFillSmallMazeLowScanOnly(benchmark::State& state) { Fill(state, SmallMazeLow(), INT64_MAX, kSmallAt); }
void BM_FloodFillOpenRowsOnly(benchmark::State& state) {
    Fill(state, std::vector<uint32_t>(static_cast<size_t>(kSide) * kSide, 0), 0);
}

void BM_StdFill(benchmark::State& state) {
    std::vector<uint32_t> px(static_cast<size_t>(kSide) * kSide, 0);
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(px.begin(), px.end(), 0u);
        state.ResumeTiming();
        std::fill(px.begin(), px.end(), kFill);
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(px.size()));
}

}  // namespace

BENCHMARK(BM_StdFill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillMaze)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillMazeScanOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillMazeRowsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillOpenRowsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillSmallMazeLow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillSmallMazeLowScanOnly)->Unit(benchmark::kMillisecond);
