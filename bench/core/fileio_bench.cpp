// The file layer's reading speed over a 100 MB file that sits in the page
// cache: FileRead in 64 KiB blocks against fread, and FileGetC against
// getc_unlocked. Every image, sound and anim reader reads through these.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"

namespace {

constexpr size_t kFileSize = 100 * 1000 * 1000;
constexpr size_t kBlockSize = 64 * 1024;

// Written once per run, before the first timing, and removed at exit.
struct BenchFile {
    std::string path = "/tmp/qb_fileio_bench_" + std::to_string(getpid());
    BenchFile() {
        std::vector<unsigned char> block(kBlockSize);
        std::mt19937_64 random(12345);
        FILE* f = std::fopen(path.c_str(), "w+b");
        if (!f) return;
        for (size_t done = 0; done < kFileSize; done += block.size()) {
            for (unsigned char& b : block) b = static_cast<unsigned char>(random());
            std::fwrite(block.data(), 1, std::min(block.size(), kFileSize - done), f);
        }
        // Dirty pages still being written back, and pages the kernel has
        // not yet marked as often used, would slow whichever benchmark runs
        // first: write them out and read them twice.
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

const std::string& Path() {
    static BenchFile file;
    return file.path;
}

void Report(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

void BM_FileRead(benchmark::State& state) {
    const std::string& path = Path();
    std::vector<char> block(kBlockSize);
    for (auto _ : state) {
        qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
        size_t total = 0;
        while (size_t got = FileRead(f.get(), block.data(), block.size())) total += got;
        benchmark::DoNotOptimize(total);
        if (total != kFileSize) state.SkipWithError("short read");
    }
    Report(state);
}

void BM_Fread(benchmark::State& state) {
    const std::string& path = Path();
    std::vector<char> block(kBlockSize);
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        size_t total = 0;
        while (size_t got = std::fread(block.data(), 1, block.size(), f)) total += got;
        std::fclose(f);
        benchmark::DoNotOptimize(total);
        if (total != kFileSize) state.SkipWithError("short read");
    }
    Report(state);
}

void BM_FileGetC(benchmark::State& state) {
    const std::string& path = Path();
    for (auto _ : state) {
        qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
        uint64_t sum = 0;
        for (int c; (c = FileGetC(f.get())) >= 0;) sum += static_cast<unsigned>(c);
        benchmark::DoNotOptimize(sum);
    }
    Report(state);
}

void BM_GetcUnlocked(benchmark::State& state) {
    const std::string& path = Path();
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        uint64_t sum = 0;
        for (int c; (c = getc_unlocked(f)) != EOF;) sum += static_cast<unsigned>(c);
        std::fclose(f);
        benchmark::DoNotOptimize(sum);
    }
    Report(state);
}

BENCHMARK(BM_FileRead)->Name("FileRead 64 KiB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fread)->Name("fread 64 KiB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileGetC)->Name("FileGetC")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetcUnlocked)->Name("getc_unlocked")->Unit(benchmark::kMillisecond);

}  // namespace
