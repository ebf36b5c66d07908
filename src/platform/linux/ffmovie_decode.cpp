// The pictures of an FFmpeg movie: the walk from the start that counts
// them, the search for the one shown at a time, and their conversion to
// host-order 0xAARRGGBB words in the colours the stream declares.
#include <algorithm>
#include <new>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "core/errcodes.h"
#include "platform/linux/avfields.h"
#include "platform/linux/avscale.h"
#include "platform/linux/ffmovie.h"

namespace linux_movie {

namespace {

// Errors the decoder answers in a row with no packet read between, after
// which the walk ends: one that keeps failing with nothing left to feed it.
// Damaged packets never end the walk; the decoder's own give-up bounds
// what they cost, and the pictures after them are still found.
constexpr int kMaxDecodeErrors = 64;

// The picture's place, in the stream's time base; pictures without a time
// are taken to follow the last.
int64_t PictureTime(const AVFrame* frame, int64_t previous) {
    const int64_t t = frame->best_effort_timestamp;
    if (t != AV_NOPTS_VALUE) return t;
    return frame->pts != AV_NOPTS_VALUE ? frame->pts : av_common::SaturatingAdd(previous, 1);
}

uint32_t TimeToMs(const qbNativeMovie& m, int64_t time) {
    const int64_t ms = av_rescale_q(av_common::SaturatingSub(time, m.start), m.timeBase, AVRational{1, 1000});
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, UINT32_MAX));
}

bool FullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

// The stream's own matrix; a stream that names none is BT.709 in HD sizes
// and BT.601 below.
int ColourMatrix(const AVFrame* frame) {
    switch (av_common::ColourSpace(frame->colorspace)) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE170M: return SWS_CS_SMPTE170M;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return frame->width >= 1280 || frame->height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// Back to the start of the file, the walk's counter before its first picture.
int Restart(qbNativeMovie& m) {
    if (int err = StartPass(m)) return err == ERR_MEM ? err : ERR_VIDEOFRAME;
    m.counter = -1;
    m.walking = true;
    return 0;
}

int Deliver(qbNativeMovie& m, const AVFrame* frame, int64_t time, qbMovieFrame* out) {
    if (int err = ConvertPicture(m, frame)) return err;
    m.frameReady = true;
    m.timeMs = TimeToMs(m, time);
    out->pixels = m.pixels.data();
    out->width = m.width;
    out->height = m.height;
    out->modulo = m.width;
    return 0;
}

int DecodeByFrame(qbNativeMovie& m, int64_t frame, qbMovieFrame* out) {
    if (frame < 0) return ERR_VIDEOFRAME;
    if (m.frameReady && m.walking && frame == m.counter) {
        out->pixels = m.pixels.data();
        out->width = m.width;
        out->height = m.height;
        out->modulo = m.width;
        return 0;
    }
    if (!m.walking || frame <= m.counter)
        if (int err = Restart(m)) return err;
    m.frameReady = false;
    while (m.counter < frame) {
        if (!NextPicture(m)) return ERR_VIDEOFRAME;
        ++m.counter;
    }
    return Deliver(m, m.frame.get(), PictureTime(m.frame.get(), 0), out);
}

// The last picture that starts at or before the time: from the key
// picture before it, or, where the file cannot seek there, from the start.
int DecodeByTime(qbNativeMovie& m, int64_t milliseconds, qbMovieFrame* out) {
    m.frameReady = false;
    m.walking = false;
    m.counter = -1;
    // In 64 bits and rounded down: 1500 ms at 25 pictures a second is
    // within picture 37 (1480 to 1520 ms).
    const int64_t target = av_common::SaturatingAdd(
        m.start,
        av_rescale_q_rnd(std::max<int64_t>(milliseconds, 0), AVRational{1, 1000}, m.timeBase, AV_ROUND_DOWN));
    bool fromStart = av_seek_frame(m.pass.input.format.get(), m.pass.stream, target, AVSEEK_FLAG_BACKWARD) < 0;
    if (fromStart) {
        if (int err = Restart(m)) return err;
    } else {
        av_common::FlushDecoder(m.pass.codec);
        m.pass.inputDone = false;
    }
    m.walking = false;
    bool haveHeld = false;
    int64_t heldTime = 0, last = av_common::SaturatingSub(m.start, 1);
    for (;;) {
        if (!NextPicture(m)) {
            if (!haveHeld) return ERR_VIDEOFRAME;
            return Deliver(m, m.held.get(), heldTime, out);
        }
        const int64_t time = PictureTime(m.frame.get(), last);
        last = time;
        if (time > target) {
            if (haveHeld) return Deliver(m, m.held.get(), heldTime, out);
            // A seek that landed past the time: the walk from the start
            // finds it.
            if (!fromStart && time > m.start) {
                if (int err = Restart(m)) return err;
                m.walking = false;
                fromStart = true;
                last = av_common::SaturatingSub(m.start, 1);
                continue;
            }
            return Deliver(m, m.frame.get(), time, out);
        }
        av_frame_unref(m.held.get());
        av_frame_move_ref(m.held.get(), m.frame.get());
        haveHeld = true;
        heldTime = time;
    }
}

}  // namespace

int NextPicture(qbNativeMovie& m) {
    MoviePass& p = m.pass;
    av_frame_unref(m.frame.get());
    for (int errors = 0; errors < kMaxDecodeErrors;) {
        const int got = av_common::ReceiveFromDecoder(p.codec, m.frame.get());
        if (got == 0) return 1;
        if (got == AVERROR_EOF) return 0;
        if (got != AVERROR(EAGAIN)) {
            ++errors;
            continue;
        }
        if (p.inputDone) return 0;
        if (av_read_frame(p.input.format.get(), m.packet.get()) < 0) {
            // The end, or bytes past repair: what the decoder holds comes out.
            p.inputDone = true;
            av_common::SendToDecoder(p.codec, nullptr);
            continue;
        }
        if (m.packet->stream_index != p.stream) {
            av_packet_unref(m.packet.get());
            continue;
        }
        av_common::SendToDecoder(p.codec, m.packet.get());
        av_packet_unref(m.packet.get());
        errors = 0;
    }
    return 0;
}

int ConvertPicture(qbNativeMovie& m, const AVFrame* frame) {
    const AVPixelFormat format = av_common::PixelFormatEnum(frame->format);
    if (frame->width < 1 || frame->height < 1 || format == AV_PIX_FMT_NONE) return ERR_VIDEOFRAME;
    const size_t words = ConvertedPictureWords(m.width, m.height);
    if (m.pixels.size() != words) {
        try {
            m.pixels.assign(words, 0);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    if (!m.sws || m.swsWidth != frame->width || m.swsHeight != frame->height || m.swsFormat != frame->format) {
        m.sws.reset(sws_getContext(frame->width, frame->height, format, m.width,
                                   m.height, AV_PIX_FMT_RGB32, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                   nullptr, nullptr, nullptr));
        if (!m.sws) return ERR_VIDEOFRAME;
        m.swsWidth = frame->width;
        m.swsHeight = frame->height;
        m.swsFormat = frame->format;
    }
    const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(format);
    if (described && !(described->flags & AV_PIX_FMT_FLAG_RGB) && !(described->flags & AV_PIX_FMT_FLAG_PAL)) {
        const int fullRange =
            av_common::ColourRange(frame->color_range) == AVCOL_RANGE_JPEG || FullRangeFormat(frame->format) ? 1 : 0;
        sws_setColorspaceDetails(m.sws.get(), sws_getCoefficients(ColourMatrix(frame)), fullRange,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    const av_common::ScaleTarget to = av_common::WordsTarget(m.pixels.data(), m.pixels.size(), m.width, m.height);
    if (av_common::ScalePicture(m.sws.get(), frame->data, frame->linesize, frame->height, to) != m.height)
        return ERR_VIDEOFRAME;
    return 0;
}

int DecodeQuickTimeFrame(qbNativeMovie* movie, int64_t frameOrTime, int byTime, qbMovieFrame* out) {
    if (!movie || !out) return ERR_WRONGUSAGE;
    *out = qbMovieFrame{};
    return byTime ? DecodeByTime(*movie, frameOrTime, out) : DecodeByFrame(*movie, frameOrTime, out);
}

}  // namespace linux_movie
