// Sounds that only the platform decoder reads, from a script run by the
// player headless: an MP3 linked into the applet and an Ogg Vorbis file
// beside it load with the values of ffmpeg's own decoding, a text file is
// no sample, and the MP3 played reaches SDL's disk driver as its tone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "imaging/imagefixtures.h"

namespace {

namespace fs = std::filesystem;

// Quiet enough that the sums of squares print exactly ("%.14g").
constexpr const char* kTone = "aevalsrc=0.25*sin(2*PI*1000*t):s=44100:d=0.5";
constexpr const char* kChord = "aevalsrc=0.25*sin(2*PI*440*t)|0.2*sin(2*PI*660*t):s=44100:d=0.4";

// GetSampleData's frame count, the sum of the values and of their
// squares, and value 1000, printed for sample id (of the given channels).
const char kMeasure[] = R"(
.function measure params=2 maxstack=14
.line 30
    GETGLOBAL 2 "getsampledata"
    MOVE 3 0
    CALL 2 2 3
    LOADK 4 #0
    LOADK 5 #0
    LOADK 6 #-1
    MUL 7 3 1
    SUB 7 7 #1
    LOADK 8 #1
    JMP check
body:
    GETTABLE 10 2 6
    ADD 4 4 10
    MUL 11 10 10
    ADD 5 5 11
check:
    FORLOOP 6 body
    GETGLOBAL 6 "debugprint"
    MOVE 7 3
    MOVE 8 4
    MOVE 9 5
    GETTABLE 10 2 #1000
    CALL 6 5 1
    RETURN 0 1 0
.end
)";

std::string Script(const std::string& ogg, const std::string& text) {
    return R"(
.function main maxstack=12
.line 1
    CLOSURE 0 measure
    SETGLOBAL 0 "measure"
    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 2
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onsampleend" 2
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "loadsample"
    LOADK 1 #1
    LOADK 2 "tone.mp3"
    CALL 0 3 1
    GETGLOBAL 0 "loadsample"
    LOADK 1 #2
    LOADK 2 ")" + ogg + R"("
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "measure"
    LOADK 1 #1
    LOADK 2 #1
    CALL 0 3 1
    GETGLOBAL 0 "measure"
    LOADK 1 #2
    LOADK 2 #2
    CALL 0 3 1
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "issample"
    LOADK 2 ")" + text + R"("
    CALL 1 2 0
    CALL 0 0 1
.line 5
    GETGLOBAL 0 "playsample"
    LOADK 1 #1
    CALL 0 2 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
)" + kMeasure + R"(
.function onend params=1 maxstack=4
.line 20
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";
}

class NativeSoundRoadTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        e2e::E2eFixture::SetUp();
        if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    }
    // Makes the file and returns the line the script prints for it, from
    // ffmpeg's own 16-bit decoding.
    std::string Make(const fs::path& file, const char* source, const char* codec) {
        EXPECT_EQ(Run(std::string("ffmpeg -v error -y -f lavfi -i '") + source + "' " + codec + " " + file.string())
                      .status,
                  0);
        const fs::path raw = file.string() + ".raw";
        EXPECT_EQ(Run("ffmpeg -v error -y -i " + file.string() + " -f s16le " + raw.string()).status, 0);
        const std::string bytes = e2e::ReadFile(raw.string());
        std::vector<int16_t> v(bytes.size() / 2);
        std::memcpy(v.data(), bytes.data(), v.size() * 2);
        const int channels = std::strchr(source, '|') ? 2 : 1;
        double sum = 0, squares = 0;
        for (int16_t x : v) {
            sum += x;
            squares += static_cast<double>(x) * x;
        }
        char line[128];
        std::snprintf(line, sizeof line, "%zu %.14g %.14g %d\n", v.size() / channels, sum, squares,
                      v.size() > 1000 ? v[1000] : 0);
        return line;
    }
};

TEST_F(NativeSoundRoadTest, AnAppletLoadsMP3AndOggAndPlaysTheMP3) {
    const std::string mp3Line = Make(dir_ / "tone.mp3", kTone, "-c:a libmp3lame -b:a 128k");
    const std::string oggLine = Make(dir_ / "chord.ogg", kChord, "-c:a libvorbis");
    e2e::WriteFile(dir_ / "notes.txt", "not a sound at all\n");
    fs::create_directories(dir_ / "tmp");
    // The MP3 lives inside the applet only.
    const fs::path applet = Pack(Chunk(Script((dir_ / "chord.ogg").string(), (dir_ / "notes.txt").string()), "native"),
                                 dir_ / "native.qba",
                                 "--include native.qbs:1:1000:0 --link tone.mp3=" + (dir_ / "tone.mp3").string());
    fs::remove(dir_ / "tone.mp3");
    const fs::path capture = dir_ / "capture.raw";
    const e2e::RunResult r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " +
                                 QB_PLAYER_PATH + " " + applet.string() + " -quiet -tempdir " +
                                 (dir_ / "tmp").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, mp3Line + oggLine + "0\n") << r.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "decoded in place, no copy";

    // The capture: 0.5 s of a 1 kHz tone at the device's rate.
    const std::string raw = e2e::ReadFile(capture.string());
    std::vector<float> stereo(raw.size() / sizeof(float));
    std::memcpy(stereo.data(), raw.data(), stereo.size() * sizeof(float));
    size_t loud = 0;
    int crossings = 0;
    float prev = 0;
    for (size_t i = 0; i < stereo.size(); i += 2) {
        const float v = stereo[i];
        if (std::fabs(v) > 1e-4f) ++loud;
        if (v != 0 && prev != 0 && (v > 0) != (prev > 0)) ++crossings;
        if (v != 0) prev = v;
    }
    EXPECT_GE(loud, 44100u * 45 / 100);
    EXPECT_LE(loud, 48000u * 55 / 100);
    EXPECT_NEAR(crossings, 1000, 20);
}

}  // namespace
