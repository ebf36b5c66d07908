// A module from a script run by the player headless, with SDL's disk audio
// driver writing what the mixer renders: the applet loads a module the test
// made, plays it, waits for row 8 and prints where the song stands; stopped
// and played again, the module starts from the top.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "sound/modbuilder.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPeriod = 428;
constexpr size_t kSquareBytes = 32;

// One looping square-wave instrument, one note on channel 0 at row 0.
std::string SquareModule() {
    modbuild::Module m;
    m.instruments[0].data = modbuild::Square(512, kSquareBytes);
    m.instruments[0].loopStartWords = 0;
    m.instruments[0].loopLengthWords = 256;
    m.At(0, 0, 0) = {kPeriod, 1, 0, 0};
    const std::vector<uint8_t> bytes = modbuild::Build(m);
    return std::string(bytes.begin(), bytes.end());
}

std::string Script(const std::string& module) {
    const std::string printPositions = R"(
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getsongposition"
    CALL 1 1 2
    GETGLOBAL 2 "getpatternposition"
    CALL 2 1 2
    CALL 0 3 1
)";
    auto call1 = [](const char* name, int arg) {
        return std::string("    GETGLOBAL 0 \"") + name + "\"\n    LOADK 1 #" + std::to_string(arg) +
               "\n    CALL 0 2 1\n";
    };
    return ".function main maxstack=12\n.line 1\n    GETGLOBAL 0 \"loadmodule\"\n    LOADK 1 #1\n    LOADK 2 \"" +
           module + "\"\n    CALL 0 3 1\n.line 2\n" + call1("playmodule", 1) + ".line 3\n" +
           call1("waitpatternposition", 8) + ".line 4" + printPositions + ".line 5\n" + call1("stopmodule", 1) +
           call1("playmodule", 1) + ".line 6" + printPositions + ".line 7\n" + call1("waitpatternposition", 2) +
           ".line 8" + printPositions + "    GETGLOBAL 0 \"end\"\n    CALL 0 1 1\n    RETURN 0 1 0\n.end\n";
}

class PlayerModuleTest : public e2e::E2eFixture {};

TEST_F(PlayerModuleTest, AModulePlaysItsNoteOnTheLeftAndStartsAgainFromTheTop) {
    const fs::path module = dir_ / "square.mod";
    e2e::WriteFile(module, SquareModule());
    const fs::path applet =
        Pack(Chunk(Script(module.string()), "module"), dir_ / "module.qba", "--include module.qbs:1:1000:0");
    const fs::path capture = dir_ / "capture.raw";
    const e2e::RunResult r = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture.string() + " " +
                                 QB_PLAYER_PATH + " " + applet.string() + " -quiet");
    ASSERT_EQ(r.status, 0) << r.err;

    // Song position and row after the wait, right after the restart and
    // once it reached row 2 again. A loaded machine may be a row or two late.
    std::istringstream lines(r.out);
    int song[3] = {-1, -1, -1}, row[3] = {-1, -1, -1};
    for (int i = 0; i < 3; ++i) lines >> song[i] >> row[i];
    ASSERT_TRUE(lines) << r.out;
    EXPECT_EQ(song[0], 0);
    EXPECT_GE(row[0], 8);
    EXPECT_LE(row[0], 10);
    EXPECT_EQ(song[1], 0);
    EXPECT_LE(row[1], 2);
    EXPECT_EQ(song[2], 0);
    EXPECT_GE(row[2], 2);
    EXPECT_LE(row[2], 4);

    // The capture: 32-bit float stereo at the 48000 Hz the player asks for.
    const std::string raw = e2e::ReadFile(capture);
    std::vector<float> out(raw.size() / sizeof(float));
    std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
    size_t loud = 0;
    int crossings = 0;
    float rightPeak = 0, prev = 0;
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        const float v = out[i];
        rightPeak = std::max(rightPeak, std::fabs(out[i + 1]));
        if (std::fabs(v) > 1e-3f) ++loud;
        if (v != 0 && prev != 0 && (v > 0) != (prev > 0)) ++crossings;
        if (v != 0) prev = v;
    }
    EXPECT_EQ(rightPeak, 0.0f);
    // Rows 0 to 8 and 0 to 2 at 0.12 s a row: about 1.3 s of the note.
    ASSERT_GT(loud, 48000u);
    // The period's pitch: 1172874197 / (period * 96000 / 50) in 18.14 fixed
    // point a sample at 96000 Hz, through a square of 32 bytes, two sign
    // changes a cycle (8363 Hz / 32 at period 428).
    const double hz = 1172874197.0 * 50 / (16384.0 * kPeriod) / kSquareBytes;
    const double measured = crossings / 2.0 / (static_cast<double>(loud) / 48000);
    EXPECT_NEAR(measured, hz, hz * 0.005);
}

}  // namespace
