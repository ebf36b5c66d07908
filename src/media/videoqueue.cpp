#include "media/videoqueue.h"

#include <algorithm>
#include <climits>
#include <new>

namespace {

using Locked = MutexHold;

}  // namespace

bool InitVideoQueue(qbVideoPacketQueue* queue) {
    if (!queue->mutex) queue->mutex = AllocMutex();
    if (!queue->signal) queue->signal = AllocSignal();
    if (!queue->mutex || !queue->signal) return false;
    Locked lock(queue->mutex.get());
    queue->nodes.clear();
    queue->totalBytes = 0;
    queue->end = false;
    return true;
}

int PutVideoQueue(qbVideoPacketQueue* queue, void* data, int32_t size, double pts) {
    {
        Locked lock(queue->mutex.get());
        try {
            queue->nodes.push_back({data, size, pts});
        } catch (const std::bad_alloc&) {
            return -1;
        }
        queue->totalBytes = static_cast<int32_t>(
            std::min<int64_t>(int64_t{queue->totalBytes} + (size > 0 ? size : 0), INT32_MAX));
    }
    SetSignal(queue->signal.get());
    return 0;
}

int PutVideoFlushMarker(qbVideoPacketQueue* queue) { return PutVideoQueue(queue, nullptr, 0, -1.0); }

namespace {

// Takes the oldest node, under the queue's lock; false when there is none.
bool PopFront(qbVideoPacketQueue* queue, qbVideoQueueNode* out) {
    if (queue->nodes.empty()) return false;
    *out = queue->nodes.front();
    queue->nodes.pop_front();
    queue->totalBytes -= out->size > 0 ? out->size : 0;
    if (queue->totalBytes < 0) queue->totalBytes = 0;
    return true;
}

}  // namespace

int32_t GetVideoQueue(qbThread* thread, qbVideoPacketQueue* queue, qbVideoQueueNode* out, bool block, bool honourEnd) {
    Locked lock(queue->mutex.get());
    for (;;) {
        if (thread && IsThreadStopRequested(thread)) return kVideoQueueStop;
        if (PopFront(queue, out)) return kVideoQueueGot;
        if (!block) return kVideoQueueEmpty;
        if (honourEnd && queue->end) return kVideoQueueEnd;
        if (WaitSignal(queue->signal.get(), queue->mutex.get()) != 0) return kVideoQueueStop;
    }
}

int32_t GetVideoQueueWait(qbThread* thread, qbVideoPacketQueue* queue, qbVideoQueueNode* out, int32_t milliseconds,
                          bool honourEnd) {
    Locked lock(queue->mutex.get());
    for (bool waited = false;; waited = true) {
        if (thread && IsThreadStopRequested(thread)) return kVideoQueueStop;
        if (PopFront(queue, out)) return kVideoQueueGot;
        if (honourEnd && queue->end) return kVideoQueueEnd;
        if (waited || WaitSignalTimeout(queue->signal.get(), queue->mutex.get(), milliseconds) != 0)
            return kVideoQueueEmpty;
    }
}

bool VideoQueueEmpty(qbVideoPacketQueue* queue) {
    Locked lock(queue->mutex.get());
    return queue->nodes.empty();
}

bool VideoQueueDrained(qbVideoPacketQueue* queue) {
    Locked lock(queue->mutex.get());
    return queue->nodes.empty() && queue->end;
}

double VideoQueueFirstPts(qbVideoPacketQueue* queue) {
    Locked lock(queue->mutex.get());
    return queue->nodes.empty() || !queue->nodes.front().data ? -1.0 : queue->nodes.front().pts;
}

void FlushVideoQueue(qbVideoPacketQueue* queue, const qbVideoSource* source) {
    if (!queue->mutex) return;
    Locked lock(queue->mutex.get());
    for (const qbVideoQueueNode& node : queue->nodes)
        if (node.data && source && source->ops && source->ops->freePacket) source->ops->freePacket(source->handle, node.data);
    queue->nodes.clear();
    queue->totalBytes = 0;
    queue->end = false;
}

int32_t VideoQueueBytes(qbVideoPacketQueue* queue) {
    Locked lock(queue->mutex.get());
    return queue->totalBytes;
}

void SetVideoQueueEnd(qbVideoPacketQueue* queue, bool end) {
    {
        Locked lock(queue->mutex.get());
        queue->end = end;
    }
    SetSignal(queue->signal.get());
}

void WakeVideoQueue(qbVideoPacketQueue* queue) { SetSignal(queue->signal.get()); }
