#include "media/videoclock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

namespace {

// The most a picture may be off the sound before it is moved: pictures that
// last longer than this are moved by how far they are off, never doubled.
constexpr double kMaxSyncThreshold = 0.1;
// A gap this long between pictures is a jump in the stream, not a delay,
// where the times may jump.
constexpr double kMaxFrameDelay = 10.0;
// The last picture's time after a reset: there was none.
constexpr double kNoFramePts = -10000.0;
// Timestamps' rounding: a picture of a tenth of a second, whose times are
// 1.1 and 1.2, is not a slow one.
constexpr double kTimeRounding = 1e-6;

double MonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::atomic<VideoWallClock> wallClock{MonotonicSeconds};

}  // namespace

double VideoWallTime() { return wallClock.load()(); }

void SetVideoWallClock(VideoWallClock clock) { wallClock.store(clock ? clock : MonotonicSeconds); }

void ResetVideoSync(qbVideoSync* sync, double now) {
    sync->frameTimer = now;
    sync->lastFramePts = kNoFramePts;
    sync->lastFrameDelay = 0.0;
    sync->currentBytePos = -1;
    sync->faultyPts = sync->faultyDts = 0;
    sync->lastPts = sync->lastDts = -1.0;
    sync->skipFactor = 1.0f;
    sync->skipIndex = 0.0f;
    sync->queuedSinceReset = 0;
}

double GetVideoClock(const qbVideoSync& sync) {
    return sync.paused ? sync.currentPts : sync.currentPtsDrift + VideoWallTime();
}

namespace {

double Unheard(const qbVideoSync& sync) {
    return std::max(0.0, sync.audioOutputDelay - (VideoWallTime() - sync.audioOutputStamp));
}

}  // namespace

bool VideoTimesJump(const qbVideoSync& sync, double gap) {
    return sync.timesMayJump && std::fabs(gap) >= kMaxFrameDelay;
}

bool SoundIsMaster(const qbVideoSync& sync) {
    if (!sync.hasSound) return false;
    // A sound that is over stands still: the pictures after it go on by
    // their own clock from where the last one shown left it.
    return !sync.soundEnded || Unheard(sync) > 0.0;
}

double GetMasterClock(const qbVideoSync& sync) {
    if (!SoundIsMaster(sync) || sync.audioChannels <= 0 || sync.audioRate <= 0) return GetVideoClock(sync);
    const double bytesPerSecond = static_cast<double>(sync.audioChannels) * sync.audioRate * 2.0;
    return sync.audioClock - (sync.audioBufferSize - sync.audioBufferIndex) / bytesPerSecond - Unheard(sync);
}

double ChooseVideoTimestamp(qbVideoSync* sync, double pts, double dts) {
    if (pts != -1.0) {
        sync->faultyPts += sync->lastPts >= pts;
        sync->lastPts = pts;
    }
    if (dts != -1.0) {
        sync->faultyDts += sync->lastDts >= dts;
        sync->lastDts = dts;
    }
    if (sync->faultyDts >= sync->faultyPts && pts != -1.0) return pts;
    if (dts != -1.0) return dts;
    return pts == -1.0 ? 0.0 : pts;
}

bool SkipVideoPicture(qbVideoSync* sync) {
    sync->skipIndex += 1.0f;
    if (sync->skipIndex < sync->skipFactor) return true;
    sync->skipIndex -= std::max(sync->skipFactor, 1.0f);
    return false;
}

double AdvanceVideoClock(qbVideoSync* sync, double timestamp, int32_t repeat) {
    if (timestamp != 0.0)
        sync->videoClock = timestamp;
    else
        timestamp = sync->videoClock;
    sync->videoClock += sync->frameDuration + repeat * sync->frameDuration * 0.5;
    return timestamp;
}

void EaseVideoSkip(qbVideoSync* sync) { sync->skipFactor = std::max(0.95f, sync->skipFactor * 0.95f); }

void HurryVideoSkip(qbVideoSync* sync) { sync->skipFactor *= 1.05f; }

double ScheduleVideoPicture(qbVideoSync* sync, double timestamp, double master) {
    // A picture lasts until its successor's time however long, unless the
    // times may jump: then a long gap is a jump and the pictures run on at
    // the delay before it. A long delay is not the one a time that goes
    // back reuses.
    double delay = timestamp - sync->lastFramePts;
    if (delay <= 0.0 || VideoTimesJump(*sync, delay) || sync->lastFramePts == kNoFramePts)
        delay = sync->lastFrameDelay;
    else if (delay < kMaxFrameDelay)
        sync->lastFrameDelay = delay;
    sync->lastFramePts = timestamp;
    const bool sound = SoundIsMaster(*sync);
    if (sound && delay > kMaxSyncThreshold + kTimeRounding) {
        // A slow picture is queued a whole picture before it is shown: it
        // is compared with the sound as it will be when the picture is due,
        // and held back (or brought forward) by how far it is off, so that
        // it is shown when the sound reaches it rather than a picture late.
        const double due = sync->frameTimer + delay;
        const double diff = timestamp - (master + (due - VideoWallTime()));
        if (!VideoTimesJump(*sync, diff) && std::fabs(diff) >= kMaxSyncThreshold)
            delay = std::max(0.0, delay + diff);
    } else if (sound) {
        // Queued while the picture before it is more than a picture away
        // (that one lasts long: a still stretch), it is compared with the
        // sound as it will be a picture before it is due, as a picture of
        // the steady flow is, not with the sound of long before.
        const double ahead = sync->frameTimer - VideoWallTime() - delay;
        const double diff = timestamp - (master + (ahead > kMaxSyncThreshold ? ahead : 0.0));
        const double threshold = std::max(0.01, delay);
        if (!VideoTimesJump(*sync, diff)) {
            if (diff <= -threshold)
                delay = 0.0;
            else if (diff >= threshold)
                delay *= 2.0;
        }
    }
    sync->frameTimer += delay;
    return sync->frameTimer;
}

uint32_t VideoPositionToSeekTarget(const qbVideoSync& sync, const qbVideoSeekBasis& basis, uint32_t positionMs) {
    if (!basis.seekByBytes) return positionMs;
    double base, reference;
    if (basis.ended && basis.fileSize >= 0) {
        base = static_cast<double>(basis.fileSize);
        reference = basis.duration / 1000.0;
    } else {
        base = static_cast<double>(sync.currentBytePos);
        reference = GetMasterClock(sync);
    }
    const double target = basis.byteRate * (positionMs - std::trunc(reference * 1000.0)) / 1000.0 + base;
    if (!(target > 0.0)) return 0;
    return target >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(target);
}
