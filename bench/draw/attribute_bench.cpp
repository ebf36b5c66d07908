// The guard against a slow attribute table: GetAttribute(#BRUSH, 1,
// #ATTRWIDTH) against GetPen(1), both called as script commands through the
// VM in the same run. Target: GetAttribute at most twice GetPen.

#include <benchmark/benchmark.h>

#include "benchworld.h"

namespace {


void BM_GetAttributeBrushWidth(benchmark::State& state) {
    BenchWorld w;
    for (auto _ : state)
        if (w.Call("GetAttribute", {3, 1, 0}) || VmToNumber(w.L, -1) != 32) {
            state.SkipWithError("GetAttribute failed");
            break;
        }
}

void BM_GetPen(benchmark::State& state) {
    BenchWorld w;
    for (auto _ : state)
        if (w.Call("GetPen", {1})) {
            state.SkipWithError("GetPen failed");
            break;
        }
}

}  // namespace

BENCHMARK(BM_GetAttributeBrushWidth)->Iterations(1000000);
BENCHMARK(BM_GetPen)->Iterations(1000000);
