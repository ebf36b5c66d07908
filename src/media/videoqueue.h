// The packet queues between a video's reader thread and the threads that
// decode its pictures and sound. A node without data is a flush marker: the
// consumer's cue that everything before a seek has been dropped.
#pragma once

#include <cstdint>
#include <deque>

#include "core/threads.h"
#include "media/videosource.h"

struct qbVideoQueueNode {
    void* data = nullptr;  // the source's packet; null for a flush marker
    int32_t size = 0;
    double pts = -1.0;
};

struct qbVideoPacketQueue {
    std::deque<qbVideoQueueNode> nodes;
    int32_t totalBytes = 0;
    qbMutexPtr mutex;
    qbSignalPtr signal;
    bool end = false;  // the reader reached the end of the file
};

// Empties the queue, creating its mutex and signal when missing; false when
// they cannot be had.
bool InitVideoQueue(qbVideoPacketQueue* queue);
// 0, or -1 when the node cannot be allocated.
int PutVideoQueue(qbVideoPacketQueue* queue, void* data, int32_t size, double pts);
int PutVideoFlushMarker(qbVideoPacketQueue* queue);

enum : int32_t { kVideoQueueGot = 1, kVideoQueueEmpty = 0, kVideoQueueStop = -1, kVideoQueueEnd = -2 };
// Takes the first node. Without blocking an empty queue gives
// kVideoQueueEmpty; blocking waits for a node, and with honourEnd gives
// kVideoQueueEnd once the end flag is set and the queue is empty. A stop
// request of `thread` (which may be null) gives kVideoQueueStop.
int32_t GetVideoQueue(qbThread* thread, qbVideoPacketQueue* queue, qbVideoQueueNode* out, bool block, bool honourEnd);
// The same, but an empty queue is waited on for at most `milliseconds`
// (then kVideoQueueEmpty), so that the caller can look at its own flags.
int32_t GetVideoQueueWait(qbThread* thread, qbVideoPacketQueue* queue, qbVideoQueueNode* out, int32_t milliseconds,
                          bool honourEnd);
bool VideoQueueEmpty(qbVideoPacketQueue* queue);
// Empty with its end flag set: nothing more comes until a seek.
bool VideoQueueDrained(qbVideoPacketQueue* queue);
// The first node's time; -1 when there is none (or it is a flush marker).
double VideoQueueFirstPts(qbVideoPacketQueue* queue);
// Releases every packet through the source and clears the queue and its end flag.
void FlushVideoQueue(qbVideoPacketQueue* queue, const qbVideoSource* source);
int32_t VideoQueueBytes(qbVideoPacketQueue* queue);
// Sets the end flag and wakes a waiting consumer.
void SetVideoQueueEnd(qbVideoPacketQueue* queue, bool end);
// Wakes a waiting consumer (to see a stop request).
void WakeVideoQueue(qbVideoPacketQueue* queue);
