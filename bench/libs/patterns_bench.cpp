// The string library's pattern commands and Eval against Lua 5.4's
// string.find, string.gsub and load("return " .. e)() on the same inputs.
// Both sides are called through their VM's native API, so each call pays
// its own argument and result handling.
#include <benchmark/benchmark.h>

#include <lua.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/vmhost.h"
#include "libs/eval.h"
#include "libs/stringlib.h"
#include "vm/vm.h"

namespace {

constexpr size_t kSubjectSize = 1 << 20;

// Lines of words, key=value pairs and nested parentheses.
const std::string& Text() {
    static const std::string text = [] {
        static const char* const kWords[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                             "key=val", "size=10", "(a (b) c)", "(x)", "42", "caf\xE9"};
        std::mt19937 rng(7);
        std::string s;
        while (s.size() < kSubjectSize) {
            s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
            s += (rng() % 8 == 0) ? '\n' : ' ';
        }
        s.resize(kSubjectSize);
        return s;
    }();
    return text;
}
const std::string& Run() {
    static const std::string run(kSubjectSize, 'a');
    return run;
}
// The failing "a-b" tries every start to the end of the run: quadratic, so
// the unanchored case gets a shorter run.
const std::string& ShortRun() {
    static const std::string run(8192, 'a');
    return run;
}

struct Case {
    const char* pattern;
    const std::string& (*subject)();
};
const Case kCases[] = {
    {"%a+", Text}, {"(%w+)=(%w+)", Text}, {"%b()", Text}, {"[^\n]*\n", Text}, {"^a-b", Run}, {"a-b", ShortRun},
};

// The pattern as a label on one line.
std::string Label(const char* pattern) {
    std::string s;
    for (const char* c = pattern; *c; ++c) s += *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return s;
}

struct Ours {
    ScriptState* L;
    Ours() {
        InstallVmHost();
        L = VmOpen();
    }
    ~Ours() { VmClose(L); }
    Ours(const Ours&) = delete;
    Ours& operator=(const Ours&) = delete;
};

struct Lua {
    lua_State* L;
    Lua() {
        L = luaL_newstate();
        luaL_openlibs(L);
    }
    ~Lua() { lua_close(L); }
    Lua(const Lua&) = delete;
    Lua& operator=(const Lua&) = delete;
};

// Every match from the start to the end, each search starting after the
// last match.
void BM_FindOurs(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    const std::string& s = c.subject();
    Ours o;
    VmPushLString(o.L, s.data(), s.size());
    VmPushString(o.L, c.pattern);
    long matches = 0;
    for (auto _ : state) {
        double init = 0;
        for (;;) {
            VmSetTop(o.L, 2);
            VmPushCClosure(o.L, cmdPatternFindStrDirect, 0);
            VmPushValue(o.L, 1);
            VmPushValue(o.L, 2);
            VmPushNumber(o.L, init);
            VmPCall(o.L, 3, 2, 0);
            const double last = VmToNumber(o.L, 4);
            if (VmToNumber(o.L, 3) < 0 || c.pattern[0] == '^') break;
            ++matches;
            init = std::max(last + 1, VmToNumber(o.L, 3) + 1);
            if (init > static_cast<double>(s.size())) break;
        }
    }
    state.counters["matches"] = static_cast<double>(matches) / static_cast<double>(state.iterations());
    state.SetLabel(Label(c.pattern));
}

void BM_FindLua(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    const std::string& s = c.subject();
    Lua l;
    lua_pushlstring(l.L, s.data(), s.size());
    lua_pushstring(l.L, c.pattern);
    long matches = 0;
    for (auto _ : state) {
        lua_Integer init = 1;
        for (;;) {
            lua_settop(l.L, 2);
            lua_getglobal(l.L, "string");
            lua_getfield(l.L, -1, "find");
            lua_remove(l.L, 3);
            lua_pushvalue(l.L, 1);
            lua_pushvalue(l.L, 2);
            lua_pushinteger(l.L, init);
            lua_pcall(l.L, 3, 2, 0);
            if (lua_isnil(l.L, 3) || c.pattern[0] == '^') break;
            ++matches;
            const lua_Integer first = lua_tointeger(l.L, 3), last = lua_tointeger(l.L, 4);
            init = std::max(last + 1, first + 1);
            if (init > static_cast<lua_Integer>(s.size()) + 1) break;
        }
    }
    state.counters["matches"] = static_cast<double>(matches) / static_cast<double>(state.iterations());
    state.SetLabel(Label(c.pattern));
}

void BM_ReplaceOurs(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    const std::string& s = c.subject();
    Ours o;
    for (auto _ : state) {
        VmSetTop(o.L, 0);
        VmPushCClosure(o.L, cmdPatternReplaceStr, 0);
        VmPushLString(o.L, s.data(), s.size());
        VmPushString(o.L, c.pattern);
        VmPushString(o.L, "<x>");
        VmPCall(o.L, 3, 2, 0);
        benchmark::DoNotOptimize(VmToNumber(o.L, 2));
    }
    state.SetLabel(Label(c.pattern));
}

void BM_ReplaceLua(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    const std::string& s = c.subject();
    Lua l;
    for (auto _ : state) {
        lua_settop(l.L, 0);
        lua_getglobal(l.L, "string");
        lua_getfield(l.L, -1, "gsub");
        lua_remove(l.L, 1);
        lua_pushlstring(l.L, s.data(), s.size());
        lua_pushstring(l.L, c.pattern);
        lua_pushstring(l.L, "<x>");
        lua_pcall(l.L, 3, 2, 0);
        benchmark::DoNotOptimize(lua_tointeger(l.L, 2));
    }
    state.SetLabel(Label(c.pattern));
}

// Expressions of 5 to 40 tokens in the operators both languages read alike.
const std::vector<std::string>& Expressions() {
    static const std::vector<std::string> list = [] {
        std::mt19937 rng(11);
        static const char* const kOps[] = {" + ", " - ", " * ", " / ", "^"};
        std::vector<std::string> v;
        for (int i = 0; i < 10000; ++i) {
            const int tokens = 5 + static_cast<int>(rng() % 36);
            std::string e;
            int open = 0, count = 0;
            for (;;) {
                if (rng() % 5 == 0 && count + 4 < tokens) {
                    e += "(";
                    ++open;
                    ++count;
                }
                e += std::to_string(1 + rng() % 99);
                ++count;
                if (open && rng() % 3 == 0) {
                    e += ")";
                    --open;
                    ++count;
                }
                if (count + open + 2 > tokens) break;
                e += kOps[rng() % 4 + (rng() % 8 == 0 ? 1 : 0)];
                ++count;
            }
            e += std::string(static_cast<size_t>(open), ')');
            v.push_back(e);
        }
        return v;
    }();
    return list;
}

void BM_EvalOurs(benchmark::State& state) {
    const auto& list = Expressions();
    Ours o;
    double sum = 0;
    for (auto _ : state) {
        for (const std::string& e : list) {
            VmSetTop(o.L, 0);
            VmPushCClosure(o.L, cmdEval, 0);
            VmPushLString(o.L, e.data(), e.size());
            VmPCall(o.L, 1, 1, 0);
            sum += VmToNumber(o.L, 1);
        }
    }
    benchmark::DoNotOptimize(sum);
}

void BM_EvalLua(benchmark::State& state) {
    const auto& list = Expressions();
    Lua l;
    double sum = 0;
    for (auto _ : state) {
        for (const std::string& e : list) {
            lua_settop(l.L, 0);
            const std::string chunk = "return " + e;
            if (luaL_loadbuffer(l.L, chunk.data(), chunk.size(), "=eval") == LUA_OK && lua_pcall(l.L, 0, 1, 0) == LUA_OK)
                sum += lua_tonumber(l.L, -1);
        }
    }
    benchmark::DoNotOptimize(sum);
}

void Cases(benchmark::internal::Benchmark* b) {
    for (int i = 0; i < static_cast<int>(sizeof kCases / sizeof kCases[0]); ++i) b->Arg(i);
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FindOurs)->Apply(Cases);
BENCHMARK(BM_FindLua)->Apply(Cases);
BENCHMARK(BM_ReplaceOurs)->Apply(Cases);
BENCHMARK(BM_ReplaceLua)->Apply(Cases);
BENCHMARK(BM_EvalOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvalLua)->Unit(benchmark::kMillisecond);

}  // namespace
