// Native-driver videos played by the engine over the platform's movie
// decoder: every picture in order and one end, a truncated file that ends
// early with one end, 5.1 sound taken as stereo, pause, resume and seeks;
// picture files refused, movies of single-coded pictures played twice.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "media/ffclips.h"
#include "media/videoplayback.h"
#include "platform/platform.h"
#include "wait_for.h"

using test_wait::WaitFor;

namespace {

std::atomic<double> standingNow{100.0};

struct Sink {
    std::mutex lock;
    std::vector<double> shown;
    std::atomic<int32_t> ended{0};
    static void Picture(void* user, const uint32_t*, int32_t, int32_t, int32_t, double pts) {
        auto* s = static_cast<Sink*>(user);
        std::lock_guard g(s->lock);
        s->shown.push_back(pts);
    }
    static void Ended(void* user) { ++static_cast<Sink*>(user)->ended; }
    std::vector<double> Shown() {
        std::lock_guard g(lock);
        return shown;
    }
    size_t Count() {
        std::lock_guard g(lock);
        return shown.size();
    }
};

class MovieEngineTest : public ::testing::Test {
protected:
    // The in-memory backend's sound output, the Linux backend's movies.
    void TearDown() override {
        stream_.reset();
        SetVideoWallClock(nullptr);
    }
    int Open(const std::string& path) {
        stream_ = std::make_unique<qbVideoStream>();
        stream_->kind = kVideoDriverNative;
        stream_->nativePath = path;
        return AttachNativeVideoEngine(stream_.get());
    }
    qbOwnVideoStream* Own() { return stream_->own.get(); }
    int Start(bool sound = false) {
        qbVideoPlayParams params;
        params.sound = sound;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &sink_};
        return StartVideoPlayback(Own(), params);
    }

    ffclips::MovieSourceBackend movies_;
    std::unique_ptr<qbVideoStream> stream_;
    Sink sink_;
};

TEST_F(MovieEngineTest, PlaysEveryPictureInOrderToOneEnd) {
    ASSERT_EQ(Open(ffclips::SmallMP4()), 0);
    EXPECT_EQ(Own()->source->kind, kVideoSourceMovie);
    EXPECT_EQ(Own()->frameWidth, 64);
    EXPECT_TRUE(Own()->flags & kVideoInfoSeekable);
    // A stream that has its engine keeps it.
    qbOwnVideoStream* own = Own();
    EXPECT_EQ(AttachNativeVideoEngine(stream_.get()), 0);
    EXPECT_EQ(Own(), own);

    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink_.ended > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(sink_.ended, 1);
    const std::vector<double> shown = sink_.Shown();
    const qbVideoPlayback& p = *Own()->playback;
    EXPECT_EQ(static_cast<int32_t>(shown.size()), p.shownCount.load());
    EXPECT_EQ(p.shownCount + p.droppedCount, 50);
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
    EXPECT_NEAR(shown.back(), 1.96, 0.001);
    StopVideoStream(Own());
}

TEST_F(MovieEngineTest, TruncatedFileEndsEarlyWithOneEnd) {
    ASSERT_EQ(Open(ffclips::TruncatedMKV()), 0);
    EXPECT_NEAR(Own()->duration, 2000u, 40);  // what the header promised
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink_.ended > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink_.ended, 1);
    const std::vector<double> shown = sink_.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_LT(shown.back(), 1.9);
    EXPECT_LT(GetVideoStreamPosition(Own()), 1900u);
    StopVideoStream(Own());
}

TEST_F(MovieEngineTest, SurroundSoundPlaysAsStereo) {
    ASSERT_EQ(Open(ffclips::SurroundMP4()), 0);
    EXPECT_EQ(Own()->audioChannels, 2);
    EXPECT_EQ(Own()->audioRate, 48000);
    // Six channels would leave the video silent; two play.
    ASSERT_EQ(Start(true), 0);
    EXPECT_TRUE(Own()->playback->withSound);
    ASSERT_TRUE(WaitFor([&] { return sink_.Count() >= 3; }));
    StopVideoStream(Own());
}

TEST_F(MovieEngineTest, PauseResumeAndSeek) {
    ASSERT_EQ(Open(ffclips::LongerMP4()), 0);
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink_.Count() >= 5; }));

    // Paused, nothing is shown and the position stands.
    PauseVideoStream(Own());
    const size_t pausedAt = sink_.Count();
    const uint32_t position = GetVideoStreamPosition(Own());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(sink_.Count(), pausedAt);
    EXPECT_EQ(GetVideoStreamPosition(Own()), position);

    // A seek while paused shows the target's picture at once, still paused.
    ASSERT_EQ(SeekVideoStream(Own(), 2000), 0);
    ASSERT_EQ(sink_.Count(), pausedAt + 1);
    EXPECT_NEAR(sink_.Shown().back(), 2.0, 0.001);
    EXPECT_EQ(GetVideoStreamPosition(Own()), 2000u);

    // Resumed, it goes on from there.
    ResumeVideoStream(Own());
    ASSERT_TRUE(WaitFor([&] { return sink_.Count() >= pausedAt + 5; }));
    std::vector<double> shown = sink_.Shown();
    for (size_t i = pausedAt + 1; i < shown.size(); ++i) EXPECT_GT(shown[i], 2.0);

    // A seek while playing goes back, and the pictures follow from there.
    ASSERT_EQ(SeekVideoStream(Own(), 400), 0);
    const size_t seekedAt = sink_.Count();
    ASSERT_TRUE(WaitFor([&] { return sink_.Count() >= seekedAt + 3; }));
    shown = sink_.Shown();
    bool back = false;
    for (size_t i = seekedAt; i < shown.size(); ++i) back = back || std::abs(shown[i] - 0.4) < 0.001;
    EXPECT_TRUE(back);
    ASSERT_TRUE(WaitFor([&] { return sink_.ended > 0; }));
    EXPECT_EQ(sink_.ended, 1);
    StopVideoStream(Own());
}

// A picture file is no movie, whatever its name: FFmpeg's picture readers
// would make it a movie of one picture, and libjxl's decoder, fed that
// picture again after a stop, crashed the player. Movies of pictures coded
// each on its own (MJPEG in AVI, PNG in QuickTime) still open, and play
// again after a stop.
TEST_F(MovieEngineTest, PicturesAreNoMoviesButIntraOnlyMoviesPlayAgain) {
    const std::string damagedJXL = testing::TempDir() + "jxl_" + std::to_string(getpid()) + ".mov";
    std::FILE* f = std::fopen(damagedJXL.c_str(), "wb");
    ASSERT_TRUE(f);
    const uint8_t bytes[] = {0xff, 0x0a, 0x45, 0xb1, 0xb7, 0x77, 0x45, 0x42};
    std::fwrite(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    ffclips::Clips().Keep("jxl.mov", damagedJXL);
    const std::string png =
        ffclips::Clips().Get("png.mov", ffclips::Pictures("32x24", 25, 0.04) + " -frames:v 1 -c:v png -f image2 -update 1");
    ASSERT_FALSE(png.empty());
    for (const std::string& picture : {damagedJXL, png}) {
        EXPECT_EQ(Open(picture), ERR_LOADVIDEO) << picture;
        qbMovieInfo info;
        EXPECT_EQ(LinuxPlatformOps().OpenQuickTimeMovie(picture.c_str(), &info), ERR_LOADVIDEO) << picture;
        EXPECT_EQ(info.movie, nullptr);
    }

    for (const std::string& clip : {ffclips::OddAVI(), ffclips::PngMOV()}) {
        sink_.ended = 0;
        ASSERT_EQ(Open(clip), 0) << clip;
        // Every picture is shown or, late on a loaded machine, counted as
        // dropped; none is lost to the stop between the plays.
        for (int play = 1; play <= 2; ++play) {
            const size_t before = sink_.Count();
            ASSERT_EQ(Start(), 0);
            ASSERT_TRUE(WaitFor([&] { return sink_.ended >= play; })) << clip;
            const size_t shown = sink_.Count() - before;
            const size_t dropped = static_cast<size_t>(Own()->playback->droppedCount.load());
            StopVideoStream(Own());
            EXPECT_GE(shown, 1u) << clip << " play " << play;
            EXPECT_EQ(shown + dropped, 5u) << clip << " play " << play;
        }
    }
}

// A stream with no measured rate (FFmpeg guesses its time base's 1000 a
// second, or the tick of its times): each picture lasts until the next
// one's time, none is taken as over a millisecond after it is due, and the
// pictures are counted, not worked out from the duration at the guessed
// rate.
TEST_F(MovieEngineTest, PicturesOfAStreamWithoutARateAreCountedAndAllShown) {
    const std::string guessed = ffclips::RatelessMKV("guessed.mkv", "N*N*40+N*40");
    const std::string path = ffclips::RatelessMKV();
    for (const std::string& clip : {guessed, path}) {
        ASSERT_FALSE(clip.empty());
        qbMovieInfo info;
        ASSERT_EQ(LinuxPlatformOps().OpenQuickTimeMovie(clip.c_str(), &info), 0);
        EXPECT_EQ(LinuxPlatformOps().MovieFrameCount(info.movie), 10) << clip;
        LinuxPlatformOps().CloseQuickTimeMovie(info.movie);
    }

    // The engine's clock stands until the picture at the head of the queue
    // waits for it, and then moves to that picture's time, never past it:
    // a loaded machine delays the playback, never makes a picture late.
    ASSERT_EQ(Open(path), 0);
    standingNow = 100.0;
    SetVideoWallClock([] { return standingNow.load(); });
    ASSERT_EQ(Start(), 0);
    qbVideoPlayback& p = *Own()->playback;
    const bool ended = WaitFor([&] {
        LockMutex(p.pictureMutex.get());
        if (p.queued > 0 && p.slots[p.readIndex].target > standingNow) standingNow = p.slots[p.readIndex].target;
        UnlockMutex(p.pictureMutex.get());
        return sink_.ended > 0;
    });
    SetVideoWallClock(nullptr);
    ASSERT_TRUE(ended);
    const std::vector<double> shown = sink_.Shown();
    EXPECT_EQ(p.droppedCount.load(), 0);
    EXPECT_EQ(p.shownCount.load(), 10);
    ASSERT_EQ(shown.size(), 10u);
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
    StopVideoStream(Own());
}

TEST_F(MovieEngineTest, RefusesWhatThePlatformCannotOpen) {
    EXPECT_EQ(Open(ffclips::AudioOnly()), ERR_LOADVIDEO);
    EXPECT_EQ(Own(), nullptr);
    // The own driver's streams are not touched.
    qbVideoStream own;
    EXPECT_EQ(AttachNativeVideoEngine(&own), 0);
    EXPECT_EQ(own.own, nullptr);
}

}  // namespace

