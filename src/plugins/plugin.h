// One loaded plugin file: the library, the plugin's own record, and the
// host's view of it (the qbPlugin that capability lists and adapters hold)
// with the slot records its entry points fill.
#pragma once

#include <cstdint>
#include <memory>

#include "core/plugin.h"
#include "core/readholds.h"
#include "display/adapterslots.h"
#include "imaging/imagehandle.h"
#include "media/animplugins.h"
#include "media/videosource.h"
#include "sound/soundplugins.h"
#include "vector/engine.h"

struct qbPluginHandle {
    uint32_t capabilities = 0;
    qbPlugin view;
    // Zero-filled before InitPlugin; the plugin writes words 0-28.
    qbPluginRecord record{};
    void* library = nullptr;
    qbImageLoaderSlots imageSlots;
    qbDisplayAdapterSlots displaySlots;
    qbTimerAdapterSlots timerSlots;
    qbSoundLoaderSlots soundSlots;
    qbAnimLoaderSlots animSlots;
    qbVideoPluginSlots videoSlots;
    // Words 80-87 as a vector engine, for plugins with the vector capability.
    qbVectorEngine vectorEngine;
    // InitPlugin succeeded, so ClosePlugin is owed.
    bool initialised = false;
    // The file the loader maps: while it is loaded no write may cut it.
    qbReadHold mapped;
};

// Unloads a handle: off every capability list, ClosePlugin when InitPlugin
// succeeded, the library closed, the handle freed.
void ClosePluginFile(qbPluginHandle* handle);

struct PluginHandleCloser {
    void operator()(qbPluginHandle* handle) const { ClosePluginFile(handle); }
};
using PluginHandlePtr = std::unique_ptr<qbPluginHandle, PluginHandleCloser>;

// Loads one ".qbp" file: opens the library (every symbol bound now),
// InitPlugin, the name and host-version checks, GetExtensions and every entry
// point of the plugin's capabilities; then joins the loader lists. 0, or
// ERR_MEM, ERR_DLOPEN, ERR_LOADPLUGIN, ERR_NEWQBPLUGIN, ERR_PLUGINSYMBOL,
// ERR_PLUGINTYPE or a list's error, with the error detail set; on an error
// nothing stays loaded or listed.
int OpenPluginFile(const char* path, uint32_t* capabilities, PluginHandlePtr* out);

// Reads the record's name, version, calling mode, disabled word and
// file-adapter flags into the view again; whatever writes those words after
// the load (the plugin-list helpers) calls it.
void RefreshPluginView(qbPluginHandle* handle);

// The host's view of a loaded plugin.
inline qbPlugin* GetPluginInfo(qbPluginHandle* handle) { return handle ? &handle->view : nullptr; }

// The table root every plugin receives in InitPlugin.
const qbPluginBase* GetPluginBase();

// 1 when the record's name is one the player keeps for itself.
bool IsReservedPluginName(const char* name);
