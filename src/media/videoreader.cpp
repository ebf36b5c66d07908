#include "media/videoreader.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {

void Seek(qbVideoReader* r) {
    const qbVideoSourceOps* ops = r->source->ops;
    if (ops->seek) ops->seek(r->source->handle, r->seekTarget.load());
    for (qbVideoPacketQueue* queue : {r->audio, r->video}) {
        if (!queue) continue;
        FlushVideoQueue(queue, r->source);
        PutVideoFlushMarker(queue);
    }
    r->firstPicturePts = kVideoNoTime;
    r->seekRequested = false;
    r->ended = false;
    r->errors = 0;
}

bool Full(qbVideoReader* r) {
    return (r->audio && VideoQueueBytes(r->audio) >= kVideoAudioQueueLimit) ||
           VideoQueueBytes(r->video) > kVideoPictureQueueLimit;
}

void Release(qbVideoReader* r, const qbVideoPacket& packet) {
    if (packet.packet && r->source->ops->freePacket) r->source->ops->freePacket(r->source->handle, packet.packet);
}

}  // namespace

int32_t VideoReaderStep(qbVideoReader* r) {
    const bool paused = r->paused.load();
    if (r->seekRequested.load() && !paused) {
        Seek(r);
        return kVideoReaderRead;
    }
    if (!paused && !r->ended.load() && !Full(r)) {
        qbVideoPacket packet;
        const int32_t result = r->source->ops->nextPacket(r->source->handle, &packet);
        if (result == 0) {
            r->errors = 0;
            qbVideoPacketQueue* queue = packet.isAudio ? r->audio : r->video;
            if (!packet.isAudio && packet.pts != -1.0 && std::isnan(r->firstPicturePts.load()))
                r->firstPicturePts = packet.pts;
            if (!queue || PutVideoQueue(queue, packet.packet, packet.size, packet.pts) != 0) Release(r, packet);
            return kVideoReaderRead;
        }
        // Errors other than the end are retried, but not at once and not
        // for ever: a source out of memory would spin the reader.
        if (result == -1 || ++r->errors >= kVideoReaderMaxErrors)
            r->ended = true;
        else
            return kVideoReaderIdle;
    }
    const bool ended = r->ended.load();
    if (r->audio && ended) SetVideoQueueEnd(r->audio, true);
    if (ended) SetVideoQueueEnd(r->video, true);
    if (paused) r->pauseAcknowledged = true;
    return kVideoReaderIdle;
}

void VideoReaderThread(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    auto* reader = static_cast<qbVideoReader*>(GetThreadUserData(thread));
    SignalThreadStarted(thread);
    while (!IsThreadStopRequested(thread)) {
        if (VideoReaderStep(reader) == kVideoReaderIdle)
            std::this_thread::sleep_for(std::chrono::milliseconds(kVideoReaderIdleMs));
    }
    WaitThreadRelease(thread);
}
