// The system library's Sort over a list from index 0 (libs/sortkeys.h holds
// the sort). Lists of only numbers or only strings without an order function
// are sorted on a native copy of their keys and the moves applied to the
// table afterwards; every other list is sorted in place through the VM.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "libs/system.h"
#include "libs/sortkeys.h"
#include "libs/systemcommands.h"
#include "vm/ordercall.h"
#include "vm/prefetch.h"

namespace {

using sortkeys::DepthLimit;
using sortkeys::Heapsort;
using sortkeys::Keyed;
using sortkeys::PrefixedView;
using sortkeys::Quicksort;

// Moves the list's values into the order of from, one cycle at a time with
// a single value held on the stack.
void Permute(ScriptState* L, const std::vector<int>& from) {
    const int n = static_cast<int>(from.size());
    std::vector<bool> placed(n);
    for (int start = 0; start < n; ++start) {
        if (placed[start] || from[start] == start) continue;
        VmRawGetIndex(L, 1, start);
        int k = start;
        for (;;) {
            placed[k] = true;
            const int src = from[k];
            if (src == start) break;
            VmRawGetIndex(L, 1, src);
            VmRawSetIndex(L, 1, k);
            k = src;
        }
        VmRawSetIndex(L, 1, k);
    }
}

enum class ListKind { Numbers, Strings, Other };

ListKind KindOf(ScriptState* L, int n) {
    if (n == 0) return ListKind::Other;
    VmRawGetIndex(L, 1, 0);
    const int first = VmType(L, -1);
    VmSetTop(L, -2);
    if (first != kTypeNumber && first != kTypeString) return ListKind::Other;
    for (int i = 1; i < n; ++i) {
        VmRawGetIndex(L, 1, i);
        const int t = VmType(L, -1);
        VmSetTop(L, -2);
        if (t != first) return ListKind::Other;
    }
    return first == kTypeNumber ? ListKind::Numbers : ListKind::Strings;
}

// Numbers compare as doubles and strings byte by byte (unsigned, a shorter
// prefix first), which is what the VM's less-than does for them. The
// strings stay alive in the table while their views are sorted.
template <class Key, class Read>
bool SortNative(ScriptState* L, int n, Read read) {
    Keyed<Key> k;
    k.entries.reserve(n);
    for (int i = 0; i < n; ++i) {
        VmRawGetIndex(L, 1, i);
        k.entries.push_back({read(-1), i});
        VmSetTop(L, -2);
    }
    if (!k.Sort(n)) return false;
    Permute(L, k.From());
    return true;
}

// The in-place walk for lists the VM must compare: the list at stack index
// 1, the order function (or Nil) at 2, the pivot at 3 (kPivot stands for
// it); an element is read for each visit.
constexpr int kPivot = kVmOrderPinned;

struct StackSorter {
    ScriptState* L;
    bool ordered;

    void Push(int i) {
        if (i == kPivot)
            VmPushValue(L, 3);
        else
            VmRawGetIndex(L, 1, i);
    }
    bool Less(int a, int b) {
        if (!ordered) {
            Push(a);
            Push(b);
            const bool before = VmCompareLess(L, -2, -1, 0) != 0;
            VmSetTop(L, 3);
            return before;
        }
        return VmCallOrder(L, 2, 1, a, b, 3);
    }
    int Pin(int i) {
        VmRawGetIndex(L, 1, i);
        VmReplace(L, 3);
        return kPivot;
    }
};

}  // namespace

int cmdSort(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    VmCheckTable(L, 1);
    const bool ordered = VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil;
    if (ordered) VmCheckFunction(L, 2);
    VmSetTop(L, 2);
    if (!VmCheckStack(L, 40)) return ERR_STACK;
    const int n = CountListItems(L, 1, !ordered);
    bool ok = true;
    const ListKind kind = ordered ? ListKind::Other : KindOf(L, n);
    if (kind == ListKind::Numbers) {
        ok = SortNative<double>(L, n, [L](int idx) { return VmToNumber(L, idx); });
    } else if (kind == ListKind::Strings) {
        ok = SortNative<PrefixedView>(
            L, n, [L](int idx) { return std::string_view(VmToCString(L, idx), VmStrLen(L, idx)); });
    } else {
        VmPushNil(L);  // the pivot's slot
        StackSorter s{L, ordered};
        auto at = [](int i) { return i; };
        auto pin = [&s](int i) { return s.Pin(i); };
        auto less = [&s](int a, int b) { return s.Less(a, b); };
        auto swap = [L](int a, int b) {
            VmRawGetIndex(L, 1, a);
            VmRawGetIndex(L, 1, b);
            VmRawSetIndex(L, 1, a);
            VmRawSetIndex(L, 1, b);
        };
        // Each visited item's object (a string's bytes) is read to compare
        // it, a cache miss per visit unless announced ahead.
        // A list that starts with a number is taken for one of numbers,
        // which have no objects to announce.
        VmRawGetIndex(L, 1, 0);
        const bool objects = VmType(L, -1) != kTypeNumber;
        VmSetTop(L, 3);
        auto touch = [L, objects](int i) {
            if (objects) VmPrefetchIndex(L, 1, i);
        };
        auto fallback = [&](int lo, int hi) { Heapsort(lo, hi, at, less, swap, touch); };
        ok = Quicksort(0, n - 1, at, pin, less, swap, touch, DepthLimit(n), fallback);
    }
    if (!ok) return ERR_SORTFUNC;
    return 0;
}
