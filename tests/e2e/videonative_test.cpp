// A movie linked into the applet: the player opens it through the
// platform's decoder from a temporary copy, grabs a picture of it into a
// brush, and removes the copy when the script closes the video.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/e2e_util.h"
#include "fixtures/ffmpeg_fixtures.h"

namespace fs = std::filesystem;

namespace {

class VideoNativeRoadTest : public e2e::E2eFixture {};

TEST_F(VideoNativeRoadTest, ALinkedMovieOpensFromACopyRemovedAtClose) {
    if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string clip = ffmpegfixtures::Make(dir_.string(), ffmpegfixtures::Clip::MP4);
    ASSERT_FALSE(clip.empty());
    const fs::path tmp = dir_ / "tmp";
    e2e::WriteFile(dir_ / "list.sh", "#!/bin/sh\nls \"$1\" > \"$2\"\n");
    const std::string list = "/bin/sh " + (dir_ / "list.sh").string() + " " + tmp.string() + " ";
    const std::string script = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "openvideo"
    LOADK 1 #1
    LOADK 2 "movie.mp4"
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "execute"
    LOADK 1 ")" + list + (dir_ / "open.txt").string() + R"("
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "getvideoframe"
    LOADK 1 #7
    LOADK 2 #38
    LOADK 3 #1
    CALL 0 4 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "getattribute"
    LOADK 2 #3
    LOADK 3 #7
    LOADK 4 #0
    CALL 1 4 0
    CALL 0 0 1
.line 4
    GETGLOBAL 0 "closevideo"
    LOADK 1 #1
    CALL 0 2 1
.line 5
    GETGLOBAL 0 "execute"
    LOADK 1 ")" + list + (dir_ / "closed.txt").string() + R"("
    CALL 0 2 1
    RETURN 0 1 0
.end
)";
    const e2e::RunResult r = PlayScript(script, "-quiet -tempdir " + tmp.string(), "--link movie.mp4=" + clip);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "64\n") << r.err;
    const std::string open = e2e::ReadFile(dir_ / "open.txt");
    EXPECT_EQ(open.size() > 5 ? open.substr(open.size() - 5) : open, ".mp4\n") << open;
    EXPECT_EQ(std::count(open.begin(), open.end(), '\n'), 1) << open;
    EXPECT_EQ(e2e::ReadFile(dir_ / "closed.txt"), "");
    EXPECT_TRUE(fs::is_empty(tmp));
}

}  // namespace
