// Movies of sizes whose converted pictures the converter's vector stores
// run past (MJPEG made by ffmpeg from testsrc, 6 x 4 and 636 x 476): played,
// dumped and grabbed by picture and by time, again after the dump, in a
// player of its own, which ends normally; and DumpVideo on a full disk, which goes on past the pictures
// it cannot write and answers the write error at its end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "fixtures/ffmpeg_fixtures.h"

namespace {

using e2e::CallCommand;

std::string OpenVideo(int id, const std::string& file) {
    return "    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #" + std::to_string(id) + "\n    LOADK 2 \"" + file +
           "\"\n    CALL 0 3 1\n";
}

// GetVideoFrame(brush, 2, video) by picture and GetVideoFrame(brush + 1, 0,
// video, 1) by time.
std::string Grabs(int video, int brush) {
    return CallCommand("GetVideoFrame", {static_cast<double>(brush), 2, static_cast<double>(video)}) +
           CallCommand("GetVideoFrame", {static_cast<double>(brush + 1), 0, static_cast<double>(video), 1});
}

const std::string kPrintDone = "    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"done\"\n    CALL 0 2 1\n";

class MovieSizesTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        e2e::E2eFixture::SetUp();
        if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    }
    std::string Clip(const std::string& size) {
        const std::string clip = ffmpegfixtures::MakeWith(
            dir_.string(), "mjpeg_" + size + ".avi",
            "-f lavfi -i testsrc=size=" + size + ":rate=10:duration=0.5 -c:v mjpeg -pix_fmt yuvj420p");
        EXPECT_FALSE(clip.empty()) << size;
        return clip;
    }
};

}  // namespace

TEST_F(MovieSizesTest, OddSizedMoviesPlayDumpAndGrabInAPlayerThatEndsNormally) {
    for (const std::string size : {"6x4", "636x476"}) {
        const std::string clip = Clip(size);
        ASSERT_FALSE(clip.empty());
        const std::string play = e2e::VideoEndApplet(".line 2\n" + OpenVideo(1, clip) + CallCommand("PlayVideo", {1}));
        const e2e::RunResult played = PlayScript(play, "-quiet", "", "play");
        EXPECT_EQ(played.status, 0) << size << ": " << played.err;
        EXPECT_EQ(played.out, "videoend 1\n") << size;

        // DumpVideo walks the engine's movie source; GetVideoFrame by
        // picture and by time the platform's frame walk.
        const std::string body = ".line 2\n" + OpenVideo(1, clip) + CallCommand("DumpVideo", {1, 0, 0}) + Grabs(1, 10) +
                                 Grabs(1, 12) + kPrintDone;
        const e2e::RunResult dumped = PlayScript(e2e::MainFunction(body, 8), "-quiet", "", "dump");
        EXPECT_EQ(dumped.status, 0) << size << ": " << dumped.err;
        EXPECT_EQ(dumped.out, "done\n") << size;
    }
}

// The disk full at a few kilobytes (the player's file size limit, with the
// signal that would end it ignored): no picture fits, and DumpVideo answers
// the write error instead of 0.
TEST_F(MovieSizesTest, DumpVideoOnAFullDiskAnswersTheWriteError) {
    const std::string clip = Clip("64x48");
    ASSERT_FALSE(clip.empty());
    const std::string out = (dir_ / "out").string();
    const std::string body = ".line 2\n" + OpenVideo(1, clip) +
                             "    GETGLOBAL 0 \"dumpvideo\"\n    LOADK 1 #1\n    LOADK 2 #0\n    LOADK 3 #0\n"
                             "    LOADK 4 \"" + out + "\"\n    LOADK 5 #0\n    CALL 0 6 1\n" + kPrintDone;
    const std::filesystem::path qba = Pack(Chunk(e2e::MainFunction(body, 8), "full"), dir_ / "full.qba",
                                           "--include full.qbs:1:1000:0");
    // 8 blocks of 512 bytes at least: the WAVE header fits, no 64 x 48 BMP does.
    const e2e::RunResult r =
        Run("trap '' XFSZ; ulimit -f 8 && " + std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(Text(ERR_WRITE)), std::string::npos) << r.err;
    // A picture that does not fit leaves no part of itself.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out0.bmp"));
}
