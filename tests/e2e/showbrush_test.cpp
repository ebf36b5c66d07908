// The road of one command: an applet loads a PNG into brush 1 and shows it
// with DisplayBrush(1, #CENTER, #CENTER). The player runs on SDL's dummy
// driver, which saves every update of the window surface as a BMP file; the
// last one is what the window showed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 40, kHeight = 20;

// Left half red, right half green, a blue top row: orientation shows.
uint32_t Expected(int x, int y) {
    if (y == 0) return 0x0000FF;
    return x < kWidth / 2 ? 0xFF0000 : 0x00FF00;
}

std::string ShowChunk(const std::string& png, bool layers) {
    std::string enable = layers ? R"(
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1)" : "";
    return R"(
.function main maxstack=6
.line 1)" + enable + R"(
    GETGLOBAL 0 "loadbrush"
    LOADK 1 #1
    LOADK 2 ")" + png + R"("
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #-100000
    LOADK 3 #-100000
    CALL 0 4 1
    RETURN 0 1 0
.end
)";
}

class ShowBrushTest : public e2e::E2eFixture {
protected:
    // The window as the dummy driver saved it last, as 0xRRGGBB rows.
    std::vector<uint32_t> LastFrame(int* width, int* height) { return e2e::LastSavedFrame(dir_, width, height); }

    void ExpectCentredBrush(bool layers) {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(Expected(x, y));
        const fs::path png = dir_ / "pic.png";
        ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), kWidth, kHeight, pixels, false, false));
        const fs::path qba = Pack(Chunk(ShowChunk(png.string(), layers), "show"), dir_ / "show.qba",
                                  "--include show.qbs:1:1000:0");
        const e2e::RunResult r = Run("cd " + dir_.string() + " && SDL_VIDEO_DUMMY_SAVE_FRAMES=1 " +
                                     std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
        ASSERT_EQ(r.status, 0) << r.err;
        int w = 0, h = 0;
        const std::vector<uint32_t> shot = LastFrame(&w, &h);
        ASSERT_EQ(w, 640);
        ASSERT_EQ(h, 480);
        const int left = (640 - kWidth) / 2, top = (480 - kHeight) / 2;
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool inside = x >= left && x < left + kWidth && y >= top && y < top + kHeight;
                const uint32_t want = inside ? Expected(x - left, y - top) : 0;
                if (shot[static_cast<size_t>(y) * w + x] != want && ++wrong < 5)
                    ADD_FAILURE() << x << "," << y << ": " << std::hex << shot[static_cast<size_t>(y) * w + x];
            }
        EXPECT_EQ(wrong, 0);
    }
};

}  // namespace

TEST_F(ShowBrushTest, ABrushLoadedFromAPngIsShownCentredInDisplayOne) { ExpectCentredBrush(false); }

TEST_F(ShowBrushTest, WithLayersOnTheBrushIsALayerComposedIntoTheSameWindow) { ExpectCentredBrush(true); }
