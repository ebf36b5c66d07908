// The audio thread renders while the main thread starts, changes and stops
// channels: run under the thread sanitizer (test_threads) and the address
// sanitizer, this finds words shared without order and sources freed while
// the callback reads them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "mixer_fixture.h"
#include "platform/linux/sdl_audio.h"

namespace {

using namespace mixer_test;

struct Source {
    std::vector<uint8_t> bytes;
    Play play;
    uint32_t frames = 0;
};

std::vector<Source> MakeSources() {
    std::vector<Source> sources;
    const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000};
    for (int code = 0; code < kPCMCodeCount; ++code) {
        for (uint32_t frames : {1u, 37u, 500u, 4000u}) {
            Source s;
            s.frames = frames;
            s.bytes.resize(frames * static_cast<size_t>(audio_mixer::BytesPerFrame(code)));
            for (size_t i = 0; i < s.bytes.size(); ++i) s.bytes[i] = static_cast<uint8_t>(i * 13);
            s.play.pcmCode = code;
            s.play.rate = rates[(code + frames) % 6];
            s.play.loops = 1 + static_cast<int>(frames % 3);
            s.play.flags = kPCMSigned | (frames % 2 ? kPCMBigEndian : 0u);
            sources.push_back(std::move(s));
        }
    }
    return sources;
}

void RenderSilence(void*, int16_t* out, int frames) { std::fill(out, out + 2 * frames, int16_t{0}); }

// Starts, changes and stops channels `rounds` times, taking the events as
// the pump would.
void Churn(int rounds) {
    const std::vector<Source> sources = MakeSources();
    std::mt19937 rng(12345);
    const int count = audio_mixer::ChannelCount();
    int module = 0;
    for (int i = 0; i < rounds; ++i) {
        const int c = i % count;
        if (i % 97 == 0) {
            audio_mixer::ResetChannel(c);
            audio_mixer::Channel(c)->kind.store(kChannelModule);
            EXPECT_EQ(CreateMusicConverter(&module, c, 48000, 64), 0);
        } else {
            const Source& s = sources[rng() % sources.size()];
            EXPECT_EQ(StartSample(c, s.bytes.data(), s.frames, s.play), 0);
        }
        const int other = static_cast<int>(rng() % static_cast<unsigned>(count));
        SetChannelVolumePan(other, static_cast<int>(rng() % 65), static_cast<int>(rng() % 256));
        SetNativeChannelRate(other, 256 + static_cast<int>(rng() % 96000));
        SetMixerInputVolume(static_cast<int>(rng() % static_cast<unsigned>(count)), 32);
        if (i % 5 == 0) FreeChannelConverter(static_cast<int>(rng() % static_cast<unsigned>(count)));
        if (i % 11 == 0) DisposeChannelConverter(static_cast<int>(rng() % static_cast<unsigned>(count)));
        if (i % 16 == 0) {
            ProcessAudioEvents();
            while (PopSoundEvent()) {
            }
        }
    }
    for (int c = 0; c < count; ++c) audio_mixer::ResetChannel(c);
}

class MixerThreadsTest : public MixerTest {
protected:
    void SetUp() override {
        MixerTest::SetUp();
        for (int i = 0; i < kChannels; ++i) audio_mixer::ResetChannel(i);
        ASSERT_EQ(audio_mixer::SetChannelCount(64), 0);
        audio_mixer::SetModuleRenderer(&RenderSilence);
    }
    void TearDown() override {
        MixerTest::TearDown();
        ASSERT_EQ(audio_mixer::SetChannelCount(kChannels), 0);
    }
};

TEST_F(MixerThreadsTest, ChannelsChurnWhileThePullDeviceRenders) {
    null_backend::SetAudioPullRate(44100);
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> block(2 * 256);
        while (!done.load()) {
            null_backend::PullAudio(block.data(), 256);
            blocks.fetch_add(1);
            // A device pulls once a buffer, not back to back: a pull that
            // relocks at once can starve the churn of the device lock
            // (the lock is not fair), which ThreadSanitizer's slow renders
            // turn into minutes.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    // The churn overlaps rendering from its first round to its last.
    while (blocks.load() == 0) std::this_thread::yield();
    const int before = blocks.load();
    Churn(10000);
    while (blocks.load() < before + 2) std::this_thread::yield();
    done = true;
    audio.join();
}

TEST_F(MixerThreadsTest, ChannelsChurnWhileSdlsCallbackRenders) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    DisposeAudioOutput();
    ASSERT_EQ(sdl_audio::StartAudioOutput(), 0);
    Churn(2000);
    sdl_audio::DisposeAudioOutput();
}

}  // namespace
