// The plugin record as the runtime core sees it, and the capability bits of
// a plugin's mask. The record is the adapter record that the file layer
// reads; the plugin system extends it into the whole plugin record.
#pragma once

#include <cstdint>

#include "core/pluginadapters.h"

enum : uint32_t {
    PLUGINCAPS_CONVERT = 1,
    PLUGINCAPS_LIBRARY = 2,
    PLUGINCAPS_IMAGE = 4,
    PLUGINCAPS_ANIM = 8,
    PLUGINCAPS_SOUND = 16,
    PLUGINCAPS_VECTOR = 32,
    PLUGINCAPS_VIDEO = 64,
    PLUGINCAPS_SAVEIMAGE = 128,
    PLUGINCAPS_SAVEANIM = 256,
    PLUGINCAPS_SAVESAMPLE = 512,
    PLUGINCAPS_REQUIRE = 1024,
    PLUGINCAPS_DISPLAYADAPTER = 2048,
    PLUGINCAPS_TIMERADAPTER = 4096,
    PLUGINCAPS_REQUESTERADAPTER = 8192,
    PLUGINCAPS_FILEADAPTER = kPluginCapsFileAdapter,
    PLUGINCAPS_DIRADAPTER = kPluginCapsDirAdapter,
    PLUGINCAPS_AUDIOADAPTER = 65536,
};

using qbPlugin = qbAdapterPlugin;
