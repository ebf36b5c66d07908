// What the sound core reaches of plugins: the stream slots of SOUND
// loaders and the SAVESAMPLE lookup. The plugin loader sits above this
// folder, so it installs both when it loads a plugin.
#pragma once

#include <cstdint>

#include "core/plugin.h"

struct qbSoundLoaderSlots {
    qbOpenStreamFunc OpenStream = nullptr;
    qbCloseStreamFunc CloseStream = nullptr;
    qbSeekStreamFunc SeekStream = nullptr;
    qbStreamSamplesFunc StreamSamples = nullptr;
    qbStreamFormatNameFunc GetFormatName = nullptr;
};

// The slots of a plugin's sound loader, or null. Written while plugins load
// on the main thread; null slots forget the plugin.
void SetSoundLoaderSlots(const qbAdapterPlugin* plugin, const qbSoundLoaderSlots* slots);
const qbSoundLoaderSlots* GetSoundLoaderSlots(const qbAdapterPlugin* plugin);

// The SaveSample entry point of the plugin that registered the sample
// format id, or null when none did.
using SampleSaverFinder = qbSaveSampleFunc (*)(uint64_t format);
void SetSampleSaverFinder(SampleSaverFinder finder);
qbSaveSampleFunc FindSampleSaver(uint64_t format);
