// The sound converter (libswresample) and what it must be given room for.
// Asked for less output than its input makes, it keeps the rest and hands
// it out only with later input, and at the end of a stream it holds back
// the samples its filter delays: a caller that stops at its own buffer's
// size loses sound. So every conversion goes through ConvertSamples, which
// sizes the output by swr_get_out_samples and takes all the converter will
// give, and the end of a stream (or a change of the input's form) goes
// through DrainSamples.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

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

    SampleConverter() = default;
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;
    ~SampleConverter() { av_channel_layout_uninit(&layout); }
};

// Appends the frame's samples, as `channels` channels (FFmpeg's default
// layout) at `rate`, to out: every sample the converter gives for it. 0, or
// a negative FFmpeg error (a form the converter refuses, no memory).
int ConvertSamples(SampleConverter& c, const AVFrame& frame, int channels, int rate, std::vector<int16_t>& out);

// Appends what the converter still holds, as at the end of the input; the
// next frame makes a new one. 0 or a negative FFmpeg error.
int DrainSamples(SampleConverter& c, int channels, std::vector<int16_t>& out);

// Forgets what the converter holds (a seek): the next frame starts afresh.
void ResetSamples(SampleConverter& c);

}  // namespace av_common
