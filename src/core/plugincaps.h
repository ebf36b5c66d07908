// The plugins that serve each loader capability, in load order: the image,
// anim, sound and video loaders and the file and directory adapters walk
// these lists of {next, plugin} nodes.
#pragma once

#include <cstdint>

#include "core/plugin.h"

// Whether the capability has a list at all (the six above).
bool HasPluginList(uint32_t capability);
// The first node of the capability's list; null when it is empty or the
// capability has none.
qbAdapterNode* GetPluginList(uint32_t capability);
// 0, ERR_WRONGUSAGE (no list for the capability), or as AppendPluginListEntry.
int AddPluginToCapabilityList(qbPlugin* plugin, uint32_t capability);
// Needs an applet of version 6.0 or newer (ERR_OLDAPPLET), then appends the
// plugin; a plugin already on the list stays there once. 0, ERR_OLDAPPLET,
// ERR_WRONGUSAGE (a null plugin or no list) or ERR_MEM.
int AppendPluginListEntry(uint32_t capability, qbPlugin* plugin);
// The plugin loader's join: no applet-version check, since the plugin does
// not ask to join itself. 0, ERR_WRONGUSAGE or ERR_MEM.
int AddLoadedPluginToList(uint32_t capability, qbPlugin* plugin);
// Takes every node of the plugin off the capability's list.
void RemovePluginFromCapabilityList(qbPlugin* plugin, uint32_t capability);
// Tag 16384 sets the plugin's file-adapter flags; other tags are ignored.
// Always 0.
int SetPluginAttrTag(qbPlugin* plugin, int tag, intptr_t value);
// Puts the plugins that a loader tag names ("a|b|inbuilt") on the
// capability's list when they have the capability and are not on it yet,
// marking them as serving only when named. Nothing for an empty or "default"
// tag or a capability without a list. The plugins looked through are the
// loaded ones the plugin list's finder knows, then those on any list.
void ParseLoaderTag(const char* tag, uint32_t capability);
// The plugin list installs its lookup of a loaded plugin by record name.
using LoadedPluginFinder = qbPlugin* (*)(const char* name);
void SetLoadedPluginFinder(LoadedPluginFinder finder);
// Empties all six lists.
void FreeCapabilityLists();
