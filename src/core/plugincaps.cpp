// Capability lists of the loader plugins; the two adapter lists are the file
// layer's, reached through its adapter registry.
#include "core/plugincaps.h"

#include <memory>
#include <new>

#include <string>
#include <string_view>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/loadertags.h"
#include "core/runstate.h"

namespace {

constexpr int kPluginTagFileAdapterFlags = 16384;

struct LoaderList {
    qbAdapterNode* head = nullptr;
};

struct LoaderLists {
    LoaderList image, anim, sound, video;
};

LoaderLists& Lists() {
    static LoaderLists lists;
    return lists;
}

LoaderList* LoaderListOf(uint32_t capability) {
    LoaderLists& l = Lists();
    switch (capability) {
    case PLUGINCAPS_IMAGE: return &l.image;
    case PLUGINCAPS_ANIM: return &l.anim;
    case PLUGINCAPS_SOUND: return &l.sound;
    case PLUGINCAPS_VIDEO: return &l.video;
    default: return nullptr;
    }
}

bool IsAdapterCapability(uint32_t capability) {
    return capability == PLUGINCAPS_FILEADAPTER || capability == PLUGINCAPS_DIRADAPTER;
}

bool IsOnList(const qbPlugin* plugin, uint32_t capability) {
    for (qbAdapterNode* n = GetPluginList(capability); n; n = n->next)
        if (n->plugin == plugin) return true;
    return false;
}

LoadedPluginFinder& Finder() {
    static LoadedPluginFinder finder = nullptr;
    return finder;
}

// The first loaded plugin of that name that is not disabled, in the plugin
// list's order; without the plugin list (a plugin that joined a list
// itself), the first of that name on any list.
qbPlugin* FindListedPlugin(const char* name) {
    if (LoadedPluginFinder finder = Finder())
        if (qbPlugin* plugin = finder(name)) return plugin;
    for (uint32_t capability : {PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM, PLUGINCAPS_SOUND, PLUGINCAPS_VIDEO,
                                PLUGINCAPS_FILEADAPTER, PLUGINCAPS_DIRADAPTER})
        for (qbAdapterNode* n = GetPluginList(capability); n; n = n->next)
            if (n->plugin && !n->plugin->skipAsLoader && n->plugin->name && StrCmpNoCase(n->plugin->name, name) == 0)
                return n->plugin;
    return nullptr;
}

}  // namespace

bool HasPluginList(uint32_t capability) { return LoaderListOf(capability) || IsAdapterCapability(capability); }

qbAdapterNode* GetPluginList(uint32_t capability) {
    if (IsAdapterCapability(capability)) return GetAdapterList(capability);
    const LoaderList* list = LoaderListOf(capability);
    return list ? list->head : nullptr;
}

int AddPluginToCapabilityList(qbPlugin* plugin, uint32_t capability) {
    if (!HasPluginList(capability)) return ERR_WRONGUSAGE;
    return AppendPluginListEntry(capability, plugin);
}

int AppendPluginListEntry(uint32_t capability, qbPlugin* plugin) {
    if (!plugin || !HasPluginList(capability)) return ERR_WRONGUSAGE;
    // Plugins may join the lists themselves only for applets of 6.0 on.
    if (!RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    if (IsAdapterCapability(capability)) return AddAdapterPlugin(capability, plugin);
    return AppendPluginNode(&LoaderListOf(capability)->head, plugin);
}

int AddLoadedPluginToList(uint32_t capability, qbPlugin* plugin) {
    if (!plugin || !HasPluginList(capability)) return ERR_WRONGUSAGE;
    if (IsAdapterCapability(capability)) return AddAdapterPlugin(capability, plugin);
    return AppendPluginNode(&LoaderListOf(capability)->head, plugin);
}

void SetLoadedPluginFinder(LoadedPluginFinder finder) { Finder() = finder; }

void RemovePluginFromCapabilityList(qbPlugin* plugin, uint32_t capability) {
    if (IsAdapterCapability(capability))
        RemoveAdapterPlugin(capability, plugin);
    else if (LoaderList* list = LoaderListOf(capability))
        RemovePluginNodes(&list->head, plugin);
}

int SetPluginAttrTag(qbPlugin* plugin, int tag, intptr_t value) {
    if (plugin && tag == kPluginTagFileAdapterFlags) plugin->fileAdapterFlags = static_cast<uint32_t>(value);
    return 0;
}

void ParseLoaderTag(const char* tag, uint32_t capability) {
    if (IsOpenLoaderTag(tag) || !HasPluginList(capability)) return;
    AnyLoaderTagItem(tag, [capability](std::string_view item) {
        if (item.empty() || IsReservedLoaderWord(item)) return false;
        qbPlugin* plugin = FindListedPlugin(std::string(item).c_str());
        if (plugin && (plugin->capabilities & capability) && !IsOnList(plugin, capability)) {
            const int err = IsAdapterCapability(capability)
                                ? AddAdapterPlugin(capability, plugin)
                                : AppendPluginNode(&LoaderListOf(capability)->head, plugin);
            // Out of memory the plugin just stays off the list.
            if (err == 0) plugin->onlyWhenNamed = 1;
        }
        return false;
    });
}

void FreeCapabilityLists() {
    LoaderLists& l = Lists();
    for (LoaderList* list : {&l.image, &l.anim, &l.sound, &l.video}) FreePluginNodes(&list->head);
    FreeAdapterLists();
}
