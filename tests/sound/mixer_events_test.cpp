// Loops, ends and their events, and the main thread's clean-up of finished
// channels.
#include <gtest/gtest.h>

#include "mixer_fixture.h"

namespace {

using namespace mixer_test;

class MixerEventsTest : public MixerTest {
protected:
    static constexpr uint32_t kLength = 100;
    std::vector<uint8_t> data_ = Mono16(std::vector<int16_t>(kLength, 1000));

    Play ThreePlays() {
        Play p;
        p.loops = 3;
        p.passMs = 10;
        p.lastLoopMs = 10;
        return p;
    }
};

TEST_F(MixerEventsTest, TwoLoopsLeftGiveTwoLoopEventsThenTheEndAtThreeLengths) {
    ASSERT_EQ(StartSample(0, data_.data(), kLength, ThreePlays()), 0);
    std::vector<qbSoundEvent> events;
    uint32_t played = 0;
    while (played < 3 * kLength - 1) {
        const uint32_t block = std::min<uint32_t>(7, 3 * kLength - 1 - played);
        null_backend::PullAudio(block);
        played += block;
        for (const qbSoundEvent& e : TakeEvents()) events.push_back(e);
    }
    ASSERT_EQ(events.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(events[i].type, kSoundEventSampleLoop);
        EXPECT_EQ(events[i].id.number, 1);
        EXPECT_EQ(events[i].loops, i + 2);
        EXPECT_EQ(events[i].position, 10u * static_cast<uint32_t>(i + 1));
    }
    EXPECT_EQ(audio_mixer::Channel(0)->loopsDone.load(), 3);
    EXPECT_EQ(audio_mixer::Channel(0)->position.load(), kLength - 1);
    EXPECT_EQ(audio_mixer::Channel(0)->kind.load(), kChannelSample);
    // Frame 3 x length ends it, within the same render.
    const std::vector<float> last = null_backend::PullAudio(2);
    EXPECT_NE(last[0], 0.0f);
    EXPECT_EQ(last[2], 0.0f);
    EXPECT_EQ(audio_mixer::Channel(0)->kind.load(), kChannelFinished);
    EXPECT_EQ(audio_mixer::Channel(0)->kindBeforeFinishing.load(), kChannelSample);
    events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventSampleEnd);
    EXPECT_EQ(events[0].loops, 3);
    EXPECT_EQ(events[0].position, 30u);
}

TEST_F(MixerEventsTest, LoopsWithinOneRenderAreEachReported) {
    ASSERT_EQ(StartSample(0, data_.data(), kLength, ThreePlays()), 0);
    null_backend::PullAudio(4096);
    const std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, kSoundEventSampleLoop);
    EXPECT_EQ(events[1].type, kSoundEventSampleLoop);
    EXPECT_EQ(events[2].type, kSoundEventSampleEnd);
}

TEST_F(MixerEventsTest, EventsThatAreNotWantedAreNotQueued) {
    audio_mixer::SetEventSwitches(false, true, true);
    ASSERT_EQ(StartSample(0, data_.data(), kLength, ThreePlays()), 0);
    null_backend::PullAudio(4096);
    const std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventSampleEnd);
}

TEST_F(MixerEventsTest, ATimedSampleEndsAtItsEndFrameOnTheLastLoop) {
    Play p = ThreePlays();
    p.loops = 2;
    p.endFrame = 30;
    p.lastLoopMs = 3;
    ASSERT_EQ(StartSample(0, data_.data(), kLength, p), 0);
    const std::vector<float> out = null_backend::PullAudio(kLength + 31);
    EXPECT_NE(out[2 * (kLength + 29)], 0.0f);
    EXPECT_EQ(out[2 * (kLength + 30)], 0.0f);
    const std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].type, kSoundEventSampleEnd);
    EXPECT_EQ(events[1].position, 13u);
}

TEST_F(MixerEventsTest, ProcessingEventsFreesFinishedChannelsOnly) {
    Play once;
    ASSERT_EQ(StartSample(0, data_.data(), kLength, once), 0);
    Play forever;
    forever.loops = 1000000;
    ASSERT_EQ(StartSample(1, data_.data(), kLength, forever), 0);
    null_backend::PullAudio(kLength * 2);
    ProcessAudioEvents();
    EXPECT_EQ(audio_mixer::Channel(0)->kind.load(), kChannelFree);
    EXPECT_EQ(audio_mixer::Channel(0)->voice, nullptr);
    EXPECT_EQ(audio_mixer::Channel(1)->kind.load(), kChannelSample);
    std::vector<qbSoundEvent> events;
    while (std::optional<qbSoundEvent> e = PopSoundEvent()) events.push_back(*e);
    ASSERT_EQ(events.size(), 3u);  // channel 1 looped twice, channel 0 ended
    // A disposed converter silences its channel without freeing it.
    DisposeChannelConverter(1);
    const std::vector<float> out = null_backend::PullAudio(16);
    for (float s : out) EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(audio_mixer::Channel(1)->kind.load(), kChannelSample);
}

TEST_F(MixerEventsTest, PreparedChannelsStartOnTheSameFrame) {
    audio_mixer::ResetChannel(0);
    audio_mixer::ResetChannel(1);
    for (int c = 0; c < 2; ++c) {
        qbAudioChannel* ch = audio_mixer::Channel(c);
        ch->loopsWanted = 1;
        ch->endFrame = kLength;
        ch->kind.store(kChannelPrepared);
        qbAudioStream stream{4, kPCMSigned, 48000, kLength};
        ASSERT_EQ(CreateStreamConverter(&stream, c, data_.data(), 48000, 64, c == 0 ? 0 : 255), 0);
        // Nothing plays before the release.
        for (float s : null_backend::PullAudio(8)) EXPECT_EQ(s, 0.0f);
    }
    audio_mixer::ReleasePreparedChannels();
    const std::vector<float> out = null_backend::PullAudio(kLength + 1);
    EXPECT_NE(out[0], 0.0f);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_NE(out[2 * (kLength - 1)], 0.0f);
    EXPECT_EQ(out[2 * kLength], 0.0f);
    EXPECT_EQ(out[2 * kLength + 1], 0.0f);
}

TEST_F(MixerEventsTest, AStoppedDeviceRendersNothingAndKeepsItsPlace) {
    ASSERT_EQ(StartSample(0, data_.data(), kLength, Play{}), 0);
    StopAudioOutput();
    for (float s : null_backend::PullAudio(16)) EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(audio_mixer::Channel(0)->position.load(), 0u);
    EXPECT_EQ(StartAudioOutput(), 0);
    EXPECT_EQ(StartAudioOutput(), 0);
    null_backend::PullAudio(16);
    EXPECT_EQ(audio_mixer::Channel(0)->position.load(), 16u);
}

// Without the fixture, whose start would hide it: a device never started
// renders nothing (whether an earlier test started and stopped it or not),
// until it starts.
TEST(MixerDeviceTest, ADeviceNeverStartedRendersNothing) {
    SetPlatformBackend(nullptr);
    ASSERT_EQ(audio_mixer::SetChannelCount(2), 0);
    const std::vector<uint8_t> data = Mono16(std::vector<int16_t>(64, 12000));
    ASSERT_EQ(StartSample(0, data.data(), 64, Play{}), 0);
    for (float s : null_backend::PullAudio(16)) EXPECT_EQ(s, 0.0f);
    EXPECT_FALSE(null_backend::AudioRunning());
    EXPECT_EQ(audio_mixer::Channel(0)->position.load(), 0u);
    ASSERT_EQ(StartAudioOutput(), 0);
    EXPECT_TRUE(null_backend::AudioRunning());
    EXPECT_NE(null_backend::PullAudio(16)[0], 0.0f);
    audio_mixer::ResetChannel(0);
    DisposeAudioOutput();
    EXPECT_FALSE(null_backend::AudioRunning());
}

}  // namespace
