// The audio adapter: install rules, and a fake adapter whose own thread
// pulls the channels' frames through the data callback.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "core/applet.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/vmhost.h"
#include "core/plugin.h"
#include "core/runstate.h"
#include "core/soundevents.h"
#include "platform/mixer/mixer.h"
#include "platform/platform.h"
#include "sound/adapterchannel.h"
#include "sound/audioadapter.h"
#include "sound/channels.h"
#include "sound/moduleposition.h"
#include "sound/sound.h"
#include "vm/vm.h"

namespace {

struct FakeAdapter {
    qbAudioDataCallback callback = nullptr;
    void* record = nullptr;
    int allocs = 0;
    int frees = 0;
    bool refuseChannels = false;
    std::vector<qbAudioTag> lastTags;
    // The (audio handle, channel handle) of every free and attribute
    // change, the audio handle and rate of every allocation, every close.
    std::vector<std::pair<uintptr_t, uintptr_t>> freed, changed;
    std::vector<std::pair<uintptr_t, int32_t>> allocated;
    std::vector<uintptr_t> closed;
};
constexpr uintptr_t kAudioHandle = 0x1234;
FakeAdapter fake;

const qbAudioAdapterSlots kSlots{
    [](uintptr_t, uintptr_t) -> uintptr_t { return kAudioHandle; },
    [](uintptr_t audio) { fake.closed.push_back(audio); },
    [](uintptr_t audio, int32_t, int32_t rate, int32_t, qbAudioDataCallback cb, uintptr_t, void* rec,
       uintptr_t) -> uintptr_t {
        if (fake.refuseChannels) return 0;
        fake.callback = cb;
        fake.record = rec;
        fake.allocated.emplace_back(audio, rate);
        return static_cast<uintptr_t>(++fake.allocs);
    },
    [](uintptr_t audio, uintptr_t channel) {
        ++fake.frees;
        fake.freed.emplace_back(audio, channel);
    },
    [](uintptr_t audio, uintptr_t channel, const qbAudioTag* tags) {
        fake.changed.emplace_back(audio, channel);
        fake.lastTags.clear();
        for (const qbAudioTag* t = tags; t->tag != 0; ++t) fake.lastTags.push_back(*t);
    },
};

class AudioAdapterTest : public ::testing::Test {
protected:
    qbAdapterPlugin plugin_;
    void SetUp() override {
        SetPlatformBackend(nullptr);
        ShutdownAudioCore();
        ClearAudioAdapter();
        fake = FakeAdapter{};
        plugin_.capabilities = PLUGINCAPS_AUDIOADAPTER;
        plugin_.audioSlots = &kSlots;
        for (int code : {12, 13}) SoundSettingsHook(code, 1);
    }
    void TearDown() override {
        ShutdownAudioCore();
        ClearAudioAdapter();
        SetAdapterWindowOpen(false);
        for (int code : {12, 13}) SoundSettingsHook(code, 0);
        ClearSoundEvents();
    }
    int Install(uint32_t flags, std::vector<qbAudioTag> tags) {
        tags.push_back(qbAudioTag{0, 0});
        return SetAudioAdapter(&plugin_, flags, tags.data());
    }
};

TEST_F(AudioAdapterTest, InstallRules) {
    EXPECT_EQ(Install(0, {}), ERR_SETADAPTER);  // outside start-up
    SetAdapterWindowOpen(true);
    qbAdapterPlugin other;
    EXPECT_EQ(SetAudioAdapter(&other, 0, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(Install(0, {{kAudioTagChannels, -1}}), ERR_OPENAUDIO);
    EXPECT_EQ(Install(0, {{kAudioTagChannels, 0}}), ERR_SETADAPTER);
    EXPECT_FALSE(HasAudioAdapter());
    ASSERT_EQ(Install(kAudioAdapterNoReplace, {{kAudioTagChannels, 3}}), 0);
    EXPECT_EQ(AudioAdapterBufferFrames(), kAudioAdapterBufferFrames);
    EXPECT_EQ(AudioAdapterChannelCount(), 3);
    SetAdapterWindowOpen(false);
    // Bit 2 on the installed adapter applies tag 1 only, at any time.
    EXPECT_EQ(Install(kAudioAdapterUpdateOnly, {{kAudioTagBufferFrames, 512}, {kAudioTagChannels, 9}}), 0);
    EXPECT_EQ(AudioAdapterBufferFrames(), 512);
    EXPECT_EQ(AudioAdapterChannelCount(), 3);
    SetAdapterWindowOpen(true);
    other.capabilities = PLUGINCAPS_AUDIOADAPTER;
    EXPECT_EQ(SetAudioAdapter(&other, 0, nullptr), ERR_SETADAPTER);  // may not be replaced
}

TEST_F(AudioAdapterTest, AnAppletOlderThanSixCannotInstall) {
    InstallVmHost();
    ScriptState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    qbApplet applet;
    applet.appletFlag = 1;
    applet.versionMajor = 5;
    applet.versionMinor = 9;
    VmRegistrySetLightUserdata(L, "applet", &applet);
    SetMainState(L);
    SetAdapterWindowOpen(true);
    EXPECT_EQ(Install(0, {{kAudioTagChannels, 3}}), ERR_OLDAPPLET);
    EXPECT_STREQ(GetErrorDetail(), "6.0");
    EXPECT_FALSE(HasAudioAdapter());
    applet.versionMajor = 6;
    applet.versionMinor = 0;
    EXPECT_EQ(Install(0, {{kAudioTagChannels, 3}}), 0);
    SetMainState(nullptr);
    VmClose(L);
}

TEST_F(AudioAdapterTest, AdapterThreadPullsASampleToItsExactEnd) {
    SetAdapterWindowOpen(true);
    ASSERT_EQ(Install(0, {{kAudioTagChannels, 2}}), 0);
    ASSERT_EQ(EnsureAudioOpen(0), 0);
    EXPECT_EQ(audio_mixer::ChannelCount(), 2);

    fake.refuseChannels = true;
    std::vector<int16_t> pcm(100);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i + 1);
    const qbSampleData sample{pcm.data(), 16, 2, 1, kPCMSigned, 100, 10000};  // 10 ms a pass
    qbSampleStart how;
    how.owner = ObjectID{3, nullptr};
    int channel = -1;
    EXPECT_EQ(StartSample(sample, how, &channel), ERR_ALLOCCHANNEL);
    int32_t type = 0;
    ObjectID owner;
    ASSERT_EQ(GetChannelInfo(0, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjNone);

    fake.refuseChannels = false;
    how.timeMs = 25;  // two passes and half of one
    ASSERT_EQ(StartSample(sample, how, &channel), 0);
    std::vector<int16_t> out;
    std::thread adapterThread([&] {
        std::vector<int16_t> block(16);
        for (;;) {
            const int32_t n = fake.callback(0, 0, block.data(), 16, fake.record);
            out.insert(out.end(), block.begin(), block.begin() + n);
            if (n < 16) break;
        }
    });
    adapterThread.join();
    ASSERT_EQ(out.size(), 250u);
    EXPECT_EQ(out[99], 100);
    EXPECT_EQ(out[100], 1);
    EXPECT_EQ(out[249], 50);
    std::vector<qbSoundEvent> events;
    while (auto e = PopSoundEvent()) events.push_back(*e);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, kSoundEventSampleLoop);
    EXPECT_EQ(events[1].position, 20u);
    EXPECT_EQ(events[2].type, kSoundEventSampleEnd);
    EXPECT_EQ(events[2].loops, 3);
    EXPECT_EQ(events[2].position, 25u);

    EXPECT_EQ(UpdateChannelAttributes(pcm.data(), -1, 20, 100, -1), 0);
    ASSERT_EQ(fake.lastTags.size(), 2u);
    EXPECT_EQ(fake.lastTags[0].tag, kAudioTagVolume);
    EXPECT_EQ(fake.lastTags[1].value, 100);
    // The next allocation reaps the finished channel through the adapter.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ReapFinishedChannels();
    EXPECT_EQ(fake.frees, 1);
    ASSERT_EQ(GetChannelInfo(channel, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjNone);

    // Every call names the audio the adapter opened and, after it, the
    // channel it handed out; a stop frees the channel as the reap did.
    ASSERT_EQ(StartSample(sample, how, &channel), 0);
    EXPECT_EQ(StopChannel(nullptr, channel), 0);
    using Pair = std::pair<uintptr_t, uintptr_t>;
    const std::vector<std::pair<uintptr_t, int32_t>> allocations = {{kAudioHandle, 10000}, {kAudioHandle, 10000}};
    EXPECT_EQ(fake.allocated, allocations);
    EXPECT_EQ(fake.changed, (std::vector<Pair>{{kAudioHandle, 1}}));
    EXPECT_EQ(fake.freed, (std::vector<Pair>{{kAudioHandle, 1}, {kAudioHandle, 2}}));
    EXPECT_TRUE(fake.closed.empty());
    ShutdownAudioCore();
    EXPECT_EQ(fake.closed, std::vector<uintptr_t>{kAudioHandle});
}

TEST_F(AudioAdapterTest, VideoPadsWithSilenceAndAnUnreadyHalfIsSilent) {
    SetAdapterWindowOpen(true);
    ASSERT_EQ(Install(0, {{kAudioTagChannels, 2}}), 0);
    ASSERT_EQ(EnsureAudioOpen(0), 0);
    qbAdapterChannel record;
    record.index = 1;
    record.bytesPerFrame = 2;
    qbAudioChannel* ch = audio_mixer::Channel(1);

    qbVideoAudioQueue queue;
    queue.bytes.reset(new uint8_t[8]{1, 2, 3, 4, 5, 6, 7, 8});
    queue.capacity = 8;
    queue.fill = 7;  // three whole frames and a byte
    ch->video = &queue;
    ch->kind.store(kChannelVideo);
    std::vector<uint8_t> out(10, 0xEE);
    EXPECT_EQ(AdapterChannelData(0, 0, out.data(), 5, &record), 5);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
    EXPECT_EQ(queue.fill, 1u);
    EXPECT_EQ(queue.bytes[0], 7);
    ch->video = nullptr;

    qbStreamFeed feed;
    const uint8_t a[4] = {9, 9, 9, 9};
    feed.halves[0].pcm = a;
    feed.halves[0].frames = 2;
    feed.halves[0].ready.store(true);
    feed.halves[1].pcm = a;
    feed.halves[1].frames = 2;  // not ready: the feeder did not refill it
    ch->feed = &feed;
    ch->kind.store(kChannelStream);
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(AdapterChannelData(0, 0, out.data(), 4, &record), 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{9, 9, 9, 9, 0, 0, 0, 0, 0xEE, 0xEE}));
    EXPECT_TRUE(feed.refill.load());
    ch->feed = nullptr;
    ResetChannelRecord(1);
}

}  // namespace

namespace {

// A stand-in player: each rendered frame is (song position, row) on both
// sides, and each render call is one row; a requested jump is taken first.
struct FakeModule {
    qbModulePosition position;
};
void RenderFake(void* module, int16_t* out, int frames) {
    auto* m = static_cast<FakeModule*>(module);
    if (m->position.jump.exchange(false)) m->position.songPosition.store(m->position.jumpTo.load());
    for (int i = 0; i < frames; ++i) {
        out[2 * i] = static_cast<int16_t>(m->position.songPosition.load());
        out[2 * i + 1] = static_cast<int16_t>(m->position.row.load());
    }
    m->position.row.fetch_add(1);
}

TEST_F(AudioAdapterTest, AModuleChannelRendersThroughTheCallbackAndReportsItsPosition) {
    SetAdapterWindowOpen(true);
    ASSERT_EQ(Install(0, {{kAudioTagChannels, 2}}), 0);
    FakeModule module;
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetRow, 0), -1);  // not playing
    int channel = -1;
    ASSERT_EQ(StartModuleChannel(&module.position, ObjectID{4, nullptr}, 40, 1, &channel), 0);
    EXPECT_EQ(channel, 1);
    int32_t type = 0;
    ObjectID owner;
    ASSERT_EQ(GetChannelInfo(1, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjMusic);

    std::vector<int16_t> block(8, -1);
    // Without a renderer the module is silent.
    audio_mixer::SetModuleRenderer(nullptr);
    EXPECT_EQ(fake.callback(0, 0, block.data(), 4, fake.record), 4);
    EXPECT_EQ(block, std::vector<int16_t>(8, 0));
    audio_mixer::SetModuleRenderer(&RenderFake);
    EXPECT_EQ(fake.callback(0, 0, block.data(), 4, fake.record), 4);
    EXPECT_EQ(fake.callback(0, 0, block.data(), 4, fake.record), 4);
    EXPECT_EQ(block[1], 1);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetRow, 0), 2);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetSongPosition, 0), 0);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleSetPosition, 7), 0);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetRow, 0), 0);
    EXPECT_EQ(fake.callback(0, 0, block.data(), 4, fake.record), 4);
    EXPECT_EQ(block[0], 7);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetSongPosition, 0), 7);
    EXPECT_EQ(ModulePositionOf(&module.position, 3, 0), 0);
    audio_mixer::SetModuleRenderer(nullptr);

    ASSERT_EQ(StopChannel(nullptr, 1), 0);
    EXPECT_EQ(fake.frees, 1);
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleGetRow, 0), -1);
    // Not playing: the jump is kept on the player for its first tick.
    EXPECT_EQ(ModulePositionOf(&module.position, kModuleSetPosition, 3), 0);
    EXPECT_TRUE(module.position.jump.load());
    EXPECT_EQ(module.position.jumpTo.load(), 3);
}

}  // namespace
