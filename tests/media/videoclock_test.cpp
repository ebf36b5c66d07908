// Picture timing: the choice between pts and dts, delays across gaps, the
// sound master's pull, skipping, and seek targets by bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "media/videoclock.h"

namespace {

double fakeNow = 0.0;
double FakeClock() { return fakeNow; }

struct ClockGuard {
    ClockGuard() { SetVideoWallClock(FakeClock); }
    ~ClockGuard() { SetVideoWallClock(nullptr); }
};

TEST(VideoClockTest, BackwardPtsSwitchesToDtsOnceWorse) {
    qbVideoSync sync;
    ResetVideoSync(&sync, 0.0);
    EXPECT_EQ(ChooseVideoTimestamp(&sync, 1.0, 0.9), 1.0);
    EXPECT_EQ(ChooseVideoTimestamp(&sync, 1.1, 0.8), 1.1);  // dts went back
    EXPECT_EQ(ChooseVideoTimestamp(&sync, 0.5, 1.0), 0.5);  // and now pts: a tie keeps pts
    EXPECT_EQ(sync.faultyPts, 1);
    EXPECT_EQ(sync.faultyDts, 1);
    EXPECT_EQ(ChooseVideoTimestamp(&sync, 0.4, 1.1), 1.1);  // now pts is the worse one
    EXPECT_EQ(ChooseVideoTimestamp(&sync, -1.0, 1.2), 1.2);
    EXPECT_EQ(ChooseVideoTimestamp(&sync, -1.0, -1.0), 0.0);
    ResetVideoSync(&sync, 0.0);
    EXPECT_EQ(ChooseVideoTimestamp(&sync, 2.0, -1.0), 2.0);
}

TEST(VideoClockTest, DelaysFollowTimestampsButNotJumpsWhereTimesMayJump) {
    // MPEG-TS: a broadcast's clock may restart.
    qbVideoSync sync;
    ResetVideoSync(&sync, 100.0);
    sync.timesMayJump = true;
    sync.frameDuration = 0.04;
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 0.0, 0.0), 100.0, 1e-9);  // first: last delay 0
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 0.04, 0.0), 100.04, 1e-9);
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 20.0, 0.0), 100.08, 1e-9);  // a jump of 10 s or more reuses 0.04
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 19.0, 0.0), 100.12, 1e-9);  // backwards too
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 19.1, 0.0), 100.22, 1e-9);
    // The video clock stands in for missing timestamps.
    sync.videoClock = 5.0;
    EXPECT_DOUBLE_EQ(AdvanceVideoClock(&sync, 0.0, 0), 5.0);
    EXPECT_DOUBLE_EQ(sync.videoClock, 5.04);
    EXPECT_DOUBLE_EQ(AdvanceVideoClock(&sync, 7.0, 2), 7.0);
    EXPECT_DOUBLE_EQ(sync.videoClock, 7.08);
}

TEST(VideoClockTest, APictureLastsUntilItsSuccessorWhereTimesCannotJump) {
    // Matroska, MP4: a still stretch of 20 s is waited whole, and a time
    // that goes back still reuses the delay before it, not the long one.
    qbVideoSync sync;
    ResetVideoSync(&sync, 100.0);
    sync.timesMayJump = false;
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 0.0, 0.0), 100.0, 1e-9);
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 0.04, 0.0), 100.04, 1e-9);
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 20.04, 0.0), 120.04, 1e-9);
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 20.08, 0.0), 120.08, 1e-9);
    EXPECT_NEAR(ScheduleVideoPicture(&sync, 19.0, 0.0), 120.12, 1e-9);
    // With sound, however far the picture is off the sound it is pulled in
    // line: 28 s behind, at once; the long still picture's successor, as
    // the sound reaches it.
    ClockGuard guard;
    fakeNow = 0.0;
    ResetVideoSync(&sync, 0.0);
    sync.timesMayJump = false;
    sync.hasSound = true;
    ScheduleVideoPicture(&sync, 1.0, 1.0);
    ScheduleVideoPicture(&sync, 1.1, 1.1);
    ScheduleVideoPicture(&sync, 1.2, 30.0);
    EXPECT_NEAR(sync.frameTimer, 0.1, 1e-9);
    ScheduleVideoPicture(&sync, 21.2, 1.1);  // due at 20.1, when the sound is at 21.2
    EXPECT_NEAR(sync.frameTimer, 20.1, 1e-9);
    // The picture after it, queued as long before it is due, is compared
    // with the sound as it will be a picture before then (a little ahead
    // of the pictures), not as it is now, 20 s behind: it is not held back.
    ScheduleVideoPicture(&sync, 21.24, 1.16);
    EXPECT_NEAR(sync.frameTimer, 20.14, 1e-9);
}

TEST(VideoClockTest, SoundPullsThePicturesInLine) {
    qbVideoSync sync;
    ResetVideoSync(&sync, 0.0);
    sync.hasSound = true;
    ScheduleVideoPicture(&sync, 1.0, 1.0);
    ScheduleVideoPicture(&sync, 1.1, 1.1);  // in time: delay 0.1
    EXPECT_NEAR(sync.frameTimer, 0.1, 1e-9);
    ScheduleVideoPicture(&sync, 1.2, 1.5);  // behind the sound: at once
    EXPECT_NEAR(sync.frameTimer, 0.1, 1e-9);
    ScheduleVideoPicture(&sync, 1.3, 1.0);  // ahead: twice the delay
    EXPECT_NEAR(sync.frameTimer, 0.3, 1e-9);
    ScheduleVideoPicture(&sync, 1.4, 30.0);  // too far apart to trust
    EXPECT_NEAR(sync.frameTimer, 0.4, 1e-9);
}

// The engine's two picture slots: picture k is timed when picture k - 2 is
// shown, with the sound (started at wall time 100) as it is then. Answers
// how far each picture's target is from the sound reaching its time, at
// worst.
double WorstOffTheSound(double frameDuration, int pictures, std::vector<double>* targets) {
    ClockGuard guard;
    qbVideoSync sync;
    ResetVideoSync(&sync, 100.0);
    sync.hasSound = true;
    sync.frameDuration = frameDuration;
    double worst = 0.0;
    for (int k = 0; k < pictures; ++k) {
        fakeNow = k < 2 ? 100.0 : std::max(100.0, (*targets)[static_cast<size_t>(k - 2)]);
        const double pts = k * frameDuration;
        targets->push_back(ScheduleVideoPicture(&sync, pts, fakeNow - 100.0));
        worst = std::max(worst, std::fabs(targets->back() - 100.0 - pts));
    }
    return worst;
}

TEST(VideoClockTest, SlowPicturesAreShownWhenTheSoundReachesThem) {
    // A picture every 1.5 s, timed 3 s before it is due: each is held back
    // by how far it is ahead of the sound when due, never a picture more.
    std::vector<double> targets;
    EXPECT_LT(WorstOffTheSound(1.5, 12, &targets), 0.1);
    for (size_t k = 1; k < targets.size(); ++k) EXPECT_NEAR(targets[k] - targets[k - 1], 1.5, 0.1);
    // Half a second: the same.
    targets.clear();
    EXPECT_LT(WorstOffTheSound(0.5, 12, &targets), 0.1);
}

TEST(VideoClockTest, MasterClockIsVideoWithoutSound) {
    ClockGuard guard;
    qbVideoSync sync;
    sync.currentPtsDrift = 2.0;
    fakeNow = 10.0;
    EXPECT_DOUBLE_EQ(GetMasterClock(sync), 12.0);
    sync.paused = true;
    sync.currentPts = 3.0;
    EXPECT_DOUBLE_EQ(GetMasterClock(sync), 3.0);
    sync.hasSound = true;
    sync.audioChannels = 2;
    sync.audioRate = 1000;
    sync.audioClock = 5.0;
    sync.audioBufferSize = 4000;
    sync.audioBufferIndex = 2000;  // 2000 bytes left: half a second
    EXPECT_DOUBLE_EQ(GetMasterClock(sync), 4.5);
    // A sound that is over is the master until it has all been heard, then
    // the pictures' own clock is.
    sync.paused = false;
    sync.soundEnded = true;
    sync.audioOutputStamp = 10.0;
    sync.audioOutputDelay = 0.25;
    EXPECT_DOUBLE_EQ(GetMasterClock(sync), 4.25);
    fakeNow = 10.5;
    EXPECT_DOUBLE_EQ(GetMasterClock(sync), 12.5);
}

TEST(VideoClockTest, SkipFactorMovesByFivePercent) {
    qbVideoSync sync;
    ResetVideoSync(&sync, 0.0);
    int shown = 0;
    for (int i = 0; i < 10; ++i) shown += !SkipVideoPicture(&sync);
    EXPECT_EQ(shown, 10);
    HurryVideoSkip(&sync);
    EXPECT_FLOAT_EQ(sync.skipFactor, 1.05f);
    for (int i = 0; i < 30; ++i) HurryVideoSkip(&sync);  // about 4.5: roughly one picture in 4.5 shown
    shown = 0;
    for (int i = 0; i < 90; ++i) shown += !SkipVideoPicture(&sync);
    EXPECT_GE(shown, 18);
    EXPECT_LE(shown, 22);
    EaseVideoSkip(&sync);
    EXPECT_NEAR(sync.skipFactor, 4.5f * 0.95f, 0.1f);
    for (int i = 0; i < 200; ++i) EaseVideoSkip(&sync);
    EXPECT_FLOAT_EQ(sync.skipFactor, 0.95f);
}

TEST(VideoClockTest, SeekTargets) {
    ClockGuard guard;
    qbVideoSync sync;
    qbVideoSeekBasis basis;
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 1234), 1234u);
    basis.seekByBytes = true;
    basis.byteRate = 1000;
    basis.fileSize = 50000;
    basis.duration = 40000;
    fakeNow = 0.0;
    sync.currentPtsDrift = 10.0;  // at 10 s
    sync.currentBytePos = 12000;
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 15000), 17000u);
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 0), 2000u);
    sync.currentBytePos = 1000;
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 0), 0u);  // never before the start
    basis.ended = true;
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 30000), 40000u);
    basis.byteRate = INT32_MAX;
    EXPECT_EQ(VideoPositionToSeekTarget(sync, basis, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

}  // namespace

#include "media/videoclip.h"

namespace {

TEST(VideoClipTest, CutsAtTheEdges) {
    auto same = [](qbVideoClip c, qbVideoClip e) {
        return c.sourceX == e.sourceX && c.sourceY == e.sourceY && c.x == e.x && c.y == e.y && c.width == e.width &&
               c.height == e.height;
    };
    EXPECT_TRUE(same(ClipVideoRect(10, 20, 100, 50, 640, 480), {0, 0, 10, 20, 100, 50}));
    EXPECT_TRUE(same(ClipVideoRect(-30, -5, 100, 50, 640, 480), {30, 5, 0, 0, 70, 45}));
    EXPECT_TRUE(same(ClipVideoRect(600, 460, 100, 50, 640, 480), {0, 0, 600, 460, 40, 20}));
    EXPECT_TRUE(same(ClipVideoRect(-200, 0, 100, 50, 640, 480), {}));
    EXPECT_TRUE(same(ClipVideoRect(700, 0, 100, 50, 640, 480), {}));
    EXPECT_TRUE(same(ClipVideoRect(INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 640, 480), {}));
}

}  // namespace
