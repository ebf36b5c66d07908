// The sort behind the system library's Sort: a median-of-three quicksort
// that hands a part on once the partitions nest deeper than 2 log2 n, so no
// order of the items costs more than n log n, and the native copy of a list's
// keys (numbers or strings) it sorts when no order function is given. The
// comparison is a parameter so that its cost can be counted.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>


namespace sortkeys {

// How far ahead of a scan touch(i) announces the item it will visit: about
// one cache miss's worth of comparisons through an order function.
constexpr int kAhead = 4;

// The quicksort on any sequence: at(i) stands for element i, pin(i) for a
// copy of it that later swaps leave alone (the pivot), and less(a, b) tells
// whether a comes before b. The order of comparisons and swaps is the same
// for every sequence, so a native copy ends in the order the VM's own walk
// would give. False when the order function is no strict order (the scan
// would leave the range).
//
// A part still unsorted after `depth` nested partitions goes to the
// fallback (heap sort where a script's order function is called): inputs
// that never get that deep see exactly the quicksort's comparisons.
template <class At, class Less, class Swap, class Touch>
void Heapsort(int lo, int hi, At at, Less less, Swap swap, Touch touch) {
    const int n = hi - lo + 1;
    // Bottom-up: the root's item is mostly a small one from the end, so
    // the path of larger children is followed to a leaf at one comparison a
    // level, and the item climbs back only the little way it must; then the
    // path moves up a level, by swaps. About half the comparisons of the
    // plain sift, and each visited item's grandchildren are announced.
    int path[32];
    auto sift = [&](int root, int end) {
        int depth = 0;
        int j = root;
        path[depth++] = j;
        for (int child; (child = 2 * j + 1) < end;) {
            if (4 * j + 3 < end) touch(lo + 4 * j + 3);
            if (4 * j + 5 < end) touch(lo + 4 * j + 5);
            if (child + 1 < end && less(at(lo + child), at(lo + child + 1))) ++child;
            j = child;
            path[depth++] = j;
        }
        while (depth > 1 && less(at(lo + path[depth - 1]), at(lo + root))) --depth;
        for (int k = 1; k < depth; ++k) swap(lo + path[k - 1], lo + path[k]);
    };
    for (int root = n / 2 - 1; root >= 0; --root) sift(root, n);
    for (int end = n - 1; end > 0; --end) {
        swap(lo, lo + end);
        sift(0, end);
    }
}

// 2 log2 n, the nesting a fair run of partitions stays well within.
inline int DepthLimit(int n) {
    int depth = 0;
    for (unsigned m = static_cast<unsigned>(n); m > 1; m >>= 1) depth += 2;
    return depth;
}

template <class At, class Pin, class Less, class Swap, class Touch, class Fallback>
bool Quicksort(int lo, int hi, At at, Pin pin, Less less, Swap swap, Touch touch, int depth, Fallback fallback) {
    while (lo < hi) {
        if (depth-- == 0) {
            fallback(lo, hi);
            return true;
        }
        if (less(at(hi), at(lo))) swap(lo, hi);
        if (hi - lo == 1) break;
        const int m = (lo + hi) / 2;
        if (less(at(m), at(lo))) {
            swap(m, lo);
        } else if (less(at(hi), at(m))) {
            swap(m, hi);
        }
        if (hi - lo == 2) break;
        swap(m, hi - 1);
        const auto pivot = pin(hi - 1);
        int i = lo;
        int j = hi - 1;
        for (;;) {
            do {
                if (++i > hi) return false;
                if (i + kAhead <= hi) touch(i + kAhead);
            } while (less(at(i), pivot));
            do {
                if (--j < lo) return false;
                if (j - kAhead >= lo) touch(j - kAhead);
            } while (less(pivot, at(j)));
            if (j < i) break;
            swap(i, j);
        }
        swap(hi - 1, i);
        // The smaller part recurses, the larger one loops, so the depth
        // stays logarithmic.
        if (i - lo < hi - i) {
            if (!Quicksort(lo, i - 1, at, pin, less, swap, touch, depth, fallback)) return false;
            lo = i + 1;
        } else {
            if (!Quicksort(i + 1, hi, at, pin, less, swap, touch, depth, fallback)) return false;
            hi = i - 1;
        }
    }
    return true;
}

// A string's key: its first eight bytes as a big-endian number (zeros past
// its end) beside the view. Unequal prefixes order as the bytes do, so most
// comparisons need not read the string itself, which lies anywhere in the
// VM's heap: a cache miss per comparison once the list outgrows the cache.
struct PrefixedView {
    uint64_t prefix = 0;
    std::string_view view;

    PrefixedView() = default;
    PrefixedView(std::string_view v) : view(v) {  // implicit: the lists' strings come as views
        for (size_t i = 0; i < 8; ++i)
            prefix = prefix << 8 | (i < v.size() ? static_cast<unsigned char>(v[i]) : 0u);
    }
    friend bool operator<(const PrefixedView& a, const PrefixedView& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return a.view < b.view;
    }
};

// The keys with the indexes they came from.
template <class Key, class Less = std::less<>>
struct Keyed {
    // Side by side, so that a swap or a visit touches one place.
    struct Entry {
        Key key;
        int from;
    };
    std::vector<Entry> entries;
    Less less;

    bool Sort(int n) {
        auto at = [this](int i) { return entries[i].key; };
        auto swap = [this](int a, int b) { std::swap(entries[a], entries[b]); };
        auto touch = [this](int i) {
            if constexpr (std::is_same_v<Key, PrefixedView>) {
                __builtin_prefetch(entries[i].key.view.data());
            } else {
                (void)this;
                (void)i;
            }
        };
        // No script code watches these comparisons, so a deep part of
        // strings goes to the standard library's sort: on the strings a
        // killer sequence leaves, heap sort's scattered reads cost six times
        // its partitions. Numbers stay with heap sort, which keeps to its
        // range even where a NaN makes the order no strict one.
        auto fallback = [&](int lo, int hi) {
            if constexpr (std::is_same_v<Key, PrefixedView>) {
                std::sort(entries.begin() + lo, entries.begin() + hi + 1,
                          [this](const Entry& a, const Entry& b) { return less(a.key, b.key); });
            } else {
                Heapsort(lo, hi, at, less, swap, touch);
            }
        };
        return Quicksort(0, n - 1, at, at, less, swap, touch, DepthLimit(n), fallback);
    }
    // After sorting, from[k] is the index whose value belongs at k.
    std::vector<int> From() const {
        std::vector<int> from(entries.size());
        for (size_t k = 0; k < entries.size(); ++k) from[k] = entries[k].from;
        return from;
    }
};

}  // namespace sortkeys
