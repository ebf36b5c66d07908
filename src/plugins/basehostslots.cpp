// Table 1 of the plugin base: what plugins ask of the host about the applet,
// the running script, dates, mutexes, object types and the capability lists.
#include <algorithm>
#include <ctime>
#include <iterator>
#include <memory>
#include <new>

#include "core/applet.h"
#include "core/chars.h"
#include "core/context.h"
#include "core/objects.h"
#include "core/plugincaps.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/threads.h"
#include "display/refresh.h"
#include "libs/system.h"
#include "plugins/basesystemslots.h"
#include "plugins/plugin.h"
#include "plugins/pluginlist.h"

namespace {

// Set by slot 0 and read by the event layer when it takes them up; until
// then they are only kept.
int64_t tagWords[3] = {};

int64_t* TagWord(int tag) {
    switch (tag) {
        case QBHOST_TAG_WORDA: return &tagWords[0];
        case QBHOST_TAG_WORDB: return &tagWords[1];
        case QBHOST_TAG_WORDC: return &tagWords[2];
        default: return nullptr;
    }
}

const char* HeaderString(const qbApplet* applet, uint32_t tag) {
    if (applet == nullptr) return "";
    switch (tag) {
        case QBHOST_TAG_TITLE: return applet->title;
        case QBHOST_TAG_VERSION: return applet->version;
        case QBHOST_TAG_COPYRIGHT: return applet->copyright;
        case QBHOST_TAG_AUTHOR: return applet->author;
        case QBHOST_TAG_DESCRIPTION: return applet->description;
        default: return applet->identifier;
    }
}

}  // namespace

qbPlugin* PluginViewOf(const qbPluginRecord* record) {
    qbPluginNode* node = record ? FindPluginNodeByInfo(record) : nullptr;
    return node ? GetPluginInfo(node->handle.get()) : nullptr;
}

int64_t HostTagWord(int tag) {
    const int64_t* word = TagWord(tag);
    return word ? *word : 0;
}

int HostTagsSlot(qbPluginTag* tags) {
    if (tags == nullptr) return 0;
    const qbApplet* applet = GetAppletRecord(nullptr);
    int handled = 0;
    for (qbPluginTag* t = tags; t->tag != 0; ++t) {
        switch (t->tag) {
            case QBHOST_TAG_ZERO: t->value = 0; break;
            case QBHOST_TAG_TITLE:
            case QBHOST_TAG_VERSION:
            case QBHOST_TAG_COPYRIGHT:
            case QBHOST_TAG_AUTHOR:
            case QBHOST_TAG_DESCRIPTION:
            case QBHOST_TAG_IDENTIFIER: t->value = reinterpret_cast<uintptr_t>(HeaderString(applet, t->tag)); break;
            case QBHOST_TAG_FPSLIMIT: t->value = static_cast<uintptr_t>(GetFPSLimit()); break;
            case QBHOST_TAG_CALLBACKNESTING:
                SetRuntimeTag(kTagCallbackNesting, static_cast<int>(static_cast<intptr_t>(t->value)));
                break;
            case QBHOST_TAG_WORDA:
            case QBHOST_TAG_WORDB:
            case QBHOST_TAG_WORDC: *TagWord(static_cast<int>(t->tag)) = static_cast<intptr_t>(t->value); break;
            case QBHOST_TAG_RESETPOSITION:
                // Slot 47 reads the position from the stack each time, so
                // there is no stored position to reset.
                *TagWord(QBHOST_TAG_WORDB) = 0;
                break;
            default: continue;  // not counted
        }
        ++handled;
    }
    return handled;
}

void FormatDateSlot(char* to, size_t size) {
    if (to && size > 0) FormatCurrentDate(to, size);
}

int RegisterObjectTypeSlot(void** head, const char* name, uint32_t flags, uint32_t value) {
    // Unnamed lists are the host libraries' own; a plugin type has a name.
    if (head == nullptr || name == nullptr || *name == 0) return 0;
    int type = 0;
    if (RegisterObjectType(reinterpret_cast<qbObject**>(head), name, flags, &type, value) != 0) return 0;
    return type;
}

void FreeObjectDataSlot(ScriptState* L, void* object) {
    if (object) FreeObjectDataList(L ? L : GetMainState(), &static_cast<qbObject*>(object)->data);
}

qbMutex* CreateMutexSlot() {
    try {
        return AllocMutex().release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void FreeMutexSlot(qbMutex* mutex) {
    qbMutexPtr owned(mutex);
    if (owned) FreeMutex(owned);
}
void LockMutexSlot(qbMutex* mutex) {
    if (mutex) LockMutex(mutex);
}
void UnlockMutexSlot(qbMutex* mutex) {
    if (mutex) UnlockMutex(mutex);
}

void CurrentDateSlot(int32_t out[6]) {
    if (out == nullptr) return;
    const time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const int32_t words[6] = {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year + 1900};
    std::copy(std::begin(words), std::end(words), out);
}

char* ConvertCharsetSlot(const char* text, int from, int to) { return ConvertCharset(text, from, to); }

int AddToCapabilityListSlot(qbPluginRecord* plugin, uint32_t capability) {
    return AddPluginToCapabilityList(PluginViewOf(plugin), capability);
}
void RemoveFromCapabilityListSlot(qbPluginRecord* plugin, uint32_t capability) {
    if (qbPlugin* view = PluginViewOf(plugin)) RemovePluginFromCapabilityList(view, capability);
}

int SetPluginAttrTagSlot(qbPluginRecord* plugin, int tag, intptr_t value) {
    qbPlugin* view = PluginViewOf(plugin);
    if (view == nullptr || !(view->capabilities & PLUGINCAPS_FILEADAPTER)) return 0;
    const int result = SetPluginAttrTag(view, tag, value);
    // The record's word follows, so that a plugin reading it sees the same.
    plugin->fileAdapterFlags = view->fileAdapterFlags;
    return result;
}

void ScriptPositionSlot(const char** name, const char** placeholder, int32_t* line) {
    ScriptState* L = GetMainState();
    // The context holds a line only while an error is reported; otherwise
    // it is filled from the stack for this call and emptied again.
    const bool passing = L && GetCurrentLine() < 0;
    if (passing) UpdateCurrentCommandInfo(L);
    if (name) *name = L ? GetCurrentScriptName(L) : "---";
    if (placeholder) *placeholder = "----";
    if (line) *line = L ? GetCurrentScriptLine(L) : -1;
    if (passing) ResetCurrentCommandInfo();
}
