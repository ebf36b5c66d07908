// A command that asks the script for a script-fed music's data holds the
// music while the "FillMusicBuffer" handler runs, however many requests the
// handler makes itself: closing the music from there is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"

namespace {

class MusicHoldTest : public e2e::E2eFixture {};

// main installs the handler, runs `lead`, arms the handler and runs
// `call`; the armed handler first makes music 2 (a request of its own),
// then closes the music it was asked for.
std::string Script(const std::string& lead, const std::string& call) {
    return R"(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    CLOSURE 2 onfill
    SETTABLE 1 "fillmusicbuffer" 2
    CALL 0 2 1
)" + lead + R"(
.line 2
    LOADK 0 #1
    SETGLOBAL 0 "armed"
)" + call + R"(
    RETURN 0 1 0
.function onfill params=1 maxstack=8
.line 3
    GETGLOBAL 1 "armed"
    EQ 0 1 #1
    JMP done
    LOADK 1 #0
    SETGLOBAL 1 "armed"
    GETGLOBAL 1 "createmusic"
    LOADK 2 #2
    LOADK 3 #8000
    LOADK 4 #0
    CALL 1 4 1
    GETGLOBAL 1 "closemusic"
    GETTABLE 2 0 "id"
    CALL 1 2 1
done:
    RETURN 0 1 0
.end
.end
)";
}

std::string Call(const std::string& name, const std::string& args) {
    return "    GETGLOBAL 0 \"" + name + "\"\n" + args;
}

}  // namespace

TEST_F(MusicHoldTest, AMusicHeldByItsCommandIsNotClosedFromANestedFill) {
    const std::string create = Call("createmusic", "    LOADK 1 #1\n    LOADK 2 #8000\n    LOADK 3 #0\n    CALL 0 4 1\n");
    const std::string one = "    LOADK 1 #1\n    CALL 0 2 1\n";
    struct Case {
        const char* name;
        std::string lead;
        std::string call;
    };
    const std::vector<Case> cases = {
        // An automatic id: the command answers the music it made.
        {"createmusic", "",
         Call("createmusic", "    LOADNIL 1 1\n    LOADK 2 #8000\n    LOADK 3 #0\n    CALL 0 4 1\n")},
        // Stopped, a script-fed music asks for two seconds again as it starts.
        {"playmusic", create + Call("playmusic", one) + Call("stopmusic", one), Call("playmusic", one)},
        {"flushmusicbuffer", create + Call("playmusic", one), Call("flushmusicbuffer", one)},
    };
    const std::string refused = Text(ERR_NOCALLBACK);
    for (const Case& c : cases) {
        const e2e::RunResult r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + (dir_ / "capture.raw").string() +
                                     " " + QB_PLAYER_PATH + " " +
                                     Pack(Chunk(Script(c.lead, c.call), c.name), dir_ / (std::string(c.name) + ".qba"),
                                          std::string("--include ") + c.name + ".qbs:1:1000:0")
                                         .string() +
                                     " -quiet");
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(refused), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << c.name << "\n" << r.err;
    }
}
