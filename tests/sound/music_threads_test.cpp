// Music feeders as threads: a slow stream plays silence rather than the
// second before, StopMusic joins its feeder, a music freed while it plays
// falls silent, 32 musics play at once, and a music plays without real-time
// scheduling rights. These also run in the ThreadSanitizer binary.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

#include "music_fixture.h"
#include "sound/soundplugins.h"

namespace music_test {
namespace {

std::atomic<int> slowReads{0};

// Frame values 1000 x the number of the read; every read after the first
// takes 200 ms.
int64_t SlowSamples(void*, void* buffer, int64_t frames, int32_t* done) {
    const int n = ++slowReads;
    if (n > 1) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto* out = static_cast<int16_t*>(buffer);
    for (int64_t i = 0; i < frames; ++i) out[i] = static_cast<int16_t>(1000 * std::min(n, 30));
    *done = 0;
    return frames;
}

const qbSoundLoaderSlots kSlowSlots{nullptr, nullptr, nullptr, &SlowSamples, nullptr};

class MusicThreadsTest : public MusicTest {};

TEST_F(MusicThreadsTest, ASlowStreamPlaysSilenceNotThePreviousSecond) {
    slowReads = 0;
    qbSamplePtr s(new qbSample);
    s->format = kStreamPlugin;
    s->pluginSlots = &kSlowSlots;
    s->pluginStream = &slowReads;
    s->bits = 16;
    s->channels = 1;
    s->bytesPerFrame = s->outBytesPerFrame = 2;
    s->flags = kPCMSigned;
    s->rate = 48000;
    s->frames = s->framesTotal = 48000 * 60;
    s->pcmCode = 4;
    qbMusicObject* m = LinkNewMusic(std::move(s));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(Call("PlayMusic", [&] { PushObjectID(L_, IDOf(*m)); }), 0);
    const std::vector<float> out = Pull(48000 + 24000, 4800, false);
    for (size_t i = 0; i < 48000; ++i) ASSERT_NEAR(out[i], 1000 / 32768.0f, 1e-4f) << i;
    for (size_t i = 48000; i < out.size(); ++i) ASSERT_GT(std::fabs(out[i] - 1000 / 32768.0f), 1e-4f) << i;
    // The stop waits for the feeder in its slow read, and no read follows.
    ASSERT_EQ(Call("StopMusic", [&] {}), 0);
    const int reads = slowReads.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(slowReads.load(), reads);
}

TEST_F(MusicThreadsTest, ThirtyTwoMusicsPlayAtOnce) {
    const std::string path = WriteWave("music_many.wav", 12000);  // 0.25 s
    for (int id = 1; id <= 32; ++id) {
        ASSERT_EQ(Open(id, path), 0);
        ASSERT_EQ(Call("PlayMusic", [&] { N(id); N(2); }), 0);
    }
    EXPECT_EQ(Number("HaveFreeChannel"), 0);
    Pull(48000);
    EXPECT_EQ(Events().size(), 32u);
    for (int id = 1; id <= 32; ++id) EXPECT_EQ(Number("IsMusicPlaying", [&] { N(id); }), 0) << id;
    EXPECT_EQ(Number("HaveFreeChannel"), 1);
}

TEST_F(MusicThreadsTest, StopMusicWhilePlayingJoinsEveryFeeder) {
    const std::string path = WriteWave("music_join.wav", 96000);
    for (int id = 1; id <= 4; ++id) {
        ASSERT_EQ(Open(id, path), 0);
        ASSERT_EQ(Call("PlayMusic", [&] { N(id); N(0); }), 0);
    }
    Pull(9600, 480);
    for (int id = 1; id <= 4; ++id) ASSERT_EQ(Call("StopMusic", [&] { N(id); }), 0);
    for (int id = 1; id <= 4; ++id) EXPECT_EQ(Music(id)->feeder, nullptr);
    EXPECT_TRUE(Events().empty());
}

// Every road that frees a music (CloseMusic, OpenMusic over its id, the
// end of the script) while its stream plays takes it off the mixer at once:
// silence from the next pull on, no end event, its channel free again.
TEST_F(MusicThreadsTest, AMusicFreedWhilePlayingFallsSilentAndFreesItsChannel) {
    const std::string path = WriteWave("music_freed.wav", 48000);
    const std::vector<std::pair<std::string, std::function<void()>>> roads = {
        {"CloseMusic", [&] { ASSERT_EQ(Call("CloseMusic", [&] { N(1); }), 0); }},
        {"OpenMusic over it", [&] { ASSERT_EQ(Open(1, path), 0); }},
        {"the end of the script", [&] { FreeAllMusic(L_); }},
    };
    for (const auto& [road, free] : roads) {
        SCOPED_TRACE(road);
        ASSERT_EQ(Open(1, path), 0);
        ASSERT_EQ(Call("PlayMusic", [&] { N(1); N(0); }), 0);
        const std::vector<float> playing = Pull(4800);
        EXPECT_NEAR(playing[1000], Value(1000) / 32768.0f, 1e-3f);
        free();
        const std::vector<float> after = Pull(9600, 4800, false);
        EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](float v) { return v == 0.0f; }));
        EXPECT_TRUE(Events().empty());
        for (int i = 0; i < audio_mixer::ChannelCount(); ++i)
            EXPECT_NE(audio_mixer::Channel(i)->kind.load(), kChannelStream) << "channel " << i;
        if (road == "OpenMusic over it") {
            EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
            ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
            EXPECT_NEAR(Pull(4800)[100], Value(100) / 32768.0f, 1e-3f);
            ASSERT_EQ(Call("CloseMusic", [&] { N(1); }), 0);
        }
    }
}

TEST_F(MusicThreadsTest, MusicPlaysWithoutRealtimeRights) {
    const std::string path = WriteWave("music_rt.wav", 14400);
    const rlimit none{0, 0};
    auto playOnce = [&] {
        if (Open(1, path) != 0) return false;
        if (Call("PlayMusic", [&] { N(1); N(2); }) != 0) return false;
        Pull(48000);
        const bool one = Events().size() == 1;
        return one && Call("CloseMusic", [&] { N(1); }) == 0;
    };
    // As whoever runs the test (root has the privilege anyway).
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = setrlimit(RLIMIT_RTPRIO, &none) == 0 && playOnce();
        // Then as a user without the privilege.
        if (ok && getuid() == 0) ok = setgid(65534) == 0 && setuid(65534) == 0 && playOnce();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace music_test
