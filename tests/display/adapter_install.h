// A display adapter of the test's own slots, installed as start-up would.
#pragma once

#include "core/plugin.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/adapterslots.h"

inline int InstallTestAdapter(qbPlugin* plugin, qbDisplayAdapterSlots* slots, uint32_t flags) {
    plugin->capabilities = PLUGINCAPS_DISPLAYADAPTER;
    plugin->displaySlots = slots;
    SetAdapterWindowOpen(true);
    const int err = SetDisplayAdapter(plugin, flags, nullptr);
    SetAdapterWindowOpen(false);
    return err;
}
