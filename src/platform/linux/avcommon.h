// What the FFmpeg decoders share: owners of FFmpeg's contexts, frames and
// packets, so that every way out of a decoder frees what it opened, and the
// input over the file layer (FFmpeg's log off, no nested opens).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/file.h"
#include "core/pixelbuffer.h"

namespace av_common {

struct IOFree {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct FormatClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct ResamplerFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

// FFmpeg would otherwise print to the terminal about every damaged file.
inline void SilenceLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Nested opens (playlists, image sequences) would leave the file layer.
inline int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// An AVIOContext's read and seek over a file of the file layer (the
// opaque pointer).
inline int ReadFilePacket(void* opaque, uint8_t* buffer, int size) {
    if (size <= 0) return 0;
    const size_t got = FileRead(static_cast<qbFile*>(opaque), buffer, static_cast<size_t>(size));
    return got ? static_cast<int>(got) : AVERROR_EOF;
}

inline int64_t SeekFilePacket(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<qbFile*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        const int64_t size = GetFileSize(file);
        return size >= 0 ? size : AVERROR(ENOSYS);
    }
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    const int mode = whence == SEEK_SET ? kSeekBeginning : whence == SEEK_CUR ? kSeekCurrent : kSeekEnd;
    if (FileSeek(file, offset, mode) < 0) return AVERROR(EIO);
    return FileSeek(file, 0, kSeekCurrent);
}

// A demuxer reading a file of the file layer. No demuxer may open further
// files. Members go in reverse order: the format context before its I/O
// context, that before a file the input opened itself.
struct FileInput {
    qbFilePtr ownFile;
    std::unique_ptr<AVIOContext, IOFree> io;
    std::unique_ptr<AVFormatContext, FormatClose> format;

    void Reset() {
        format.reset();
        io.reset();
        ownFile.reset();
    }
};

// FFmpeg's picture readers: image2 and its piped kin, one per picture
// format (PNG, JPEG, JPEG XL, ...), all sharing the image reader's options.
// They take a picture file for a movie of one picture, whose decoders
// (libjxl's, for one) are not made to be rewound and fed the same picture
// again. A real movie of intra-only pictures (MJPEG in AVI, PNG in
// QuickTime) comes through its container's demuxer instead.
inline bool PictureDemuxer(const AVInputFormat* f) {
    if (std::strcmp(f->name, "image2") == 0 || std::strcmp(f->name, "image2pipe") == 0) return true;
    const char* options = f->priv_class ? f->priv_class->class_name : nullptr;
    return options && (std::strcmp(options, "image2 demuxer") == 0 || std::strcmp(options, "imagepipe demuxer") == 0);
}

// The demuxer for the bytes of io, with the file's name to tell the formats
// that are known by their extension (CDXL, Targa, raw streams). A demuxer
// outside the allowed list is never taken by the name: the bytes alone
// decide then. Null allows any demuxer but the picture readers, by name or
// by bytes. Null when none is found; the I/O context is left at its start.
inline const AVInputFormat* ProbeNamedInput(AVIOContext* io, const char* name, const char* allowed) {
    const auto usable = [allowed](const AVInputFormat* f) {
        if (!f) return false;
        return allowed ? av_match_list(f->name, allowed, ',') > 0 : !PictureDemuxer(f);
    };
    const AVInputFormat* format = nullptr;
    if (name && *name && av_probe_input_buffer2(io, &format, name, nullptr, 0, 0) >= 0 && usable(format))
        return format;
    format = nullptr;
    if (av_probe_input_buffer2(io, &format, "", nullptr, 0, 0) < 0) return nullptr;
    return allowed || usable(format) ? format : nullptr;
}

// Opens the format context over io (its name as the context's URL):
// 0, or an FFmpeg error. On failure the context is freed.
inline int OpenNamedInput(AVFormatContext** format, AVIOContext* io, const char* name, const char* allowed) {
    const AVInputFormat* chosen = ProbeNamedInput(io, name, allowed);
    if (!chosen) {
        avformat_free_context(*format);
        *format = nullptr;
        return AVERROR_INVALIDDATA;
    }
    return avformat_open_input(format, name ? name : "", chosen, nullptr);
}

// Opens and probes the file's streams: 0, or an FFmpeg error. name: the
// file's name (may be null).
inline int OpenFileInput(qbFile* file, int bufferBytes, FileInput* out, const char* name = nullptr) {
    SilenceLog();
    auto* buffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(bufferBytes)));
    if (!buffer) return AVERROR(ENOMEM);
    out->io.reset(avio_alloc_context(buffer, bufferBytes, 0, file, &ReadFilePacket, nullptr, &SeekFilePacket));
    if (!out->io) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    AVFormatContext* format = avformat_alloc_context();
    if (!format) return AVERROR(ENOMEM);
    format->pb = out->io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = &RefuseNestedOpen;
    if (int err = OpenNamedInput(&format, out->io.get(), name, nullptr); err < 0) return err;
    out->format.reset(format);
    return avformat_find_stream_info(format, nullptr);
}

// The same over a file of the player's name (ISO 8859-1 or UTF-8), which the
// input owns: AVERROR(ENOENT) when the file does not open.
inline int OpenFileDemuxer(const char* name, FileInput* out) {
    out->Reset();
    out->ownFile.reset(FileOpen(name, kFileModeRead, nullptr));
    if (!out->ownFile) return AVERROR(ENOENT);
    return OpenFileInput(out->ownFile.get(), 64 * 1024, out, name);
}

// Stream times come from the file and may be anything: sums and
// differences of them saturate instead of overflowing.
inline int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? INT64_MAX : INT64_MIN;
}
inline int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t difference;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? INT64_MAX : INT64_MIN;
}

// Pixels a movie picture may have: a converted picture of at most 1 GB, or
// the bound every picture decoder keeps when it is lower. A stream claiming
// more is refused, at the open and in the decoder (whose pictures may grow
// past what the container said), before FFmpeg allocates, clears and
// converts pictures of that size.
inline int64_t MaxMoviePixels() {
    constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 30;
    return static_cast<int64_t>(std::min<uint64_t>(kMaxPictureBytes / 4, GetMaxImagePixels()));
}

// The stream's picture rate, or 0/0 where no average rate was measured:
// FFmpeg's guess then is the time base's rate (Matroska's 1000 a second) or
// the tick its probe found the times to be multiples of, and pictures timed
// or counted by that guess would each be "over" a tick after they are due.
inline AVRational MeasuredFrameRate(AVFormatContext* format, AVStream* stream) {
    const AVRational average = stream->avg_frame_rate;
    if (average.num <= 0 || average.den <= 0) return AVRational{0, 0};
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    if (rate.num <= 0 || rate.den <= 0) return AVRational{0, 0};
    return rate;
}

// The pictures of a stream without a measured rate: its packets, counted
// by a pass over the file's own demuxer (a picture's length is unknown, so
// its duration says nothing of their number). -1 when the file does not
// open again.
inline int64_t CountStreamPackets(const char* name, int index) {
    FileInput input;
    if (OpenFileDemuxer(name, &input) < 0 || index < 0 ||
        index >= static_cast<int>(input.format->nb_streams))
        return -1;
    for (unsigned i = 0; i < input.format->nb_streams; ++i)
        input.format->streams[i]->discard = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!packet) return -1;
    int64_t count = 0;
    while (av_read_frame(input.format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) ++count;
        av_packet_unref(packet.get());
    }
    return count;
}

}  // namespace av_common
