// The road of a native-driver video: an applet forces the platform's movie
// driver, opens an MP4 that ffmpeg made (red, then green, then blue) and
// plays it at a place on the display under SDL's dummy drivers; the saved
// frames show its colours in order and its OnVideoEnd handler runs once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

constexpr int kX = 60, kY = 40;

std::string Script(const std::string& file) {
    return e2e::VideoEndApplet(R"(.line 2
    GETGLOBAL 0 "forcevideodriver"
    LOADK 1 #0
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "openvideo"
    LOADK 1 #1
    LOADK 2 ")" + file + R"("
    CALL 0 3 1
.line 4
    GETGLOBAL 0 "playvideo"
    LOADK 1 #1
    LOADK 2 #)" + std::to_string(kX) + R"(
    LOADK 3 #)" + std::to_string(kY) + R"(
    CALL 0 4 1
)");
}

// 0 red, 1 green, 2 blue, -1 none of them.
int Colour(uint32_t rgb) {
    const int r = static_cast<int>(rgb >> 16 & 255), g = static_cast<int>(rgb >> 8 & 255),
              b = static_cast<int>(rgb & 255);
    if (r > 200 && g < 50 && b < 50) return 0;
    if (g > 200 && r < 50 && b < 50) return 1;
    if (b > 200 && r < 50 && g < 50) return 2;
    return -1;
}

class NativeVideoRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(NativeVideoRoadTest, AnMP4PlaysInOrderAndEndsOnce) {
    const std::string clip = (dir_ / "clip.mp4").string();
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -filter_complex "
                           "\"color=red:s=64x48:r=25:d=0.6[a];color=lime:s=64x48:r=25:d=0.6[b];"
                           "color=blue:s=64x48:r=25:d=0.6[c];[a][b][c]concat=n=3\" "
                           "-f lavfi -i sine=sample_rate=22050:duration=1.8 -c:v libx264 -pix_fmt yuv420p "
                           "-c:a aac -shortest '" +
                           clip + "'")
                              .c_str()),
              0);
    const std::vector<e2e::Frame> frames = PlayFrames(Script(clip), "video");
    const e2e::RunResult& r = played_;
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("videoend 1"), 0u) << r.out;
    EXPECT_EQ(r.out.find("videoend", 1), std::string::npos);  // once

    int last = -1, seen = 0;
    for (const e2e::Frame& f : frames) {
        if (f.width <= kX + 63 || f.height <= kY + 47) continue;
        const int colour = Colour(f.At(kX + 32, kY + 24));
        if (colour < 0) continue;
        EXPECT_GE(colour, last);
        // The whole picture, at its place.
        EXPECT_EQ(Colour(f.At(kX, kY)), colour);
        EXPECT_EQ(Colour(f.At(kX + 63, kY + 47)), colour);
        EXPECT_NE(Colour(f.At(kX + 64, kY + 48)), colour);
        if (colour != last) ++seen;
        last = colour;
    }
    EXPECT_EQ(seen, 3);
}
