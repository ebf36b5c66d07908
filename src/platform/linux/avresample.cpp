// The one caller of swr_convert (scripts/check_swr_convert.sh).
#include "platform/linux/avresample.h"

#include <algorithm>
#include <new>

#include "platform/linux/avfields.h"

namespace av_common {

namespace {

// Rounds of one conversion. Each is given the room swr_get_out_samples
// promises, so one or two empty the converter; the bound only keeps a
// converter that never says it is empty from holding the caller.
constexpr int kMaxRounds = 64;
// Room asked for at least, for what a flush's filter tail may add.
constexpr int kMinRoom = 256;

// Converts `count` samples of `in` (null: the end of the input) and then
// takes what the converter still gives, until it gives less than the room.
int Run(SwrContext* swr, const uint8_t** in, int count, int channels, std::vector<int16_t>& out) {
    const auto width = static_cast<size_t>(channels);
    for (int round = 0; round < kMaxRounds; ++round) {
        const int room = swr_get_out_samples(swr, count);
        if (room < 0) return room;
        const int asked = std::max(room, kMinRoom);
        const size_t at = out.size();
        try {
            out.resize(at + static_cast<size_t>(asked) * width);
        } catch (const std::bad_alloc&) {
            return AVERROR(ENOMEM);
        }
        auto* to = reinterpret_cast<uint8_t*>(out.data() + at);
        const int made = swr_convert(swr, &to, asked, in, count);
        out.resize(at + static_cast<size_t>(std::max(made, 0)) * width);
        if (made < 0) return made;
        if (made < asked) return 0;
        // The input is taken; `in` stays set, as a null one would end the stream.
        count = 0;
    }
    return 0;
}

}  // namespace

int ConvertSamples(SampleConverter& c, const AVFrame& frame, int channels, int rate, std::vector<int16_t>& out) {
    AVChannelLayout layout{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels <= 0)
        av_channel_layout_default(&layout, std::max(frame.ch_layout.nb_channels, 1));
    else if (av_channel_layout_copy(&layout, &frame.ch_layout) < 0)
        return AVERROR(ENOMEM);
    if (!c.swr || c.format != frame.format || c.rate != frame.sample_rate ||
        av_channel_layout_compare(&layout, &c.layout) != 0) {
        // What the converter of the old form holds comes before this frame.
        if (int err = DrainSamples(c, channels, out); err < 0) {
            av_channel_layout_uninit(&layout);
            return err;
        }
        const AVSampleFormat from = SampleFormatEnum(frame.format);
        AVChannelLayout to{};
        av_channel_layout_default(&to, channels);
        SwrContext* swr = nullptr;
        int err = from == AV_SAMPLE_FMT_NONE || frame.sample_rate <= 0
                      ? AVERROR(EINVAL)
                      : swr_alloc_set_opts2(&swr, &to, AV_SAMPLE_FMT_S16, rate, &layout, from, frame.sample_rate,
                                            0, nullptr);
        av_channel_layout_uninit(&to);
        c.swr.reset(swr);
        if (err >= 0) err = swr ? swr_init(swr) : AVERROR(ENOMEM);
        if (err < 0) {
            c.swr.reset();
            av_channel_layout_uninit(&layout);
            return err;
        }
        av_channel_layout_uninit(&c.layout);
        c.layout = layout;
        c.format = frame.format;
        c.rate = frame.sample_rate;
    } else {
        av_channel_layout_uninit(&layout);
    }
    return Run(c.swr.get(), const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples, channels, out);
}

int DrainSamples(SampleConverter& c, int channels, std::vector<int16_t>& out) {
    if (!c.swr) return 0;
    const int err = Run(c.swr.get(), nullptr, 0, channels, out);
    // A flushed converter starts no new stream: the next frame makes one.
    c.swr.reset();
    return err;
}

void ResetSamples(SampleConverter& c) { c.swr.reset(); }

}  // namespace av_common
