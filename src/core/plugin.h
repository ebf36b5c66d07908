// The plugin record as the runtime core sees it, and the capability bits of
// a plugin's mask. The record is the adapter record that the file layer
// reads; for a loaded plugin the loader fills it from the plugin's own
// record, which it points at.
#pragma once

#include <cstdint>

#include "core/pluginadapters.h"

// The host reads the plugin's own record through qbPlugin::record; the C
// header gives its layout and the capability bits.
#ifndef QBPLUGIN_HOST
#define QBPLUGIN_HOST
#endif
#include "qbplugin.h"

static_assert(PLUGINCAPS_FILEADAPTER == kPluginCapsFileAdapter && PLUGINCAPS_DIRADAPTER == kPluginCapsDirAdapter);
static_assert(QBPLUGIN_CALL_MARSHALLED == kPluginCallMarshalled);
static_assert(QBPLUGIN_FILEADAPTER_CHUNKS == kFileAdapterServesChunks);

using qbPlugin = qbAdapterPlugin;
