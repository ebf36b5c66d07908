// A stream's decoder that is opened anew once it has failed. Some of the
// libraries behind FFmpeg's decoders (libjxl among them) crash when a
// decoder that reported an error is flushed or given another packet, so a
// decoder that failed is never flushed or fed again: the next packet, or
// the flush of a seek, goes to a fresh one.
#pragma once

#include "platform/linux/avcommon.h"

namespace av_common {

struct StreamDecoder {
    std::unique_ptr<AVCodecContext, CodecFree> context;  // null only while a reopen fails
    const AVStream* stream = nullptr;  // owned by the demuxer, which outlives the decoder
    const AVCodec* codec = nullptr;    // null: no decoder
    int threads = -1;                  // FFmpeg's own choice when negative
    bool failed = false;

    AVCodecContext* get() const { return context.get(); }
    AVCodecContext* operator->() const { return context.get(); }
    explicit operator bool() const { return codec != nullptr; }
    void reset() {
        context.reset();
        stream = nullptr;
        codec = nullptr;
        failed = false;
    }
};

// (Re)opens the decoder of d.stream with its parameters, its packets' time
// base and the pixel cap: 0, or an FFmpeg error (the decoder stays failed).
inline int ReopenStreamDecoder(StreamDecoder& d) {
    d.failed = true;
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
    return ReopenStreamDecoder(d);
}

inline bool DecoderFailure(int err) { return err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF; }

// avcodec_send_packet (null: the end of the input), to a fresh decoder
// when the last one failed.
inline int SendToDecoder(StreamDecoder& d, const AVPacket* packet) {
    if (d.failed || !d.context)
        if (int err = ReopenStreamDecoder(d); err < 0) return err;
    const int err = avcodec_send_packet(d.context.get(), packet);
    if (DecoderFailure(err)) d.failed = true;
    return err;
}

// avcodec_receive_frame; what a failed decoder still holds may come out.
inline int ReceiveFromDecoder(StreamDecoder& d, AVFrame* frame) {
    if (!d.context) return AVERROR(EAGAIN);
    const int err = avcodec_receive_frame(d.context.get(), frame);
    if (DecoderFailure(err)) d.failed = true;
    return err;
}

// Empties the decoder for a seek: a failed one is replaced instead.
inline void FlushDecoder(StreamDecoder& d) {
    if (!d.codec) return;
    if (d.failed || !d.context)
        ReopenStreamDecoder(d);
    else
        avcodec_flush_buffers(d.context.get());
}

}  // namespace av_common
