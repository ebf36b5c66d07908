// The platform image decoder on FFmpeg. The file is read through the file
// layer by an AVIOContext, so applet chunks and file adapters work; only the
// image demuxers are allowed, chosen by the bytes and the file's name, and
// none of them may open further files.
// FFmpeg's log stays silent: errors become ERR_LOADPICTURE2.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/pixelbuffer.h"
#include "platform/imagecodecs.h"
#include "platform/linux/avcommon.h"
#include "platform/linux/nativeimage.h"

// The handle is the decoded picture itself.
struct qbNativeImage {
    PixelBuffer pixels;
};

namespace linux_images {

namespace {

using av_common::CodecFree;
using av_common::FormatClose;
using av_common::FrameFree;
using av_common::IOFree;
using av_common::OpenNamedInput;
using av_common::PacketFree;
using av_common::ReadFilePacket;
using av_common::RefuseNestedOpen;
using av_common::SeekFilePacket;
using av_common::SilenceLog;

constexpr int kIOBufferBytes = 64 * 1024;
// A picture's first frame comes within a few packets; a file that yields
// none by then is no picture.
constexpr int kMaxPackets = 64;
// The image reader (image2) reads the one picture of the I/O context it is
// given, the name telling it the codec (Targa and others that carry no
// mark of their own); it may open no further file.
constexpr const char* kImageDemuxers =
    "bmp_pipe,cri_pipe,dds_pipe,dpx_pipe,exr_pipe,gem_pipe,gif,gif_pipe,iff,j2k_pipe,jpeg_pipe,jpegls_pipe,"
    "jpegxl_pipe,pam_pipe,pbm_pipe,pcx_pipe,pfm_pipe,pgm_pipe,pgx_pipe,phm_pipe,photocd_pipe,pictor_pipe,"
    "png_pipe,ppm_pipe,psd_pipe,qdraw_pipe,qoi_pipe,sgi_pipe,sunrast_pipe,tiff_pipe,vbn_pipe,webp_pipe,"
    "xbm_pipe,xpm_pipe,xwd_pipe,image2";

struct Source {
    qbFile* file = nullptr;
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t position = 0;
};

int ReadSource(void* opaque, uint8_t* buffer, int size) {
    auto* s = static_cast<Source*>(opaque);
    if (size <= 0) return 0;
    size_t got = 0;
    if (s->file) return ReadFilePacket(s->file, buffer, size);
    if (s->position < s->size) {
        got = static_cast<size_t>(std::min<int64_t>(s->size - s->position, size));
        std::memcpy(buffer, s->data + s->position, got);
        s->position += static_cast<int64_t>(got);
    }
    return got ? static_cast<int>(got) : AVERROR_EOF;
}

int64_t SeekSource(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<Source*>(opaque);
    if (s->file) return SeekFilePacket(s->file, offset, whence);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return s->size;
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->position : s->size;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    if (offset < -base || offset > s->size - base) return AVERROR(EINVAL);
    s->position = base + offset;
    return s->position;
}

bool ReadSourceAt(void* opaque, int64_t offset, void* buffer, size_t count) {
    auto* s = static_cast<Source*>(opaque);
    if (offset < 0) return false;
    if (s->file) {
        if (FileSeek(s->file, offset, kSeekBeginning) < 0) return false;
        return FileRead(s->file, buffer, count) == count;
    }
    if (offset > s->size || static_cast<int64_t>(count) > s->size - offset) return false;
    std::memcpy(buffer, s->data + offset, count);
    return true;
}


using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// The first picture of the stream, decoded.
int DecodeFirstFrame(AVFormatContext* format, int stream, AVCodecContext* codec, AVFrame* frame) {
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!packet) return ERR_MEM;
    for (int packets = 0; packets < kMaxPackets; ++packets) {
        const int read = av_read_frame(format, packet.get());
        if (read < 0) {
            // The end: the decoder hands over what it holds.
            if (avcodec_send_packet(codec, nullptr) < 0) return ERR_LOADPICTURE2;
            return avcodec_receive_frame(codec, frame) == 0 ? 0 : ERR_LOADPICTURE2;
        }
        if (packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(codec, packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) return ERR_LOADPICTURE2;
        const int got = avcodec_receive_frame(codec, frame);
        if (got == 0) return 0;
        if (got != AVERROR(EAGAIN)) return ERR_LOADPICTURE2;
    }
    return ERR_LOADPICTURE2;
}

struct Decoded {
    FramePtr frame;
    AVCodecID codec = AV_CODEC_ID_NONE;
};

int DecodeThroughFFmpeg(Source* source, const char* name, Decoded* out) {
    SilenceLog();
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIOBufferBytes));
    if (!buffer) return ERR_MEM;
    std::unique_ptr<AVIOContext, IOFree> io(
        avio_alloc_context(buffer, kIOBufferBytes, 0, source, &ReadSource, nullptr, &SeekSource));
    if (!io) {
        av_free(buffer);
        return ERR_MEM;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return ERR_MEM;
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->io_open = &RefuseNestedOpen;
    raw->format_whitelist = av_strdup(kImageDemuxers);
    if (!raw->format_whitelist) {
        avformat_free_context(raw);
        return ERR_MEM;
    }
    if (OpenNamedInput(&raw, io.get(), name, kImageDemuxers) < 0) return ERR_LOADPICTURE2;
    std::unique_ptr<AVFormatContext, FormatClose> format(raw);

    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return ERR_LOADPICTURE2;
    const AVCodecParameters* parameters = format->streams[stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) return ERR_LOADPICTURE2;
    std::unique_ptr<AVCodecContext, CodecFree> codec(avcodec_alloc_context3(decoder));
    if (!codec) return ERR_MEM;
    if (avcodec_parameters_to_context(codec.get(), parameters) < 0) return ERR_LOADPICTURE2;
    // Frames over the picture cap are refused before FFmpeg allocates them.
    codec->max_pixels = static_cast<int64_t>(std::min<uint64_t>(GetMaxImagePixels(), INT64_MAX));
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return ERR_LOADPICTURE2;

    FramePtr frame(av_frame_alloc());
    if (!frame) return ERR_MEM;
    if (int err = DecodeFirstFrame(format.get(), stream, codec.get(), frame.get())) return err;
    if (frame->width <= 0 || frame->height <= 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) ||
        frame->decode_error_flags)
        return ERR_LOADPICTURE2;
    out->frame = std::move(frame);
    out->codec = parameters->codec_id;
    return 0;
}

bool IsJPEG(const Source& s) {
    return !s.file && s.size >= 3 && s.data[0] == 0xFF && s.data[1] == 0xD8 && s.data[2] == 0xFF;
}

int Decode(Source* source, qbNativeImageRequest* request) {
    request->image = nullptr;
    request->paletteCopy.reset();
    request->transparency = -1;
    request->width = request->height = request->hasAlpha = 0;
    const bool probe = request->probeOnly != 0;

    const qbImageCodecHooks* hooks = GetImageCodecHooks();
    if (IsJPEG(*source) && hooks && hooks->readJPEG) {
        PixelBuffer pixels;
        int32_t width = 0, height = 0;
        if (int err = hooks->readJPEG(source->data, static_cast<size_t>(source->size), probe, &width, &height,
                                      &pixels))
            return err;
        std::unique_ptr<qbNativeImage> image;
        if (!probe) {
            image.reset(new (std::nothrow) qbNativeImage);
            if (!image) return ERR_MEM;
            image->pixels = std::move(pixels);
        }
        request->width = width;
        request->height = height;
        request->image = image.release();
        return 0;
    }

    Decoded decoded;
    if (int err = DecodeThroughFFmpeg(source, request->name, &decoded)) return err;
    const AVFrame* frame = decoded.frame.get();
    // A GIF is a palette picture however FFmpeg hands it over (32-bit BGRA);
    // associated alpha is premultiplied; CMYK has no alpha: none of them
    // counts as alpha.
    bool alpha = FrameHasStraightAlpha(frame) && decoded.codec != AV_CODEC_ID_GIF;
    FrameChannels channels = alpha ? FrameChannels::kAlpha : FrameChannels::kOpaque;
    if (decoded.codec == AV_CODEC_ID_TIFF) {
        const TIFFFacts facts = ReadTIFFFacts(&ReadSourceAt, source);
        if (facts.inks) {
            // 8-bit inks come converted (RGB0); 16-bit ones as they are.
            const bool raw = frame->format == AV_PIX_FMT_RGBA64LE || frame->format == AV_PIX_FMT_RGBA64BE;
            alpha = false;
            channels = raw ? FrameChannels::kInk : FrameChannels::kOpaque;
        } else if (facts.associatedAlpha) {
            alpha = false;
            channels = FrameChannels::kOpaque;
        }
    }
    request->width = frame->width;
    request->height = frame->height;
    request->hasAlpha = alpha;
    if (probe) return 0;

    std::unique_ptr<qbNativeImage> image(new (std::nothrow) qbNativeImage);
    if (!image) return ERR_MEM;
    // The platform decoder has made the frame already; this is its copy.
    if (int err = AllocImagePixels(frame->width, frame->height, kPixelsNotRead, &image->pixels)) return err;
    if (int err = CopyFrameToARGB(frame, channels, image->pixels.get())) return err;
    request->image = image.release();
    return 0;
}

}  // namespace

int DecodeNativeImage(qbNativeImageRequest* request) {
    if (!request) return ERR_MEM;
    Source source;
    if (request->file) {
        source.file = static_cast<qbFile*>(request->file);
        if (FileSeek(source.file, 0, kSeekBeginning) < 0) return ERR_LOADPICTURE2;
    } else if (request->data) {
        source.data = static_cast<const uint8_t*>(request->data);
        source.size = static_cast<int64_t>(std::min<size_t>(request->dataSize, INT64_MAX));
    } else {
        return ERR_MEM;
    }
    const int err = Decode(&source, request);
    if (err) {
        FreeNativeImage(request->image);
        request->image = nullptr;
    }
    return err;
}

int DecodeNativeImageFromMemory(const void* data, size_t size, qbNativeImageRequest* request) {
    if (!request) return ERR_MEM;
    request->file = nullptr;
    request->data = data;
    request->dataSize = size;
    return DecodeNativeImage(request);
}

const uint32_t* GetNativeImageData(qbNativeImage* image) { return image ? image->pixels.get() : nullptr; }

void FreeNativeImage(qbNativeImage* image) { delete image; }

}  // namespace linux_images
