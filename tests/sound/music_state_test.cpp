// What the music commands leave for the next one: which music a resume
// without an id takes after pauses, resumes by id and closes, and which
// subsong a stream plays after PlaySubsong of its own and of another one.
#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/plugincaps.h"
#include "music_fixture.h"
#include "sound/soundplugins.h"

namespace music_test {
namespace {

TEST_F(MusicTest, AResumeWithoutAnIdTakesTheLastPausedMusicWhileItStaysPaused) {
    const std::string path = WriteWave("music_lastpaused.wav", 48000);
    for (int id : {1, 2, 3}) ASSERT_EQ(Open(id, path), 0);
    const auto playing = [&](int id) { return Number("IsMusicPlaying", [&] { N(id); }); };
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(2); }), 0);
    ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
    ASSERT_EQ(Call("PauseMusic", [&] { N(2); }), 0);
    // Resuming another one by its id keeps the last paused.
    ASSERT_EQ(Call("ResumeMusic", [&] { N(1); }), 0);
    ASSERT_EQ(Call("ResumeMusic", [&] {}), 0);
    EXPECT_EQ(playing(2), 1);
    // Resumed, it is no longer the one a resume takes.
    EXPECT_EQ(Call("ResumeMusic", [&] {}), ERR_MUSNOTPAUSED);

    // Closing another music keeps the last paused; closing it forgets it.
    ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
    ASSERT_EQ(Call("CloseMusic", [&] { N(3); }), 0);
    ASSERT_EQ(Call("ResumeMusic", [&] {}), 0);
    EXPECT_EQ(playing(1), 1);
    ASSERT_EQ(Call("PauseMusic", [&] { N(2); }), 0);
    ASSERT_EQ(Call("CloseMusic", [&] { N(2); }), 0);
    EXPECT_EQ(Call("ResumeMusic", [&] {}), ERR_MUSNOTPAUSED);
    EXPECT_EQ(playing(1), 1);
}

// A sound loader whose stream is mono 16-bit at 48 kHz, frame i of
// subsong s holding i + 1000 * s; it counts its opens.
struct SubsongStream {
    int64_t subsong = 0, position = 0;
};
constexpr int64_t kSubsongFrames = 48000;
int subsongOpens = 0;

const qbSoundLoaderSlots kSubsongSlots{
    [](const char* name, qbSoundStreamInfo* info) -> void* {
        std::ifstream in(name);
        std::string magic;
        if (!(in >> magic) || magic != "SUBSONGS") return nullptr;
        ++subsongOpens;
        info->rate = 48000;
        info->channels = 1;
        info->bits = 16;
        info->frames = kSubsongFrames;
        info->flags = QBSOUND_SIGNED | QBSOUND_CANSEEK;
        info->subsongs = 3;
        return new SubsongStream{info->subsong, 0};
    },
    [](void* handle) { delete static_cast<SubsongStream*>(handle); },
    [](void* handle, uint64_t frame) {
        static_cast<SubsongStream*>(handle)->position = static_cast<int64_t>(frame);
        return 1;
    },
    [](void* handle, void* buffer, int64_t frames, int32_t* done) -> int64_t {
        auto* s = static_cast<SubsongStream*>(handle);
        const int64_t n = std::min(frames, kSubsongFrames - s->position);
        for (int64_t i = 0; i < n; ++i)
            static_cast<int16_t*>(buffer)[i] = static_cast<int16_t>(s->position + i + 1000 * s->subsong);
        s->position += n;
        *done = s->position >= kSubsongFrames;
        return n;
    },
    nullptr,
};

class MusicSubsongTest : public MusicTest {
protected:
    void SetUp() override {
        MusicTest::SetUp();
        subsongOpens = 0;
        plugin_.name = "subsongs";
        plugin_.capabilities = PLUGINCAPS_SOUND;
        SetSoundLoaderSlots(&plugin_, &kSubsongSlots);
        ASSERT_EQ(AddLoadedPluginToList(PLUGINCAPS_SOUND, &plugin_), 0);
    }
    void TearDown() override {
        MusicTest::TearDown();
        RemovePluginFromCapabilityList(&plugin_, PLUGINCAPS_SOUND);
        SetSoundLoaderSlots(&plugin_, nullptr);
    }
    // The subsong heard and the frame it starts from, read off the next pull.
    std::pair<int, int> Heard() {
        const std::vector<float> out = Pull(4800);
        const int value = static_cast<int>(std::lround(out[100] * 32768.0f)) - 100;
        return {value / 1000, value % 1000};
    }
    qbAdapterPlugin plugin_;
};

TEST_F(MusicSubsongTest, PlaySubsongRewindsItsOwnAndOpensAnother) {
    const std::string path = ::testing::TempDir() + "music_subsongs.txt";
    std::ofstream(path) << "SUBSONGS\n";
    ASSERT_EQ(Open(1, path), 0);
    ASSERT_EQ(Music(1)->stream->subsongs, 3);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    Pull(4800);
    ASSERT_EQ(Call("PlaySubsong", [&] { N(2); N(1); }), 0);
    EXPECT_EQ(Heard(), std::make_pair(2, 0));
    Pull(4800);
    // The same subsong again starts over on the stream it has.
    const int opens = subsongOpens;
    ASSERT_EQ(Call("PlaySubsong", [&] { N(2); N(1); }), 0);
    EXPECT_EQ(Heard(), std::make_pair(2, 0));
    EXPECT_EQ(subsongOpens, opens);
    ASSERT_EQ(Call("PlaySubsong", [&] { N(3); N(1); }), 0);
    EXPECT_EQ(Heard(), std::make_pair(3, 0));
    EXPECT_EQ(Call("PlaySubsong", [&] { N(4); N(1); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PlaySubsong", [&] { N(0); N(1); }), ERR_WRONGUSAGE);
}

}  // namespace
}  // namespace music_test
