// WaitSampleEnd in a script run by the player headless, with SDL's disk
// audio driver taking the mixer's sound at the device's pace: the script
// goes on only once the sample has played to its end, so all of it is in
// what the device took before the applet ends.
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
constexpr int kToneFrames = kRate / 2;

std::string ToneWave() { return soundfiles::ToneWaveFile(kToneFrames, kRate); }

class SampleWaitTest : public e2e::E2eFixture {};

TEST_F(SampleWaitTest, TheScriptGoesOnWhenTheSampleHasPlayed) {
    const fs::path wave = dir_ / "tone.wav";
    e2e::WriteFile(wave, ToneWave());
    const std::string script = R"(.function main maxstack=8
.line 1
    GETGLOBAL 0 "loadsample"
    LOADK 1 #1
    LOADK 2 ")" + wave.string() + R"("
    CALL 0 3 1
    GETGLOBAL 0 "playsample"
    LOADK 1 #1
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "waitsampleend"
    LOADK 1 #1
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "issampleplaying"
    LOADK 2 #1
    CALL 1 2 2
    CALL 0 2 1
    GETGLOBAL 0 "end"
    CALL 0 1 1
    RETURN 0 1 0
.end
)";
    const fs::path applet = Pack(Chunk(script, "wait"), dir_ / "wait.qba", "--include wait.qbs:1:1000:0");
    const fs::path capture = dir_ / "capture.raw";
    const e2e::RunResult r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " +
                                 QB_PLAYER_PATH + " " + applet.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
    // The capture: float stereo at the device's rate (44100 or 48000 Hz).
    const std::string raw = e2e::ReadFile(capture);
    std::vector<float> out(raw.size() / sizeof(float));
    std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
    size_t loud = 0;
    for (size_t i = 0; i < out.size(); i += 2) loud += std::fabs(out[i]) > 1e-4f;
    // Half a second of tone, a zero crossing or so less.
    EXPECT_GE(loud, static_cast<size_t>(kRate / 2 - 64));
}

}  // namespace
