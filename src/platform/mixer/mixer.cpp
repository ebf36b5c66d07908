// The mixer's channel table, device lock, converters and render loop.
#include "platform/mixer/mixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <utility>

#include "core/errcodes.h"
#include "platform/platform.h"

namespace audio_mixer {

namespace {

constexpr size_t kBlockFrames = 1024;

struct Device {
    int rate = 0;
    void (*lock)() = nullptr;
    void (*unlock)() = nullptr;
};

struct MixerState {
    Device device;
    std::unique_ptr<qbAudioChannel[]> channels;
    int count = 0;
    std::atomic<ModuleRenderer> renderModule{nullptr};
    // Audio thread only.
    float accLeft[kBlockFrames] = {};
    float accRight[kBlockFrames] = {};
};

MixerState& M() {
    static MixerState state;
    return state;
}

int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a reset or a detach takes out of a channel, freed after the device
// lock is let go.
struct Detached {
    std::unique_ptr<qbVoiceState> voice;
    std::unique_ptr<uint8_t[]> buffer;
};

void ClearRecord(qbAudioChannel& ch, Detached& out) {
    ch.kind.store(kChannelFree, std::memory_order_release);
    ch.kindBeforeFinishing.store(kChannelFree, std::memory_order_relaxed);
    ch.owner = ObjectID{};
    ch.data = nullptr;
    ch.loopsWanted = 1;
    ch.endFrame = 0;
    ch.loopsDone.store(1, std::memory_order_relaxed);
    ch.position.store(0, std::memory_order_relaxed);
    ch.loopFlag.store(false, std::memory_order_relaxed);
    ch.finished.store(false, std::memory_order_relaxed);
    ch.started.store(false, std::memory_order_relaxed);
    ch.passMs = ch.lastLoopMs = 0;
    ch.pendingHead.store(0, std::memory_order_relaxed);
    ch.pendingTail.store(0, std::memory_order_relaxed);
    ch.module = nullptr;
    ch.feed = nullptr;
    ch.video = nullptr;
    ch.volume.store(64, std::memory_order_relaxed);
    ch.pan.store(128, std::memory_order_relaxed);
    ch.rate.store(0, std::memory_order_relaxed);
    out.voice = std::move(ch.voice);
    out.buffer = std::move(ch.buffer);
    ch.bufferSize = 0;
}

int EnsureTable() {
    if (M().channels) return 0;
    return SetChannelCount(kDefaultChannelCount);
}

qbAudioChannel* Find(int channel) {
    if (EnsureTable() != 0 || channel < 0 || channel >= M().count) return nullptr;
    return &M().channels[static_cast<size_t>(channel)];
}

void RenderChannel(qbAudioChannel& ch, const MixTarget& base, int deviceRate) {
    const int32_t kind = ch.kind.load(std::memory_order_acquire);
    if (kind < kChannelSample || kind > kChannelVideo) return;
    if (!ch.voice || !ch.voice->attached || ch.finished.load(std::memory_order_relaxed)) return;
    // A start, or a loop in the last render, begins a new pass: its time
    // is taken before this render.
    const bool started = ch.started.exchange(false, std::memory_order_relaxed);
    if (ch.loopFlag.exchange(false, std::memory_order_relaxed) || started) {
        ch.startNanos.store(NowNanos(), std::memory_order_relaxed);
    }
    MixTarget t = base;
    const float gain = VolumeToGain(ch.volume.load(std::memory_order_relaxed));
    const float p = PanParameter(ch.pan.load(std::memory_order_relaxed));
    t.gainLeft = gain * std::min(1.0f, 2.0f - 2.0f * p);
    t.gainRight = gain * std::min(1.0f, 2.0f * p);
    int32_t rate = ch.rate.load(std::memory_order_relaxed);
    if (rate <= 0) rate = ch.voice->format.rate;
    t.step = std::max<uint64_t>(1, (static_cast<uint64_t>(std::max(rate, 1)) << 32) / static_cast<uint64_t>(deviceRate));
    if (kind == kChannelSample) {
        RenderSampleVoice(ch, t);
    } else {
        RenderStreamedVoice(ch, t, M().renderModule.load(std::memory_order_relaxed));
    }
    if (kind == kChannelStream && ch.feed && ch.feed->refill.load(std::memory_order_acquire) &&
        TrySignalStreamRefill(ch.feed)) {
        ch.feed->refill.store(false, std::memory_order_release);
    }
    if (ch.finished.load(std::memory_order_relaxed)) {
        ch.voice->attached = false;
        ch.kindBeforeFinishing.store(kind, std::memory_order_relaxed);
        ch.kind.store(kChannelFinished, std::memory_order_release);
    }
}

}  // namespace

DeviceLock::DeviceLock() {
    if (M().device.lock) M().device.lock();
}

DeviceLock::~DeviceLock() {
    if (M().device.unlock) M().device.unlock();
}

void AttachDevice(int rate, void (*lock)(), void (*unlock)()) {
    M().device = Device{rate, lock, unlock};
}

void DetachDevice() { M().device = Device{}; }

int DeviceRate() { return M().device.rate; }

float VolumeToGain(int volume) { return std::cbrt(static_cast<float>(std::clamp(volume, 0, 64)) / 64.0f); }

float PanParameter(int pan) {
    if (pan <= 0) return 0.0f;
    if (pan == 128) return 0.5f;
    if (pan >= 255) return 1.0f;
    return static_cast<float>(pan) / 255.0f;
}

void Render(float* out, size_t frames) {
    MixerState& m = M();
    const int deviceRate = m.device.rate > 0 ? m.device.rate : 48000;
    while (frames > 0) {
        const size_t n = std::min(frames, kBlockFrames);
        std::fill_n(m.accLeft, n, 0.0f);
        std::fill_n(m.accRight, n, 0.0f);
        const MixTarget base{m.accLeft, m.accRight, static_cast<uint32_t>(n), 1.0f, 1.0f, kPhaseOne};
        for (int i = 0; i < m.count; ++i) RenderChannel(m.channels[static_cast<size_t>(i)], base, deviceRate);
        for (size_t k = 0; k < n; ++k) {
            out[2 * k] = std::clamp(m.accLeft[k], -1.0f, 1.0f);
            out[2 * k + 1] = std::clamp(m.accRight[k], -1.0f, 1.0f);
        }
        out += 2 * n;
        frames -= n;
    }
    if (TakePostedEvents()) PostWakeEvent();
}

int SetChannelCount(int count) {
    if (count < 0) return ERR_OPENAUDIO;
    MixerState& m = M();
    for (int i = 0; i < m.count; ++i) {
        if (m.channels[static_cast<size_t>(i)].kind.load(std::memory_order_acquire) != kChannelFree) return ERR_WRONGUSAGE;
    }
    std::unique_ptr<qbAudioChannel[]> table(new (std::nothrow) qbAudioChannel[static_cast<size_t>(count)]);
    if (!table) return ERR_MEM;
    {
        DeviceLock lock;
        std::swap(m.channels, table);
        m.count = count;
    }
    return 0;
}

int ChannelCount() {
    EnsureTable();
    return M().count;
}

qbAudioChannel* Channel(int index) { return Find(index); }

void ReleasePreparedChannels() {
    if (EnsureTable() != 0) return;
    DeviceLock lock;
    for (int i = 0; i < M().count; ++i) {
        qbAudioChannel& ch = M().channels[static_cast<size_t>(i)];
        int32_t prepared = kChannelPrepared;
        ch.kind.compare_exchange_strong(prepared, kChannelSample, std::memory_order_acq_rel);
    }
}

void ResetChannel(int index) {
    qbAudioChannel* ch = Find(index);
    if (!ch) return;
    Detached gone;
    DeviceLock lock;
    ClearRecord(*ch, gone);
}

void SetModuleRenderer(ModuleRenderer render) { M().renderModule.store(render, std::memory_order_relaxed); }

ModuleRenderer GetModuleRenderer() { return M().renderModule.load(std::memory_order_relaxed); }

int CreateStreamConverter(qbAudioStream* stream, int channel, void* data, int rate, int volume, int pan) {
    qbAudioChannel* ch = Find(channel);
    if (!ch) return ERR_CHANNELRANGE;
    if (!stream || !IsReadablePCM(*stream)) return ERR_AUDIOCONVERTER;
    std::unique_ptr<qbVoiceState> voice(new (std::nothrow) qbVoiceState);
    if (!voice) return ERR_MEM;
    voice->format = *stream;
    voice->attached = true;
    ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
    ch->pan.store(std::clamp(pan, 0, 255), std::memory_order_relaxed);
    ch->rate.store(rate > 0 ? rate : stream->rate, std::memory_order_relaxed);
    Detached gone;
    DeviceLock lock;
    gone.voice = std::move(ch->voice);
    ch->voice = std::move(voice);
    ch->data = data;
    ch->position.store(0, std::memory_order_relaxed);
    ch->started.store(true, std::memory_order_relaxed);
    return 0;
}

int CreateMusicConverter(void* music, int channel, int, int volume) {
    qbAudioChannel* ch = Find(channel);
    if (!ch) return ERR_CHANNELRANGE;
    std::unique_ptr<qbVoiceState> voice(new (std::nothrow) qbVoiceState);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kModuleBufferBytes]);
    if (!voice || !buffer) return ERR_MEM;
    voice->format = qbAudioStream{5, kPCMSigned, kModuleRate, 0};
    voice->attached = true;
    ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
    ch->rate.store(kModuleRate, std::memory_order_relaxed);
    Detached gone;
    DeviceLock lock;
    gone.voice = std::move(ch->voice);
    gone.buffer = std::move(ch->buffer);
    ch->voice = std::move(voice);
    ch->buffer = std::move(buffer);
    ch->bufferSize = kModuleBufferBytes;
    ch->module = music;
    ch->started.store(true, std::memory_order_relaxed);
    return 0;
}

void DisposeStreamConverter(qbAudioChannel* record, int channel) {
    qbAudioChannel* ch = record ? record : Find(channel);
    if (!ch) return;
    Detached gone;
    DeviceLock lock;
    gone.voice = std::move(ch->voice);
}

void DisposeChannelConverter(int channel) { DisposeStreamConverter(nullptr, channel); }

void FreeChannelConverter(int channel) { ResetChannel(channel); }

void SetMixerInputVolume(int channel, int volume) { SetNativeChannelVolume(channel, volume); }

void SetNativeChannelVolume(int channel, int volume) {
    if (qbAudioChannel* ch = Find(channel)) ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
}

void SetChannelVolumePan(int channel, int volume, int pan) {
    qbAudioChannel* ch = Find(channel);
    if (!ch) return;
    // -1 leaves that one as it is.
    if (volume != -1) ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
    if (pan != -1) ch->pan.store(std::clamp(pan, 0, 255), std::memory_order_relaxed);
}

void SetNativeChannelRate(int channel, int rate) {
    if (qbAudioChannel* ch = Find(channel); ch && rate > 0) ch->rate.store(rate, std::memory_order_relaxed);
}

void FillPCMStreamFormat(qbPCMFormat* out, int rate, int bits, int bytesPerFrame, int channels, uint32_t flags) {
    if (!out) return;
    *out = qbPCMFormat{rate, bits, bytesPerFrame, channels, flags & (kPCMBigEndian | kPCMSigned)};
}

// Sources reach this mixer as PCM: there is nothing to hand a cookie or an
// input procedure to.
int SetConverterMagicCookie(qbAudioStream*, const void*, size_t) { return 0; }
int SetConverterInputProc(qbAudioStream*, int) { return 0; }

void FillChannelOps(qbPlatformOps& ops) {
#define QB_MIXER_OP(op) ops.op = &audio_mixer::op;
    QB_MIXER_OP(CreateStreamConverter)
    QB_MIXER_OP(CreateMusicConverter)
    QB_MIXER_OP(DisposeStreamConverter)
    QB_MIXER_OP(DisposeChannelConverter)
    QB_MIXER_OP(FreeChannelConverter)
    QB_MIXER_OP(StopAllNativeChannels)
    QB_MIXER_OP(SetMixerInputVolume)
    QB_MIXER_OP(SetNativeChannelVolume)
    QB_MIXER_OP(SetChannelVolumePan)
    QB_MIXER_OP(SetNativeChannelRate)
    QB_MIXER_OP(FillPCMStreamFormat)
    QB_MIXER_OP(SetConverterMagicCookie)
    QB_MIXER_OP(SetConverterInputProc)
    QB_MIXER_OP(FlushChannelEvents)
    QB_MIXER_OP(ProcessAudioEvents)
#undef QB_MIXER_OP
}

}  // namespace audio_mixer
