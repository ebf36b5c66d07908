// The channel table's starts, updates and stops while the pull device
// renders on another thread (run under the thread sanitizer in test_threads).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/soundevents.h"
#include "platform/mixer/mixer.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "sound/channels.h"
#include "sound/sound.h"

namespace {

TEST(ChannelTableThreads, SamplesStartAndStopWhileThePullDeviceRenders) {
    SetPlatformBackend(nullptr);
    ShutdownAudioCore();
    DisposeAudioOutput();
    null_backend::SetAudioPullRate(44100);
    ASSERT_EQ(EnsureAudioOpen(8), 0);
    for (int code : {12, 13}) SoundSettingsHook(code, 1);
    std::vector<int16_t> pcm(300, 1000);
    const qbSampleData sample{pcm.data(), 16, 2, 1, kPCMSigned, 300, 22050};
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> block(2 * 128);
        while (!done.load()) {
            null_backend::PullAudio(block.data(), 128);
            blocks.fetch_add(1);
        }
    });
    while (blocks.load() == 0) std::this_thread::yield();
    for (int i = 0; i < 3000; ++i) {
        qbSampleStart how;
        how.owner = ObjectID{i, nullptr};
        how.times = 1 + i % 3;
        how.timeMs = i % 4 == 0 ? 7 : -1;
        int channel = -1;
        const int error = StartSample(sample, how, &channel);
        EXPECT_TRUE(error == 0 || error == ERR_NOCHANNEL);
        if (i % 4 == 3) ReleasePreparedSamples();
        UpdateChannelAttributes(pcm.data(), 11025 + i, i % 65, i % 256, -1);
        if (i % 7 == 0) StopChannel(pcm.data(), -1);
        if (i % 50 == 0) StopAllChannels();
        if (i % 16 == 0) {
            ProcessAudioEvents();
            while (PopSoundEvent()) {
            }
        }
    }
    done = true;
    audio.join();
    ShutdownAudioCore();
    for (int code : {12, 13}) SoundSettingsHook(code, 0);
}

}  // namespace
