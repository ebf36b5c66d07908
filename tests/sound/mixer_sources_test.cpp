// The pulled sources: module music through the renderer hook, a video's
// byte queue (locked or paused), and a streamed music's double buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "mixer_fixture.h"

namespace {

using namespace mixer_test;

struct StubModule {
    double phase = 0.0;
    int largestPull = 0;
    int pulls = 0;
};

// A 1 kHz tone at the module player's 48000 Hz, left and right alike.
void RenderStub(void* module, int16_t* out, int frames) {
    auto* m = static_cast<StubModule*>(module);
    m->largestPull = std::max(m->largestPull, frames);
    ++m->pulls;
    for (int i = 0; i < frames; ++i) {
        const auto s = static_cast<int16_t>(std::lround(30000.0 * std::sin(m->phase)));
        out[2 * i] = out[2 * i + 1] = s;
        m->phase += 2.0 * M_PI * 1000.0 / 48000.0;
    }
}

int StartModule(int channel, StubModule* module) {
    audio_mixer::ResetChannel(channel);
    audio_mixer::Channel(channel)->kind.store(kChannelModule);
    return CreateMusicConverter(module, channel, 48000, 64);
}

class MixerSourcesTest : public MixerTest {};

TEST_F(MixerSourcesTest, ModuleIsResampledAndNeverAskedForMoreThanItsBuffer) {
    audio_mixer::SetModuleRenderer(&RenderStub);
    null_backend::SetAudioPullRate(44100);
    StubModule module;
    ASSERT_EQ(StartModule(0, &module), 0);
    EXPECT_EQ(audio_mixer::Channel(0)->bufferSize, 192000u);
    // One pull of a whole second, then one in device-sized blocks.
    const std::vector<float> once = null_backend::PullAudio(44100);
    EXPECT_LE(module.largestPull, 48000);
    EXPECT_NEAR(ZeroCrossings(once, 0) / 2.0, 1000.0, 1.0);
    std::vector<float> blocks;
    for (int i = 0; i < 44100 / 1024 + 1; ++i) {
        const std::vector<float> part = null_backend::PullAudio(1024);
        blocks.insert(blocks.end(), part.begin(), part.end());
    }
    blocks.resize(2 * 44100);
    EXPECT_NEAR(ZeroCrossings(blocks, 0) / 2.0, 1000.0, 1.0);
    EXPECT_LE(module.largestPull, 48000);
    // Without a renderer the channel is silent.
    audio_mixer::SetModuleRenderer(nullptr);
    for (float s : null_backend::PullAudio(64)) EXPECT_EQ(s, 0.0f);
}

TEST_F(MixerSourcesTest, ModulePullsStayWithinTheBufferAtLowDeviceRates) {
    audio_mixer::SetModuleRenderer(&RenderStub);
    null_backend::SetAudioPullRate(256);
    StubModule module;
    ASSERT_EQ(StartModule(0, &module), 0);
    null_backend::PullAudio(4096);
    EXPECT_LE(module.largestPull, 48000);
    EXPECT_GT(module.pulls, 1);
}

TEST_F(MixerSourcesTest, LockedVideoQueueGivesSilenceAtOnceWhileOthersPlay) {
    qbVideoAudioQueue queue;
    queue.capacity = 4096 * 2;
    queue.bytes = std::make_unique<uint8_t[]>(queue.capacity);
    const std::vector<uint8_t> pcm = Mono16(std::vector<int16_t>(4096, 16384));
    std::copy(pcm.begin(), pcm.end(), queue.bytes.get());
    queue.fill = pcm.size();

    audio_mixer::ResetChannel(0);
    qbAudioChannel* video = audio_mixer::Channel(0);
    video->video = &queue;
    video->kind.store(kChannelVideo);
    qbAudioStream format{4, kPCMSigned, 48000, 0};
    ASSERT_EQ(CreateStreamConverter(&format, 0, nullptr, 48000, 64, 0), 0);
    const std::vector<uint8_t> other = Mono16(std::vector<int16_t>(48000, 8192));
    Play right;
    right.pan = 255;
    ASSERT_EQ(StartSample(1, other.data(), 48000, right), 0);

    // The quickest of a few callbacks, so that a busy machine's preemption
    // does not count as waiting.
    std::vector<float> out;
    double elapsedMs = 1e9;
    {
        std::lock_guard hold(queue.mutex);
        std::thread audio([&] {
            for (int i = 0; i < 5; ++i) {
                const auto start = std::chrono::steady_clock::now();
                out = null_backend::PullAudio(1024);
                const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
                elapsedMs = std::min(elapsedMs, took.count());
            }
        });
        audio.join();
    }
    EXPECT_LT(elapsedMs, 1.0);
    for (size_t k = 0; k < 1024; ++k) {
        ASSERT_EQ(out[2 * k], 0.0f) << k;
        ASSERT_EQ(out[2 * k + 1], 0.25f) << k;
    }
    EXPECT_EQ(queue.fill, pcm.size());
    // Free again, the queue plays from its front and what is left moves up.
    out = null_backend::PullAudio(1024);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[2 * 1000], 0.5f);
    EXPECT_EQ(queue.fill, pcm.size() - 2 * 1025);
    // Paused, it is silent and keeps its bytes for the resume.
    queue.paused = true;
    out = null_backend::PullAudio(512);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[2 * 500], 0.0f);
    EXPECT_EQ(queue.fill, pcm.size() - 2 * 1025);
    queue.paused = false;
    // Run dry, it is silent again, without an end.
    null_backend::PullAudio(4096);
    EXPECT_EQ(null_backend::PullAudio(16)[0], 0.0f);
    EXPECT_EQ(video->kind.load(), kChannelVideo);
}

TEST_F(MixerSourcesTest, StreamPlaysReadyHalvesOnlyAndAsksForRefills) {
    const std::vector<uint8_t> first = Mono16(std::vector<int16_t>(300, 8192));
    const std::vector<uint8_t> second = Mono16(std::vector<int16_t>(300, -8192));
    qbStreamFeed feed;
    feed.halves[0].pcm = first.data();
    feed.halves[0].frames = 300;
    feed.halves[0].ready = true;
    feed.halves[1].pcm = second.data();
    feed.halves[1].frames = 300;
    feed.halves[1].ready = true;
    audio_mixer::ResetChannel(0);
    qbAudioChannel* ch = audio_mixer::Channel(0);
    ch->feed = &feed;
    ch->owner = ObjectID{7, nullptr};
    ch->kind.store(kChannelStream);
    qbAudioStream format{4, kPCMSigned, 48000, 0};
    ASSERT_EQ(CreateStreamConverter(&format, 0, nullptr, 48000, 64, 128), 0);

    std::vector<float> out = null_backend::PullAudio(400);
    EXPECT_EQ(out[2 * 0], 0.25f);
    EXPECT_EQ(out[2 * 299], 0.25f);
    EXPECT_EQ(out[2 * 300], -0.25f);
    EXPECT_FALSE(feed.halves[0].ready);
    // The first half was used: the feeder was signalled at once.
    {
        std::lock_guard lock(feed.mutex);
        EXPECT_TRUE(feed.refillRequested);
        feed.refillRequested = false;
    }
    EXPECT_FALSE(feed.refill);
    // The second half runs out with the feeder's mutex busy: the request
    // waits in the flag, and the used half is never played again.
    {
        std::lock_guard hold(feed.mutex);
        std::thread audio([&] { out = null_backend::PullAudio(400); });
        audio.join();
    }
    EXPECT_EQ(out[2 * 199], -0.25f);
    EXPECT_EQ(out[2 * 200], 0.0f);
    EXPECT_EQ(out[2 * 399], 0.0f);
    EXPECT_TRUE(feed.refill);
    null_backend::PullAudio(16);
    EXPECT_FALSE(feed.refill);
    // The feeder's last half, then the end.
    feed.halves[0].frames = 100;
    feed.endState = 1;
    feed.halves[0].ready = true;
    out = null_backend::PullAudio(200);
    EXPECT_EQ(out[2 * 99], 0.25f);
    EXPECT_EQ(out[2 * 100], 0.0f);
    EXPECT_EQ(feed.endState.load(), 2);
    EXPECT_EQ(ch->kind.load(), kChannelFinished);
    EXPECT_EQ(ch->kindBeforeFinishing.load(), kChannelStream);
    const std::vector<qbSoundEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventMusicEnd);
    EXPECT_EQ(events[0].id.number, 7);
}

}  // namespace
