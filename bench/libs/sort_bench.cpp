// Sort against Lua 5.4's table.sort (the same quicksort family) on the same
// data in the same run: 1M random numbers and 1M short random strings, each
// without an order function and with one written in the script language
// ("a < b"). Building the list is not timed.
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include <random>
#include <string>
#include <vector>

#include "core/vmhost.h"
#include "lib/assembler.h"
#include "libs/errorhandler.h"
#include "libs/systemcommands.h"
#include "vm/vm.h"

namespace {

constexpr int kCount = 1000000;

const std::vector<double>& Numbers() {
    static const std::vector<double> values = [] {
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> dist(0, 1e9);
        std::vector<double> v(kCount);
        for (double& x : v) x = dist(rng);
        return v;
    }();
    return values;
}

const std::vector<std::string>& Strings() {
    static const std::vector<std::string> values = [] {
        std::mt19937 rng(12);
        std::uniform_int_distribution<int> letter('a', 'z'), length(4, 10);
        std::vector<std::string> v(kCount);
        for (std::string& s : v) {
            s.resize(length(rng));
            for (char& c : s) c = static_cast<char>(letter(rng));
        }
        return v;
    }();
    return values;
}

// The script's order function: 1 when a < b, else 0.
const char kOrder[] = R"(
.function main maxstack=2
    CLOSURE 0 before
    RETURN 0 2
  .function before params=2 maxstack=3
    LT 1 0 1
    JMP yes
    LOADK 2 #0
    RETURN 2 2
yes:
    LOADK 2 #1
    RETURN 2 2
  .end
.end
)";

void PushOrderFunction(ScriptState* L) {
    std::vector<uint8_t> chunk;
    std::string error;
    AssembleText(kOrder, chunk, error);
    VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "order");
    VmPCall(L, 0, 1, 0);
}

template <class Fill>
void RunOurs(benchmark::State& state, bool ordered, Fill fill) {
    InstallVmHost(OfferToErrorHandler, cmdGetLastError);
    for (auto _ : state) {
        state.PauseTiming();
        ScriptState* L = VmOpen();
        VmPushCClosure(L, cmdSort, 0);
        VmPushNewTableSized(L, kCount, 0);
        for (int i = 0; i < kCount; ++i) {
            fill(L, i);
            VmRawSetIndex(L, 2, i);
        }
        if (ordered) PushOrderFunction(L);
        state.ResumeTiming();
        if (VmPCall(L, ordered ? 2 : 1, 0, 0) != 0) state.SkipWithError("Sort failed");
        state.PauseTiming();
        VmClose(L);
        state.ResumeTiming();
    }
}

template <class Fill>
void RunLua(benchmark::State& state, bool ordered, Fill fill) {
    for (auto _ : state) {
        state.PauseTiming();
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        lua_getglobal(L, "table");
        lua_getfield(L, -1, "sort");
        lua_createtable(L, kCount, 0);
        for (int i = 0; i < kCount; ++i) {
            fill(L, i);
            lua_rawseti(L, -2, i + 1);
        }
        if (ordered) luaL_loadstring(L, "return function(a, b) return a < b end"), lua_call(L, 0, 1);
        state.ResumeTiming();
        if (lua_pcall(L, ordered ? 2 : 1, 0, 0) != 0) state.SkipWithError("table.sort failed");
        state.PauseTiming();
        lua_close(L);
        state.ResumeTiming();
    }
}

void OurNumber(ScriptState* L, int i) { VmPushNumber(L, Numbers()[i]); }
void OurString(ScriptState* L, int i) { VmPushLString(L, Strings()[i].data(), Strings()[i].size()); }
void LuaNumber(lua_State* L, int i) { lua_pushnumber(L, Numbers()[i]); }
void LuaString(lua_State* L, int i) { lua_pushlstring(L, Strings()[i].data(), Strings()[i].size()); }

void BM_SortNumbers(benchmark::State& s) { RunOurs(s, false, OurNumber); }
void BM_LuaSortNumbers(benchmark::State& s) { RunLua(s, false, LuaNumber); }
void BM_SortNumbersOrdered(benchmark::State& s) { RunOurs(s, true, OurNumber); }
void BM_LuaSortNumbersOrdered(benchmark::State& s) { RunLua(s, true, LuaNumber); }
void BM_SortStrings(benchmark::State& s) { RunOurs(s, false, OurString); }
void BM_LuaSortStrings(benchmark::State& s) { RunLua(s, false, LuaString); }
void BM_SortStringsOrdered(benchmark::State& s) { RunOurs(s, true, OurString); }
void BM_LuaSortStringsOrdered(benchmark::State& s) { RunLua(s, true, LuaString); }

BENCHMARK(BM_SortNumbers)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LuaSortNumbers)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortNumbersOrdered)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LuaSortNumbersOrdered)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortStrings)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LuaSortStrings)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortStringsOrdered)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LuaSortStringsOrdered)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
