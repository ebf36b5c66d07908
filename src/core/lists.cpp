// The doubly linked list with head and tail sentinels.
#include "core/lists.h"

qbList::qbList() { InitList(this); }

void InitList(qbList* list) {
    list->head.succ = &list->tail;
    list->head.pred = nullptr;
    list->tail.succ = nullptr;
    list->tail.pred = &list->head;
}

bool IsListEmpty(const qbList* list) { return list->head.succ->succ == nullptr; }

qbNode* ListFirst(qbList* list) { return IsListEmpty(list) ? nullptr : list->head.succ; }

qbNode* ListLast(qbList* list) { return IsListEmpty(list) ? nullptr : list->tail.pred; }

namespace {

void LinkAfter(qbNode* before, qbNode* node) {
    node->succ = before->succ;
    node->pred = before;
    before->succ->pred = node;
    before->succ = node;
}

}  // namespace

void AddHeadNode(qbList* list, qbNode* node) { LinkAfter(&list->head, node); }

void AddTailNode(qbList* list, qbNode* node) { LinkAfter(list->tail.pred, node); }

void RemoveNode(qbNode* node) {
    if (!node || !node->succ || !node->pred) return;
    node->pred->succ = node->succ;
    node->succ->pred = node->pred;
}

qbNode* RemHeadNode(qbList* list) {
    qbNode* first = ListFirst(list);
    if (first) RemoveNode(first);
    return first;
}

void InsertNode(qbList* list, qbNode* node, qbNode* after) {
    if (!after) AddHeadNode(list, node);
    else if (after == &list->tail) AddTailNode(list, node);
    else LinkAfter(after, node);
}
