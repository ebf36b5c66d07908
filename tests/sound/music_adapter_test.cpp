// A music through an audio adapter plugin: the adapter's data callback
// plays the feeder's halves in order and ends the music once; and an applet
// compiled before 6.0 keeps one music at a time.
#include <cstring>

#include "core/applet.h"
#include "core/plugin.h"
#include "music_fixture.h"
#include "sound/audioadapter.h"

namespace music_test {
namespace {

struct FakeAdapter {
    qbAudioDataCallback callback = nullptr;
    void* record = nullptr;
    int32_t pcmCode = -1;
    int frees = 0;
};
FakeAdapter fake;

const qbAudioAdapterSlots kSlots{
    [](uintptr_t, uintptr_t) -> uintptr_t { return 0x1234; },
    [](uintptr_t) {},
    [](uintptr_t, int32_t code, int32_t, int32_t, qbAudioDataCallback cb, uintptr_t, void* rec, uintptr_t) -> uintptr_t {
        fake.callback = cb;
        fake.record = rec;
        fake.pcmCode = code;
        return 1;
    },
    [](uintptr_t, uintptr_t) { ++fake.frees; },
    [](uintptr_t, uintptr_t, const qbAudioTag*) {},
};

class MusicAdapterTest : public MusicTest {
protected:
    void TearDown() override {
        MusicTest::TearDown();
        ClearAudioAdapter();
        SetAdapterWindowOpen(false);
    }
    qbAdapterPlugin plugin_;
};

TEST_F(MusicAdapterTest, TheAdaptersCallbackPlaysTheHalvesInOrderAndEndsOnce) {
    fake = FakeAdapter{};
    plugin_.capabilities = PLUGINCAPS_AUDIOADAPTER;
    plugin_.audioSlots = &kSlots;
    SetAdapterWindowOpen(true);
    const qbAudioTag tags[] = {{kAudioTagChannels, 4}, {0, 0}};
    ASSERT_EQ(SetAudioAdapter(&plugin_, 0, tags), 0);
    ASSERT_EQ(Open(1, WriteWave("music_adapter.wav", 30000)), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); N(2); }), 0);
    ASSERT_NE(fake.callback, nullptr);
    EXPECT_EQ(fake.pcmCode, 4);
    std::vector<int16_t> played;
    std::vector<int16_t> buffer(2048);
    for (int pull = 0; pull < 80; ++pull) {
        Settle();
        const int32_t got = fake.callback(0, 0, buffer.data(), 2048, fake.record);
        played.insert(played.end(), buffer.begin(), buffer.begin() + got);
        if (got < 2048) break;
    }
    ASSERT_EQ(played.size(), 60000u);
    for (size_t i = 0; i < played.size(); ++i) ASSERT_EQ(played[i], Value(i % 30000)) << i;
    const std::vector<qbSoundEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventMusicEnd);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
}

TEST_F(MusicAdapterTest, AnAppletBeforeSixPlaysOneMusicAtATime) {
    qbApplet applet;
    applet.appletFlag = 1;
    applet.versionMajor = 5;
    applet.versionMinor = 9;
    VmRegistrySetLightUserdata(L_, "applet", &applet);
    const std::string path = WriteWave("music_old.wav", 48000);
    ASSERT_EQ(Open(1, path), 0);
    ASSERT_EQ(Open(2, path), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(2); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(2); }), 1);
    // Its own start again restarts it rather than failing.
    ASSERT_EQ(Call("PlayMusic", [&] { N(2); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(2); }), 1);
    VmRegistrySetLightUserdata(L_, "applet", nullptr);
}

}  // namespace
}  // namespace music_test
