// The entry list that a plugin fills through the base table (word 15 of its
// record), freed when the plugin is unloaded.
#pragma once

#include <cstdint>

#include "core/plugin.h"

// Appends an entry with copies of the strings; the further value is kept
// only with flag bit 0. 1, or 0 when memory runs out.
int AddPluginEntry(qbPluginRecord* plugin, int64_t value, const char* name, const char* secondName, const char* text,
                   int64_t furtherValue, uint32_t flags);
void FreePluginEntries(qbPluginRecord* plugin);
