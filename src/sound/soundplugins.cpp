#include "sound/soundplugins.h"

#include <map>

namespace {

std::map<const qbAdapterPlugin*, const qbSoundLoaderSlots*>& Slots() {
    static std::map<const qbAdapterPlugin*, const qbSoundLoaderSlots*> slots;
    return slots;
}

SampleSaverFinder saverFinder = nullptr;

}  // namespace

void SetSoundLoaderSlots(const qbAdapterPlugin* plugin, const qbSoundLoaderSlots* slots) {
    if (!plugin) return;
    if (slots)
        Slots()[plugin] = slots;
    else
        Slots().erase(plugin);
}

const qbSoundLoaderSlots* GetSoundLoaderSlots(const qbAdapterPlugin* plugin) {
    const auto it = Slots().find(plugin);
    return it == Slots().end() ? nullptr : it->second;
}

void SetSampleSaverFinder(SampleSaverFinder finder) { saverFinder = finder; }

qbSaveSampleFunc FindSampleSaver(uint64_t format) { return saverFinder ? saverFinder(format) : nullptr; }
