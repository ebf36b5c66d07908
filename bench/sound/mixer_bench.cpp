// The player's mixer against SDL_mixer: 256 looping channels of mixed PCM
// layouts and rates, their volume and pan changed all the time, rendered by
// SDL's disk driver into /dev/null as fast as it goes. The figure is the
// audio thread's CPU time per second of audio it produced, as a share of
// one core. SDL_mixer gets the same data converted beforehand to its output
// format (it does not resample per channel).
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sdl_audio.h"
#include "platform/mixer/mixer.h"

#ifdef QB_BENCH_HAVE_SDL_MIXER
#include <SDL_mixer.h>
#endif

namespace {

constexpr int kChannels = 256;
constexpr int kRate = 44100;
constexpr auto kRun = std::chrono::seconds(2);

struct Source {
    int code = 0;
    int rate = 0;
    uint32_t frames = 0;
    std::vector<uint8_t> bytes;
    std::vector<float> converted;  // float stereo at kRate, for SDL_mixer
};

double Tone(int i, uint32_t n, int rate) { return 0.2 * std::sin(2.0 * M_PI * (110.0 + i) * n / rate); }

std::vector<Source> MakeSources() {
    std::vector<Source> sources(kChannels);
    for (int i = 0; i < kChannels; ++i) {
        Source& s = sources[static_cast<size_t>(i)];
        s.code = i % 6;
        s.rate = 8000 + i * 40000 / (kChannels - 1);
        s.frames = static_cast<uint32_t>(s.rate / 2);
        const int bpf = audio_mixer::BytesPerFrame(s.code);
        const bool stereo = s.code % 2 == 1;
        s.bytes.resize(s.frames * static_cast<size_t>(bpf));
        for (uint32_t n = 0; n < s.frames; ++n) {
            const double v = Tone(i, n, s.rate);
            for (int c = 0; c < (stereo ? 2 : 1); ++c) {
                uint8_t* p = s.bytes.data() + n * static_cast<size_t>(bpf) + static_cast<size_t>(c * bpf / 2);
                if (s.code <= 1) {
                    p[0] = static_cast<uint8_t>(128 + std::lround(v * 127));
                } else if (s.code <= 3) {
                    p[0] = static_cast<uint8_t>(static_cast<int8_t>(std::lround(v * 127)));
                } else {
                    const auto w = static_cast<int16_t>(std::lround(v * 32767));
                    std::memcpy(p, &w, 2);
                }
            }
        }
        const auto out = static_cast<uint32_t>(static_cast<uint64_t>(s.frames) * kRate / static_cast<uint64_t>(s.rate));
        s.converted.resize(2 * size_t{out});
        for (uint32_t n = 0; n < out; ++n) {
            const auto f = static_cast<float>(Tone(i, static_cast<uint32_t>(uint64_t{n} * static_cast<uint64_t>(s.rate) / kRate), s.rate));
            s.converted[2 * n] = s.converted[2 * n + 1] = f;
        }
    }
    return sources;
}

// The scheduler's account of the SDL audio thread's CPU time, in ns.
int64_t AudioThreadNanos() {
    int64_t total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::ifstream(base + "/comm") >> comm;
        if (comm.rfind("SDLAudio", 0) != 0) continue;
        int64_t ns = 0;
        std::ifstream(base + "/schedstat") >> ns;
        total += ns;
    }
    closedir(dir);
    return total;
}

void UseDiskDriver() {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
}

// Changes every channel's volume and pan about every millisecond for the
// length of the run.
template <class Change>
void Churn(Change change) {
    std::mt19937 rng(7);
    const auto end = std::chrono::steady_clock::now() + kRun;
    while (std::chrono::steady_clock::now() < end) {
        for (int c = 0; c < kChannels; ++c) change(c, static_cast<int>(rng() % 65), static_cast<int>(rng() % 256));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Report(benchmark::State& state, int64_t cpuNs, uint64_t frames) {
    const double audioSeconds = static_cast<double>(frames) / kRate;
    state.counters["core_pct_per_audio_s"] = audioSeconds > 0 ? 100.0 * (static_cast<double>(cpuNs) / 1e9) / audioSeconds : 0.0;
    state.counters["audio_s"] = audioSeconds;
}

void BM_PlayerMixer(benchmark::State& state) {
    const std::vector<Source> sources = MakeSources();
    UseDiskDriver();
    for (auto _ : state) {
        for (int c = 0; c < audio_mixer::ChannelCount(); ++c) audio_mixer::ResetChannel(c);
        if (audio_mixer::SetChannelCount(kChannels) != 0) state.SkipWithError("channel table");
        sdl_audio::RequestRate(kRate);
        if (sdl_audio::StartAudioOutput() != 0) {
            state.SkipWithError("no disk driver");
            break;
        }
        for (int c = 0; c < kChannels; ++c) {
            const Source& s = sources[static_cast<size_t>(c)];
            qbAudioChannel* ch = audio_mixer::Channel(c);
            ch->loopsWanted = 1 << 30;
            ch->endFrame = s.frames;
            ch->kind.store(kChannelPrepared);
            qbAudioStream stream{s.code, kPCMSigned, s.rate, s.frames};
            audio_mixer::CreateStreamConverter(&stream, c, const_cast<uint8_t*>(s.bytes.data()), s.rate, 64, 128);
        }
        audio_mixer::ReleasePreparedChannels();
        const int64_t cpu0 = AudioThreadNanos();
        const uint64_t frames0 = sdl_audio::RenderedFrames();
        Churn([](int c, int volume, int pan) { audio_mixer::SetChannelVolumePan(c, volume, pan); });
        const int64_t cpu1 = AudioThreadNanos();
        const uint64_t frames1 = sdl_audio::RenderedFrames();
        for (int c = 0; c < kChannels; ++c) audio_mixer::ResetChannel(c);
        sdl_audio::DisposeAudioOutput();
        Report(state, cpu1 - cpu0, frames1 - frames0);
    }
}
BENCHMARK(BM_PlayerMixer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QB_BENCH_HAVE_SDL_MIXER
std::atomic<uint64_t> mixedFrames{0};

void CountFrames(void*, Uint8*, int len) { mixedFrames.fetch_add(static_cast<uint64_t>(len) / 8, std::memory_order_relaxed); }

void BM_SDLMixer(benchmark::State& state) {
    const std::vector<Source> sources = MakeSources();
    UseDiskDriver();
    for (auto _ : state) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0 || Mix_OpenAudioDevice(kRate, AUDIO_F32SYS, 2, 1024, nullptr, 0) != 0) {
            state.SkipWithError("SDL_mixer could not open the disk driver");
            break;
        }
        Mix_AllocateChannels(kChannels);
        std::vector<Mix_Chunk*> chunks;
        for (const Source& s : sources) {
            chunks.push_back(Mix_QuickLoad_RAW(reinterpret_cast<Uint8*>(const_cast<float*>(s.converted.data())),
                                               static_cast<Uint32>(s.converted.size() * sizeof(float))));
        }
        Mix_SetPostMix(&CountFrames, nullptr);
        for (int c = 0; c < kChannels; ++c) Mix_PlayChannel(c, chunks[static_cast<size_t>(c)], -1);
        const int64_t cpu0 = AudioThreadNanos();
        const uint64_t frames0 = mixedFrames.load();
        Churn([](int c, int volume, int pan) {
            Mix_Volume(c, volume * MIX_MAX_VOLUME / 64);
            Mix_SetPanning(c, static_cast<Uint8>(255 - pan), static_cast<Uint8>(pan));
        });
        const int64_t cpu1 = AudioThreadNanos();
        const uint64_t frames1 = mixedFrames.load();
        Mix_HaltChannel(-1);
        Mix_SetPostMix(nullptr, nullptr);
        Mix_CloseAudio();
        for (Mix_Chunk* chunk : chunks) Mix_FreeChunk(chunk);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        Report(state, cpu1 - cpu0, frames1 - frames0);
    }
}
BENCHMARK(BM_SDLMixer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
