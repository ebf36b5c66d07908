// The file-adapter and directory-adapter capability lists.
#include "core/pluginadapters.h"

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

}  // namespace

int AppendPluginNode(qbAdapterNode** head, qbAdapterPlugin* plugin) {
    qbAdapterNode** link = head;
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

void RemovePluginNodes(qbAdapterNode** head, const qbAdapterPlugin* plugin) {
    for (qbAdapterNode** link = head; *link;) {
        if ((*link)->plugin == plugin) {
            std::unique_ptr<qbAdapterNode> owner(*link);
            *link = owner->next;
        } else {
            link = &(*link)->next;
        }
    }
}

void FreePluginNodes(qbAdapterNode** head) {
    while (qbAdapterNode* node = *head) {
        *head = node->next;
        std::unique_ptr<qbAdapterNode> owner(node);
    }
}

qbAdapterNode* GetAdapterList(uint32_t capability) {
    AdapterList* list = ListOf(capability);
    return list ? list->head : nullptr;
}

int AddAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin) {
    AdapterList* list = ListOf(capability);
    if (!list || !plugin) return ERR_WRONGUSAGE;
    return AppendPluginNode(&list->head, plugin);
}

void RemoveAdapterPlugin(uint32_t capability, qbAdapterPlugin* plugin) {
    if (AdapterList* list = ListOf(capability)) RemovePluginNodes(&list->head, plugin);
}

void FreeAdapterLists() {
    FreePluginNodes(&fileAdapters.head);
    FreePluginNodes(&dirAdapters.head);
}
