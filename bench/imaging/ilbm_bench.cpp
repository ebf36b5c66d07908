// IFF ILBM against its peers: a 1920x1080 8-plane ByteRun1 picture written
// by netpbm's ppmtoilbm, decoded by ReadILBM (file layer, ByteRun1, planar
// to chunky, palette to 0x00RRGGBB words) and by libavcodec's ILBM decoder
// behind its IFF demuxer, with ilbmtoppm's whole run timed beside; and
// ByteRun1 packing of the picture's plane rows in MB/s against ppmtoilbm's
// whole run on the same picture.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "imaging/ilbm.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Files {
    std::string dir = "/tmp/qb-ilbm-bench-" + std::to_string(getpid());
    std::string ppm = dir + "/in.ppm";
    std::string ilbm = dir + "/in.iff";
    std::vector<uint8_t> indices;  // the picture's palette indices
    Files() {
        std::system(("mkdir -p " + dir).c_str());
        // 256 colours in bands with some noise, so that runs and literals
        // both occur.
        std::mt19937 rng(7);
        indices.resize(static_cast<size_t>(kWidth) * kHeight);
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint8_t i = static_cast<uint8_t>((x / 24 + y / 16 + (rng() % 8 == 0 ? rng() % 4 : 0)) & 255);
                indices[static_cast<size_t>(y) * kWidth + x] = i;
                out.put(static_cast<char>(i)).put(static_cast<char>(255 - i)).put(static_cast<char>(i * 7));
            }
        out.close();
        std::system(("ppmtoilbm -maxplanes 8 -compress " + ppm + " > " + ilbm + " 2>/dev/null").c_str());
    }
    ~Files() { std::system(("rm -rf " + dir).c_str()); }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void BM_ReadILBM(benchmark::State& state) {
    const std::string& name = TestFiles().ilbm;
    for (auto _ : state) {
        qbFilePtr file(FileOpen(name.c_str(), kFileModeRead, nullptr));
        ILBMReadRequest request;
        if (ReadILBM(file.get(), &request) != 0) {
            state.SkipWithError("ReadILBM failed");
            return;
        }
        benchmark::DoNotOptimize(request.pixels[kWidth * kHeight - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_LibavcodecILBM(benchmark::State& state) {
    av_log_set_level(AV_LOG_QUIET);
    const std::string& name = TestFiles().ilbm;
    for (auto _ : state) {
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, name.c_str(), nullptr, nullptr) < 0) {
            state.SkipWithError("no IFF demuxer");
            return;
        }
        const AVCodecParameters* par = format->streams[0]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        AVCodecContext* codec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codec, par);
        avcodec_open2(codec, decoder, nullptr);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        bool got = false;
        while (!got && av_read_frame(format, packet) >= 0) {
            if (avcodec_send_packet(codec, packet) >= 0 && avcodec_receive_frame(codec, frame) == 0) got = true;
            av_packet_unref(packet);
        }
        if (!got) {
            state.SkipWithError("libavcodec failed");
            return;
        }
        benchmark::DoNotOptimize(frame->data[0][0]);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_Ilbmtoppm(benchmark::State& state) {
    const std::string command = "ilbmtoppm " + TestFiles().ilbm + " > /dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ilbmtoppm failed");
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// The picture's plane rows, as the writer packs them.
std::vector<uint8_t> PlaneRows() {
    const std::vector<uint8_t>& idx = TestFiles().indices;
    const size_t rowBytes = ILBMRowBytes(kWidth);
    std::vector<uint8_t> rows(rowBytes * 8 * kHeight, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int p = 0; p < 8; ++p) {
            uint8_t* row = &rows[(static_cast<size_t>(y) * 8 + p) * rowBytes];
            for (int x = 0; x < kWidth; ++x)
                if (idx[static_cast<size_t>(y) * kWidth + x] >> p & 1) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    return rows;
}

void BM_PackByteRun1(benchmark::State& state) {
    const std::vector<uint8_t> rows = PlaneRows();
    const size_t rowBytes = ILBMRowBytes(kWidth);
    std::vector<uint8_t> out(ByteRun1WorstCase(rowBytes));
    for (auto _ : state) {
        size_t packed = 0;
        for (size_t at = 0; at < rows.size(); at += rowBytes) packed += PackByteRun1Row(&rows[at], rowBytes, out.data());
        benchmark::DoNotOptimize(packed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(rows.size()));
}

void BM_Ppmtoilbm(benchmark::State& state) {
    const std::string command = "ppmtoilbm -maxplanes 8 -compress " + TestFiles().ppm + " > /dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ppmtoilbm failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(ILBMRowBytes(kWidth)) * 8 *
                            kHeight);
}

}  // namespace

BENCHMARK(BM_ReadILBM)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibavcodecILBM)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Ilbmtoppm)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PackByteRun1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Ppmtoilbm)->Unit(benchmark::kMillisecond)->MinTime(2.0);
