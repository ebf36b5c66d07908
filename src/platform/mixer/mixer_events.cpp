// Channel events on their way from the audio thread to the sound event
// queue, and the main thread's clean-up of channels the mixer finished.
#include <atomic>

#include "core/soundevents.h"
#include "platform/mixer/mixer.h"

namespace audio_mixer {

namespace {

struct EventSwitches {
    std::atomic<bool> sampleLoop{false};
    std::atomic<bool> sampleEnd{false};
    std::atomic<bool> musicEnd{false};
};

EventSwitches switches;
std::atomic<void (*)()> reapHook{nullptr};
std::atomic<void (*)(int)> streamEndedHook{nullptr};
// Written and read by the audio thread under the device lock.
bool posted = false;

bool Wanted(int32_t code) {
    switch (code) {
        case 5: return switches.sampleEnd.load(std::memory_order_relaxed);
        case 6: return switches.sampleLoop.load(std::memory_order_relaxed);
        case 7: return switches.musicEnd.load(std::memory_order_relaxed);
        default: return false;
    }
}

// The event's position: where in the whole play it happened, in ms.
uint32_t EventPosition(const qbPendingEvent& e) {
    const uint32_t before = e.loops > 1 ? static_cast<uint32_t>(e.loops - 1) * e.passMs : 0;
    return e.code == 5 ? before + e.lastLoopMs : before;
}

void Flush(qbAudioChannel& ch, int index) {
    uint32_t tail = ch.pendingTail.load(std::memory_order_relaxed);
    const uint32_t head = ch.pendingHead.load(std::memory_order_acquire);
    while (tail != head) {
        const qbPendingEvent e = ch.pending[tail % kPendingEventSlots];
        ch.pendingTail.store(++tail, std::memory_order_release);
        if (e.code == 7) {
            PushSoundEvent(7, ch.owner, 0, 0, 0, 0);
            if (auto ended = streamEndedHook.load(std::memory_order_relaxed)) ended(index);
        } else {
            PushSoundEvent(e.code, ch.owner, EventPosition(e), e.loops, e.lastLoopMs, 0);
        }
    }
}

}  // namespace

void SetEventSwitches(bool sampleLoop, bool sampleEnd, bool musicEnd) {
    switches.sampleLoop.store(sampleLoop, std::memory_order_relaxed);
    switches.sampleEnd.store(sampleEnd, std::memory_order_relaxed);
    switches.musicEnd.store(musicEnd, std::memory_order_relaxed);
}

void SetReapHook(void (*reap)()) { reapHook.store(reap, std::memory_order_relaxed); }

void SetStreamEndedHook(void (*ended)(int)) { streamEndedHook.store(ended, std::memory_order_relaxed); }

bool PushPendingEvent(qbAudioChannel& ch, int32_t code) {
    if (!Wanted(code)) return true;
    const uint32_t head = ch.pendingHead.load(std::memory_order_relaxed);
    if (head - ch.pendingTail.load(std::memory_order_acquire) >= kPendingEventSlots) {
        ch.droppedEvents.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ch.pending[head % kPendingEventSlots] =
        qbPendingEvent{code, ch.passMs, ch.loopsDone.load(std::memory_order_relaxed), ch.lastLoopMs};
    ch.pendingHead.store(head + 1, std::memory_order_release);
    posted = true;
    return true;
}

bool TakePostedEvents() {
    const bool was = posted;
    posted = false;
    return was;
}

void FlushChannelEvents() {
    const int count = ChannelCount();
    for (int i = 0; i < count; ++i) Flush(*Channel(i), i);
}

void StopAllNativeChannels() {
    const int count = ChannelCount();
    for (int i = 0; i < count; ++i) {
        qbAudioChannel& ch = *Channel(i);
        if (ch.kind.load(std::memory_order_acquire) != kChannelFinished) continue;
        // Events still waiting go out first: a reset would lose them.
        Flush(ch, i);
        ResetChannel(i);
    }
}

void ProcessAudioEvents() {
    FlushChannelEvents();
    if (auto reap = reapHook.load(std::memory_order_relaxed)) {
        reap();
    } else {
        StopAllNativeChannels();
    }
}

}  // namespace audio_mixer
