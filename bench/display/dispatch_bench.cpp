// Dispatch throughput: 100,000 key events queued at once, then CheckEvents
// hands each to a handler through the VM, one dispatcher step per event.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/eventqueue.h"
#include "display/bgpics.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "vm/vm.h"

namespace {

constexpr int kEvents = 100000;
int64_t delivered = 0;

int Handler(ScriptState*) {
    ++delivered;
    return 0;
}

void Call(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmGetTableAt(L, kGlobalsIndex);
    VmPCall(L, 0, 0, 0);
}

void BM_DispatchKeys(benchmark::State& state) {
    InitEventQueue();
    ScriptState* L = VmOpen();
    VmPushValue(L, kGlobalsIndex);
    InitDisplayLibrary(L);
    InitEventLibrary(L);
    VmSetTop(L, 0);
    qbDisplayOptions options;
    options.flags = kDisplayActivate;
    qbDisplay* d = nullptr;
    CreateDisplay(nullptr, NewObjectID{1, 0}, &options, &d);
    StartDisplays(nullptr);
    VmPushString(L, "installeventhandler");
    VmGetTableAt(L, kGlobalsIndex);
    VmPushNewTable(L);
    VmPushString(L, "onkeydown");
    VmPushCClosure(L, Handler, 0);
    VmRawSet(L, -3);
    VmPCall(L, 1, 0, 0);
    delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kEvents; ++i) PostEvent(d, kEventKey, 1, 0, 'a' + i % 26, nullptr);
        state.ResumeTiming();
        Call(L, "checkevents");
    }
    if (delivered != kEvents * static_cast<int64_t>(state.iterations())) state.SkipWithError("events lost");
    state.SetItemsProcessed(delivered);
    FreeEventSystem(L);
    FreeAllDisplays(L);
    FreeAllBGPics(L);
    ClearEventQueue(L);
    VmClose(L);
}
BENCHMARK(BM_DispatchKeys)->Unit(benchmark::kMillisecond);

}  // namespace
