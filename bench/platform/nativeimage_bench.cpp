// The platform image decoder against a bare libavcodec decode: a 4000x3000
// TIFF (uncompressed and LZW, written by ImageMagick) through
// DecodeNativeImage (file layer, demuxer, decoder, our rows to 0x00RRGGBB
// words), and the same file read into memory and handed whole to
// libavcodec's TIFF decoder, each run allocating its whole picture.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "platform/platform.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct Files {
    std::string dir = "/tmp/qb-nativeimage-bench-" + std::to_string(getpid());
    std::string plain = dir + "/plain.tif";
    std::string lzw = dir + "/lzw.tif";
    Files() {
        std::system(("mkdir -p " + dir).c_str());
        // A photograph stands in: smooth shading with fine noise.
        std::ofstream out(dir + "/in.ppm", std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        std::mt19937 rng(42);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int n = static_cast<int>(rng() % 9) - 4;
                out.put(static_cast<char>(std::clamp(x * 255 / kWidth + n, 0, 255)));
                out.put(static_cast<char>(std::clamp(y * 255 / kHeight + n, 0, 255)));
                out.put(static_cast<char>(std::clamp(((x + y) / 16) % 256 + n, 0, 255)));
            }
        out.close();
        std::system(("convert " + dir + "/in.ppm -compress none " + plain + " && convert " + dir +
                     "/in.ppm -compress lzw " + lzw)
                        .c_str());
    }
    ~Files() { std::system(("rm -rf " + dir).c_str()); }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void Native(benchmark::State& state, const std::string& name) {
    SetPlatformBackend(&LinuxPlatformOps());
    for (auto _ : state) {
        qbFilePtr file(FileOpen(name.c_str(), kFileModeRead, nullptr));
        qbNativeImageRequest request;
        request.file = file.get();
        if (DecodeNativeImage(&request) != 0) {
            state.SkipWithError("the decoder failed");
            return;
        }
        benchmark::DoNotOptimize(GetNativeImageData(request.image)[kWidth * kHeight - 1]);
        FreeNativeImage(request.image);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void Bare(benchmark::State& state, const std::string& name) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* tiff = avcodec_find_decoder(AV_CODEC_ID_TIFF);
    for (auto _ : state) {
        std::vector<uint8_t> bytes;
        if (FILE* f = std::fopen(name.c_str(), "rb")) {
            std::fseek(f, 0, SEEK_END);
            bytes.resize(static_cast<size_t>(std::ftell(f)));
            std::fseek(f, 0, SEEK_SET);
            if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
            std::fclose(f);
        }
        AVCodecContext* codec = avcodec_alloc_context3(tiff);
        avcodec_open2(codec, tiff, nullptr);
        AVPacket* packet = av_packet_alloc();
        packet->data = bytes.data();
        packet->size = static_cast<int>(bytes.size());
        AVFrame* frame = av_frame_alloc();
        if (avcodec_send_packet(codec, packet) < 0 || avcodec_receive_frame(codec, frame) < 0) {
            state.SkipWithError("libavcodec failed");
            return;
        }
        benchmark::DoNotOptimize(frame->data[0][0]);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_TiffPlainNative(benchmark::State& state) { Native(state, TestFiles().plain); }
void BM_TiffPlainBare(benchmark::State& state) { Bare(state, TestFiles().plain); }
void BM_TiffLzwNative(benchmark::State& state) { Native(state, TestFiles().lzw); }
void BM_TiffLzwBare(benchmark::State& state) { Bare(state, TestFiles().lzw); }

}  // namespace

BENCHMARK(BM_TiffPlainBare)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TiffPlainNative)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TiffLzwBare)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TiffLzwNative)->Unit(benchmark::kMillisecond)->MinTime(2.0);
