// The base-table exerciser beside the player, headless: an applet prints
// what the plugin read through the standard-library, system and hashing
// tables, gets an event the plugin posted, and its DebugPrint runs through
// the plugin's command hook; brushes, the built-in fonts and a sample's
// PCM reach the applet through the plugin.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "sound/soundfile_builders.h"

namespace fs = std::filesystem;

namespace {

const char kScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "basecheck"
    GETTABLE 0 0 "hookcommand"
    LOADK 1 "debugprint"
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "hosttag"
    LOADK 2 #26
    CALL 1 2 2
    GETGLOBAL 2 "basecheck"
    GETTABLE 2 2 "hosttag"
    LOADK 3 #37
    CALL 2 2 2
    GETGLOBAL 3 "basecheck"
    GETTABLE 3 3 "hosttag"
    LOADK 4 #29
    CALL 3 2 2
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "crc"
    LOADK 2 "123456789"
    LOADK 3 #9
    CALL 1 3 2
    GETGLOBAL 2 "basecheck"
    GETTABLE 2 2 "foldupper"
    LOADK 3 #228
    CALL 2 2 2
    CALL 0 3 1
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "scriptposition"
    CALL 1 1 2
    CALL 0 2 1
.line 5
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "registertype"
    LOADK 2 "OnPing"
    CALL 1 2 2
    CALL 0 2 1
.line 6
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    CLOSURE 2 onping
    SETTABLE 1 "onping" 2
    CALL 0 2 1
.line 7
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "posttype"
    LOADK 2 #28
    CALL 1 2 2
    CALL 0 2 1
.line 8
    GETGLOBAL 0 "checkevent"
    CALL 0 1 1
    RETURN 0 1 0
.function onping params=1 maxstack=4
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "ping"
    CALL 1 2 1
    RETURN 0 1 0
.end
.end
)";

class BasePluginTest : public e2e::E2eFixture {
protected:
    // Runs the applet made of script with the exerciser beside the player.
    e2e::RunResult RunBeside(const char* script) {
        const fs::path app = dir_ / "app";
        fs::create_directories(app);
        const fs::path player = app / "quenbrookplayer";
        fs::copy_file(QB_PLAYER_PATH, player);
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / "basecheck.qbp", app / "basecheck.qbp");
        const fs::path qba = Pack(Chunk(script, "base"), dir_ / "base.qba", "--include base.qbs:1:1000:0");
        return Run("cd " + dir_.string() + " && " + player.string() + " " + qba.string() + " -quiet");
    }
};

TEST_F(BasePluginTest, TheExerciserReadsTheTablesAndHooksDebugPrint) {
    const fs::path app = dir_ / "app";
    fs::create_directories(app);
    const fs::path player = app / "quenbrookplayer";
    fs::copy_file(QB_PLAYER_PATH, player);
    fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / "basecheck.qbp", app / "basecheck.qbp");
    const fs::path qba = Pack(Chunk(kScript, "base"), dir_ / "base.qba",
                              "--include base.qbs:1:1000:0 --title Exerciser --author Someone --identifier org.example.exerciser");
    const e2e::RunResult r = Run("cd " + dir_.string() + " && " + player.string() + " " + qba.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "hooked Exerciser org.example.exerciser Someone\n"
              "hooked 3421780262 196\n"
              "hooked base.qbs ---- 4\n"
              "hooked 28\n"
              "hooked 0\n"
              "hooked ping\n")
        << r.err;
}

// Two brushes the plugin makes through the graphics table, one with its key
// colour, one with an alpha plane, shown on the display and read back; the
// plugin then frees the first, and showing it again fails.
const char kBrushScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "basecheck"
    GETTABLE 0 0 "makebrush"
    LOADK 1 #1
    LOADK 2 #2
    CALL 0 3 1
    GETGLOBAL 0 "basecheck"
    GETTABLE 0 0 "makebrush"
    LOADK 1 #2
    LOADK 2 #1
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #1
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "readpixel"
    LOADK 2 #0
    LOADK 3 #0
    CALL 1 3 2
    GETGLOBAL 2 "readpixel"
    LOADK 3 #1
    LOADK 4 #0
    CALL 2 3 2
    GETGLOBAL 3 "readpixel"
    LOADK 4 #1
    LOADK 5 #1
    CALL 3 3 2
    CALL 0 4 1
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "freebrush"
    LOADK 2 #1
    CALL 1 2 2
    CALL 0 2 1
.line 5
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    RETURN 0 1 0
.end
)";

TEST_F(BasePluginTest, BrushesFromTheGraphicsTableShowMaskedAndBlended) {
    const e2e::RunResult r = RunBeside(kBrushScript);
    // Red, the display's black where the key colour was, blue at half.
    ASSERT_EQ(r.out.rfind("16711680 0 12", 0), 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("\n0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Could not find brush 1"), std::string::npos) << r.err;
}

// A brush the plugin makes with a picture it draws again: ScaleBrush asks
// the plugin for the new size, so the one green column stays one pixel wide
// instead of growing into a block of ten.
const char kDrawnBrushScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "basecheck"
    GETTABLE 0 0 "makedrawnbrush"
    LOADK 1 #3
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "scalebrush"
    LOADK 1 #3
    LOADK 2 #30
    LOADK 3 #10
    CALL 0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #3
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "readpixel"
    LOADK 2 #11
    LOADK 3 #5
    CALL 1 3 2
    GETGLOBAL 2 "readpixel"
    LOADK 3 #15
    LOADK 4 #5
    CALL 2 3 2
    CALL 0 3 1
    RETURN 0 1 0
.end
)";

TEST_F(BasePluginTest, ABrushWithAPictureToDrawAgainScalesThroughThePlugin) {
    const e2e::RunResult r = RunBeside(kDrawnBrushScript);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "transform 1 0 0 1 3 1\ntransform 10 0 0 10 30 10\n16711680 65280\n") << r.err;
}

// The sizes and first four bytes of the three fonts built into the player.
const char kFontScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "builtinfont"
    LOADK 2 #0
    CALL 1 2 2
    GETGLOBAL 2 "basecheck"
    GETTABLE 2 2 "builtinfont"
    LOADK 3 #1
    CALL 2 2 2
    GETGLOBAL 3 "basecheck"
    GETTABLE 3 3 "builtinfont"
    LOADK 4 #2
    CALL 3 2 2
    CALL 0 4 1
    RETURN 0 1 0
.end
)";

TEST_F(BasePluginTest, TheBuiltInFontsReadThroughTheDataTable) {
    const e2e::RunResult r = RunBeside(kFontScript);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "65932 00010000 49224 00010000 60280 00010000\n") << r.err;
}

// A short sample loaded, then given a quarter of a second of PCM the plugin
// decoded from another file; it plays to its end through the audio driver.
std::string HandScript(const std::string& shortWave, const std::string& toneWave) {
    return R"(
.function main maxstack=8
.line 1
    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onsampleend" 2
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "loadsample"
    LOADK 1 #1
    LOADK 2 ")" + shortWave + R"("
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "basecheck"
    GETTABLE 1 1 "handsound"
    LOADK 2 #1
    LOADK 3 ")" + toneWave + R"("
    CALL 1 3 2
    CALL 0 2 1
.line 4
    GETGLOBAL 0 "playsample"
    LOADK 1 #1
    CALL 0 2 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onend params=1 maxstack=6
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "end"
    GETTABLE 3 0 "time"
    CALL 1 3 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";
}

TEST_F(BasePluginTest, PCMHandedToASamplePlaysToItsEnd) {
    soundfiles::Wave w;
    w.rate = 8000;
    const soundfiles::Bytes tone = soundfiles::MakeWave(w, soundfiles::Ramp(2 * 2000));
    const soundfiles::Bytes blip = soundfiles::MakeWave(w, soundfiles::Ramp(2 * 400));
    e2e::WriteFile(dir_ / "tone.wav", std::string(tone.begin(), tone.end()));
    e2e::WriteFile(dir_ / "blip.wav", std::string(blip.begin(), blip.end()));
    const std::string script = HandScript((dir_ / "blip.wav").string(), (dir_ / "tone.wav").string());
    const e2e::RunResult r = RunBeside(script.c_str());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "0\nend 250\n") << r.err;
}

}  // namespace
