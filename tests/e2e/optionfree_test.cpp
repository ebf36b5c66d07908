// Script code that runs while a command reads its options (a table's
// "__index" function) and frees the object the command works on: the free
// stands, and the command ends with that object's not-found error, never
// with the freed object's memory read (the sanitizer tree reports that).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "media/cdxlbuilder.h"
#include "sound/soundfile_builders.h"

namespace {

// A call whose arguments are numbers, "t" (the table whose "__index" frees),
// "nil", "{}" (a table of two numbers from index 0) or a text in quotes.
std::string CallWith(const std::string& name, const std::vector<std::string>& args) {
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (const std::string& a : args) {
        const std::string r = std::to_string(reg);
        if (a == "t") {
            s += "    GETGLOBAL " + r + " \"t\"\n";
        } else if (a == "nil") {
            s += "    LOADNIL " + r + " " + r + "\n";
        } else if (a.front() == '"') {
            s += "    LOADK " + r + " " + a + "\n";
        } else if (a == "{}") {
            const std::string v = std::to_string(reg + 1);
            s += "    NEWTABLE " + r + " 2 0\n    LOADK " + v + " #1\n    SETTABLE " + r + " #0 " + v +
                 "\n    SETTABLE " + r + " #1 " + v + "\n";
        } else {
            s += "    LOADK " + r + " #" + a + "\n";
        }
        ++reg;
    }
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

// t = SetMetaTable({}, {__index = freer}), the freer running `frees` once
// and finding no field.
std::string Applet(const std::string& setup, const std::string& call, const std::string& frees) {
    return ".function main maxstack=16\n.line 1\n" + setup +
           "    GETGLOBAL 0 \"setmetatable\"\n    NEWTABLE 1 0 0\n    NEWTABLE 2 0 1\n    CLOSURE 3 freer\n"
           "    SETTABLE 2 \"__index\" 3\n    CALL 0 3 2\n    SETGLOBAL 0 \"t\"\n.line 2\n" +
           call +
           "    RETURN 0 1 0\n"
           ".function freer params=2 maxstack=6\n.line 3\n"
           "    GETGLOBAL 2 \"freed\"\n    EQ 1 2 #1\n    JMP done\n    LOADK 2 #1\n    SETGLOBAL 2 \"freed\"\n" +
           frees +
           "done:\n    RETURN 0 1 0\n.end\n.end\n";
}

struct Case {
    const char* name;
    std::string setup;
    std::string call;
    std::string frees;
    int error;
};

class OptionFreeTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(OptionFreeTest, AnObjectFreedWhileItsCommandReadsOptionsIsNotFound) {
    // walk.wav: a short tone for the sample commands.
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 2000; ++i) {
        const auto s = static_cast<int16_t>((i % 40 < 20) ? 8000 : -8000);
        pcm.push_back(static_cast<uint8_t>(s));
        pcm.push_back(static_cast<uint8_t>(s >> 8));
    }
    const soundfiles::Bytes wave = soundfiles::MakeWave(soundfiles::Wave{}, pcm);
    e2e::WriteFile(dir_ / "walk.wav", std::string(wave.begin(), wave.end()));
    using e2e::CallCommand;
    const std::string brush = CallCommand("CreateBrush", {1, 16, 8, 0xFF0000});
    const std::string path = CallCommand("StartPath", {1}) + CallCommand("AddBoxToPath", {1, 0, 0, 8, 8});
    const std::string sample = "    GETGLOBAL 0 \"loadsample\"\n    LOADK 1 #1\n    LOADK 2 \"" +
                               (dir_ / "walk.wav").string() + "\"\n    CALL 0 3 1\n";
    const std::string layers = CallCommand("EnableLayers", {}) + brush + CallCommand("DisplayBrush", {1, 0, 0});
    cdxlbuilder::Layout clip;
    clip.palette = cdxlbuilder::Palette(16, 7);
    const cdxlbuilder::Bytes cdxl = cdxlbuilder::Build(clip);
    e2e::WriteFile(dir_ / "walk.cdxl", std::string(cdxl.begin(), cdxl.end()));
    const std::string wav = "\"" + (dir_ / "walk.wav").string() + "\"";
    const std::string video = CallWith("openvideo", {"1", "\"" + (dir_ / "walk.cdxl").string() + "\""});
    const std::string closeVideo = CallCommand("CloseVideo", {1});
    const std::string freeBrush = CallCommand("FreeBrush", {1});
    const std::vector<Case> cases = {
        {"displaybrush", brush, CallWith("displaybrush", {"1", "0", "0", "t"}), freeBrush, ERR_FINDBRUSH},
        {"displaybrushlayers", CallCommand("EnableLayers", {}) + brush, CallWith("displaybrush", {"1", "0", "0", "t"}),
         freeBrush, ERR_FINDBRUSH},
        {"displaybrushpart", brush, CallWith("displaybrushpart", {"1", "0", "0", "0", "0", "8", "8", "t"}), freeBrush,
         ERR_FINDBRUSH},
        {"displayanimframe", brush + CallCommand("CreateAnim", {1, 1, 8, 8, 2, 2}),
         CallWith("displayanimframe", {"1", "0", "0", "1", "t"}), CallCommand("FreeAnim", {1}), ERR_FINDANIM},
        {"copybrush", brush, CallWith("copybrush", {"1", "2", "t"}), freeBrush, ERR_FINDBRUSH},
        {"drawpath", path, CallWith("drawpath", {"1", "0", "0", "255", "t"}), CallCommand("FreePath", {1}),
         ERR_FINDPATH},
        {"addboxtopath", path, CallWith("addboxtopath", {"1", "0", "0", "4", "4", "t"}), CallCommand("FreePath", {1}),
         ERR_FINDPATH},
        {"playsample", sample, CallWith("playsample", {"1", "t"}), CallCommand("FreeSample", {1}), ERR_FINDSAMPLE},
        {"mixsample", sample, CallWith("mixsample", {"2", "100", "8000", "0", "1", "t"}),
         CallCommand("FreeSample", {1}), ERR_FINDSAMPLE},
        {"memtotable", CallCommand("AllocMem", {1, 16}), CallWith("memtotable", {"1", "7", "t"}),
         CallCommand("FreeMem", {1}), ERR_FINDMEMBLK},
        {"tabletomem", CallCommand("AllocMem", {1, 16}), CallWith("tabletomem", {"{}", "1", "7", "t"}),
         CallCommand("FreeMem", {1}), ERR_FINDMEMBLK},
        // Found by the reentrant walk.
        {"playmusic", CallWith("openmusic", {"1", wav}), CallWith("playmusic", {"1", "t"}),
         CallCommand("CloseMusic", {1}), ERR_FINDMUSIC},
        {"insertsample", sample + CallWith("loadsample", {"2", wav}), CallWith("insertsample", {"1", "2", "0", "nil", "t"}),
         CallCommand("FreeSample", {1}), ERR_FINDSAMPLE},
        {"addtexttopath", path, CallWith("addtexttopath", {"1", "\"walk\"", "t"}), CallCommand("FreePath", {1}),
         ERR_FINDPATH},
        {"playvideo", video, CallWith("playvideo", {"1", "0", "0", "t"}), closeVideo, ERR_FINDVIDEO},
        {"displayvideoframe", CallCommand("EnableLayers", {}) + video,
         CallWith("displayvideoframe", {"1", "0", "0", "0", "t"}), closeVideo, ERR_FINDVIDEO},
        {"setlayerstyle", layers, CallWith("setlayerstyle", {"1", "t"}), CallCommand("RemoveLayer", {1}),
         ERR_LAYERRANGE},
    };
    for (const Case& c : cases) {
        const e2e::RunResult r = PlayScript(Applet(c.setup, c.call, c.frees), "-quiet", "", c.name);
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        // The text up to the object's number ("Could not find brush ").
        const std::string text = Text(c.error);
        EXPECT_NE(r.err.find(text.substr(0, text.find_first_of("0123456789"))), std::string::npos)
            << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << c.name << "\n" << r.err;
    }
}

TEST_F(OptionFreeTest, ASampleFreedWhileAMusicBufferReadsOptionsIsNotFound) {
    // A script-fed music asks for a block; the handler fills it from sample
    // 2 with options whose "__index" frees the sample (the music itself
    // cannot be closed from there).
    std::vector<uint8_t> pcm(4000, 0);
    const soundfiles::Bytes wave = soundfiles::MakeWave(soundfiles::Wave{}, pcm);
    e2e::WriteFile(dir_ / "walk.wav", std::string(wave.begin(), wave.end()));
    const std::string script = R"(
.function main maxstack=12
.line 1
    CLOSURE 0 onfill
    SETGLOBAL 0 "onfill"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    GETGLOBAL 2 "onfill"
    SETTABLE 1 "fillmusicbuffer" 2
    CALL 0 2 1
    GETGLOBAL 0 "loadsample"
    LOADK 1 #2
    LOADK 2 ")" + (dir_ / "walk.wav").string() + R"("
    CALL 0 3 1
    GETGLOBAL 0 "createmusic"
    LOADK 1 #1
    LOADK 2 #48000
    LOADK 3 #1
    CALL 0 4 1
    GETGLOBAL 0 "playmusic"
    LOADK 1 #1
    CALL 0 2 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onfill params=1 maxstack=12
.line 2
    GETGLOBAL 1 "setmetatable"
    NEWTABLE 2 0 1
    LOADK 3 #2
    SETTABLE 2 "id" 3
    NEWTABLE 3 0 1
    CLOSURE 4 freer
    SETTABLE 3 "__index" 4
    CALL 1 3 2
    GETGLOBAL 2 "fillmusicbuffer"
    GETTABLE 3 0 "id"
    LOADK 4 "sample"
    LOADK 5 #100
    MOVE 6 1
    CALL 2 5 1
    RETURN 0 1 0
.function freer params=2 maxstack=6
.line 3
    GETGLOBAL 2 "freed"
    EQ 1 2 #1
    JMP done
    LOADK 2 #1
    SETGLOBAL 2 "freed"
    GETGLOBAL 2 "freesample"
    LOADK 3 #2
    CALL 2 2 1
done:
    RETURN 0 1 0
.end
.end
.end
)";
    const e2e::RunResult r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + (dir_ / "capture.raw").string() + " " +
                                 QB_PLAYER_PATH + " " +
                                 Pack(Chunk(script, "fill"), dir_ / "fill.qba", "--include fill.qbs:1:1000:0").string() +
                                 " -quiet");
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string text = Text(ERR_FINDSAMPLE);
    EXPECT_NE(r.err.find(text.substr(0, text.find_first_of("0123456789"))), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
}
