// The system library's table commands: sorting, list editing, unpacking,
// copies with cycles, and the type query.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "system_calls.h"

namespace {

using libstest::SystemCallTest;

int StringBefore(ScriptState* L) {
    VmPushNumber(L, std::string(VmToCString(L, 1)) < std::string(VmToCString(L, 2)) ? 1 : 0);
    return 1;
}

int AlwaysBefore(ScriptState* L) {
    VmPushNumber(L, 1);
    return 1;
}

using SortTest = SystemCallTest;

TEST_F(SortTest, EmptyStringEndsTheListOnlyWithoutAnOrderFunction) {
    PushList({"b", "", "a"});
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdSort, 1), 0);
    EXPECT_EQ(ListText(1, 3), "b,,a");
    VmPushValue(L, 1);
    VmPushCClosure(L, StringBefore, 0);
    ASSERT_EQ(Call(cmdSort, 2), 0);
    EXPECT_EQ(ListText(1, 3), ",a,b");
}

TEST_F(SortTest, AnOrderFunctionThatIsNoOrderFailsInsteadOfRunningOff) {
    PushList({"d", "c", "b", "a", "e", "f", "g"});
    VmPushCClosure(L, AlwaysBefore, 0);
    EXPECT_EQ(Call(cmdSort, 2), ERR_SORTFUNC);
}

int RaisesOnTheTenthCall(ScriptState* L) {
    static int calls = 0;
    if (++calls % 10 == 0) VmRaiseError(L, ERR_WRONGOP);
    VmPushNumber(L, VmToNumber(L, 1) < VmToNumber(L, 2) ? 1 : 0);
    return 1;
}

// Overwrites the list it sorts (its upvalue) while comparing.
int EditsTheList(ScriptState* L) {
    static int calls = 0;
    ++calls;
    VmPushNumber(L, calls % 13);
    VmRawSetIndex(L, VmUpvalueIndex(1), calls % 50);
    VmPushNumber(L, VmToNumber(L, 1) < VmToNumber(L, 2) ? 1 : 0);
    return 1;
}

// The order function's error ends the sort with the list holding the same
// items; one that edits the list as it goes ends in some order or with
// ERR_SORTFUNC, never reading a value it replaced.
TEST_F(SortTest, AnOrderFunctionThatRaisesOrEditsTheListEndsCleanly) {
    VmPushNewTable(L);
    for (int i = 0; i < 50; ++i) {
        VmPushNumber(L, (i * 37) % 50);
        VmRawSetIndex(L, 1, i);
    }
    VmPushValue(L, 1);
    VmPushCClosure(L, RaisesOnTheTenthCall, 0);
    EXPECT_EQ(Call(cmdSort, 2), ERR_WRONGOP);
    std::vector<double> items;
    for (int i = 0; i < 50; ++i) {
        VmRawGetIndex(L, 1, i);
        items.push_back(VmToNumber(L, -1));
        VmSetTop(L, -2);
    }
    std::sort(items.begin(), items.end());
    for (int i = 0; i < 50; ++i) EXPECT_EQ(items[i], i);

    VmSetTop(L, 1);
    VmPushValue(L, 1);
    VmPushValue(L, 1);
    VmPushCClosure(L, EditsTheList, 1);
    const int code = Call(cmdSort, 2);
    EXPECT_TRUE(code == 0 || code == ERR_SORTFUNC) << code;
}

TEST_F(SortTest, SortsLikeTheStandardSortAndStopsAtNil) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    std::vector<double> values(1000000);
    for (double& v : values) v = std::floor(dist(rng));  // many equal keys too
    VmPushNewTable(L);
    for (size_t i = 0; i < values.size(); ++i) {
        VmPushNumber(L, values[i]);
        VmRawSetIndex(L, 1, static_cast<int>(i));
    }
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdSort, 1), 0);
    std::sort(values.begin(), values.end());
    bool same = true;
    for (size_t i = 0; i < values.size() && same; ++i) {
        VmRawGetIndex(L, 1, static_cast<int>(i));
        same = VmToNumber(L, -1) == values[i];
        VmSetTop(L, -2);
    }
    EXPECT_TRUE(same);
    VmSetTop(L, 0);

    VmPushNewTable(L);
    const double items[] = {5, 3, 0, 1, 0};
    for (int i : {0, 1, 3, 4}) {
        VmPushNumber(L, items[i]);
        VmRawSetIndex(L, 1, i);
    }
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdSort, 1), 0);
    EXPECT_EQ(ListText(1, 5), "3,5,Nil,1,0");
}

int VmBefore(ScriptState* L) {
    VmPushNumber(L, VmCompareLess(L, 1, 2, 0));
    return 1;
}

// Lists of only numbers or only strings take a native path; an order
// function that asks the VM's own less-than takes the VM's path, and both
// must leave the same order, even where NaN, -0 and 0 or embedded zero
// bytes make the result depend on the walk.
TEST_F(SortTest, NativeAndVmPathsLeaveTheSameOrder) {
    std::mt19937 rng(3);
    for (bool strings : {false, true}) {
        SCOPED_TRACE(strings ? "strings" : "numbers");
        VmSetTop(L, 0);
        for (int copy = 0; copy < 2; ++copy) {
            rng.seed(3);
            VmPushNewTable(L);
            for (int i = 0; i < 5000; ++i) {
                const unsigned r = rng() % 1000;
                if (strings) {
                    const char text[] = {static_cast<char>('a' + r % 3), static_cast<char>(r % 2 ? 0 : 0xE9),
                                         static_cast<char>('a' + r / 100)};
                    VmPushLString(L, text, 1 + r % 3);
                } else {
                    VmPushNumber(L, r < 50 ? std::nan("") : r < 100 ? -0.0 : r < 150 ? 0.0 : r / 7.0);
                }
                VmRawSetIndex(L, copy + 1, i);
            }
        }
        VmPushValue(L, 1);
        ASSERT_EQ(Call(cmdSort, 1), 0);
        VmPushValue(L, 2);
        VmPushCClosure(L, VmBefore, 0);
        ASSERT_EQ(Call(cmdSort, 2), 0);
        bool same = true;
        for (int i = 0; i < 5000 && same; ++i) {
            VmRawGetIndex(L, 1, i);
            VmRawGetIndex(L, 2, i);
            if (strings) {
                same = VmRawEqual(L, -1, -2) != 0;
            } else {
                const double a = VmToNumber(L, -2), b = VmToNumber(L, -1);
                same = std::memcmp(&a, &b, sizeof a) == 0;
            }
            VmSetTop(L, 2);
        }
        EXPECT_TRUE(same);
    }
    // A list of numbers and strings is the VM's to refuse.
    VmSetTop(L, 0);
    VmPushNewTable(L);
    VmPushNumber(L, 1);
    VmRawSetIndex(L, 1, 0);
    VmPushString(L, "x");
    VmRawSetIndex(L, 1, 1);
    EXPECT_EQ(Call(cmdSort, 1), ERR_NUMSTRCMP);
}

using ListTest = SystemCallTest;

TEST_F(ListTest, PositionsOutsideTheListMeanTheEnd) {
    PushList({"a", "b", "c"});
    VmPushValue(L, 1);
    VmPushNumber(L, 10);
    ASSERT_EQ(Call(cmdRemoveItem, 2), 0);
    EXPECT_EQ(Text(-1), "c");
    VmSetTop(L, 1);
    EXPECT_EQ(ListText(1, 3), "a,b,Nil");
    VmPushValue(L, 1);
    VmPushString(L, "z");
    VmPushNumber(L, 0);
    ASSERT_EQ(Call(cmdInsertItem, 3), 0);
    EXPECT_EQ(ListText(1, 4), "z,a,b,Nil");
    VmPushValue(L, 1);
    VmPushString(L, "end");
    VmPushNumber(L, 99);
    ASSERT_EQ(Call(cmdInsertItem, 3), 0);
    EXPECT_EQ(ListText(1, 4), "z,a,b,end");
    VmPushValue(L, 1);
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdRemoveItem, 2), 0);
    EXPECT_EQ(Text(-1), "a");
    VmSetTop(L, 1);
    EXPECT_EQ(ListText(1, 4), "z,b,end,Nil");
}

TEST_F(ListTest, UnpackRefusesWhatTheStackCannotHold) {
    VmPushNewTable(L);
    for (int i = 0; i < 100000; ++i) {
        VmPushNumber(L, i);
        VmRawSetIndex(L, 1, i);
    }
    EXPECT_EQ(Call(cmdUnpack, 1), ERR_STACK);
    VmSetTop(L, 0);
    PushList({"x", "y"});
    ASSERT_EQ(Call(cmdUnpack, 1), 0);
    EXPECT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(Text(2), "y");
}

// Every list command (IPairs too) over lists of 0, 1 and many items, "" among them and a
// hole (Nil) ending them: an empty string is an item like any other, and
// the items past a hole are no part of the list.
TEST_F(ListTest, EveryListCommandCountsToTheFirstHoleAndKeepsEmptyStrings) {
    std::vector<std::vector<const char*>> shapes = {
        {}, {""}, {"a"}, {"a", "", "c"}, {"", "b"}, {"a", nullptr, "c"}, {nullptr, "b"}, {"", "", nullptr, ""}};
    std::vector<std::string> many;
    for (int i = 0; i < 300; ++i) many.push_back(i % 7 == 3 ? "" : std::to_string(i));
    std::vector<const char*> manyShape;
    for (const std::string& s : many) manyShape.push_back(s.c_str());
    manyShape[250] = nullptr;
    shapes.push_back(manyShape);
    const auto push = [&](const std::vector<const char*>& items) {
        VmSetTop(L, 0);
        VmPushNewTable(L);
        for (size_t i = 0; i < items.size(); ++i) {
            if (!items[i]) continue;
            VmPushString(L, items[i]);
            VmRawSetIndex(L, 1, static_cast<int>(i));
        }
    };
    const auto at = [&](int i) {
        VmRawGetIndex(L, 1, i);
        const std::string text = VmType(L, -1) == kTypeNil ? "Nil" : Text(-1);
        VmSetTop(L, -2);
        return text;
    };
    for (const std::vector<const char*>& items : shapes) {
        const int n = static_cast<int>(std::find(items.begin(), items.end(), nullptr) - items.begin());
        SCOPED_TRACE(testing::Message() << items.size() << " items, the first " << n << " a list");
        std::string joined;
        for (int i = 0; i < n; ++i) joined += (i ? "|" : "") + std::string(items[i]);

        push(items);
        VmPushValue(L, 1);
        ASSERT_EQ(Call(cmdListItems, 1), 0);
        EXPECT_EQ(Number(-1), n);

        push(items);
        VmPushValue(L, 1);
        ASSERT_EQ(Call(cmdUnpack, 1), 0);
        ASSERT_EQ(VmGetTop(L), 1 + n);
        for (int i = 0; i < n; ++i) EXPECT_EQ(Text(2 + i), items[i]) << i;

        // IPairs steps from index 0 to the hole, "" included.
        push(items);
        VmPushValue(L, 1);
        ASSERT_EQ(Call(cmdIPairs, 1), 0);
        ASSERT_EQ(VmGetTop(L), 4);
        int steps = 0;
        for (;; ++steps) {
            VmSetTop(L, 4);
            VmPushValue(L, 2);
            VmPushValue(L, 3);
            VmPushValue(L, 4);
            ASSERT_EQ(VmPCall(L, 2, kMultRet, 0), 0);
            if (VmGetTop(L) == 4) break;
            ASSERT_EQ(VmGetTop(L), 6);
            ASSERT_LT(steps, n);
            EXPECT_EQ(Number(5), steps);
            EXPECT_EQ(Text(6), items[steps]);
            VmPushValue(L, 5);
            VmReplace(L, 4);
        }
        EXPECT_EQ(steps, n);
        // The last index a step can take ends the walk.
        VmSetTop(L, 4);
        VmPushValue(L, 2);
        VmPushValue(L, 3);
        VmPushNumber(L, 2147483647.0);
        ASSERT_EQ(VmPCall(L, 2, kMultRet, 0), 0);
        EXPECT_EQ(VmGetTop(L), 4);

        push(items);
        VmPushValue(L, 1);
        VmPushString(L, "|");
        ASSERT_EQ(Call(cmdConcat, 2), 0);
        EXPECT_EQ(Text(-1), joined);

        // RemoveItem takes the last item, or from a place, and leaves the
        // hole and what follows it.
        push(items);
        VmPushValue(L, 1);
        ASSERT_EQ(Call(cmdRemoveItem, 1), 0);
        EXPECT_EQ(VmType(L, -1) == kTypeNil ? "Nil" : Text(-1), n ? items[n - 1] : "Nil");
        VmSetTop(L, 1);
        if (n) {
            EXPECT_EQ(at(n - 1), "Nil");
        }
        for (size_t i = n + 1; i < items.size(); ++i) EXPECT_EQ(at(static_cast<int>(i)), items[i] ? items[i] : "Nil");
        if (n > 1) {
            push(items);
            VmPushValue(L, 1);
            VmPushNumber(L, 0);
            ASSERT_EQ(Call(cmdRemoveItem, 2), 0);
            EXPECT_EQ(Text(-1), items[0]);
            VmSetTop(L, 1);
            for (int i = 0; i + 1 < n; ++i) EXPECT_EQ(at(i), items[i + 1]) << i;
            EXPECT_EQ(at(n - 1), "Nil");
        }

        // InsertItem puts the item at the end of the list, in the hole, or
        // at a place, moving the items after it up to the hole.
        push(items);
        VmPushValue(L, 1);
        VmPushString(L, "new");
        ASSERT_EQ(Call(cmdInsertItem, 2), 0);
        EXPECT_EQ(at(n), "new");
        for (int i = 0; i < n; ++i) EXPECT_EQ(at(i), items[i]) << i;
        push(items);
        VmPushValue(L, 1);
        VmPushString(L, "new");
        VmPushNumber(L, 0);
        ASSERT_EQ(Call(cmdInsertItem, 3), 0);
        EXPECT_EQ(at(0), "new");
        for (int i = 0; i < n; ++i) EXPECT_EQ(at(i + 1), items[i]) << i;
        for (size_t i = n + 1; i < items.size(); ++i) EXPECT_EQ(at(static_cast<int>(i)), items[i] ? items[i] : "Nil");
    }
}

TEST_F(ListTest, ConcatJoinsStringsOnly) {
    PushList({"a", "b", "c"});
    VmPushString(L, "-");
    ASSERT_EQ(Call(cmdConcat, 2), 0);
    EXPECT_EQ(Text(-1), "a-b-c");
    // first and last are indexes from 0.
    VmSetTop(L, 0);
    PushList({"a", "b", "c"});
    VmPushString(L, "-");
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdConcat, 3), 0);
    EXPECT_EQ(Text(-1), "b-c");
    VmSetTop(L, 0);
    PushList({"a", "b", "c"});
    VmPushString(L, "-");
    VmPushNumber(L, 0);
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdConcat, 4), 0);
    EXPECT_EQ(Text(-1), "a-b");
    VmSetTop(L, 0);
    VmPushNewTable(L);
    VmPushNumber(L, 5);
    VmRawSetIndex(L, 1, 0);
    EXPECT_EQ(Call(cmdConcat, 1), ERR_STRINGEXPECTED);
}

using CopyTableTest = SystemCallTest;

TEST_F(CopyTableTest, CyclesAndSharedTablesKeepTheirShape) {
    VmPushNewTable(L);  // 1: t with t.self = t, t.a = inner, t.b = inner
    VmPushNewTable(L);  // 2: inner
    VmPushString(L, "self");
    VmPushValue(L, 1);
    VmRawSet(L, 1);
    VmPushString(L, "a");
    VmPushValue(L, 2);
    VmRawSet(L, 1);
    VmPushString(L, "b");
    VmPushValue(L, 2);
    VmRawSet(L, 1);
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdCopyTable, 1), 0);  // 3: the copy
    auto field = [&](int t, const char* k) {
        VmPushString(L, k);
        VmRawGet(L, t);
    };
    field(3, "self");
    EXPECT_TRUE(VmRawEqual(L, -1, 3));
    field(3, "a");
    field(3, "b");
    EXPECT_TRUE(VmRawEqual(L, -1, -2));
    EXPECT_FALSE(VmRawEqual(L, -1, 2));
    VmSetTop(L, 3);
    // Shallow copies take the values as they are.
    VmPushValue(L, 1);
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdCopyTable, 2), 0);
    field(4, "self");
    EXPECT_TRUE(VmRawEqual(L, -1, 1));
}

// Every nested table's own contents land in its own copy, two levels down
// and side by side, and none of them in the outer copy.
TEST_F(CopyTableTest, NestedTablesKeepTheirContentsAtEveryLevel) {
    auto put = [&](int t, const char* k, double v) {
        VmPushString(L, k);
        VmPushNumber(L, v);
        VmRawSet(L, t);
    };
    auto link = [&](int t, const char* k, int inner) {
        VmPushString(L, k);
        VmPushValue(L, inner);
        VmRawSet(L, t);
    };
    VmPushNewTable(L);  // 1: {a = {x = 7}, b = {y = 8, c = {z = 9}}}
    VmPushNewTable(L);  // 2: a
    VmPushNewTable(L);  // 3: b
    VmPushNewTable(L);  // 4: c
    put(2, "x", 7);
    put(3, "y", 8);
    put(4, "z", 9);
    link(3, "c", 4);
    link(1, "a", 2);
    link(1, "b", 3);
    VmSetTop(L, 1);
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdCopyTable, 1), 0);  // 2: the copy
    auto get = [&](int t, const char* k) {
        VmPushString(L, k);
        VmRawGet(L, t);
        return VmGetTop(L);
    };
    const int a = get(2, "a");
    ASSERT_EQ(VmType(L, a), kTypeTable);
    EXPECT_EQ(VmToNumber(L, get(a, "x")), 7);
    const int b = get(2, "b");
    ASSERT_EQ(VmType(L, b), kTypeTable);
    EXPECT_EQ(VmToNumber(L, get(b, "y")), 8);
    const int c = get(b, "c");
    ASSERT_EQ(VmType(L, c), kTypeTable);
    EXPECT_EQ(VmToNumber(L, get(c, "z")), 9);
    for (const char* k : {"x", "y", "z"}) EXPECT_EQ(VmType(L, get(2, k)), kTypeNil) << k;
}

TEST_F(SystemCallTest, TableItemsCountsEveryKeyAndIsTableEmptyAgrees) {
    auto count = [&](CommandHandler command) {
        VmPushValue(L, 1);
        EXPECT_EQ(Call(command, 1), 0);
        const double n = Number(-1);
        VmSetTop(L, 1);
        return n;
    };
    VmPushNewTable(L);
    EXPECT_EQ(count(cmdTableItems), 0);
    EXPECT_EQ(count(cmdIsTableEmpty), 1);
    VmSetTop(L, 0);
    // A list with a hole, a negative index and a named field: every set key.
    PushList({"a", "b"});
    VmPushString(L, "z");
    VmRawSetIndex(L, 1, 7);
    VmPushString(L, "below");
    VmRawSetIndex(L, 1, -3);
    VmPushString(L, "key");
    VmPushNumber(L, 1);
    VmRawSet(L, 1);
    EXPECT_EQ(count(cmdTableItems), 5);
    EXPECT_EQ(count(cmdIsTableEmpty), 0);
}

TEST_F(SystemCallTest, TypesAndChoices) {
    VmPushString(L, "s");
    ASSERT_EQ(Call(cmdGetType, 1), 0);
    EXPECT_EQ(Number(-1), 3);
    VmPushLightUserdata(L, &L);
    ASSERT_EQ(Call(cmdGetType, 1), 0);
    EXPECT_EQ(Number(-1), 9);
    VmPushString(L, "");
    VmPushString(L, "a");
    VmPushString(L, "b");
    ASSERT_EQ(Call(cmdIIf, 3), 0);
    EXPECT_EQ(Text(-1), "b");
    PushList({"x"});
    VmPushString(L, "KEY");
    VmPushString(L, "key");
    VmPushNumber(L, 1);
    VmRawSet(L, -4);
    ASSERT_EQ(Call(cmdHaveItem, 2), 0);
    EXPECT_EQ(Number(-1), 1);
}

}  // namespace

namespace {

// Timings only (run with --gtest_also_run_disabled_tests): 1M numbers and
// 1M short strings, without and with an order function.
}  // namespace
