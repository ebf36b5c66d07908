// The audio adapter's install state and slot calls.
#include "sound/audioadapter.h"

#include "core/plugin.h"
#include "core/errcodes.h"
#include "core/runstate.h"
#include "platform/mixer/mixer.h"

namespace {

constexpr int kMinAppletMajor = 6;
constexpr int kMinAppletMinor = 0;

struct AudioAdapter {
    qbAdapterPlugin* plugin = nullptr;
    uint32_t flags = 0;
    int32_t bufferFrames = kAudioAdapterBufferFrames;
    int32_t channels = 0;
};

AudioAdapter adapter;

const qbAudioAdapterSlots* Slots() {
    if (!adapter.plugin || adapter.plugin->callingMode == kPluginCallMarshalled) return nullptr;
    return adapter.plugin->audioSlots;
}

}  // namespace

int SetAudioAdapter(qbAdapterPlugin* plugin, uint32_t flags, const qbAudioTag* tags) {
    if (!RequireAppletVersion(kMinAppletMajor, kMinAppletMinor)) return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & PLUGINCAPS_AUDIOADAPTER)) return ERR_WRONGUSAGE;
    if ((flags & kAudioAdapterUpdateOnly) && plugin == adapter.plugin) {
        for (const qbAudioTag* t = tags; t && t->tag != 0; ++t) {
            if (t->tag == kAudioTagBufferFrames) adapter.bufferFrames = static_cast<int32_t>(t->value);
        }
        return 0;
    }
    if (!IsAdapterWindowOpen()) return ERR_SETADAPTER;
    if (adapter.plugin && (adapter.flags & kAudioAdapterNoReplace)) return ERR_SETADAPTER;
    AudioAdapter next{plugin, flags, kAudioAdapterBufferFrames, audio_mixer::ChannelCount()};
    if (next.channels <= 0) next.channels = audio_mixer::kDefaultChannelCount;
    for (const qbAudioTag* t = tags; t && t->tag != 0; ++t) {
        if (t->tag == kAudioTagBufferFrames) next.bufferFrames = static_cast<int32_t>(t->value);
        if (t->tag == kAudioTagChannels) next.channels = static_cast<int32_t>(t->value);
    }
    if (next.channels < 0) return ERR_OPENAUDIO;
    if (next.channels == 0) {
        adapter = AudioAdapter{};
        return ERR_SETADAPTER;
    }
    adapter = next;
    return 0;
}

bool HasAudioAdapter() { return adapter.plugin != nullptr; }

int32_t AudioAdapterBufferFrames() { return adapter.bufferFrames; }

int32_t AudioAdapterChannelCount() { return adapter.channels; }

void ClearAudioAdapter() { adapter = AudioAdapter{}; }

uintptr_t AdapterOpenAudio() {
    const qbAudioAdapterSlots* s = Slots();
    return s && s->OpenAudio ? s->OpenAudio(0, 0) : 0;
}

void AdapterCloseAudio(uintptr_t handle) {
    const qbAudioAdapterSlots* s = Slots();
    if (s && s->CloseAudio && handle) s->CloseAudio(handle);
}

uintptr_t AdapterAllocChannel(uintptr_t handle, int32_t pcmCode, int32_t rate, int32_t volume,
                              qbAudioDataCallback callback, void* channel) {
    const qbAudioAdapterSlots* s = Slots();
    return s && s->AllocAudioChannel ? s->AllocAudioChannel(handle, pcmCode, rate, volume, callback, 0, channel, 0)
                                     : 0;
}

void AdapterFreeChannel(uintptr_t handle, uintptr_t channel) {
    const qbAudioAdapterSlots* s = Slots();
    if (s && s->FreeAudioChannel && channel) s->FreeAudioChannel(handle, channel);
}

void AdapterSetAttributes(uintptr_t handle, uintptr_t channel, const qbAudioTag* tags) {
    const qbAudioAdapterSlots* s = Slots();
    if (s && s->SetChannelAttributes && channel) s->SetChannelAttributes(handle, channel, tags);
}
