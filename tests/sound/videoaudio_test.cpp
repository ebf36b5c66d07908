// A video's sound ring with a fake decoder: the ring never overflows (the
// sanitizer build watches), the channel plays its bytes in order, and an
// empty ring plays silence.
#include <gtest/gtest.h>

#include <cmath>

#include "core/settings.h"
#include "mixer_fixture.h"
#include "sound/channels.h"
#include "sound/sound.h"
#include "sound/videoaudio.h"

namespace {

// Frame k of the fake video holds k % 2000 - 1000 on the left and its
// negation on the right; it can be told to have nothing.
struct FakeDecoder {
    int channels = 2;
    uint64_t next = 0;
    bool dry = false;
    static int16_t Left(uint64_t k) { return static_cast<int16_t>(static_cast<int>(k % 2000) - 1000); }
};

size_t Decode(void* user, uint8_t* out, size_t bytes) {
    auto& d = *static_cast<FakeDecoder*>(user);
    if (d.dry) return 0;
    const size_t frameBytes = static_cast<size_t>(d.channels) * 2;
    auto* pcm = reinterpret_cast<int16_t*>(out);
    const size_t frames = bytes / frameBytes;
    for (size_t i = 0; i < frames; ++i, ++d.next) {
        pcm[i * static_cast<size_t>(d.channels)] = FakeDecoder::Left(d.next);
        if (d.channels == 2) pcm[i * 2 + 1] = static_cast<int16_t>(-FakeDecoder::Left(d.next));
    }
    return frames * frameBytes;
}

class VideoAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatformBackend(nullptr);
        ShutdownAudioCore();
        DisposeAudioOutput();
        ResetRuntimeSettings();
    }
    void TearDown() override {
        ShutdownAudioCore();
        null_backend::SetAudioPullRate(48000);
        ResetRuntimeSettings();
    }
    // Plays the ring at its own rate for seconds, topping it up between
    // pulls of a tenth; true when every frame came in order.
    static void PlayInOrder(int rate) {
        null_backend::SetAudioPullRate(rate);
        ASSERT_EQ(EnsureAudioOpen(8), 0);
        FakeDecoder d;
        qbAudioStreamBufferPtr b;
        ASSERT_EQ(AllocAudioStreamBuffer(rate, 2, ObjectID{7, nullptr}, -1, 64, &Decode, &d, &b), 0);
        EXPECT_GE(b->ring.capacity, 2 * b->block);
        EXPECT_GE(b->ring.capacity, kMinAudioRingBytes);
        uint64_t frame = 0;
        size_t wrong = 0;
        for (int step = 0; step < 25; ++step) {
            ASSERT_EQ(FillStreamAudioBuffer(*b), 0);
            EXPECT_LE(b->ring.fill, b->ring.capacity);
            const std::vector<float> out = null_backend::PullAudio(static_cast<size_t>(rate / 10));
            for (size_t i = 0; i < out.size(); i += 2, ++frame) {
                const float want = FakeDecoder::Left(frame) / 32768.0f;
                if ((std::fabs(out[i] - want) > 1e-4f || std::fabs(out[i + 1] + want) > 1e-4f) && wrong++ < 5)
                    ADD_FAILURE() << "frame " << frame << ": " << out[i];
            }
        }
        EXPECT_EQ(wrong, 0u);
        int32_t type = 0;
        ObjectID owner;
        ASSERT_EQ(GetChannelInfo(b->playing, &type, &owner, nullptr), 0);
        EXPECT_EQ(type, kChannelObjVideo);
        EXPECT_EQ(owner.number, 7);
        FreeAudioStreamBuffer(b);
    }
};

TEST_F(VideoAudioTest, TheChannelPlaysTheRingInOrderAt48kHz) { PlayInOrder(48000); }

TEST_F(VideoAudioTest, TheChannelPlaysTheRingInOrderAt384kHzStereo) { PlayInOrder(384000); }

TEST_F(VideoAudioTest, AnEmptyRingPlaysSilenceAndStopsCleanly) {
    null_backend::SetAudioPullRate(48000);
    ASSERT_EQ(EnsureAudioOpen(8), 0);
    FakeDecoder d;
    d.dry = true;
    qbAudioStreamBufferPtr b;
    ASSERT_EQ(AllocAudioStreamBuffer(48000, 1, ObjectID{3, nullptr}, 2, 64, &Decode, &d, &b), 0);
    EXPECT_EQ(b->ring.capacity, kMinAudioRingBytes);
    ASSERT_EQ(FillStreamAudioBuffer(*b), 0);
    EXPECT_EQ(b->playing, 2);
    for (float v : null_backend::PullAudio(4800)) ASSERT_EQ(v, 0.0f);
    SetStreamVolume(*b, 99);
    EXPECT_EQ(b->volume, 64);
    StopStreamChannel(*b);
    int32_t type = 0;
    ObjectID owner;
    ASSERT_EQ(GetChannelInfo(2, &type, &owner, nullptr), 0);
    EXPECT_EQ(type, kChannelObjNone);
    EXPECT_EQ(AllocAudioStreamBuffer(48000, 3, ObjectID{}, -1, 64, &Decode, &d, &b), ERR_WRONGUSAGE);
}

}  // namespace
