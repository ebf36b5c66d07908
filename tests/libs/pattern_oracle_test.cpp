// PatternFindStrDirect against Lua 5.4's string.find on generated subjects
// and patterns of the language both share (no "%g", no "%z", ASCII only,
// since Lua's letters follow the "C" locale). Lua counts from 1 and gives the
// end after the match; both are brought to this player's form.
#ifdef QB_TEST_HAVE_LUA

#include <gtest/gtest.h>

#include <lua.hpp>
#include <random>
#include <string>

#include "libs/stringlib_fixture.h"

namespace {

class PatternOracleTest : public libstest::StringLibFixture {
protected:
    void SetUp() override {
        StringLibFixture::SetUp();
        lua_ = luaL_newstate();
        ASSERT_NE(lua_, nullptr);
        luaL_openlibs(lua_);
    }
    void TearDown() override {
        lua_close(lua_);
        StringLibFixture::TearDown();
    }

    // string.find(s, p, init + 1) in the player's form, "E" for an error.
    std::string LuaFind(const std::string& s, const std::string& p, size_t init) {
        lua_settop(lua_, 0);
        lua_getglobal(lua_, "string");
        lua_getfield(lua_, -1, "find");
        lua_pushlstring(lua_, s.data(), s.size());
        lua_pushlstring(lua_, p.data(), p.size());
        lua_pushinteger(lua_, static_cast<lua_Integer>(init) + 1);
        if (lua_pcall(lua_, 3, LUA_MULTRET, 0) != LUA_OK) return "E";
        if (lua_isnil(lua_, 2)) return "-1";
        std::string out = std::to_string(lua_tointeger(lua_, 2) - 1) + "|" + std::to_string(lua_tointeger(lua_, 3) - 1);
        for (int i = 4; i <= lua_gettop(lua_); ++i) {
            out += '|';
            if (lua_isinteger(lua_, i)) {
                out += std::to_string(lua_tointeger(lua_, i));
            } else {
                size_t len = 0;
                const char* t = lua_tolstring(lua_, i, &len);
                out.append(t, len);
            }
        }
        return out;
    }

    std::string OurFind(const std::string& s, const std::string& p, size_t init) {
        std::string r = Call(cmdPatternFindStrDirect, {s, p, static_cast<double>(init)});
        return r[0] == 'E' ? "E" : r;
    }

    lua_State* lua_ = nullptr;
};

struct Generator {
    std::mt19937 rng{20261207};

    int Below(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    template <size_t N>
    const char* Pick(const char* const (&list)[N]) {
        return list[Below(static_cast<int>(N))];
    }

    std::string Subject() {
        static const char kBytes[] = "aabbc  ()1x.%-]^$AB\t";
        std::string s;
        const int n = Below(24);
        for (int i = 0; i < n; ++i) s += kBytes[Below(sizeof kBytes - 1)];
        return s;
    }

    std::string Item() {
        static const char* const kItems[] = {
            "a", "b", "c", "x", "1", " ", "%.", "%(", "%%", "%-", ".", "%a", "%d", "%s", "%w", "%l", "%u", "%p",
            "%x", "%c", "%A", "%D", "%S", "%W", "%L", "%P", "[abc]", "[^a]", "[a-c]", "[%d_]", "[%a%s]", "[]a]",
            "[^%w]", "[^]]", "[%-x]", "[c-a]", "[a-]", "[-a]", "[%a-c]", "[a%-c]", "[^-1]", "[%]]", "[%%$]",
        };
        static const char* const kQuantifiers[] = {"", "", "", "*", "+", "-", "?"};
        return std::string(Pick(kItems)) + Pick(kQuantifiers);
    }

    std::string Pattern() {
        std::string p;
        if (Below(5) == 0) p += '^';
        int captures = 0;
        const int n = 1 + Below(5);
        for (int i = 0; i < n; ++i) {
            switch (Below(12)) {
            case 0: p += "%b()"; break;
            case 1: p += Below(2) ? "%f[%a]" : "%f[%W]"; break;
            case 2: p += "()"; break;
            case 3:
                p += '(';
                p += Item();
                p += Item();
                p += ')';
                ++captures;
                break;
            case 4:
                if (captures) {
                    p += '%';
                    p += std::to_string(1 + Below(captures));
                }
                break;
            default: p += Item(); break;
            }
        }
        if (Below(5) == 0) p += '$';
        return p;
    }
};

TEST_F(PatternOracleTest, SingleMatchesAgreeWithLua) {
    Generator g;
    int matched = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string s = g.Subject();
        const std::string p = g.Pattern();
        const size_t init = g.Below(4) == 0 ? static_cast<size_t>(g.Below(static_cast<int>(s.size()) + 1)) : 0;
        const std::string ours = OurFind(s, p, init);
        ASSERT_EQ(ours, LuaFind(s, p, init)) << "subject \"" << s << "\" pattern \"" << p << "\" init " << init;
        if (ours != "-1" && ours != "E") ++matched;
    }
    // The generator must give both outcomes plenty of times.
    EXPECT_GT(matched, 2000);
    EXPECT_LT(matched, 9000);
}

}  // namespace

#endif
