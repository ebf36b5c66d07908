// Transition effects at 1920x1080, unpaced: each effect as a BGPic
// transition and on a brush layer in real-time mode (the whole brush a
// layer of the screen's size), timed frame by frame through the driver's
// frame observer. Counters: the mean and the worst frame in milliseconds.
// Beside them, in the same run, a memcpy of one frame and (with pixman)
// one OVER blend of a frame, the anchors the frame times are read against.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "draw/asyncdraw.h"
#include "transitions/effectdriver.h"
#include "transitions/effectrandom.h"
#include "vm/vm.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int32_t kW = 1920, kH = 1080;
using Clock = std::chrono::steady_clock;

// The thread's own processor time: on a shared machine a frame's wall time
// also holds the time other processes had the core.
double ThreadMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct FrameTimes {
    Clock::time_point last;
    double lastCpu = 0;
    double total = 0, worst = 0, totalCpu = 0, worstCpu = 0;
    int64_t frames = 0;
};

void OnFrame(const qbEffectState&, int done, void* data) {
    auto* t = static_cast<FrameTimes*>(data);
    const Clock::time_point now = Clock::now();
    const double cpu = ThreadMs();
    if (done >= 0) {
        const double ms = std::chrono::duration<double, std::milli>(now - t->last).count();
        t->total += ms;
        t->worst = std::max(t->worst, ms);
        t->totalCpu += cpu - t->lastCpu;
        t->worstCpu = std::max(t->worstCpu, cpu - t->lastCpu);
        ++t->frames;
        if (getenv("QB_BENCH_FRAMES")) fprintf(stderr, "frame %lld %.3f cpu %.3f\n", (long long)t->frames, ms, cpu - t->lastCpu);
    }
    t->last = Clock::now();
    t->lastCpu = ThreadMs();
}

struct World {
    World() {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        qbDisplayOptions o;
        o.width = kW;
        o.height = kH;
        o.flags = kDisplayActivate;
        CreateDisplay(L, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, kW, kH);
        StartDisplays(L);
        SetFramePacingClock([this] { return clock; }, [this](int64_t ms) { clock += ms * 1000; });
        for (int32_t id : {2, 3}) {
            qbBGPicFill fill;
            fill.style = kFillColour;
            fill.colour = id == 2 ? 0xFF0000u : 0x0000FFu;
            fill.valid = 1;
            qbBGPic* made = nullptr;
            MakeFilledBGPic(L, fill, 0, kW, kH, &made);
            bgpics[id - 2] = IDOf(*made);
        }
        BitmapPtr bitmap(AllocBitmap(kW, kH, 0, nullptr));
        FillBitmapRect(bitmap.get(), 0, 0, kW, kH, 0x00FF00);
        qbBrush* b = nullptr;
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, kW, kH, kW, 0, nullptr, bitmap.release(), -1, nullptr,
                         nullptr, ObjectID{}, &b);
    }
    ~World() {
        SetEffectFrameObserver(nullptr, nullptr);
        SetFramePacingClock(nullptr, nullptr);
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        VmClose(L);
    }
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    ObjectID bgpics[2];
    int64_t clock = 1'000'000;
};

void Report(benchmark::State& state, const FrameTimes& t) {
    state.counters["mean_ms"] = t.frames ? t.total / static_cast<double>(t.frames) : 0;
    state.counters["worst_ms"] = t.worst;
    state.counters["cpu_mean_ms"] = t.frames ? t.totalCpu / static_cast<double>(t.frames) : 0;
    state.counters["cpu_worst_ms"] = t.worstCpu;
    state.counters["frames"] = static_cast<double>(t.frames) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

// Range 1 = 1 runs one effect first, unwatched: a display's first effect
// also maps the pages of buffers the display made but never wrote (the
// "first run" columns of the README come from range 1 = 0).
void BM_BGPicTransition(benchmark::State& state) {
    World world;
    FrameTimes t;
    int which = 0;
    const auto run = [&] {
        qbEffectState s;
        s.script = world.L;
        s.objectType = kEffectBGPic;
        s.type = static_cast<int32_t>(state.range(0));
        s.id = world.bgpics[which ^= 1];
        RunTransitionFX(s);
    };
    if (state.range(1)) run();
    SetEffectFrameObserver(OnFrame, &t);
    for (auto _ : state) run();
    Report(state, t);
}

void BM_RealtimeLayer(benchmark::State& state) {
    World world;
    world.display->layersEnabled = 1;
    FrameTimes t;
    const auto run = [&] {
        qbEffectState s;
        s.script = world.L;
        s.objectType = kEffectBrush;
        s.type = static_cast<int32_t>(state.range(0));
        s.id = ObjectID{1, nullptr};
        s.forceRealtime = 1;
        RunTransitionFX(s);
    };
    if (state.range(1)) {
        run();
        FreeBGPicLayers(world.L, world.display->bgpic, true);
    }
    SetEffectFrameObserver(OnFrame, &t);
    for (auto _ : state) {
        run();
        state.PauseTiming();
        FreeBGPicLayers(world.L, world.display->bgpic, true);
        state.ResumeTiming();
    }
    Report(state, t);
}

// The same brush layer effect three ways in one run: synchronous with
// "forcerealtimelayers" (range 1 = 2, the reference), as an async-draw
// object stepped frame by frame (0) and as one jumped to its last frame
// (1), as AsyncDrawFrame does each. Every way runs once unwatched first.
void BM_AsyncLayer(benchmark::State& state) {
    World world;
    world.display->layersEnabled = 1;
    int64_t frames = 0;
    const auto run = [&] {
        qbEffectState s;
        s.script = world.L;
        s.objectType = kEffectBrush;
        s.type = static_cast<int32_t>(state.range(0));
        s.id = ObjectID{1, nullptr};
        if (state.range(1) == 2) {
            s.forceRealtime = 1;
            RunTransitionFX(s);
            return;
        }
        s.async = 1;
        RunTransitionFX(s);
        VmSetTop(world.L, 0);
        auto* r = static_cast<qbAsyncDraw*>(*AsyncDrawListHead());
        if (!r) return;
        if (state.range(1)) {
            int32_t last = QueryAsyncDraw(r, kAsyncQueryFrameCount, nullptr);
            QueryAsyncDraw(r, kAsyncQueryJump, &last);
            QueryAsyncDraw(r, kAsyncQueryRedraw, nullptr);
            ++frames;
        } else {
            while (!r->done) {
                r->callbacks.drawFrame(r->userdata, &r->done);
                ++frames;
            }
        }
        r->callbacks.finish(r->userdata, &r->done);
        RemoveAsyncDraw(world.L, r, 1);
    };
    run();
    FreeBGPicLayers(world.L, world.display->bgpic, true);
    frames = 0;
    for (auto _ : state) {
        run();
        state.PauseTiming();
        FreeBGPicLayers(world.L, world.display->bgpic, true);
        state.ResumeTiming();
    }
    state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<uint32_t> from(size_t{kW} * kH, 1), to(size_t{kW} * kH);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_PixmanOverFrame(benchmark::State& state) {
    std::vector<uint32_t> from(size_t{kW} * kH, 0x80FF0000u), to(size_t{kW} * kH, 0xFF0000FFu);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, from.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, to.data(), kW * 4);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}
BENCHMARK(BM_PixmanOverFrame)->Unit(benchmark::kMillisecond);

// The cross-fade's anchor: an opaque frame over another through a solid
// mask of one level, what each of its frames amounts to.
void BM_PixmanOverSolidMaskFrame(benchmark::State& state) {
    std::vector<uint32_t> from(size_t{kW} * kH, 0xFFFF0000u), to(size_t{kW} * kH, 0xFF0000FFu);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, from.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, to.data(), kW * 4);
    const pixman_color_t level{0, 0, 0, 120 * 257};
    pixman_image_t* mask = pixman_image_create_solid_fill(&level);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, mask, dst, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(mask);
    pixman_image_unref(src);
    pixman_image_unref(dst);
    state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}
BENCHMARK(BM_PixmanOverSolidMaskFrame)->Unit(benchmark::kMillisecond);
#endif

void Types(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type : {0, 3, 6, 7, 10, 13, 14, 18, 19, 23}) b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

// The colour, mask and pixel families, warmed up (PIXELZOOM2 runs only as a
// BGPic transition).
void ColourMaskTypes(benchmark::internal::Benchmark* b) {
    for (int64_t type : {97, 98, 114, 115, 116, 117, 132, 133, 134, 137, 138, 139}) b->Args({type, 1});
    b->Unit(benchmark::kMillisecond)->Iterations(2);
}

BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BGPicTransition)->Apply(ColourMaskTypes);
BENCHMARK(BM_RealtimeLayer)->Apply(ColourMaskTypes);
BENCHMARK(BM_BGPicTransition)->Apply(Types);
BENCHMARK(BM_RealtimeLayer)->Apply(Types);
BENCHMARK(BM_AsyncLayer)->ArgsProduct({{0, 14, 19}, {2, 0, 1}})->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
