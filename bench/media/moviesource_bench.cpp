// Native-driver movies: a 1920x1080 H.264 clip at 30 pictures a second,
// 20 s, made here by ffmpeg (libx264). The platform's movie source decoding
// it alone (reader and decoder, no conversion or display) against
// `ffmpeg -threads 2 -i clip.mp4 -f null -` on the same file, both with two
// decoder threads, by CPU time; and the clip played in real time by the
// engine while a main loop takes every picture into a window buffer, with
// the engine's shown and dropped counters. Run it on two cores:
// `taskset -c 0,1 build/bench/bench_moviesource`.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/videoplayback.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kPictures = 600;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

struct Clip {
    std::string path = "/tmp/qb-movie-bench-" + std::to_string(getpid()) + ".mp4";
    bool made = std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 "
                             "-c:v libx264 -preset fast -pix_fmt yuv420p '" +
                             path + "'")
                                .c_str()) == 0;
    ~Clip() { std::remove(path.c_str()); }
};
const Clip& TheClip() {
    static Clip clip;
    return clip;
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct LinuxBackend {
    LinuxBackend() { SetPlatformBackend(&LinuxPlatformOps()); }
    ~LinuxBackend() { SetPlatformBackend(nullptr); }
};

// The source's reader and decoder over the whole clip on this thread (the
// decoder's own two threads beside it), its process CPU time.
void BM_MovieSourceDecode1080p(benchmark::State& state) {
    LinuxBackend backend;
    if (!TheClip().made) return state.SkipWithError("ffmpeg did not make the clip");
    int64_t pictures = 0;
    for (auto _ : state) {
        const double before = CpuSeconds(RUSAGE_SELF);
        qbMovieSourceRequest request;
        request.threads = 2;
        request.pictures = 0;
        qbMovieSourceInfo info;
        qbMovieSource* source = nullptr;
        if (OpenMovieSource(TheClip().path.c_str(), &request, &info, &source) != 0)
            return state.SkipWithError("the clip did not open");
        for (;;) {
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source, &packet);
            if (got == -1) break;
            if (got != 0) continue;
            qbMoviePicture picture;
            if (DecodeMovieVideo(source, packet.packet, &picture) == 1) ++pictures;
            FreeMoviePacket(source, packet.packet);
        }
        CloseMovieSource(source);
        state.SetIterationTime(CpuSeconds(RUSAGE_SELF) - before);
    }
    state.counters["pictures_per_run"] = static_cast<double>(pictures) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MovieSourceDecode1080p)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_FfmpegDecode1080p(benchmark::State& state) {
    if (!TheClip().made) return state.SkipWithError("ffmpeg did not make the clip");
    for (auto _ : state) {
        const double before = CpuSeconds(RUSAGE_CHILDREN);
        std::system(("ffmpeg -nostdin -v error -threads 2 -i '" + TheClip().path + "' -f null - 2>/dev/null").c_str());
        state.SetIterationTime(CpuSeconds(RUSAGE_CHILDREN) - before);
    }
}
BENCHMARK(BM_FfmpegDecode1080p)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The refresh thread hands each picture over as the display's queued blit
// does (a copy); the main loop takes the newest into the window.
struct Handover {
    std::mutex lock;
    std::vector<uint32_t> picture = std::vector<uint32_t>(kPixels);
    bool fresh = false;
    std::atomic<bool> ended{false};
    static void Picture(void* user, const uint32_t* pixels, int32_t, int32_t, int32_t, double) {
        auto* h = static_cast<Handover*>(user);
        std::lock_guard g(h->lock);
        std::memcpy(h->picture.data(), pixels, kPixels * 4);
        h->fresh = true;
    }
    static void Ended(void* user) { static_cast<Handover*>(user)->ended = true; }
};

// In real time: 20 s a run.
void BM_PlayMovie1080p(benchmark::State& state) {
    LinuxBackend backend;
    if (!TheClip().made) return state.SkipWithError("ffmpeg did not make the clip");
    int64_t shown = 0, dropped = 0, taken = 0;
    double cpu = 0.0;
    std::vector<uint32_t> window(kPixels);
    for (auto _ : state) {
        const double before = CpuSeconds(RUSAGE_SELF);
        qbVideoStream stream;
        stream.kind = kVideoDriverNative;
        stream.nativePath = TheClip().path;
        if (AttachNativeVideoEngine(&stream) != 0) return state.SkipWithError("the clip did not open");
        Handover h;
        qbVideoPlayParams params;
        params.sound = false;
        params.sink = qbVideoSink{Handover::Picture, Handover::Ended, nullptr, &h};
        if (StartVideoPlayback(stream.own.get(), params) != 0) return state.SkipWithError("it did not start");
        // The script's main loop: about a hundred rounds a second.
        while (!h.ended) {
            {
                std::lock_guard g(h.lock);
                if (h.fresh) {
                    std::memcpy(window.data(), h.picture.data(), kPixels * 4);
                    h.fresh = false;
                    ++taken;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        shown += stream.own->playback->shownCount;
        dropped += stream.own->playback->droppedCount;
        StopVideoStream(stream.own.get());
        cpu += CpuSeconds(RUSAGE_SELF) - before;
        benchmark::DoNotOptimize(window.data());
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["shown"] = static_cast<double>(shown) / runs;
    state.counters["dropped"] = static_cast<double>(dropped) / runs;
    state.counters["in_file"] = kPictures;
    state.counters["taken_by_loop"] = static_cast<double>(taken) / runs;
    // The process's CPU time per picture in the file: decoding, conversion,
    // the engine's threads and the main loop's copies together.
    state.counters["cpu_ms_per_picture"] = cpu * 1000.0 / runs / kPictures;
}
BENCHMARK(BM_PlayMovie1080p)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
