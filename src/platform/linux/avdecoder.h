// A stream's decoder that is opened anew once it has failed. Some of the
// libraries behind FFmpeg's decoders (libjxl among them) crash when a
// decoder that reported an error is flushed or given another packet, so a
// decoder that failed is never flushed or fed again: the flush of a seek,
// or the next key packet, goes to a fresh one. The packets between are
// dropped (a fresh decoder could not use them), so a run of damaged
// packets costs one open, not one each; in a stream that flags no key
// packets, every packet after a failure reopens as before. A stream whose
// fresh decoders keep failing with no picture or sound between is given up
// after kMaxFailedOpens, not for good: a damaged stretch can end, and what
// follows it must still decode. It is tried again at later key packets,
// further apart the longer it fails (RetryInterval), and at least once a
// second of the stream's time, so a long damaged stretch costs few opens
// and a good stretch after it loses at most a second; any picture or sound
// ends the give-up.
#pragma once

#include <algorithm>
#include <atomic>

#include "platform/linux/avcommon.h"

namespace av_common {

// Fresh decoders opened in a row, each failing before a picture or a sound
// came out, after which the stream is given up: tried again only every
// RetryInterval key packets (a stream of key packets alone, MJPEG or sound,
// opens one for every damaged packet until then).
constexpr int kMaxFailedOpens = 64;
// The interval of a given-up stream's tries, in key packets, at most.
constexpr int kMaxRetryInterval = 64;
// And in the stream's time: a try at least this often, where packets have times.
constexpr int64_t kRetryEveryMs = 1000;

// Decoders opened in this process, for tests that count the opens a stream
// costs.
inline std::atomic<int64_t>& DecoderOpens() {
    static std::atomic<int64_t> opens{0};
    return opens;
}

struct StreamDecoder {
    std::unique_ptr<AVCodecContext, CodecFree> context;  // null only while a reopen fails
    const AVStream* stream = nullptr;  // owned by the demuxer, which outlives the decoder
    const AVCodec* codec = nullptr;    // null: no decoder
    int threads = -1;                  // FFmpeg's own choice when negative
    bool failed = false;
    bool spent = false;      // a failed decoder gave out what it held
    bool keyed = false;      // the stream flags key packets
    int failedOpens = 0;     // fresh decoders that failed in a row, none of them giving a picture
    int lastError = 0;       // the failure that gave the stream up
    int passedKeys = 0;      // key packets a given-up stream let pass since its last try
    int64_t lastTry = AV_NOPTS_VALUE;  // the time of the packet last tried, in the stream's base
    int64_t opens = 0;       // decoders opened for this stream

    AVCodecContext* get() const { return context.get(); }
    AVCodecContext* operator->() const { return context.get(); }
    explicit operator bool() const { return codec != nullptr; }
    bool givenUp() const { return failedOpens >= kMaxFailedOpens; }
    // Key packets between tries of a given-up stream: doubled for every
    // kMaxFailedOpens tries that failed, up to kMaxRetryInterval.
    int RetryInterval() const {
        if (!givenUp()) return 1;
        const int doublings = std::min((failedOpens - kMaxFailedOpens) / kMaxFailedOpens, 6);
        return std::min(1 << doublings, kMaxRetryInterval);
    }
    void reset() {
        context.reset();
        stream = nullptr;
        codec = nullptr;
        failed = spent = keyed = false;
        failedOpens = lastError = passedKeys = 0;
        lastTry = AV_NOPTS_VALUE;
    }
};

// (Re)opens the decoder of d.stream with its parameters, its packets' time
// base and the pixel cap: 0, or an FFmpeg error (the decoder stays failed).
inline int ReopenStreamDecoder(StreamDecoder& d) {
    d.failed = true;
    d.spent = false;
    d.context.reset(d.codec ? avcodec_alloc_context3(d.codec) : nullptr);
    if (!d.context) return AVERROR(ENOMEM);
    int err = avcodec_parameters_to_context(d.context.get(), d.stream->codecpar);
    if (err >= 0) {
        d.context->pkt_timebase = d.stream->time_base;
        d.context->max_pixels = MaxMoviePixels();
        if (d.threads >= 0) {
            d.context->thread_count = d.threads;
            d.context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        }
        err = avcodec_open2(d.context.get(), d.codec, nullptr);
        ++d.opens;
        ++DecoderOpens();
    }
    if (err < 0) {
        d.context.reset();
        return err;
    }
    d.failed = false;
    return 0;
}

inline int OpenStreamDecoder(StreamDecoder& d, const AVStream* stream, const AVCodec* codec, int threads) {
    d.stream = stream;
    d.codec = codec;
    d.threads = threads;
    d.keyed = false;
    d.failedOpens = d.lastError = d.passedKeys = 0;
    d.lastTry = AV_NOPTS_VALUE;
    return ReopenStreamDecoder(d);
}

inline bool DecoderFailure(int err) { return err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF; }

inline void NoteFailure(StreamDecoder& d, int err) {
    if (!DecoderFailure(err)) return;
    if (!d.failed) ++d.failedOpens;
    d.failed = true;
    d.lastError = err;
}

// Whether a given-up stream tries the key packet: every RetryInterval
// key packets, or a second of the stream's time after the last try.
inline bool DueForTry(StreamDecoder& d, const AVPacket& packet) {
    const int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    bool due = ++d.passedKeys >= d.RetryInterval();
    if (!due && time != AV_NOPTS_VALUE && d.lastTry != AV_NOPTS_VALUE && d.stream) {
        const int64_t since = av_rescale_q(SaturatingSub(time, d.lastTry), d.stream->time_base, AVRational{1, 1000});
        due = since >= kRetryEveryMs;
    }
    return due;
}

// avcodec_send_packet (null: the end of the input), to a fresh decoder
// when the last one failed. After a failure, packets before the next key
// packet are dropped (0: taken), and a given-up stream drops the key
// packets between its tries too; at the end of the input it answers its
// error.
inline int SendToDecoder(StreamDecoder& d, const AVPacket* packet) {
    if (packet && (packet->flags & AV_PKT_FLAG_KEY)) d.keyed = true;
    if (d.failed || !d.context) {
        if (!packet && d.givenUp()) return d.lastError ? d.lastError : AVERROR_INVALIDDATA;
        if (packet && d.keyed && !(packet->flags & AV_PKT_FLAG_KEY)) return 0;
        if (packet && !DueForTry(d, *packet)) return 0;
        d.passedKeys = 0;
        if (packet) d.lastTry = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (int err = ReopenStreamDecoder(d); err < 0) {
            // A decoder that no longer opens counts as one that failed.
            ++d.failedOpens;
            d.lastError = err;
            return err;
        }
    }
    const int err = avcodec_send_packet(d.context.get(), packet);
    NoteFailure(d, err);
    return err;
}

// avcodec_receive_frame; what a failed decoder still holds may come out,
// until it answers anything else. A picture ends a run of failed opens.
inline int ReceiveFromDecoder(StreamDecoder& d, AVFrame* frame) {
    if (!d.context || (d.failed && d.spent)) return AVERROR(EAGAIN);
    const int err = avcodec_receive_frame(d.context.get(), frame);
    if (err == 0) {
        if (!d.failed) d.failedOpens = 0;
        return 0;
    }
    if (d.failed) {
        d.spent = true;
        return err == AVERROR_EOF ? err : AVERROR(EAGAIN);
    }
    NoteFailure(d, err);
    return err;
}

// Empties the decoder for a seek: a failed one is replaced instead, and a
// given-up stream is tried again from where the seek landed.
inline void FlushDecoder(StreamDecoder& d) {
    if (!d.codec) return;
    d.failedOpens = d.lastError = d.passedKeys = 0;
    d.lastTry = AV_NOPTS_VALUE;
    if (d.failed || !d.context)
        ReopenStreamDecoder(d);
    else
        avcodec_flush_buffers(d.context.get());
}

}  // namespace av_common
