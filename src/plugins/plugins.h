// The plugin list as start-up and shutdown see it: scanning the plugin
// folders, requiring plugins by name, and unloading them all.
#pragma once

#include <string>
#include <vector>

#include "core/preproc.h"

struct ScriptState;
struct qbCommandLine;

// Scans the linked-plugin folder and the folder of path; with a counter it
// only counts the plugin files. 0 or an error code.
int ScanPlugins(const char* path, const std::vector<std::string>* skip, int* counter);
// Builds the plugin list (skipping SKIPPLUGINS) and registers each plugin's formats.
int ScanAndRegisterPlugins(ScriptState* L, qbCommandLine* cl);
// Registers the formats and eager libraries of every loaded plugin in list
// order (each once); the first error ends it.
int RegisterAllPluginFormats(ScriptState* L);
// Loads and requires a plugin; *hideDisplays becomes 1 when it asks for hidden displays.
int RequirePluginWithTags(ScriptState* L, const char* name, int version, int revision,
                          const std::vector<qbRequireTag>& tags, int* hideDisplays);
// Calls FreeLibrary of every library plugin whose InitLibrary ran.
void FreeLibraryPlugins(ScriptState* L);
void FreePluginList();
