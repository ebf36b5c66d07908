// Flip of a 1920x1080 double buffer (the copy into the shown buffer and the
// present into the window surface), on the in-memory backend and on the
// Linux backend under SDL's dummy video driver, against memcpy of the same
// bytes; a Flip of one 64x64 rectangle against the full one; and
// SelectBrush/EndSelect pairs, which must allocate nothing after the first.
// Counters: frames or pairs per second, allocations per pair.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/doublebuffer.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/selection.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "platform/platform_ops.h"

namespace {

std::atomic<long> allocations{0};

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// A 1920x1080 display on the in-memory backend, or (sdl) in a window of the
// Linux backend under SDL's dummy video driver, as the player shows it there.
struct World {
    explicit World(bool sdl = false) : sdl(sdl) {
        if (sdl) {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            SetPlatformBackend(&LinuxPlatformOps());
            StartNativeUI();
        } else {
            SetPlatformBackend(&NullPlatformOps());
        }
        SetRuntimeTag(kTagQuiet, 1);
        qbDisplayOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        if (!sdl) null_backend::SetWindowSize(display, kWidth, kHeight);
        StartDisplays(nullptr);
    }
    ~World() {
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
        FreeAllBrushes(nullptr);
        if (sdl) ShutdownPlatform();
    }
    bool sdl;
    qbDisplay* display = nullptr;
};

void FlipFullHD(benchmark::State& state, bool sdl) {
    World world(sdl);
    qbDisplay* d = world.display;
    if (!d) {
        state.SkipWithError("no display");
        return;
    }
    if (BeginDoubleBufferCore(nullptr, d, false, false)) {
        state.SkipWithError("BeginDoubleBuffer failed");
        return;
    }
    FillBitmapRect(d->drawBuffer.get(), 0, 0, kWidth, kHeight, 0x203040);
    for (auto _ : state) {
        d->dirtyRects.MarkFull();
        FlipDoubleBuffer(nullptr, d, false);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    EndDoubleBufferCore(nullptr, d);
}

void BM_FlipFullHD(benchmark::State& state) { FlipFullHD(state, false); }
void BM_FlipFullHDSDLDummy(benchmark::State& state) { FlipFullHD(state, true); }

void BM_FlipOneRect(benchmark::State& state) {
    World world;
    qbDisplay* d = world.display;
    if (BeginDoubleBufferCore(nullptr, d, false, false)) {
        state.SkipWithError("BeginDoubleBuffer failed");
        return;
    }
    FlipDoubleBuffer(nullptr, d, false);
    int32_t spot = 0;
    for (auto _ : state) {
        AppendDirtyRect(&d->dirtyRects, (spot * 97) % (kWidth - 64), (spot * 53) % (kHeight - 64), 64, 64, false);
        spot = (spot + 1) % 16;
        FlipDoubleBuffer(nullptr, d, false);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    EndDoubleBufferCore(nullptr, d);
}

void BM_MemcpyFullHD(benchmark::State& state) {
    const size_t bytes = size_t{kWidth} * kHeight * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SelectBrushEndSelect(benchmark::State& state) {
    World world;
    qbBrush* brush = nullptr;
    if (AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, 64, 64, 64, 0, nullptr, AllocBitmap(64, 64, 0, nullptr), -1,
                         nullptr, nullptr, ObjectID{}, &brush)) {
        state.SkipWithError("no brush");
        return;
    }
    const ObjectID id{1, nullptr};
    // The first pair makes the display's selection record.
    SelectOutputTarget(nullptr, kObjectTypeBrush, id, 3, 0, 0, 0);
    EndSelectCore(nullptr, world.display, false);
    const long before = allocations.load();
    for (auto _ : state) {
        SelectOutputTarget(nullptr, kObjectTypeBrush, id, 3, 0, 0, 0);
        EndSelectCore(nullptr, world.display, false);
    }
    const long made = allocations.load() - before;
    state.counters["pairs_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocations"] = static_cast<double>(made);
    if (made) state.SkipWithError("SelectBrush/EndSelect allocated");
}

}  // namespace

// Every allocation of the process is counted. All kept out of line: g++
// inlines one but not the other and then reports a mismatched pair.
[[gnu::noinline]] void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

BENCHMARK(BM_FlipFullHD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipFullHDSDLDummy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipOneRect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyFullHD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectBrushEndSelect);
