// Applet loading: a 50 MB applet with 1,000 linked files loaded by the
// player against reading the same file whole the way cat does, and the
// inflation of its compressed twin against zlib's own inflate loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/appletload.h"
#include "core/packfile.h"
#include "core/settings.h"
#include "lib/applet_writer.h"
#include "player/startup.h"
#include "vm/vm.h"

namespace {

constexpr size_t kLinkedFiles = 1000;
constexpr size_t kLinkedFileSize = 48 * 1000;
constexpr size_t kBodySize = 2 * 1000 * 1000;
constexpr size_t kCatBuffer = 128 * 1024;  // what cat reads at a time
constexpr size_t kZlibPiece = 16384;

// Bytes that compress about 3:1, like code and pictures mixed.
std::vector<uint8_t> Filler(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    std::mt19937 random(seed);
    static const char kWords[] = "player applet display brush sprite layer sound ";
    for (size_t i = 0; i < n; ++i) out[i] = (i / 64) % 3 == 0 ? static_cast<uint8_t>(random()) : kWords[i % (sizeof kWords - 1)];
    return out;
}

struct Files {
    std::filesystem::path dir;
    std::string plain, packed, target;
};

const Files& TestFiles() {
    static const Files files = [] {
        Files f;
        f.dir = std::filesystem::temp_directory_path() / ("qb_appletbench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(f.dir);
        AppletDesc desc;
        desc.body = Filler(kBodySize, 1);
        for (size_t i = 0; i < kLinkedFiles; ++i)
            desc.linkedFiles.push_back({"data/file" + std::to_string(i) + ".bin", Filler(kLinkedFileSize, 2 + i),
                                        LinkPlacement::Inline, {}, {}});
        auto write = [](const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
            std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
            return p.string();
        };
        f.plain = write(f.dir / "big.qba", BuildApplet(desc));
        desc.compress = true;
        f.packed = write(f.dir / "packed.qba", BuildApplet(desc));
        f.target = (f.dir / "inflated.qba").string();
        std::atexit([] { std::filesystem::remove_all(TestFiles().dir); });
        return f;
    }();
    return files;
}

void LoadOnce(benchmark::State& state, const std::string& path) {
    ScriptState* L = VmOpen();
    SetRuntimeTag(kTagQuiet, 1);
    for (auto _ : state) {
        auto applet = std::make_unique<qbApplet>();
        auto cl = std::make_unique<qbCommandLine>();
        VmRegistrySetLightUserdata(L, "applet", applet.get());
        VmRegistrySetLightUserdata(L, "clargs", cl.get());
        std::snprintf(cl->scriptPath, sizeof cl->scriptPath, "%s", path.c_str());
        cl->quiet = 1;
        if (LoadScriptOrApplet(L, cl.get(), applet.get()) != 0 || applet->linkedFiles.size() != kLinkedFiles)
            state.SkipWithError("load failed");
        DeleteTemporaryFiles();
    }
    VmClose(L);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_LoadApplet(benchmark::State& state) { LoadOnce(state, TestFiles().plain); }

void BM_ReadWholeLikeCat(benchmark::State& state) {
    const std::string& path = TestFiles().plain;
    std::vector<char> buffer(kCatBuffer);
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t got, total = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) total += got;
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_InflatePackFile(benchmark::State& state) {
    const Files& f = TestFiles();
    uint64_t inflated = 0;
    for (auto _ : state) {
        if (InflatePackFile(kAppletPackMagic, f.packed.c_str(), f.target.c_str(), nullptr, 0, &inflated, nullptr,
                            nullptr, 0) != 0)
            state.SkipWithError("inflate failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inflated));
}

// zlib's example loop (zpipe): fread and fwrite in pieces around inflate.
void BM_ZlibInflateLoop(benchmark::State& state) {
    const Files& f = TestFiles();
    std::vector<unsigned char> in(kZlibPiece), out(kZlibPiece);
    uint64_t inflated = 0;
    for (auto _ : state) {
        FILE* source = std::fopen(f.packed.c_str(), "rb");
        FILE* dest = std::fopen(f.target.c_str(), "wb");
        std::fseek(source, static_cast<long>(kPackHeaderSize), SEEK_SET);
        z_stream z{};
        inflateInit(&z);
        int r = Z_OK;
        do {
            z.avail_in = static_cast<uInt>(std::fread(in.data(), 1, in.size(), source));
            if (z.avail_in == 0) break;
            z.next_in = in.data();
            do {
                z.avail_out = static_cast<uInt>(out.size());
                z.next_out = out.data();
                r = inflate(&z, Z_NO_FLUSH);
                std::fwrite(out.data(), 1, out.size() - z.avail_out, dest);
            } while (z.avail_out == 0);
        } while (r != Z_STREAM_END);
        inflated = z.total_out;
        inflateEnd(&z);
        std::fclose(dest);
        std::fclose(source);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inflated));
}

void BM_LoadCompressedApplet(benchmark::State& state) { LoadOnce(state, TestFiles().packed); }

BENCHMARK(BM_LoadApplet)->Name("LoadScriptOrApplet 50 MB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWholeLikeCat)->Name("read whole file (cat)")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflatePackFile)->Name("InflatePackFile")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateLoop)->Name("zlib inflate loop")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCompressedApplet)->Name("LoadScriptOrApplet compressed")->Unit(benchmark::kMillisecond);

}  // namespace
