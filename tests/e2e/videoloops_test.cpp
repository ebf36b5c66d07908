// A video under each kind of main loop a script may run: the pictures that
// reach the window do not depend on how the loop waits. Each applet plays a
// clip of solid pictures until the video ends (the loop itself finds out:
// by IsVideoPlaying or by its end event), so the count shown depends on the
// pacing of the clip alone, never on how fast the machine is.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "fixtures/ffmpeg_fixtures.h"
#include "e2e/videoclips.h"
#include "imaging/imagefixtures.h"

namespace {

constexpr int kFrames = 20;
// The clip whose every picture shown must reach the window: each picture
// stays a second, and the player holds a picture undrawn for half of that
// before it hands the loop the next, which only a loop that hangs (or does
// not draw what it is handed) misses, however loaded the machine.
constexpr int kSlowFrames = 5;
// (A chunk that size is read at the quadruple rate: a picture a second.)
constexpr uint32_t kSecondPerPicture = 614400;
constexpr int kX = 100, kY = 50;
constexpr int kWidth = 32, kHeight = 16;

using videoclips::Colour;

// The same pictures as an H.264 MP4 at 8 pictures a second, for the
// platform's movie driver; its colours come back within the codec's error.
std::string SlowMovie(const std::string& folder) {
    // Each picture's colour from its number, as Colour() gives it.
    std::string r = "(3+4*mod(N,4))*17", g = "(1+2*floor(N/4))*17", b = "5*17";
    const std::string filter = "color=c=black:s=32x16:r=8:d=2.5,format=rgb24,geq=r='" + r + "':g='" + g +
                               "':b='" + b + "',format=yuv444p";
    return ffmpegfixtures::MakeWith(folder, "slow.mp4",
                                    "-f lavfi -i \"" + filter +
                                        "\" -c:v libx264 -preset ultrafast -qp 0 -pix_fmt yuv444p");
}

int Near(uint32_t a, uint32_t b) {
    int largest = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255));
        largest = d > largest ? d : largest;
    }
    return largest;
}

// The picture a frame shows at the video's place: its index, or -1.
int PictureAt(const e2e::Frame& f, int tolerance) {
    if (f.width < kX + kWidth || f.height < kY + kHeight) return -1;
    const uint32_t at = f.At(kX + 5, kY + 5);
    for (int i = 0; i < kFrames; ++i)
        if (Near(Colour(i), at) <= tolerance && Near(f.At(kX + kWidth - 1, kY + kHeight - 1), at) <= tolerance)
            return i;
    return -1;
}

struct Shown {
    int distinct = 0;
    int last = -1;
    bool inOrder = true;
};

Shown CountShown(const std::vector<e2e::Frame>& frames, int tolerance = 0) {
    Shown s;
    for (const e2e::Frame& f : frames) {
        const int index = PictureAt(f, tolerance);
        if (index < 0) continue;
        if (index < s.last) s.inOrder = false;
        if (index != s.last) ++s.distinct;
        s.last = index > s.last ? index : s.last;
    }
    return s;
}

std::string OpenAndPlay(const std::string& file, const std::string& loader, bool layer) {
    std::string s = ".line 2\n    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #1\n    LOADK 2 \"" + file + "\"\n";
    if (loader.empty()) {
        s += "    CALL 0 3 1\n";
    } else {
        s += "    NEWTABLE 3 0 1\n    LOADK 4 \"" + loader + "\"\n    SETTABLE 3 \"loader\" 4\n    CALL 0 4 1\n";
    }
    if (layer) s += "    GETGLOBAL 0 \"enablelayers\"\n    CALL 0 1 1\n";
    s += ".line 3\n    GETGLOBAL 0 \"playvideo\"\n    LOADK 1 #1\n    LOADK 2 #" + std::to_string(kX) +
         "\n    LOADK 3 #" + std::to_string(kY) + "\n";
    if (layer)
        s += "    NEWTABLE 4 0 1\n    LOADK 5 #1\n    SETTABLE 4 \"uselayer\" 5\n    CALL 0 5 1\n";
    else
        s += "    CALL 0 4 1\n";
    return s;
}

// Two lines: while IsVideoPlaying(1) VWait.
const char* kVWaitLoop = R"(loop:
.line 10
    GETGLOBAL 0 "isvideoplaying"
    LOADK 1 #1
    CALL 0 2 2
    EQ 1 0 #0
    JMP done
.line 11
    GETGLOBAL 0 "vwait"
    CALL 0 1 1
    JMP loop
done:
)";

// All on one line, nothing but the question.
const char* kBusyLoop = R"(loop:
.line 10
    GETGLOBAL 0 "isvideoplaying"
    LOADK 1 #1
    CALL 0 2 2
    EQ 0 0 #0
    JMP loop
)";

// Until the end handler has run: CheckEvent, then a slow piece of work
// that draws nothing and pumps no events (an external program waited for).
const char* kCheckEventLoop = R"(loop:
.line 10
    GETGLOBAL 0 "checkevent"
    CALL 0 1 1
.line 11
    GETGLOBAL 0 "execute"
    LOADK 1 "/bin/sleep 0.03"
    CALL 0 2 1
    GETGLOBAL 0 "ended"
    EQ 1 0 #0
    JMP loop
)";

// main: the end handler sets "ended", the video plays, the loop runs.
std::string Applet(const std::string& play, const std::string& loop) {
    return std::string(R"(
.function main maxstack=12
.line 1
    LOADK 0 #0
    SETGLOBAL 0 "ended"
)") + e2e::kInstallVideoEndHandler + play + loop + R"(.line 12
    GETGLOBAL 0 "debugprint"
    LOADK 1 "done"
    CALL 0 2 1
    RETURN 0 1 0
.function onend params=1 maxstack=4
.line 20
    LOADK 1 #1
    SETGLOBAL 1 "ended"
    RETURN 0 1 0
.end
.end
)";
}

class VideoLoopTest : public e2e::E2eFixture {
protected:
    std::string Clip() {
        const std::string clip = (dir_ / "slow.cdxl").string();
        // 7.68 pictures a second: a picture has time to spare on a busy machine.
        imagefixtures::WriteBytes(clip, videoclips::SolidPictures(kFrames, 40000));
        return clip;
    }

    std::string SlowerClip() {
        const std::string clip = (dir_ / "slower.cdxl").string();
        imagefixtures::WriteBytes(clip, videoclips::SolidPictures(kSlowFrames, kSecondPerPicture));
        return clip;
    }

    // Plays the applet on the slower clip, with the player's own record of
    // the playback: every picture it showed reached the window, in order,
    // none was handed on undrawn or dropped as late, and the last is among
    // them. (A picture the decoder skipped to catch up with the clock,
    // before any loop saw it, is the machine's, not the loop's.)
    void ExpectEveryPicture(const std::string& applet, const std::string& name) {
        const std::vector<e2e::Frame> frames = PlayFrames(applet, name, "", "QB_VIDEO_STATS=1");
        ASSERT_EQ(played_.status, 0) << played_.err;
        EXPECT_EQ(played_.out, "done\n") << played_.err;
        int shown = -1, dropped = -1, late = -1, superseded = -1;
        const size_t at = played_.err.find("video stats:");
        ASSERT_NE(at, std::string::npos) << played_.err;
        ASSERT_EQ(std::sscanf(played_.err.c_str() + at, "video stats: shown %d dropped %d (late %d) superseded %d",
                              &shown, &dropped, &late, &superseded),
                  4)
            << played_.err;
        const Shown s = CountShown(frames);
        EXPECT_TRUE(s.inOrder);
        EXPECT_EQ(s.distinct, shown) << played_.err;
        EXPECT_EQ(shown + dropped, kSlowFrames) << played_.err;
        EXPECT_EQ(superseded, 0) << played_.err;
        EXPECT_EQ(late, 0) << played_.err;
        EXPECT_EQ(s.last, kSlowFrames - 1);
    }

    // Plays the applet and checks what reached the window: at least 90 %
    // of the pictures, in order, the last one among them.
    void ExpectShown(const std::string& applet, const std::string& name, int tolerance = 0) {
        const std::vector<e2e::Frame> frames = PlayFrames(applet, name);
        ASSERT_EQ(played_.status, 0) << played_.err;
        EXPECT_EQ(played_.out, "done\n") << played_.err;
        const Shown s = CountShown(frames, tolerance);
        EXPECT_TRUE(s.inOrder);
        EXPECT_GE(s.distinct * 10, kFrames * 9) << s.distinct << " of " << kFrames << " shown";
        EXPECT_EQ(s.last, kFrames - 1);
    }
};

}  // namespace

TEST_F(VideoLoopTest, AVWaitLoopShowsThePictures) {
    ExpectShown(Applet(OpenAndPlay(Clip(), "", false), kVWaitLoop), "vwait");
}

TEST_F(VideoLoopTest, ACheckEventLoopShowsThePictures) {
    ExpectEveryPicture(Applet(OpenAndPlay(SlowerClip(), "", false), kCheckEventLoop), "check");
}

TEST_F(VideoLoopTest, ABusyLoopOfOneLineShowsThePictures) {
    ExpectShown(Applet(OpenAndPlay(Clip(), "", false), kBusyLoop), "busy");
}

TEST_F(VideoLoopTest, AWaitEventLoopShowsThePictures) {
    const std::string waitLoop = R"(loop:
.line 10
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
.line 11
    GETGLOBAL 0 "ended"
    EQ 1 0 #0
    JMP loop
)";
    ExpectShown(Applet(OpenAndPlay(Clip(), "", false), waitLoop), "waitev");
}

TEST_F(VideoLoopTest, ALayerUnderAVWaitLoopShowsThePictures) {
    ExpectEveryPicture(Applet(OpenAndPlay(SlowerClip(), "", true), kVWaitLoop), "layer");
}

TEST_F(VideoLoopTest, TheNativeDriverUnderAVWaitLoopShowsThePictures) {
    if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string movie = SlowMovie(dir_.string());
    ASSERT_FALSE(movie.empty());
    ExpectShown(Applet(OpenAndPlay(movie, "native", false), kVWaitLoop), "native", 6);
}
