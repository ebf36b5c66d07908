// A stream's decoder that is opened anew once it has failed. Some of the
// libraries behind FFmpeg's decoders (libjxl among them) crash when a
// decoder that reported an error is flushed or given another packet, so a
// decoder that failed is never flushed or fed again: the flush of a seek,
// or the next key packet, goes to a fresh one. The packets between are
// dropped (a fresh decoder could not use them), so a run of damaged
// packets costs one open, not one each; in a stream that flags no key
// packets, every packet after a failure reopens as before. A stream whose
// fresh decoders keep failing with no picture between is given up after
// kMaxFailedOpens: its later packets answer the last error until a seek.
#pragma once

#include <atomic>

#include "platform/linux/avcommon.h"

namespace av_common {

// Fresh decoders opened in a row, each failing before a picture or a sound
// came out, after which the stream is given up: as many as the frame walk
// takes errors in a row (a stream of key packets alone, MJPEG or sound,
// opens one for every damaged packet).
constexpr int kMaxFailedOpens = 64;

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
    int64_t opens = 0;       // decoders opened for this stream

    AVCodecContext* get() const { return context.get(); }
    AVCodecContext* operator->() const { return context.get(); }
    explicit operator bool() const { return codec != nullptr; }
    bool givenUp() const { return failedOpens >= kMaxFailedOpens; }
    void reset() {
        context.reset();
        stream = nullptr;
        codec = nullptr;
        failed = spent = keyed = false;
        failedOpens = lastError = 0;
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
    d.failedOpens = d.lastError = 0;
    return ReopenStreamDecoder(d);
}

inline bool DecoderFailure(int err) { return err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF; }

inline void NoteFailure(StreamDecoder& d, int err) {
    if (!DecoderFailure(err)) return;
    if (!d.failed) ++d.failedOpens;
    d.failed = true;
    d.lastError = err;
}

// avcodec_send_packet (null: the end of the input), to a fresh decoder
// when the last one failed. After a failure, packets before the next key
// packet are dropped (0: taken); a given-up stream answers its error.
inline int SendToDecoder(StreamDecoder& d, const AVPacket* packet) {
    if (packet && (packet->flags & AV_PKT_FLAG_KEY)) d.keyed = true;
    if (d.failed || !d.context) {
        if (d.givenUp()) return d.lastError ? d.lastError : AVERROR_INVALIDDATA;
        if (packet && d.keyed && !(packet->flags & AV_PKT_FLAG_KEY)) return 0;
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
    d.failedOpens = 0;
    d.lastError = 0;
    if (d.failed || !d.context)
        ReopenStreamDecoder(d);
    else
        avcodec_flush_buffers(d.context.get());
}

}  // namespace av_common
