// The file-adapter and directory-adapter capability lists.
#include "plugins/adapters.h"

#include <memory>
#include <new>

#include "core/errcodes.h"

namespace {

struct AdapterList {
    qbAdapterNode* head = nullptr;
};

AdapterList fileAdapters;
AdapterList dirAdapters;

AdapterList* ListOf(uint32_t capability) {
    if (capability == kPluginCapsFileAdapter) return &fileAdapters;
    if (capability == kPluginCapsDirAdapter) return &dirAdapters;
    return nullptr;
}

void FreeList(AdapterList* list) {
    while (qbAdapterNode* node = list->head) {
        list->head = node->next;
        std::unique_ptr<qbAdapterNode> owner(node);
    }
}

}  // namespace

qbAdapterNode* GetAdapterList(uint32_t capability) {
    AdapterList* list = ListOf(capability);
    return list ? list->head : nullptr;
}

int AddAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin) {
    AdapterList* list = ListOf(capability);
    if (!list || !plugin) return ERR_WRONGUSAGE;
    qbAdapterNode** link = &list->head;
    for (; *link; link = &(*link)->next)
        if ((*link)->plugin == plugin) return 0;
    try {
        auto node = std::make_unique<qbAdapterNode>();
        node->plugin = plugin;
        *link = node.release();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void RemoveAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin) {
    AdapterList* list = ListOf(capability);
    if (!list) return;
    for (qbAdapterNode** link = &list->head; *link;) {
        if ((*link)->plugin == plugin) {
            std::unique_ptr<qbAdapterNode> owner(*link);
            *link = owner->next;
        } else {
            link = &(*link)->next;
        }
    }
}

void FreeAdapterLists() {
    FreeList(&fileAdapters);
    FreeList(&dirAdapters);
}
