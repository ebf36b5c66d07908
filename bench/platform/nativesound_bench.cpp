// The platform sound decoder against a plain FFmpeg loop: a 10-minute
// 44.1 kHz stereo MP3 (libmp3lame, 192k) and an Ogg Vorbis file of the same
// sound read to the end through ReadNativeAudioPackets in one-second
// requests (file layer, AVIOContext, decoder, libswresample to 16-bit), and
// the same files through libavformat + libavcodec + libswresample opened by
// path, producing the same 16-bit interleaved frames. ffmpeg's own
// "-benchmark" decode of each file is printed beside them.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 600;

struct Files {
    std::string dir = "/tmp/qb-nativesound-bench-" + std::to_string(getpid());
    std::string mp3 = dir + "/long.mp3";
    std::string ogg = dir + "/long.ogg";
    Files() {
        std::system(("mkdir -p " + dir).c_str());
        // Two tones with some noise, so that neither encoder has it easy.
        const std::string source = "-f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t)+0.05*random(0)|"
                                   "0.4*sin(2*PI*523*t)+0.05*random(1):s=44100:d=" +
                                   std::to_string(kSeconds) + "'";
        std::system(("ffmpeg -v error -y " + source + " -c:a libmp3lame -b:a 192k " + mp3 + " && ffmpeg -v error -y " +
                     source + " -c:a libvorbis " + ogg)
                        .c_str());
        for (const std::string& f : {mp3, ogg}) {
            std::fprintf(stderr, "ffmpeg -benchmark %s: ", f.c_str());
            std::fflush(stderr);
            std::system(("ffmpeg -hide_banner -nostats -benchmark -i " + f +
                         " -f s16le -y /dev/null 2>&1 | grep -o 'utime=.*' >&2")
                            .c_str());
        }
    }
    ~Files() { std::system(("rm -rf " + dir).c_str()); }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void Native(benchmark::State& state, const std::string& name) {
    SetPlatformBackend(&LinuxPlatformOps());
    std::vector<int16_t> second(size_t{kRate} * 2);
    int64_t frames = 0;
    for (auto _ : state) {
        qbNativeAudioFile* f = nullptr;
        if (OpenNativeAudioFile(name.c_str(), 0, &f) != 0) {
            state.SkipWithError("the decoder failed");
            return;
        }
        qbAudioPacketInfo info;
        frames = 0;
        do {
            ReadNativeAudioPackets(f, second.data(), second.size() * 2, &info);
            frames += info.packets;
            benchmark::DoNotOptimize(second.data());
        } while (!info.endOfStream);
        CloseNativeAudioFile(f);
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetItemsProcessed(state.iterations() * frames);
}

// The plain loop: what any FFmpeg program writes to get 16-bit stereo.
int64_t DecodeBare(const char* path, std::vector<int16_t>& out) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path, nullptr, nullptr) < 0) return -1;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* decoder = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
    codec->pkt_timebase = format->streams[stream]->time_base;
    avcodec_open2(codec, decoder, nullptr);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, codec->sample_rate, &codec->ch_layout, codec->sample_fmt,
                        codec->sample_rate, 0, nullptr);
    swr_init(swr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t frames = 0;
    bool flushed = false;
    for (;;) {
        const int got = avcodec_receive_frame(codec, frame);
        if (got == 0) {
            const int room = swr_get_out_samples(swr, frame->nb_samples);
            out.resize(static_cast<size_t>(room) * 2);
            auto* dst = reinterpret_cast<uint8_t*>(out.data());
            frames += swr_convert(swr, &dst, room, const_cast<const uint8_t**>(frame->extended_data),
                                  frame->nb_samples);
            benchmark::DoNotOptimize(out.data());
            continue;
        }
        if (got != AVERROR(EAGAIN) || flushed) break;
        if (av_read_frame(format, packet) < 0) {
            flushed = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index == stream) avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&swr);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return frames;
}

void Bare(benchmark::State& state, const std::string& name) {
    av_log_set_level(AV_LOG_QUIET);
    std::vector<int16_t> out;
    int64_t frames = 0;
    for (auto _ : state) {
        frames = DecodeBare(name.c_str(), out);
        if (frames < 0) {
            state.SkipWithError("FFmpeg failed");
            return;
        }
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_NativeMP3(benchmark::State& s) { Native(s, TestFiles().mp3); }
void BM_BareMP3(benchmark::State& s) { Bare(s, TestFiles().mp3); }
void BM_NativeOgg(benchmark::State& s) { Native(s, TestFiles().ogg); }
void BM_BareOgg(benchmark::State& s) { Bare(s, TestFiles().ogg); }

BENCHMARK(BM_NativeMP3)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareMP3)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NativeOgg)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareOgg)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
