// The threads of a playing stream: the video server decodes and times
// pictures, the refresh thread hands them on when they are due, the audio
// server keeps the sound ring topped up.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

#include "imaging/scale.h"
#include "imaging/yuvframes.h"
#include "media/videopixels.h"
#include "media/videoplayback.h"

namespace {

constexpr auto kIdleStep = std::chrono::milliseconds(10);
constexpr int32_t kQueueWaitMs = 10;
constexpr int32_t kRefreshWaitMs = 1;
// A due picture waits in steps of this for the main thread to draw the one
// before, until this long before the picture after it is due.
constexpr int32_t kHoldStepMs = 2;
constexpr double kHoldMargin = 0.002;
// Pictures after a start or a flush that the decoder may still be warming
// up for: more than the threads a decoder runs.
constexpr int32_t kDecoderWarmUpPictures = 24;
// A late picture is dropped only while one was shown within this time.
constexpr double kMaxShowGap = 1.0;
constexpr double kLateSlack = 0.5;
// How long the end waits at most for the main thread to draw the last picture.
constexpr double kEndDrawWait = 2.0;

using Locked = MutexHold;

// With QB_VIDEO_STATS=2 every picture that does not reach the window says so.
void LogLostPicture(const qbVideoPlayback* p, const char* how, double pts, double late) {
    if (p->statsLevel >= 2)
        std::fprintf(stderr, "video: picture at %.3f s %s, %.1f ms late\n", pts, how, late * 1000.0);
}

qbVideoPlayback* Playback(qbThread* thread) { return static_cast<qbVideoPlayback*>(GetThreadUserData(thread)); }

void Release(qbVideoPlayback* p, void* packet) {
    const qbVideoSource* s = p->stream->source.get();
    if (packet && s->ops->freePacket) s->ops->freePacket(s->handle, packet);
}

// A flush marker: everything before the seek is gone, and so is its timing.
void FlushPictures(qbVideoPlayback* p) {
    const qbVideoSource* s = p->stream->source.get();
    if (s->ops->flushVideo) s->ops->flushVideo(s->handle);
    {
        Locked lock(p->pictureMutex.get());
        p->queued = p->readIndex = p->writeIndex = 0;
        ResetVideoSync(&p->sync, VideoWallTime());
        SetSignal(p->pictureSignal.get());
    }
    int32_t requested = 1;
    p->videoFlushState.compare_exchange_strong(requested, 2);
}

// Waits for a free slot; false on a stop request.
bool WaitForSlot(qbThread* thread, qbVideoPlayback* p) {
    Locked lock(p->pictureMutex.get());
    if (p->queued > 1) EaseVideoSkip(&p->sync);
    while (p->queued > 1) {
        if (IsThreadStopRequested(thread)) return false;
        // Parked on a full queue is parked all the same.
        if (p->paused)
            p->videoAck = true;
        else
            p->resumeRequest = false;
        WaitSignalTimeout(p->pictureSignal.get(), p->pictureMutex.get(), kQueueWaitMs);
    }
    return !IsThreadStopRequested(thread);
}

void QueuePicture(qbVideoPlayback* p, const qbVideoFrame& frame, double timestamp, uint32_t epoch) {
    ConvertVideoPicture(p, frame, p->slots[p->writeIndex].pixels.data());
    Locked lock(p->pictureMutex.get());
    if (p->pictureEpoch != epoch) return;
    qbVideoPicture& slot = p->slots[p->writeIndex];
    slot.pts = timestamp;
    slot.bytePos = frame.bytePos;
    // The first pictures after a start or a flush are due when they are
    // ready at the latest: the decoder's warm-up (each of its threads makes
    // its first picture, allocating as it goes) is no lateness for the
    // pictures after them to make up by being dropped.
    slot.target = ScheduleVideoPicture(&p->sync, timestamp, GetMasterClock(p->sync));
    if (p->sync.queuedSinceReset++ < kDecoderWarmUpPictures)
        slot.target = p->sync.frameTimer = std::max(p->sync.frameTimer, VideoWallTime());
    p->writeIndex = (p->writeIndex + 1) % 2;
    ++p->queued;
    int32_t flushed = 2;
    p->videoFlushState.compare_exchange_strong(flushed, 3);
}

// One packet taken from the queue: decoded, timed and queued, or dropped.
void HandlePicture(qbThread* thread, qbVideoPlayback* p, const qbVideoQueueNode& node) {
    const qbVideoSource* s = p->stream->source.get();
    const uint32_t epoch = p->pictureEpoch;
    qbVideoFrame frame = SourceFrame(p);
    if (s->ops->decodeVideoFrame(s->handle, node.data, &frame) != 1) return;
    double timestamp = 0.0;
    bool drop = false;
    // A picture with no packet behind it may be the last, which the video
    // leaves on the display: it is never skipped.
    const bool more = !VideoQueueEmpty(&p->video);
    {
        Locked lock(p->pictureMutex.get());
        // Without a dts of its own the picture's packet time stands in.
        timestamp = ChooseVideoTimestamp(&p->sync, frame.pts, frame.dts != -1.0 ? frame.dts : node.pts);
        drop = SkipVideoPicture(&p->sync) && more;
        if (!drop) timestamp = AdvanceVideoClock(&p->sync, timestamp, frame.repeat);
    }
    if (drop) {
        ++p->droppedCount;
        LogLostPicture(p, "skipped before conversion", timestamp, 0.0);
        return;
    }
    if (WaitForSlot(thread, p)) QueuePicture(p, frame, timestamp, epoch);
}

// No picture can follow the ones queued: the file has ended and no packet
// waits or is being decoded. (The queue is looked at before the decoder's
// flag, which it raises before it takes a packet.)
bool NoMorePictures(qbVideoPlayback* p) {
    return p->reader.ended && VideoQueueEmpty(&p->video) && !p->videoBusy;
}

// The end comes once both packet queues and the picture queue are empty and
// no picture is on its way between them, and once the main thread has drawn
// the last picture, so that a script that ends at the end event or when the
// video stops playing leaves that picture on the display. A main thread
// that never yields to the display holds the end back no longer than
// kEndDrawWait (since when in *drainedSince, -1 while not drained).
void PostEndWhenDrained(qbVideoPlayback* p, double* drainedSince) {
    if (p->endPosted) return;
    if (!NoMorePictures(p) || (p->withSound && !VideoQueueEmpty(&p->audio))) {
        *drainedSince = -1.0;
        return;
    }
    double master = 0.0;
    {
        Locked lock(p->pictureMutex.get());
        if (p->queued) return;
        master = GetMasterClock(p->sync);
    }
    const qbVideoSink& sink = p->params.sink;
    if (sink.pending && sink.pending(sink.user)) {
        const double now = VideoWallTime();
        if (*drainedSince < 0.0) *drainedSince = now;
        if (now - *drainedSince < kEndDrawWait) return;
    }
    const double ms = master * 1000.0;
    p->finalPosition = !(ms > 0.0) ? 0u : ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
    p->endPosted = true;
    if (p->params.sink.ended) p->params.sink.ended(p->params.sink.user);
}

// The slot's picture becomes the shown one. The buffers trade places: the
// slot is written afresh before it is read again, so a copy would only
// cost a pass over the picture.
void ShowPicture(qbVideoPlayback* p, qbVideoPicture& slot) {
    std::lock_guard lock(p->shownMutex);
    if (p->shown.size() == slot.pixels.size())
        p->shown.swap(slot.pixels);
    else
        p->shown = slot.pixels;
    p->shownPts = slot.pts;
}

// When a lone picture is over: after its frame duration; where the stream
// has none (no measured rate), at the time of the packet queued after it,
// else (none queued yet, or one of an earlier time) not before the next
// picture comes.
double LoneEnd(const qbVideoSync& sync, const qbVideoPicture& slot, double nextPacket) {
    if (sync.frameDuration > 0.0) return slot.target + sync.videoClock - slot.pts;
    if (nextPacket != -1.0 && nextPacket > slot.pts) return slot.target + (nextPacket - slot.pts);
    return std::numeric_limits<double>::infinity();
}

// One round with a picture queued, under the picture lock: the wait in ms
// before the next round (0: at once), or -1 when the picture was handed on.
int32_t RefreshRound(qbVideoPlayback* p) {
    const bool noMore = NoMorePictures(p);
    const double nextPacket = VideoQueueFirstPts(&p->video);
    const qbVideoSink& sink = p->params.sink;
    const bool sinkBusy = sink.pending && sink.pending(sink.user);
    Locked lock(p->pictureMutex.get());
    if (!p->queued) return kRefreshWaitMs;
    const double now = VideoWallTime();
    qbVideoPicture& slot = p->slots[p->readIndex];
    if (slot.target > now) return std::clamp(static_cast<int32_t>((slot.target - now) * 1000.0), 0, kQueueWaitMs);
    const double next = p->queued > 1 ? p->slots[(p->readIndex + 1) % 2].target : LoneEnd(p->sync, slot, nextPacket);
    // The main thread has not drawn the picture before yet (it was held up
    // by the scheduler or its own drawing): this one waits for it a little,
    // rather than replace it in the queue so that the window never shows
    // it. Half the time to the picture after it at most: a loop that draws
    // only at its own rhythm (VWait) would otherwise make every picture late.
    if (sinkBusy && !p->stream->suspended && now < std::min(next - kHoldMargin, (slot.target + next) / 2))
        return kHoldStepMs;
    const bool late = next < now && now - p->lastShown < kMaxShowGap;
    // A lone picture too late to show is dropped only for the one after it:
    // until that is queued or no more can come, it waits, since the last
    // picture is the one the video leaves on the display.
    if (late && p->queued == 1 && !noMore && now > next + kLateSlack) return kRefreshWaitMs;
    p->sync.currentPts = slot.pts;
    p->sync.currentPtsDrift = slot.pts - now;
    p->sync.currentBytePos = slot.bytePos;
    int32_t first = 3;
    p->videoFlushState.compare_exchange_strong(first, 0);
    if (next < now) HurryVideoSkip(&p->sync);
    const bool drop = late && p->queued > 1;
    if (!drop) {
        p->lastShown = now;
        const auto late = static_cast<int64_t>((now - slot.target) * 1e6);
        if (late > p->worstLateMicros) p->worstLateMicros = late;
        if (p->withSound) {
            const double off = std::fabs(slot.pts - GetMasterClock(p->sync));
            if (off > p->worstOffSound) p->worstOffSound = off;
        }
        ShowPicture(p, slot);
    } else {
        ++p->droppedCount;
        ++p->lateCount;
        LogLostPicture(p, "dropped as late", slot.pts, now - slot.target);
    }
    p->readIndex = (p->readIndex + 1) % 2;
    --p->queued;
    SetSignal(p->pictureSignal.get());
    return drop ? 0 : -1;
}

}  // namespace

namespace {

// Planes too short for the frame would be read past their ends.
bool PlanesFit(const qbVideoFrame& f, int32_t width) {
    const int32_t chroma = (width + 1) / 2;
    return f.planes[0] && f.planes[1] && f.planes[2] && f.pitches[0] >= width && f.pitches[1] >= chroma &&
           f.pitches[2] >= chroma;
}

void ScaleNative(const qbVideoPlayback* p, const uint32_t* source, uint32_t* destination) {
    ScaleRequest req;
    req.srcPixels = source;
    req.srcWidth = p->stream->frameWidth;
    req.srcHeight = p->stream->frameHeight;
    req.srcRowLength = p->stream->frameWidth;
    req.dstPixels = destination;
    req.dstWidth = p->drawWidth;
    req.dstHeight = p->drawHeight;
    req.dstRowLength = p->drawWidth;
    req.smooth = p->params.smooth;
    ScalePixelBuffer(req);
}

}  // namespace

void ConvertVideoPicture(qbVideoPlayback* p, const qbVideoFrame& frame, uint32_t* destination) {
    const int32_t fw = p->stream->frameWidth, fh = p->stream->frameHeight;
    const bool same = fw == p->drawWidth && fh == p->drawHeight;
    if (p->stream->info.framesAreRGB) {
        uint32_t* native = same ? destination : p->swapped.data();
        ConvertRGBRowsToPixelFormat(p->frame.data(), native, fw, fh, 0, 0, kVideoPixelFormat);
        if (!same) ScaleNative(p, native, destination);
        return;
    }
    if (!PlanesFit(frame, fw)) return;
    qbYUVFrameRequest q;
    q.planes = frame.planes;
    q.pitches = frame.pitches;
    q.sourceWidth = fw;
    q.sourceHeight = fh;
    q.destFormat = kVideoPixelFormat;
    q.destBytesPerPixel = 4;
    if (same || p->params.smooth) {
        // A smooth scale starts from the picture at its own size.
        q.destination = same ? destination : p->swapped.data();
        q.destWidth = fw;
        q.destHeight = fh;
        q.destPitch = same ? p->drawWidth : fw;
        ConvertYUVToRGB(q);
        if (!same) ScaleNative(p, p->swapped.data(), destination);
        return;
    }
    q.destination = destination;
    q.destWidth = p->drawWidth;
    q.destHeight = p->drawHeight;
    q.destPitch = p->drawWidth;
    ScaleYUVToRGB(q);
}

void VideoServerThread(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    qbVideoPlayback* p = Playback(thread);
    SignalThreadStarted(thread);
    while (!IsThreadStopRequested(thread)) {
        if (p->paused) {
            p->videoAck = true;
            std::this_thread::sleep_for(kIdleStep);
            continue;
        }
        p->resumeRequest = false;
        p->videoBusy = true;
        qbVideoQueueNode node;
        const int32_t got = GetVideoQueueWait(thread, &p->video, &node, kQueueWaitMs, true);
        if (got == kVideoQueueStop) break;
        if (got != kVideoQueueGot) {
            p->videoBusy = false;
            if (got == kVideoQueueEnd) std::this_thread::sleep_for(kIdleStep);
            continue;
        }
        if (!node.data)
            FlushPictures(p);
        else
            HandlePicture(thread, p, node);
        Release(p, node.data);
        p->videoBusy = false;
        std::this_thread::yield();
    }
    p->videoBusy = false;
    p->videoDone = true;
    WaitThreadRelease(thread);
}

void VideoRefreshThread(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    qbVideoPlayback* p = Playback(thread);
    SignalThreadStarted(thread);
    double drainedSince = -1.0;
    while (!IsThreadStopRequested(thread)) {
        if (p->paused) {
            p->refreshAck = true;
            WaitSignalTimeout(p->refreshSignal.get(), nullptr, kRefreshWaitMs);
            continue;
        }
        const int32_t wait = RefreshRound(p);
        if (wait < 0) {
            ++p->shownCount;
            // While the window is away the pictures keep their time unseen.
            if (p->params.sink.picture && !p->stream->suspended) {
                const qbVideoSink& sink = p->params.sink;
                if (sink.pending && sink.pending(sink.user)) {
                    ++p->supersededCount;
                    LogLostPicture(p, "handed on while the one before was undrawn", p->shownPts, 0.0);
                }
                std::lock_guard lock(p->shownMutex);
                p->params.sink.picture(p->params.sink.user, p->shown.data(), p->drawWidth, p->drawHeight,
                                       p->drawWidth, p->shownPts);
            }
            continue;
        }
        if (wait == kRefreshWaitMs) PostEndWhenDrained(p, &drainedSince);
        if (wait > 0) WaitSignalTimeout(p->refreshSignal.get(), nullptr, wait);
    }
    p->refreshDone = true;
    WaitThreadRelease(thread);
}

namespace {

// The first sound packet since the start or a seek: the audio clock starts
// at the first picture's time, and the sound with silence up to its own
// (where times may jump, only a gap shorter than a jump), so that the
// pictures before it keep their time rather than play beside it. The
// bytes of silence.
int64_t SilenceBefore(qbVideoPlayback* p, double soundPts, double perSecond, double* clock) {
    const double pictures = p->reader.firstPicturePts.load();
    if (soundPts == -1.0 || std::isnan(pictures) || !(soundPts > pictures)) return 0;
    const double gap = soundPts - pictures;
    if (VideoTimesJump(p->sync, gap)) return 0;
    const int64_t frameBytes = int64_t{2} * p->stream->audioChannels;
    const auto frames = static_cast<int64_t>(std::llround(gap * perSecond / static_cast<double>(frameBytes)));
    if (frames <= 0) return 0;
    *clock = pictures;
    return frames * frameBytes;
}

}  // namespace

size_t ReadVideoAudio(void* user, uint8_t* out, size_t bytes) {
    auto* p = static_cast<qbVideoPlayback*>(user);
    if (p->paused) {
        p->audioAck = true;
        return 0;
    }
    const qbVideoSource* s = p->stream->source.get();
    const double perSecond = static_cast<double>(p->stream->audioChannels) * p->stream->audioRate * 2.0;
    size_t done = 0;
    int32_t size = 0, index = 0;
    // The clock moves on with the rest at the end: the sound decoded here
    // is not heard yet, and the master clock read meanwhile would count it.
    double clock = 0.0;
    {
        Locked lock(p->pictureMutex.get());
        size = p->sync.audioBufferSize;
        index = p->sync.audioBufferIndex;
        clock = p->sync.audioClock;
    }
    bool drained = false;
    while (done < bytes) {
        if (index < size) {
            const size_t n = std::min(bytes - done, static_cast<size_t>(size - index));
            std::memcpy(out + done, p->decoded.data() + index, n);
            index += static_cast<int32_t>(n);
            done += n;
            int32_t flushed = 2;
            p->audioFlushState.compare_exchange_strong(flushed, 0);
            continue;
        }
        if (p->silenceLeft > 0) {
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(p->silenceLeft, kVideoDecodedAudioBytes));
            std::memset(p->decoded.data(), 0, static_cast<size_t>(n));
            p->silenceLeft -= n;
            size = n;
            index = 0;
            clock += n / perSecond;
            continue;
        }
        if (p->audioPacket.data) {
            int32_t finished = 0;
            const int32_t n = s->ops->decodeAudioFrame(s->handle, p->audioPacket.data, p->decoded.data(),
                                                       kVideoDecodedAudioBytes, &finished);
            if (finished || n <= 0) {
                Release(p, p->audioPacket.data);
                p->audioPacket = qbVideoQueueNode{};
            }
            // A decoder that failed leaves the clock to the pictures until
            // it gives sound again.
            if (n < 0) p->soundLost = true;
            if (n > 0) {
                p->soundLost = false;
                size = n;
                index = 0;
                clock += n / perSecond;
            }
            continue;
        }
        qbVideoQueueNode node;
        if (GetVideoQueue(nullptr, &p->audio, &node, false, false) != kVideoQueueGot) {
            drained = VideoQueueDrained(&p->audio);
            break;
        }
        if (!node.data) {
            if (s->ops->flushAudio) s->ops->flushAudio(s->handle);
            size = index = 0;
            p->silenceLeft = 0;
            p->soundStarted = p->soundLost = false;
            p->audioFlushState = 2;
            continue;
        }
        p->audioPacket = node;
        const bool first = !p->soundStarted;
        p->soundStarted = true;
        if (first) p->silenceLeft = SilenceBefore(p, node.pts, perSecond, &clock);
        if (node.pts != -1.0 && p->silenceLeft == 0) clock = node.pts;
    }
    Locked lock(p->pictureMutex.get());
    p->sync.audioBufferSize = size;
    p->sync.audioBufferIndex = index;
    p->sync.audioClock = clock;
    p->sync.soundEnded = drained || p->soundLost;
    // The ring is locked by our caller: what it holds plus this has yet to
    // be heard.
    p->sync.audioOutputDelay = static_cast<double>(p->sound->ring.fill + done) / perSecond;
    p->sync.audioOutputStamp = VideoWallTime();
    return done;
}

void VideoAudioThread(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    qbVideoPlayback* p = Playback(thread);
    SignalThreadStarted(thread);
    bool channelStopped = false;
    while (!IsThreadStopRequested(thread)) {
        const int32_t volume = p->volumeRequest.exchange(-1);
        if (volume >= 0 && !p->soundFailed) SetStreamVolume(*p->sound, volume);
        if (p->paused) p->audioAck = true;
        if (!p->soundFailed && !channelStopped && FillStreamAudioBuffer(*p->sound) != 0) {
            // No output: the video plays silent, timed by its own clock.
            p->soundFailed = true;
            Locked lock(p->pictureMutex.get());
            p->sync.hasSound = false;
        }
        if (p->soundFailed && !p->paused) {
            qbVideoQueueNode node;
            while (GetVideoQueue(thread, &p->audio, &node, false, false) == kVideoQueueGot) {
                Release(p, node.data);
                p->audioFlushState = 0;
            }
        }
        if (p->endPosted && !channelStopped && !p->soundFailed) {
            StopStreamChannel(*p->sound);
            channelStopped = true;
        }
        std::this_thread::sleep_for(kIdleStep);
    }
    p->audioDone = true;
    WaitThreadRelease(thread);
}
