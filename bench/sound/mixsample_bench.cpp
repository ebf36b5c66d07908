// MixSample of eight sources into 60 s of 44.1 kHz 16-bit stereo, against
// `sox -m` mixing the same eight WAVE files (sox's time includes reading
// and writing its files). The sources are 10 s each, 16-bit stereo at
// 44.1 kHz, looping so that every output frame takes all eight.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tests/command_call.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "platform/platform.h"
#include "sound/samples.h"
#include "sound/sound.h"
#include "sound/soundlib.h"
#include "sound/wavewriter.h"
#include "vm/vm.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSources = 8;
constexpr uint32_t kSourceFrames = 10 * kRate;
constexpr int kOutFrames = 60 * kRate;

struct World {
    ScriptState* L = nullptr;
    std::string dir = "/tmp/qb_mixsample_bench_" + std::to_string(getpid());
    std::vector<std::string> files;
    World() {
        SetPlatformBackend(nullptr);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitSoundLibrary(L);
        VmSetTop(L, 0);
        SetRuntimeTag(kTagNoSound, 1);
        std::system(("mkdir -p " + dir).c_str());
        for (int s = 0; s < kSources; ++s) {
            std::unique_ptr<uint8_t[]> pcm(new uint8_t[kSourceFrames * 4]);
            auto* v = reinterpret_cast<int16_t*>(pcm.get());
            for (uint32_t i = 0; i < kSourceFrames * 2; ++i)
                v[i] = static_cast<int16_t>(8000 * std::sin(0.01 * (s + 1) * i));
            qbSampleObject* made = nullptr;
            LinkNewSample(std::move(pcm), 16, 2, kPCMSigned, kSourceFrames, kRate, &made);
            made->id = s + 1;
            made->handle = nullptr;
            files.push_back(dir + "/s" + std::to_string(s) + ".wav");
            WriteWAVE(files.back().c_str(), made->sample);
        }
    }
    ~World() {
        FreeSoundObjects(L);
        VmClose(L);
        std::system(("rm -rf " + dir).c_str());
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_MixSample(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        VmSetTop(w.L, 0);
        VmCheckStack(w.L, 8 + 2 * kSources);
        VmPushNumber(w.L, 100);
        VmPushNumber(w.L, kOutFrames);
        VmPushNumber(w.L, kRate);
        VmPushNumber(w.L, kFormatStereo16);
        for (int s = 0; s < kSources; ++s) {
            VmPushNumber(w.L, s + 1);
            VmPushNewTable(w.L);
        }
        if (CallCommand(w.L, "MixSample", 4 + 2 * kSources, 0) != 0) state.SkipWithError("MixSample failed");
    }
}

void BM_SoxMix(benchmark::State& state) {
    World& w = TheWorld();
    std::string command = "sox -m";
    // sox ends the mix with its longest input: each file is repeated to 60 s.
    for (const std::string& f : w.files) command += " \"|sox " + f + " -p repeat 5\"";
    command += " " + w.dir + "/out.wav 2>/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("sox failed");
    }
}

BENCHMARK(BM_MixSample)->Name("MixSample, 8 sources, 60 s")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SoxMix)->Name("sox -m, 8 files, 60 s")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
