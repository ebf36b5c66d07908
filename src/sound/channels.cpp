// The channel table on the mixer's records: allocation, sample starts,
// attributes, stops and channel info under one recursive mutex (stop-all
// holds it while each per-channel stop takes it again).
#include "sound/channels.h"

#include <algorithm>
#include <new>

#include "core/errcodes.h"
#include "core/ratetime.h"
#include "platform/mixer/mixer.h"
#include "platform/platform.h"
#include "sound/adapterchannel.h"
#include "sound/audioadapter.h"
#include "sound/moduleposition.h"
#include "sound/soundevents.h"

namespace {

struct AudioCore {
    std::recursive_mutex table;
    bool opened = false;
    bool noAudio = false;      // -NOSOUND (runtime tag 2)
    bool unavailable = false;  // the output could not be opened
    int openParameter = 0;
    // With an audio adapter: its handle and the per-channel records it
    // calls back with.
    uintptr_t adapter = 0;
    std::unique_ptr<qbAdapterChannel[]> adapterChannels;
};

AudioCore& Core() {
    static AudioCore core;
    return core;
}

bool InRange(int channel) { return channel >= 0 && channel < audio_mixer::ChannelCount(); }

int32_t KindOf(int channel) { return audio_mixer::Channel(channel)->kind.load(std::memory_order_acquire); }

bool PlaysData(int channel, const void* data) {
    const qbAudioChannel* ch = audio_mixer::Channel(channel);
    const int32_t kind = ch->kind.load(std::memory_order_acquire);
    return kind != kChannelFree && kind != kChannelRingPlaceholder && ch->data == data;
}

// One pass of the data in ms; a timed play counts a pass under 1 ms as 1 ms
// so that the loop count stays finite.
uint32_t PassMs(uint32_t frames, int32_t rate) {
    if (rate <= 0) return 0;
    return static_cast<uint32_t>(MsAtCount(frames, {static_cast<uint64_t>(rate)}));
}

}  // namespace

int32_t PCMCodeOf(int32_t bits, int32_t channels, uint32_t flags) {
    const int32_t stereo = channels == 2 ? 1 : 0;
    if (bits == 16) return 4 + stereo;
    return ((flags & kPCMSigned) ? 2 : 0) + stereo;
}

int StartAudioCore() {
    // std::recursive_mutex is made with the record; nothing can fail here.
    (void)Core();
    return 0;
}

std::recursive_mutex& ChannelTableMutex() { return Core().table; }

bool IsAudioOpen() { return Core().opened; }

bool IsAudioDisabled() { return Core().noAudio || Core().unavailable; }

void MarkAudioUnavailable() { Core().unavailable = true; }

bool IsNativeDecodingRefused() { return Core().noAudio; }

int EnsureAudioOpen(int channelCount) {
    AudioCore& core = Core();
    std::lock_guard lock(core.table);
    if (core.opened) return 0;
    if (channelCount < 0) return ERR_OPENAUDIO;
    int count = channelCount > 0 ? channelCount : audio_mixer::ChannelCount();
    if (HasAudioAdapter()) count = AudioAdapterChannelCount();
    if (count <= 0) count = audio_mixer::kDefaultChannelCount;
    if (int error = audio_mixer::SetChannelCount(count)) return error;
    if (HasAudioAdapter()) {
        core.adapterChannels.reset(new (std::nothrow) qbAdapterChannel[static_cast<size_t>(count)]);
        if (!core.adapterChannels) return ERR_MEM;
        for (int i = 0; i < count; ++i) core.adapterChannels[static_cast<size_t>(i)].index = i;
        core.adapter = AdapterOpenAudio();
        if (!core.adapter) {
            core.adapterChannels.reset();
            return ERR_OPENAUDIO;
        }
    } else if (StartAudioOutput() != 0) {
        return ERR_OPENAUDIO;
    }
    for (int i = 0; i < count; ++i) audio_mixer::ResetChannel(i);
    core.opened = true;
    return 0;
}

static qbAdapterChannel* AdapterRecord(int channel) {
    AudioCore& core = Core();
    return core.adapterChannels && InRange(channel) ? &core.adapterChannels[static_cast<size_t>(channel)] : nullptr;
}

void ReapFinishedChannels() {
    AudioCore& core = Core();
    if (!core.adapterChannels) {
        audio_mixer::StopAllNativeChannels();
        return;
    }
    const int64_t now = AudioNowNanos();
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        const qbAudioChannel* ch = audio_mixer::Channel(i);
        if (ch->finished.load(std::memory_order_acquire) && AdapterRecord(i)->endNanos.load() < now) {
            StopChannelPlayback(i);
        }
    }
}

void ResetChannelRecord(int channel) {
    if (qbAdapterChannel* x = AdapterRecord(channel)) {
        x->handle = 0;
        x->pcm = nullptr;
        x->frames = 0;
        x->endNanos.store(0);
    }
    audio_mixer::ResetChannel(channel);
}

// Hands a prepared channel to the audio adapter. The kind is published
// before the adapter's first pull can read it; a refusal resets the record.
static int OpenAdapterChannel(int at, qbAdapterChannel* x, int32_t kind, int32_t pcmCode, int32_t rate, int32_t volume,
                              int* channel) {
    audio_mixer::Channel(at)->kind.store(kind, std::memory_order_release);
    x->handle = AdapterAllocChannel(Core().adapter, pcmCode, rate, volume, &AdapterChannelData, x);
    if (!x->handle) {
        ResetChannelRecord(at);
        return ERR_ALLOCCHANNEL;
    }
    *channel = at;
    return 0;
}

void StopChannelPlayback(int channel) {
    AudioCore& core = Core();
    std::lock_guard lock(core.table);
    if (!InRange(channel)) return;
    if (qbAdapterChannel* x = AdapterRecord(channel)) {
        // After the free the adapter no longer calls back for the channel.
        AdapterFreeChannel(core.adapter, x->handle);
    } else {
        // Events the mixer left for this channel go out before the record goes.
        FlushChannelEvents();
    }
    ResetChannelRecord(channel);
}

int AllocateChannel(int32_t kind, ObjectID owner, int index, int* channel) {
    std::lock_guard lock(Core().table);
    ReapFinishedChannels();
    const int count = audio_mixer::ChannelCount();
    if (index == -1) {
        for (int i = 0; i < count && index == -1; ++i) {
            if (KindOf(i) == kChannelFree) index = i;
        }
        if (index == -1) return ERR_NOCHANNEL;
    } else if (!InRange(index)) {
        return ERR_CHANNELRANGE;
    } else if (KindOf(index) != kChannelFree) {
        StopChannelPlayback(index);
    }
    ResetChannelRecord(index);
    qbAudioChannel* ch = audio_mixer::Channel(index);
    ch->owner = owner;
    ch->kind.store(kind, std::memory_order_release);
    *channel = index;
    return 0;
}

int StartSample(const qbSampleData& sample, const qbSampleStart& how, int* channel) {
    std::lock_guard lock(Core().table);
    if (int error = EnsureAudioOpen(0)) return error;
    int index = -1;
    if (int error = AllocateChannel(kChannelPrepared, how.owner, how.channel, &index)) return error;
    qbAudioChannel* ch = audio_mixer::Channel(index);
    const int32_t rate = how.rate > 0 ? how.rate : sample.rate;
    const uint32_t pass = PassMs(sample.frames, rate);
    ch->data = sample.pcm;
    if (how.timeMs < 0) {
        ch->loopsWanted = std::max(how.times, 1);
        ch->endFrame = sample.frames;
        ch->lastLoopMs = pass;
    } else {
        const uint64_t timedPass = std::max<uint32_t>(pass, 1);
        const uint64_t time = static_cast<uint64_t>(how.timeMs);
        ch->loopsWanted = static_cast<int32_t>(std::min<uint64_t>(time / timedPass + 1, INT32_MAX));
        ch->lastLoopMs = static_cast<uint32_t>(time % timedPass);
        const int64_t lastFrames = CountAtMs(ch->lastLoopMs, {static_cast<uint32_t>(rate)});
        ch->endFrame = static_cast<uint32_t>(std::min<int64_t>(lastFrames, sample.frames));
    }
    ch->passMs = pass;
    ch->loopsDone.store(1, std::memory_order_relaxed);
    if (qbAdapterChannel* x = AdapterRecord(index)) {
        x->pcm = sample.pcm;
        x->frames = sample.frames;
        x->bytesPerFrame = sample.bytesPerFrame;
        ch->started.store(true, std::memory_order_relaxed);
        ch->volume.store(how.volume, std::memory_order_relaxed);
        return OpenAdapterChannel(index, x, kChannelSample, PCMCodeOf(sample.bits, sample.channels, sample.flags), rate,
                                  how.volume, channel);
    }
    qbAudioStream stream{PCMCodeOf(sample.bits, sample.channels, sample.flags), sample.flags, sample.rate,
                         sample.frames};
    const int error = CreateStreamConverter(&stream, index, const_cast<void*>(sample.pcm), rate, how.volume, how.pan);
    if (error) {
        audio_mixer::ResetChannel(index);
        return error;
    }
    *channel = index;
    return 0;
}

int StartModuleChannel(qbModulePosition* player, ObjectID owner, int32_t volume, int index, int* channel) {
    std::lock_guard lock(Core().table);
    if (int error = EnsureAudioOpen(0)) return error;
    int at = -1;
    if (int error = AllocateChannel(kChannelMusic, owner, index, &at)) return error;
    qbAudioChannel* ch = audio_mixer::Channel(at);
    if (qbAdapterChannel* x = AdapterRecord(at)) {
        ch->module = player;
        ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
        ch->started.store(true, std::memory_order_relaxed);
        x->bytesPerFrame = static_cast<int32_t>(kModuleFrameBytes);
        return OpenAdapterChannel(at, x, kChannelModule, PCMCodeOf(16, 2, kPCMSigned), audio_mixer::kModuleRate, volume,
                                  channel);
    }
    if (int error = CreateMusicConverter(player, at, audio_mixer::kModuleRate, volume)) {
        audio_mixer::ResetChannel(at);
        return error;
    }
    ch->kind.store(kChannelModule, std::memory_order_release);
    *channel = at;
    return 0;
}

int StartStreamChannel(qbStreamFeed* feed, const qbAudioStream& format, ObjectID owner, int32_t volume, int index,
                       int* channel) {
    std::lock_guard lock(Core().table);
    if (int error = EnsureAudioOpen(0)) return error;
    int at = -1;
    if (int error = AllocateChannel(kChannelMusic, owner, index, &at)) return error;
    qbAudioChannel* ch = audio_mixer::Channel(at);
    ch->feed = feed;
    if (qbAdapterChannel* x = AdapterRecord(at)) {
        ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
        ch->started.store(true, std::memory_order_relaxed);
        x->bytesPerFrame = audio_mixer::BytesPerFrame(format.pcmCode);
        return OpenAdapterChannel(at, x, kChannelStream, format.pcmCode, format.rate, volume, channel);
    }
    qbAudioStream stream = format;
    if (int error = CreateStreamConverter(&stream, at, nullptr, format.rate, volume, 128)) {
        audio_mixer::ResetChannel(at);
        return error;
    }
    ch->kind.store(kChannelStream, std::memory_order_release);
    *channel = at;
    return 0;
}

int StartVideoChannel(qbVideoAudioQueue* ring, const qbAudioStream& format, ObjectID owner, int32_t volume, int index,
                      int* channel) {
    std::lock_guard lock(Core().table);
    if (int error = EnsureAudioOpen(0)) return error;
    int at = -1;
    if (int error = AllocateChannel(kChannelVideoAlloc, owner, index, &at)) return error;
    qbAudioChannel* ch = audio_mixer::Channel(at);
    ch->video = ring;
    if (qbAdapterChannel* x = AdapterRecord(at)) {
        ch->volume.store(std::clamp(volume, 0, 64), std::memory_order_relaxed);
        x->bytesPerFrame = audio_mixer::BytesPerFrame(format.pcmCode);
        return OpenAdapterChannel(at, x, kChannelVideo, format.pcmCode, format.rate, volume, channel);
    }
    qbAudioStream stream = format;
    if (CreateStreamConverter(&stream, at, nullptr, format.rate, volume, 128) != 0) {
        audio_mixer::ResetChannel(at);
        return ERR_AUDIOCONVERTER;
    }
    ch->kind.store(kChannelVideo, std::memory_order_release);
    *channel = at;
    return 0;
}

void ReleasePreparedSamples() {
    std::lock_guard lock(Core().table);
    audio_mixer::ReleasePreparedChannels();
}

int UpdateChannelAttributes(const void* data, int pitch, int volume, int pan, int channel) {
    std::lock_guard lock(Core().table);
    if (channel == -1) {
        for (int i = 0; i < audio_mixer::ChannelCount() && channel == -1; ++i) {
            if (PlaysData(i, data)) channel = i;
        }
        if (channel == -1) return 0;
    } else if (!InRange(channel)) {
        return ERR_CHANNELRANGE;
    }
    if (qbAdapterChannel* x = AdapterRecord(channel)) {
        qbAudioTag tags[4] = {};
        size_t n = 0;
        if (volume != -1) tags[n++] = qbAudioTag{kAudioTagVolume, volume};
        if (pan != -1) tags[n++] = qbAudioTag{kAudioTagPan, pan};
        if (pitch > 0) tags[n++] = qbAudioTag{kAudioTagPitch, pitch};
        AdapterSetAttributes(Core().adapter, x->handle, tags);
        return 0;
    }
    if (pitch > 0) SetNativeChannelRate(channel, pitch);
    SetChannelVolumePan(channel, volume, pan);
    return 0;
}

int StopChannel(const void* data, int channel) {
    std::lock_guard lock(Core().table);
    if (channel != -1) {
        if (!InRange(channel)) return ERR_CHANNELRANGE;
        StopChannelPlayback(channel);
        return 0;
    }
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        if (PlaysData(i, data)) StopChannelPlayback(i);
    }
    return 0;
}

void StopAllChannels() {
    std::lock_guard lock(Core().table);
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        std::unique_lock<std::recursive_mutex> held;
        int32_t type = kChannelObjNone;
        ObjectID owner;
        // The per-channel stop reaches the channel through its info, which
        // takes the table mutex again: it is recursive for this.
        if (GetChannelInfo(i, &type, &owner, &held) == 0 && type != kChannelObjNone) StopChannelPlayback(i);
    }
    ReapFinishedChannels();
}

bool IsSamplePlaying(const void* data) {
    std::lock_guard lock(Core().table);
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        if (PlaysData(i, data) && KindOf(i) != kChannelFinished) return true;
    }
    return false;
}

bool GetSamplePlayPosition(const void* data, int32_t fallbackRate, int64_t* playedMs, int32_t* loops) {
    std::lock_guard lock(Core().table);
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        if (!PlaysData(i, data) || KindOf(i) != kChannelSample) continue;
        const qbAudioChannel* ch = audio_mixer::Channel(i);
        const int32_t done = std::max(ch->loopsDone.load(std::memory_order_relaxed) - 1, 0);
        const int32_t own = ch->rate.load(std::memory_order_relaxed);
        const int64_t rate = own > 0 ? own : fallbackRate;
        const int64_t within =
            rate > 0 ? MsAtCount(ch->position.load(std::memory_order_relaxed), {static_cast<uint64_t>(rate)}) : 0;
        *playedMs = int64_t{done} * ch->passMs + within;
        *loops = done;
        return true;
    }
    return false;
}

int GetChannelInfo(int channel, int32_t* type, ObjectID* owner, std::unique_lock<std::recursive_mutex>* heldLock) {
    std::unique_lock lock(Core().table);
    *type = kChannelObjNone;
    *owner = ObjectID{};
    if (!InRange(channel)) return ERR_CHANNELRANGE;
    const qbAudioChannel* ch = audio_mixer::Channel(channel);
    int32_t kind = ch->kind.load(std::memory_order_acquire);
    if (kind == kChannelFinished) kind = ch->kindBeforeFinishing.load(std::memory_order_relaxed);
    switch (kind) {
        case kChannelPrepared:
        case kChannelSample: *type = kChannelObjSample; break;
        case kChannelModule:
        case kChannelStream:
        case kChannelMusic: *type = kChannelObjMusic; break;
        case kChannelVideo:
        case kChannelVideoAlloc: *type = kChannelObjVideo; break;
        default: break;
    }
    if (*type != kChannelObjNone) *owner = ch->owner;
    if (heldLock) *heldLock = std::move(lock);
    return 0;
}

int SoundSettingsHook(int code, int value) {
    AudioCore& core = Core();
    switch (code) {
        case 2: core.noAudio = value != 0; return 1;
        case 3: core.openParameter = value; return 1;
        case 12: SetSoundHandlerSwitch(kHandlerSampleLoop, value != 0); return 1;
        case 13: SetSoundHandlerSwitch(kHandlerSampleEnd, value != 0); return 1;
        case 18: SetSoundHandlerSwitch(kHandlerMusicEnd, value != 0); return 1;
        case 23: SetSoundHandlerSwitch(kHandlerVideoEnd, value != 0); return 1;
        default: return 0;
    }
}

int AudioOpenParameter() { return Core().openParameter; }

void CloseAudioCore() {
    AudioCore& core = Core();
    std::lock_guard lock(core.table);
    // A later start may find a device again.
    core.unavailable = false;
    if (!core.opened) return;
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) StopChannelPlayback(i);
    if (core.adapterChannels) {
        AdapterCloseAudio(core.adapter);
        core.adapter = 0;
        core.adapterChannels.reset();
    } else {
        DisposeAudioOutput();
    }
    core.opened = false;
}
