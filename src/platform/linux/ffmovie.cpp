// Opening FFmpeg movies and what the player asks of an open one besides
// its pictures: size, length, frame count, format name, place and volume.
#include "platform/linux/ffmovie.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"

namespace linux_movie {

namespace {

int Refuse(const char* name) {
    SetErrorDetail(name ? name : "");
    return ERR_LOADVIDEO;
}

uint32_t ClampMs(double ms) {
    if (!(ms > 0)) return 0;
    return ms >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(std::llround(ms));
}

// The movie's length: the container's, else the video stream's.
double DurationSeconds(const AVFormatContext* format, const AVStream* stream) {
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return static_cast<double>(format->duration) / AV_TIME_BASE;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    return 0;
}

// The pictures in the video stream's length, each as long as the first;
// without a measured rate, the stream's pictures counted.
int32_t CountFrames(const char* name, AVFormatContext* format, AVStream* stream) {
    double seconds = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else
        seconds = DurationSeconds(format, stream);
    const AVRational rate = av_common::MeasuredFrameRate(format, stream);
    if (rate.num <= 0 || rate.den <= 0)
        return static_cast<int32_t>(std::clamp<int64_t>(av_common::CountStreamPackets(name, stream->index), 0, INT32_MAX));
    if (!(seconds > 0)) return 0;
    const double frames = std::round(seconds * av_q2d(rate));
    return frames >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(frames);
}

}  // namespace

int StartPass(qbNativeMovie& m) {
    MoviePass& p = m.pass;
    p.codec.reset();
    p.input.Reset();
    p.stream = -1;
    p.inputDone = false;
    const int opened = av_common::OpenFileDemuxer(m.name.c_str(), &p.input);
    if (opened == AVERROR(ENOMEM)) return ERR_MEM;
    if (opened < 0) return ERR_LOADVIDEO;
    AVFormatContext* format = p.input.format.get();
    const AVCodec* decoder = nullptr;
    p.stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (p.stream < 0 || !decoder) return ERR_LOADVIDEO;
    AVStream* stream = format->streams[p.stream];
    // A cover picture of a sound file is no movie.
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return ERR_LOADVIDEO;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != p.stream) format->streams[i]->discard = AVDISCARD_ALL;
    if (int err = av_common::OpenStreamDecoder(p.codec, stream, decoder, -1); err < 0)
        return err == AVERROR(ENOMEM) ? ERR_MEM : ERR_LOADVIDEO;
    return 0;
}

int OpenQuickTimeMovie(const char* name, qbMovieInfo* out) {
    if (!out) return ERR_WRONGUSAGE;
    *out = qbMovieInfo{};
    std::unique_ptr<qbNativeMovie> m(new (std::nothrow) qbNativeMovie);
    if (!m || !name) return m ? Refuse(name) : ERR_MEM;
    m->name = name;
    if (int err = StartPass(*m)) return err == ERR_MEM ? err : Refuse(name);
    AVFormatContext* format = m->pass.input.format.get();
    AVStream* stream = format->streams[m->pass.stream];
    const AVCodecParameters* par = stream->codecpar;
    if (par->width < 1 || par->height < 1 || int64_t{par->width} * par->height > av_common::MaxMoviePixels())
        return Refuse(name);
    m->frame.reset(av_frame_alloc());
    m->held.reset(av_frame_alloc());
    m->packet.reset(av_packet_alloc());
    if (!m->frame || !m->held || !m->packet) return ERR_MEM;
    m->width = par->width;
    m->height = par->height;
    m->timeBase = stream->time_base;
    m->start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    m->frameCount = CountFrames(m->name.c_str(), format, stream);
    m->walking = true;  // the pass is at the start
    m->formatName = format->iformat->long_name ? format->iformat->long_name : format->iformat->name;
    const double seconds = DurationSeconds(format, stream);
    out->width = m->width;
    out->height = m->height;
    out->duration = ClampMs(seconds * 1000.0);
    out->seekable = seconds > 0 && (format->pb->seekable & AVIO_SEEKABLE_NORMAL) ? 1 : 0;
    out->movie = m.release();
    return 0;
}

void CloseQuickTimeMovie(qbNativeMovie* movie) { std::unique_ptr<qbNativeMovie> gone(movie); }

int SeekQuickTimeMovie(qbNativeMovie* movie, int64_t milliseconds) {
    if (!movie) return ERR_WRONGUSAGE;
    movie->timeMs = ClampMs(static_cast<double>(milliseconds));
    movie->frameReady = false;
    movie->walking = false;
    return 0;
}

int SetQuickTimeMovieVolume(qbNativeMovie* movie, int volume) {
    if (!movie) return ERR_WRONGUSAGE;
    movie->volume = std::clamp(volume, 0, 64);
    return 0;
}

uint32_t GetQuickTimeMovieTime(qbNativeMovie* movie) { return movie ? movie->timeMs : 0; }

int RewindQuickTimeMovie(qbNativeMovie* movie) { return linux_movie::SeekQuickTimeMovie(movie, 0); }

// Pictures are always decoded apart from any window here: nothing to let go.
int DetachMovieFromWindow(qbNativeMovie* movie) { return movie ? 0 : ERR_WRONGUSAGE; }

int MovieFrameCount(qbNativeMovie* movie) { return movie ? movie->frameCount : 0; }

const char* MovieFormatName(qbNativeMovie* movie) { return movie ? movie->formatName.c_str() : ""; }

void FillMovieOps(qbPlatformOps& ops) {
    ops.OpenQuickTimeMovie = &OpenQuickTimeMovie;
    ops.CloseQuickTimeMovie = &CloseQuickTimeMovie;
    ops.DecodeQuickTimeFrame = &DecodeQuickTimeFrame;
    ops.SeekQuickTimeMovie = &SeekQuickTimeMovie;
    ops.SetQuickTimeMovieVolume = &SetQuickTimeMovieVolume;
    ops.GetQuickTimeMovieTime = &GetQuickTimeMovieTime;
    ops.RewindQuickTimeMovie = &RewindQuickTimeMovie;
    ops.DetachMovieFromWindow = &DetachMovieFromWindow;
    ops.MovieFrameCount = &MovieFrameCount;
    ops.MovieFormatName = &MovieFormatName;
}

}  // namespace linux_movie
