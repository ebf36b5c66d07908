// CRC-32 throughput over a 100 MB buffer: the player's own checksum against
// zlib's crc32, which is the speed to match.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/chars.h"

namespace {

constexpr size_t kBufferSize = 100 * 1000 * 1000;

const std::vector<unsigned char>& Buffer() {
    static const std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> b(kBufferSize);
        std::mt19937_64 random(12345);
        for (size_t i = 0; i + 8 <= b.size(); i += 8) {
            const uint64_t word = random();
            for (int k = 0; k < 8; ++k) b[i + k] = static_cast<unsigned char>(word >> (8 * k));
        }
        return b;
    }();
    return buffer;
}

template <uint32_t (*Crc)(const void*, long)>
void BM_Player(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(Crc(buffer.data(), static_cast<long>(buffer.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0L, buffer.data(), static_cast<uInt>(buffer.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

BENCHMARK(BM_Player<ComputeCRC32>)->Name("ComputeCRC32")->Unit(benchmark::kMillisecond);
// The table-driven fallback for processors without carry-less multiply, and
// the plain byte loop.
BENCHMARK(BM_Player<ComputeCRC32Portable>)->Name("ComputeCRC32Portable")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Player<ComputeCRC32Bytewise>)->Name("ComputeCRC32Bytewise")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Name("zlib crc32")->Unit(benchmark::kMillisecond);

}  // namespace
