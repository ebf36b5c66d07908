// Modules through the music commands: loaded whole, played on a module
// channel, their rows and song positions followed and steered.
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "modbuilder.h"
#include "music_fixture.h"
#include "peak_memory.h"
#include "sound/samples.h"

namespace music_test {
namespace {

// Three positions of one-tick rows (960 frames a row at 48000 Hz), a
// looping square on channel 0.
std::string WriteModule(const char* name) {
    modbuild::Module m;
    m.songLength = 3;
    m.order[0] = 0;
    m.order[1] = 1;
    m.order[2] = 0;
    m.instruments[0].data = modbuild::Square(256);
    m.instruments[0].loopStartWords = 0;
    m.instruments[0].loopLengthWords = 128;
    m.At(0, 0, 0) = {428, 1, 0xF, 0x01};
    m.At(1, 0, 0) = {0, 0, 0xF, 0x01};
    const auto bytes = modbuild::Build(m);
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST_F(MusicTest, ModulePlaysAndItsPositionsFollowTheRows) {
    const std::string path = WriteModule("music_module.mod");
    ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0);
    EXPECT_EQ(Number("GetPatternPosition"), -1);  // not playing yet
    const qbMusicObject* m = Music(1);
    EXPECT_STREQ(SoundFormatName(*m->stream), "Protracker");
    EXPECT_EQ(m->stream->pcmCode, 5);
    EXPECT_EQ(m->stream->rate, 48000);
    EXPECT_FALSE(m->stream->file);  // read whole and closed
    ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0);
    const std::vector<float> left = Pull(960 * 20, 960, false);
    float peak = 0;
    for (float v : left) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.1f);
    const double row = Number("GetPatternPosition");
    EXPECT_GE(row, 18);
    EXPECT_LE(row, 22);
    EXPECT_EQ(Number("GetSongPosition"), 0);
    Pull(960 * 64, 960, false);
    EXPECT_EQ(Number("GetSongPosition"), 1);
    // A subsong is a song position, taken at the next render.
    EXPECT_EQ(Call("PlaySubsong", [&] { N(3); }), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("PlaySubsong", [&] { N(2); }), 0);
    Pull(960 * 2, 960, false);
    EXPECT_EQ(Number("GetSongPosition"), 2);
    // Stopped and played again, it starts from the top.
    ASSERT_EQ(Call("StopModule", [&] { N(1); }), 0);
    EXPECT_EQ(Number("GetSongPosition"), -1);
    ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0);
    Pull(960 * 2, 960, false);
    EXPECT_EQ(Number("GetSongPosition"), 0);
    EXPECT_LE(Number("GetPatternPosition"), 3);
}

TEST_F(MusicTest, WaitPatternPositionReturnsOnceTheRowIsReached) {
    const std::string path = WriteModule("music_wait.mod");
    ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0);
    EXPECT_EQ(Call("WaitPatternPosition", [] {}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Call("WaitPatternPosition", [&] { N(1); N(2); }), ERR_TOOMANYARGS);
    EXPECT_EQ(Call("WaitPatternPosition", [&] { S("row"); }), ERR_NUMEXPECTED);
    // With no module playing there is nothing to wait for.
    EXPECT_EQ(Call("WaitPatternPosition", [&] { N(8); }), 0);
    ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0);
    // The device pulls a row (960 frames) at a time, slower than real time
    // would, while the script waits.
    std::atomic<bool> stop{false};
    std::thread device([&] {
        for (int row = 0; row < 60 && !stop.load(); ++row) {
            Pull(960, 960, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const int waited = Call("WaitPatternPosition", [&] { N(8); });
    const double row = Number("GetPatternPosition");
    stop = true;
    device.join();
    EXPECT_EQ(waited, 0);
    EXPECT_GE(row, 8);
    EXPECT_LE(row, 20);  // well before the device stops
    // A row already passed returns at once.
    EXPECT_EQ(Call("WaitPatternPosition", [&] { N(2); }), 0);
}

TEST_F(MusicTest, ModuleTooShortForItsPatternsIsRefused) {
    std::string path = WriteModule("music_short.mod");
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(1084 + 1024);  // order entry 1 needs a second pattern
    const std::string cut = ::testing::TempDir() + "music_cut.mod";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(Call("LoadModule", [&] { N(1); S(cut.c_str()); }), ERR_OPENSOUND2);
}

// A module grown by a hole to 1.5 GiB, or past 2 GiB: what it uses is read,
// the rest never is, so loading, playing and stopping it cost its content,
// not its length.
TEST_F(MusicTest, ASparseModuleCostsItsContentNotItsLength) {
    const std::string path = WriteModule("music_sparse.mod");
    const uint64_t content = std::filesystem::file_size(path);
    for (const uint64_t length : {uint64_t{3} << 29, (uint64_t{1} << 31) + 1}) {
        std::filesystem::resize_file(path, length);
        const uint64_t grown = PeakGrowth([&] {
            ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0);
            ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0);
            Pull(960 * 4, 960, false);
            ASSERT_EQ(Call("StopModule", [&] { N(1); }), 0);
        });
        EXPECT_EQ(Music(1)->moduleBytes.size(), content) << length;
        EXPECT_LT(grown, 256 * content + (16u << 20)) << length;
    }
}

}  // namespace
}  // namespace music_test
