#include "media/animplugins.h"

#include <map>

namespace {

std::map<const qbAdapterPlugin*, const qbAnimLoaderSlots*>& Slots() {
    static std::map<const qbAdapterPlugin*, const qbAnimLoaderSlots*> slots;
    return slots;
}

}  // namespace

void SetAnimLoaderSlots(const qbAdapterPlugin* plugin, const qbAnimLoaderSlots* slots) {
    if (!plugin) return;
    if (slots)
        Slots()[plugin] = slots;
    else
        Slots().erase(plugin);
}

const qbAnimLoaderSlots* GetAnimLoaderSlots(const qbAdapterPlugin* plugin) {
    const auto it = Slots().find(plugin);
    return it == Slots().end() ? nullptr : it->second;
}
