// A headless run says nothing on standard error that the player did not
// say. SDL looks for a sound device through alsa-lib, which reports every
// failed step of its search there (eight lines on a machine without a sound
// card), whether SDL chose ALSA itself or was told to. The run reads an
// alsa-lib configuration whose device names a card no machine has, so that
// the search fails, and reports, on a machine with a sound card too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"
#include "sound/soundfile_builders.h"

namespace {

namespace fs = std::filesystem;
using e2e::RunResult;

class QuietStderrTest : public e2e::E2eFixture {};

TEST_F(QuietStderrTest, AnAppletThatLoadsASampleWritesNothingOnStandardError) {
    soundfiles::Bytes pcm;
    for (int i = 0; i < 2000; ++i) soundfiles::LE16(pcm, static_cast<uint16_t>(i * 16));
    const soundfiles::Bytes wave = soundfiles::MakeWave(soundfiles::Wave{}, pcm);
    e2e::WriteFile(dir_ / "tone.wav", std::string(wave.begin(), wave.end()));
    const fs::path qba = Pack(Chunk(R"(.function main maxstack=4
    GETGLOBAL 0 "loadsample"
    LOADK     1 #1
    LOADK     2 "tone.wav"
    CALL      0 3 1
    GETGLOBAL 0 "debugprint"
    LOADK     1 "loaded"
    CALL      0 2 1
    RETURN    0 1
.end
)", "sample"), dir_ / "sample.qba", "");
    const fs::path config = dir_ / "asound.conf";
    e2e::WriteFile(config, "pcm.!default { type hw card \"QbAbsentCard\" }\n"
                           "ctl.!default { type hw card \"QbAbsentCard\" }\n");
    // SDL's own choice of driver, and ALSA asked for by name.
    for (const char* driver : {"env -u SDL_AUDIODRIVER", "env SDL_AUDIODRIVER=alsa"}) {
        SCOPED_TRACE(driver);
        const RunResult r = Run(std::string(driver) + " ALSA_CONFIG_PATH=" + config.string() + " " + QB_PLAYER_PATH +
                                " " + qba.string() + " -quiet");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "loaded\n");
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
