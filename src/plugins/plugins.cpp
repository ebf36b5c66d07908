// The plugin list as start-up and shutdown see it: the folders scanned, the
// require of start-up with its tag list, and unloading everything.
#include "plugins/plugins.h"

#include <filesystem>

#include "core/applet.h"
#include "core/linkeddata.h"
#include "display/adapter.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"


int ScanPlugins(const char* path, const std::vector<std::string>* skip, int* counter) {
    if (counter) *counter = 0;
    // Linked plugins first: a plugin of the same name beside the executable
    // is then already known and left alone.
    const std::string& linked = GetLinkedPluginFolder();
    if (!linked.empty()) {
        if (int err = ScanPluginFolder(linked, skip, counter)) return err;
    }
    if (!path || !*path) return 0;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return ScanPluginFolder(folder.empty() ? std::string(".") : folder.string(), skip, counter);
}

int ScanAndRegisterPlugins(ScriptState* L, qbCommandLine* cl) {
    if (int err = ScanPlugins(cl->executablePath, &cl->skipPlugins, nullptr)) return err;
    return RegisterAllPluginFormats(L);
}

int RegisterAllPluginFormats(ScriptState* L) {
    for (const auto& node : GetPluginNodes())
        if (int err = RegisterPluginFormats(L, node.get())) return err;
    return 0;
}

int RequirePluginWithTags(ScriptState* L, const char* name, int version, int revision,
                          const std::vector<qbRequireTag>& tags, int* hideDisplays) {
    // The plugin reads the tags as a chain of C nodes that live for the call.
    std::vector<qbRequireTagNode> nodes(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) {
        nodes[i].next = i + 1 < tags.size() ? &nodes[i + 1] : nullptr;
        nodes[i].key = tags[i].key.c_str();
        nodes[i].text = tags[i].isText ? tags[i].text.c_str() : nullptr;
        nodes[i].number = tags[i].number;
    }
    uint32_t answer = 0;
    const int err = RequirePluginByName(L, name, version, revision, 0, 0,
                                        nodes.empty() ? 0 : reinterpret_cast<uintptr_t>(nodes.data()), &answer);
    if (!err && (answer & QBREQUIRE_ANSWER_HIDEDISPLAYS) && hideDisplays) *hideDisplays = 1;
    return err;
}

void FreeLibraryPlugins(ScriptState* L) {
    for (const auto& node : GetPluginNodes()) {
        if (!node->handle || !(node->capabilities & PLUGINCAPS_LIBRARY)) continue;
        qbPluginHandle& h = *node->handle;
        if (!h.record.libraryInitialised || !h.record.FreeLibrary || !AdapterCallable(&h.view)) continue;
        h.record.FreeLibrary(L);
        h.record.libraryInitialised = 0;
    }
}

void FreePluginList() {
    // The adapters point into the plugins' records: forgotten before those go.
    ClearDisplayAdapters();
    FreePluginNodeList();
}
