// The output channel record that the sound core and the mixer share, and the
// sources a channel plays from. The mixer renders on the audio thread; the
// sound core changes channels on the main thread.
//
// Sharing rules: words both threads touch while a channel plays are atomics.
// Everything else (the source, its format, loops wanted, the end frame, the
// event words) is written by the main thread only while the device lock is
// held or while the channel is not in a playing kind, and read by the audio
// thread only while it holds the device lock (the callback always does).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/argapi.h"

enum qbChannelKind : int32_t {
    kChannelFree = 0,
    kChannelPrepared = 1,  // set up, waiting for the release that starts it
    kChannelSample = 2,
    kChannelModule = 3,
    kChannelStream = 4,
    kChannelVideo = 5,
    kChannelMusic = 6,       // allocated, before it becomes 3 or 4
    kChannelVideoAlloc = 7,  // allocated for video
    kChannelRingPlaceholder = 8,
    // What a channel becomes when the mixer is done with it; the kind it had
    // stays in kindBeforeFinishing. Not 8, which searches by stream skip.
    kChannelFinished = 9,
};

// Internal PCM codes: 0 u8 mono, 1 u8 stereo, 2 s8 mono, 3 s8 stereo, 4 s16
// mono, 5 s16 stereo. 16-bit data is big-endian when the stream says so.
enum : int32_t { kPCMCodeCount = 6 };

// What a channel's converter reads: the data's layout and its native rate.
struct qbAudioStream {
    int32_t pcmCode = 0;
    uint32_t flags = 0;  // kPCMBigEndian, kPCMSigned
    int32_t rate = 0;
    uint32_t frames = 0;
};

// The double buffer a feeder thread keeps for a streamed music. The feeder
// fills a half and marks it ready; the audio thread plays the ready half,
// marks it empty and asks for a refill. A half that is not ready plays as
// silence: the audio thread never waits and never plays a half twice.
struct qbStreamFeed {
    struct Half {
        const uint8_t* pcm = nullptr;
        uint32_t frames = 0;
        std::atomic<bool> ready{false};
    };
    std::array<Half, 2> halves;
    int playing = 0;           // audio thread only
    uint32_t playedFrames = 0; // audio thread only: frames used of the playing half
    // 0 running, 1 the feeder has queued its last half, 2 everything played.
    std::atomic<int32_t> endState{0};
    // Set by the audio thread when a half was used up; cleared once the
    // feeder was signalled (the signal waits for a free mutex).
    std::atomic<bool> refill{false};
    std::mutex mutex;
    std::condition_variable cond;
    bool refillRequested = false;  // under mutex: the feeder has work
};

// Called on the audio thread: marks the feed as wanting data and signals its
// feeder, only when its mutex is free. Whether it did.
bool TrySignalStreamRefill(qbStreamFeed* feed);

// A video's sound: a byte queue that the video engine appends to under its
// mutex. The audio thread only try-locks it.
struct qbVideoAudioQueue {
    std::mutex mutex;
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t fill = 0;
    // The video is paused: the output plays silence and keeps the bytes for
    // the resume.
    std::atomic<bool> paused{false};
    // Bytes the output has taken since the ring was made: how much of the
    // sound has been heard (a pull that found the ring locked took none).
    std::atomic<uint64_t> played{0};
};

enum : int32_t { kNoPendingEvent = -1 };

// One event the audio thread hands over: the code (5 sample end, 6 sample
// loop, 7 music end) and the channel's three event words at that moment.
struct qbPendingEvent {
    int32_t code = kNoPendingEvent;
    uint32_t passMs = 0;
    int32_t loops = 0;
    uint32_t lastLoopMs = 0;
};

// Events wait in a small ring per channel, written by the audio thread and
// emptied by the main thread, so that loops that follow each other within
// one callback are each reported.
constexpr size_t kPendingEventSlots = 16;

struct qbVoiceState;

struct qbAudioChannel {
    std::atomic<int32_t> kind{kChannelFree};
    std::atomic<int32_t> kindBeforeFinishing{kChannelFree};
    ObjectID owner;

    // Sample playback (kind 2): loops run from 1 to loopsWanted; the last
    // loop stops at endFrame, earlier ones at the data's length.
    const void* data = nullptr;
    int32_t loopsWanted = 1;
    uint32_t endFrame = 0;
    std::atomic<int32_t> loopsDone{1};
    std::atomic<uint32_t> position{0};
    // Set by a start and by a wrap to position 0; the next render clears
    // them and takes the start time of the pass (steady clock, ns).
    std::atomic<bool> loopFlag{false};
    std::atomic<bool> started{false};
    std::atomic<int64_t> startNanos{0};
    std::atomic<bool> finished{false};

    // The event words: the length of one pass and of the last loop.
    uint32_t passMs = 0;
    uint32_t lastLoopMs = 0;

    std::array<qbPendingEvent, kPendingEventSlots> pending;
    std::atomic<uint32_t> pendingHead{0};  // next slot the audio thread writes
    std::atomic<uint32_t> pendingTail{0};  // next slot the main thread reads
    std::atomic<uint32_t> droppedEvents{0};

    // The sources of the other kinds.
    void* module = nullptr;                // kind 3, handed to the module renderer
    qbStreamFeed* feed = nullptr;          // kind 4
    qbVideoAudioQueue* video = nullptr;    // kind 5

    // Volume 0..64, pan 0..255, the source rate: changed at any time.
    std::atomic<int32_t> volume{64};
    std::atomic<int32_t> pan{128};
    std::atomic<int32_t> rate{0};

    // The converter: the format it reads and its resampling state.
    std::unique_ptr<qbVoiceState> voice;
    // Module and video channels convert through this buffer.
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferSize = 0;
};
