// The dos library against the tools scripts would otherwise use: packing and
// unpacking 256 MB (half text, half random) against zlib's own deflate and
// inflate loops at the default level, MD5 of a cached 1 GB file against
// md5sum, and FileLines over 100 MB of 1M lines against lua5.4's io.lines.
// QB_BENCH_DOS_SCALE (default 1) divides the sizes for a quick run.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "core/settings.h"
#include "libs/dos.h"
#include "vm/vm.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMB = 1 << 20;
constexpr size_t kPiece = 16384;

size_t Scale() {
    const char* s = std::getenv("QB_BENCH_DOS_SCALE");
    const long v = s ? std::atol(s) : 1;
    return v > 0 ? static_cast<size_t>(v) : 1;
}

// The files of the run, removed when it ends.
struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("qb_dos_bench_" + std::to_string(::getpid()));
    TempFolder() { fs::create_directories(path); }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& Folder() {
    static const TempFolder folder;
    return folder.path;
}

// Made once; half text-like, half random.
fs::path MixedFile() {
    static const fs::path path = [] {
        const fs::path p = Folder() / "mixed.bin";
        std::ofstream out(p, std::ios::binary);
        std::mt19937 random(1);
        static const char kWords[] = "the player opens files and packs them line by line ";
        std::string block(kMB, '\0');
        const size_t total = 256 / Scale();
        for (size_t m = 0; m < total; ++m) {
            for (size_t i = 0; i < kMB; ++i)
                block[i] = m % 2 ? static_cast<char>(random()) : kWords[(i + m) % (sizeof kWords - 1)];
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        return p;
    }();
    return path;
}

fs::path BigFile() {
    static const fs::path path = [] {
        const fs::path p = Folder() / "big.bin";
        std::ofstream out(p, std::ios::binary);
        std::mt19937_64 random(2);
        std::string block(kMB, '\0');
        for (size_t m = 0; m < 1024 / Scale(); ++m) {
            for (size_t i = 0; i + 8 <= kMB; i += 8) {
                const uint64_t v = random();
                std::memcpy(block.data() + i, &v, 8);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        return p;
    }();
    return path;
}

fs::path LinesFile() {
    static const fs::path path = [] {
        const fs::path p = Folder() / "lines.txt";
        std::ofstream out(p, std::ios::binary);
        const std::string line(99, 'l');
        for (size_t i = 0; i < (1000 * 1000) / Scale(); ++i) out << line << '\n';
        return p;
    }();
    return path;
}

struct Vm {
    ScriptState* L = VmOpen();
    Vm() {
        SetRuntimeTag(kTagQuiet, 1);
        VmPushValue(L, kGlobalsIndex);
        InitDosLibrary(L);
        VmSetTop(L, 0);
    }
    ~Vm() {
        FreeDosObjects(L);
        VmClose(L);
    }
    // Calls the global command on string arguments; its error code.
    int Call(const char* name, std::initializer_list<std::string> args) {
        VmSetTop(L, 0);
        std::string lower(name);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushString(L, lower.c_str());
        VmGetTableAt(L, kGlobalsIndex);
        for (const std::string& a : args) VmPushLString(L, a.data(), a.size());
        return VmPCall(L, static_cast<int>(args.size()), kMultRet, 0);
    }
};

Vm& TheVm() {
    static Vm vm;
    return vm;
}

void ZlibDeflate(const fs::path& in, const fs::path& out) {
    FILE* src = std::fopen(in.c_str(), "rb");
    FILE* dst = std::fopen(out.c_str(), "wb");
    z_stream z{};
    deflateInit(&z, Z_DEFAULT_COMPRESSION);
    unsigned char ibuf[kPiece], obuf[kPiece];
    int flush;
    do {
        z.avail_in = static_cast<uInt>(std::fread(ibuf, 1, kPiece, src));
        flush = std::feof(src) ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = ibuf;
        do {
            z.avail_out = kPiece;
            z.next_out = obuf;
            deflate(&z, flush);
            std::fwrite(obuf, 1, kPiece - z.avail_out, dst);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    std::fclose(src);
    std::fclose(dst);
}

void ZlibInflate(const fs::path& in, const fs::path& out) {
    FILE* src = std::fopen(in.c_str(), "rb");
    FILE* dst = std::fopen(out.c_str(), "wb");
    std::fseek(src, 8, SEEK_SET);
    z_stream z{};
    inflateInit(&z);
    unsigned char ibuf[kPiece], obuf[kPiece];
    int r = Z_OK;
    do {
        z.avail_in = static_cast<uInt>(std::fread(ibuf, 1, kPiece, src));
        if (z.avail_in == 0) break;
        z.next_in = ibuf;
        do {
            z.avail_out = kPiece;
            z.next_out = obuf;
            r = inflate(&z, Z_NO_FLUSH);
            std::fwrite(obuf, 1, kPiece - z.avail_out, dst);
        } while (z.avail_out == 0);
    } while (r != Z_STREAM_END);
    inflateEnd(&z);
    std::fclose(src);
    std::fclose(dst);
}

void SetBytes(benchmark::State& state, uintmax_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_CompressFile(benchmark::State& state) {
    const fs::path in = MixedFile();
    for (auto _ : state)
        if (TheVm().Call("CompressFile", {in.string(), (Folder() / "mine.qbpk").string()})) state.SkipWithError("failed");
    SetBytes(state, fs::file_size(in));
}

void BM_ZlibDeflate(benchmark::State& state) {
    const fs::path in = MixedFile();
    for (auto _ : state) ZlibDeflate(in, Folder() / "zlib.z");
    SetBytes(state, fs::file_size(in));
}

void BM_DecompressFile(benchmark::State& state) {
    const fs::path in = MixedFile();
    const fs::path packed = Folder() / "mine.qbpk";
    if (!fs::exists(packed)) TheVm().Call("CompressFile", {in.string(), packed.string()});
    for (auto _ : state)
        if (TheVm().Call("DecompressFile", {packed.string(), (Folder() / "mine.out").string()}))
            state.SkipWithError("failed");
    SetBytes(state, fs::file_size(in));
}

void BM_ZlibInflate(benchmark::State& state) {
    const fs::path in = MixedFile();
    const fs::path packed = Folder() / "mine.qbpk";
    if (!fs::exists(packed)) TheVm().Call("CompressFile", {in.string(), packed.string()});
    for (auto _ : state) ZlibInflate(packed, Folder() / "zlib.out");
    SetBytes(state, fs::file_size(in));
}

void BM_MD5(benchmark::State& state) {
    const fs::path in = BigFile();
    for (auto _ : state)
        if (TheVm().Call("MD5", {in.string()})) state.SkipWithError("failed");
    SetBytes(state, fs::file_size(in));
}

// The external tools are timed by the wall clock of their whole run.
void TimeCommand(benchmark::State& state, const std::string& command, uintmax_t bytes) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("tool failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    SetBytes(state, bytes);
}

void BM_Md5sum(benchmark::State& state) {
    const fs::path in = BigFile();
    TimeCommand(state, "md5sum " + in.string() + " >/dev/null", fs::file_size(in));
}

void BM_FileLines(benchmark::State& state) {
    const fs::path in = LinesFile();
    ScriptState* L = TheVm().L;
    for (auto _ : state) {
        if (TheVm().Call("FileLines", {in.string()})) state.SkipWithError("failed");
        for (;;) {
            VmPushValue(L, 1);
            VmPCall(L, 0, 1, 0);
            const bool end = VmType(L, -1) == kTypeNil;
            VmSetTop(L, 1);
            if (end) break;
        }
    }
    SetBytes(state, fs::file_size(in));
}

void BM_LuaIoLines(benchmark::State& state) {
    const fs::path in = LinesFile();
    TimeCommand(state, "lua5.4 -e 'for l in io.lines(\"" + in.string() + "\") do end'", fs::file_size(in));
}

BENCHMARK(BM_CompressFile)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ZlibDeflate)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DecompressFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MD5)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Md5sum)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_FileLines)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LuaIoLines)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace
