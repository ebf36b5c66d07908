// FFmpeg's enum-typed fields read as the integers they hold. Decoders copy
// some of them from the stream's bytes unchecked (a matrix of 16 where the
// enumerators stop at 14), and loading such a field as its enum is
// undefined: every colour field, pixel format and sample format the
// backend reads comes through here. An unknown colour value is
// "unspecified"; an unknown format is -1, which callers refuse.
#pragma once

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include <cstring>
#include <type_traits>

namespace av_common {

template <class E>
int RawField(const E& field) {
    static_assert(std::is_enum_v<E> && sizeof(E) == sizeof(int), "an FFmpeg enum of int size");
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The values the colour conversions name; anything else is unspecified.
inline int ColourSpace(const AVColorSpace& field) {
    const int v = RawField(field);
    return v >= 0 && v < AVCOL_SPC_NB ? v : AVCOL_SPC_UNSPECIFIED;
}
inline int ColourRange(const AVColorRange& field) {
    const int v = RawField(field);
    return v >= 0 && v < AVCOL_RANGE_NB ? v : AVCOL_RANGE_UNSPECIFIED;
}

// A pixel format FFmpeg describes, or -1.
inline int PixelFormat(int format) {
    if (format < 0 || format >= AV_PIX_FMT_NB) return -1;
    return av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format)) ? format : -1;
}
// The same as the enum, for FFmpeg's calls: AV_PIX_FMT_NONE when unknown.
inline AVPixelFormat PixelFormatEnum(int format) {
    const int known = PixelFormat(format);
    return known < 0 ? AV_PIX_FMT_NONE : static_cast<AVPixelFormat>(known);
}

// A sample format FFmpeg knows, or AV_SAMPLE_FMT_NONE.
inline AVSampleFormat SampleFormatEnum(int format) {
    if (format < 0 || format >= AV_SAMPLE_FMT_NB) return AV_SAMPLE_FMT_NONE;
    return static_cast<AVSampleFormat>(format);
}

}  // namespace av_common
