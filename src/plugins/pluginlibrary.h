// What a loaded plugin brings to the scripts: a library plugin's command
// tables, constants and initialisation, and the saver formats that become
// constants and that the writers look up by id.
#pragma once

#include <cstdint>

#include "plugins/pluginlist.h"

struct ScriptState;

// Registers the library's tables (every library index of the plugin): with
// initialise its commands, under the base table's name or as globals, and
// then InitLibrary runs (the stack top kept); with registerConstants its
// constants. 0, ERR_MEM or InitLibrary's result.
int InitLibraryPlugin(ScriptState* L, qbPluginNode* node, int registerConstants, int initialise);

// The library step (for libraries not deferred to their require) and the
// saver formats of one loaded plugin; once per plugin. L may be null (tests
// of the list), which registers nothing with a VM. 0, ERR_MEM, ERR_LOADPLUGIN
// (a register function that never ends its list) or InitLibrary's result.
int RegisterPluginFormats(ScriptState* L, qbPluginNode* node);

// The formats a saver registered, for the writers.
struct qbSaverMatch {
    qbPluginRecord* plugin = nullptr;
    const qbSaverFormat* format = nullptr;
};
// The first loaded plugin with the saver capability (PLUGINCAPS_SAVEIMAGE,
// _SAVEANIM or _SAVESAMPLE) that registered the format id; false when none.
bool FindSaverFormat(uint32_t capability, uint64_t id, qbSaverMatch* out);

// The SaveSample entry point of the SAVESAMPLE plugin that registered the
// format id (the sound core's finder); null when none can be called.
qbSaveSampleFunc FindSampleSaverPlugin(uint64_t id);

// The saver arrays a plugin record holds (words 110, 115 and 118).
void FreeSaverFormats(qbPluginRecord* record);

// Writes the list of loaded plugins in list order: "::plugin", version,
// capability mask and the eight texts of each, and for a library its
// commands and constants; "::end" last. 0, or ERR_WRITEFILE with the file
// name as detail.
int ExportPluginList(const char* fileName);
