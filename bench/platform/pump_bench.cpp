// The event pump's cost per call when nothing is pending: the line hook
// calls it on every script line. Against one clock_gettime(CLOCK_MONOTONIC),
// the least any pump that keeps time must spend. Runs under SDL's dummy
// video driver, with and without an open window; every 10 ms the pump looks
// at SDL for real, and that share is part of the figure.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>

#include "core/eventqueue.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"

namespace {

int displayRecord;
qbDisplay* const kDisplay = reinterpret_cast<qbDisplay*>(&displayRecord);

// A started Linux backend, optionally with one open window.
struct PumpSession {
    explicit PumpSession(bool window) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        SetPlatformBackend(&LinuxPlatformOps());
        InitEventQueue();
        ok = StartNativeUI() == 0;
        if (ok && window) ok = AllocNativeWindowRec(nullptr, kDisplay) == 0;
        if (ok && window) ok = CreateNativeWindow(kDisplay, 1, nullptr, nullptr) == 0;
        int error = 0;
        while (ok && SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) PumpNativeEvents(nullptr, &error);
        ClearEventQueue(nullptr);
        InitEventQueue();
    }
    ~PumpSession() {
        ShutdownPlatform();
        ClearEventQueue(nullptr);
        SetPlatformBackend(nullptr);
    }
    bool ok = false;
};

void BM_ClockGettime(benchmark::State& state) {
    for (auto _ : state) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(BM_ClockGettime);

void BM_PumpNothingPending(benchmark::State& state) {
    PumpSession session(state.range(0) != 0);
    if (!session.ok) {
        state.SkipWithError("no SDL video");
        return;
    }
    int error = 0;
    for (auto _ : state) benchmark::DoNotOptimize(PumpNativeEvents(nullptr, &error));
}
BENCHMARK(BM_PumpNothingPending)->Arg(0)->Arg(1)->ArgName("window");

}  // namespace
