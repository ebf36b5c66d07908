// A 1920x1080 picture saved as a BMP file the way SaveSnapshot saves a
// display (SaveBitmapImage of the display's buffer), against fwrite of the
// same file's bytes in the same run; and the conversion alone into a sink
// that keeps nothing. Target: the save within 1.2x of the fwrite.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/bitmaplock.h"
#include "core/settings.h"
#include "display/imagewriter.h"
#include "imaging/bitmap.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

std::string TempName(const char* stem) {
    return (std::filesystem::temp_directory_path() / (std::string(stem) + std::to_string(::getpid()) + ".bmp"))
        .string();
}

BitmapPtr Picture() {
    SetPlatformBackend(&NullPlatformOps());
    SetRuntimeTag(kTagQuiet, 1);
    BitmapPtr b(AllocBitmap(kWidth, kHeight, 0, nullptr));
    qbBitmapLock lock;
    if (b && LockBitmap(b.get(), 0, &lock)) {
        auto* p = static_cast<uint32_t*>(lock.pixels);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                p[static_cast<size_t>(y) * lock.rowLength + x] = 0xFF000000u | (x * 7u) << 16 | (y * 5u) << 8 | (x ^ y);
        UnlockBitmap(&lock);
    }
    return b;
}

void BM_SaveSnapshotBMP(benchmark::State& state) {
    BitmapPtr picture = Picture();
    const std::string name = TempName("qb_bench_save");
    qbImageSaveOptions options;
    for (auto _ : state) {
        if (SaveBitmapImage(kImageFormatBMP, picture.get(), kWidth, kHeight, name.c_str(), nullptr, kNoKeyColour,
                            nullptr, options, true)) {
            state.SkipWithError("SaveBitmapImage failed");
            break;
        }
    }
    std::remove(name.c_str());
    state.SetBytesProcessed(state.iterations() * (BMPRowBytes(kWidth) * kHeight + 54));
}

void BM_FwriteSameBytes(benchmark::State& state) {
    BitmapPtr picture = Picture();
    const std::string name = TempName("qb_bench_fwrite");
    qbImageSaveOptions options;
    SaveBitmapImage(kImageFormatBMP, picture.get(), kWidth, kHeight, name.c_str(), nullptr, kNoKeyColour, nullptr,
                    options, true);
    std::ifstream in(name, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            state.SkipWithError("fwrite failed");
            if (f) std::fclose(f);
            break;
        }
        std::fclose(f);
    }
    std::remove(name.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

size_t Discard(void*, const void* data, size_t count) {
    benchmark::DoNotOptimize(data);
    return count;
}

void BM_ConvertOnly(benchmark::State& state) {
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight, 0xFF336699u);
    for (auto _ : state) {
        if (WriteBMP(qbByteSink{&Discard, nullptr}, pixels.data(), kWidth, kHeight)) {
            state.SkipWithError("WriteBMP failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()) * 4);
}

}  // namespace

BENCHMARK(BM_SaveSnapshotBMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertOnly)->Unit(benchmark::kMillisecond);
