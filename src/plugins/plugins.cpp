// The plugin list: plugins cannot be loaded yet, so every scan finds none.
#include "plugins/plugins.h"

#include "core/chars.h"
#include "core/errors.h"

int ScanPlugins(const char*, const std::vector<std::string>*, int* counter) {
    if (counter) *counter = 0;
    return 0;
}

int ScanAndRegisterPlugins(ScriptState*, qbCommandLine*) { return 0; }

int RequirePluginWithTags(ScriptState*, const char* name, int version, int revision,
                          const std::vector<qbRequireTag>&, int*) {
    // No plugin is ever found, so every require fails as a missing plugin.
    std::string detail = name ? name : "";
    if (detail.size() < 4 || StrCmpNoCase(detail.c_str() + detail.size() - 4, ".qbp") != 0) detail += ".qbp";
    if (version || revision) {
        // Appended piece by piece: g++ 12 at -O3 misreads `" " + temporary` as an overlapping copy.
        detail += ' ';
        detail += std::to_string(version);
        detail += '.';
        detail += std::to_string(revision);
    }
    SetErrorDetail(detail.c_str());
    return ERR_REQUIREPLUGIN;
}

void FreeLibraryPlugins(ScriptState*) {}

void FreePluginList() {}
