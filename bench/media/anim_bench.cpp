// Anim files against their peers: a 640x480 8-plane IFF ANIM of 300 frames
// (deltas of operations 5, 7 and 8 in turn) decoded to ARGB frame by frame,
// against FFmpeg's IFF decoder on the same file (`ffmpeg -i x.anim -f null
// -`, its CPU time); and 1920x1080 Motion-JPEG frames through ReadAVIFrame
// against libjpeg-turbo decoding the same JPEG data alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../../tests/media/animbuilder.h"
#include "../../tests/media/avibuilder.h"
#include "core/file.h"
#include "imaging/codechooks.h"
#include "imaging/imageformats.h"
#include "media/avireader.h"
#include "media/iffanim.h"
#include "platform/platform.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 300;

void WriteBytes(const std::string& path, const std::vector<uint8_t>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Files {
    std::string dir = "/tmp/qb-anim-bench-" + std::to_string(getpid());
    std::string anim = dir + "/walk.anim";
    std::string avi = dir + "/hd.avi";
    std::vector<std::vector<uint8_t>> jpegs;
    Files() {
        std::system(("mkdir -p " + dir).c_str());
        // Bands of all 256 colours, with a few blocks moving over them and
        // some noise: each delta changes a few percent of the picture.
        animbuilder::Layout layout;
        layout.width = kWidth;
        layout.height = kHeight;
        layout.planes = 8;
        for (uint32_t i = 0; i < 256; ++i) layout.palette.push_back(i * 0x010203u & 0xFFFFFF);
        std::mt19937 rng(11);
        animbuilder::Picture p(static_cast<size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) p[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(x / 20 + y / 8);
        animbuilder::AnimFile builder(layout, p);
        for (int f = 1; f < kFrames; ++f) {
            for (int b = 0; b < 4; ++b) {
                const int bx = (f * 7 + b * 150) % (kWidth - 64), by = (f * 3 + b * 110) % (kHeight - 48);
                for (int y = by; y < by + 48; ++y)
                    for (int x = bx; x < bx + 64; ++x) p[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(f + b * 50);
            }
            for (int n = 0; n < 200; ++n) p[rng() % p.size()] = static_cast<uint8_t>(rng());
            animbuilder::DeltaOptions o;
            o.operation = f % 3 == 0 ? 5 : f % 3 == 1 ? 7 : 8;
            o.bits = f % 2;
            builder.AddDelta(p, o);
        }
        WriteBytes(anim, builder.Build());
        std::system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 8 "
                     "-c:v mjpeg -q:v 3 " + avi).c_str());
        // The frames' JPEG data as the AVI holds it.
        const std::vector<uint8_t> file = ReadBytes(avi);
        for (size_t pos = 0; pos + 8 <= file.size(); ++pos) {
            if (file[pos] != '0' || file[pos + 1] != '0' || file[pos + 2] != 'd' || file[pos + 3] != 'c') continue;
            const uint32_t size = file[pos + 4] | file[pos + 5] << 8 | file[pos + 6] << 16 | static_cast<uint32_t>(file[pos + 7]) << 24;
            if (size > 4 && pos + 8 + size <= file.size() && file[pos + 8] == 0xFF)
                jpegs.emplace_back(file.begin() + static_cast<long>(pos + 8), file.begin() + static_cast<long>(pos + 8 + size));
        }
    }
    ~Files() { std::system(("rm -rf " + dir).c_str()); }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void BM_IFFAnimFrames(benchmark::State& state) {
    const Files& f = TestFiles();
    int32_t w = 0, h = 0, frames = 0;
    qbIFFAnimReaderPtr reader(
        OpenIFFAnim(FileOpen(f.anim.c_str(), kFileModeRead, nullptr), kDeinterlaceDefault, &w, &h, &frames, false));
    if (!reader || frames != kFrames) {
        state.SkipWithError("the anim did not open");
        return;
    }
    int32_t n = 0;
    for (auto _ : state) {
        PixelBuffer pixels = GetIFFAnimFrame(reader.get(), n, nullptr);
        benchmark::DoNotOptimize(pixels.get());
        n = (n + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IFFAnimFrames)->Unit(benchmark::kMillisecond);

double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// FFmpeg's whole run, per frame of its CPU time (one thread).
void BM_FfmpegIFFFrames(benchmark::State& state) {
    const Files& f = TestFiles();
    for (auto _ : state) {
        const double before = ChildCpuSeconds();
        std::system(("ffmpeg -v error -nostdin -threads 1 -i " + f.anim + " -f null - 2>/dev/null").c_str());
        state.SetIterationTime((ChildCpuSeconds() - before) / kFrames);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FfmpegIFFFrames)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ReadAVIFrameMJPEG(benchmark::State& state) {
    const Files& f = TestFiles();
    SetPlatformBackend(&LinuxPlatformOps());
    InstallImageCodecHooks();
    int32_t w = 0, h = 0, frames = 0;
    qbAVIReaderPtr reader(OpenAVIReader(FileOpen(f.avi.c_str(), kFileModeRead, nullptr), &w, &h, &frames));
    if (!reader || frames <= 0) {
        state.SkipWithError("the AVI did not open");
        return;
    }
    int32_t n = 0;
    for (auto _ : state) {
        PixelBuffer pixels = ReadAVIFrame(reader.get(), n);
        benchmark::DoNotOptimize(pixels.get());
        n = (n + 1) % frames;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadAVIFrameMJPEG)->Unit(benchmark::kMillisecond);

void BM_LibjpegAlone(benchmark::State& state) {
    const Files& f = TestFiles();
    if (f.jpegs.empty()) {
        state.SkipWithError("no frames");
        return;
    }
    size_t n = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& j = f.jpegs[n];
        int32_t w = 0, h = 0;
        PixelBuffer pixels;
        ReadJPEGMemory(j.data(), j.size(), false, &w, &h, &pixels);
        benchmark::DoNotOptimize(pixels.get());
        n = (n + 1) % f.jpegs.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibjpegAlone)->Unit(benchmark::kMillisecond);

}  // namespace
