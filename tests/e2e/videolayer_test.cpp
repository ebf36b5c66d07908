// The rest of a video's road: an applet dumps a generated CDXL with sound
// into pictures and a WAVE file, grabs one of its pictures into a brush
// that it shows, then plays the video as a layer of the display's BGPic
// until its end event ends the applet.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"
#include "media/cdxlbuilder.h"

namespace {

constexpr int kFrames = 6;
constexpr int kSoundSize = 800;
constexpr int kX = 100, kY = 50;

using cdxlbuilder::SolidRGB;

std::string Script(const std::string& file) {
    using e2e::CallCommand;
    return e2e::VideoEndApplet(R"(.line 2
    GETGLOBAL 0 "openvideo"
    LOADK 1 #1
    LOADK 2 ")" + file + R"("
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "dumpvideo"
    LOADK 1 #1
    LOADK 2 #300
    LOADK 3 #0
    LOADK 4 "out"
    LOADK 5 #1
    CALL 0 6 1
.line 4
)" + CallCommand("GetVideoFrame", {2, 3, 1}) +
                               CallCommand("DisplayBrush", {2, 0, 0}) + R"(.line 5
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "playvideo"
    LOADK 1 #1
    LOADK 2 #)" + std::to_string(kX) + R"(
    LOADK 3 #)" + std::to_string(kY) + R"(
    NEWTABLE 4 0 1
    LOADK 5 #1
    SETTABLE 4 "uselayer" 5
    CALL 0 5 1
)");
}

class VideoLayerRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(VideoLayerRoadTest, ADumpAGrabAndALayerThatPlaysToItsEnd) {
    const std::string clip = (dir_ / "clip.cdxl").string();
    imagefixtures::WriteBytes(clip, cdxlbuilder::SolidClip(kFrames));
    const std::vector<e2e::Frame> frames = PlayFrames(Script(clip), "vlayer");
    const e2e::RunResult& r = played_;
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "videoend 1\n");

    // The dump: one PNG a picture and the sound's bytes in the WAVE.
    for (int f = 0; f < kFrames; ++f)
        EXPECT_TRUE(std::filesystem::exists(dir_ / ("out" + std::to_string(f) + ".png"))) << f;
    EXPECT_FALSE(std::filesystem::exists(dir_ / ("out" + std::to_string(kFrames) + ".png")));
    const std::string wave = e2e::ReadFile((dir_ / "out.wav").string());
    ASSERT_GT(wave.size(), 44u);
    EXPECT_EQ(wave.substr(0, 4), "RIFF");
    EXPECT_GE(wave.size() - 44, static_cast<size_t>(kFrames * kSoundSize));

    // The grabbed third picture stays where the brush went; the layer ends
    // on the last picture, at its place, above the background.
    ASSERT_FALSE(frames.empty());
    const e2e::Frame& shot = frames.back();
    ASSERT_GT(shot.width, kX + 32);
    EXPECT_EQ(shot.At(5, 5), SolidRGB(2));
    EXPECT_EQ(shot.At(kX, kY), SolidRGB(kFrames - 1));
    EXPECT_EQ(shot.At(kX + 31, kY + 15), SolidRGB(kFrames - 1));
    EXPECT_NE(shot.At(kX + 32, kY + 16), SolidRGB(kFrames - 1));
    // Pictures of the layer reached the window in order.
    int last = -1;
    for (const e2e::Frame& f : frames) {
        if (f.width <= kX + 31) continue;
        for (int i = 0; i < kFrames; ++i)
            if (f.At(kX + 5, kY + 5) == SolidRGB(i)) {
                EXPECT_GE(i, last);
                last = i;
            }
    }
    EXPECT_EQ(last, kFrames - 1);
}
