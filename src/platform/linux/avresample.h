// The sound converter (libswresample) and what it must be given room for.
// Asked for less output than its input makes, it keeps the rest and hands
// it out only with later input, and at the end of a stream it holds back
// the samples its filter delays: a caller that stops at its own buffer's
// size loses sound. So every conversion goes through ConvertSamples, which
// sizes the output by swr_get_out_samples and takes all the converter will
// give, and the end of a stream (or a change of the input's form) goes
// through DrainSamples. What one call makes is bounded by a piece of the
// frame's input (kInputChunk samples) and the largest rate ratio taken
// (kMaxRateRatio), never by the frame's length, so that a frame at a
// damaged rate buys no gigabytes: the caller holds the frame and calls
// again until it is taken.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/avcommon.h"

namespace av_common {

// A converter into 16-bit interleaved samples, with the input it was made
// for: a frame of another layout, format or rate drains it and makes a new
// one.
struct SampleConverter {
    std::unique_ptr<SwrContext, ResamplerFree> swr;
    AVChannelLayout layout{};
    int format = -1;
    int rate = 0;
    // The room the converter writes into, kept between rounds.
    std::unique_ptr<int16_t[]> room;
    size_t roomSamples = 0;

    SampleConverter() = default;
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;
    ~SampleConverter() { av_channel_layout_uninit(&layout); }
};

// Input samples of a frame converted in one call at most.
constexpr int kInputChunk = 4096;
// A frame whose rate is more than this many times the output rate, or less
// than the output rate over it, is a damaged stream.
constexpr int kMaxRateRatio = 256;
// Planes of a planar frame (FFmpeg's converter takes no more channels).
constexpr int kMaxPlanes = 64;

// Appends the next piece of the frame's samples, from *done on (0: the
// frame is new), as `channels` channels (FFmpeg's default layout) at
// `rate`, to out: every sample the converter gives for it; *done advances
// past the piece. The frame is taken once *done reaches its nb_samples. 0,
// or a negative FFmpeg error (a form the converter refuses, no memory,
// AVERROR_INVALIDDATA for a rate too far from `rate`).
int ConvertSamples(SampleConverter& c, const AVFrame& frame, int* done, int channels, int rate,
                   std::vector<int16_t>& out);

// Appends what the converter still holds, as at the end of the input; the
// next frame makes a new one. 0 or a negative FFmpeg error.
int DrainSamples(SampleConverter& c, int channels, std::vector<int16_t>& out);

// Forgets what the converter holds (a seek): the next frame starts afresh.
void ResetSamples(SampleConverter& c);

}  // namespace av_common
