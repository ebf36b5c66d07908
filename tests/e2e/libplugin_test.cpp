// Plugins that serve a script, headless: a library plugin's command and an
// image-loader plugin's picture shown in display 1, both plugins beside a
// copy of the player.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReadFile;

constexpr uint32_t kColour = 0x3366CC;
constexpr int kWidth = 12, kHeight = 6;

const char kScript[] = R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "testlib"
    GETTABLE 1 1 "add"
    LOADK 2 #2
    LOADK 3 #3
    CALL 1 3 0
    CALL 0 0 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "testlib"
    GETTABLE 1 1 "join"
    LOADK 2 #7
    LOADK 3 "abc"
    CALL 1 3 0
    CALL 0 0 1
.line 2
    GETGLOBAL 0 "loadbrush"
    LOADK 1 #1
    LOADK 2 "pic.tst"
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
    RETURN 0 1 0
.end
)";

class PluginServesTest : public e2e::E2eFixture {
protected:
    // The last frame the dummy driver saved, as 0xRRGGBB.
    std::vector<uint32_t> LastFrame(const fs::path& folder, int* width, int* height) {
        return e2e::LastSavedFrame(folder, width, height);
    }
};

TEST_F(PluginServesTest, ALibraryCommandAndAPluginPictureInOneApplet) {
    const fs::path app = dir_ / "app";
    fs::create_directories(app);
    const fs::path player = app / "quenbrookplayer";
    fs::copy_file(QB_PLAYER_PATH, player);
    for (const char* name : {"testlib", "testimg"})
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / (std::string(name) + ".qbp"), app / (std::string(name) + ".qbp"));
    e2e::WriteFile(dir_ / "pic.tst", "TST 12 6 0 0 0 12 ff3366cc 0\n");
    const fs::path log = dir_ / "calls.log";
    const fs::path qba = Pack(Chunk(kScript, "serve"), dir_ / "serve.qba", "--include serve.qbs:1:1000:0");

    const e2e::RunResult r = PlaySavingFrames(qba, "QB_TEST_PLUGIN_LOG=" + log.string(), dir_, player);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Join reads an object id and builds its answer in a string buffer,
    // both through the plugin header's script table.
    EXPECT_EQ(r.out, "5\n7:abc\n") << r.err;
    const std::string calls = ReadFile(log);
    EXPECT_NE(calls.find("testimg: LoadImage(pic.tst)"), std::string::npos) << calls;
    EXPECT_NE(calls.find("testlib: FreeLibrary state=1"), std::string::npos) << calls;

    int w = 0, h = 0;
    const std::vector<uint32_t> shot = LastFrame(dir_, &w, &h);
    ASSERT_GE(w, kWidth);
    ASSERT_GE(h, kHeight);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t want = x < kWidth && y < kHeight ? kColour : 0;
            if (shot[static_cast<size_t>(y) * w + x] != want && ++wrong < 5)
                ADD_FAILURE() << x << "," << y << ": " << std::hex << shot[static_cast<size_t>(y) * w + x];
        }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
