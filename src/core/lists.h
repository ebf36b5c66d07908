// Intrusive lists: a doubly linked list with head and tail sentinels, and
// helpers for singly linked chains whose first field is the next link.
#pragma once

#include "core/chars.h"
#include "core/memory.h"

// Embedded as the first field of a record that lives in a list.
struct qbNode {
    qbNode* succ = nullptr;
    qbNode* pred = nullptr;
};

// head.succ is the first node (or &tail when empty), tail.pred the last (or
// &head); head.pred and tail.succ stay null. So a node is a real node exactly
// when its succ is non-null, and a walk from head.succ stops at the tail.
struct qbList {
    qbNode head;
    qbNode tail;

    qbList();
    qbList(const qbList&) = delete;  // the sentinels point into the record
    qbList& operator=(const qbList&) = delete;
};

void InitList(qbList* list);
bool IsListEmpty(const qbList* list);
// The first or last real node, or null.
qbNode* ListFirst(qbList* list);
qbNode* ListLast(qbList* list);
// The end marker that InsertNode takes for "at the tail".
inline qbNode* ListEndMarker(qbList* list) { return &list->tail; }

void AddHeadNode(qbList* list, qbNode* node);
void AddTailNode(qbList* list, qbNode* node);
// Unlinks the node and leaves its own links as they were, so a walk that
// removes the node it stands on can still step on.
void RemoveNode(qbNode* node);
qbNode* RemHeadNode(qbList* list);
// After `after`; at the head when it is null, at the tail when it is the end marker.
void InsertNode(qbList* list, qbNode* node, qbNode* after);

// A singly linked record with a name, for FindNamedNode.
struct qbNamedNode {
    qbNamedNode* next = nullptr;
    const char* name = nullptr;
};

// The first record of the chain whose name equals name ignoring case, or null.
template <typename Node>
Node* FindNamedNode(Node* first, const char* name) {
    if (!name) return nullptr;
    for (Node* n = first; n; n = n->next)
        if (n->name && StrCmpNoCase(n->name, name) == 0) return n;
    return nullptr;
}

// Frees every record of a chain made with AllocMemory and clears the head.
template <typename Node>
void FreeSimpleList(Node** head) {
    if (!head) return;
    while (Node* n = *head) {
        *head = n->next;
        FreeMemory(n);
    }
}
