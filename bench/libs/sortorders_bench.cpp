// Sort with its default order on lists of strings in four orders (random,
// sorted, reversed, and the input McIlroy's adversary makes against Sort
// itself), 10^5 and 10^6 items, against std::sort of the same strings with
// the same byte-wise comparison, in the same run. Each case reports Sort's
// time, std::sort's ("std_ms"), their ratio, and std::make_heap with
// std::sort_heap's ("std_heap_ms"). Building the list is not
// timed. Times are the thread's CPU time.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/systemcommands.h"
#include "vm/vm.h"

namespace {

enum Order { kRandom, kSorted, kReversed, kAdversarial };

// The thread's CPU time in seconds: the shared machine's load moves wall
// times by far more than the sorts differ.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The adversary (M. D. McIlroy, "A Killer Adversary for Quicksort"): items
// are "gas" until a comparison of two gas items makes one solid; it leaves
// the values that made the partitions worst.
struct Adversary {
    std::vector<int> val;
    int gas = 0, nsolid = 0, candidate = 0;
};
Adversary* adversary = nullptr;

int AdversaryOrder(ScriptState* L) {
    Adversary& a = *adversary;
    const int x = static_cast<int>(VmToNumber(L, 1)), y = static_cast<int>(VmToNumber(L, 2));
    if (a.val[x] == a.gas && a.val[y] == a.gas) a.val[x == a.candidate ? x : y] = a.nsolid++;
    if (a.val[x] == a.gas)
        a.candidate = x;
    else if (a.val[y] == a.gas)
        a.candidate = y;
    VmPushNumber(L, a.val[x] < a.val[y] ? 1 : 0);
    return 1;
}

// The adversary's values for n items in Sort's own comparisons: an order
// function sees the same comparisons as the default order's native path.
std::vector<int> AdversarialRanks(int n) {
    Adversary a;
    a.gas = n;
    a.val.assign(n, n);
    adversary = &a;
    ScriptState* L = VmOpen();
    VmPushCClosure(L, cmdSort, 0);
    VmPushNewTableSized(L, n, 0);
    for (int i = 0; i < n; ++i) {
        VmPushNumber(L, i);
        VmRawSetIndex(L, 2, i);
    }
    VmPushCClosure(L, AdversaryOrder, 0);
    VmPCall(L, 2, 0, 0);
    VmClose(L);
    for (int& v : a.val)
        if (v == a.gas) v = a.nsolid++;
    return a.val;
}

const std::vector<std::string>& Strings(Order order, int n) {
    static std::map<std::pair<int, int>, std::vector<std::string>> made;
    auto& v = made[{order, n}];
    if (!v.empty()) return v;
    std::mt19937 rng(21);
    v.resize(n);
    if (order == kAdversarial) {
        // Fixed-width numbers: byte order is the ranks' order.
        const std::vector<int> ranks = AdversarialRanks(n);
        char buf[16];
        for (int i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "k%08d", ranks[i]);
            v[i] = buf;
        }
        return v;
    }
    std::uniform_int_distribution<int> letter('a', 'z'), length(4, 12);
    for (std::string& s : v) {
        s.resize(length(rng));
        for (char& c : s) c = static_cast<char>(letter(rng));
    }
    if (order == kSorted) std::sort(v.begin(), v.end());
    if (order == kReversed) std::sort(v.begin(), v.end(), std::greater<>());
    return v;
}

void BM_SortOrder(benchmark::State& state) {
    const auto order = static_cast<Order>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    const std::vector<std::string>& items = Strings(order, n);
    InstallVmHost(OfferToErrorHandler, cmdGetLastError);
    double ours = 0, theirs = 0, heapTime = 0;
    int rounds = 0;
    for (auto _ : state) {
        ScriptState* L = VmOpen();
        VmPushCClosure(L, cmdSort, 0);
        VmPushNewTableSized(L, n, 0);
        for (int i = 0; i < n; ++i) {
            VmPushLString(L, items[i].data(), items[i].size());
            VmRawSetIndex(L, 2, i);
        }
        auto t0 = CpuSeconds();
        if (VmPCall(L, 1, 0, 0) != 0) state.SkipWithError("Sort failed");
        auto t1 = CpuSeconds();
        VmClose(L);

        std::vector<std::string_view> views(items.begin(), items.end());
        auto t2 = CpuSeconds();
        std::sort(views.begin(), views.end());
        auto t3 = CpuSeconds();
        benchmark::DoNotOptimize(views.data());

        // What heap sort alone costs on the same strings: the part an input
        // that defeats the partitions is handed to.
        std::vector<std::string_view> heap(items.begin(), items.end());
        const double t4 = CpuSeconds();
        std::make_heap(heap.begin(), heap.end());
        std::sort_heap(heap.begin(), heap.end());
        const double t5 = CpuSeconds();
        benchmark::DoNotOptimize(heap.data());
        heapTime += t5 - t4;

        const double a = t1 - t0;
        const double b = t3 - t2;
        state.SetIterationTime(a);
        ours += a;
        theirs += b;
        ++rounds;
    }
    state.counters["std_ms"] = theirs * 1000 / rounds;
    state.counters["std_heap_ms"] = heapTime * 1000 / rounds;
    state.counters["ratio"] = ours / theirs;
}

BENCHMARK(BM_SortOrder)
    ->ArgNames({"order", "n"})
    ->ArgsProduct({{kRandom, kSorted, kReversed, kAdversarial}, {100000, 1000000}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
