// CopyMem and FillMem of 64 MB through the script API against memcpy and
// memset of the same sizes in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/vmhost.h"
#include "libs/memblock.h"
#include "vm/vm.h"

namespace {

constexpr size_t kSize = size_t{64} << 20;

struct Blocks {
    ScriptState* L;
    Blocks() {
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitMemblockLibrary(L);
        VmSetTop(L, 0);
        for (double id : {1.0, 2.0}) Call("allocmem", {id, static_cast<double>(kSize)});
        Call("fillmem", {1.0, 7.0, static_cast<double>(kSize)});
        Call("fillmem", {2.0, 9.0, static_cast<double>(kSize)});
    }
    ~Blocks() {
        FreeAllMemblocks(L);
        VmClose(L);
    }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;
    void Call(const char* name, std::initializer_list<double> args) {
        VmSetTop(L, 0);
        VmPushString(L, name);
        VmGetTableAt(L, kGlobalsIndex);
        for (double a : args) VmPushNumber(L, a);
        VmPCall(L, static_cast<int>(args.size()), 0, 0);
    }
};

void BM_CopyMem(benchmark::State& state) {
    Blocks b;
    for (auto _ : state) b.Call("copymem", {1.0, 2.0, static_cast<double>(kSize)});
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_Memcpy(benchmark::State& state) {
    std::unique_ptr<char[]> a(new char[kSize]), b(new char[kSize]);
    std::memset(a.get(), 7, kSize);
    std::memset(b.get(), 9, kSize);
    for (auto _ : state) {
        std::memcpy(b.get(), a.get(), kSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// The byte fill, and the 32-bit fill of a pattern with four different bytes.
void BM_FillMem(benchmark::State& state) {
    Blocks b;
    const double type = static_cast<double>(state.range(0));
    const double value = type == 7 ? 0xAB : 0x01020304;
    for (auto _ : state) b.Call("fillmem", {1.0, value, static_cast<double>(kSize), 0.0, type});
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_Memset(benchmark::State& state) {
    std::unique_ptr<char[]> a(new char[kSize]);
    for (auto _ : state) {
        std::memset(a.get(), 0xAB, kSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_CopyMem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillMem)->Arg(7)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memset)->Unit(benchmark::kMillisecond);

}  // namespace
