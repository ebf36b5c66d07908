// A plugin's own entry list (word 15 of its record): each entry one block
// with its strings behind it, so that a single free drops it.
#include "plugins/pluginentries.h"

#include <cstdlib>
#include <cstring>

namespace {

size_t SizeOf(const char* text) { return text ? std::strlen(text) + 1 : 0; }

char* CopyInto(char*& at, const char* text) {
    if (text == nullptr) return nullptr;
    const size_t n = std::strlen(text) + 1;
    std::memcpy(at, text, n);
    char* copy = at;
    at += n;
    return copy;
}

}  // namespace

int AddPluginEntry(qbPluginRecord* plugin, int64_t value, const char* name, const char* secondName, const char* text,
                   int64_t furtherValue, uint32_t flags) {
    if (plugin == nullptr) return 0;
    const size_t size = sizeof(qbPluginEntry) + SizeOf(name) + SizeOf(secondName) + SizeOf(text);
    auto* entry = static_cast<qbPluginEntry*>(std::calloc(1, size));
    if (entry == nullptr) return 0;
    char* at = reinterpret_cast<char*>(entry + 1);
    entry->value = value;
    entry->name = CopyInto(at, name);
    entry->secondName = CopyInto(at, secondName);
    entry->text = CopyInto(at, text);
    if (flags & 1) entry->furtherValue = furtherValue;
    entry->flags = flags;
    auto** link = reinterpret_cast<qbPluginEntry**>(&plugin->ownedList);
    while (*link) link = &(*link)->next;
    *link = entry;
    return 1;
}

void FreePluginEntries(qbPluginRecord* plugin) {
    if (plugin == nullptr) return;
    auto* entry = static_cast<qbPluginEntry*>(plugin->ownedList);
    plugin->ownedList = nullptr;
    while (entry) {
        qbPluginEntry* next = entry->next;
        std::free(entry);
        entry = next;
    }
}
