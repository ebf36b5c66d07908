// The pattern budget's worst cases in one run: the searches that spend the
// whole budget of matcher steps (and end with ERR_STACK), and the wildcard
// matcher's long cases. Each case is called through the script commands, as
// a script calls it, once per iteration. "budget" is the steps the search
// may spend (PatternBudget of its subject and pattern), "steps" that budget
// over the CPU time, for the cases that end by spending it.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/vmhost.h"
#include "libs/doscommands.h"
#include "libs/errorhandler.h"
#include "libs/patterns.h"
#include "libs/stringlib.h"
#include "vm/vm.h"

namespace {

struct Vm {
    ScriptState* L;
    Vm() {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L = VmOpen();
    }
    ~Vm() { VmClose(L); }
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;
};

// Calls fn with the string arguments; its error code, or 0.
int Call(ScriptState* L, CommandHandler fn, const std::vector<const std::string*>& args) {
    VmSetTop(L, 0);
    VmPushCClosure(L, fn, 0);
    for (const std::string* a : args) VmPushLString(L, a->data(), a->size());
    return VmPCall(L, static_cast<int>(args.size()), kMultRet, 0);
}

// Walks a PatternFindStr iterator to its end; its error code, or 0.
int Iterate(ScriptState* L, const std::string& s, const std::string& pattern, long* calls) {
    if (int err = Call(L, cmdPatternFindStr, {&s, &pattern})) return err;
    *calls = 0;
    for (;;) {
        VmSetTop(L, 1);
        VmPushValue(L, 1);
        ++*calls;
        if (int err = VmPCall(L, 0, kMultRet, 0)) return err;
        if (VmGetTop(L) == 1) return 0;
    }
}

// Runs of "a" each closed by "bc": an "a*c" search tries every place of a
// run (its square in steps) before it finds the "c".
std::string Blocks(size_t run, size_t total) {
    std::string block(run, 'a');
    block += "bc";
    std::string s;
    while (s.size() < total) s += block;
    return s;
}

struct Case {
    const char* label;
    size_t subject;       // the length the budget is tied to; 0 for wildcards
    const char* pattern;  // the pattern it is tied to (its first part for sets)
    int (*run)(ScriptState* L);
};

// Calls PatternFindStrDirect from each match's end on, as a script's loop
// does, until it finds nothing or fails; its error code, or 0.
int DirectLoop(ScriptState* L, const std::string& s, const std::string& pattern) {
    for (double init = 0;;) {
        VmSetTop(L, 0);
        VmPushCClosure(L, cmdPatternFindStrDirect, 0);
        VmPushLString(L, s.data(), s.size());
        VmPushLString(L, pattern.data(), pattern.size());
        VmPushNumber(L, init);
        if (int err = VmPCall(L, 3, kMultRet, 0)) return err;
        if (VmGetTop(L) < 2) return 0;
        init = VmToNumber(L, 2) + 1;
        if (init > static_cast<double>(s.size())) return 0;
    }
}

// n copies of c, made once and kept for the run.
template <size_t n, char c>
const std::string& Str() {
    static const std::string s(n, c);
    return s;
}

const Case kCases[] = {
    // The four cases the budget was made for.
    {"find .-b, 100 KB", 100000, ".-b",
     [](ScriptState* L) {
         static const std::string p = ".-b";
         return Call(L, cmdPatternFindStrDirect, {&Str<100000, 'a'>(), &p});
     }},
    {"find .-.-b, 10 KB", 10000, ".-.-b",
     [](ScriptState* L) {
         static const std::string p = ".-.-b";
         return Call(L, cmdPatternFindStrDirect, {&Str<10000, 'a'>(), &p});
     }},
    {"replace %b(), 20 KB of (", 20000, "%b()",
     [](ScriptState* L) {
         static const std::string p = "%b()", r = "x";
         return Call(L, cmdPatternReplaceStr, {&Str<20000, '('>(), &p, &r});
     }},
    {"MatchPattern *+50 KB a, 100 KB name", 0, "",
     [](ScriptState* L) {
         static const std::string p = "*" + std::string(50000, 'a');
         return Call(L, cmdMatchPattern, {&Str<100000, 'a'>(), &p});
     }},
    // The worst cases of sets, start scans, iterators and brackets.
    {"iterator .-[1000 c], 10 KB", 10000, ".-[c]",
     [](ScriptState* L) {
         static const std::string p = ".-[" + std::string(1000, 'c') + "]";
         long calls = 0;
         return Iterate(L, Str<10000, 'a'>(), p, &calls);
     }},
    {"iterator [100 KB set], 100 KB", 100000, "[a]",
     [](ScriptState* L) {
         static const std::string p = "[" + std::string(100000, 'a') + "]";
         long calls = 0;
         return Iterate(L, Str<100000, 'x'>(), p, &calls);
     }},
    {"replace [100 KB set], 100 KB", 100000, "[a]",
     [](ScriptState* L) {
         static const std::string p = "[" + std::string(100000, 'a') + "]", r = "y";
         return Call(L, cmdPatternReplaceStr, {&Str<100000, 'x'>(), &p, &r});
     }},
    {"iterator a*c, 100 KB", 100000, "a*c",
     [](ScriptState* L) {
         static const std::string s = Blocks(8000, 100000), p = "a*c";
         long calls = 0;
         return Iterate(L, s, p, &calls);
     }},
    {"iterator a*c, 2 MB", 2u << 20, "a*c",
     [](ScriptState* L) {
         static const std::string s = Blocks(30000, 2u << 20), p = "a*c";
         long calls = 0;
         return Iterate(L, s, p, &calls);
     }},
    {"MatchPattern *2000 [*x, 40 KB name", 0, "",
     [](ScriptState* L) {
         static const std::string p = "*" + std::string(2000, '[') + "*x";
         static const std::string name = [] {
             std::string n;
             while (n.size() < 40000) n += std::string(1999, '[') + "a";
             return n + "x";
         }();
         return Call(L, cmdMatchPattern, {&name, &p});
     }},
    // A backtrack over the whole subject from every start, and a loop of
    // Direct calls with a start.
    {"find %w+@, 10 MB of a", 10000000, "%w+@",
     [](ScriptState* L) {
         static const std::string p = "%w+@";
         return Call(L, cmdPatternFindStrDirect, {&Str<10000000, 'a'>(), &p});
     }},
    {"Direct loop a*c, 2 MB", 2u << 20, "a*c",
     [](ScriptState* L) {
         static const std::string s = Blocks(30000, 2u << 20);
         return DirectLoop(L, s, "a*c");
     }},
    {"MatchPattern * + 50 KB a, b + *, 100 KB name", 0, "",
     [](ScriptState* L) {
         static const std::string p = "*" + std::string(50000, 'a') + "b*";
         return Call(L, cmdMatchPattern, {&Str<100000, 'a'>(), &p});
     }},
};

void BM_Budget(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    Vm vm;
    int err = 0;
    for (auto _ : state) err = c.run(vm.L);
    state.SetLabel(std::string(c.label) + (err == ERR_STACK ? " -> ERR_STACK" : err ? " -> error" : ""));
    if (c.subject) {
        const auto budget = static_cast<double>(PatternBudget(c.subject, c.pattern, std::string(c.pattern).size()));
        state.counters["budget"] = budget;
        state.counters["steps"] = benchmark::Counter(budget, benchmark::Counter::kIsIterationInvariantRate);
    }
}

void Cases(benchmark::internal::Benchmark* b) {
    for (int i = 0; i < static_cast<int>(sizeof kCases / sizeof kCases[0]); ++i) b->Arg(i);
    b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(false);
}

BENCHMARK(BM_Budget)->Apply(Cases);

}  // namespace
