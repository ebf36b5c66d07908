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
#include "imaging/gif.h"
#include "imaging/imagefixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 40, kHeight = 20;

// Left half red, right half green, a blue top row: orientation shows.
uint32_t Expected(int x, int y) {
    if (y == 0) return 0x0000FF;
    return x < kWidth / 2 ? 0xFF0000 : 0x00FF00;
}

std::string ShowChunk(const std::string& png, bool layers, bool transparency = false) {
    std::string enable = layers ? R"(
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1)" : "";
    return R"(
.function main maxstack=6
.line 1)" + enable + R"(
    GETGLOBAL 0 "loadbrush"
    LOADK 1 #1
    LOADK 2 ")" + png + R"("
)" + (transparency ? R"(    NEWTABLE 3 0 1
    LOADK 4 #1
    SETTABLE 3 "loadtransparency" 4
    CALL 0 4 1)" : "    CALL 0 3 1") + R"(
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

    // gif: the picture goes through ImageMagick's GIF writer first;
    // transparency: its blue row is the GIF's transparent colour, loaded
    // with "loadtransparency" (the black window shows through).
    // ours: written by the player's GIF writer instead.
    // ilbm: the picture as netpbm's palette ILBM.
    // tiff: the picture as ImageMagick's TIFF, which the platform decoder reads.
    void ExpectCentredBrush(bool layers, bool gif = false, bool transparency = false, bool ours = false,
                            bool ilbm = false, bool tiff = false) {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(Expected(x, y));
        fs::path png = dir_ / "pic.png";
        ASSERT_TRUE(imagefixtures::WriteRgbPng(png.string(), kWidth, kHeight, pixels, false, false));
        if (ours) {
            // Our own writer: the three colours as a palette, blue as the
            // transparent index when asked.
            const uint32_t palette[3] = {0xFF0000, 0x00FF00, 0x0000FF};
            std::vector<uint8_t> indices;
            for (uint32_t p : pixels) indices.push_back(p == 0xFF0000 ? 0 : p == 0x00FF00 ? 1 : 2);
            png = dir_ / "ours.gif";
            qbGIFWriter* w = nullptr;
            ASSERT_EQ(WriteGIF(png.string().c_str(), nullptr, kWidth, kHeight, &w), 0);
            qbGIFFrame f;
            f.indices = indices.data();
            f.width = kWidth;
            f.height = kHeight;
            f.palette = palette;
            f.colourCount = 3;
            f.transparentIndex = transparency ? 2 : -1;
            ASSERT_EQ(WriteAnimGIF(w, f), 0);
            ASSERT_EQ(CloseGIFWriter(w), 0);
        } else if (ilbm) {
            if (!imagefixtures::HaveTool("ppmtoilbm")) GTEST_SKIP() << "netpbm missing";
            imagefixtures::WritePPM((dir_ / "pic.ppm").string(), kWidth, kHeight, pixels);
            png = dir_ / "pic.iff";
            ASSERT_EQ(imagefixtures::RunQuietly("ppmtoilbm " + (dir_ / "pic.ppm").string() + " > " + png.string()), 0);
        } else if (tiff) {
            if (!imagefixtures::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
            const fs::path out = dir_ / "pic.tif";
            ASSERT_EQ(imagefixtures::RunQuietly("convert " + png.string() + " " + out.string()), 0);
            png = out;
        } else if (gif) {
            if (!imagefixtures::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
            const fs::path out = dir_ / "pic.gif";
            ASSERT_EQ(imagefixtures::RunQuietly("convert " + png.string() + (transparency ? " -transparent blue " : " ") +
                                                out.string()),
                      0);
            png = out;
        }
        const fs::path qba = Pack(Chunk(ShowChunk(png.string(), layers, transparency), "show"), dir_ / "show.qba",
                                  "--include show.qbs:1:1000:0");
        const e2e::RunResult r = PlaySavingFrames(qba);
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
                uint32_t want = inside ? Expected(x - left, y - top) : 0;
                if (transparency && want == 0x0000FF) want = 0;
                if (shot[static_cast<size_t>(y) * w + x] != want && ++wrong < 5)
                    ADD_FAILURE() << x << "," << y << ": " << std::hex << shot[static_cast<size_t>(y) * w + x];
            }
        EXPECT_EQ(wrong, 0);
    }
};

}  // namespace

TEST_F(ShowBrushTest, ABrushLoadedFromAPngIsShownCentredInDisplayOne) { ExpectCentredBrush(false); }

TEST_F(ShowBrushTest, WithLayersOnTheBrushIsALayerComposedIntoTheSameWindow) { ExpectCentredBrush(true); }

TEST_F(ShowBrushTest, GIFsShowTheirColoursAndTheirTransparentColourAsAlpha) {
    ExpectCentredBrush(false, true, false);
    ExpectCentredBrush(false, true, true);
    ExpectCentredBrush(false, true, false, true);
    ExpectCentredBrush(true, true, true, true);
}

TEST_F(ShowBrushTest, ILBMsShowTheirColours) {
    ExpectCentredBrush(false, false, false, false, true);
    ExpectCentredBrush(true, false, false, false, true);
}

TEST_F(ShowBrushTest, TIFFsShowTheirColoursThroughThePlatformDecoder) {
    ExpectCentredBrush(false, false, false, false, false, true);
    ExpectCentredBrush(true, false, false, false, false, true);
}
