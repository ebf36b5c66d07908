// Gains, pans and every PCM layout, read back exactly from the pull device.
#include <gtest/gtest.h>

#include "mixer_fixture.h"

namespace {

using namespace mixer_test;

// Plays a constant full-scale mono 16-bit sample and returns one frame.
std::pair<float, float> LevelOf(MixerTest&, int volume, int pan, int16_t value = 32767) {
    static std::vector<uint8_t> data;
    data = Mono16(std::vector<int16_t>(64, value));
    Play p;
    p.volume = volume;
    p.pan = pan;
    EXPECT_EQ(StartSample(0, data.data(), 64, p), 0);
    const std::vector<float> out = null_backend::PullAudio(16);
    audio_mixer::ResetChannel(0);
    return {out[20], out[21]};
}

class MixerGainTest : public MixerTest {};

TEST_F(MixerGainTest, VolumeIsTheCubeRootOfItsShare) {
    constexpr float kTol = 1e-4f;
    auto [l64, r64] = LevelOf(*this, 64, 128);
    EXPECT_NEAR(l64, 1.0f, kTol);
    EXPECT_NEAR(r64, 1.0f, kTol);
    auto [l32, r32] = LevelOf(*this, 32, 128);
    EXPECT_NEAR(l32, 0.7937f, kTol);
    EXPECT_NEAR(r32, 0.7937f, kTol);
    auto [l8, r8] = LevelOf(*this, 8, 128);
    EXPECT_NEAR(l8, 0.5f, kTol);
    EXPECT_NEAR(r8, 0.5f, kTol);
    auto [l0, r0] = LevelOf(*this, 0, 128);
    EXPECT_EQ(l0, 0.0f);
    EXPECT_EQ(r0, 0.0f);
}

TEST_F(MixerGainTest, PanIsABalance) {
    constexpr float kTol = 1e-4f;
    auto [l0, r0] = LevelOf(*this, 64, 0);
    EXPECT_NEAR(l0, 1.0f, kTol);
    EXPECT_EQ(r0, 0.0f);
    auto [l255, r255] = LevelOf(*this, 64, 255);
    EXPECT_EQ(l255, 0.0f);
    EXPECT_NEAR(r255, 1.0f, kTol);
    auto [l64, r64] = LevelOf(*this, 64, 64);
    EXPECT_NEAR(l64, 1.0f, kTol);
    EXPECT_NEAR(r64, 0.502f, 1e-3f);
    // Negative full scale reaches -1 and the clamp keeps it there.
    auto [ln, rn] = LevelOf(*this, 64, 128, -32768);
    EXPECT_EQ(ln, -1.0f);
    EXPECT_EQ(rn, -1.0f);
}

TEST_F(MixerGainTest, StereoSourceAtCentrePassesUnchanged) {
    std::vector<int16_t> frames;
    for (int i = 0; i < 32; ++i) {
        frames.push_back(8192);
        frames.push_back(-16384);
    }
    const std::vector<uint8_t> data = Mono16(frames);
    Play p;
    p.pcmCode = 5;
    ASSERT_EQ(StartSample(0, data.data(), 32, p), 0);
    const std::vector<float> out = null_backend::PullAudio(8);
    EXPECT_EQ(out[6], 0.25f);
    EXPECT_EQ(out[7], -0.5f);
    // Panned left, the right side goes, the left stays at its own level.
    audio_mixer::SetChannelVolumePan(0, -1, 0);
    const std::vector<float> left = null_backend::PullAudio(8);
    EXPECT_EQ(left[6], 0.25f);
    EXPECT_EQ(left[7], 0.0f);
}

TEST_F(MixerGainTest, MinusOneLeavesVolumeOrPanAsItIs) {
    const std::vector<uint8_t> data = Mono16(std::vector<int16_t>(4096, 16384));
    Play p;
    p.volume = 8;
    ASSERT_EQ(StartSample(0, data.data(), 4096, p), 0);
    audio_mixer::SetChannelVolumePan(0, -1, 0);
    std::vector<float> out = null_backend::PullAudio(4);
    EXPECT_NEAR(out[0], 0.25f, 1e-6f);
    EXPECT_EQ(out[1], 0.0f);
    audio_mixer::SetChannelVolumePan(0, 64, -1);
    out = null_backend::PullAudio(4);
    EXPECT_NEAR(out[0], 0.5f, 1e-6f);
    EXPECT_EQ(out[1], 0.0f);
}

struct RampCase {
    int32_t code;
    uint32_t flags;
    std::vector<uint8_t> bytes;
    std::vector<float> left;
    std::vector<float> right;
};

TEST_F(MixerGainTest, EveryLayoutPlaysItsRampWithTheRightSign) {
    const std::vector<RampCase> cases = {
        {0, 0, {128, 192, 64, 255, 0}, {0.0f, 0.5f, -0.5f, 127.0f / 128, -1.0f}, {}},
        {1, 0, {128, 0, 192, 64}, {0.0f, 0.5f}, {-1.0f, -0.5f}},
        {2, kPCMSigned, {0, 64, 0xC0, 127, 0x80}, {0.0f, 0.5f, -0.5f, 127.0f / 128, -1.0f}, {}},
        {3, kPCMSigned, {0x40, 0xC0, 0x80, 0x20}, {0.5f, -1.0f}, {-0.5f, 0.25f}},
        // 0x4000 and 0xC000 in native (little-endian) and big-endian order.
        {4, kPCMSigned, {0x00, 0x40, 0x00, 0xC0, 0x00, 0x00}, {0.5f, -0.5f, 0.0f}, {}},
        {4, kPCMSigned | kPCMBigEndian, {0x40, 0x00, 0xC0, 0x00, 0x00, 0x00}, {0.5f, -0.5f, 0.0f}, {}},
        {5, kPCMSigned, {0x00, 0x40, 0x00, 0xE0, 0x00, 0x80, 0x00, 0x10}, {0.5f, -1.0f}, {-0.25f, 0.125f}},
        {5, kPCMSigned | kPCMBigEndian, {0x40, 0x00, 0xE0, 0x00, 0x80, 0x00, 0x10, 0x00}, {0.5f, -1.0f},
         {-0.25f, 0.125f}},
    };
    for (const RampCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code << " flags " << c.flags);
        Play p;
        p.pcmCode = c.code;
        p.flags = c.flags;
        const uint32_t frames = FramesOf(c.bytes, c.code);
        ASSERT_EQ(frames, c.left.size());
        ASSERT_EQ(StartSample(0, c.bytes.data(), frames, p), 0);
        const std::vector<float> out = null_backend::PullAudio(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            EXPECT_EQ(out[2 * i], c.left[i]) << "frame " << i;
            EXPECT_EQ(out[2 * i + 1], c.right.empty() ? c.left[i] : c.right[i]) << "frame " << i;
        }
        audio_mixer::ResetChannel(0);
    }
}

TEST_F(MixerGainTest, UnreadableFormatsAreRefused) {
    const std::vector<uint8_t> data(16);
    Play p;
    p.pcmCode = 6;
    EXPECT_EQ(StartSample(0, data.data(), 8, p), ERR_AUDIOCONVERTER);
    p.pcmCode = -1;
    EXPECT_EQ(StartSample(0, data.data(), 8, p), ERR_AUDIOCONVERTER);
    p.pcmCode = 4;
    p.rate = 0;
    p.pitch = 0;
    EXPECT_EQ(StartSample(0, data.data(), 8, p), ERR_AUDIOCONVERTER);
    EXPECT_EQ(audio_mixer::Channel(0)->kind.load(), kChannelFree);
    EXPECT_EQ(StartSample(kChannels, data.data(), 8, Play{}), ERR_CHANNELRANGE);
    // Output for sources that arrive as PCM anyway: nothing to set up.
    qbAudioStream stream{4, kPCMSigned, 48000, 8};
    EXPECT_EQ(SetConverterMagicCookie(&stream, "x", 1), 0);
    EXPECT_EQ(SetConverterInputProc(&stream, 0), 0);
    qbPCMFormat format;
    FillPCMStreamFormat(&format, 22050, 16, 4, 2, kPCMBigEndian | kPCMSigned | 8);
    EXPECT_EQ(format.rate, 22050);
    EXPECT_EQ(format.bytesPerFrame, 4);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.flags, kPCMBigEndian | kPCMSigned);
}

}  // namespace
