// Movies with sound played by the engine against the in-memory audio
// device, which the test pulls as the wall clock the engine reads moves on
// (for the slow pictures twice as fast as real time): every picture is handed on within a tenth
// of a second of the sound reaching its time, by the player's own record,
// and none is dropped, for pictures that last 1.5 s and for 25 a second.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "media/ffclips.h"
#include "media/videoplayback.h"
#include "platform/null/null_backend.h"
#include "sound/channels.h"
#include "sound/sound.h"

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

    // Plays the movie to its end, pulling the sound 4 ms at a time as the
    // clock moves on by as much, a step every `pace` of real time; the
    // engine's record of the playback.
    const qbVideoPlayback* Play(const std::string& path, std::chrono::microseconds pace) {
        stream_ = std::make_unique<qbVideoStream>();
        stream_->kind = kVideoDriverNative;
        stream_->nativePath = path;
        if (AttachNativeVideoEngine(stream_.get()) != 0) return nullptr;
        qbVideoPlayParams params;
        params.sound = true;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &sink_};
        if (StartVideoPlayback(stream_->own.get(), params) != 0) return nullptr;
        for (int step = 0; step < 5000 && sink_.ended == 0; ++step) {
            virtualNow = virtualNow + kStep;
            null_backend::PullAudio(static_cast<size_t>(kPullRate * kStep));
            std::this_thread::sleep_for(pace);
        }
        return stream_->own->playback.get();
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
        const qbVideoPlayback* p = Play(path, std::chrono::microseconds(2000));
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
    // In real time: a picture lasts 40 ms, which a clock moving faster
    // than the engine's own waits would make late.
    const qbVideoPlayback* p = Play(path, std::chrono::microseconds(4000));
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
