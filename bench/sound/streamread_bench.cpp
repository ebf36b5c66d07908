// The sound stream reader over 100 MB files in the page cache, one second
// of frames a read: a 16-bit stereo WAVE, which reads straight, and a
// stereo 8SVX, whose two blocks are de-interleaved through the scratch
// buffer. Each is timed against FileRead of the same bytes in the same
// block size, which is the most the reader could do.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "platform/platform.h"
#include "sound/stream.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kDataBytes = 100 * 1000 * 1000;

void Put32(std::string& s, uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (big ? 24 - 8 * i : 8 * i)));
}
void Put16(std::string& s, uint32_t v, bool big) {
    s.push_back(static_cast<char>(big ? v >> 8 : v));
    s.push_back(static_cast<char>(big ? v : v >> 8));
}

std::string WaveHeader() {
    std::string h = "RIFF";
    Put32(h, kDataBytes + 36, false);
    h += "WAVEfmt ";
    Put32(h, 16, false);
    Put16(h, 1, false);
    Put16(h, 2, false);
    Put32(h, kRate, false);
    Put32(h, kRate * 4, false);
    Put16(h, 4, false);
    Put16(h, 16, false);
    h += "data";
    Put32(h, kDataBytes, false);
    return h;
}

std::string SvxHeader() {
    std::string h = "FORM";
    Put32(h, kDataBytes + 48, true);
    h += "8SVXVHDR";
    Put32(h, 20, true);
    Put32(h, kDataBytes / 2, true);
    Put32(h, 0, true);
    Put32(h, 0, true);
    Put16(h, kRate, true);
    h.push_back(1);
    h.push_back(0);
    Put32(h, 0x10000, true);
    h += "CHAN";
    Put32(h, 4, true);
    Put32(h, 6, true);
    h += "BODY";
    Put32(h, kDataBytes, true);
    return h;
}

// Written once per run and removed at exit; read twice so that it sits in
// the page cache before the first timing.
struct BenchFile {
    std::string path;
    explicit BenchFile(const std::string& name, const std::string& header)
        : path("/tmp/qb_streamread_" + name + "_" + std::to_string(getpid())) {
        FILE* f = std::fopen(path.c_str(), "w+b");
        if (!f) return;
        std::fwrite(header.data(), 1, header.size(), f);
        std::vector<unsigned char> block(1 << 20);
        std::mt19937_64 random(7);
        for (uint32_t done = 0; done < kDataBytes; done += static_cast<uint32_t>(block.size())) {
            for (unsigned char& b : block) b = static_cast<unsigned char>(random());
            std::fwrite(block.data(), 1, std::min<size_t>(block.size(), kDataBytes - done), f);
        }
        std::fflush(f);
        fsync(fileno(f));
        for (int pass = 0; pass < 2; ++pass) {
            std::rewind(f);
            while (std::fread(block.data(), 1, block.size(), f) == block.size()) {
            }
        }
        std::fclose(f);
    }
    ~BenchFile() { std::remove(path.c_str()); }
};

const std::string& WavePath() {
    static BenchFile file("wave", WaveHeader());
    return file.path;
}
const std::string& SvxPath() {
    static BenchFile file("svx", SvxHeader());
    return file.path;
}

void Report(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * int64_t{kDataBytes});
}

void ReadStream(benchmark::State& state, const std::string& path) {
    SetPlatformBackend(nullptr);
    for (auto _ : state) {
        qbSamplePtr s;
        if (OpenSoundStream(path.c_str(), "inbuilt", nullptr, &s) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        std::vector<uint8_t> block(size_t{kRate} * static_cast<size_t>(s->bytesPerFrame));
        uint64_t total = 0;
        bool ended = false;
        while (!ended) total += ReadSoundFrames(*s, block.data(), kRate, &ended);
        benchmark::DoNotOptimize(block.data());
        if (total * static_cast<uint64_t>(s->bytesPerFrame) != kDataBytes) state.SkipWithError("short read");
    }
    Report(state);
}

void ReadFile(benchmark::State& state, const std::string& path, size_t headerBytes, size_t blockBytes) {
    std::vector<uint8_t> block(blockBytes);
    for (auto _ : state) {
        qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
        FileSeek(f.get(), static_cast<int64_t>(headerBytes), kSeekBeginning);
        uint64_t total = 0;
        while (size_t got = FileRead(f.get(), block.data(), block.size())) total += got;
        benchmark::DoNotOptimize(block.data());
        if (total != kDataBytes) state.SkipWithError("short read");
    }
    Report(state);
}

void BM_WaveStream(benchmark::State& state) { ReadStream(state, WavePath()); }
void BM_WaveFileRead(benchmark::State& state) { ReadFile(state, WavePath(), WaveHeader().size(), kRate * 4); }
void BM_SvxStream(benchmark::State& state) { ReadStream(state, SvxPath()); }
void BM_SvxFileRead(benchmark::State& state) { ReadFile(state, SvxPath(), SvxHeader().size(), kRate * 2); }

BENCHMARK(BM_WaveStream)->Name("WAVE 16-bit stereo, stream reader")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveFileRead)->Name("WAVE 16-bit stereo, FileRead")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SvxStream)->Name("8SVX stereo, stream reader")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SvxFileRead)->Name("8SVX stereo, FileRead")->Unit(benchmark::kMillisecond);

}  // namespace
