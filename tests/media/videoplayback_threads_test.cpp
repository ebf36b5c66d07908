// The playback engine's threads against a scripted source: pictures reach
// the sink in order and the end comes once (after the last picture, which
// is never dropped, has been drawn), pausing and seeking while
// paused, a source that keeps failing, a pause racing the end, sound
// without an output and held while paused, and a stream whose window is away.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "media/videoplayback.h"
#include "wait_for.h"

using test_wait::WaitFor;

namespace {

using Clock = std::chrono::steady_clock;

// The engine's wall clock in these tests: it follows real time, but moves on
// by at most half a picture between two reads, so a thread that a loaded
// machine starves for a while finds its picture due, never late enough to
// be dropped. What the tests check then holds at any speed.
struct CappedClock {
    std::mutex lock;
    Clock::time_point last = Clock::now();
    double now = 100.0;
    double step = 0.005;
};
CappedClock cappedClock;
double ReadCappedClock() {
    std::lock_guard g(cappedClock.lock);
    const Clock::time_point t = Clock::now();
    const double passed = std::chrono::duration<double>(t - cappedClock.last).count();
    cappedClock.last = t;
    cappedClock.now += std::min(passed, cappedClock.step);
    return cappedClock.now;
}
void UseCappedClock(double step) {
    {
        std::lock_guard g(cappedClock.lock);
        cappedClock.last = Clock::now();
        cappedClock.step = step;
    }
    SetVideoWallClock(ReadCappedClock);
}
// Picture packets carry their index; with sound every picture is followed
// by a sound packet. Past `count` packets the source reports `after`.
struct FakeSource {
    int32_t pictures = 20;
    int32_t after = -1;
    bool withSound = false;
    double frameDuration = 0.01;
    int32_t next = 0;  // picture index
    bool soundDue = false;
    int32_t slowFirstMs = 0;  // the first picture's decode takes this long
    // The decoder waits at picture `decodable` until the test lets it on.
    std::atomic<int32_t> decodable{std::numeric_limits<int32_t>::max()};
    // Decoding picture jumpIndex moves the standing test clock on by this.
    int32_t jumpIndex = -1;
    double jumpSeconds = 0.0;
    std::atomic<int32_t> live{0};
    bool seekFails = false;
    std::atomic<int32_t> flushes{0};  // of either decoder
};

struct FakePacket {
    int32_t index = 0;
    bool audio = false;
};

FakeSource* Fake(void* handle) { return static_cast<FakeSource*>(handle); }

int32_t FakeNext(void* handle, qbVideoPacket* out) {
    FakeSource* f = Fake(handle);
    if (f->soundDue) {
        f->soundDue = false;
        out->packet = new FakePacket{f->next - 1, true};
        out->isAudio = 1;
        out->size = 200;
        out->pts = (f->next - 1) * f->frameDuration;
        ++f->live;
        return 0;
    }
    if (f->next >= f->pictures) return f->after;
    out->packet = new FakePacket{f->next, false};
    out->isAudio = 0;
    out->size = 1000;
    out->pts = f->next * f->frameDuration;
    f->soundDue = f->withSound;
    ++f->next;
    ++f->live;
    return 0;
}

void FakeFree(void* handle, void* packet) {
    delete static_cast<FakePacket*>(packet);
    --Fake(handle)->live;
}

constexpr int32_t kWidth = 8, kHeight = 4;

// A test clock that stands still until the test moves it; the refresh
// thread reads it at every round, so the reads count its rounds.
std::atomic<double> fakeNow{100.0};
std::atomic<int64_t> fakeReads{0};
double FakeClock();
// The engine reads the standing clock from now on (until the rig goes).
void StandClock() {
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
}

int32_t FakeVideo(void* handle, void* packet, qbVideoFrame* frame) {
    const auto* p = static_cast<const FakePacket*>(packet);
    if (p->audio) return 0;
    if (p->index == 0 && Fake(handle)->slowFirstMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Fake(handle)->slowFirstMs));
        std::lock_guard g(cappedClock.lock);
        cappedClock.now += Fake(handle)->slowFirstMs / 1000.0;
    }
    if (p->index == Fake(handle)->jumpIndex) fakeNow = fakeNow + Fake(handle)->jumpSeconds;
    while (p->index >= Fake(handle)->decodable) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int32_t i = 0; i < kWidth * kHeight; ++i) frame->rgb[i] = __builtin_bswap32(static_cast<uint32_t>(p->index));
    frame->pts = p->index * Fake(handle)->frameDuration;
    return 1;
}

int32_t FakeAudio(void*, void*, void* out, int32_t capacity, int32_t* finished) {
    *finished = 1;
    const int32_t bytes = std::min(capacity, 200);
    std::memset(out, 0, static_cast<size_t>(bytes));
    return bytes;
}

int32_t FakeSeek(void* handle, int64_t target) {
    FakeSource* f = Fake(handle);
    if (f->seekFails) return -1;
    f->next = std::min<int32_t>(static_cast<int32_t>(target / (f->frameDuration * 1000.0) + 0.5), f->pictures - 1);
    f->soundDue = false;
    return 0;
}

const qbVideoSourceOps kOps{nullptr, FakeNext, FakeFree, FakeVideo, FakeAudio, FakeSeek, nullptr, nullptr};

void FakeFlush(void* handle) { ++Fake(handle)->flushes; }
const qbVideoSourceOps kFlushingOps{nullptr, FakeNext, FakeFree, FakeVideo, FakeAudio, FakeSeek, FakeFlush, FakeFlush};

struct Sink {
    std::mutex lock;
    std::vector<int32_t> shown;
    std::atomic<int32_t> ended{0};
    std::atomic<int32_t> width{0}, badSize{0};
    static void Picture(void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t, double) {
        auto* s = static_cast<Sink*>(user);
        std::lock_guard g(s->lock);
        s->shown.push_back(static_cast<int32_t>(pixels[0]));
        // Every picture is whole at its size: its last pixel is its first.
        if (pixels[width * height - 1] != pixels[0]) ++s->badSize;
        s->width = width;
    }
    static void Ended(void* user) { ++static_cast<Sink*>(user)->ended; }
    std::vector<int32_t> Shown() {
        std::lock_guard g(lock);
        return shown;
    }
};

struct Rig {
    FakeSource fake;
    Sink sink;
    qbOwnVideoStream stream;
    explicit Rig(int32_t pictures, double frameDuration = 0.01, bool withSound = false) {
        fake.pictures = pictures;
        fake.frameDuration = frameDuration;
        fake.withSound = withSound;
        stream.source = std::make_unique<qbVideoSource>();
        stream.source->ops = &kOps;
        stream.source->handle = &fake;
        stream.frameWidth = kWidth;
        stream.frameHeight = kHeight;
        stream.duration = static_cast<uint32_t>(pictures * frameDuration * 1000);
        stream.info.frameDuration = frameDuration;
        stream.info.flags = kVideoInfoSeekable;
        stream.info.framesAreRGB = 1;
        if (withSound) {
            stream.audioChannels = 1;
            stream.audioRate = 10000;
        }
        UseCappedClock(frameDuration / 2);
    }
    ~Rig() {
        fake.decodable = std::numeric_limits<int32_t>::max();
        stream.playback.reset();
        SetVideoWallClock(nullptr);
    }
    // The pictures waiting in the playing stream's queue.
    int32_t Queued() {
        qbVideoPlayback* p = stream.playback.get();
        LockMutex(p->pictureMutex.get());
        const int32_t queued = p->queued;
        UnlockMutex(p->pictureMutex.get());
        return queued;
    }
    int Start() {
        qbVideoPlayParams params;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &sink};
        return StartVideoPlayback(&stream, params);
    }
};

double FakeClock() {
    ++fakeReads;
    return fakeNow.load();
}

TEST(VideoPlaybackTest, PicturesInOrderAndOneEnd) {
    Rig rig(20);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    const std::vector<int32_t> shown = rig.sink.Shown();
    ASSERT_FALSE(shown.empty());
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
    EXPECT_EQ(shown.back(), 19);  // the end waits for the last picture
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rig.sink.ended, 1);
    EXPECT_TRUE(VideoStreamEnded(&rig.stream));
    StopVideoStream(&rig.stream);
    EXPECT_EQ(rig.fake.live, 0);  // every packet went back to the source
    EXPECT_EQ(rig.fake.next, 0);  // and the source was rewound

    // A second start plays it again from the start.
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 1; }));
    EXPECT_EQ(rig.sink.ended, 2);
}

TEST(VideoPlaybackTest, ASlowFirstPictureMakesNoneLate) {
    // A decoder that warms up for a while before its first picture.
    Rig rig(15, 0.04);
    rig.fake.slowFirstMs = 300;
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.stream.playback->droppedCount, 0);
    EXPECT_EQ(rig.sink.Shown().size(), 15u);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, PicturesOfUnknownDurationAreNeverOverBeforeTheNext) {
    // Times 50 ms apart but no frame duration (a stream without a rate),
    // and a decoder slower than that: each picture is decoded once the one
    // before is shown, and the clock is 20 ms past its time before the
    // refresh sees it, alone in the queue. Every picture is shown; none is
    // taken as over at its own time, which would make the next skipped.
    Rig rig(8, 0.05);
    rig.stream.info.frameDuration = 0.0;
    StandClock();
    rig.fake.decodable = 0;
    ASSERT_EQ(rig.Start(), 0);
    qbVideoPlayback* p = rig.stream.playback.get();
    ASSERT_TRUE(WaitFor([&] { return p->reader.ended.load(); }));
    for (int32_t k = 0; k < 8; ++k) {
        rig.fake.decodable = k + 1;
        auto handled = [&] { return p->shownCount + p->droppedCount > k; };
        double target = 0.0;
        ASSERT_TRUE(WaitFor([&] {
            LockMutex(p->pictureMutex.get());
            const bool queued = p->queued > 0;
            if (queued) target = p->slots[p->readIndex].target;
            UnlockMutex(p->pictureMutex.get());
            return queued || handled();
        }));
        fakeNow = std::max(fakeNow.load(), target + 0.02);
        ASSERT_TRUE(WaitFor(handled));
    }
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.stream.playback->droppedCount, 0);
    const std::vector<int32_t> shown = rig.sink.Shown();
    ASSERT_EQ(shown.size(), 8u);
    for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], static_cast<int32_t>(i));
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, ADecoderWarmingUpMakesNoPictureLate) {
    // The second picture comes long after its time, the ones after it at
    // once: they are timed from when it came, so none is late.
    Rig rig(12, 0.04);
    StandClock();
    rig.fake.jumpIndex = 1;
    rig.fake.jumpSeconds = 0.3;
    ASSERT_EQ(rig.Start(), 0);
    qbVideoPlayback* p = rig.stream.playback.get();
    ASSERT_TRUE(WaitFor([&] { return p->shownCount + p->droppedCount >= 2 && rig.Queued() == 2; }));
    EXPECT_EQ(p->droppedCount, 0);
    EXPECT_EQ(rig.sink.Shown(), (std::vector<int32_t>{0, 1}));
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, ADuePictureWaitsForTheOneBeforeToBeDrawn) {
    Rig rig(5, 0.04);
    StandClock();
    // The main thread's side: each picture handed on waits to be drawn.
    static std::atomic<bool> undrawn{false};
    static std::atomic<int32_t> replaced{0};
    undrawn = false;
    replaced = 0;
    auto picture = [](void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
                      double pts) {
        if (undrawn.exchange(true)) ++replaced;
        Sink::Picture(user, pixels, width, height, rowLength, pts);
    };
    qbVideoPlayParams params;
    params.sink = qbVideoSink{picture, Sink::Ended, nullptr, &rig.sink, [](void*) { return undrawn.load(); }};
    ASSERT_EQ(StartVideoPlayback(&rig.stream, params), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.Shown().size() == 1 && rig.Queued() == 2; }));
    // The second picture is due, the third not yet: the second waits while
    // the first is not drawn.
    fakeNow = 100.05;
    const int64_t reads = fakeReads;
    ASSERT_TRUE(WaitFor([&] { return fakeReads > reads + 50; }));
    EXPECT_EQ(rig.sink.Shown().size(), 1u);
    undrawn = false;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.Shown().size() == 2; }));
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(rig.stream.playback->supersededCount, 0);
    // A main thread that never draws again holds nothing up for long: as
    // time goes on, every picture is handed on or dropped.
    fakeNow = 101.0;
    qbVideoPlayback* p = rig.stream.playback.get();
    ASSERT_TRUE(WaitFor([&] {
        fakeNow = fakeNow + 0.01;
        return p->shownCount + p->droppedCount == 5;
    }));
    undrawn = false;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, ResumeShiftsTheFrameTimerByThePausedTime) {
    // A clock that stands still shows the first picture and holds the next.
    Rig rig(50, 0.04);
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
    ASSERT_EQ(rig.Start(), 0);
    // The first shown and both slots full: nothing else is timed until the
    // clock moves.
    ASSERT_TRUE(WaitFor([&] { return rig.stream.playback->shownCount > 0 && rig.Queued() == 2; }));
    PauseVideoStream(&rig.stream);
    double before = 0.0;
    {
        LockMutex(rig.stream.playback->pictureMutex.get());
        before = rig.stream.playback->sync.frameTimer;
        UnlockMutex(rig.stream.playback->pictureMutex.get());
    }
    EXPECT_EQ(GetVideoStreamPosition(&rig.stream), 0u);
    fakeNow = 105.0;
    ResumeVideoStream(&rig.stream);
    LockMutex(rig.stream.playback->pictureMutex.get());
    const double after = rig.stream.playback->sync.frameTimer;
    UnlockMutex(rig.stream.playback->pictureMutex.get());
    EXPECT_DOUBLE_EQ(after - before, 5.0);
    StopVideoStream(&rig.stream);
    SetVideoWallClock(nullptr);
}

TEST(VideoPlaybackTest, TheLastPictureIsShownHoweverLate) {
    Rig rig(2, 0.04);
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
    ASSERT_EQ(rig.Start(), 0);
    // The first picture shown, the second (and last) waiting for its time.
    ASSERT_TRUE(WaitFor(
        [&] { return rig.sink.Shown().size() == 1 && rig.Queued() == 1 && rig.stream.playback->reader.ended; }));
    // Far behind: a picture with others after it would be dropped now.
    fakeNow = 100.9;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.sink.Shown().back(), 1);
    StopVideoStream(&rig.stream);
    SetVideoWallClock(nullptr);
}

TEST(VideoPlaybackTest, TheLastPictureIsNeverSkippedToCatchUp) {
    // The first pictures after a start are due when ready at the latest, so
    // the clip runs past them before it falls behind.
    constexpr int32_t kPictures = 34;
    Rig rig(kPictures, 0.04);
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
    ASSERT_EQ(rig.Start(), 0);
    // The clock moves to each picture as it waits at the head of the queue,
    // never past it, and only once the decoder has filled both slots (a
    // loaded machine would otherwise let the clip run past the moment
    // looked for); then, with 26 shown and both slots full, the decoder
    // holds one picture at most and the last packets wait in the queue.
    ASSERT_TRUE(WaitFor([&] {
        qbVideoPlayback* p = rig.stream.playback.get();
        LockMutex(p->pictureMutex.get());
        const bool done = p->shownCount >= 26 && p->queued == 2;
        if (!done && p->queued == 2 && p->slots[p->readIndex].target > fakeNow)
            fakeNow = p->slots[p->readIndex].target;
        UnlockMutex(p->pictureMutex.get());
        return done;
    }));
    {
        // Far behind: the decoder skips every picture it can.
        LockMutex(rig.stream.playback->pictureMutex.get());
        rig.stream.playback->sync.skipFactor = 1000.0f;
        UnlockMutex(rig.stream.playback->pictureMutex.get());
    }
    fakeNow = fakeNow + 0.9;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_GT(rig.stream.playback->droppedCount, 0);
    EXPECT_EQ(rig.sink.Shown().back(), kPictures - 1);
    StopVideoStream(&rig.stream);
    SetVideoWallClock(nullptr);
}

TEST(VideoPlaybackTest, ALonePictureTooLateWaitsToLearnWhetherItIsTheLast) {
    // After its pictures the source fails a while before its end counts.
    Rig rig(2, 0.04);
    rig.fake.after = -2;
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.Shown().size() == 1 && rig.Queued() == 1; }));
    // Far behind while the end is not known yet.
    fakeNow = 100.9;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.sink.Shown().back(), 1);
    StopVideoStream(&rig.stream);
    SetVideoWallClock(nullptr);
}

TEST(VideoPlaybackTest, TheEndWaitsUntilTheLastPictureIsDrawn) {
    Rig rig(5, 0.01);
    static std::atomic<bool> undrawn{true};
    undrawn = true;
    qbVideoPlayParams params;
    params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &rig.sink, [](void*) { return undrawn.load(); }};
    ASSERT_EQ(StartVideoPlayback(&rig.stream, params), 0);
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<int32_t> shown = rig.sink.Shown();
        return !shown.empty() && shown.back() == 4;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rig.sink.ended, 0);
    EXPECT_FALSE(VideoStreamEnded(&rig.stream));
    undrawn = false;
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.sink.ended, 1);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, PausedSeekShowsTheNewPictureAndStaysPaused) {
    Rig rig(100, 0.04);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return !rig.sink.Shown().empty(); }));
    PauseVideoStream(&rig.stream);
    ASSERT_EQ(SeekVideoStream(&rig.stream, 2000), 0);
    std::vector<int32_t> shown = rig.sink.Shown();
    EXPECT_EQ(shown.back(), 50);
    EXPECT_EQ(GetVideoStreamPosition(&rig.stream), 2000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig.sink.Shown().size(), shown.size());  // still paused
    ResumeVideoStream(&rig.stream);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.Shown().size() > shown.size() + 2; }));
    shown = rig.sink.Shown();
    EXPECT_GT(shown.back(), 50);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, APausedSeekDropsThePictureWaitingForASlot) {
    // A clock that stands still: picture 0 shown, 1 and 2 queued, and 3
    // decoded, waiting for a slot, when the seek comes.
    Rig rig(100, 0.04);
    fakeNow = 100.0;
    SetVideoWallClock(FakeClock);
    ASSERT_EQ(rig.Start(), 0);
    qbVideoPlayback* p = rig.stream.playback.get();
    ASSERT_TRUE(WaitFor([&] { return p->shownCount > 0 && rig.fake.next > 3 && p->videoBusy; }));
    PauseVideoStream(&rig.stream);
    ASSERT_EQ(SeekVideoStream(&rig.stream, 2000), 0);
    const size_t seekedAt = rig.sink.Shown().size();
    EXPECT_EQ(rig.sink.Shown().back(), 50);
    // The waiting picture, older than the seek, takes no slot.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LockMutex(p->pictureMutex.get());
    EXPECT_EQ(p->queued, 0);
    UnlockMutex(p->pictureMutex.get());
    ResumeVideoStream(&rig.stream);
    // Everything queued is due at once; then the clock walks on.
    for (int i = 0; i < 1000 && rig.sink.Shown().size() <= seekedAt + 3; ++i) {
        fakeNow = fakeNow + 0.04;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::vector<int32_t> shown = rig.sink.Shown();
    ASSERT_GT(shown.size(), seekedAt + 3);
    for (size_t i = seekedAt; i < shown.size(); ++i) EXPECT_GT(shown[i], 50) << i;
    StopVideoStream(&rig.stream);
    SetVideoWallClock(nullptr);
}

TEST(VideoPlaybackTest, SeeksWhilePlayingLandWhereAsked) {
    Rig rig(400, 0.02);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return !rig.sink.Shown().empty(); }));
    ASSERT_EQ(SeekVideoStream(&rig.stream, 4000), 0);
    // The second waits for the first to be shown, not for the end.
    ASSERT_EQ(SeekVideoStream(&rig.stream, 6000), 0);
    EXPECT_EQ(rig.sink.ended, 0);
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<int32_t> s = rig.sink.Shown();
        return s.back() >= 300;
    }));
    StopVideoStream(&rig.stream);
}

// A stop, a grab, a dump or a start rewinds or seeks a stream that is not
// playing; its decoders are emptied only where the source got to. A decoder
// flushed and fed again where the source could not go may crash (libjxl's
// does, after a failed picture).
TEST(VideoPlaybackTest, RewindsFlushOnlyASourceThatSeeked) {
    Rig rig(10);
    rig.stream.source->ops = &kFlushingOps;
    rig.fake.seekFails = true;
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    StopVideoStream(&rig.stream);
    EXPECT_EQ(GrabVideoFrame(&rig.stream, 1, kVideoGrabFrame, 1), ERR_VIDEOFRAME);
    EXPECT_EQ(GrabVideoFrame(&rig.stream, 50, kVideoGrabTime, 1), ERR_SEEKRANGE);
    ASSERT_EQ(SeekVideoStream(&rig.stream, 50), 0);
    EXPECT_EQ(rig.Start(), ERR_SEEKRANGE);
    EXPECT_EQ(rig.fake.flushes, 0);
    EXPECT_EQ(rig.fake.live, 0);

    // The stop's rewind that failed is tried again by the next start.
    rig.fake.seekFails = false;
    ASSERT_EQ(rig.Start(), 0);
    EXPECT_EQ(rig.fake.flushes, 2);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 1; }));
    const std::vector<int32_t> shown = rig.sink.Shown();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 0), 2);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, EndlessSourceErrorsEndTheStream) {
    Rig rig(3, 0.1);
    rig.fake.after = -5;
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.sink.Shown().back(), 2);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, PauseRacingTheEndReturns) {
    for (int delayMs : {0, 5, 20, 40}) {
        Rig rig(3);
        ASSERT_EQ(rig.Start(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        PauseVideoStream(&rig.stream);  // returns: a hang ends the test
        ResumeVideoStream(&rig.stream);
        ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
        StopVideoStream(&rig.stream);
    }
}

TEST(VideoPlaybackTest, SoundWithoutAnOutputPlaysSilent) {
    // No audio output is open here: the pictures keep their own time.
    Rig rig(15, 0.01, true);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_EQ(rig.sink.Shown().back(), 14);
    StopVideoStream(&rig.stream);
    EXPECT_EQ(rig.fake.live, 0);
}

TEST(VideoPlaybackTest, PauseHoldsTheSoundOutputUntilTheResume) {
    Rig rig(200, 0.01, true);
    ASSERT_EQ(rig.Start(), 0);
    qbVideoPlayback* p = rig.stream.playback.get();
    ASSERT_TRUE(p->sound);
    PauseVideoStream(&rig.stream);
    EXPECT_TRUE(p->sound->ring.paused);
    ResumeVideoStream(&rig.stream);
    EXPECT_FALSE(p->sound->ring.paused);
    StopVideoStream(&rig.stream);
}

TEST(VideoPlaybackTest, ASuspendedStreamKeepsTimeUnseen) {
    Rig rig(10);
    rig.stream.suspended = true;
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    EXPECT_TRUE(rig.sink.Shown().empty());
    EXPECT_GT(rig.stream.playback->shownCount, 0);
    rig.stream.suspended = false;
    RepresentVideoPicture(&rig.stream);
    EXPECT_EQ(rig.sink.Shown(), std::vector<int32_t>{9});
    StopVideoStream(&rig.stream);
}

}  // namespace

TEST(VideoPlaybackTest, NewSizesWhilePlayingPausedAndEnded) {
    Rig rig(400, 0.002);
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(WaitFor([&] { return !rig.sink.Shown().empty(); }));
    int32_t moved = 0;
    auto move = [](void* user) { ++*static_cast<int32_t*>(user); };
    for (int32_t i = 0; i < 6; ++i) {
        const int32_t width = 4 + 6 * i;
        ASSERT_EQ(SetVideoStreamGeometry(&rig.stream, i, i, width, 2 + i, i % 2 != 0, move, &moved), 0);
        const size_t before = rig.sink.Shown().size();
        ASSERT_TRUE(WaitFor([&] { return rig.sink.Shown().size() > before + 1 || rig.sink.ended > 0; }));
    }
    EXPECT_EQ(moved, 6);
    PauseVideoStream(&rig.stream);
    // Paused, the shown picture comes again at once at the new size.
    const size_t before = rig.sink.Shown().size();
    ASSERT_EQ(SetVideoStreamGeometry(&rig.stream, 0, 0, 16, 16, false, nullptr, nullptr), 0);
    EXPECT_EQ(rig.sink.Shown().size(), before + 1);
    EXPECT_EQ(rig.sink.width, 16);
    ResumeVideoStream(&rig.stream);
    ASSERT_TRUE(WaitFor([&] { return rig.sink.ended > 0; }));
    ASSERT_EQ(SetVideoStreamGeometry(&rig.stream, 0, 0, 3, 3, true, nullptr, nullptr), 0);
    EXPECT_EQ(rig.sink.width, 3);
    EXPECT_EQ(rig.sink.badSize, 0);
    EXPECT_EQ(rig.sink.ended, 1);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QB_SANITIZED 1
#endif
#endif

namespace {

// A drawing size within the limit whose pictures the memory left cannot
// hold refuses the start with ERR_MEM; nothing plays.
TEST(VideoPlaybackTest, PictureBuffersMemoryCannotHoldRefuseTheStart) {
#ifdef QB_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator ends the process where memory runs out";
#else
    Rig rig(5);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(60);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit capped{};
        getrlimit(RLIMIT_AS, &capped);
        capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
        if (pages <= 0 || setrlimit(RLIMIT_AS, &capped) != 0) _exit(2);
        qbVideoPlayParams params;
        params.sink = qbVideoSink{Sink::Picture, Sink::Ended, nullptr, &rig.sink};
        params.width = params.height = 16000;  // two pictures of 1 GB each
        const int err = StartVideoPlayback(&rig.stream, params);
        _exit(err == ERR_MEM && rig.sink.Shown().empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
}

}  // namespace
