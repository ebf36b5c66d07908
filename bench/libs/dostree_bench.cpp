// The dos library's wildcards and copies against the system's: MatchPattern
// on 1M names against glibc's fnmatch with the equivalent patterns, and
// CopyFile of a 1 GB file (page cache warm) against cp in the same folder.
// QB_BENCH_DOS_SCALE (default 1) divides the file size for a quick run.
#include <benchmark/benchmark.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "libs/dos.h"
#include "libs/wildcard.h"
#include "vm/vm.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = [] {
        static const char* kStems[] = {"img_", "notes", "backup-", "a_b_c", "readme", "zz"};
        static const char* kExts[] = {".png", ".txt", ".jpg", ".gif", ".tmp", ""};
        std::mt19937 rng(5);
        std::vector<std::string> v(1000000);
        for (std::string& n : v) {
            n = kStems[rng() % 6];
            for (int d = 0, count = static_cast<int>(rng() % 6); d < count; ++d) n += static_cast<char>('0' + rng() % 10);
            n += kExts[rng() % 6];
        }
        return v;
    }();
    return names;
}

// Our pattern list and the fnmatch patterns that accept the same names.
struct Case {
    const char* ours;
    std::vector<const char*> theirs;
};
const Case kCases[] = {
    {"*.txt", {"*.txt"}},
    {"img_####.png", {"img_[0-9][0-9][0-9][0-9].png"}},
    {"[a-m]*.jpg;*.gif", {"[a-m]*.jpg", "*.gif"}},
    {"*a*b*c*", {"*a*b*c*"}},
    {"[!a-c]*.tmp", {"[!a-c]*.tmp"}},
};

void BM_MatchPattern(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    size_t hits = 0;
    for (auto _ : state)
        for (const std::string& n : Names()) hits += MatchPatternList(c.ours, n);
    state.SetLabel(c.ours);
    benchmark::DoNotOptimize(hits);
}

void BM_Fnmatch(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    size_t hits = 0;
    for (auto _ : state) {
        for (const std::string& n : Names()) {
            for (const char* p : c.theirs) {
                if (fnmatch(p, n.c_str(), 0) == 0) {
                    ++hits;
                    break;
                }
            }
        }
    }
    state.SetLabel(c.ours);
    benchmark::DoNotOptimize(hits);
}

BENCHMARK(BM_MatchPattern)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fnmatch)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// ---- CopyFile against cp ------------------------------------------------------

struct Folder {
    fs::path path = fs::temp_directory_path() / ("qb_dostree_bench_" + std::to_string(::getpid()));
    fs::path source = path / "big.bin";
    Folder() {
        fs::create_directories(path);
        const char* s = std::getenv("QB_BENCH_DOS_SCALE");
        const long scale = s && std::atol(s) > 0 ? std::atol(s) : 1;
        std::ofstream out(source, std::ios::binary);
        std::mt19937_64 rng(9);
        std::string block(1 << 20, '\0');
        for (long m = 0; m < 1024 / scale; ++m) {
            for (size_t i = 0; i + 8 <= block.size(); i += 8) {
                const uint64_t v = rng();
                std::memcpy(block.data() + i, &v, 8);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

Folder& TheFolder() {
    static Folder folder;
    return folder;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(fs::file_size(TheFolder().source)));
}

void BM_CopyFile(benchmark::State& state) {
    Folder& f = TheFolder();
    ScriptState* L = VmOpen();
    SetRuntimeTag(kTagQuiet, 1);
    VmPushValue(L, kGlobalsIndex);
    InitDosLibrary(L);
    VmSetTop(L, 0);
    const std::string dest = (f.path / "ours").string();
    for (auto _ : state) {
        VmPushString(L, "copyfile");
        VmGetTableAt(L, kGlobalsIndex);
        VmPushString(L, f.source.c_str());
        VmPushString(L, dest.c_str());
        if (VmPCall(L, 2, 0, 0) != 0) state.SkipWithError("CopyFile failed");
        state.PauseTiming();
        fs::remove(fs::path(dest) / "big.bin");
        state.ResumeTiming();
    }
    SetBytes(state);
    FreeDosObjects(L);
    VmClose(L);
}

void BM_Cp(benchmark::State& state) {
    Folder& f = TheFolder();
    const fs::path dest = f.path / "theirs";
    fs::create_directories(dest);
    const std::string cmd = "cp '" + f.source.string() + "' '" + dest.string() + "/'";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("cp failed");
        state.PauseTiming();
        fs::remove(dest / "big.bin");
        state.ResumeTiming();
    }
    SetBytes(state);
}

BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
