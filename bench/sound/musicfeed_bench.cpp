// What the music feeders cost: 32 WAVE musics (1 s, 48 kHz 16-bit stereo,
// looping) played through the sound library on the in-memory pull device,
// pulled in real time in 10 ms blocks on this thread. The figure is the CPU
// time of every other thread of the process (the 32 feeders) per second of
// audio, as a share of one core.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/runstate.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "sound/sound.h"
#include "sound/soundlib.h"
#include "vm/vm.h"

namespace {

constexpr int kMusics = 32;
constexpr int kRate = 48000;

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string WriteWave() {
    std::vector<int16_t> pcm(2 * kRate);
    for (int i = 0; i < kRate; ++i) {
        pcm[2 * static_cast<size_t>(i)] = pcm[2 * static_cast<size_t>(i) + 1] =
            static_cast<int16_t>(std::lround(1000 * std::sin(2 * M_PI * 440.0 * i / kRate)));
    }
    const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
    auto le = [](std::ofstream& f, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) f.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const std::string path = "/tmp/qb_bench_musicfeed.wav";
    std::ofstream f(path, std::ios::binary);
    f.write("RIFF", 4);
    le(f, 36 + data, 4);
    f.write("WAVEfmt ", 8);
    le(f, 16, 4);
    le(f, 1, 2);
    le(f, 2, 2);
    le(f, kRate, 4);
    le(f, kRate * 4, 4);
    le(f, 4, 2);
    le(f, 16, 2);
    f.write("data", 4);
    le(f, data, 4);
    f.write(reinterpret_cast<const char*>(pcm.data()), data);
    return path;
}

int Call(ScriptState* L, const char* name, int nargs) {
    VmPushString(L, name);
    VmGetTableAt(L, kGlobalsIndex);
    VmInsert(L, -(nargs + 1));
    return VmPCall(L, nargs, 0, 0);
}

void BM_MusicFeeders(benchmark::State& state) {
    SetPlatformBackend(nullptr);
    null_backend::SetAudioPullRate(kRate);
    ResetRuntimeSettings();
    InstallVmHost();
    ScriptState* L = VmOpen();
    SetMainState(L);
    VmPushValue(L, kGlobalsIndex);
    InitSoundLibrary(L);
    VmSetTop(L, 0);
    SetRuntimeTag(kTagAudioChannels, kMusics);
    const std::string path = WriteWave();
    for (int id = 1; id <= kMusics; ++id) {
        VmPushNumber(L, id);
        VmPushString(L, path.c_str());
        if (Call(L, "openmusic", 2) != 0) state.SkipWithError("OpenMusic failed");
        VmPushNumber(L, id);
        VmPushNumber(L, 0);
        if (Call(L, "playmusic", 2) != 0) state.SkipWithError("PlayMusic failed");
    }
    double share = 0;
    for (auto _ : state) {
        const double process0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        const double self0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        for (int block = 0; block < 300; ++block) {
            benchmark::DoNotOptimize(null_backend::PullAudio(kRate / 100));
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * (block + 1)));
        }
        const double others = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - process0) - (Seconds(CLOCK_THREAD_CPUTIME_ID) - self0);
        share = others / 3.0;
    }
    state.counters["feeders_core_pct"] = share * 100;
    FreeSoundObjects(L);
    ShutdownAudioCore();
    SetMainState(nullptr);
    VmClose(L);
}

BENCHMARK(BM_MusicFeeders)->Iterations(1)->Repetitions(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
