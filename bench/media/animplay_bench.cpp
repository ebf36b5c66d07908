// Playing an anim on a display of SDL's dummy driver: a 640x480 8-plane
// IFF ANIM played with #FASTSPEED, paced by the vertical-blank wait at
// 60 fps for about 10 s, from memory (PlayAnim) and from disk
// (PlayAnimDisk), with layers off and on. The figure is the process CPU
// time (getrusage) as a share of the wall time; beside it, in the same run,
// as many 640x480 opaque blits from memory as the plays showed frames.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/media/animbuilder.h"
#include "../draw/benchworld.h"
#include "imaging/blit.h"
#include "media/animlib.h"
#include "objects/layers.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 20;
// 30 passes of 20 frames at 60 fps: 10 s.
constexpr int kTimes = 30;
constexpr int kFastSpeed = -2;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bands of all 256 colours with blocks moving over them.
const std::string& AnimPath() {
    static const std::string path = [] {
        const std::string p = "/tmp/qb-animplay-bench-" + std::to_string(getpid()) + ".anim";
        animbuilder::Layout layout;
        layout.width = kWidth;
        layout.height = kHeight;
        layout.planes = 8;
        for (uint32_t i = 0; i < 256; ++i) layout.palette.push_back(i * 0x010203u & 0xFFFFFF);
        animbuilder::Picture pic(static_cast<size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pic[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(x / 20 + y / 8);
        animbuilder::AnimFile builder(layout, pic);
        for (int f = 1; f < kFrames; ++f) {
            for (int b = 0; b < 4; ++b) {
                const int bx = (f * 7 + b * 150) % (kWidth - 64), by = (f * 3 + b * 110) % (kHeight - 48);
                for (int y = by; y < by + 48; ++y)
                    for (int x = bx; x < bx + 64; ++x) pic[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(f + b);
            }
            builder.AddDelta(pic, animbuilder::DeltaOptions{});
        }
        const std::vector<uint8_t> bytes = builder.Build();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
        return p;
    }();
    return path;
}

void AnimLibraries(ScriptState* L) {
    InitAnimLibrary(L);
    InitLayersLibrary(L);
}

BenchWorld::Options WorldOptions() {
    BenchWorld::Options o;
    o.width = kWidth;
    o.height = kHeight;
    o.onSdl = true;
    o.libraries = AnimLibraries;
    return o;
}

// Calls the command on a file name and numbers (nil where NaN).
int CallWithFile(BenchWorld& w, const char* name, const std::string& file, std::initializer_list<double> args) {
    VmSetTop(w.L, 0);
    VmPushString(w.L, name);
    VmGetTableAt(w.L, kGlobalsIndex);
    VmPushString(w.L, file.c_str());
    for (double a : args) {
        if (a != a) VmPushNil(w.L);
        else VmPushNumber(w.L, a);
    }
    return VmPCall(w.L, static_cast<int>(args.size()) + 1, 0, 0);
}

void Play(benchmark::State& state, bool fromDisk, bool layers) {
    BenchWorld w(WorldOptions());
    if (!fromDisk) {
        VmSetTop(w.L, 0);
        VmPushString(w.L, "loadanim");
        VmGetTableAt(w.L, kGlobalsIndex);
        VmPushNumber(w.L, 1);
        VmPushString(w.L, AnimPath().c_str());
        if (VmPCall(w.L, 2, 0, 0) != 0) state.SkipWithError("LoadAnim failed");
    }
    if (layers && w.Call("EnableLayers", {}) != 0) state.SkipWithError("EnableLayers failed");
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double c0 = CpuSeconds(), w0 = WallSeconds();
        const double nan = std::nan("");
        const int err = fromDisk ? CallWithFile(w, "playanimdisk", AnimPath(), {0, 0, nan, kFastSpeed, -1, kTimes})
                                 : w.Call("PlayAnim", {1, 0, 0, kFastSpeed, kTimes});
        if (err) state.SkipWithError("play failed");
        cpu += CpuSeconds() - c0;
        wall += WallSeconds() - w0;
        state.SetIterationTime(WallSeconds() - w0);
    }
    state.counters["cpu_pct"] = 100.0 * cpu / wall;
    state.counters["frames"] = static_cast<double>(kFrames) * kTimes;
    state.counters["fps"] = static_cast<double>(kFrames) * kTimes * static_cast<double>(state.iterations()) / wall;
}

void BM_PlayMemoryLayersOff(benchmark::State& s) { Play(s, false, false); }
void BM_PlayMemoryLayersOn(benchmark::State& s) { Play(s, false, true); }
void BM_PlayDiskLayersOff(benchmark::State& s) { Play(s, true, false); }
void BM_PlayDiskLayersOn(benchmark::State& s) { Play(s, true, true); }
BENCHMARK(BM_PlayMemoryLayersOff)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayMemoryLayersOn)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayDiskLayersOff)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayDiskLayersOn)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor: the frames' number of opaque 640x480 blits from memory into
// the display's picture, back to back; the CPU time they take alone.
void BM_OpaqueBlitsFloor(benchmark::State& state) {
    BenchWorld w(WorldOptions());
    BitmapPtr source(AllocBitmap(kWidth, kHeight, 0, nullptr));
    FillBitmapRect(source.get(), 0, 0, kWidth, kHeight, 0x336699);
    qbBitmap* screen = w.display->spriteFreeBuffer.get();
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = CpuSeconds();
        for (int i = 0; i < kFrames * kTimes; ++i) CopyBitmapRect(source.get(), 0, 0, screen, 0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
        cpu += CpuSeconds() - c0;
    }
    state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
    state.counters["cpu_pct_of_10s"] = 100.0 * cpu / static_cast<double>(state.iterations()) / 10.0;
}
BENCHMARK(BM_OpaqueBlitsFloor)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
