// The road of a video: an applet opens a CDXL with sound the test wrote,
// plays it at a place on the display under SDL's dummy drivers while the
// script waits for events (its sound going to SDL's disk audio driver), and
// its OnVideoEnd handler prints the one end event and what IsVideoPlaying
// then says.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "imaging/imagefixtures.h"
#include "media/cdxlbuilder.h"

namespace {

constexpr int kFrames = 8;
constexpr int kX = 100, kY = 50;

using cdxlbuilder::SolidRGB;

std::string Script(const std::string& file) {
    return e2e::VideoEndApplet(R"(.line 2
    GETGLOBAL 0 "openvideo"
    LOADK 1 #1
    LOADK 2 ")" + file + R"("
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "playvideo"
    LOADK 1 #1
    LOADK 2 #)" + std::to_string(kX) + R"(
    LOADK 3 #)" + std::to_string(kY) + R"(
    CALL 0 4 1
)",
                               R"(    GETGLOBAL 1 "debugprint"
    GETGLOBAL 2 "isvideoplaying"
    LOADK 3 #1
    CALL 2 2 0
    CALL 1 0 1
)");
}

class VideoRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(VideoRoadTest, ACDXLPlaysInOrderAndEndsOnce) {
    const std::string clip = (dir_ / "intro.cdxl").string();
    imagefixtures::WriteBytes(clip, cdxlbuilder::SolidClip(kFrames));
    const std::string capture = (dir_ / "sound.raw").string();
    const std::vector<e2e::Frame> frames =
        PlayFrames(Script(clip), "video", "", "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + capture);
    const e2e::RunResult& r = played_;
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    std::string word, playing;
    int id = 0;
    out >> word >> id >> playing;
    EXPECT_EQ(word, "videoend");
    EXPECT_EQ(id, 1);
    EXPECT_EQ(playing, "0");
    EXPECT_EQ(r.out.find("videoend", r.out.find("videoend") + 1), std::string::npos);  // once
    // The clip's sound reached the output.
    const std::string sound = e2e::ReadFile(capture);
    EXPECT_NE(sound.find_first_not_of('\0'), std::string::npos);

    // The pictures that reached the window are the clip's, in order, at its
    // place, and the last is among them: it is never dropped, and the end
    // event waits until it is drawn. How many of the others the window
    // drew depends on how often the main thread ran: a newer picture
    // replaces one not drawn yet.
    int last = -1;
    for (const e2e::Frame& f : frames) {
        if (f.width <= kX + 31 || f.height <= kY + 15) continue;
        const uint32_t at = f.At(kX + 5, kY + 5);
        int index = -1;
        for (int i = 0; i < kFrames; ++i)
            if (SolidRGB(i) == at) index = i;
        if (index < 0) continue;
        EXPECT_GE(index, last);
        EXPECT_EQ(f.At(kX + 31, kY + 15), at);
        EXPECT_NE(f.At(kX + 32, kY + 16), at);
        last = index;
    }
    EXPECT_EQ(last, kFrames - 1);
}
