// The road of a music from a script run by the player headless, with SDL's
// disk audio driver writing what the mixer renders: OpenMusic opens a WAVE
// the test made, PlayMusic plays it three times through its feeder thread,
// and the OnMusicEnd handler prints its one event and ends the applet. A
// script-fed music plays what its handler computes, and a declared music
// plays without OpenMusic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "sound/soundfile_builders.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr int kToneFrames = kRate * 2 / 5;  // 0.4 s of 1 kHz: a whole number of periods

std::string ToneWave() {
    soundfiles::Bytes pcm;
    for (int i = 0; i < kToneFrames; ++i) {
        const auto v = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * i / kRate)));
        soundfiles::LE16(pcm, static_cast<uint16_t>(v));
    }
    soundfiles::Wave w;
    w.rate = kRate;
    const soundfiles::Bytes file = soundfiles::MakeWave(w, pcm);
    return std::string(file.begin(), file.end());
}

std::string Script(const std::string& wave, bool open) {
    std::string s = R"(
.function main maxstack=12
.line 1
    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onmusicend" 2
    CALL 0 2 1
)";
    if (open) {
        s += ".line 2\n    GETGLOBAL 0 \"openmusic\"\n    LOADK 1 #1\n    LOADK 2 \"" + wave +
             "\"\n    CALL 0 3 1\n";
    }
    s += R"(.line 3
    GETGLOBAL 0 "playmusic"
    LOADK 1 #1
    LOADK 2 #3
    CALL 0 3 1
.line 4
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onend params=1 maxstack=6
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "musicend"
    GETTABLE 3 0 "id"
    CALL 1 3 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";
    return s;
}

// A square wave of 240 Hz that the "FillMusicBuffer" handler computes for
// 2 s, as many frames as each request asks for; then an "end" block.
const char* const kSquareScript = R"(
.function main maxstack=12
.line 1
    CLOSURE 0 onfill
    SETGLOBAL 0 "onfill"
    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    LOADK 0 #0
    SETGLOBAL 0 "made"
    NEWTABLE 0 0 2
    LOADK 1 "end"
    SETTABLE 0 #0 1
    LOADK 1 "mute"
    SETTABLE 0 #1 1
    SETGLOBAL 0 "kinds"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 2
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onmusicend" 2
    GETGLOBAL 2 "onfill"
    SETTABLE 1 "fillmusicbuffer" 2
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "createmusic"
    LOADK 1 #1
    LOADK 2 #48000
    LOADK 3 #1
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "playmusic"
    LOADK 1 #1
    CALL 0 2 1
.line 4
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onfill params=1 maxstack=20
.line 30
    GETTABLE 1 0 "samples"
    GETGLOBAL 2 "made"
    SUB 3 #96000 2
    GETGLOBAL 4 "min"
    MOVE 5 1
    MOVE 6 3
    CALL 4 3 2
    NEWTABLE 5 0 0
    LOADK 6 #-1
    SUB 7 4 #1
    LOADK 8 #1
    JMP check
body:
    ADD 9 2 6
    DIVINT 9 9 #100
    MOD 9 9 #2
    MUL 9 9 #-16000
    ADD 9 9 #8000
    SETTABLE 5 6 9
check:
    FORLOOP 6 body
.line 31
    ADD 2 2 4
    SETGLOBAL 2 "made"
    GETGLOBAL 9 "fillmusicbuffer"
    GETTABLE 10 0 "id"
    LOADK 11 "pcm"
    MOVE 12 4
    NEWTABLE 13 0 1
    SETTABLE 13 "data" 5
    CALL 9 5 1
.line 32
    GETGLOBAL 9 "fillmusicbuffer"
    GETTABLE 10 0 "id"
    GETGLOBAL 11 "kinds"
    GETGLOBAL 12 "min"
    SUB 13 3 4
    LOADK 14 #1
    CALL 12 3 2
    GETTABLE 11 11 12
    LOADK 12 #0
    CALL 9 4 1
    RETURN 0 1 0
.end
.function onend params=1 maxstack=6
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "musicend"
    GETTABLE 3 0 "id"
    CALL 1 3 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";

class PlayerMusicTest : public e2e::E2eFixture {
protected:
    std::vector<float> Play(const fs::path& applet, e2e::RunResult* r) {
        const fs::path capture = dir_ / "capture.raw";
        *r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " + QB_PLAYER_PATH + " " +
                 applet.string() + " -quiet");
        const std::string raw = e2e::ReadFile(capture.string());
        std::vector<float> out(raw.size() / sizeof(float));
        std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
        return out;
    }
};

TEST_F(PlayerMusicTest, AMusicPlaysThreeTimesAndEndsOnce) {
    const fs::path wave = dir_ / "tone.wav";
    e2e::WriteFile(wave, ToneWave());
    const fs::path applet = Pack(Chunk(Script(wave.string(), true), "music"), dir_ / "music.qba",
                                 "--include music.qbs:1:1000:0");
    e2e::RunResult r;
    const std::vector<float> capture = Play(applet, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "musicend 1\n") << r.err;
    // The tone's frames: from the first loud one to the last, with no
    // silent stretch between (a gap) and 2400 sign changes (no repeat).
    size_t first = 0, last = 0, quietRun = 0, longestQuiet = 0;
    int crossings = 0;
    float prev = 0;
    bool any = false;
    for (size_t i = 0; i < capture.size(); i += 2) {
        const float v = capture[i];
        if (std::fabs(v) > 1e-4f) {
            if (!any) first = i / 2;
            any = true;
            last = i / 2;
            longestQuiet = std::max(longestQuiet, quietRun);
            quietRun = 0;
        } else if (any) {
            ++quietRun;
        }
        if (v != 0 && prev != 0 && (v > 0) != (prev > 0)) ++crossings;
        if (v != 0) prev = v;
    }
    ASSERT_TRUE(any);
    // 1.2 s at the device rate (44100 or 48000 Hz).
    EXPECT_GE(last - first, 44100u * 118 / 100);
    EXPECT_LE(last - first, 48000u * 122 / 100);
    EXPECT_LE(longestQuiet, 4u);
    EXPECT_NEAR(crossings, 2400, 24);
}

TEST_F(PlayerMusicTest, AScriptFedSquareWavePlaysUntilItsEndBlock) {
    const fs::path applet = Pack(Chunk(kSquareScript, "square"), dir_ / "square.qba", "--include square.qbs:1:1000:0");
    e2e::RunResult r;
    const std::vector<float> capture = Play(applet, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "musicend 1\n") << r.err;
    size_t loud = 0;
    int crossings = 0;
    float prev = 0;
    for (size_t i = 0; i < capture.size(); i += 2) {
        const float v = capture[i];
        if (std::fabs(v) > 1e-4f) ++loud;
        if (v != 0 && prev != 0 && (v > 0) != (prev > 0)) ++crossings;
        if (v != 0) prev = v;
    }
    // 2 s at the device rate, flipping every 100 source frames.
    EXPECT_GE(loud, 44100u * 198 / 100);
    EXPECT_LE(loud, 48000u * 202 / 100);
    EXPECT_NEAR(crossings, 960, 4);
}

TEST_F(PlayerMusicTest, ADeclaredMusicOpensAtStartUp) {
    const fs::path wave = dir_ / "tone.wav";
    e2e::WriteFile(wave, ToneWave());
    const fs::path applet = Pack(Chunk(Script(wave.string(), false), "music"), dir_ / "music.qba",
                                 "--include music.qbs:1:1000:0 --declare 3:1:1:" + wave.string());
    e2e::RunResult r;
    Play(applet, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "musicend 1\n") << r.err;
}

}  // namespace
