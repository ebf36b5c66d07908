// The audio adapter's data callback over the channel records. A timed
// sample ends at its end frame on the last loop, as on the mixer's path.
#include "sound/adapterchannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/soundevents.h"
#include "platform/mixer/mixer.h"
#include "sound/soundevents.h"

namespace {

void Event(qbAudioChannel& ch, int type, int32_t loops) {
    const uint32_t before = loops > 1 ? static_cast<uint32_t>(loops - 1) * ch.passMs : 0;
    const uint32_t position = type == kSoundEventSampleEnd ? before + ch.lastLoopMs : before;
    PushSwitchedSoundEvent(type, ch.owner, position, loops, ch.lastLoopMs, 1);
}

int32_t Sample(qbAudioChannel& ch, qbAdapterChannel& x, uint8_t* out, int32_t frames) {
    if (ch.finished.load(std::memory_order_relaxed)) return 0;
    if (ch.started.exchange(false, std::memory_order_relaxed)) ch.startNanos.store(AudioNowNanos());
    const size_t frameBytes = static_cast<size_t>(x.bytesPerFrame);
    uint32_t pos = ch.position.load(std::memory_order_relaxed);
    int32_t written = 0;
    while (written < frames) {
        const int32_t loop = ch.loopsDone.load(std::memory_order_relaxed);
        const uint32_t end = loop >= ch.loopsWanted ? std::min(ch.endFrame, x.frames) : x.frames;
        const uint32_t n = std::min(static_cast<uint32_t>(frames - written), end > pos ? end - pos : 0);
        std::memcpy(out + static_cast<size_t>(written) * frameBytes,
                    static_cast<const uint8_t*>(x.pcm) + size_t{pos} * frameBytes, size_t{n} * frameBytes);
        pos += n;
        written += static_cast<int32_t>(n);
        if (pos < end) break;
        if (loop >= ch.loopsWanted) {
            Event(ch, kSoundEventSampleEnd, loop);
            x.endNanos.store(AudioNowNanos());
            ch.finished.store(true, std::memory_order_release);
            break;
        }
        pos = 0;
        ch.loopsDone.store(loop + 1, std::memory_order_relaxed);
        Event(ch, kSoundEventSampleLoop, loop + 1);
    }
    ch.position.store(pos, std::memory_order_relaxed);
    return written;
}

// A half the feeder has not marked ready plays as silence rather than
// repeating the last one.
int32_t Stream(qbAudioChannel& ch, qbAdapterChannel& x, uint8_t* out, int32_t frames) {
    qbStreamFeed* feed = ch.feed;
    const size_t frameBytes = static_cast<size_t>(x.bytesPerFrame);
    if (!feed || ch.finished.load(std::memory_order_relaxed)) return 0;
    int32_t written = 0;
    while (written < frames) {
        qbStreamFeed::Half& half = feed->halves[static_cast<size_t>(feed->playing)];
        if (!half.ready.load(std::memory_order_acquire)) {
            if (feed->endState.load(std::memory_order_acquire) == 1) {
                feed->endState.store(2, std::memory_order_release);
                Event(ch, kSoundEventMusicEnd, 0);
                x.endNanos.store(AudioNowNanos());
                ch.finished.store(true, std::memory_order_release);
                return written;
            }
            std::memset(out + static_cast<size_t>(written) * frameBytes, 0,
                        static_cast<size_t>(frames - written) * frameBytes);
            return frames;
        }
        const uint32_t n = std::min(static_cast<uint32_t>(frames - written), half.frames - feed->playedFrames);
        std::memcpy(out + static_cast<size_t>(written) * frameBytes, half.pcm + size_t{feed->playedFrames} * frameBytes,
                    size_t{n} * frameBytes);
        feed->playedFrames += n;
        written += static_cast<int32_t>(n);
        if (feed->playedFrames >= half.frames) {
            half.ready.store(false, std::memory_order_release);
            feed->playedFrames = 0;
            feed->playing ^= 1;
            feed->refill.store(true, std::memory_order_release);
            TrySignalStreamRefill(feed);
        }
    }
    return written;
}

// The renderer fills the whole request, 16-bit stereo; without one (or
// before the player is attached) the module plays as silence.
int32_t Module(qbAudioChannel& ch, uint8_t* out, int32_t frames) {
    const audio_mixer::ModuleRenderer render = audio_mixer::GetModuleRenderer();
    if (ch.started.exchange(false, std::memory_order_relaxed)) ch.startNanos.store(AudioNowNanos());
    if (!render || !ch.module) {
        std::memset(out, 0, static_cast<size_t>(frames) * kModuleFrameBytes);
        return frames;
    }
    render(ch.module, reinterpret_cast<int16_t*>(out), frames);
    return frames;
}

int32_t Video(qbAudioChannel& ch, qbAdapterChannel& x, uint8_t* out, int32_t frames) {
    const size_t frameBytes = static_cast<size_t>(std::max(x.bytesPerFrame, 1));
    const size_t want = static_cast<size_t>(frames) * frameBytes;
    qbVideoAudioQueue* q = ch.video;
    size_t copied = 0;
    if (q && !q->paused.load(std::memory_order_relaxed)) {
        std::unique_lock lock(q->mutex, std::try_to_lock);
        if (lock.owns_lock() && q->fill > 0) {
            copied = std::min(want, q->fill / frameBytes * frameBytes);
            std::memcpy(out, q->bytes.get(), copied);
            std::memmove(q->bytes.get(), q->bytes.get() + copied, q->fill - copied);
            q->fill -= copied;
        }
    }
    std::memset(out + copied, 0, want - copied);
    return frames;
}

}  // namespace

int64_t AudioNowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int32_t AdapterChannelData(uintptr_t, uintptr_t, void* buffer, int32_t frames, void* channel) {
    auto* x = static_cast<qbAdapterChannel*>(channel);
    if (!x || !buffer || frames <= 0) return 0;
    qbAudioChannel* ch = audio_mixer::Channel(x->index);
    if (!ch) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    switch (ch->kind.load(std::memory_order_acquire)) {
        case kChannelSample: return Sample(*ch, *x, out, frames);
        case kChannelModule: return Module(*ch, out, frames);
        case kChannelStream: return Stream(*ch, *x, out, frames);
        case kChannelVideo: return Video(*ch, *x, out, frames);
        default: return frames;
    }
}
