// The flood fill of a 4096 x 4096 brush against std::fill of the same
// pixels: an open area (every pixel filled), and a maze of nested walls
// with one-pixel corridors (about half the pixels filled, through some two
// thousand turns). Each run starts from a fresh copy of the picture, made
// outside the timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/floodfill.h"

namespace {

constexpr int32_t kSide = 4096;
constexpr uint32_t kWall = 0xFF0000, kFill = 0x00FF00;

std::vector<uint32_t> Maze() {
    std::vector<uint32_t> px(static_cast<size_t>(kSide) * kSide, 0);
    auto at = [&](int32_t x, int32_t y) -> uint32_t& { return px[static_cast<size_t>(y) * kSide + x]; };
    int ring = 0;
    for (int32_t d = 1; d < kSide - 1 - d; d += 2, ++ring) {
        for (int32_t i = d; i <= kSide - 1 - d; ++i)
            at(i, d) = at(i, kSide - 1 - d) = at(d, i) = at(kSide - 1 - d, i) = kWall;
        at(ring % 2 == 0 ? d : kSide - 1 - d, kSide / 2) = 0;
    }
    return px;
}

void Fill(benchmark::State& state, const std::vector<uint32_t>& picture, int64_t scanBudget = -1) {
    std::vector<uint32_t> px(picture.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(picture.begin(), picture.end(), px.begin());
        state.ResumeTiming();
        FloodFill32With(BestKernelIsa(), scanBudget, {px.data(), kSide, 0, 0}, kSide, kSide, 0, 0, kWall, kFill,
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
