// Movies with sound played by the engine against the in-memory audio
// device: the test moves the wall clock the engine reads and pulls as much
// sound, a step at a time, each once the engine has done all it had to at
// the time before, so a loaded machine slows the playback and changes
// nothing else. Every picture is handed on within a tenth of a second of
// the sound reaching its time, by the player's own record, and none is
// dropped, for pictures that last 1.5 s and for 25 a second.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "media/ffclips.h"
#include "media/videoplayback.h"
#include "platform/null/null_backend.h"
#include "sound/channels.h"
#include "sound/sound.h"
#include "wait_for.h"

using test_wait::WaitFor;

namespace {

std::atomic<double> virtualNow{100.0};
double VirtualClock() { return virtualNow.load(); }

struct Sink {
    std::atomic<int32_t> shown{0}, ended{0};
    static void Picture(void* user, const uint32_t*, int32_t, int32_t, int32_t, double) {
        ++static_cast<Sink*>(user)->shown;
    }
    static void Ended(void* user) { ++static_cast<Sink*>(user)->ended; }
};

class VideoSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShutdownAudioCore();
        null_backend::SetAudioPullRate(kPullRate);
        ASSERT_EQ(EnsureAudioOpen(8), 0);
        virtualNow = 100.0;
        SetVideoWallClock(VirtualClock);
    }
    void TearDown() override {
        stream_.reset();
        SetVideoWallClock(nullptr);
        ShutdownAudioCore();
    }

    // Plays the movie to its end; the engine's record of the playback.
    const qbVideoPlayback* Play(const std::string& path) {
        stream_ = std::make_unique<qbVideoStream>();
        stream_->kind = kVideoDriverNative;
        stream_->nativePath = path;
        if (AttachNativeVideoEngine(stream_.get()) != 0) return nullptr;
        qbVideoPlayParams params;
        params.sound = true;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &sink_};
        if (StartVideoPlayback(stream_->own.get(), params) != 0) return nullptr;
        qbVideoPlayback* p = stream_->own->playback.get();
        if (!p->withSound) return p;
        const size_t frames = static_cast<size_t>(kPullRate * kStep);
        const size_t bytes = frames * static_cast<size_t>(stream_->own->audioChannels) * 2;
        for (int step = 0; step < 5000; ++step) {
            bool full = false;
            if (!WaitFor([&] { return Settled(p, bytes, &full); })) return nullptr;
            if (sink_.ended > 0) break;
            // A pull that found the ring locked took nothing: the device
            // pulls again, so the sound keeps to the clock.
            const uint64_t played = p->sound->ring.played;
            auto pulled = [&] {
                null_backend::PullAudio(frames);
                return !full || p->sound->ring.played != played;
            };
            if (!WaitFor(pulled)) return nullptr;
            virtualNow = virtualNow + kStep;
        }
        return p;
    }

    // Whether the engine has done all it had to at the present time: the
    // sound ring holds `bytes` (*full) or all the sound there is, and the
    // picture queue is full and its first picture due later, or no more
    // pictures come and those queued are due later, or the end has come.
    // With every picture shown and the sound all in the ring, the end comes
    // without the clock.
    static bool Settled(qbVideoPlayback* p, size_t bytes, bool* full) {
        const bool noMore = p->reader.ended && VideoQueueEmpty(&p->video) && !p->videoBusy;
        const double now = virtualNow;
        std::lock_guard ring(p->sound->ring.mutex);
        *full = p->sound->ring.fill >= bytes;
        // The ring's lock keeps the audio thread's packet where it is.
        bool soundLeft = p->audioPacket.data || !VideoQueueEmpty(&p->audio) || !p->reader.ended;
        LockMutex(p->pictureMutex.get());
        soundLeft = soundLeft || p->sync.audioBufferIndex < p->sync.audioBufferSize;
        const bool due = p->queued > 0 && !(p->slots[p->readIndex].target > now);
        const bool pictures = p->endPosted || (!due && p->queued == 2) || (noMore && p->queued > 0 && !due) ||
                              (noMore && p->queued == 0 && soundLeft);
        UnlockMutex(p->pictureMutex.get());
        return pictures && (*full || !soundLeft);
    }

    static constexpr int kPullRate = 48000;
    static constexpr double kStep = 0.004;
    ffclips::MovieSourceBackend movies_;
    std::unique_ptr<qbVideoStream> stream_;
    Sink sink_;
};

std::string Movie(const std::string& name, const std::string& rate, double seconds, int channels) {
    return ffclips::Clips().Get(name, "-f lavfi -i testsrc2=size=32x24:rate=" + rate +
                                          ":duration=" + std::to_string(seconds) + " " +
                                          ffclips::Sine(48000, seconds) + " -ac " + std::to_string(channels) +
                                          " -c:v mjpeg -c:a aac");
}

TEST_F(VideoSyncTest, PicturesOfOneAndAHalfSecondsAreShownWithTheirSound) {
    for (const int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        sink_.ended = 0;
        sink_.shown = 0;
        // Pictures at 0, 1.5 and 3 s: held back a whole picture each, the
        // third would come at 6 s.
        const std::string path = Movie("slow" + std::to_string(channels) + ".mkv", "2/3", 4.5, channels);
        ASSERT_FALSE(path.empty());
        const qbVideoPlayback* p = Play(path);
        ASSERT_TRUE(p);
        ASSERT_GT(sink_.ended, 0);
        EXPECT_TRUE(p->withSound);
        EXPECT_EQ(p->shownCount.load(), 3);
        EXPECT_EQ(p->droppedCount.load(), 0);
        EXPECT_LT(p->worstOffSound.load(), 0.1);
        StopVideoStream(stream_->own.get());
    }
}

TEST_F(VideoSyncTest, PicturesAtTwentyFiveASecondKeepTheirTiming) {
    const std::string path = Movie("steady.mkv", "25", 2, 2);
    ASSERT_FALSE(path.empty());
    const qbVideoPlayback* p = Play(path);
    ASSERT_TRUE(p);
    ASSERT_GT(sink_.ended, 0);
    EXPECT_EQ(p->shownCount.load() + p->droppedCount.load(), 50);
    EXPECT_EQ(p->droppedCount.load(), 0);
    // As before the slow pictures' rule: at worst 91-99 ms, the first
    // pictures' (shown as they come, while the sound starts).
    EXPECT_LT(p->worstOffSound.load(), 0.15);
    StopVideoStream(stream_->own.get());
}

}  // namespace
