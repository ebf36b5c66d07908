// Resampling: pitch and rate conversions keep their frequency, and no voice
// reads outside its data at loop and end boundaries.
#include <gtest/gtest.h>

#include <memory>

#include "mixer_fixture.h"

namespace {

using namespace mixer_test;

class MixerResampleTest : public MixerTest {};

TEST_F(MixerResampleTest, SineKeepsItsFrequencyAtEveryDeviceRate) {
    const std::vector<uint8_t> data = Mono16(Sine16(22050, 1000.0, 22050 * 2));
    for (int device : {44100, 48000}) {
        SCOPED_TRACE(device);
        null_backend::SetAudioPullRate(device);
        Play p;
        p.rate = 22050;
        ASSERT_EQ(StartSample(0, data.data(), 22050 * 2, p), 0);
        const std::vector<float> out = null_backend::PullAudio(static_cast<size_t>(device));
        const int crossings = ZeroCrossings(out, 0);
        EXPECT_NEAR(crossings / 2.0, 1000.0, 1.0);
        EXPECT_EQ(ZeroCrossings(out, 1), crossings);
        audio_mixer::ResetChannel(0);
    }
}

TEST_F(MixerResampleTest, DoublePitchDoublesTheToneAndHalvesThePlay) {
    null_backend::SetAudioPullRate(44100);
    constexpr uint32_t kFrames = 22050;
    const std::vector<uint8_t> data = Mono16(Sine16(22050, 1000.0, kFrames));
    Play p;
    p.rate = 22050;
    p.pitch = 44100;
    ASSERT_EQ(StartSample(0, data.data(), kFrames, p), 0);
    const std::vector<float> out = null_backend::PullAudio(kFrames - 1);
    EXPECT_NEAR(ZeroCrossings(out, 0) / 2.0, 2000.0 * (kFrames - 1) / 44100.0, 1.0);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_FALSE(audio_mixer::Channel(0)->finished.load());
    null_backend::PullAudio(1);
    const std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventSampleEnd);
    // What follows the end is silence.
    const std::vector<float> after = null_backend::PullAudio(64);
    for (float s : after) EXPECT_EQ(s, 0.0f);
}

TEST_F(MixerResampleTest, PitchChangesWhilePlaying) {
    null_backend::SetAudioPullRate(48000);
    const std::vector<uint8_t> data = Mono16(Sine16(48000, 1000.0, 48000));
    Play p;
    p.loops = 100;
    ASSERT_EQ(StartSample(0, data.data(), 48000, p), 0);
    EXPECT_NEAR(ZeroCrossings(null_backend::PullAudio(48000), 0) / 2.0, 1000.0, 1.0);
    SetNativeChannelRate(0, 24000);
    EXPECT_NEAR(ZeroCrossings(null_backend::PullAudio(48000), 0) / 2.0, 500.0, 1.0);
}

// Every sample lives in a heap block of exactly its size, so that the
// address sanitizer sees a read one frame past the end.
TEST_F(MixerResampleTest, NoReadOutsideTheDataAtAnyRate) {
    null_backend::SetAudioPullRate(48000);
    for (int code = 0; code < kPCMCodeCount; ++code) {
        for (uint32_t frames : {1u, 2u, 3u, 7u, 64u}) {
            for (int rate : {256, 7993, 22050, 48000, 96000, 384000}) {
                SCOPED_TRACE(testing::Message() << "code " << code << " frames " << frames << " rate " << rate);
                const size_t bytes = frames * static_cast<size_t>(audio_mixer::BytesPerFrame(code));
                std::unique_ptr<uint8_t[]> block(new uint8_t[bytes]);
                for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<uint8_t>(i * 37 + 11);
                Play p;
                p.pcmCode = code;
                p.rate = rate;
                p.loops = 3;
                p.endFrame = frames / 2;
                ASSERT_EQ(StartSample(0, block.get(), frames, p), 0);
                // A 256 Hz frame lasts 187.5 device frames; three loops of
                // 64 of them fit in 36000.
                for (int i = 0; i < 40 && !audio_mixer::Channel(0)->finished.load(); ++i) null_backend::PullAudio(1000);
                EXPECT_TRUE(audio_mixer::Channel(0)->finished.load());
                const std::vector<qbSoundEvent> events = TakeEvents();
                ASSERT_EQ(events.size(), 3u);
                EXPECT_EQ(events[2].type, kSoundEventSampleEnd);
                audio_mixer::ResetChannel(0);
            }
        }
    }
}

}  // namespace
