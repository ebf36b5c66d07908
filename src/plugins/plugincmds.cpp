// The system library's plugin commands over the plugin list: asking for a
// plugin, passing a loader over or using it again, listing the loaded ones
// and loading one by its path.
#include "plugins/plugincmds.h"

#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/preproc.h"
#include "libs/system.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"

namespace {

constexpr char kExtension[] = ".qbp";
constexpr size_t kExtensionLength = sizeof kExtension - 1;

bool HasExtension(const std::string& name) {
    return name.size() >= kExtensionLength &&
           StrCmpNoCase(name.c_str() + name.size() - kExtensionLength, kExtension) == 0;
}

std::string WithExtension(const std::string& name) { return HasExtension(name) ? name : name + kExtension; }

qbPluginNode* FindNode(const std::string& fileName, bool loadedOnly) {
    for (const auto& node : GetPluginNodes()) {
        if (loadedOnly && !node->handle) continue;
        if (StrCmpNoCase(node->name.c_str(), fileName.c_str()) == 0) return node.get();
    }
    return nullptr;
}

int SetLoaderDisabled(ScriptState* L, bool disabled) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string name = VmCheckString(L, 1, nullptr);
    qbPluginNode* node = FindNode(WithExtension(name), true);
    if (!node) {
        SetErrorDetail(name.c_str());
        return ERR_FINDPLUGIN;
    }
    node->handle->record.disabled = disabled ? 1 : 0;
    // The loader lists read the view's copy of the word.
    RefreshPluginView(node->handle.get());
    return 0;
}

void SetText(ScriptState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value ? value : "");
    VmSetTableAt(L, -3);
}

void SetNumber(ScriptState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmSetTableAt(L, -3);
}

// One table per entry the plugin put on its own list: a format it reads.
void PushFileTypes(ScriptState* L, const qbPluginRecord& record) {
    VmPushNewTable(L);
    int index = 0;
    for (auto* e = static_cast<const qbPluginEntry*>(record.ownedList); e; e = e->next) {
        VmPushNewTable(L);
        SetNumber(L, "type", static_cast<double>(e->value));
        SetText(L, "name", e->name);
        SetText(L, "extensions", e->secondName);
        SetText(L, "mimetype", e->text);
        SetNumber(L, "formatid", static_cast<double>(e->furtherValue));
        SetNumber(L, "flags", static_cast<double>(e->flags));
        VmRawSetIndex(L, -2, index++);
    }
}

void PushPluginTable(ScriptState* L, const qbPluginNode& node) {
    const qbPluginRecord& r = node.handle->record;
    VmPushNewTable(L);
    SetNumber(L, "version", static_cast<double>(r.version));
    SetNumber(L, "revision", static_cast<double>(r.revision));
    SetNumber(L, "capabilities", static_cast<double>(node.capabilities));
    SetText(L, "name", r.name);
    SetText(L, "modulename", node.name.c_str());
    SetText(L, "author", r.author);
    SetText(L, "description", r.description);
    SetText(L, "copyright", r.copyright);
    SetText(L, "url", r.url);
    SetText(L, "date", r.date);
    SetText(L, "settings", r.settings);
    SetText(L, "helpfile", r.helpText);
    SetNumber(L, "disabled", static_cast<double>(r.disabled));
    SetText(L, "path", node.path.c_str());
    VmPushString(L, "filetypes");
    PushFileTypes(L, r);
    VmSetTableAt(L, -3);
}

// What LoadPlugin's option table asks for.
struct LoadOptions {
    int version = 0;
    int revision = 0;
    int skipRequire = 0;
    bool versionGiven = false;
    std::vector<qbRequireTag> tags;
};

int ReadLoadOptions(ScriptState* L, int idx, LoadOptions* out) {
    VmCheckTable(L, idx);
    VmPushNil(L);
    while (VmNext(L, idx)) {
        // The key sits below the value; both stay for the next step.
        if (VmType(L, -2) != kTypeString) return ERR_WRONGUSAGE;
        const std::string key = VmToCString(L, -2);
        const int type = VmType(L, -1);
        if (type != kTypeNumber && type != kTypeString) return ERR_WRONGUSAGE;
        int* word = StrCmpNoCase(key.c_str(), "version") == 0       ? &out->version
                    : StrCmpNoCase(key.c_str(), "revision") == 0    ? &out->revision
                    : StrCmpNoCase(key.c_str(), "skiprequire") == 0 ? &out->skipRequire
                                                                    : nullptr;
        if (word) {
            if (type != kTypeNumber) return ERR_WRONGUSAGE;
            *word = ClampToInt32(VmToNumber(L, -1));
            if (word == &out->version) out->versionGiven = true;
        } else {
            qbRequireTag tag;
            tag.key = key;
            if (type == kTypeString) {
                tag.isText = true;
                tag.text.assign(VmToCString(L, -1), VmStrLen(L, -1));
            } else {
                tag.number = VmToNumber(L, -1);
            }
            out->tags.push_back(std::move(tag));
        }
        VmSetTop(L, -2);
    }
    return 0;
}

}  // namespace

int cmdHavePluginList(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const std::string name = WithExtension(VmCheckString(L, 1, nullptr));
    const int version = ClampToInt32(VmOptNumber(L, 2, 0));
    const int revision = ClampToInt32(VmOptNumber(L, 3, 0));
    const qbPluginNode* node = FindNode(name, false);
    int known = 0;
    int loaded = 0;
    if (node && !node->handle) {
        known = 1;
    } else if (node) {
        const qbPluginRecord& r = node->handle->record;
        // A higher version passes whatever its revision.
        if (r.version > version || (r.version == version && r.revision >= revision)) known = loaded = 1;
    }
    VmPushNumber(L, known);
    VmPushNumber(L, loaded);
    return 2;
}

int cmdEnablePluginList(ScriptState* L) { return SetLoaderDisabled(L, false); }

int cmdDisablePluginList(ScriptState* L) { return SetLoaderDisabled(L, true); }

int PushLoadedPluginList(ScriptState* L) {
    VmPushNewTable(L);
    int index = 0;
    for (const auto& node : GetPluginNodes()) {
        if (!node->handle) continue;
        PushPluginTable(L, *node);
        VmRawSetIndex(L, -2, index++);
    }
    return 0;
}

int cmdGetPluginList(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (int err = PushLoadedPluginList(L)) return err;
    return 1;
}

int cmdLoadPluginByPath(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const std::string path = VmCheckString(L, 1, nullptr);
    LoadOptions options;
    if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) {
        if (int err = ReadLoadOptions(L, 2, &options)) return err;
    }
    qbPluginNode* node = nullptr;
    const int loaded = LoadPluginByPath(path.c_str(), 1, &node);
    if (loaded == kPluginAlreadyThere) {
        if (options.versionGiven || node->required) {
            SetErrorDetail(FilePartEx(node->path.c_str()));
            return ERR_PLUGINDOUBLET;
        }
    } else if (loaded) {
        return loaded;
    } else if (int err = RegisterPluginFormats(L, node)) {
        return err;
    }
    if (!node || !node->handle) return ERR_LOADPLUGIN;
    const char* name = node->handle->view.name;
    // The plugin reads the named arguments as a chain of C nodes that live
    // for the call.
    std::vector<qbRequireTagNode> chain(options.tags.size());
    for (size_t i = 0; i < options.tags.size(); ++i) {
        const qbRequireTag& tag = options.tags[i];
        chain[i].next = i + 1 < chain.size() ? &chain[i + 1] : nullptr;
        chain[i].key = tag.key.c_str();
        chain[i].text = tag.isText ? tag.text.c_str() : nullptr;
        chain[i].number = tag.number;
    }
    return RequirePluginByName(L, name ? name : "", options.version, options.revision, options.skipRequire, 0,
                               chain.empty() ? 0 : reinterpret_cast<uintptr_t>(chain.data()), nullptr);
}

void InstallPluginCommands() {
    qbSystemPluginCommands commands;
    commands.havePlugin = cmdHavePluginList;
    commands.enablePlugin = cmdEnablePluginList;
    commands.disablePlugin = cmdDisablePluginList;
    commands.getPlugins = cmdGetPluginList;
    commands.loadPlugin = cmdLoadPluginByPath;
    commands.pushPluginList = PushLoadedPluginList;
    SetSystemPluginCommands(commands);
}
