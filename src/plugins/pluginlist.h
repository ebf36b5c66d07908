// The plugin list: every plugin the player knows, loaded or not, in the order
// it was found; loading by path and requiring by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/plugin.h"

struct ScriptState;

struct qbPluginNode {
    uint32_t capabilities = 0;
    // Null while the plugin is known but not loaded.
    PluginHandlePtr handle;
    // The file name without a leading "_", with its extension.
    std::string name;
    std::string path;
    // RequirePlugin has been called (once per plugin and run).
    int required = 0;
    // Its library step and saver formats have run (once per plugin and run).
    bool formatsRegistered = false;
};

// LoadPluginByPath's answer for a plugin of that file name that is already
// there: no failure, and not a user break.
constexpr int kPluginAlreadyThere = -1;

// The nodes in list order.
const std::vector<std::unique_ptr<qbPluginNode>>& GetPluginNodes();

// Scans one folder: loads every ".qbp" file at once except those named with
// a leading "_" or in the skip list ("*" names all), which only become
// known. A file that fails to load is reported and the scan goes on. With a
// counter it only counts. 0 or ERR_USERABORT from the progress.
int ScanPluginFolder(const std::string& folder, const std::vector<std::string>* skip, int* counter);

// Loads one file now; with addExtension ".qbp" is appended when missing. 0,
// kPluginAlreadyThere (*out is the existing node) when a plugin of that file
// name is loaded, or merely known and addExtension is 0, or a load error.
int LoadPluginByPath(const char* path, int addExtension, qbPluginNode** out);

// Loads the plugin on its first use, checks its version and calls its
// RequirePlugin once with tag 1 (the address of *answer, when given) and tag
// 2 (requireTags, when not 0). A plugin loaded here registers its formats; a
// library deferred to its require registers now (its constants only with
// skipInit, else its commands and InitLibrary). 0, ERR_REQUIREPLUGIN, a load
// or registration error or RequirePlugin's own result.
int RequirePluginByName(ScriptState* L, const char* name, int version, int revision, int skipInit, int adaptersOnly,
                        uintptr_t requireTags, uint32_t* answer);

// The node whose loaded plugin has this record, or null.
qbPluginNode* FindPluginNodeByInfo(const qbPluginRecord* record);
// A chain of {next, record} entries in one block (freed with one free), one
// per loaded plugin in list order; null when none is loaded or memory ran out.
qbPluginListEntry* ListLoadedPlugins();
// Unloads every loaded plugin (in list order) and forgets every node.
void FreePluginNodeList();
