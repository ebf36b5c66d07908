// The decoders' side of the movie source: pictures into the engine's YUV
// or RGB form, sound into 16-bit samples of one or two channels at the
// stream's own rate.
#include <algorithm>
#include <bit>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
}

#include "platform/linux/avfields.h"
#include "platform/linux/avscale.h"
#include "platform/linux/ffsource.h"

namespace ffsource {

namespace {

Packet* AsPacket(void* packet) { return static_cast<Packet*>(packet); }

// Hands the packet (or, for a marker, the end) to the decoder. AVERROR(EAGAIN)
// when it must give output first.
int Send(Decoder& d, Packet& p) {
    if (!p.data) {
        if (d.draining) return 0;
        const int err = av_common::SendToDecoder(d.codec, nullptr);
        if (err != AVERROR(EAGAIN)) d.draining = true;
        return err == AVERROR_EOF ? 0 : err;
    }
    const int err = av_common::SendToDecoder(d.codec, p.data.get());
    return err == AVERROR_EOF ? 0 : err;
}

// The next output at or after the skip time into d.frame: 1, 0 when the
// decoder wants input or has ended, negative on errors.
int Receive(const qbMovieSource& s, Decoder& d, double frameDuration) {
    for (;;) {
        const int err = av_common::ReceiveFromDecoder(d.codec, d.frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return 0;
        if (err < 0) return err;
        if (d.skipUntil < 0.0) return 1;
        const double at = Seconds(s, d.frame->best_effort_timestamp, d.timeBase);
        double lasts = frameDuration;
        if (d.frame->sample_rate > 0) lasts = static_cast<double>(d.frame->nb_samples) / d.frame->sample_rate;
        if (at < 0.0 || at + lasts > d.skipUntil) {
            d.skipUntil = -1.0;
            return 1;
        }
        av_frame_unref(d.frame.get());
    }
}

// Sends the packet, first taking the output that stands in its way.
// 1 with a picture in d.frame, 0 without, negative on errors.
int DecodeOne(const qbMovieSource& s, Decoder& d, Packet& p, double frameDuration) {
    int got = 0;
    if (!p.sent) {
        int err = Send(d, p);
        if (err == AVERROR(EAGAIN)) {
            got = Receive(s, d, frameDuration);
            if (got < 0) return got;
            err = Send(d, p);
            if (err == AVERROR(EAGAIN) && got) return got;  // tried again with the next packet's call
        }
        p.sent = err != AVERROR(EAGAIN);
        if (err < 0 && err != AVERROR(EAGAIN) && !got) {
            // A damaged packet still lets out what was decoded before it.
            const int more = Receive(s, d, frameDuration);
            return more > 0 ? more : err;
        }
        if (got) return got;
    }
    return Receive(s, d, frameDuration);
}

int SwsSpace(const AVFrame& frame, int height) {
    const int space = av_common::ColourSpace(frame.colorspace);
    switch (space) {
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_RGB:
    case AVCOL_SPC_RESERVED: return height >= 720 || frame.width >= 1280 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    default: return space;
    }
}

bool BT601(int space) { return space == SWS_CS_ITU601 || space == SWS_CS_SMPTE170M; }

bool FullRange(const AVFrame& frame) {
    const int format = frame.format;
    return av_common::ColourRange(frame.color_range) == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
           format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// The converter from this picture's form to the stream's size in the
// engine's form, made again when the pictures change.
SwsContext* Converter(Decoder& d, const AVFrame& frame, const qbMovieSourceInfo& info, bool yuv) {
    const int space = SwsSpace(frame, frame.height), range = FullRange(frame) ? 1 : 0;
    if (d.sws && d.swsWidth == frame.width && d.swsHeight == frame.height && d.swsFormat == frame.format &&
        d.swsSpace == space && d.swsRange == range)
        return d.sws.get();
    // Native 0x00RRGGBB words: swscale's own 32-bit RGB road (the one
    // ffmpeg's bgra output takes), turned big-endian after.
    const AVPixelFormat to = yuv ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_0RGB32;
    const AVPixelFormat from = av_common::PixelFormatEnum(frame.format);
    if (from == AV_PIX_FMT_NONE) return nullptr;
    d.sws.reset(sws_getContext(frame.width, frame.height, from, info.width,
                               info.height, to, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!d.sws) return nullptr;
    // The stream's own matrix and range in; studio-range BT.601 out to the
    // engine's converter, or full-range RGB.
    const int* out = sws_getCoefficients(yuv ? SWS_CS_ITU601 : SWS_CS_DEFAULT);
    sws_setColorspaceDetails(d.sws.get(), sws_getCoefficients(space), range, out, yuv ? 0 : 1, 0, 1 << 16, 1 << 16);
    d.swsWidth = frame.width;
    d.swsHeight = frame.height;
    d.swsFormat = frame.format;
    d.swsSpace = space;
    d.swsRange = range;
    return d.sws.get();
}

bool EngineForm(const AVFrame& frame, const qbMovieSourceInfo& info) {
    return frame.format == AV_PIX_FMT_YUV420P && frame.width == info.width && frame.height == info.height &&
           !FullRange(frame) && BT601(SwsSpace(frame, frame.height));
}

// The picture in d.frame handed over: its planes (kept by the packet) or
// its RGB words in the caller's buffer.
int32_t HandOver(qbMovieSource* s, Packet& p, qbMoviePicture* out) {
    Decoder& d = s->video;
    AVFrame& frame = *d.frame;
    out->pts = Seconds(*s, frame.best_effort_timestamp, d.timeBase);
    out->dts = Seconds(*s, frame.pkt_dts, d.timeBase);
    out->repeat = frame.repeat_pict;
    if (!s->pictures) {
        av_frame_unref(&frame);
        return 1;
    }
    const int32_t width = s->info.width, height = s->info.height;
    if (s->yuv && EngineForm(frame, s->info)) {
        if (!p.picture) p.picture.reset(av_frame_alloc());
        if (!p.picture) return -1;
        av_frame_unref(p.picture.get());
        av_frame_move_ref(p.picture.get(), &frame);
        for (int i = 0; i < 3; ++i) {
            out->planes[i] = p.picture->data[i];
            out->pitches[i] = p.picture->linesize[i];
        }
        // Planes upside down (negative pitches) are not the engine's form.
        if (out->pitches[0] > 0 && out->pitches[1] > 0 && out->pitches[2] > 0) return 1;
        av_frame_move_ref(&frame, p.picture.get());
    }
    SwsContext* sws = Converter(d, frame, s->info, s->yuv);
    int result = -1;
    if (sws && s->yuv) {
        av_common::ScaleTarget to;
        if (av_common::PlanarTarget(p.converted, width, height, &to) &&
            av_common::ScalePicture(sws, frame.data, frame.linesize, frame.height, to) > 0) {
            for (int i = 0; i < 3; ++i) {
                out->planes[i] = to.planes[i];
                out->pitches[i] = to.pitches[i];
            }
            result = 1;
        }
    } else if (sws && out->rgb) {
        const av_common::ScaleTarget to = av_common::WordsTarget(out->rgb, out->rgbWords, width, height);
        if (av_common::ScalePicture(sws, frame.data, frame.linesize, frame.height, to) > 0) result = 1;
        if (result == 1 && std::endian::native == std::endian::little) {
            const size_t words = static_cast<size_t>(width) * static_cast<size_t>(height);
            for (size_t i = 0; i < words; ++i) out->rgb[i] = __builtin_bswap32(out->rgb[i]);
        }
    }
    av_frame_unref(&frame);
    return result;
}

// Pending samples into out, as many as fit: the bytes written.
int32_t TakePending(Decoder& d, void* out, int32_t capacity, int channels) {
    const size_t width = static_cast<size_t>(channels);
    const size_t fit = static_cast<size_t>(capacity) / (2 * width) * width;
    const size_t n = std::min(fit, d.pending.size() - d.pendingAt);
    std::memcpy(out, d.pending.data() + d.pendingAt, n * 2);
    d.pendingAt += n;
    if (d.pendingAt == d.pending.size()) {
        d.pending.clear();
        d.pendingAt = 0;
    }
    return static_cast<int32_t>(n * 2);
}

}  // namespace

int32_t DecodeMovieVideo(qbMovieSource* s, void* packet, qbMoviePicture* out) {
    Packet* p = AsPacket(packet);
    if (!p || p->audio) return 0;
    const int got = DecodeOne(*s, s->video, *p, s->info.frameDuration);
    if (got <= 0) return got < 0 ? -1 : 0;
    return HandOver(s, *p, out);
}

int32_t DecodeMovieAudio(qbMovieSource* s, void* packet, void* out, int32_t capacity, int32_t* finished) {
    *finished = 1;
    Packet* p = AsPacket(packet);
    Decoder& d = s->audio;
    const int channels = s->info.audioChannels;
    if (!p || !p->audio || !d.codec || d.soundEnded || channels < 1 || capacity < 2 * channels) return 0;
    *finished = 0;
    // Each call hands out what the last one had no room for before it
    // decodes more, and converts a frame a piece at a time, so that what
    // waits stays bounded however long the frame and however far its rate
    // is converted; the packet is finished only when nothing is left.
    while (d.pendingAt >= d.pending.size()) {
        if (d.holding) {
            const int err =
                av_common::ConvertSamples(d.samples, *d.frame, &d.frameDone, channels, s->info.audioRate, d.pending);
            if (err < 0 || d.frameDone >= d.frame->nb_samples) {
                d.holding = false;
                av_frame_unref(d.frame.get());
            }
            // A frame at a rate no sound has: the sound ends there.
            if (err == AVERROR_INVALIDDATA) d.soundEnded = true;
            if (err < 0) {
                *finished = 1;
                return -1;
            }
            continue;
        }
        const int got = DecodeOne(*s, d, *p, 0.0);
        if (got < 0) {
            *finished = 1;
            return -1;
        }
        if (got > 0) {
            d.holding = true;
            d.frameDone = 0;
            continue;
        }
        // Used up; at the very end the converter gives what it held back.
        if (!p->data && p->sent && !d.samplesDrained) {
            d.samplesDrained = true;
            // A failed drain keeps what it gave.
            av_common::DrainSamples(d.samples, channels, d.pending);
            continue;
        }
        *finished = p->sent ? 1 : 0;
        return 0;
    }
    return TakePending(d, out, capacity, channels);
}

void FlushMovieVideo(qbMovieSource* s) {
    if (!s->video.codec) return;
    av_common::FlushDecoder(s->video.codec);
    s->video.draining = false;
    s->video.skipUntil = s->videoSkip.exchange(-1.0);
}

void FlushMovieAudio(qbMovieSource* s) {
    if (!s->audio.codec) return;
    av_common::FlushDecoder(s->audio.codec);
    s->audio.draining = false;
    s->audio.skipUntil = s->audioSkip.exchange(-1.0);
    av_common::ResetSamples(s->audio.samples);
    s->audio.pending.clear();
    s->audio.pendingAt = 0;
    s->audio.samplesDrained = false;
    if (s->audio.holding) av_frame_unref(s->audio.frame.get());
    s->audio.holding = false;
    s->audio.soundEnded = false;
}

}  // namespace ffsource
