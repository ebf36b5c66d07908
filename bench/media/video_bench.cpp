// Video playback: the engine's machinery moving unpaced 1920x1080 RGB
// pictures from a source that costs nothing through the reader, video and
// refresh threads to a copy on this thread (the main thread's blit),
// against the same three picture copies by memcpy on one thread; and the
// CDXL reader decoding a 640x480 file against FFmpeg's cdxl decoder on the
// same file (`ffmpeg -f cdxl -i x.cdxl -f null -`, its CPU time).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "media/cdxl.h"
#include "media/videoplayback.h"

namespace {

constexpr int32_t kHDWidth = 1920, kHDHeight = 1080, kPictures = 60;
constexpr size_t kHDPixels = static_cast<size_t>(kHDWidth) * kHDHeight;

// A source whose pictures are there for the asking: the decode leaves the
// frame as it is.
struct FreeSource {
    int32_t next = 0;
    char token = 0;
};
int32_t FreeNext(void* handle, qbVideoPacket* out) {
    auto* f = static_cast<FreeSource*>(handle);
    if (f->next >= kPictures) return -1;
    out->packet = &f->token;
    out->size = 1;
    out->pts = -1.0;
    ++f->next;
    return 0;
}
void FreeRelease(void*, void*) {}
int32_t FreeDecode(void*, void*, qbVideoFrame*) { return 1; }
int32_t FreeSeek(void* handle, int64_t) {
    static_cast<FreeSource*>(handle)->next = 0;
    return 0;
}
const qbVideoSourceOps kFreeOps{nullptr, FreeNext, FreeRelease, FreeDecode, nullptr, FreeSeek, nullptr, nullptr};

// Every reading is two seconds on: no picture waits for its time and none is
// late by the once-a-second rule, so every one is handed on.
std::atomic<double> benchNow{0.0};
double JumpingClock() { return benchNow.fetch_add(2.0) + 2.0; }

// The sink hands each picture to this thread, which copies it as the
// display's blit would.
struct Handover {
    std::mutex lock;
    std::condition_variable cond;
    std::vector<uint32_t> picture = std::vector<uint32_t>(kHDPixels);
    bool full = false, ended = false;
    static void Picture(void* user, const uint32_t* pixels, int32_t, int32_t, int32_t, double) {
        auto* h = static_cast<Handover*>(user);
        std::unique_lock g(h->lock);
        h->cond.wait(g, [h] { return !h->full; });
        std::memcpy(h->picture.data(), pixels, kHDPixels * 4);
        h->full = true;
        h->cond.notify_all();
    }
    static void Ended(void* user) {
        auto* h = static_cast<Handover*>(user);
        std::lock_guard g(h->lock);
        h->ended = true;
        h->cond.notify_all();
    }
};

void BM_VideoMachinery1080p(benchmark::State& state) {
    SetVideoWallClock(JumpingClock);
    FreeSource source;
    qbOwnVideoStream stream;
    stream.source = std::make_unique<qbVideoSource>();
    stream.source->ops = &kFreeOps;
    stream.source->handle = &source;
    stream.frameWidth = kHDWidth;
    stream.frameHeight = kHDHeight;
    stream.info.framesAreRGB = 1;
    std::vector<uint32_t> window(kHDPixels);
    int64_t shown = 0;
    for (auto _ : state) {
        Handover h;
        qbVideoPlayParams params;
        params.sink = qbVideoSink{Handover::Picture, Handover::Ended, nullptr, &h};
        if (StartVideoPlayback(&stream, params) != 0) {
            state.SkipWithError("the playback did not start");
            break;
        }
        for (;;) {
            std::unique_lock g(h.lock);
            h.cond.wait(g, [&] { return h.full || h.ended; });
            if (!h.full) break;
            std::memcpy(window.data(), h.picture.data(), kHDPixels * 4);
            ++shown;
            h.full = false;
            h.cond.notify_all();
        }
        StopVideoStream(&stream);
        benchmark::DoNotOptimize(window.data());
    }
    stream.playback.reset();
    stream.source->handle = nullptr;
    SetVideoWallClock(nullptr);
    state.SetItemsProcessed(shown);
    state.counters["shown_per_run"] = static_cast<double>(shown) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_VideoMachinery1080p)->UseRealTime()->Unit(benchmark::kMillisecond);

// The copies a picture takes on its way: into a slot, out to the sink and
// into the window, done one after another on one thread.
void BM_MemcpySameCopies1080p(benchmark::State& state) {
    std::vector<uint32_t> a(kHDPixels, 1), b(kHDPixels), c(kHDPixels), d(kHDPixels);
    for (auto _ : state) {
        for (int32_t i = 0; i < kPictures; ++i) {
            std::memcpy(b.data(), a.data(), kHDPixels * 4);
            std::memcpy(c.data(), b.data(), kHDPixels * 4);
            std::memcpy(d.data(), c.data(), kHDPixels * 4);
            std::memcpy(a.data(), d.data(), kHDPixels * 4);
            benchmark::DoNotOptimize(a.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kPictures);
}
BENCHMARK(BM_MemcpySameCopies1080p)->UseRealTime()->Unit(benchmark::kMillisecond);

constexpr int32_t kCDXLWidth = 640, kCDXLHeight = 480, kCDXLFrames = 100;

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// 640x480 chunks of 8 planes and a full palette (or 6 planes of HAM6),
// their planes noise.
std::string WriteCDXL(bool ham) {
    const std::string path = "/tmp/qb-video-bench-" + std::to_string(getpid()) + (ham ? "-ham.cdxl" : ".cdxl");
    const int planes = ham ? 6 : 8;
    const uint32_t paletteBytes = ham ? 32 : 512;
    const size_t planar = static_cast<size_t>(kCDXLWidth / 8) * kCDXLHeight * planes;
    const uint32_t chunk = static_cast<uint32_t>(32 + paletteBytes + planar);
    std::mt19937 rng(5);
    std::vector<uint8_t> out;
    for (int32_t f = 0; f < kCDXLFrames; ++f) {
        std::vector<uint8_t> c = {1, static_cast<uint8_t>(ham ? 1 : 0)};
        Put16(c, chunk >> 16);
        Put16(c, chunk & 0xFFFF);
        Put16(c, f ? chunk >> 16 : 0);
        Put16(c, f ? chunk & 0xFFFF : 0);
        Put16(c, static_cast<uint32_t>(f) >> 16);
        Put16(c, static_cast<uint32_t>(f) & 0xFFFF);
        Put16(c, kCDXLWidth);
        Put16(c, kCDXLHeight);
        c.push_back(0);
        c.push_back(static_cast<uint8_t>(planes));
        Put16(c, paletteBytes);
        Put16(c, 0);
        c.resize(32, 0);
        for (uint32_t i = 0; i < paletteBytes / 2; ++i) Put16(c, (i * 0x123u) & 0x0FFF);
        for (size_t i = 0; i < planar; ++i) c.push_back(static_cast<uint8_t>(rng()));
        out.insert(out.end(), c.begin(), c.end());
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return path;
}

struct CDXLFiles {
    std::string palette = WriteCDXL(false), ham = WriteCDXL(true);
    ~CDXLFiles() {
        std::remove(palette.c_str());
        std::remove(ham.c_str());
    }
};
const CDXLFiles& Files() {
    static CDXLFiles files;
    return files;
}

void DecodeAll(benchmark::State& state, const std::string& path) {
    std::vector<uint32_t> frame(static_cast<size_t>(kCDXLWidth) * kCDXLHeight);
    qbVideoStreamInfo info;
    qbCDXLReaderPtr reader(OpenCDXL(path.c_str(), &info));
    if (!reader) {
        state.SkipWithError("the CDXL did not open");
        return;
    }
    for (auto _ : state) {
        CDXLSeek(reader.get(), 0);
        for (int32_t f = 0; f < kCDXLFrames; ++f) {
            qbCDXLPacketPtr packet;
            if (CDXLNextPacket(reader.get(), &packet) != 0) break;
            double pts = 0;
            CDXLDecodeVideoFrame(reader.get(), *packet, frame.data(), &pts);
            benchmark::DoNotOptimize(frame.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kCDXLFrames);
}
void BM_CDXLDecode640x480(benchmark::State& state) { DecodeAll(state, Files().palette); }
void BM_CDXLDecodeHAM6_640x480(benchmark::State& state) { DecodeAll(state, Files().ham); }
BENCHMARK(BM_CDXLDecode640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CDXLDecodeHAM6_640x480)->Unit(benchmark::kMillisecond);

double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// FFmpeg's whole run over the same file, its CPU time per run of frames.
void Ffmpeg(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        const double before = ChildCpuSeconds();
        std::system(("ffmpeg -v error -nostdin -threads 1 -f cdxl -i " + path + " -f null - 2>/dev/null").c_str());
        state.SetIterationTime(ChildCpuSeconds() - before);
    }
    state.SetItemsProcessed(state.iterations() * kCDXLFrames);
}
void BM_FfmpegCDXL640x480(benchmark::State& state) { Ffmpeg(state, Files().palette); }
void BM_FfmpegCDXLHAM6_640x480(benchmark::State& state) { Ffmpeg(state, Files().ham); }
BENCHMARK(BM_FfmpegCDXL640x480)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegCDXLHAM6_640x480)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
