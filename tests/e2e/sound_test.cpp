// The road of a sample from a script run by the player headless, with SDL's
// disk audio driver writing what the mixer renders: LoadSample reads a
// WAVE the test made, PlaySample plays it twice, and the OnSampleLoop and
// OnSampleEnd handlers print what their events carry before the applet
// ends. A declared sample plays without LoadSample.
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

constexpr int kRate = 44100;
constexpr int kToneFrames = kRate / 4;

std::string ToneWave() { return soundfiles::ToneWaveFile(kToneFrames, kRate); }

// Installs the two handlers, then (when load) loads the sample; plays it
// twice and waits for events until the end handler ends the applet.
std::string Script(const std::string& wave, bool load) {
    std::string s = R"(
.function main maxstack=12
.line 1
    CLOSURE 0 onloop
    SETGLOBAL 0 "onloop"
    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 2
    GETGLOBAL 2 "onloop"
    SETTABLE 1 "onsampleloop" 2
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onsampleend" 2
    CALL 0 2 1
)";
    if (load) {
        s += ".line 2\n    GETGLOBAL 0 \"loadsample\"\n    LOADK 1 #1\n    LOADK 2 \"" + wave +
             "\"\n    CALL 0 3 1\n";
    }
    s += R"(.line 3
    GETGLOBAL 0 "playsample"
    LOADK 1 #1
    LOADK 2 #2
    CALL 0 3 1
.line 4
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onloop params=1 maxstack=6
.line 10
    GETGLOBAL 1 "debugprint"
    LOADK 2 "loop"
    GETTABLE 3 0 "time"
    GETTABLE 4 0 "starts"
    CALL 1 4 1
    RETURN 0 1 0
.end
.function onend params=1 maxstack=6
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "end"
    GETTABLE 3 0 "time"
    GETTABLE 4 0 "starts"
    CALL 1 4 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";
    return s;
}

class PlayerSoundTest : public e2e::E2eFixture {
protected:
    // Runs the applet with the disk driver; the capture's float samples.
    std::vector<float> Play(const fs::path& applet, e2e::RunResult* r) {
        const fs::path capture = dir_ / "capture.raw";
        *r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " + QB_PLAYER_PATH + " " +
                 applet.string() + " -quiet");
        const std::string raw = e2e::ReadFile(capture.string());
        std::vector<float> out(raw.size() / sizeof(float));
        std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
        return out;
    }
    // Frames of the capture's left side that carry sound, and its sign
    // changes.
    static void Measure(const std::vector<float>& stereo, size_t* loudFrames, int* crossings) {
        *loudFrames = 0;
        *crossings = 0;
        float prev = 0;
        for (size_t i = 0; i < stereo.size(); i += 2) {
            const float v = stereo[i];
            if (std::fabs(v) > 1e-4f) ++*loudFrames;
            if (v != 0 && prev != 0 && (v > 0) != (prev > 0)) ++*crossings;
            if (v != 0) prev = v;
        }
    }
};

TEST_F(PlayerSoundTest, ASamplePlaysTwiceAndItsEventsReachTheHandlers) {
    const fs::path wave = dir_ / "tone.wav";
    e2e::WriteFile(wave, ToneWave());
    const fs::path applet = Pack(Chunk(Script(wave.string(), true), "sound"), dir_ / "sound.qba",
                                 "--include sound.qbs:1:1000:0");
    e2e::RunResult r;
    const std::vector<float> capture = Play(applet, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "loop 250 2\nend 500 2\n") << r.err;
    size_t loud = 0;
    int crossings = 0;
    Measure(capture, &loud, &crossings);
    // 0.5 s of a 1 kHz tone at the device rate (44100 or 48000 Hz).
    EXPECT_GE(loud, 44100u * 45 / 100);
    EXPECT_LE(loud, 48000u * 55 / 100);
    EXPECT_NEAR(crossings, 1000, 20);
}

TEST_F(PlayerSoundTest, ADeclaredSamplePlaysWithoutLoadSample) {
    const fs::path wave = dir_ / "tone.wav";
    e2e::WriteFile(wave, ToneWave());
    const fs::path applet = Pack(Chunk(Script(wave.string(), false), "sound"), dir_ / "sound.qba",
                                 "--include sound.qbs:1:1000:0 --declare 4:1:1:" + wave.string());
    e2e::RunResult r;
    Play(applet, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "loop 250 2\nend 500 2\n") << r.err;
}

}  // namespace
