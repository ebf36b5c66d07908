// A module known and steered by the older command names, headless with
// SDL's dummy audio driver pulling at the device's pace: IsModule knows it,
// WaitSongPosition returns on the position, PauseModule stops it where it
// is (and the position stays readable), ResumeModule goes on from there,
// and FreeModule takes it away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "sound/modbuilder.h"

namespace {

namespace fs = std::filesystem;

// Eight positions of pattern 0: one tick a row (20 ms), broken off after
// row 15, so that a position lasts 0.32 s.
std::string ShortPositions() {
    modbuild::Module m;
    m.songLength = 8;
    m.instruments[0].data = modbuild::Square(256);
    m.instruments[0].loopStartWords = 0;
    m.instruments[0].loopLengthWords = 128;
    m.At(0, 0, 0) = {428, 1, 0xF, 0x01};
    m.At(0, 15, 1) = {0, 0, 0xD, 0x00};
    const std::vector<uint8_t> bytes = modbuild::Build(m);
    return std::string(bytes.begin(), bytes.end());
}

std::string Call(const std::string& name, const std::string& arg = "#1") {
    return "    GETGLOBAL 0 \"" + name + "\"\n    LOADK 1 " + arg + "\n    CALL 0 2 1\n";
}

// Prints the label, whether music 1 plays and the song position.
std::string Print(const std::string& label) {
    return "    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"" + label +
           "\"\n    GETGLOBAL 2 \"ismusicplaying\"\n    LOADK 3 #1\n    CALL 2 2 2\n"
           "    GETGLOBAL 3 \"getsongposition\"\n    CALL 3 1 2\n    CALL 0 4 1\n";
}

std::string Script(const std::string& module) {
    return ".function main maxstack=12\n.line 1\n    GETGLOBAL 0 \"debugprint\"\n    GETGLOBAL 1 \"ismodule\"\n"
           "    LOADK 2 \"" + module + "\"\n    CALL 1 2 3\n    CALL 0 3 1\n"
           "    GETGLOBAL 0 \"loadmodule\"\n    LOADK 1 #1\n    LOADK 2 \"" + module + "\"\n    CALL 0 3 1\n" +
           Call("playmodule") + ".line 2\n" + Call("waitsongposition") +
           Print("waited") + ".line 3\n" + Call("pausemodule") + Print("paused") + ".line 4\n" +
           Call("resumemodule") + Print("resumed") +
           // Only a playing module reaches the next position.
           ".line 5\n    GETGLOBAL 0 \"ismusicplaying\"\n    LOADK 1 #1\n    CALL 0 2 2\n    EQ 0 0 #1\n"
           "    JMP free\n" +
           Call("waitsongposition", "#2") + Print("later") + "free:\n.line 6\n" + Call("freemodule") +
           // No module plays, and no music object is left (#ATTRCOUNT of #MUSIC).
           "    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"freed\"\n    GETGLOBAL 2 \"getsongposition\"\n"
           "    CALL 2 1 2\n    GETGLOBAL 3 \"getattribute\"\n    LOADK 4 #33\n    LOADK 5 #0\n    LOADK 6 #60\n"
           "    CALL 3 4 2\n    CALL 0 4 1\n    GETGLOBAL 0 \"end\"\n    CALL 0 1 1\n    RETURN 0 1 0\n.end\n";
}

class ModuleAliasesTest : public e2e::E2eFixture {};

TEST_F(ModuleAliasesTest, PauseResumeAndFreeSteerTheModule) {
    const fs::path module = dir_ / "positions.mod";
    e2e::WriteFile(module, ShortPositions());
    const fs::path applet =
        Pack(Chunk(Script(module.string()), "aliases"), dir_ / "aliases.qba", "--include aliases.qbs:1:1000:0");
    const e2e::RunResult r = Run("SDL_AUDIODRIVER=dummy " + std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                 " -quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    // A loaded machine may be late by rows, hardly by a position (0.32 s).
    EXPECT_EQ(r.out, "1 Protracker\nwaited 1 1\npaused 0 1\nresumed 1 1\nlater 1 2\nfreed -1 0\n") << r.err;
}

}  // namespace
