// Starting and stopping a stream's threads, and the controls that run on
// the caller's thread.
#include "media/videoplayback.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "core/errcodes.h"
#include "imaging/scale.h"
#include "platform/platform_media.h"

namespace {

constexpr size_t kThreadStack = 200000;
constexpr size_t kRefreshStack = 16384;
constexpr int kAudioPriority = 100;

using Locked = MutexHold;

// A thread that has ended answers every question: waiting for it would hang.
template <class Done>
void WaitBounded(Done done) {
    for (int32_t waited = 0; !done() && waited < kVideoControlWaitMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint32_t ClampMs(double seconds) {
    const double ms = seconds * 1000.0;
    if (!(ms > 0.0)) return 0;
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

void Release(qbVideoPlayback* p, void* packet) {
    const qbVideoSource* s = p->stream->source.get();
    if (packet && s->ops->freePacket) s->ops->freePacket(s->handle, packet);
}

void Discard(qbVideoPlayback* p) {
    if (p->params.sink.discard) p->params.sink.discard(p->params.sink.user);
}

qbVideoSeekBasis SeekBasis(const qbVideoPlayback* p) {
    const qbOwnVideoStream& s = *p->stream;
    qbVideoSeekBasis basis;
    basis.seekByBytes = s.info.seekByBytes != 0;
    basis.ended = p->endPosted.load();
    basis.fileSize = s.info.fileSize;
    basis.duration = s.duration;
    basis.byteRate = s.info.byteRate;
    return basis;
}

uint32_t SeekTarget(qbVideoPlayback* p, uint32_t position) {
    Locked lock(p->pictureMutex.get());
    return VideoPositionToSeekTarget(p->sync, SeekBasis(p), position);
}

void StopThreads(qbVideoPlayback* p) {
    for (qbThreadPtr* t : {&p->refreshThread, &p->audioThread, &p->videoThread, &p->readerThread})
        if (*t) RequestThreadStop(t->get());
    // Every wait a thread may be in ends on one of these.
    if (p->refreshSignal) SetSignal(p->refreshSignal.get());
    if (p->pictureSignal) SetSignal(p->pictureSignal.get());
    if (p->video.signal) WakeVideoQueue(&p->video);
    if (p->audio.signal) WakeVideoQueue(&p->audio);
    for (qbThreadPtr* t : {&p->refreshThread, &p->audioThread, &p->videoThread, &p->readerThread})
        if (*t) StopThread(*t);
}

// The threads stand still: video, refresh, reader and sound all parked.
void Park(qbVideoPlayback* p) {
    // What the output holds already waits for the resume.
    if (p->sound) p->sound->ring.paused = true;
    p->videoAck = p->refreshAck = p->audioAck = false;
    p->reader.pauseAcknowledged = false;
    p->paused = true;
    p->reader.paused = true;
    {
        Locked lock(p->pictureMutex.get());
        p->sync.paused = true;
    }
    WaitBounded([p] {
        return (p->videoAck || p->videoDone) && (p->refreshAck || p->refreshDone) &&
               (p->reader.pauseAcknowledged || !p->readerThread) && (p->audioAck || p->audioDone || !p->audioThread);
    });
}

bool ResizeBuffers(qbVideoPlayback* p) {
    const qbOwnVideoStream& s = *p->stream;
    if (!VideoFrameBufferBytes(s.frameWidth, s.frameHeight) || !VideoFrameBufferBytes(p->drawWidth, p->drawHeight))
        return false;
    const size_t frame = static_cast<size_t>(s.frameWidth) * static_cast<size_t>(s.frameHeight);
    const size_t draw = static_cast<size_t>(p->drawWidth) * static_cast<size_t>(p->drawHeight);
    try {
        SizeSourcePicture(p);
        p->swapped.assign(draw == frame ? 0 : frame, 0);
        for (qbVideoPicture& slot : p->slots) slot.pixels.assign(draw, 0);
        if (p->withSound) p->decoded.assign(kVideoDecodedAudioBytes, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void FreeBuffers(qbVideoPlayback* p) {
    for (qbVideoPicture& slot : p->slots) std::vector<uint32_t>().swap(slot.pixels);
    std::vector<uint32_t>().swap(p->frame);
    std::vector<uint32_t>().swap(p->swapped);
    std::vector<uint8_t>().swap(p->decoded);
}

// Shows the first picture at the source's present place through the sink.
void ShowNextPicture(qbVideoPlayback* p, double* shownPts) {
    const qbVideoSource* s = p->stream->source.get();
    for (int32_t errors = 0; errors < kVideoReaderMaxErrors;) {
        qbVideoPacket packet;
        const int32_t got = s->ops->nextPacket(s->handle, &packet);
        if (got == -1) return;
        if (got < 0) {
            ++errors;
            continue;
        }
        qbVideoFrame frame = SourceFrame(p);
        const bool picture = !packet.isAudio && s->ops->decodeVideoFrame(s->handle, packet.packet, &frame) == 1;
        if (picture) {
            // YUV planes live as long as their packet.
            std::lock_guard lock(p->shownMutex);
            p->shown.resize(p->slots[0].pixels.size());
            ConvertVideoPicture(p, frame, p->shown.data());
        }
        Release(p, packet.packet);
        if (!picture) continue;
        const double pts = frame.pts != -1.0 ? frame.pts : packet.pts != -1.0 ? packet.pts : *shownPts;
        std::lock_guard lock(p->shownMutex);
        *shownPts = pts;
        p->shownPts = pts;
        if (p->params.sink.picture && !p->stream->suspended)
            p->params.sink.picture(p->params.sink.user, p->shown.data(), p->drawWidth, p->drawHeight, p->drawWidth, pts);
        return;
    }
}

// Seeks a paused or ended stream at once: its threads are parked.
int SeekNow(qbVideoPlayback* p, uint32_t position) {
    const bool ended = p->endPosted.load();
    const uint32_t target = SeekTarget(p, position);
    if (!p->paused) Park(p);
    const qbVideoSource* s = p->stream->source.get();
    FlushVideoQueue(&p->video, s);
    if (p->withSound) FlushVideoQueue(&p->audio, s);
    if (p->audioPacket.data) Release(p, p->audioPacket.data);
    p->audioPacket = qbVideoQueueNode{};
    if (p->sound) {
        // The sound before the new place is not heard any more.
        std::lock_guard lock(p->sound->ring.mutex);
        p->sound->ring.fill = 0;
    }
    if (int err = SeekVideoSource(s, target)) return err;
    double pts = position / 1000.0;
    ShowNextPicture(p, &pts);
    {
        Locked lock(p->pictureMutex.get());
        ++p->pictureEpoch;
        p->queued = p->readIndex = p->writeIndex = 0;
        p->sync.currentPts = pts;
        p->sync.currentPtsDrift = pts - VideoWallTime();
        p->sync.audioBufferSize = p->sync.audioBufferIndex = 0;
        p->sync.audioClock = pts;
        p->sync.soundEnded = false;
        SetSignal(p->pictureSignal.get());
    }
    PutVideoFlushMarker(&p->video);
    if (p->withSound) PutVideoFlushMarker(&p->audio);
    p->reader.errors = 0;
    p->reader.firstPicturePts = kVideoNoTime;
    if (ended) {
        // An ended stream stays ended; its next start begins here.
        p->finalPosition = position;
        p->hasPendingSeek = true;
        p->pendingSeek = position;
        return 0;
    }
    p->reader.ended = false;
    p->pausedSeek = true;
    p->pausedSeekPosition = position;
    return 0;
}

uint32_t Position(qbVideoPlayback* p) {
    if (!p->playing) return p->hasPendingSeek ? p->pendingSeek : p->stoppedPosition;
    if (p->pausedSeek) return p->pausedSeekPosition;
    if (p->endPosted) return p->finalPosition;
    Locked lock(p->pictureMutex.get());
    return ClampMs(GetMasterClock(p->sync));
}

// The engine's own record of one playback, for measuring it from outside
// (QB_VIDEO_STATS); a script never sees it.
void ReportStats(const qbVideoPlayback* p) {
    if (p->statsLevel <= 0) return;
    std::fprintf(stderr,
                 "video stats: shown %d dropped %d (late %d) superseded %d worst-late %.1f ms off-sound %.1f ms\n",
                 p->shownCount.load(), p->droppedCount.load(), p->lateCount.load(), p->supersededCount.load(),
                 static_cast<double>(p->worstLateMicros.load()) / 1000.0, p->worstOffSound.load() * 1000.0);
}

void StopPlayback(qbVideoPlayback* p) {
    if (!p->playing) return;
    p->stoppedPosition = Position(p);
    StopThreads(p);
    ReportStats(p);
    FreeAudioStreamBuffer(p->sound);
    if (p->audioPacket.data) Release(p, p->audioPacket.data);
    p->audioPacket = qbVideoQueueNode{};
    Discard(p);
    const qbVideoSource* s = p->stream->source.get();
    FlushVideoQueue(&p->video, s);
    FlushVideoQueue(&p->audio, s);
    // A source that cannot go back to its start is tried again by the next
    // start or grab.
    if (SeekVideoSource(s, 0) != 0) p->stream->grabbed = -1;
    FreeBuffers(p);
    p->playing = false;
    p->paused = false;
    p->pausedSeek = false;
    p->reader.ended = false;
}

}  // namespace

void SizeSourcePicture(qbVideoPlayback* p) {
    const qbOwnVideoStream& s = *p->stream;
    p->frame.assign(s.info.framesAreRGB ? ConvertedPictureWords(s.frameWidth, s.frameHeight) : 0, 0);
}

qbVideoFrame SourceFrame(qbVideoPlayback* p) {
    qbVideoFrame frame;
    if (!p->frame.empty()) {
        frame.rgb = p->frame.data();
        frame.rgbWords = p->frame.size();
    }
    return frame;
}

void VideoPlaybackDeleter::operator()(qbVideoPlayback* playback) const {
    if (!playback) return;
    StopPlayback(playback);
    delete playback;
}

int StartVideoPlayback(qbOwnVideoStream* stream, const qbVideoPlayParams& params) {
    if (!stream || !stream->source || !stream->source->ops || !stream->source->ops->nextPacket ||
        !stream->source->ops->decodeVideoFrame)
        return ERR_WRONGUSAGE;
    if (stream->playback) StopVideoStream(stream);
    if (!stream->playback) {
        stream->playback.reset(new (std::nothrow) qbVideoPlayback);
        if (!stream->playback) return ERR_MEM;
        stream->playback->stream = stream;
    }
    qbVideoPlayback* p = stream->playback.get();
    p->params = params;
    p->drawWidth = params.width > 0 ? params.width : stream->frameWidth;
    p->drawHeight = params.height > 0 ? params.height : stream->frameHeight;
    p->withSound = params.sound && stream->audioChannels > 0 && stream->audioChannels <= 2 && stream->audioRate > 0 &&
                   stream->source->ops->decodeAudioFrame;
    if (!p->pictureMutex) p->pictureMutex = AllocMutex();
    if (!p->pictureSignal) p->pictureSignal = AllocSignal();
    if (!p->refreshSignal) p->refreshSignal = AllocSignal();
    if (!p->pictureMutex || !p->pictureSignal || !p->refreshSignal) return ERR_SEMAPHORE;
    if (!InitVideoQueue(&p->video) || !InitVideoQueue(&p->audio)) return ERR_SEMAPHORE;
    if (!ResizeBuffers(p)) {
        FreeBuffers(p);
        return ERR_MEM;
    }

    const qbVideoSource* s = stream->source.get();
    // Frame grabs moved the source on: playback starts at the start, or
    // goes on from where a source that cannot seek stands.
    if (stream->grabbed != 0 && SeekVideoSource(s, 0) == 0) stream->grabbed = 0;
    double start = 0.0;
    if (p->hasPendingSeek) {
        p->hasPendingSeek = false;
        const uint32_t target = SeekTarget(p, p->pendingSeek);
        if (int err = SeekVideoSource(s, target)) {
            FreeBuffers(p);
            return err;
        }
        start = p->pendingSeek / 1000.0;
    }

    const double now = VideoWallTime();
    p->sync = qbVideoSync{};
    ResetVideoSync(&p->sync, now);
    p->sync.frameDuration = stream->info.frameDuration;
    p->sync.timesMayJump = s->timesMayJump;
    p->sync.hasSound = p->withSound;
    p->sync.audioChannels = stream->audioChannels;
    p->sync.audioRate = stream->audioRate;
    p->sync.currentPts = p->sync.videoClock = p->sync.audioClock = start;
    p->sync.currentPtsDrift = start - now;
    p->queued = p->readIndex = p->writeIndex = 0;
    p->lastShown = now;
    p->paused = p->videoAck = p->refreshAck = p->audioAck = p->resumeRequest = p->videoBusy = false;
    p->videoDone = p->refreshDone = p->audioDone = false;
    p->videoFlushState = p->audioFlushState = 0;
    p->endPosted = false;
    p->finalPosition = 0;
    p->pausedSeek = false;
    p->soundFailed = false;
    p->volumeRequest = -1;
    p->shownCount = p->droppedCount = p->lateCount = p->supersededCount = 0;
    p->worstLateMicros = 0;
    p->worstOffSound = 0.0;
    if (const char* stats = std::getenv("QB_VIDEO_STATS")) p->statsLevel = std::atoi(stats);
    p->audioPacket = qbVideoQueueNode{};
    p->reader.source = stream->source.get();
    p->reader.audio = p->withSound ? &p->audio : nullptr;
    p->reader.video = &p->video;
    p->reader.paused = p->reader.pauseAcknowledged = p->reader.seekRequested = p->reader.ended = false;
    p->reader.errors = 0;
    p->reader.firstPicturePts = kVideoNoTime;
    p->soundStarted = p->soundLost = false;
    p->silenceLeft = 0;

    if (p->withSound) {
        if (AllocAudioStreamBuffer(stream->audioRate, stream->audioChannels, params.video, params.channel,
                                   params.volume, ReadVideoAudio, p, &p->sound) != 0) {
            p->withSound = false;
            p->sync.hasSound = false;
            p->reader.audio = nullptr;
        }
    }
    p->playing = true;
    p->videoThread = StartThread("Quenbrook video server", VideoServerThread, p, 0, kThreadStack, 0);
    if (p->videoThread && p->withSound)
        p->audioThread = StartThread("Quenbrook audio server", VideoAudioThread, p, 0, kThreadStack, kAudioPriority);
    if (p->videoThread && (p->audioThread || !p->withSound))
        p->readerThread = StartThread("Quenbrook video decoder", VideoReaderThread, &p->reader, 0, kThreadStack, 0);
    if (p->readerThread)
        p->refreshThread = StartThread("Quenbrook video refresh", VideoRefreshThread, p, 0, kRefreshStack, 0);
    if (!p->refreshThread) {
        StopPlayback(p);
        return ERR_THREAD;
    }
    return 0;
}

void StopVideoStream(qbOwnVideoStream* stream) {
    if (stream && stream->playback) StopPlayback(stream->playback.get());
}

void PauseVideoStream(qbOwnVideoStream* stream) {
    qbVideoPlayback* p = stream ? stream->playback.get() : nullptr;
    if (!p || !p->playing || p->paused) return;
    Park(p);
    Discard(p);
}

void ResumeVideoStream(qbOwnVideoStream* stream) {
    qbVideoPlayback* p = stream ? stream->playback.get() : nullptr;
    if (!p || !p->playing || !p->paused) return;
    {
        Locked lock(p->pictureMutex.get());
        const double now = VideoWallTime();
        // The pictures keep their places against each other; only the
        // time that stood still is added.
        const double shift = now + p->sync.currentPtsDrift - p->sync.currentPts;
        p->sync.frameTimer += shift;
        for (int32_t i = 0; i < p->queued; ++i) p->slots[(p->readIndex + i) % 2].target += shift;
        p->sync.currentPtsDrift = p->sync.currentPts - now;
        p->sync.paused = false;
        p->lastShown = now;
    }
    p->pausedSeek = false;
    p->resumeRequest = true;
    p->reader.paused = false;
    p->paused = false;
    if (p->sound) p->sound->ring.paused = false;
    WaitBounded([p] { return !p->resumeRequest || p->videoDone; });
}

int SeekVideoStream(qbOwnVideoStream* stream, uint32_t position) {
    if (!stream) return ERR_WRONGUSAGE;
    qbVideoPlayback* p = stream->playback.get();
    if (!p || !p->playing) {
        if (!stream->playback) {
            stream->playback.reset(new (std::nothrow) qbVideoPlayback);
            if (!stream->playback) return ERR_MEM;
            stream->playback->stream = stream;
        }
        stream->playback->hasPendingSeek = true;
        stream->playback->pendingSeek = position;
        stream->playback->stoppedPosition = position;
        return 0;
    }
    if (p->paused || p->endPosted) return SeekNow(p, position);
    // The previous seek first completes on both sides, so that one flush
    // never swallows the pictures of the next.
    WaitBounded([p] {
        return (p->videoFlushState == 0 && p->audioFlushState == 0) || p->reader.ended || p->videoDone;
    });
    const uint32_t target = SeekTarget(p, position);
    p->videoFlushState = 1;
    if (p->withSound && !p->soundFailed) p->audioFlushState = 1;
    p->reader.seekTarget = target;
    p->reader.seekRequested = true;
    Discard(p);
    return 0;
}

uint32_t GetVideoStreamPosition(qbOwnVideoStream* stream) {
    return stream && stream->playback ? Position(stream->playback.get()) : 0;
}

bool VideoStreamPlaying(const qbOwnVideoStream* stream) {
    return stream && stream->playback && stream->playback->playing;
}

bool VideoStreamEnded(const qbOwnVideoStream* stream) {
    return VideoStreamPlaying(stream) && stream->playback->endPosted;
}

void SetVideoStreamVolume(qbOwnVideoStream* stream, int32_t volume) {
    qbVideoPlayback* p = stream ? stream->playback.get() : nullptr;
    if (!p) return;
    p->params.volume = std::clamp(volume, 0, 64);
    if (p->playing && p->withSound) p->volumeRequest = p->params.volume;
}

void RepresentVideoPicture(qbOwnVideoStream* stream) {
    qbVideoPlayback* p = stream ? stream->playback.get() : nullptr;
    if (!p || !p->playing || !p->params.sink.picture || stream->suspended) return;
    std::lock_guard lock(p->shownMutex);
    if (p->shown.empty()) return;
    p->params.sink.picture(p->params.sink.user, p->shown.data(), p->drawWidth, p->drawHeight, p->drawWidth,
                           p->shownPts);
}

int SetVideoStreamGeometry(qbOwnVideoStream* stream, int32_t x, int32_t y, int32_t width, int32_t height, bool smooth,
                           void (*move)(void* user), void* user) {
    qbVideoPlayback* p = stream ? stream->playback.get() : nullptr;
    if (!p || !p->playing) {
        if (move) move(user);
        return 0;
    }
    const bool wasPaused = p->paused;
    if (!wasPaused) Park(p);
    Discard(p);
    if (move) move(user);
    p->params.x = x;
    p->params.y = y;
    p->params.smooth = smooth;
    int err = 0;
    if (width > 0 && height > 0 && (width != p->drawWidth || height != p->drawHeight)) {
        const int32_t oldWidth = p->drawWidth, oldHeight = p->drawHeight;
        std::vector<uint32_t> snapshot;
        {
            std::lock_guard lock(p->shownMutex);
            snapshot.swap(p->shown);
        }
        Locked lock(p->pictureMutex.get());
        // Queued pictures have the old size: they go.
        p->queued = p->readIndex = p->writeIndex = 0;
        p->drawWidth = width;
        p->drawHeight = height;
        std::vector<qbVideoPicture> slots(2);
        std::vector<uint32_t> swapped, shown;
        const size_t frame = static_cast<size_t>(stream->frameWidth) * static_cast<size_t>(stream->frameHeight);
        const size_t draw = static_cast<size_t>(width) * static_cast<size_t>(height);
        try {
            if (!VideoFrameBufferBytes(width, height)) throw std::bad_alloc();
            for (qbVideoPicture& slot : slots) slot.pixels.assign(draw, 0);
            swapped.assign(draw == frame ? 0 : frame, 0);
            if (!snapshot.empty()) shown.assign(draw, 0);
        } catch (const std::bad_alloc&) {
            p->drawWidth = oldWidth;
            p->drawHeight = oldHeight;
            err = ERR_MEM;
        }
        if (!err) {
            for (int i = 0; i < 2; ++i) p->slots[i].pixels.swap(slots[static_cast<size_t>(i)].pixels);
            p->swapped.swap(swapped);
            if (!snapshot.empty()) {
                // The shown picture, rescaled, stands until the next one.
                ScaleRequest req;
                req.srcPixels = snapshot.data();
                req.srcWidth = oldWidth;
                req.srcHeight = oldHeight;
                req.srcRowLength = oldWidth;
                req.dstPixels = shown.data();
                req.dstWidth = width;
                req.dstHeight = height;
                req.dstRowLength = width;
                req.smooth = smooth;
                ScalePixelBuffer(req);
                snapshot.swap(shown);
            }
        }
        std::lock_guard shownLock(p->shownMutex);
        p->shown.swap(snapshot);
    }
    if (wasPaused || p->endPosted) RepresentVideoPicture(stream);
    if (!wasPaused) ResumeVideoStream(stream);
    return err;
}
