// The converters of the mixer's channels: samples play straight from their
// data in runs cut at the next loop or end; modules, streams and video sound
// are pulled into a staging buffer of float frames and resampled from there.
#include "platform/mixer/voice.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/platform_types.h"

namespace audio_mixer {

namespace {

// Room for the largest pull plus the frame kept from the previous one.
constexpr uint32_t kStagingFrames = kMaxSourcePull + 2;
// Only the audio thread (holding the device lock) uses it.
StereoFrame staging[kStagingFrames];

template <class F>
void WithReader(const qbAudioStream& format, const uint8_t* p, F&& f) {
    const bool big = (format.flags & kPCMBigEndian) != 0;
    switch (format.pcmCode) {
        case 0: f(PcmReader<0>{p}); break;
        case 1: f(PcmReader<1>{p}); break;
        case 2: f(PcmReader<2>{p}); break;
        case 3: f(PcmReader<3>{p}); break;
        case 4: big ? f(PcmReader<4, true>{p}) : f(PcmReader<4>{p}); break;
        case 5: big ? f(PcmReader<5, true>{p}) : f(PcmReader<5>{p}); break;
        default: break;
    }
}

void Convert(const qbAudioStream& format, const uint8_t* src, uint32_t count, StereoFrame* dst) {
    WithReader(format, src, [&](const auto& r) {
        for (uint32_t i = 0; i < count; ++i) dst[i] = r.At(i);
    });
}

template <class R>
void PlaySample(qbAudioChannel& ch, qbVoiceState& v, const R& r, const MixTarget& t) {
    const uint32_t length = v.format.frames;
    uint32_t k = 0;
    for (;;) {
        const bool last = ch.loopsDone.load(std::memory_order_relaxed) >= ch.loopsWanted;
        const uint32_t segEnd = last ? std::min(ch.endFrame, length) : length;
        const uint64_t endPhase = uint64_t{segEnd} << 32;
        // Boundaries are passed even after the last frame of the request, so
        // that an end falling on it is reported with this render.
        if (v.phase >= endPhase) {
            if (last || length == 0) {
                ch.finished.store(true, std::memory_order_release);
                PushPendingEvent(ch, 5);
                break;
            }
            v.phase -= uint64_t{length} << 32;
            ch.loopsDone.fetch_add(1, std::memory_order_relaxed);
            ch.loopFlag.store(true, std::memory_order_relaxed);
            PushPendingEvent(ch, 6);
            continue;
        }
        if (k == t.frames) break;
        const uint64_t room = t.frames - k;
        uint32_t n;
        if (v.phase + kPhaseOne < endPhase) {
            n = static_cast<uint32_t>(std::min(room, FramesBelow(v.phase, endPhase - kPhaseOne, t.step)));
            MixRun(r, v.phase, t.step, n, t.left + k, t.right + k, t.gainLeft, t.gainRight);
        } else {
            // The last frame before the boundary interpolates towards the
            // loop's first frame, or holds when the sample stops there.
            n = static_cast<uint32_t>(std::min(room, FramesBelow(v.phase, endPhase, t.step)));
            const EdgeReader<R> edge{r, segEnd, last ? segEnd - 1 : 0};
            MixRun(edge, v.phase, t.step, n, t.left + k, t.right + k, t.gainLeft, t.gainRight);
        }
        k += n;
    }
    ch.position.store(static_cast<uint32_t>(std::min<uint64_t>(v.phase >> 32, length)), std::memory_order_relaxed);
}

uint32_t PullModule(qbAudioChannel& ch, uint32_t want, StereoFrame* dst, ModuleRenderer renderModule) {
    if (!renderModule || !ch.module || !ch.buffer) return 0;
    const uint32_t frames = std::min({want, static_cast<uint32_t>(ch.bufferSize / 4), kMaxSourcePull});
    if (frames == 0) return 0;
    auto* pcm = reinterpret_cast<int16_t*>(ch.buffer.get());
    renderModule(ch.module, pcm, static_cast<int>(frames));
    const PcmReader<5> r{ch.buffer.get()};
    for (uint32_t i = 0; i < frames; ++i) dst[i] = r.At(i);
    return frames;
}

uint32_t PullVideo(qbAudioChannel& ch, const qbAudioStream& format, uint32_t want, StereoFrame* dst) {
    qbVideoAudioQueue* q = ch.video;
    if (!q || q->paused.load(std::memory_order_relaxed)) return 0;
    std::unique_lock lock(q->mutex, std::try_to_lock);
    if (!lock.owns_lock() || q->fill == 0) return 0;
    const size_t bpf = static_cast<size_t>(BytesPerFrame(format.pcmCode));
    const uint32_t take = static_cast<uint32_t>(std::min<size_t>(want, q->fill / bpf));
    if (take == 0) return 0;
    Convert(format, q->bytes.get(), take, dst);
    const size_t used = take * bpf;
    std::memmove(q->bytes.get(), q->bytes.get() + used, q->fill - used);
    q->fill -= used;
    q->played.fetch_add(used, std::memory_order_relaxed);
    return take;
}

uint32_t PullStream(qbAudioChannel& ch, const qbAudioStream& format, uint32_t want, StereoFrame* dst) {
    qbStreamFeed* feed = ch.feed;
    if (!feed) return 0;
    const size_t bpf = static_cast<size_t>(BytesPerFrame(format.pcmCode));
    uint32_t got = 0;
    while (got < want) {
        qbStreamFeed::Half& half = feed->halves[static_cast<size_t>(feed->playing)];
        if (!half.ready.load(std::memory_order_acquire)) break;
        const uint32_t take = std::min(want - got, half.frames - feed->playedFrames);
        if (half.pcm) Convert(format, half.pcm + feed->playedFrames * bpf, take, dst + got);
        got += take;
        feed->playedFrames += take;
        if (feed->playedFrames < half.frames) continue;
        half.ready.store(false, std::memory_order_release);
        feed->playedFrames = 0;
        feed->playing ^= 1;
        const bool otherReady = feed->halves[static_cast<size_t>(feed->playing)].ready.load(std::memory_order_acquire);
        if (feed->endState.load(std::memory_order_acquire) == 1 && !otherReady) {
            feed->endState.store(2, std::memory_order_release);
            ch.finished.store(true, std::memory_order_release);
            PushPendingEvent(ch, 7);
            break;
        }
        if (feed->endState.load(std::memory_order_acquire) == 0) feed->refill.store(true, std::memory_order_release);
    }
    return got;
}

}  // namespace

bool IsReadablePCM(const qbAudioStream& format) {
    return format.pcmCode >= 0 && format.pcmCode < kPCMCodeCount && format.rate > 0;
}

int BytesPerFrame(int32_t pcmCode) {
    static constexpr int kBytes[kPCMCodeCount] = {1, 2, 1, 2, 2, 4};
    return pcmCode >= 0 && pcmCode < kPCMCodeCount ? kBytes[pcmCode] : 0;
}

void RenderSampleVoice(qbAudioChannel& ch, const MixTarget& target) {
    qbVoiceState& v = *ch.voice;
    const auto* data = static_cast<const uint8_t*>(ch.data);
    if (!data) {
        ch.finished.store(true, std::memory_order_release);
        PushPendingEvent(ch, 5);
        return;
    }
    WithReader(v.format, data, [&](const auto& r) { PlaySample(ch, v, r, target); });
}

void RenderStreamedVoice(qbAudioChannel& ch, const MixTarget& t, ModuleRenderer renderModule) {
    qbVoiceState& v = *ch.voice;
    const int32_t kind = ch.kind.load(std::memory_order_relaxed);
    // The longest run whose source frames fit the staging buffer.
    const uint64_t chunkMax = std::max<uint64_t>(1, (uint64_t{kStagingFrames - 3} << 32) / t.step);
    if (!v.primed) {
        v.phase = kPhaseOne;
        v.prev = StereoFrame{};
        v.primed = true;
    }
    uint32_t k = 0;
    while (k < t.frames && !ch.finished.load(std::memory_order_relaxed)) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(t.frames - k, chunkMax));
        const uint64_t endPhase = v.phase + n * t.step;
        const uint32_t need = static_cast<uint32_t>(
            std::min<uint64_t>(kStagingFrames - 1,
                               std::max(((v.phase + (n - 1) * t.step) >> 32) + 1, endPhase >> 32)));
        staging[0] = v.prev;
        uint32_t got = 0;
        if (kind == kChannelModule) {
            got = PullModule(ch, need, staging + 1, renderModule);
        } else if (kind == kChannelVideo) {
            got = PullVideo(ch, v.format, need, staging + 1);
        } else if (kind == kChannelStream) {
            got = PullStream(ch, v.format, need, staging + 1);
        }
        // Nothing this callback: silence, and the place is kept.
        if (got == 0) break;
        std::fill(staging + 1 + got, staging + 1 + need, StereoFrame{});
        MixRun(FloatReader{staging}, v.phase, t.step, n, t.left + k, t.right + k, t.gainLeft, t.gainRight);
        if (got < need) {
            // Ran short: the rest of this callback is silent and the next
            // pull starts at the source's next frame.
            v.primed = false;
            break;
        }
        v.prev = staging[std::min<uint64_t>(v.phase >> 32, need)];
        v.phase &= kPhaseOne - 1;
        k += n;
    }
}

}  // namespace audio_mixer

bool TrySignalStreamRefill(qbStreamFeed* feed) {
    if (!feed) return false;
    std::unique_lock lock(feed->mutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    feed->refillRequested = true;
    lock.unlock();
    feed->cond.notify_one();
    return true;
}
