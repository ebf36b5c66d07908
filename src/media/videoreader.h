// A playing video's reader: fills the audio and video packet queues from
// the source, carries out seeks the controls ask for, and stands still
// while paused or while the queues are full.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

#include "core/threads.h"
#include "media/videoqueue.h"
#include "media/videosource.h"

// Below this many bytes of sound the reader reads on; above this many of
// pictures it waits.
constexpr int32_t kVideoAudioQueueLimit = 81921;
constexpr int32_t kVideoPictureQueueLimit = 1310720;
// A source that keeps failing is given this many tries, kVideoReaderIdleMs
// apart, before its stream counts as ended.
constexpr int32_t kVideoReaderMaxErrors = 50;
constexpr int32_t kVideoReaderIdleMs = 10;

constexpr double kVideoNoTime = std::numeric_limits<double>::quiet_NaN();

struct qbVideoReader {
    qbVideoSource* source = nullptr;
    qbVideoPacketQueue* audio = nullptr;  // null for a stream without sound
    qbVideoPacketQueue* video = nullptr;
    std::atomic<bool> paused{false};
    std::atomic<bool> pauseAcknowledged{false};
    std::atomic<bool> seekRequested{false};
    std::atomic<int64_t> seekTarget{0};
    std::atomic<bool> ended{false};  // the end of the file was reached
    // The time of the first picture packet queued since the start or the
    // last seek; NaN until one is (the sound starts with silence up to it).
    std::atomic<double> firstPicturePts{kVideoNoTime};
    int32_t errors = 0;  // the reader thread's own
};

enum : int32_t { kVideoReaderRead = 0, kVideoReaderIdle = 1 };
// One round of the reader: a seek, a packet read, or (queues full, paused or
// ended) the end flags and pause acknowledgement set; kVideoReaderIdle asks
// the caller to sleep before the next round.
int32_t VideoReaderStep(qbVideoReader* reader);
// The thread body: rounds until a stop request, sleeping when idle.
void VideoReaderThread(void* arg);
