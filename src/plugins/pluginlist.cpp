// The plugin list: the start-up scan of a folder, loading by path, requiring
// by name with its version test and the one RequirePlugin call.
#include "plugins/pluginlist.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "core/chars.h"
#include "core/errors.h"
#include "core/plugincaps.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "plugins/pluginlibrary.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kRequireNameMax = 255;

std::vector<std::unique_ptr<qbPluginNode>>& Nodes() {
    static std::vector<std::unique_ptr<qbPluginNode>> nodes;
    return nodes;
}

bool EndsWithQbp(const std::string& name) {
    return name.size() >= 4 && StrCmpNoCase(name.c_str() + name.size() - 4, ".qbp") == 0;
}

std::string WithoutQbp(const std::string& name) {
    return EndsWithQbp(name) ? name.substr(0, name.size() - 4) : name;
}

std::string WithoutUnderscore(const std::string& fileName) {
    return !fileName.empty() && fileName[0] == '_' ? fileName.substr(1) : fileName;
}

qbPluginNode* FindNodeByName(const std::string& name) {
    for (auto& node : Nodes())
        if (StrCmpNoCase(node->name.c_str(), name.c_str()) == 0) return node.get();
    return nullptr;
}

bool SkipListNames(const std::vector<std::string>* skip, const std::string& fileName) {
    if (!skip) return false;
    for (const std::string& entry : *skip) {
        if (entry == "*") return true;
        const std::string full = EndsWithQbp(entry) ? entry : entry + ".qbp";
        if (StrCmpNoCase(full.c_str(), fileName.c_str()) == 0) return true;
    }
    return false;
}

qbPlugin* FindLoadedPluginByName(const char* name);

qbPluginNode* AppendNode(const std::string& name, const std::string& path) {
    SetLoadedPluginFinder(&FindLoadedPluginByName);
    SetSampleSaverFinder(&FindSampleSaverPlugin);
    auto node = std::make_unique<qbPluginNode>();
    node->name = name;
    node->path = path;
    Nodes().push_back(std::move(node));
    return Nodes().back().get();
}

void StoreHandle(qbPluginNode& node, PluginHandlePtr handle, uint32_t capabilities) {
    node.handle = std::move(handle);
    node.capabilities = capabilities;
}

// Lets the loader-tag parser find plugins that serve only when named, which
// are on no list until a tag names them. A disabled plugin is passed over
// for a later one of the same name.
qbPlugin* FindLoadedPluginByName(const char* name) {
    for (auto& node : Nodes()) {
        if (!node->handle || node->handle->record.disabled) continue;
        if (node->handle->view.name && StrCmpNoCase(node->handle->view.name, name) == 0) return &node->handle->view;
    }
    return nullptr;
}

// Loading through the console's line ("Loading plugin x.qbp..." and done or
// failed).
int LoadWithMessage(const std::string& path, PluginHandlePtr* handle, uint32_t* capabilities) {
    PrintMessage(GetMessageText(MSG_LOADINGPLUGIN), path.c_str(), 1);
    const int err = OpenPluginFile(path.c_str(), capabilities, handle);
    if (err)
        PrintFailedMessage();
    else
        PrintDoneMessage();
    return err;
}

void ReportScanFailure(const std::string& path, int code) {
    char text[kErrorTextSize];
    GetErrorText(code, text);
    const std::string message = path + "\n(Reason: " + text + ")\n";
    ShowErrorRequester(GetMainState(), message.c_str(), 1, 0);
}

bool RequireVersionMet(const qbPlugin& plugin, int version, int revision) {
    return plugin.version > version || (plugin.version == version && plugin.revision >= revision);
}

int RequireFailure(const std::string& name, int version, int revision) {
    std::string detail = name + ".qbp";
    if (version || revision) {
        detail += ' ';
        detail += std::to_string(version);
        detail += '.';
        detail += std::to_string(revision);
    }
    SetErrorDetail(detail.c_str());
    return ERR_REQUIREPLUGIN;
}

}  // namespace

const std::vector<std::unique_ptr<qbPluginNode>>& GetPluginNodes() { return Nodes(); }

int ScanPluginFolder(const std::string& folder, const std::vector<std::string>* skip, int* counter) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        // Folders, FIFOs and devices are never plugins; opening a FIFO would
        // wait for a writer. is_regular_file follows links.
        std::error_code kind;
        if (!it->is_regular_file(kind)) continue;
        if (EndsWithQbp(it->path().filename().string())) files.push_back(it->path());
    }
    // Directory order is the file system's whim; names give a stable order.
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        if (counter) {
            ++*counter;
            continue;
        }
        const std::string fileName = file.filename().string();
        const std::string path = file.string();
        const bool registerOnly = fileName[0] == '_' || SkipListNames(skip, fileName);
        if (!registerOnly) {
            qbPluginNode* node = nullptr;
            const int err = LoadPluginByPath(path.c_str(), 0, &node);
            if (err && err != kPluginAlreadyThere) ReportScanFailure(path, err);
        } else if (!FindNodeByName(WithoutUnderscore(fileName))) {
            AppendNode(WithoutUnderscore(fileName), path);
        }
        if (int err = AdvanceStartupProgress()) return err;
    }
    return 0;
}

int LoadPluginByPath(const char* path, int addExtension, qbPluginNode** out) {
    std::string file = path ? path : "";
    if (addExtension && !EndsWithQbp(file)) file += ".qbp";
    const std::string name = WithoutUnderscore(FilePartEx(file.c_str()));
    qbPluginNode* node = FindNodeByName(name);
    if (node && (node->handle || !addExtension)) {
        if (out) *out = node;
        return kPluginAlreadyThere;
    }
    std::error_code ec;
    if (node && !fs::exists(file, ec)) file = node->path;
    PluginHandlePtr handle;
    uint32_t capabilities = 0;
    if (int err = LoadWithMessage(file, &handle, &capabilities)) return err;
    if (!node) {
        try {
            node = AppendNode(name, file);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    node->path = file;
    StoreHandle(*node, std::move(handle), capabilities);
    if (out) *out = node;
    return 0;
}

int RequirePluginByName(ScriptState* L, const char* name, int version, int revision, int skipInit, int adaptersOnly,
                        uintptr_t requireTags, uint32_t* answer) {
    static bool lineBreakPrinted = false;
    const std::string wanted = WithoutQbp(std::string(name ? name : "").substr(0, kRequireNameMax));
    qbPluginNode* found = nullptr;
    for (auto& node : Nodes()) {
        if (!node->handle) {
            if (StrCmpNoCase(WithoutQbp(node->name).c_str(), wanted.c_str()) != 0) continue;
            if (!lineBreakPrinted && GetRuntimeTag(kTagQuiet) == 0) {
                ConsolePrintf("\n");
                lineBreakPrinted = true;
            }
            PluginHandlePtr handle;
            uint32_t capabilities = 0;
            if (int err = LoadWithMessage(node->path, &handle, &capabilities)) return err;
            StoreHandle(*node, std::move(handle), capabilities);
            if (int err = RegisterPluginFormats(L, node.get())) return err;
        } else if (!node->handle->view.name ||
                   StrCmpNoCase(node->handle->view.name, wanted.c_str()) != 0) {
            continue;
        }
        found = node.get();
        break;
    }
    if (!found || !RequireVersionMet(found->handle->view, version, revision))
        return RequireFailure(wanted, version, revision);

    qbPluginHandle& h = *found->handle;
    if ((h.capabilities & PLUGINCAPS_LIBRARY) &&
        (h.record.extensions[FindLowestSetBit(PLUGINCAPS_LIBRARY)] & QBPLUGIN_EXT_DEFERLIBRARY) &&
        !h.record.libraryInitialised) {
        if (int err = InitLibraryPlugin(L, found, skipInit, !skipInit)) return err;
    }
    if (!(h.capabilities & PLUGINCAPS_REQUIRE)) return 0;
    if (adaptersOnly && !(h.capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER))) return 0;
    if (skipInit || found->required) return 0;

    qbPluginTag tags[3] = {};
    int n = 0;
    if (answer) tags[n++] = {QBREQUIRE_TAG_ANSWER, 0, reinterpret_cast<uintptr_t>(answer)};
    if (requireTags) tags[n++] = {QBREQUIRE_TAG_TAGLIST, 0, requireTags};
    found->required = 1;
    // A plugin that expects marshalled calls is answered with 0 here.
    if (!AdapterCallable(&h.view) || !h.record.RequirePlugin) return 0;
    return h.record.RequirePlugin(L, version, revision, 0, tags);
}

qbPluginNode* FindPluginNodeByInfo(const qbPluginRecord* record) {
    if (!record) return nullptr;
    for (auto& node : Nodes())
        if (node->handle && &node->handle->record == record) return node.get();
    return nullptr;
}

qbPluginListEntry* ListLoadedPlugins() {
    size_t count = 0;
    for (auto& node : Nodes()) count += node->handle != nullptr;
    if (count == 0) return nullptr;
    // One block, so that a plugin frees the whole chain with one free.
    auto* entries = static_cast<qbPluginListEntry*>(std::calloc(count, sizeof(qbPluginListEntry)));
    if (!entries) return nullptr;
    size_t i = 0;
    for (auto& node : Nodes()) {
        if (!node->handle) continue;
        entries[i].plugin = &node->handle->record;
        entries[i].next = i + 1 < count ? &entries[i + 1] : nullptr;
        ++i;
    }
    return entries;
}

void FreePluginNodeList() {
    // Unloaded in list order, each plugin's ClosePlugin before its library goes.
    for (auto& node : Nodes()) node->handle.reset();
    Nodes().clear();
}
