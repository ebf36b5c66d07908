// Every step between a sample's bytes and the device's frames against an
// exact oracle in long double: each PCM layout's reading of every value it
// holds, each volume at each pan, the linear interpolation at the phases a
// rate conversion visits, and the sum of channels with its clamp. The mixer
// works in float: a step is right when it is within a few float roundings
// (kFloatSteps) of the exact value, and a value the float holds exactly
// comes out exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mixer_fixture.h"

namespace {

using namespace mixer_test;

// A few roundings of a float near full scale: gain, pan and interpolation
// each round once or twice.
constexpr long double kFloatSteps = 8.0L / (1 << 24);

long double ExactGain(int volume) { return std::cbrt(static_cast<long double>(std::clamp(volume, 0, 64)) / 64.0L); }

// The pan's balance: 0 hard left, 255 hard right, 128 the centre.
long double ExactPan(int pan) {
    if (pan <= 0) return 0.0L;
    if (pan == 128) return 0.5L;
    if (pan >= 255) return 1.0L;
    return pan / 255.0L;
}

class MixerRoundingTest : public MixerTest {};

// Every volume at every pan, on a constant half-scale sample.
TEST_F(MixerRoundingTest, EveryVolumeAtEveryPan) {
    const std::vector<uint8_t> data = Mono16(std::vector<int16_t>(32, 16384));
    int checked = 0;
    for (int volume = 0; volume <= 64; ++volume) {
        for (int pan = 0; pan <= 255; ++pan) {
            Play p;
            p.volume = volume;
            p.pan = pan;
            ASSERT_EQ(StartSample(0, data.data(), 32, p), 0);
            const std::vector<float> out = null_backend::PullAudio(4);
            audio_mixer::ResetChannel(0);
            const long double gain = ExactGain(volume), balance = ExactPan(pan);
            const long double left = 0.5L * gain * std::min(1.0L, 2.0L - 2.0L * balance);
            const long double right = 0.5L * gain * std::min(1.0L, 2.0L * balance);
            ASSERT_LE(std::fabs(out[2] - left), kFloatSteps) << "volume " << volume << " pan " << pan << " left";
            ASSERT_LE(std::fabs(out[3] - right), kFloatSteps) << "volume " << volume << " pan " << pan << " right";
            ++checked;
        }
    }
    EXPECT_EQ(checked, 65 * 256);
}

struct Layout {
    int32_t code;
    uint32_t flags;
    int bytes;  // of one value
    bool stereo;
};

// The exact level of the value whose bytes start at p.
long double ExactLevel(const Layout& l, const uint8_t* p) {
    if (l.bytes == 1) return (l.flags & kPCMSigned) ? static_cast<int8_t>(p[0]) / 128.0L : (p[0] - 128) / 128.0L;
    const int v = (l.flags & kPCMBigEndian) ? static_cast<int16_t>((p[0] << 8) | p[1])
                                             : static_cast<int16_t>((p[1] << 8) | p[0]);
    return v / 32768.0L;
}

// Every value of every layout, at its own rate (no interpolation), at full
// volume in the centre: each level is a float exactly, and comes out so.
// Stereo layouts carry each value on the left and its mirror on the right.
TEST_F(MixerRoundingTest, EveryValueOfEveryLayout) {
    const std::vector<Layout> layouts = {
        {0, 0, 1, false},
        {1, 0, 1, true},
        {2, kPCMSigned, 1, false},
        {3, kPCMSigned, 1, true},
        {4, kPCMSigned, 2, false},
        {4, kPCMSigned | kPCMBigEndian, 2, false},
        {5, kPCMSigned, 2, true},
        {5, kPCMSigned | kPCMBigEndian, 2, true},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(testing::Message() << "code " << l.code << " flags " << l.flags);
        const uint32_t values = l.bytes == 1 ? 256u : 65536u;
        std::vector<uint8_t> data;
        for (uint32_t v = 0; v < values; ++v) {
            for (int side = 0; side < (l.stereo ? 2 : 1); ++side) {
                const uint32_t x = side ? values - 1 - v : v;
                for (int b = 0; b < l.bytes; ++b) data.push_back(static_cast<uint8_t>(x >> (8 * b)));
            }
        }
        if (l.bytes == 2 && (l.flags & kPCMBigEndian))
            for (size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
        Play p;
        p.pcmCode = l.code;
        p.flags = l.flags;
        ASSERT_EQ(StartSample(0, data.data(), values, p), 0);
        const std::vector<float> out = null_backend::PullAudio(values);
        audio_mixer::ResetChannel(0);
        const size_t frameBytes = static_cast<size_t>(l.bytes) * (l.stereo ? 2 : 1);
        for (uint32_t i = 0; i < values; ++i) {
            const uint8_t* frame = data.data() + i * frameBytes;
            const long double left = ExactLevel(l, frame);
            const long double right = l.stereo ? ExactLevel(l, frame + l.bytes) : left;
            ASSERT_EQ(static_cast<long double>(out[2 * i]), left) << "value " << i << " left";
            ASSERT_EQ(static_cast<long double>(out[2 * i + 1]), right) << "value " << i << " right";
        }
    }
}

// A rate conversion reads each output frame between two of the sample's at
// the phase its 32.32 step has reached: the exact line between them there.
// Past the last frame the sample holds it, then stops.
TEST_F(MixerRoundingTest, InterpolationAtEveryPhaseOfEveryRate) {
    constexpr uint32_t kFrames = 4096;
    std::vector<int16_t> values(kFrames);
    uint32_t seed = 12345;
    for (int16_t& v : values) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<int16_t>(seed >> 16);
    }
    const std::vector<uint8_t> data = Mono16(values);
    const auto level = [&](uint64_t frame) { return values[std::min<uint64_t>(frame, kFrames - 1)] / 32768.0L; };
    for (int rate : {4000, 8000, 11025, 22050, 32000, 44100, 47999, 48001, 88200, 96000, 192000}) {
        SCOPED_TRACE(rate);
        Play p;
        p.rate = rate;
        ASSERT_EQ(StartSample(0, data.data(), kFrames, p), 0);
        const uint64_t step = (static_cast<uint64_t>(rate) << 32) / 48000;
        const size_t frames = static_cast<size_t>((uint64_t{kFrames} << 32) / step) + 8;
        const std::vector<float> out = null_backend::PullAudio(frames);
        audio_mixer::ResetChannel(0);
        for (size_t k = 0; k < frames; ++k) {
            const uint64_t phase = k * step;
            const uint64_t at = phase >> 32;
            const long double f = static_cast<long double>(phase & 0xFFFFFFFFu) / 4294967296.0L;
            const long double exact = at >= kFrames ? 0.0L : level(at) + (level(at + 1) - level(at)) * f;
            ASSERT_LE(std::fabs(out[2 * k] - exact), kFloatSteps) << "frame " << k << " phase " << phase;
            ASSERT_EQ(out[2 * k], out[2 * k + 1]) << "frame " << k;
        }
    }
}

// Channels add, and the sum is clamped to full scale on each side.
TEST_F(MixerRoundingTest, ChannelsAddAndTheSumIsClamped) {
    const std::vector<int16_t> levels = {-32768, -20000, -1, 0, 1, 12345, 20000, 32767};
    std::vector<std::vector<uint8_t>> data;
    for (int16_t v : levels) data.push_back(Mono16(std::vector<int16_t>(16, v)));
    for (size_t a = 0; a < levels.size(); ++a) {
        for (size_t b = 0; b < levels.size(); ++b) {
            Play left;
            left.pan = 0;
            ASSERT_EQ(StartSample(0, data[a].data(), 16, left), 0);
            ASSERT_EQ(StartSample(1, data[b].data(), 16, Play{}), 0);
            const std::vector<float> out = null_backend::PullAudio(4);
            audio_mixer::ResetChannel(0);
            audio_mixer::ResetChannel(1);
            const long double la = levels[a] / 32768.0L, lb = levels[b] / 32768.0L;
            const long double sumLeft = std::clamp(la + lb, -1.0L, 1.0L), sumRight = std::clamp(lb, -1.0L, 1.0L);
            ASSERT_LE(std::fabs(out[2] - sumLeft), kFloatSteps) << levels[a] << " + " << levels[b];
            ASSERT_LE(std::fabs(out[3] - sumRight), kFloatSteps) << levels[a] << " + " << levels[b];
        }
    }
}

}  // namespace
