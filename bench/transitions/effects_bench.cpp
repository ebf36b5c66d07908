// Transition effects at 1920x1080, unpaced: each effect as a BGPic
// transition and on a brush layer in real-time mode (the whole brush a
// layer of the screen's size), timed frame by frame through the driver's
// frame observer. Counters: the mean and the worst frame in milliseconds.
// Beside them, in the same run, a memcpy of one frame and (with pixman)
// one OVER blend of a frame, the anchors the frame times are read against.
//
// QB_BENCH_WORST=N adds BM_WorstFrame: every effect type, as a BGPic
// transition and (the types that work on objects) as a brush layer, each
// run once unwatched and then N times watched; at exit a Markdown table
// gives each effect's worst frame, the least over the N runs (a shared
// machine lends its cores out now and then; the least worst frame is the
// effect's own). Run it pinned (taskset) to one or two cores:
//     QB_BENCH_WORST=5 taskset -c 2,3 bench_effects --benchmark_filter=BM_WorstFrame

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/scale.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "draw/asyncdraw.h"
#include "transitions/effectdriver.h"
#include "transitions/effectrandom.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"
#include "transitions/puzzle.h"
#include "transitions/transitionconst.h"
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

// The processor time of all the process's threads (effects that share a
// frame's rows among threads).
double ProcessMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct FrameTimes {
    Clock::time_point last;
    double lastCpu = 0, lastProc = 0;
    double total = 0, worst = 0, totalCpu = 0, worstCpu = 0, totalProc = 0, worstProc = 0;
    int64_t frames = 0;
};

// The thread's clock is read first on the way in and last on the way out:
// reading a processor clock is a system call (some 0.25 us), and a frame
// of a strip walk is only a few microseconds.
void OnFrame(const qbEffectState&, int done, void* data) {
    const double cpu = ThreadMs();
    auto* t = static_cast<FrameTimes*>(data);
    const Clock::time_point now = Clock::now();
    const double proc = ProcessMs();
    if (done >= 0) {
        t->totalProc += proc - t->lastProc;
        t->worstProc = std::max(t->worstProc, proc - t->lastProc);
        const double ms = std::chrono::duration<double, std::milli>(now - t->last).count();
        t->total += ms;
        t->worst = std::max(t->worst, ms);
        t->totalCpu += cpu - t->lastCpu;
        t->worstCpu = std::max(t->worstCpu, cpu - t->lastCpu);
        ++t->frames;
        static const bool listFrames = getenv("QB_BENCH_FRAMES") != nullptr;
        if (listFrames) fprintf(stderr, "frame %lld %.3f cpu %.3f\n", (long long)t->frames, ms, cpu - t->lastCpu);
    }
    t->lastProc = ProcessMs();
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
    state.counters["proc_mean_ms"] = t.frames ? t.totalProc / static_cast<double>(t.frames) : 0;
    state.counters["proc_worst_ms"] = t.worstProc;
    state.counters["frames"] = static_cast<double>(t.frames) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["run_ms"] = t.total / static_cast<double>(std::max<int64_t>(1, state.iterations()));
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

// The families that uncover the new picture in place: curtains to lines,
// rectangles, puzzle and diagonal, rectangles back.
void UncoverTypes(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type = 24; type <= 96; ++type)
            if (type <= 46 || type == 82 || type == 83 || type >= 88) b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

// The puzzle's start with its smallest tiles: the order of 83,545 tiles.
void BM_PuzzleSetup(benchmark::State& state) {
    for (auto _ : state) {
        qbEffectState s;
        s.type = 82;
        s.speed = 5;
        s.width = kW;
        s.height = kH;
        RenderPuzzle(&s, nullptr);
        FreePuzzleData(&s, 1);
    }
}
// The families that move or scale whole pictures: scroll, flow, gates,
// push, zoom and turn down (on a brush layer only those that show objects).
void MovingTypes(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type : {47, 51, 70, 71, 72, 73, 74, 75, 76, 77, 78, 80, 118, 119, 128, 130}) b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}
void MovingLayerTypes(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type : {47, 51, 70, 71, 72, 73}) b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

// The strip walks, slides, cards, squashes, strange pushes and stretches.
void WalkTypes(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type : {55, 56, 59, 61, 65, 84, 85, 86, 99, 101, 103, 105, 106, 107, 108, 110, 111, 120, 122, 124, 126})
            b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}
void WalkLayerTypes(benchmark::internal::Benchmark* b) {
    for (int64_t warm : {0, 1})
        for (int64_t type : {55, 61, 84, 99, 105, 106, 108, 110}) b->Args({type, warm});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

// The rectangles that one zoom (118, 119) or turn down (128, 130) at the
// normal speed scales, frame by frame, with the unscaled last frame as a
// plain copy: scale(sx, sy, sw, sh, dx, dy, dw, dh) per rectangle, frame()
// after each frame.
template <typename ScaleFn, typename FrameFn>
void MovingScaleRects(int32_t type, ScaleFn scale, FrameFn frame) {
    if (type == 118 || type == 119) {
        const int32_t M = std::max(kW, kH), step = std::max(M / 60, 1);
        for (int32_t t = step;; t += step, frame()) {
            if (t >= 2 * M) {
                scale(0, 0, kW, kH, 0, 0, kW, kH);
                frame();
                break;
            }
            const int32_t d = std::abs(t - M);
            const int32_t w = std::max(d, 1), h = static_cast<int32_t>(double(kH) / kW * w + 1.0);
            const int32_t x = (kW - w) / 2, y = (kH - h) / 2;
            if (type == 118) scale(0, 0, kW, kH, x, y, w, h);
            else scale(x, y, w, h, 0, 0, kW, kH);
        }
        return;
    }
    const int32_t D = type == 128 ? kH : kW, half = D / 2, step = std::max(D / 60, 1);
    const auto band = [&](int32_t from, int32_t lines, int32_t at, int32_t length) {
        if (type == 128) scale(0, from, kW, lines, 0, at, kW, length);
        else scale(from, 0, lines, kH, at, 0, length, kH);
    };
    for (int32_t t = step;; t += step, frame()) {
        if (t >= D) {
            band(0, D, 0, D);
            frame();
            break;
        }
        if (t <= half) {
            const int32_t reached = half < t + step ? half : t;
            band(0, half, 0, reached);
            band(0, half, reached, half - reached);
        } else {
            band(half, D - half, half, std::min(t - half, D - half));
        }
    }
}

// The same for a crush (120), a flip coin (124), a stretch (55) and a
// directional zoom (61): the whole picture scaled to (x, y, w, h).
template <typename ScaleFn, typename FrameFn>
void WalkScaleRects(int32_t type, ScaleFn scale, FrameFn frame) {
    const bool stretch = type == 55 || type == 61;
    const int32_t size = type == 124 ? kH : kW, step = std::max(size / (stretch ? 30 : 60), 1);
    const int32_t end = type == 124 ? 2 * size : size;
    for (int32_t t = step;; t += step) {
        const int32_t n = std::min(t, end);
        frame();
        if (type == 120) {
            scale(0, 0, n, kH);
            scale(n, 0, kW - n, kH);
        } else if (type == 124) {
            const int32_t e = std::max(std::abs(n - size), 1);
            scale(0, (kH - e) / 2, kW, e);
        } else if (type == 55) {
            scale(0, 0, n, kH);
        } else {
            const int32_t h = std::max(n * kH / kW, 1);
            scale((kW - n) / 2, (kH - h) / 2, n, h);
        }
        if (t >= end) break;
    }
}

// Our nearest scale of the same rectangles into one frame buffer, as pixman
// does below: the kernel alone, without a picture per frame or the window.
void ScaleRectInto(std::vector<uint32_t>& to, const std::vector<uint32_t>& from, int32_t sx, int32_t sy, int32_t sw,
                   int32_t sh, int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
    if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
    ScaleRequest q;
    q.srcPixels = from.data() + size_t{static_cast<uint32_t>(sy)} * kW + sx;
    q.srcWidth = sw;
    q.srcHeight = sh;
    q.srcRowLength = kW;
    q.dstPixels = to.data() + size_t{static_cast<uint32_t>(dy)} * kW + dx;
    q.dstWidth = dw;
    q.dstHeight = dh;
    q.dstRowLength = kW;
    ScalePixelBuffer(q);
}

void BM_KernelScaleFrames(benchmark::State& state) {
    const auto type = static_cast<int32_t>(state.range(0));
    std::vector<uint32_t> from(size_t{kW} * kH, 0xFF0000u), to(size_t{kW} * kH, 0x0000FFu);
    int64_t frames = 0;
    for (auto _ : state) {
        const auto frame = [&] { ++frames; };
        if (type == 120 || type == 124 || type == 55 || type == 61)
            WalkScaleRects(
                type, [&](int32_t x, int32_t y, int32_t w, int32_t h) { ScaleRectInto(to, from, 0, 0, kW, kH, x, y, w, h); },
                frame);
        else
            MovingScaleRects(
                type,
                [&](int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
                    ScaleRectInto(to, from, sx, sy, sw, sh, dx, dy, dw, dh);
                },
                frame);
        benchmark::ClobberMemory();
    }
    state.counters["mean_ms"] = benchmark::Counter(static_cast<double>(frames) / 1000.0,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_KernelScaleFrames)->Arg(118)->Arg(119)->Arg(128)->Arg(130)->Arg(120)->Arg(124)->Arg(55)->Arg(61)
    ->Unit(benchmark::kMillisecond);

#ifdef QB_BENCH_HAVE_PIXMAN
// pixman's nearest-pixel scale of those rectangles: the anchor of the zoom,
// turn-down, crush, flip-coin and stretch rows (mean_ms per frame).
void BM_PixmanScaleFrames(benchmark::State& state) {
    const auto type = static_cast<int32_t>(state.range(0));
    std::vector<uint32_t> from(size_t{kW} * kH, 0xFF0000u), to(size_t{kW} * kH, 0x0000FFu);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, from.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, to.data(), kW * 4);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    const auto scale = [&](int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx, int32_t dy, int32_t dw,
                           int32_t dh) {
        if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
        pixman_transform_t m;
        pixman_transform_init_scale(&m, pixman_double_to_fixed(double(sw) / dw), pixman_double_to_fixed(double(sh) / dh));
        pixman_image_set_transform(src, &m);
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, int32_t(int64_t{sx} * dw / sw),
                                 int32_t(int64_t{sy} * dh / sh), 0, 0, dx, dy, dw, dh);
    };
    int64_t frames = 0;
    for (auto _ : state) {
        const auto frame = [&] { ++frames; };
        if (type == 120 || type == 124 || type == 55 || type == 61)
            WalkScaleRects(
                type, [&](int32_t x, int32_t y, int32_t w, int32_t h) { scale(0, 0, kW, kH, x, y, w, h); }, frame);
        else
            MovingScaleRects(type, scale, frame);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    state.counters["mean_ms"] = benchmark::Counter(static_cast<double>(frames) / 1000.0,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PixmanScaleFrames)->Arg(118)->Arg(119)->Arg(128)->Arg(130)->Unit(benchmark::kMillisecond);
// The walk families' anchor under its earlier name.
BENCHMARK(BM_PixmanScaleFrames)->Name("BM_PixmanWalkScaleFrames")->Arg(120)->Arg(124)->Arg(55)->Arg(61)
    ->Unit(benchmark::kMillisecond);
#endif

// The colour, mask and pixel families, warmed up (PIXELZOOM2 runs only as a
// BGPic transition).
void ColourMaskTypes(benchmark::internal::Benchmark* b) {
    for (int64_t type : {97, 98, 114, 115, 116, 117, 132, 133, 134, 137, 138, 139}) b->Args({type, 1});
    b->Unit(benchmark::kMillisecond)->Iterations(2);
}

// The least worst frame over the watched runs of one effect and way: wall,
// the calling thread's processor time and that of all threads.
struct WorstOf {
    double wall = 0, cpu = 0, proc = 0;
    int64_t frames = 0;
};

// Gathers BM_WorstFrame's results and prints them as one table at exit.
struct WorstTable {
    std::map<int32_t, WorstOf> ways[2];
    int runs = 0;
    ~WorstTable() {
        if (ways[0].empty() && ways[1].empty()) return;
        printf("\nWorst frame of every effect, ms, least over %d runs: wall / thread CPU (all threads' CPU)\n\n", runs);
        printf("| effect | frames | BGPic worst | layer worst |\n|---|---|---|---|\n");
        for (int32_t type = 0; type < kRandomEffect; ++type) {
            const auto b = ways[0].find(type), l = ways[1].find(type);
            if (b == ways[0].end() && l == ways[1].end()) continue;
            const char* name = "?";
            for (const ScriptConstant* c = kTransitionConstants; c->name; ++c)
                if (!c->str && c->num == type) {
                    name = c->name;
                    break;
                }
            const auto cell = [](const std::map<int32_t, WorstOf>& m, std::map<int32_t, WorstOf>::const_iterator it) {
                char text[64] = "-";
                if (it != m.end()) {
                    const WorstOf& w = it->second;
                    if (w.proc > w.cpu + 0.5) snprintf(text, sizeof text, "%.2f / %.2f (%.2f)", w.wall, w.cpu, w.proc);
                    else snprintf(text, sizeof text, "%.2f / %.2f", w.wall, w.cpu);
                }
                return std::string(text);
            };
            const int64_t frames = b != ways[0].end() ? b->second.frames : l->second.frames;
            printf("| %s (%d) | %lld | %s | %s |\n", name, type, static_cast<long long>(frames),
                   cell(ways[0], b).c_str(), cell(ways[1], l).c_str());
        }
        fflush(stdout);
    }
};
WorstTable worstTable;

// range 0: the type; range 1: 0 a BGPic transition, 1 a brush layer.
void BM_WorstFrame(benchmark::State& state) {
    World world;
    const bool layer = state.range(1) != 0;
    if (layer) world.display->layersEnabled = 1;
    int which = 0;
    const auto run = [&] {
        qbEffectState s;
        s.script = world.L;
        s.type = static_cast<int32_t>(state.range(0));
        if (layer) {
            s.objectType = kEffectBrush;
            s.id = ObjectID{1, nullptr};
            s.forceRealtime = 1;
        } else {
            s.objectType = kEffectBGPic;
            s.id = world.bgpics[which ^= 1];
        }
        RunTransitionFX(s);
        if (layer) FreeBGPicLayers(world.L, world.display->bgpic, true);
    };
    run();
    WorstOf least;
    bool first = true;
    for (auto _ : state) {
        for (int i = 0; i < worstTable.runs; ++i) {
            FrameTimes t;
            SetEffectFrameObserver(OnFrame, &t);
            run();
            SetEffectFrameObserver(nullptr, nullptr);
            least.wall = first ? t.worst : std::min(least.wall, t.worst);
            least.cpu = first ? t.worstCpu : std::min(least.cpu, t.worstCpu);
            least.proc = first ? t.worstProc : std::min(least.proc, t.worstProc);
            least.frames = t.frames;
            first = false;
        }
    }
    state.counters["worst_ms"] = least.wall;
    state.counters["cpu_worst_ms"] = least.cpu;
    state.counters["proc_worst_ms"] = least.proc;
    state.counters["frames"] = static_cast<double>(least.frames);
    worstTable.ways[layer ? 1 : 0][static_cast<int32_t>(state.range(0))] = least;
}

// Registered only when asked for: every type both ways is some minutes.
const bool worstRegistered = [] {
    const char* runs = getenv("QB_BENCH_WORST");
    if (!runs) return false;
    worstTable.runs = std::max(1, atoi(runs));
    for (int64_t layer : {0, 1})
        for (int32_t type = 0; type < kRandomEffect; ++type) {
            if (type == kUnnamedEffect || (layer && !EffectWorksOnObjects(type))) continue;
            benchmark::RegisterBenchmark("BM_WorstFrame", BM_WorstFrame)
                ->Args({type, layer})
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    return true;
}();

BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BGPicTransition)->Apply(ColourMaskTypes);
BENCHMARK(BM_RealtimeLayer)->Apply(ColourMaskTypes);
BENCHMARK(BM_BGPicTransition)->Apply(Types);
BENCHMARK(BM_RealtimeLayer)->Apply(Types);
BENCHMARK(BM_BGPicTransition)->Apply(UncoverTypes);
BENCHMARK(BM_RealtimeLayer)->Apply(UncoverTypes);
BENCHMARK(BM_PuzzleSetup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BGPicTransition)->Apply(MovingTypes);
BENCHMARK(BM_RealtimeLayer)->Apply(MovingLayerTypes);
BENCHMARK(BM_BGPicTransition)->Apply(WalkTypes);
BENCHMARK(BM_RealtimeLayer)->Apply(WalkLayerTypes);
BENCHMARK(BM_AsyncLayer)->ArgsProduct({{0, 14, 19}, {2, 0, 1}})->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
