// The sound core's channel table over the mixer and the pull device:
// allocation, timed and prepared starts, events, stops and channel info.
#include <gtest/gtest.h>

#include <mutex>

#include "mixer_fixture.h"
#include "sound/channels.h"
#include "sound/sound.h"
#include "sound/soundevents.h"

namespace {

using mixer_test::TakeEvents;

class ChannelTableTest : public ::testing::Test {
protected:
    static constexpr int kChannels = 4;
    static constexpr uint32_t kFrames = 480;  // 10 ms at 48 kHz
    std::vector<int16_t> pcm_ = std::vector<int16_t>(kFrames, 8000);

    void SetUp() override {
        SetPlatformBackend(nullptr);
        ShutdownAudioCore();
        DisposeAudioOutput();
        null_backend::SetAudioPullRate(48000);
        ASSERT_EQ(StartAudioCore(), 0);
        ASSERT_EQ(EnsureAudioOpen(kChannels), 0);
        for (int code : {12, 13, 18, 23}) SoundSettingsHook(code, 0);
        ClearSoundEvents();
    }
    void TearDown() override {
        ShutdownAudioCore();
        for (int code : {12, 13, 18, 23}) SoundSettingsHook(code, 0);
    }
    qbSampleData Sample() const {
        return qbSampleData{pcm_.data(), 16, 2, 1, kPCMSigned, kFrames, 48000};
    }
    int Start(int owner, int channel = -1, int64_t timeMs = -1, int times = 1) {
        qbSampleStart how;
        how.owner = ObjectID{owner, nullptr};
        how.channel = channel;
        how.timeMs = timeMs;
        how.times = times;
        int index = -1;
        const int error = StartSample(Sample(), how, &index);
        return error ? -error : index;
    }
};

TEST_F(ChannelTableTest, EveryChannelBusyGivesNoChannelAndAnExplicitOneIsTakenOver) {
    for (int i = 0; i < kChannels; ++i) EXPECT_EQ(Start(i + 1), i);
    EXPECT_EQ(Start(9), -ERR_NOCHANNEL);
    EXPECT_EQ(Start(9, 2), 2);
    int32_t type = 0;
    ObjectID owner;
    ASSERT_EQ(GetChannelInfo(2, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjSample);
    EXPECT_EQ(owner.number, 9);
    EXPECT_EQ(Start(9, kChannels), -ERR_CHANNELRANGE);
    EXPECT_EQ(Start(9, -2), -ERR_CHANNELRANGE);
}

TEST_F(ChannelTableTest, ChannelInfoOutOfRangeGivesRangeErrorAndNoObject) {
    int32_t type = 0;
    ObjectID owner{5, nullptr};
    EXPECT_EQ(GetChannelInfo(kChannels, &type, &owner, nullptr), ERR_CHANNELRANGE);
    EXPECT_EQ(type, kChannelObjNone);
    ASSERT_EQ(GetChannelInfo(0, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjNone);
}

TEST_F(ChannelTableTest, LoopEventsOnlyWithTheirHandler) {
    ASSERT_EQ(Start(1, -1, -1, 3), 0);
    ReleasePreparedSamples();
    null_backend::PullAudio(4 * kFrames);
    EXPECT_TRUE(TakeEvents().empty());

    EXPECT_EQ(SoundSettingsHook(12, 1), 1);
    EXPECT_EQ(SoundSettingsHook(13, 1), 1);
    EXPECT_EQ(SoundSettingsHook(99, 1), 0);
    ASSERT_EQ(Start(1, -1, -1, 3), 0);
    ReleasePreparedSamples();
    null_backend::PullAudio(4 * kFrames);
    std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, kSoundEventSampleLoop);
    EXPECT_EQ(events[2].type, kSoundEventSampleEnd);
    EXPECT_EQ(events[2].position, 30u);
}

TEST_F(ChannelTableTest, SwitchedOffEventsAreNeverQueued) {
    EXPECT_EQ(PushSwitchedSoundEvent(kSoundEventVideoEnd, ObjectID{}, 0, 0, 0, 0), 0);
    EXPECT_FALSE(PopSoundEvent());
    SoundSettingsHook(23, 1);
    EXPECT_EQ(PushSwitchedSoundEvent(kSoundEventVideoEnd, ObjectID{}, 0, 0, 0, 0), 0);
    EXPECT_TRUE(PopSoundEvent());
}

TEST_F(ChannelTableTest, TimedPlayEndsOnItsExactFrameWithItsPosition) {
    SoundSettingsHook(13, 1);
    // 25 ms of a 10 ms sample: two passes and 5 ms, 240 frames.
    ASSERT_EQ(Start(1, -1, 25), 0);
    ReleasePreparedSamples();
    const std::vector<float> out = null_backend::PullAudio(3 * kFrames);
    const uint32_t end = 2 * kFrames + 240;
    EXPECT_NE(out[2 * (end - 1)], 0.0f);
    EXPECT_EQ(out[2 * end], 0.0f);
    std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventSampleEnd);
    EXPECT_EQ(events[0].loops, 3);
    EXPECT_EQ(events[0].position, 25u);
}

TEST_F(ChannelTableTest, PreparedSamplesWaitForTheReleaseAndStartTogether) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(Start(i + 1), i);
    EXPECT_EQ(null_backend::PullAudio(16)[0], 0.0f);
    ReleasePreparedSamples();
    const std::vector<float> four = null_backend::PullAudio(16);
    StopAllChannels();
    ASSERT_EQ(Start(1), 0);
    ReleasePreparedSamples();
    const std::vector<float> single = null_backend::PullAudio(16);
    ASSERT_NE(single[0], 0.0f);
    EXPECT_NEAR(four[0], 4.0f * single[0], 1e-4);
}

TEST_F(ChannelTableTest, StopAllUnderTheHeldTableMutexFreesEveryChannel) {
    for (int i = 0; i < kChannels; ++i) ASSERT_EQ(Start(i + 1), i);
    ReleasePreparedSamples();
    EXPECT_TRUE(IsSamplePlaying(pcm_.data()));
    {
        std::lock_guard held(ChannelTableMutex());
        StopAllChannels();
    }
    EXPECT_FALSE(IsSamplePlaying(pcm_.data()));
    int32_t type = 0;
    ObjectID owner;
    for (int i = 0; i < kChannels; ++i) {
        ASSERT_EQ(GetChannelInfo(i, &type, &owner, nullptr), 0);
        EXPECT_EQ(type, kChannelObjNone);
    }
}

TEST_F(ChannelTableTest, ChannelInfoCanHandOverTheLockedTable) {
    ASSERT_EQ(Start(7), 0);
    std::unique_lock<std::recursive_mutex> held;
    int32_t type = 0;
    ObjectID owner;
    ASSERT_EQ(GetChannelInfo(0, &type, &owner, &held), 0);
    EXPECT_TRUE(held.owns_lock());
    EXPECT_EQ(owner.number, 7);
    held.unlock();
    EXPECT_EQ(StopChannel(pcm_.data(), -1), 0);
    ASSERT_EQ(GetChannelInfo(0, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjNone);
}

TEST_F(ChannelTableTest, AttributesAndOpenRules) {
    ASSERT_EQ(Start(1), 0);
    EXPECT_EQ(UpdateChannelAttributes(pcm_.data(), 24000, 32, 0, -1), 0);
    EXPECT_EQ(audio_mixer::Channel(0)->volume.load(), 32);
    EXPECT_EQ(audio_mixer::Channel(0)->pan.load(), 0);
    EXPECT_EQ(UpdateChannelAttributes(pcm_.data(), -1, 64, -1, kChannels), ERR_CHANNELRANGE);
    ShutdownAudioCore();
    EXPECT_EQ(EnsureAudioOpen(-1), ERR_OPENAUDIO);
    ASSERT_EQ(EnsureAudioOpen(0), 0);
    EXPECT_EQ(audio_mixer::ChannelCount(), kChannels);
}

}  // namespace
