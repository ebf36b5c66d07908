// The road of a music from a script run by the player headless, with SDL's
// disk audio driver writing what the mixer renders: OpenMusic opens a WAVE
// the test made, PlayMusic plays it three times through its feeder thread,
// and the OnMusicEnd handler prints its one event and ends the applet. A
// declared music plays without OpenMusic.
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
