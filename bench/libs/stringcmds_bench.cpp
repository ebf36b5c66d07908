// The string library's search, FormatStr and SplitStr against Lua 5.4's
// string library on the same inputs in the same run. Both sides are called
// through their VM's native API, one call per operation.
#include <benchmark/benchmark.h>

#include <lua.hpp>
#include <random>
#include <string>

#include "core/vmhost.h"
#include "libs/stringlib.h"
#include "vm/vm.h"

namespace {

constexpr size_t kSubjectSize = size_t{100} << 20;
constexpr size_t kCsvSize = size_t{10} << 20;

// Counted needles ("#" around letters) sit in every 4 KB of random lower-case
// text; the found needles ("@" around letters) only at its very end, so that
// a find scans the whole subject.
std::string Needle(char mark, int length) {
    if (length == 1) return std::string(1, mark);
    std::string n(1, mark);
    for (int i = 0; i < length - 2; ++i) n += static_cast<char>('a' + i % 26);
    return n + mark;
}

const std::string& Subject() {
    static const std::string s = [] {
        std::mt19937 rng(5);
        std::string t(kSubjectSize, ' ');
        for (char& c : t) c = static_cast<char>('a' + rng() % 26);
        for (size_t at = 0; at + 4096 < kSubjectSize; at += 4096) {
            int off = 0;
            for (int len : {1, 4, 32}) {
                const std::string n = Needle('#', len);
                t.replace(at + static_cast<size_t>(off), n.size(), n);
                off += 100;
            }
        }
        const std::string tail = Needle('@', 32);
        t.replace(kSubjectSize - tail.size(), tail.size(), tail);
        return t;
    }();
    return s;
}

const std::string& Csv() {
    static const std::string s = [] {
        std::mt19937 rng(9);
        std::string t;
        while (t.size() < kCsvSize) {
            for (unsigned n = rng() % 10 + 1; n > 0; --n) t += static_cast<char>('a' + rng() % 26);
            t += ',';
        }
        t.resize(kCsvSize);
        return t;
    }();
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
    // Calls fn on the values from index 1 up to the given count plus extra.
    void Call(CommandHandler fn, int first, int count) {
        VmPushCClosure(L, fn, 0);
        for (int i = 0; i < count; ++i) VmPushValue(L, first + i);
        VmPCall(L, count, 1, 0);
    }
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
    void Run(const char* code) { luaL_dostring(L, code); }
};

const int kLengths[] = {1, 4, 32};

void BM_FindStrOurs(benchmark::State& state) {
    Ours o;
    const std::string n = Needle('@', kLengths[state.range(0)]);
    VmPushLString(o.L, Subject().data(), Subject().size());
    VmPushLString(o.L, n.data(), n.size());
    for (auto _ : state) {
        VmSetTop(o.L, 2);
        o.Call(cmdFindStr, 1, 2);
        benchmark::DoNotOptimize(VmToNumber(o.L, 3));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

void BM_FindStrLua(benchmark::State& state) {
    Lua l;
    const std::string n = Needle('@', kLengths[state.range(0)]);
    lua_pushlstring(l.L, Subject().data(), Subject().size());
    lua_setglobal(l.L, "s");
    lua_pushlstring(l.L, n.data(), n.size());
    lua_setglobal(l.L, "n");
    l.Run("function bench() return string.find(s, n, 1, true) end");
    for (auto _ : state) {
        lua_getglobal(l.L, "bench");
        lua_pcall(l.L, 0, 1, 0);
        benchmark::DoNotOptimize(lua_tointeger(l.L, -1));
        lua_settop(l.L, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

void BM_CountStrOurs(benchmark::State& state) {
    Ours o;
    const std::string n = Needle('#', kLengths[state.range(0)]);
    VmPushLString(o.L, Subject().data(), Subject().size());
    VmPushLString(o.L, n.data(), n.size());
    for (auto _ : state) {
        VmSetTop(o.L, 2);
        o.Call(cmdCountStr, 1, 2);
        benchmark::DoNotOptimize(VmToNumber(o.L, 3));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

// Lua counts with a loop of plain finds.
void BM_CountStrLua(benchmark::State& state) {
    Lua l;
    const std::string n = Needle('#', kLengths[state.range(0)]);
    lua_pushlstring(l.L, Subject().data(), Subject().size());
    lua_setglobal(l.L, "s");
    lua_pushlstring(l.L, n.data(), n.size());
    lua_setglobal(l.L, "n");
    l.Run("function bench() local c, i, find = 0, 1, string.find "
          "while true do local a, b = find(s, n, i, true) if not a then return c end c = c + 1 i = b + 1 end end");
    for (auto _ : state) {
        lua_getglobal(l.L, "bench");
        lua_pcall(l.L, 0, 1, 0);
        benchmark::DoNotOptimize(lua_tointeger(l.L, -1));
        lua_settop(l.L, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

void BM_ReplaceStrOurs(benchmark::State& state) {
    Ours o;
    const std::string n = Needle('#', kLengths[state.range(0)]);
    VmPushLString(o.L, Subject().data(), Subject().size());
    VmPushLString(o.L, n.data(), n.size());
    VmPushString(o.L, "<x>");
    for (auto _ : state) {
        VmSetTop(o.L, 3);
        o.Call(cmdReplaceStr, 1, 3);
        benchmark::DoNotOptimize(VmStrLen(o.L, 4));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

// gsub with the needle's magic characters escaped ("#" and letters have
// none, so the pattern is the needle itself).
void BM_ReplaceStrLua(benchmark::State& state) {
    Lua l;
    const std::string n = Needle('#', kLengths[state.range(0)]);
    lua_pushlstring(l.L, Subject().data(), Subject().size());
    lua_setglobal(l.L, "s");
    lua_pushlstring(l.L, n.data(), n.size());
    lua_setglobal(l.L, "n");
    l.Run("p = n:gsub('[%^%$%(%)%%%.%[%]%*%+%-%?]', '%%%0') "
          "function bench() return string.gsub(s, p, '<x>') end");
    for (auto _ : state) {
        lua_getglobal(l.L, "bench");
        lua_pcall(l.L, 0, 1, 0);
        benchmark::DoNotOptimize(lua_rawlen(l.L, -1));
        lua_settop(l.L, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSubjectSize));
}

constexpr char kFormat[] = "%d|%5.2f|%-8s|%x|%e|%s";
constexpr int kFormatCalls = 1000000;

void BM_FormatStrOurs(benchmark::State& state) {
    Ours o;
    for (auto _ : state) {
        for (int i = 0; i < kFormatCalls; ++i) {
            VmSetTop(o.L, 0);
            VmPushCClosure(o.L, cmdFormatStr, 0);
            VmPushString(o.L, kFormat);
            VmPushNumber(o.L, i);
            VmPushNumber(o.L, 3.14159);
            VmPushString(o.L, "name");
            VmPushNumber(o.L, 255);
            VmPushNumber(o.L, 1234.5);
            VmPushString(o.L, "tail");
            VmPCall(o.L, 7, 1, 0);
        }
        benchmark::DoNotOptimize(VmStrLen(o.L, 1));
    }
}

void BM_FormatStrLua(benchmark::State& state) {
    Lua l;
    lua_getglobal(l.L, "string");
    lua_getfield(l.L, -1, "format");
    lua_setglobal(l.L, "fmt");
    lua_settop(l.L, 0);
    for (auto _ : state) {
        for (int i = 0; i < kFormatCalls; ++i) {
            lua_settop(l.L, 0);
            lua_getglobal(l.L, "fmt");
            lua_pushstring(l.L, kFormat);
            lua_pushinteger(l.L, i);
            lua_pushnumber(l.L, 3.14159);
            lua_pushstring(l.L, "name");
            lua_pushinteger(l.L, 255);
            lua_pushnumber(l.L, 1234.5);
            lua_pushstring(l.L, "tail");
            lua_pcall(l.L, 7, 1, 0);
        }
        benchmark::DoNotOptimize(lua_rawlen(l.L, 1));
    }
}

void BM_SplitStrOurs(benchmark::State& state) {
    Ours o;
    VmPushLString(o.L, Csv().data(), Csv().size());
    VmPushString(o.L, ",");
    for (auto _ : state) {
        VmSetTop(o.L, 2);
        o.Call(cmdSplitStr, 1, 2);
        benchmark::DoNotOptimize(VmToPointer(o.L, 3));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCsvSize));
}

void BM_SplitStrLua(benchmark::State& state) {
    Lua l;
    lua_pushlstring(l.L, Csv().data(), Csv().size());
    lua_setglobal(l.L, "s");
    l.Run("function bench() local t, n = {}, 0 for f in string.gmatch(s, '([^,]*)') do n = n + 1 t[n] = f end "
          "return t end");
    for (auto _ : state) {
        lua_getglobal(l.L, "bench");
        lua_pcall(l.L, 0, 1, 0);
        lua_settop(l.L, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCsvSize));
}

BENCHMARK(BM_FindStrOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindStrLua)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountStrOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountStrLua)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceStrOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceStrLua)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatStrOurs)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FormatStrLua)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SplitStrOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitStrLua)->Unit(benchmark::kMillisecond);

}  // namespace
