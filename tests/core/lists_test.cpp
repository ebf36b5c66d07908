// The sentinel list, named-node search, freeing singly linked chains, and
// the shared allocator they use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/lists.h"
#include "core/memory.h"

namespace {

struct Item {
    qbNode node;
    int value;
};

Item* AsItem(qbNode* n) { return reinterpret_cast<Item*>(n); }

std::vector<int> Forward(qbList& list) {
    std::vector<int> out;
    for (qbNode* n = list.head.succ; n->succ; n = n->succ) out.push_back(AsItem(n)->value);
    return out;
}

std::vector<int> Backward(qbList& list) {
    std::vector<int> out;
    for (qbNode* n = list.tail.pred; n->pred; n = n->pred) out.push_back(AsItem(n)->value);
    return out;
}

}  // namespace

TEST(Lists, AddAndInsertKeepBothDirectionsInStep) {
    qbList list;
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(ListFirst(&list), nullptr);
    EXPECT_EQ(ListLast(&list), nullptr);
    Item a{{}, 1}, b{{}, 2}, c{{}, 3}, d{{}, 4}, e{{}, 5}, f{{}, 6};
    AddTailNode(&list, &b.node);
    AddHeadNode(&list, &a.node);
    AddTailNode(&list, &d.node);
    InsertNode(&list, &c.node, &b.node);
    InsertNode(&list, &e.node, ListEndMarker(&list));
    InsertNode(&list, &f.node, nullptr);
    EXPECT_EQ(Forward(list), (std::vector<int>{6, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Backward(list), (std::vector<int>{5, 4, 3, 2, 1, 6}));
    EXPECT_EQ(ListFirst(&list), &f.node);
    EXPECT_EQ(ListLast(&list), &e.node);
}

TEST(Lists, RemovingTheNodeAWalkStandsOnLetsTheWalkGoOn) {
    qbList list;
    std::vector<Item> items(6);
    for (int i = 0; i < 6; ++i) {
        items[i].value = i;
        AddTailNode(&list, &items[i].node);
    }
    for (qbNode* n = list.head.succ; n->succ; n = n->succ)
        if (AsItem(n)->value % 2) RemoveNode(n);
    EXPECT_EQ(Forward(list), (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(Backward(list), (std::vector<int>{4, 2, 0}));

    EXPECT_EQ(RemHeadNode(&list), &items[0].node);
    RemoveNode(&items[4].node);
    EXPECT_EQ(RemHeadNode(&list), &items[2].node);
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(RemHeadNode(&list), nullptr);

    // An emptied list takes nodes again, and a node that was never linked
    // is left alone.
    AddHeadNode(&list, &items[5].node);
    Item loose{};
    RemoveNode(&loose.node);
    EXPECT_EQ(Forward(list), (std::vector<int>{5}));
}

TEST(Lists, FindNamedNodeIgnoresCase) {
    qbNamedNode third{nullptr, "\xC9t\xE9"};
    qbNamedNode second{&third, nullptr};
    qbNamedNode first{&second, "Alpha"};
    EXPECT_EQ(FindNamedNode(&first, "ALPHA"), &first);
    EXPECT_EQ(FindNamedNode(&first, "\xE9T\xC9"), &third);
    EXPECT_EQ(FindNamedNode(&first, "beta"), nullptr);
    EXPECT_EQ(FindNamedNode(&first, nullptr), nullptr);
    EXPECT_EQ(FindNamedNode<qbNamedNode>(nullptr, "Alpha"), nullptr);
}

TEST(Lists, FreeSimpleListFreesEveryNodeAndClearsTheHead) {
    struct Link {
        Link* next;
        char payload[24];
    };
    Link* head = nullptr;
    for (int i = 0; i < 5; ++i) {
        auto* link = static_cast<Link*>(AllocMemory(sizeof(Link), 1));
        ASSERT_NE(link, nullptr);
        link->next = head;
        head = link;
    }
    FreeSimpleList(&head);  // the leak checker would report a node left behind
    EXPECT_EQ(head, nullptr);
    FreeSimpleList(&head);
    FreeSimpleList<Link>(nullptr);
}

TEST(Memory, ZeroSizeGivesNullAndTheClearFlagZeroFills) {
    EXPECT_EQ(AllocMemory(0, 1), nullptr);
    EXPECT_EQ(AllocMemory(0, 0), nullptr);
    MemoryPtr<unsigned char> block(static_cast<unsigned char*>(AllocMemory(4096, 1)));
    ASSERT_TRUE(block);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block.get()[i], 0) << i;
    FreeMemory(nullptr);
}
