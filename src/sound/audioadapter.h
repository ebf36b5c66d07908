// The audio adapter: a plugin that takes over sound output. Its install
// rules, and the slot calls the channel table makes through it.
#pragma once

#include <cstdint>

#include "core/pluginadapters.h"

enum : uint32_t {
    kAudioAdapterNoReplace = 1,   // the installed adapter may not be replaced
    kAudioAdapterUpdateOnly = 2,  // the installed adapter takes tag 1 only
};
enum : uint32_t { kAudioTagBufferFrames = 1, kAudioTagChannels = 2 };
enum : uint32_t { kAudioTagVolume = 1, kAudioTagPan = 2, kAudioTagPitch = 3 };
constexpr int32_t kAudioAdapterBufferFrames = 2048;

// 0, ERR_OLDAPPLET, ERR_WRONGUSAGE, ERR_SETADAPTER, ERR_OPENAUDIO (negative
// channel count). A channel count of 0 undoes the install (ERR_SETADAPTER).
int SetAudioAdapter(qbAdapterPlugin* plugin, uint32_t flags, const qbAudioTag* tags);
bool HasAudioAdapter();
int32_t AudioAdapterBufferFrames();
int32_t AudioAdapterChannelCount();
// Forgets the adapter (shutdown and tests).
void ClearAudioAdapter();

// The slots; a marshalled plugin answers 0 here.
uintptr_t AdapterOpenAudio();
void AdapterCloseAudio(uintptr_t adapter);
uintptr_t AdapterAllocChannel(uintptr_t adapter, int32_t pcmCode, int32_t rate, int32_t volume,
                              qbAudioDataCallback callback, void* channel);
void AdapterFreeChannel(uintptr_t adapter, uintptr_t channel);
void AdapterSetAttributes(uintptr_t adapter, uintptr_t channel, const qbAudioTag* tags);
