// The cost of the line hook that the player keeps installed while a script
// runs: fib and loop (the programs of bench/vm/programs) with an empty native
// line hook against no hook at all.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/assembler.h"
#include "vm/vm.h"

namespace {

std::vector<uint8_t> Program(const char* name) {
    std::ifstream in(std::string(QB_SOURCE_DIR) + "/bench/vm/programs/" + name + ".qbs");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> chunk;
    std::string error;
    if (!AssembleText(text, chunk, error)) chunk.clear();
    return chunk;
}

void EmptyHook(ScriptState*, VmDebugRecord*, int*) {}

int Quiet(ScriptState*) { return 0; }

void Run(benchmark::State& state, const char* name, bool hook) {
    std::vector<uint8_t> chunk = Program(name);
    if (chunk.empty()) {
        state.SkipWithError("cannot assemble the program");
        return;
    }
    for (auto _ : state) {
        ScriptState* L = VmOpen();
        VmPushString(L, "debugprint");
        VmPushCClosure(L, Quiet, 0);
        VmSetTableAt(L, kGlobalsIndex);
        if (hook) VmSetHook(L, EmptyHook, kMaskLine, 0);
        VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), name);
        benchmark::DoNotOptimize(VmPCall(L, 0, 0, 0));
        VmClose(L);
    }
}

void BM_FibNoHook(benchmark::State& s) { Run(s, "fib", false); }
void BM_FibLineHook(benchmark::State& s) { Run(s, "fib", true); }
void BM_LoopNoHook(benchmark::State& s) { Run(s, "loop", false); }
void BM_LoopLineHook(benchmark::State& s) { Run(s, "loop", true); }

BENCHMARK(BM_FibNoHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FibLineHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoopNoHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoopLineHook)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
