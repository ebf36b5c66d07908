// The one caller of swr_convert (scripts/check_swr_convert.sh).
#include "platform/linux/avresample.h"

#include <algorithm>
#include <memory>

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
// The room is written by the converter only: what it does not fill is
// never touched, so its pages cost nothing.
int Run(SampleConverter& c, const uint8_t** in, int count, int channels, std::vector<int16_t>& out) {
    const auto width = static_cast<size_t>(channels);
    for (int round = 0; round < kMaxRounds; ++round) {
        const int room = swr_get_out_samples(c.swr.get(), count);
        if (room < 0) return room;
        const auto asked = static_cast<size_t>(std::max(room, kMinRoom));
        if (c.roomSamples < asked * width) {
            c.room = std::make_unique_for_overwrite<int16_t[]>(asked * width);
            c.roomSamples = asked * width;
        }
        auto* to = reinterpret_cast<uint8_t*>(c.room.get());
        const int made = swr_convert(c.swr.get(), &to, static_cast<int>(asked), in, count);
        if (made < 0) return made;
        out.insert(out.end(), c.room.get(), c.room.get() + static_cast<size_t>(made) * width);
        if (static_cast<size_t>(made) < asked) return 0;
        // The input is taken; `in` stays set, as a null one would end the stream.
        count = 0;
    }
    return 0;
}

// Whether a frame at `from` Hz could be real sound for `to` Hz: beyond
// kMaxRateRatio either way the frame's header is damage, and converting it
// would make gigabytes of a few bytes (or nothing of a whole frame).
bool RatesFit(int from, int to) {
    return from > 0 && to > 0 && int64_t{from} <= int64_t{to} * kMaxRateRatio &&
           int64_t{to} <= int64_t{from} * kMaxRateRatio;
}

}  // namespace

int ConvertSamples(SampleConverter& c, const AVFrame& frame, int* done, int channels, int rate,
                   std::vector<int16_t>& out) {
    if (!RatesFit(frame.sample_rate, rate)) return AVERROR_INVALIDDATA;
    const AVSampleFormat from = SampleFormatEnum(frame.format);
    if (*done == 0 || !c.swr) {
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
            AVChannelLayout to{};
            av_channel_layout_default(&to, channels);
            SwrContext* swr = nullptr;
            int err = from == AV_SAMPLE_FMT_NONE
                          ? AVERROR(EINVAL)
                          : swr_alloc_set_opts2(&swr, &to, AV_SAMPLE_FMT_S16, rate, &layout, from,
                                                frame.sample_rate, 0, nullptr);
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
    }
    if (from == AV_SAMPLE_FMT_NONE || *done < 0 || *done > frame.nb_samples) return AVERROR(EINVAL);
    // A bounded piece of the frame a round: at most kMaxRateRatio times
    // kInputChunk samples come of it, however long the frame.
    const int count = std::min(frame.nb_samples - *done, kInputChunk);
    const int planes = av_sample_fmt_is_planar(from) ? frame.ch_layout.nb_channels : 1;
    const size_t step = static_cast<size_t>(av_get_bytes_per_sample(from)) *
                        static_cast<size_t>(av_sample_fmt_is_planar(from) ? 1 : frame.ch_layout.nb_channels);
    if (planes < 1 || planes > kMaxPlanes || !frame.extended_data) return AVERROR(EINVAL);
    const uint8_t* in[kMaxPlanes];
    for (int i = 0; i < planes; ++i) {
        if (!frame.extended_data[i]) return AVERROR(EINVAL);
        in[i] = frame.extended_data[i] + static_cast<size_t>(*done) * step;
    }
    const int err = Run(c, in, count, channels, out);
    if (err >= 0) *done += count;
    return err;
}

int DrainSamples(SampleConverter& c, int channels, std::vector<int16_t>& out) {
    if (!c.swr) return 0;
    const int err = Run(c, nullptr, 0, channels, out);
    // A flushed converter starts no new stream: the next frame makes one.
    c.swr.reset();
    return err;
}

void ResetSamples(SampleConverter& c) { c.swr.reset(); }

}  // namespace av_common
