// The sound converter on frames whose channel layout the file left
// unspecified: they convert as FFmpeg's default layout of their channel
// count would, alone and mixed with frames that name that layout.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/linux/avresample.h"

namespace {

using av_common::FrameFree;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// `frames` interleaved 16-bit samples of `channels` channels at `rate`,
// sample k of channel c (1000 c + 37 k + first) mod 20000; the layout
// unspecified or FFmpeg's default.
FramePtr MakeFrame(int channels, bool unspecified, int frames, int rate, int first) {
    FramePtr f(av_frame_alloc());
    if (!f) return f;
    f->format = AV_SAMPLE_FMT_S16;
    f->sample_rate = rate;
    f->nb_samples = frames;
    if (unspecified) {
        f->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        f->ch_layout.nb_channels = channels;
    } else {
        av_channel_layout_default(&f->ch_layout, channels);
    }
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    auto* s = reinterpret_cast<int16_t*>(f->data[0]);
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            s[k * channels + c] = static_cast<int16_t>((1000 * c + 37 * k + first) % 20000);
    return f;
}

// Every sample the converter gives for the frames, as `channels` channels
// at `rate`, drained at the end; empty when a conversion fails.
std::vector<int16_t> Convert(const std::vector<FramePtr>& frames, int channels, int rate) {
    av_common::SampleConverter c;
    std::vector<int16_t> out;
    for (const FramePtr& f : frames) {
        int done = 0;
        while (done < f->nb_samples)
            if (av_common::ConvertSamples(c, *f, &done, channels, rate, out) < 0) return {};
    }
    if (av_common::DrainSamples(c, channels, out) < 0) return {};
    return out;
}

TEST(AvResampleTest, AnUnspecifiedLayoutConvertsAsTheDefaultOne) {
    struct Case {
        int channels, outChannels, rate, outRate;
    };
    // Kept, down-mixed, up-mixed; at the same rate and resampled.
    for (const Case& k : {Case{2, 2, 22050, 22050}, Case{1, 1, 8000, 8000}, Case{3, 2, 44100, 44100},
                          Case{6, 2, 48000, 48000}, Case{1, 2, 8000, 8000}, Case{2, 2, 22050, 44100},
                          Case{3, 2, 32000, 48000}}) {
        SCOPED_TRACE(::testing::Message() << k.channels << " channels at " << k.rate << " to " << k.outChannels
                                          << " at " << k.outRate);
        const auto frames = [&](bool unspecifiedFirst, bool unspecifiedSecond) {
            std::vector<FramePtr> v;
            v.push_back(MakeFrame(k.channels, unspecifiedFirst, 300, k.rate, 0));
            v.push_back(MakeFrame(k.channels, unspecifiedSecond, 300, k.rate, 300 * 37));
            return v;
        };
        const std::vector<int16_t> named = Convert(frames(false, false), k.outChannels, k.outRate);
        ASSERT_FALSE(named.empty());
        if (k.rate == k.outRate && k.channels == k.outChannels) {
            EXPECT_EQ(named[static_cast<size_t>(k.outChannels) * 6 - 1], k.channels > 1 ? 1000 + 5 * 37 : 5 * 37);
        }
        EXPECT_EQ(Convert(frames(true, true), k.outChannels, k.outRate), named);
        // A layout that turns from unnamed to named is the same layout: the
        // converter goes on without a break in the sound.
        EXPECT_EQ(Convert(frames(true, false), k.outChannels, k.outRate), named);
        EXPECT_EQ(Convert(frames(false, true), k.outChannels, k.outRate), named);
    }
}

}  // namespace
