// Sound decoded whole from a script: DumpVideo of a movie whose 192 kHz TTA
// frames hold three times the engine's sound buffer writes every frame of
// its sound, and LoadSample takes WavPack in Matroska, whose packets carry
// no durations, at the length ffmpeg decodes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"
#include "fixtures/ffmpeg_fixtures.h"

namespace {

class SoundWholeTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        e2e::E2eFixture::SetUp();
        if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    }
};

}  // namespace

TEST_F(SoundWholeTest, DumpVideoWritesAllOfTheSoundAndLoadSampleTakesWavPackInMatroska) {
    const std::string movie = ffmpegfixtures::MakeWith(
        dir_.string(), "tta.mkv",
        "-f lavfi -i testsrc=size=32x24:rate=10:duration=2 -f lavfi -i "
        "sine=frequency=440:sample_rate=192000:duration=2 -ac 2 -c:v mjpeg -c:a tta");
    const std::string sound = ffmpegfixtures::MakeWith(dir_.string(), "sound.mka",
                                                       "-f lavfi -i sine=frequency=440:duration=1.5 -ac 2 -c:a wavpack");
    ASSERT_FALSE(movie.empty());
    ASSERT_FALSE(sound.empty());
    const std::string out = (dir_ / "out").string();
    // DumpVideo(1, 0, 0, out, 1); LoadSample(1, sound); DebugPrint(the frames GetSampleData(1) gives).
    const std::string body = ".line 2\n    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #1\n    LOADK 2 \"" + movie +
                             "\"\n    CALL 0 3 1\n    GETGLOBAL 0 \"dumpvideo\"\n    LOADK 1 #1\n    LOADK 2 #0\n"
                             "    LOADK 3 #0\n    LOADK 4 \"" + out + "\"\n    LOADK 5 #1\n    CALL 0 6 1\n"
                             "    GETGLOBAL 0 \"loadsample\"\n    LOADK 1 #1\n    LOADK 2 \"" + sound +
                             "\"\n    CALL 0 3 1\n    GETGLOBAL 2 \"getsampledata\"\n    LOADK 3 #1\n    CALL 2 2 3\n"
                             "    GETGLOBAL 6 \"debugprint\"\n    MOVE 7 3\n    CALL 6 2 1\n";
    const e2e::RunResult r = PlayScript(e2e::MainFunction(body, 8));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "66150\n");
    const std::string wave = out + ".wav";
    EXPECT_EQ(ffmpegfixtures::Probe(wave, "stream=sample_rate"), "192000");
    const e2e::RunResult frames =
        Run("python3 -c \"import wave; w = wave.open('" + wave + "'); print(w.getnchannels(), w.getnframes())\"");
    EXPECT_EQ(frames.out, "2 384000\n");
}
