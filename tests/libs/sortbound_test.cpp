// Sort's cost does not depend on the order of its items: McIlroy's adversary
// ("A Killer Adversary for Quicksort") decides each comparison as late as it
// can so that the quicksort partitions worst, and the input it leaves costs
// a bounded multiple of a shuffled one in order-function calls.
#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/errcodes.h"
#include "libs/sortkeys.h"
#include "system_calls.h"

namespace {

using libstest::SystemCallTest;

struct OrderState {
    long long calls = 0;
    long long cap = 0;  // past this many calls the order function fails
    // The adversary: every item starts as "gas" (above all solid values)
    // and becomes solid, in turn, when it meets another gas item.
    bool adversary = false;
    std::vector<int> val;
    int gas = 0;
    int nsolid = 0;
    int candidate = 0;
};
OrderState order;

int Value(int item) { return order.val[item]; }

int CountingOrder(ScriptState* L) {
    if (++order.calls > order.cap && order.cap > 0) VmRaiseError(L, ERR_WRONGOP);
    const int a = static_cast<int>(VmToNumber(L, 1)), b = static_cast<int>(VmToNumber(L, 2));
    if (!order.adversary) {
        VmPushNumber(L, a < b ? 1 : 0);
        return 1;
    }
    if (Value(a) == order.gas && Value(b) == order.gas) order.val[a == order.candidate ? a : b] = order.nsolid++;
    if (Value(a) == order.gas)
        order.candidate = a;
    else if (Value(b) == order.gas)
        order.candidate = b;
    VmPushNumber(L, Value(a) < Value(b) ? 1 : 0);
    return 1;
}

class SortBoundTest : public SystemCallTest {
protected:
    // Sorts items (numbers) with the counting order function; the calls.
    long long SortCounted(const std::vector<int>& items, long long cap) {
        VmSetTop(L, 0);
        VmPushNewTableSized(L, static_cast<int>(items.size()), 0);
        for (size_t i = 0; i < items.size(); ++i) {
            VmPushNumber(L, items[i]);
            VmRawSetIndex(L, 1, static_cast<int>(i));
        }
        VmPushValue(L, 1);
        VmPushCClosure(L, CountingOrder, 0);
        order.calls = 0;
        order.cap = cap;
        const int code = Call(cmdSort, 2);
        EXPECT_EQ(code, 0) << "more than " << cap << " order-function calls";
        return order.calls;
    }
    bool Ascending(int n, bool byValue) {
        for (int i = 0; i < n; ++i) {
            VmRawGetIndex(L, 1, i);
            const int item = static_cast<int>(VmToNumber(L, -1));
            VmSetTop(L, -2);
            if ((byValue ? Value(item) : item) != i) return false;
        }
        return true;
    }
};

TEST_F(SortBoundTest, AnAdversarialOrderCostsAtMostFourTimesAShuffledOne) {
    // A count of comparisons: the collector's stress finds nothing here,
    // and a full collection of the 200,000-item list at each of the order
    // function's calls would take hours.
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "a count of comparisons, not of what the collector keeps";
    constexpr int kItems = 200000;
    std::vector<int> items(kItems);
    std::iota(items.begin(), items.end(), 0);
    std::vector<int> shuffled = items;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
    order = {};
    const long long fair = SortCounted(shuffled, 0);
    ASSERT_TRUE(Ascending(kItems, false));

    // The adversary plays against Sort itself, items in index order: its
    // answers are those of the values it leaves, an ordinary input whose
    // sort makes these very calls.
    order.adversary = true;
    order.gas = kItems;
    order.val.assign(kItems, kItems);
    const long long played = SortCounted(items, 4 * fair);
    order.adversary = false;
    EXPECT_LE(played, 4 * fair) << "shuffled: " << fair;
    for (int& v : order.val)
        if (v == order.gas) v = order.nsolid++;
    EXPECT_TRUE(Ascending(kItems, true));
}

// Sort without an order function sorts a native copy of the keys with the
// same quicksort, so the input the adversary leaves against the order
// function's road is a killer of the plain road too: numbers and strings
// (sharing their first eight bytes, so that each comparison reads them) cost
// a bounded multiple of a shuffled list's comparisons, and Sort puts them in
// order.
struct CountedLess {
    long long* calls;
    long long cap;
    struct TooMany {};
    template <class Key>
    bool operator()(const Key& a, const Key& b) const {
        if (++*calls > cap) throw TooMany{};
        return a < b;
    }
};

template <class Key>
long long PlainComparisons(const std::vector<Key>& keys, long long cap) {
    long long calls = 0;
    sortkeys::Keyed<Key, CountedLess> k;
    k.less = CountedLess{&calls, cap};
    for (size_t i = 0; i < keys.size(); ++i) k.entries.push_back({keys[i], static_cast<int>(i)});
    try {
        EXPECT_TRUE(k.Sort(static_cast<int>(keys.size())));
    } catch (const CountedLess::TooMany&) {
        ADD_FAILURE() << "more than " << cap << " comparisons";
    }
    return calls;
}

TEST_F(SortBoundTest, PlainNumbersAndStringsThatKillAQuicksortCostAtMostFourTimesShuffledOnes) {
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "a count of comparisons, not of what the collector keeps";
    constexpr int kItems = 100000;
    std::vector<int> items(kItems);
    std::iota(items.begin(), items.end(), 0);
    order = {};
    order.adversary = true;
    order.gas = kItems;
    order.val.assign(kItems, kItems);
    SortCounted(items, 0);
    order.adversary = false;
    for (int& v : order.val)
        if (v == order.gas) v = order.nsolid++;
    std::vector<int> killer = order.val;  // the value at each index
    std::vector<int> shuffled = items;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(6));

    auto numbers = [](const std::vector<int>& v) { return std::vector<double>(v.begin(), v.end()); };
    std::vector<std::string> texts;  // the views below point into it
    auto strings = [&texts](const std::vector<int>& v) {
        texts.clear();
        for (int x : v) {
            std::string digits = std::to_string(x);
            texts.push_back("itemname" + std::string(6 - digits.size(), '0') + digits);
        }
        return std::vector<sortkeys::PrefixedView>(texts.begin(), texts.end());
    };
    const long long fairNumbers = PlainComparisons(numbers(shuffled), 1LL << 40);
    EXPECT_LE(PlainComparisons(numbers(killer), 4 * fairNumbers), 4 * fairNumbers) << "shuffled: " << fairNumbers;
    const long long fairStrings = PlainComparisons(strings(shuffled), 1LL << 40);
    EXPECT_LE(PlainComparisons(strings(killer), 4 * fairStrings), 4 * fairStrings) << "shuffled: " << fairStrings;

    // What the script gets: the killer list of strings in order.
    strings(killer);
    VmSetTop(L, 0);
    VmPushNewTableSized(L, kItems, 0);
    for (int i = 0; i < kItems; ++i) {
        VmPushLString(L, texts[i].data(), texts[i].size());
        VmRawSetIndex(L, 1, i);
    }
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdSort, 1), 0);
    std::sort(texts.begin(), texts.end());
    for (int i = 0; i < kItems; i += 997) {
        VmRawGetIndex(L, 1, i);
        ASSERT_EQ(std::string(VmToCString(L, -1), VmStrLen(L, -1)), texts[i]) << i;
        VmSetTop(L, -2);
    }
}

// Without an order function strings sort on their first eight bytes first:
// strings that share them, or differ only past a zero byte or their end,
// still sort byte by byte.
TEST_F(SortBoundTest, StringsThatShareTheirFirstBytesSortByTheRest) {
    std::mt19937 rng(8);
    std::vector<std::string> items;
    for (int i = 0; i < 3000; ++i) {
        std::string s(1 + rng() % 14, 'p');  // "" would end the list
        for (char& c : s) c = "p\0\xff"[rng() % 3];
        items.push_back(s);
    }
    VmSetTop(L, 0);
    VmPushNewTable(L);
    for (size_t i = 0; i < items.size(); ++i) {
        VmPushLString(L, items[i].data(), items[i].size());
        VmRawSetIndex(L, 1, static_cast<int>(i));
    }
    VmPushValue(L, 1);
    ASSERT_EQ(Call(cmdSort, 1), 0);
    std::sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
        return std::string_view(a) < std::string_view(b);  // bytes unsigned
    });
    for (size_t i = 0; i < items.size(); ++i) {
        VmRawGetIndex(L, 1, static_cast<int>(i));
        ASSERT_EQ(std::string(VmToCString(L, -1), VmStrLen(L, -1)), items[i]) << i;
        VmSetTop(L, -2);
    }
}

}  // namespace
