// Decoded FFmpeg frames to 0xAARRGGBB words. Straight 8- and 16-bit RGB and
// grey layouts are copied by our own rows from the pixel format's
// description, so 16-bit channels keep their high byte (swscale would
// round); palette pictures go through their palette; everything else (YUV,
// packed and deep formats) through swscale to RGB.
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "platform/linux/avfields.h"
#include "platform/linux/avscale.h"
#include "platform/linux/nativeimage.h"
#include "platform/platform_media.h"

namespace linux_images {

namespace {

enum class Layout { Palette, Components, Grey, Scale };

// Where one channel's (high) byte lies: plane, byte offset in the pixel,
// bytes from pixel to pixel.
struct Channel {
    int plane = 0;
    int offset = 0;
    int step = 0;
};

bool PlainComponent(const AVComponentDescriptor& c, bool bigEndian, Channel* out) {
    if (c.shift != 0 || (c.depth != 8 && c.depth != 16)) return false;
    out->plane = c.plane;
    out->step = c.step;
    // A 16-bit channel's high byte: first in big-endian formats.
    out->offset = c.offset + (c.depth == 16 && !bigEndian ? 1 : 0);
    return true;
}

Layout Classify(const AVPixFmtDescriptor* d, Channel channels[4]) {
    if (d->flags & AV_PIX_FMT_FLAG_PAL) return av_pix_fmt_desc_get_id(d) == AV_PIX_FMT_PAL8 ? Layout::Palette : Layout::Scale;
    const uint64_t unusual = AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT;
    if ((d->flags & unusual) || d->log2_chroma_w || d->log2_chroma_h) return Layout::Scale;
    const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    if (rgb ? d->nb_components < 3 : d->nb_components > 2) return Layout::Scale;
    const bool bigEndian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    for (int i = 0; i < d->nb_components; ++i)
        if (!PlainComponent(d->comp[i], bigEndian, &channels[i])) return Layout::Scale;
    return rgb ? Layout::Components : Layout::Grey;
}

const uint8_t* RowOf(const AVFrame* f, const Channel& c, int y) {
    return f->data[c.plane] + static_cast<ptrdiff_t>(y) * f->linesize[c.plane] + c.offset;
}

// Ink to light: each colour is what its ink and the black let through.
uint32_t Light(uint32_t ink, uint32_t black) { return (255 - ink) * (255 - black) / 255; }

void CopyInks(const AVFrame* f, const Channel ch[4], uint32_t* out) {
    const int w = f->width;
    for (int y = 0; y < f->height; ++y, out += w) {
        const uint8_t* c = RowOf(f, ch[0], y);
        const uint8_t* m = RowOf(f, ch[1], y);
        const uint8_t* ye = RowOf(f, ch[2], y);
        const uint8_t* k = RowOf(f, ch[3], y);
        for (int x = 0; x < w; ++x) {
            const uint32_t black = k[x * ch[3].step];
            out[x] = Light(c[x * ch[0].step], black) << 16 | Light(m[x * ch[1].step], black) << 8 |
                     Light(ye[x * ch[2].step], black);
        }
    }
}

void CopyComponents(const AVFrame* f, const Channel ch[4], bool alpha, uint32_t* out) {
    const int w = f->width;
    for (int y = 0; y < f->height; ++y, out += w) {
        const uint8_t* r = RowOf(f, ch[0], y);
        const uint8_t* g = RowOf(f, ch[1], y);
        const uint8_t* b = RowOf(f, ch[2], y);
        if (alpha) {
            const uint8_t* a = RowOf(f, ch[3], y);
            for (int x = 0; x < w; ++x)
                out[x] = (uint32_t{a[x * ch[3].step]} << 24) | (uint32_t{r[x * ch[0].step]} << 16) |
                         (uint32_t{g[x * ch[1].step]} << 8) | b[x * ch[2].step];
        } else if (ch[0].step == 3 && ch[1].step == 3 && ch[2].step == 3) {
            // Packed 24-bit rows, the common TIFF: constant steps let the
            // compiler unroll.
            for (int x = 0; x < w; ++x)
                out[x] = (uint32_t{r[x * 3]} << 16) | (uint32_t{g[x * 3]} << 8) | b[x * 3];
        } else {
            for (int x = 0; x < w; ++x)
                out[x] = (uint32_t{r[x * ch[0].step]} << 16) | (uint32_t{g[x * ch[1].step]} << 8) | b[x * ch[2].step];
        }
    }
}

void CopyGrey(const AVFrame* f, const Channel& v, uint32_t* out) {
    const int w = f->width;
    for (int y = 0; y < f->height; ++y, out += w) {
        const uint8_t* p = f->data[v.plane] + static_cast<ptrdiff_t>(y) * f->linesize[v.plane] + v.offset;
        for (int x = 0; x < w; ++x) out[x] = uint32_t{p[x * v.step]} * 0x010101u;
    }
}

void CopyPalette(const AVFrame* f, uint32_t* out) {
    const auto* palette = reinterpret_cast<const uint32_t*>(f->data[1]);
    const int w = f->width;
    for (int y = 0; y < f->height; ++y, out += w) {
        const uint8_t* p = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
        for (int x = 0; x < w; ++x) out[x] = palette[p[x]] & 0xFFFFFFu;
    }
}

struct ScaleFree {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};

int ScaleToRGB(const AVFrame* f, uint32_t* out) {
    const AVPixelFormat format = av_common::PixelFormatEnum(f->format);
    if (format == AV_PIX_FMT_NONE || !sws_isSupportedInput(format)) return ERR_LOADPICTURE2;
    std::unique_ptr<SwsContext, ScaleFree> scale(sws_getContext(f->width, f->height, format, f->width, f->height,
                                                                AV_PIX_FMT_0RGB32,
                                                                SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                                                nullptr, nullptr, nullptr));
    if (!scale) return ERR_MEM;
    // The caller's buffer holds the picture alone: the converter writes
    // into one with its slack, copied over.
    std::vector<uint32_t> converted;
    try {
        converted.resize(ConvertedPictureWords(f->width, f->height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const av_common::ScaleTarget to = av_common::WordsTarget(converted.data(), converted.size(), f->width, f->height);
    if (av_common::ScalePicture(scale.get(), f->data, f->linesize, f->height, to) != f->height)
        return ERR_LOADPICTURE2;
    const size_t count = static_cast<size_t>(f->width) * static_cast<size_t>(f->height);
    for (size_t i = 0; i < count; ++i) out[i] = converted[i] & 0xFFFFFFu;
    return 0;
}

}  // namespace

bool FrameHasStraightAlpha(const AVFrame* frame) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_common::PixelFormatEnum(frame->format));
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_ALPHA)) return false;
    Channel channels[4];
    return Classify(d, channels) == Layout::Components && d->nb_components == 4;
}

int CopyFrameToARGB(const AVFrame* frame, FrameChannels use, uint32_t* out) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_common::PixelFormatEnum(frame->format));
    if (!d) return ERR_LOADPICTURE2;
    Channel channels[4];
    switch (Classify(d, channels)) {
    case Layout::Palette:
        CopyPalette(frame, out);
        return 0;
    case Layout::Components:
        if (use == FrameChannels::kInk && d->nb_components == 4) {
            CopyInks(frame, channels, out);
        } else {
            CopyComponents(frame, channels, use == FrameChannels::kAlpha && d->nb_components == 4, out);
        }
        return 0;
    case Layout::Grey:
        CopyGrey(frame, channels[0], out);
        return 0;
    case Layout::Scale: break;
    }
    return ScaleToRGB(frame, out);
}

}  // namespace linux_images
