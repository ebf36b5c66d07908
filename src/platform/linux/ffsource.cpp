// Opening a movie for the engine, and the reader's side: packets of the
// best picture and sound streams only, end-of-file markers that drain the
// decoders, and seeks by time.
#include "platform/linux/ffsource.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <climits>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/avfields.h"

// libavcodec's own threads hand their pictures over through atomics inside
// a library that ThreadSanitizer does not see into: under it the decoders
// run on the engine's threads alone, which is what it is there to check.
#if defined(__SANITIZE_THREAD__)
#define QB_MOVIE_DECODER_THREADS_HIDDEN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QB_MOVIE_DECODER_THREADS_HIDDEN 1
#endif
#endif

namespace ffsource {

namespace {

constexpr int kIOBufferBytes = 256 * 1024;
// Markers beyond the decoder's own threads: the deepest picture reordering
// H.264 and HEVC allow, and a spare.
constexpr int kReorderMarkers = 18;

int LoadError(const char* path) {
    SetErrorDetail(path ? path : "");
    return ERR_LOADVIDEO;
}

uint32_t ClampMs(int64_t ms) { return static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, UINT32_MAX)); }

// Studio-range BT.601 4:2:0 is what the engine's own converter takes; a
// stream that names no matrix is BT.601 below HD sizes and BT.709 from them.
bool EngineYUV(const AVCodecParameters& p) {
    if (p.format != AV_PIX_FMT_YUV420P || av_common::ColourRange(p.color_range) == AVCOL_RANGE_JPEG) return false;
    const int space = av_common::ColourSpace(p.color_space);
    if (space == AVCOL_SPC_BT470BG || space == AVCOL_SPC_SMPTE170M) return true;
    return space == AVCOL_SPC_UNSPECIFIED && p.width < 1280 && p.height < 720;
}

int OpenDecoder(Decoder* d, const AVStream* stream, const AVCodec* codec, int threads) {
    d->frame.reset(av_frame_alloc());
    if (!d->frame) return AVERROR(ENOMEM);
#ifdef QB_MOVIE_DECODER_THREADS_HIDDEN
    if (threads >= 0) threads = 1;
#endif
    d->timeBase = stream->time_base;
    d->stream = stream->index;
    return av_common::OpenStreamDecoder(d->codec, stream, codec, threads);
}

// The packet record that stands for the end of the file.
int32_t HandOutMarker(qbMovieSource* s, qbMoviePacket* out) {
    const bool audio = s->videoMarkers == 0;
    if (audio && s->audioMarkers == 0) return -1;
    Packet* marker = new (std::nothrow) Packet;
    if (!marker) return -2;
    marker->audio = audio;
    --(audio ? s->audioMarkers : s->videoMarkers);
    *out = qbMoviePacket{marker, audio ? 1 : 0, 0, -1.0};
    return 0;
}

}  // namespace

double Seconds(const qbMovieSource& source, int64_t time, AVRational base) {
    if (time == AV_NOPTS_VALUE) return -1.0;
    return std::max(time * av_q2d(base) - source.start, 0.0);
}

int OpenMovieSource(const char* path, const qbMovieSourceRequest* request, qbMovieSourceInfo* info,
                    qbMovieSource** out) {
    *out = nullptr;
    *info = qbMovieSourceInfo{};
    std::unique_ptr<qbMovieSource> s(new (std::nothrow) qbMovieSource);
    if (!s) return ERR_MEM;
    const qbMovieSourceRequest defaults;
    if (!request) request = &defaults;
    s->pictures = request->pictures != 0;
    s->file.reset(path ? FileOpen(path, kFileModeRead, nullptr) : nullptr);
    if (!s->file) return LoadError(path);
    if (int err = av_common::OpenFileInput(s->file.get(), kIOBufferBytes, &s->input, path); err < 0)
        return err == AVERROR(ENOMEM) ? ERR_MEM : LoadError(path);
    AVFormatContext* f = s->input.format.get();
    const AVCodec* videoCodec = nullptr;
    const int video = av_find_best_stream(f, AVMEDIA_TYPE_VIDEO, -1, -1, &videoCodec, 0);
    if (video < 0 || !videoCodec) return LoadError(path);
    const AVStream* vs = f->streams[video];
    if ((vs->disposition & AV_DISPOSITION_ATTACHED_PIC) || vs->codecpar->width < 1 || vs->codecpar->height < 1 ||
        int64_t{vs->codecpar->width} * vs->codecpar->height > av_common::MaxMoviePixels() ||
        (vs->codecpar->format != AV_PIX_FMT_NONE && av_common::PixelFormat(vs->codecpar->format) < 0))
        return LoadError(path);
    if (OpenDecoder(&s->video, vs, videoCodec, std::max(request->threads, 0)) < 0) return LoadError(path);
    const AVCodec* audioCodec = nullptr;
    const int audio = av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, video, &audioCodec, 0);
    if (audio >= 0 && audioCodec && f->streams[audio]->codecpar->sample_rate > 0 &&
        f->streams[audio]->codecpar->ch_layout.nb_channels > 0 &&
        OpenDecoder(&s->audio, f->streams[audio], audioCodec, -1) >= 0) {
        info->audioRate = f->streams[audio]->codecpar->sample_rate;
        info->audioChannels = f->streams[audio]->codecpar->ch_layout.nb_channels >= 2 ? 2 : 1;
    } else {
        // A sound track that cannot be decoded leaves the pictures silent.
        s->audio.codec.reset();
        s->audio.stream = -1;
    }
    for (unsigned i = 0; i < f->nb_streams; ++i)
        f->streams[i]->discard =
            static_cast<int>(i) == video || static_cast<int>(i) == s->audio.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    s->startTime = vs->start_time != AV_NOPTS_VALUE ? av_rescale_q(vs->start_time, vs->time_base, AV_TIME_BASE_Q)
                   : f->start_time != AV_NOPTS_VALUE ? f->start_time
                                                     : 0;
    s->start = static_cast<double>(s->startTime) / AV_TIME_BASE;
    s->drainMarkers = std::max(s->video.codec->thread_count, 1) + kReorderMarkers;
    s->yuv = EngineYUV(*vs->codecpar);
    info->width = vs->codecpar->width;
    info->height = vs->codecpar->height;
    const int64_t duration = f->duration != AV_NOPTS_VALUE ? av_rescale(f->duration, 1000, AV_TIME_BASE)
                             : vs->duration != AV_NOPTS_VALUE ? av_rescale_q(vs->duration, vs->time_base, {1, 1000})
                                                              : 0;
    info->duration = ClampMs(duration);
    info->framesAreRGB = s->yuv ? 0 : 1;
    info->seekable = (s->input.io->seekable & AVIO_SEEKABLE_NORMAL) && info->duration > 0 ? 1 : 0;
    // 0 where no rate was measured: the pictures' own times pace them.
    const AVRational rate = av_common::MeasuredFrameRate(f, const_cast<AVStream*>(vs));
    info->frameDuration = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
    info->timesMayJump = (f->iformat->flags & AVFMT_TS_DISCONT) ? 1 : 0;
    s->info = *info;
    *out = s.release();
    return 0;
}

void CloseMovieSource(qbMovieSource* source) { std::unique_ptr<qbMovieSource> gone(source); }

int32_t NextMoviePacket(qbMovieSource* s, qbMoviePacket* out) {
    *out = qbMoviePacket{};
    if (s->ended) return HandOutMarker(s, out);
    std::unique_ptr<Packet> packet(new (std::nothrow) Packet);
    if (!packet) return -2;
    packet->data.reset(av_packet_alloc());
    if (!packet->data) return -2;
    AVPacket* p = packet->data.get();
    AVFormatContext* f = s->input.format.get();
    for (;;) {
        const int err = av_read_frame(f, p);
        if (err == AVERROR_EOF || (err < 0 && avio_feof(f->pb))) {
            s->ended = true;
            s->videoMarkers = s->drainMarkers;
            s->audioMarkers = s->audio.stream >= 0 ? 1 : 0;
            return HandOutMarker(s, out);
        }
        if (err < 0) return -2;
        if (p->stream_index == s->video.stream || (s->audio.stream >= 0 && p->stream_index == s->audio.stream)) break;
        av_packet_unref(p);
    }
    packet->audio = p->stream_index == s->audio.stream;
    const Decoder& d = packet->audio ? s->audio : s->video;
    out->isAudio = packet->audio ? 1 : 0;
    out->size = p->size;
    out->pts = Seconds(*s, p->pts != AV_NOPTS_VALUE ? p->pts : p->dts, d.timeBase);
    out->packet = packet.release();
    return 0;
}

void FreeMoviePacket(qbMovieSource*, void* packet) { std::unique_ptr<Packet> gone(static_cast<Packet*>(packet)); }

int32_t SeekMovieSource(qbMovieSource* s, int64_t milliseconds) {
    AVFormatContext* f = s->input.format.get();
    const int64_t at = av_common::SaturatingAdd(
        av_rescale(std::clamp<int64_t>(milliseconds, 0, UINT32_MAX), AV_TIME_BASE, 1000), s->startTime);
    int err = avformat_seek_file(f, -1, INT64_MIN, at, at, 0);
    if (err < 0) err = av_seek_frame(f, -1, at, AVSEEK_FLAG_BACKWARD);
    if (err < 0) return -1;
    s->ended = false;
    s->videoMarkers = s->audioMarkers = 0;
    // What the decoders give between the key frame and the target is not
    // shown: the picture at the target comes first.
    const double target = static_cast<double>(std::clamp<int64_t>(milliseconds, 0, UINT32_MAX)) / 1000.0;
    s->videoSkip = target;
    s->audioSkip = target;
    return 0;
}

}  // namespace ffsource
