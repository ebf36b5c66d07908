// PostEvent as the queue grows: posting must cost the same whether the queue
// is nearly empty or holds a million unread events, with or without resize
// events among them (each of which supersedes the previous one).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/eventqueue.h"

namespace {

constexpr int64_t kBatch = 1000;

// Every eighth event a resize, else a key.
void Post(int64_t i, bool resizes) {
    const bool resize = resizes && i % 8 == 0;
    benchmark::DoNotOptimize(
        PostEvent(nullptr, resize ? kEventResized : kEventKey, 1, 0, static_cast<int32_t>(i), nullptr));
}

void Fill(int64_t count, bool resizes) {
    for (int64_t i = 0; i < count; ++i) Post(i, resizes);
}

void PerPost(benchmark::State& state, int64_t posts) {
    state.counters["per_post"] =
        benchmark::Counter(static_cast<double>(posts), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Posts N events into an empty queue: the mean over a queue growing from 0 to N.
void BM_PostMany(benchmark::State& state, bool resizes) {
    InitEventQueue();
    const int64_t n = state.range(0);
    for (auto _ : state) {
        Fill(n, resizes);
        state.PauseTiming();
        FlushEvents(nullptr, -1, 1);
        state.ResumeTiming();
    }
    PerPost(state, n * static_cast<int64_t>(state.iterations()));
}

// Posts one batch into a queue that already holds N events: the marginal
// cost at that length.
void BM_PostIntoQueueHolding(benchmark::State& state, bool resizes) {
    InitEventQueue();
    const int64_t n = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        Fill(n, resizes);
        state.ResumeTiming();
        for (int64_t i = 0; i < kBatch; ++i) Post(n + i, resizes);
        state.PauseTiming();
        FlushEvents(nullptr, -1, 1);
        state.ResumeTiming();
    }
    PerPost(state, kBatch * static_cast<int64_t>(state.iterations()));
}

BENCHMARK_CAPTURE(BM_PostMany, keys, false)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PostMany, with_resizes, true)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PostIntoQueueHolding, keys, false)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(40)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PostIntoQueueHolding, with_resizes, true)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(40)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
