// Process-wide runtime settings behind {tag, value} lists, the hooks that
// answer the tags other parts own, and the registry of library command tables.
#include "core/settings.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/chars.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/objects.h"
#include "core/plugincaps.h"
#include "core/pluginhooks.h"

namespace {

struct RuntimeSettings {
    int quiet = 0;
    int declaring = 0;
    int callbackNesting = 0;
    int raiseErrors = 1;
    int fileAndLine = 0;
};

struct RuntimeLists {
    RuntimeSettings settings;
    std::vector<TagHookFn> setHooks;
    std::vector<TagHookFn> getHooks;
    std::vector<CommandTableNode> commandTables;
};

RuntimeLists& Runtime() {
    static RuntimeLists runtime;
    return runtime;
}

// Returns false for the tags this file doesn't keep.
bool StoreTag(int tag, intptr_t value) {
    RuntimeSettings& s = Runtime().settings;
    const int v = static_cast<int>(value);
    switch (tag) {
    case kTagQuiet: s.quiet = v; return true;
    case kTagDeclaring: s.declaring = v; return true;
    case kTagRaiseErrors: s.raiseErrors = v; return true;
    case kTagFileAndLine: s.fileAndLine = v; return true;
    case kTagCallbackNesting:
        // Callbacks nest, so this counts; an unbalanced lowering must not
        // leave the runtime believing forever that a callback is running.
        if (value) ++s.callbackNesting;
        else if (s.callbackNesting > 0) --s.callbackNesting;
        return true;
    default: return false;
    }
}

// The file-and-line setting is written through tags but not read back: it
// belongs to the error texts, which read it through GetRuntimeTag.
bool ReadTag(int tag, int* out) {
    const RuntimeSettings& s = Runtime().settings;
    switch (tag) {
    case kTagQuiet: *out = s.quiet; return true;
    case kTagDeclaring: *out = s.declaring; return true;
    case kTagCallbackNesting: *out = s.callbackNesting; return true;
    case kTagRaiseErrors: *out = s.raiseErrors; return true;
    default: return false;
    }
}

bool OfferToHooks(const std::vector<TagHookFn>& hooks, void* arg, int tag, intptr_t value) {
    for (TagHookFn fn : hooks)
        if (fn(arg, tag, value) != 0) return true;
    return false;
}

int AddHook(std::vector<TagHookFn>& hooks, TagHookFn fn) {
    // A library opened again adds its hook once.
    if (std::find(hooks.begin(), hooks.end(), fn) != hooks.end()) return 0;
    try {
        hooks.push_back(fn);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void ClearLists() {
    RuntimeLists& r = Runtime();
    r.setHooks.clear();
    r.getHooks.clear();
    r.commandTables.clear();
}

}  // namespace

int SetRuntimeTags(void* arg, const RuntimeTagItem* items, int count) {
    int handled = 0;
    for (int i = 0; i < count && items[i].tag != 0; ++i) {
        const RuntimeTagItem& item = items[i];
        if (StoreTag(item.tag, item.value) || OfferToHooks(Runtime().setHooks, arg, item.tag, item.value))
            ++handled;
    }
    return handled;
}

int GetRuntimeTags(void* arg, const RuntimeTagItem* items, int count) {
    int handled = 0;
    for (int i = 0; i < count && items[i].tag != 0; ++i) {
        const RuntimeTagItem& item = items[i];
        int value = 0;
        if (ReadTag(item.tag, &value)) {
            if (int* out = reinterpret_cast<int*>(item.value)) *out = value;
            ++handled;
        } else if (OfferToHooks(Runtime().getHooks, arg, item.tag, item.value)) {
            ++handled;
        }
    }
    return handled;
}

void SetRuntimeTag(int tag, int value) {
    const RuntimeTagItem item{tag, value};
    SetRuntimeTags(nullptr, &item, 1);
}

int GetRuntimeTag(int tag) {
    if (tag == kTagFileAndLine) return Runtime().settings.fileAndLine;
    int value = 0;
    const RuntimeTagItem item{tag, reinterpret_cast<intptr_t>(&value)};
    GetRuntimeTags(nullptr, &item, 1);
    return value;
}

int AddSetTagHook(TagHookFn fn) { return AddHook(Runtime().setHooks, fn); }
int AddGetTagHook(TagHookFn fn) { return AddHook(Runtime().getHooks, fn); }

int RegisterCommandTable(const ScriptCommand* table, const char* libname, const ScriptConstant* constants) {
    CommandTableNode node{};
    node.table = table;
    node.constants = constants;
    if (libname) {
        std::strncpy(node.name, libname, sizeof(node.name) - 1);
        node.name[sizeof(node.name) - 1] = 0;
    }
    // A library opened again in the same process (a new VM, a new
    // applet) records nothing twice: the list would grow with every open.
    for (const CommandTableNode& known : Runtime().commandTables)
        if (known.table == table && known.constants == constants && std::strcmp(known.name, node.name) == 0) return 0;
    try {
        Runtime().commandTables.push_back(node);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

std::span<const CommandTableNode> RegisteredCommandTables() { return Runtime().commandTables; }

namespace {

const ScriptCommand* FindCommandRow(const char* name) {
    if (!name) return nullptr;
    for (const CommandTableNode& node : Runtime().commandTables) {
        if (!node.table) continue;
        for (const ScriptCommand* row = node.table; row->name; ++row)
            if (row->handler && StrCmpNoCase(row->name, name) == 0) return row;
    }
    return nullptr;
}

}  // namespace

const char* FindCommandSpelling(const char* name) {
    const ScriptCommand* row = FindCommandRow(name);
    return row ? row->name : nullptr;
}

CommandHandler FindCommandHandler(const char* name) {
    const ScriptCommand* row = FindCommandRow(name);
    return row ? row->handler : nullptr;
}

namespace {

// The plugin capability lists go last: plugin code reached through the
// hooks and registries before them may still look at them.
void FreeLists() {
    ClearLists();
    FreeUserErrorList();
    FreeObjectTypeRegistry();
    FreePluginHooks();
    FreeCapabilityLists();
}

}  // namespace

// The settings are left alone: start-up sets the quiet setting from the
// command line before it gets here.
int InitRuntimeCore() {
    FreeLists();
    SetCurrentSourceName("?");
    return InitEventQueue();
}

void FreeRuntimeLists(ScriptState* L) {
    FreeLists();
    ClearEventQueue(L);
    SetCurrentSourceName("?");
}

void ResetRuntimeSettings() {
    FreeLists();
    Runtime().settings = RuntimeSettings{};
}
