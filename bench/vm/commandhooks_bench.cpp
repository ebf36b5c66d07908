// The cost of command hooks on native calls that no hook takes: 10^7 calls
// of one native command from a script loop with no hook installed, and with
// one hook installed on another command. Built twice: bench_commandhooks over
// the VM as shipped, and bench_commandhooks_nocheck over a copy of the VM
// built without the check (the baseline); run them one after the other.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "lib/assembler.h"
#include "vm/commandhooks.h"
#include "vm/vm.h"

namespace {

constexpr const char* kProgram = R"(
.function main maxstack=8
    LOADK     0 #0
    LOADK     1 #1e7
    LOADK     2 #1
    JMP       next
body:
    GETGLOBAL 4 "probe"
    CALL      4 1 1
next:
    FORLOOP   0 body
    RETURN    0 1
.end
)";

int Probe(ScriptState*) { return 0; }
int Other(ScriptState*) { return 0; }
int Run(qbCommandHook*, ScriptState*, CommandHandler, void*) { return 0; }

void Calls(benchmark::State& state, bool hookOnOther) {
    std::vector<uint8_t> chunk;
    std::string error;
    if (!AssembleText(kProgram, chunk, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    qbCommandHook* hook = nullptr;
    if (hookOnOther) {
        qbCommandHook record;
        record.run = Run;
        hook = AddCommandHook(record);
        AddCommandToHook(hook, Other);
    }
    ScriptState* L = VmOpen();
    VmPushString(L, "probe");
    VmPushCClosure(L, Probe, 0);
    VmSetTableAt(L, kGlobalsIndex);
    for (auto _ : state) {
        VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "calls");
        benchmark::DoNotOptimize(VmPCall(L, 0, 0, 0));
    }
    VmClose(L);
    if (hook) RemoveCommandHook(hook);
}

void BM_NoHook(benchmark::State& s) { Calls(s, false); }
void BM_HookOnOtherCommand(benchmark::State& s) { Calls(s, true); }

}  // namespace

BENCHMARK(BM_NoHook)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_HookOnOtherCommand)->Unit(benchmark::kMillisecond)->Iterations(5);
