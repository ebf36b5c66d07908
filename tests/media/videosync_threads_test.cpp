// Movies played by the engine against the in-memory audio device: the test
// moves the wall clock the engine reads and pulls as much sound, a step at a
// time, each once the engine has done all it had to at the time before, so
// a loaded machine slows the playback and changes nothing else. Every
// picture is handed on within a tenth of a second of the sound reaching its
// time, by the player's own record, and none is dropped, for pictures that
// last 1.5 s and for 25 a second; and within a tenth of a second of its own
// time across a still stretch of 12 s, for pictures 11 s apart, with sound
// that ends or starts before the pictures do, with sound and without.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
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

constexpr double kStart = 100.0;

// Converting a picture costs the engine this much of the test's clock,
// charged as the next packet is decoded, for each picture before it that
// was not skipped: a decoder that keeps converting every picture of a
// stream faster than that falls behind.
constexpr double kConvertCost = 0.003;
std::atomic<const qbVideoPlayback*> costly{nullptr};
std::atomic<int64_t> decodedPictures{0}, chargedPictures{0};

void AdvanceVirtualClock(double seconds) {
    double now = virtualNow.load();
    while (!virtualNow.compare_exchange_weak(now, now + seconds)) {
    }
}

int32_t CostlyDecode(qbMovieSource* source, void* packet, qbMoviePicture* picture) {
    if (const qbVideoPlayback* p = costly.load()) {
        const int64_t converted = decodedPictures - (p->droppedCount - p->lateCount);
        if (converted > chargedPictures) {
            AdvanceVirtualClock(static_cast<double>(converted - chargedPictures) * kConvertCost);
            chargedPictures = converted;
        }
    }
    const int32_t got = LinuxPlatformOps().DecodeMovieVideo(source, packet, picture);
    if (got == 1) ++decodedPictures;
    return got;
}

// Each picture handed on: how far from its own time since the start at
// worst, how late the last one was, and how far apart the lateness of the
// pictures past the first few is (with sound, the pictures settle a few
// hundredths of a second behind the wall clock as the sound starts).
struct Sink {
    static constexpr int32_t kSettling = 5;
    std::atomic<int32_t> shown{0}, ended{0};
    std::atomic<double> worstOff{0.0}, lastLate{0.0};
    std::atomic<double> leastLate{1e9}, mostLate{-1e9};
    std::atomic<double> lastPts{0.0};  // as the engine's before its first picture
    static void Picture(void* user, const uint32_t*, int32_t, int32_t, int32_t, double pts) {
        auto* sink = static_cast<Sink*>(user);
        const double late = virtualNow - kStart - pts;
        sink->lastLate = late;
        if (std::fabs(late) > sink->worstOff) sink->worstOff = std::fabs(late);
        sink->lastPts = pts;
        if (sink->shown++ < kSettling) return;
        if (late < sink->leastLate) sink->leastLate = late;
        if (late > sink->mostLate) sink->mostLate = late;
    }
    double Drift() const { return mostLate < leastLate ? 0.0 : mostLate - leastLate; }
    static void Ended(void* user) { ++static_cast<Sink*>(user)->ended; }
};

class VideoSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShutdownAudioCore();
        null_backend::SetAudioPullRate(kPullRate);
        ASSERT_EQ(EnsureAudioOpen(8), 0);
        virtualNow = kStart;
        SetVideoWallClock(VirtualClock);
    }
    void TearDown() override {
        stream_.reset();
        costly = nullptr;
        SetVideoWallClock(nullptr);
        ShutdownAudioCore();
    }

    // Plays the movie to its end, in steps of `step` seconds; the engine's
    // record of the playback.
    const qbVideoPlayback* Play(const std::string& path, bool sound = true, double step = kStep) {
        sink_.ended = 0;
        sink_.shown = 0;
        sink_.worstOff = sink_.lastLate = 0.0;
        sink_.leastLate = 1e9;
        sink_.mostLate = -1e9;
        sink_.lastPts = 0.0;
        virtualNow = kStart;
        stream_ = std::make_unique<qbVideoStream>();
        stream_->kind = kVideoDriverNative;
        stream_->nativePath = path;
        if (AttachNativeVideoEngine(stream_.get()) != 0) return nullptr;
        qbVideoPlayParams params;
        params.sound = sound;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &sink_};
        if (StartVideoPlayback(stream_->own.get(), params) != 0) return nullptr;
        qbVideoPlayback* p = stream_->own->playback.get();
        if (chargeConversions_) costly = p;
        if (sound && !p->withSound) return p;
        const size_t frames = static_cast<size_t>(kPullRate * step);
        const size_t bytes = frames * static_cast<size_t>(std::max(stream_->own->audioChannels, 1)) * 2;
        for (int round = 0; round < 20000; ++round) {
            bool full = false;
            if (!WaitFor([&] { return Settled(p, sink_, bytes, &full); })) return nullptr;
            if (sink_.ended > 0) break;
            if (!p->withSound) {
                AdvanceVirtualClock(step);
                continue;
            }
            // A pull that found the ring locked took nothing: the device
            // pulls again, so the sound keeps to the clock.
            const uint64_t played = p->sound->ring.played;
            auto pulled = [&] {
                null_backend::PullAudio(frames);
                return !full || p->sound->ring.played != played;
            };
            if (!WaitFor(pulled)) return nullptr;
            AdvanceVirtualClock(step);
        }
        return p;
    }

    // Whether the engine has done all it had to at the present time: the
    // sound ring holds `bytes` (*full) or all the sound there is, and the
    // picture queue is full and its first picture due later, or no more
    // pictures come (for now: the reader waits for the sound to play) and
    // those queued are due later, or the end has come.
    // With every picture shown and the sound all in the ring, the end comes
    // without the clock. A picture the engine has handed on has reached the
    // sink: the clock must not run on (across a still stretch, for seconds)
    // before the sink has stamped it.
    static bool Settled(qbVideoPlayback* p, const Sink& sink, size_t bytes, bool* full) {
        const bool noMore = p->reader.ended && VideoQueueEmpty(&p->video) && !p->videoBusy;
        // No picture packet comes until the sound plays: the reader waits
        // for room in the sound queue (a still stretch's sound in between).
        const bool held = p->withSound && !p->reader.ended && VideoQueueEmpty(&p->video) &&
                          VideoQueueBytes(&p->audio) >= kVideoAudioQueueLimit;
        const double now = virtualNow;
        std::unique_lock<std::mutex> ring;
        bool soundLeft = false;
        if (p->withSound) {
            ring = std::unique_lock(p->sound->ring.mutex);
            *full = p->sound->ring.fill >= bytes;
            // The ring's lock keeps the audio thread's packet where it is.
            soundLeft = p->audioPacket.data || p->silenceLeft > 0 || !VideoQueueEmpty(&p->audio) || !p->reader.ended;
        }
        LockMutex(p->pictureMutex.get());
        soundLeft = soundLeft || (p->withSound && p->sync.audioBufferIndex < p->sync.audioBufferSize);
        const bool due = p->queued > 0 && !(p->slots[p->readIndex].target > now);
        const bool handedOn = sink.shown == p->shownCount && sink.lastPts == p->shownPts;
        const bool pictures = p->endPosted || (!due && p->queued == 2) || ((noMore || held) && p->queued > 0 && !due) ||
                              (held && p->queued == 0) ||
                              (noMore && p->queued == 0 && soundLeft);
        UnlockMutex(p->pictureMutex.get());
        return pictures && handedOn && (*full || !soundLeft);
    }

    // All `pictures` handed on, each within a tenth of a second of its
    // time: without sound by the wall clock, and none dropped; with sound
    // by the sound while it plays (the engine's record) and by the wall
    // clock at one pace throughout, a picture dropped at most here and
    // there where the pace the pictures settle at against the sound brushes
    // the line of "behind the sound" (at 50 a second).
    void ExpectInTime(const qbVideoPlayback& p, int32_t pictures) const {
        EXPECT_EQ(p.shownCount.load() + p.droppedCount.load(), pictures);
        if (!p.withSound) {
            EXPECT_EQ(p.droppedCount.load(), 0);
            EXPECT_LT(sink_.worstOff.load(), 0.1);
            return;
        }
        EXPECT_LE(p.droppedCount.load(), 2);
        EXPECT_LT(p.worstOffSound.load(), 0.1);
        EXPECT_LT(sink_.Drift(), 0.1);
    }

    // The movie played to its end, its pictures in time; null when it
    // did not play or end.
    const qbVideoPlayback* PlayInTime(const std::string& path, int32_t pictures, bool sound, double step) {
        const qbVideoPlayback* p = Play(path, sound, step);
        EXPECT_TRUE(p && sink_.ended > 0);
        if (!p || sink_.ended == 0) return nullptr;
        EXPECT_EQ(p->withSound, sound);
        ExpectInTime(*p, pictures);
        return p;
    }

    // The same with its sound and without.
    void PlayWithSoundAndWithout(const std::string& path, int32_t pictures, double step) {
        for (const bool sound : {true, false}) {
            SCOPED_TRACE(sound);
            PlayInTime(path, pictures, sound, step);
            StopVideoStream(stream_->own.get());
        }
    }

    static constexpr int kPullRate = 48000;
    static constexpr double kStep = 0.004;
    ffclips::MovieSourceBackend movies_;
    std::unique_ptr<qbVideoStream> stream_;
    Sink sink_;
    bool chargeConversions_ = false;  // CostlyDecode charges this playback
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

// Pictures 50 a second for 0.2 s, none for 12 s, then 50 a second again,
// in Matroska, whose times never jump: the still picture lasts 12 s. (At
// 50 a second the pictures' timing against the sound, compared two
// pictures ahead, keeps well within a tenth of a second.)
std::string StillStretch() {
    return ffclips::Clips().Get("still.mkv", "-f lavfi -i testsrc2=size=32x24:rate=50:duration=0.4 " +
                                                 ffclips::Sine(48000, 12.4) +
                                                 " -vf setpts='(N/50+12*gte(N\\,10))/TB' -fps_mode passthrough"
                                                 " -c:v mjpeg -c:a aac");
}

TEST_F(VideoSyncTest, AStillStretchOfTwelveSecondsIsWaitedWithSoundAndWithout) {
    const std::string path = StillStretch();
    ASSERT_FALSE(path.empty());
    PlayWithSoundAndWithout(path, 20, kStep);
}

TEST_F(VideoSyncTest, PicturesElevenSecondsApartInMP4WithSoundAndWithout) {
    const std::string path = ffclips::Clips().Get(
        "eleven.mp4", "-f lavfi -i testsrc2=size=32x24:rate=1/11:duration=33 " + ffclips::Sine(48000, 33) +
                          " -c:v mjpeg -c:a aac");
    ASSERT_FALSE(path.empty());
    PlayWithSoundAndWithout(path, 3, 0.02);
}

TEST_F(VideoSyncTest, PicturesGoOnByTheirOwnClockOnceTheSoundHasEnded) {
    // 6 s of pictures, 2 s of sound.
    const std::string path = ffclips::Clips().Get(
        "short_sound.mkv", "-f lavfi -i testsrc2=size=16x16:rate=50:duration=6 " + ffclips::Sine(48000, 2) +
                               " -c:v mjpeg -c:a aac");
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(PlayInTime(path, 300, true, kStep));
    // #ATTRPOSITION at the end: the last picture's time.
    EXPECT_GE(GetVideoStreamPosition(stream_->own.get()), 5900u);
    StopVideoStream(stream_->own.get());
}

TEST_F(VideoSyncTest, ASoundThatStartsLateStartsWithSilence) {
    // 4 s of pictures, sound from 2 s to 4 s.
    const std::string path = ffclips::Clips().Get(
        "late_sound.mkv", "-f lavfi -i testsrc2=size=16x16:rate=50:duration=4 -itsoffset 2 " +
                              ffclips::Sine(48000, 2) + " -c:v mjpeg -c:a aac");
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(PlayInTime(path, 200, true, kStep));
    StopVideoStream(stream_->own.get());
}

TEST_F(VideoSyncTest, AThousandPicturesASecondWithoutFrameDurationsKeepUpBySkipping) {
    // Matroska without a DefaultDuration: no rate, each picture's length
    // unknown until the next packet.
    const std::string path = ffclips::Clips().Get(
        "thousand.mkv", "-f lavfi -i testsrc2=size=16x16:rate=1000:duration=1 -c:v mjpeg");
    ASSERT_FALSE(path.empty());
    qbPlatformOps ops = ActivePlatformOps();
    ops.DecodeMovieVideo = CostlyDecode;
    struct Swap {
        const qbPlatformOps* before = &ActivePlatformOps();
        ~Swap() { SetPlatformBackend(before); }
    } swap;
    SetPlatformBackend(&ops);
    decodedPictures = chargedPictures = 0;
    stream_ = std::make_unique<qbVideoStream>();
    stream_->kind = kVideoDriverNative;
    stream_->nativePath = path;
    ASSERT_EQ(AttachNativeVideoEngine(stream_.get()), 0);
    EXPECT_EQ(stream_->own->info.frameDuration, 0.0);
    stream_.reset();
    chargeConversions_ = true;
    const qbVideoPlayback* p = Play(path, false, kStep);
    costly = nullptr;
    ASSERT_TRUE(p);
    ASSERT_GT(sink_.ended, 0);
    // Late pictures are dropped or skipped while one was shown within a
    // second, so none is handed on later than that; the last one least of
    // all, as skipping catches up.
    EXPECT_LT(sink_.lastLate.load(), 1.0);
    EXPECT_GT(p->droppedCount.load(), 0);
    StopVideoStream(stream_->own.get());
}

}  // namespace
