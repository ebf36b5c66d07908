// The cost of the line hook that the player keeps installed while a script
// runs: fib, loop and sieve (the programs of bench/vm/programs) with an empty
// native line hook against no hook at all, and with the hook as the player
// installs its pump (the VM passes on every 64th line event).
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

enum class Hook { kNone, kEveryLine, kPlayer };

void Run(benchmark::State& state, const char* name, Hook hook) {
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
        if (hook != Hook::kNone) VmSetHook(L, EmptyHook, kMaskLine, 0);
        if (hook == Hook::kPlayer) VmSetLineHookPeriod(L, 64);
        VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), name);
        benchmark::DoNotOptimize(VmPCall(L, 0, 0, 0));
        VmClose(L);
    }
}

void BM_FibNoHook(benchmark::State& s) { Run(s, "fib", Hook::kNone); }
void BM_FibLineHook(benchmark::State& s) { Run(s, "fib", Hook::kEveryLine); }
void BM_FibPlayerHook(benchmark::State& s) { Run(s, "fib", Hook::kPlayer); }
void BM_LoopNoHook(benchmark::State& s) { Run(s, "loop", Hook::kNone); }
void BM_LoopLineHook(benchmark::State& s) { Run(s, "loop", Hook::kEveryLine); }
void BM_LoopPlayerHook(benchmark::State& s) { Run(s, "loop", Hook::kPlayer); }
void BM_SieveNoHook(benchmark::State& s) { Run(s, "sieve", Hook::kNone); }
void BM_SieveLineHook(benchmark::State& s) { Run(s, "sieve", Hook::kEveryLine); }
void BM_SievePlayerHook(benchmark::State& s) { Run(s, "sieve", Hook::kPlayer); }

BENCHMARK(BM_FibNoHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FibLineHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FibPlayerHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoopNoHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoopLineHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoopPlayerHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SieveNoHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SieveLineHook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SievePlayerHook)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
