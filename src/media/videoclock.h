// The clocks and timing of a video stream read by this player: which
// timestamp a picture gets, when it is due against the master clock, and
// how far behind playback may fall before pictures are dropped. Free of
// threads: the engine calls these under its own locks.
#pragma once

#include <cstdint>

// Wall time in seconds on a monotonic clock; tests put their own in.
using VideoWallClock = double (*)();
double VideoWallTime();
void SetVideoWallClock(VideoWallClock clock);  // null: the monotonic clock

struct qbVideoSync {
    double frameTimer = 0.0;      // target time of the last queued picture
    double lastFramePts = -10000.0;
    double lastFrameDelay = 0.0;
    double videoClock = 0.0;      // what the next picture without a timestamp gets
    double frameDuration = 0.0;
    // Whether the container's times may jump (MPEG-TS and PS restart their
    // clocks): only there is a long gap a jump (VideoTimesJump) rather than
    // a picture that lasts that long.
    bool timesMayJump = true;
    double currentPts = 0.0, currentPtsDrift = 0.0;
    int64_t currentBytePos = -1;
    int32_t faultyPts = 0, faultyDts = 0;
    double lastPts = -1.0, lastDts = -1.0;
    float skipFactor = 1.0f, skipIndex = 0.0f;
    int32_t queuedSinceReset = 0;  // pictures timed since the last reset
    // Sound: the pts of the end of the decoded sound, and how much of it
    // has not been handed on yet.
    bool hasSound = false;
    double audioClock = 0.0;
    int32_t audioBufferSize = 0, audioBufferIndex = 0;
    int32_t audioChannels = 0, audioRate = 0;
    // Sound handed to the output and not heard yet, as of a wall time: the
    // decoded end runs that far ahead of what plays.
    double audioOutputDelay = 0.0, audioOutputStamp = 0.0;
    // The sound is over (drained at the end of the file, or its decoder
    // failed and gave nothing since): once it has been heard, the pictures
    // keep their own time.
    bool soundEnded = false;
    bool paused = false;
};

// After a flush or at a start: timer at `now`, no history.
void ResetVideoSync(qbVideoSync* sync, double now);
// Current pts while paused, else its drift plus the wall time.
double GetVideoClock(const qbVideoSync& sync);
// Whether a gap of `gap` seconds between two times of the stream is a jump
// in its times rather than a stretch that lasts that long.
bool VideoTimesJump(const qbVideoSync& sync, double gap);
// Whether the sound is the master: it is there and not over and heard.
bool SoundIsMaster(const qbVideoSync& sync);
// The audio clock less what is still buffered, or the video clock without
// sound (or once it is over).
double GetMasterClock(const qbVideoSync& sync);

// -1 for "none". Counts backward steps of each and keeps to the one that
// has gone wrong less often; the result is 0 when neither is given.
double ChooseVideoTimestamp(qbVideoSync* sync, double pts, double dts);
// True when the picture is to be dropped to catch up.
bool SkipVideoPicture(qbVideoSync* sync);
// A timestamp of 0 takes the video clock's; the clock then moves past the
// picture. The picture's timestamp.
double AdvanceVideoClock(qbVideoSync* sync, double timestamp, int32_t repeat);
// The decoder waits on a full picture queue: it is ahead, so skip less.
void EaseVideoSkip(qbVideoSync* sync);
// The target wall time of a picture with this timestamp (the frame timer
// moves on to it). `master` counts only with sound.
double ScheduleVideoPicture(qbVideoSync* sync, double timestamp, double master);
// The refresh side falls behind: skip more.
void HurryVideoSkip(qbVideoSync* sync);

struct qbVideoSeekBasis {
    bool seekByBytes = false;
    bool ended = false;
    int64_t fileSize = -1;
    uint32_t duration = 0;  // ms
    int32_t byteRate = 0;
};
uint32_t VideoPositionToSeekTarget(const qbVideoSync& sync, const qbVideoSeekBasis& basis, uint32_t positionMs);
