// Single pictures of videos from a script: GetVideoFrame and
// DisplayVideoFrame by time take the picture whose time span holds the
// time, up to the last millisecond of the video, on the player's own driver
// (a CDXL) and on the platform's (an H.264 movie, checked against ffmpeg's
// own decode); the loader a video was opened by; a CDXL opened by the
// platform's decoder and a Targa picture by the platform's image decoder;
// the WAVE file DumpVideo writes for a silent video.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"
#include "e2e/videoclips.h"
#include "fixtures/ffmpeg_fixtures.h"
#include "imaging/imagefixtures.h"

namespace {

using e2e::CallCommand;
using videoclips::Colour;

constexpr int kVideo = 50, kAttrDuration = 14, kAttrLoader = 91;
// 30 pictures at 12.8 a second: 2343 ms.
constexpr int kFrames = 30;
constexpr double kRate = 12.8;
constexpr int kOwnTimes[] = {0, 1000, 1500, 2342};

std::string Str(int n) { return std::to_string(n); }

// DebugPrint(GetAttribute(#VIDEO, id, #ATTRLOADER)).
std::string PrintLoader(int id) {
    return "    GETGLOBAL 0 \"debugprint\"\n    GETGLOBAL 1 \"getattribute\"\n    LOADK 2 #" + Str(kVideo) +
           "\n    LOADK 3 #" + Str(id) + "\n    LOADK 4 #" + Str(kAttrLoader) + "\n    CALL 1 4 0\n    CALL 0 0 1\n";
}

std::string OpenNative(int id, const std::string& file) {
    return "    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #" + Str(id) + "\n    LOADK 2 \"" + file +
           "\"\n    NEWTABLE 3 0 1\n    LOADK 4 \"native\"\n    SETTABLE 3 \"loader\" 4\n    CALL 0 4 1\n";
}

// GetVideoFrame(brush, time in register 5, video, 1) and SaveBrush(brush, file).
std::string GrabAtRegister(int brush, int video, const std::string& file) {
    return "    GETGLOBAL 0 \"getvideoframe\"\n    LOADK 1 #" + Str(brush) + "\n    MOVE 2 5\n    LOADK 3 #" +
           Str(video) + "\n    LOADK 4 #1\n    CALL 0 5 1\n    GETGLOBAL 0 \"savebrush\"\n    LOADK 1 #" +
           Str(brush) + "\n    LOADK 2 \"" + file + "\"\n    CALL 0 3 1\n";
}

std::string GrabAt(int brush, int time, int video, const std::string& file) {
    return "    LOADK 5 #" + Str(time) + "\n" + GrabAtRegister(brush, video, file);
}

class VideoFramesTest : public e2e::E2eFixture {
protected:
    std::string OwnClip() {
        const std::string clip = (dir_ / "solid.cdxl").string();
        imagefixtures::WriteBytes(clip, videoclips::SolidPictures(kFrames, 12000));
        std::filesystem::create_directories(dir_ / "grabs");
        return clip;
    }
    e2e::Frame Grab(const std::string& name) {
        e2e::Frame f;
        EXPECT_TRUE(e2e::ReadFrame(dir_ / "grabs" / name, &f)) << name;
        return f;
    }
};

}  // namespace

TEST_F(VideoFramesTest, OwnDriverGrabsAndShowsThePictureThatHoldsTheTime) {
    const std::string clip = OwnClip();
    std::string body = ".line 2\n"
                       "    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #1\n    LOADK 2 \"" + clip + "\"\n    CALL 0 3 1\n" +
                       PrintLoader(1) + ".line 3\n";
    for (int i = 0; i < 4; ++i) body += GrabAt(10 + i, kOwnTimes[i], 1, "grabs/own" + Str(i) + ".bmp");
    body += ".line 4\n" + CallCommand("EnableLayers", {}) + CallCommand("DisplayVideoFrame", {1, 0, 0, 1000});
    const std::vector<e2e::Frame> frames = PlayFrames(e2e::MainFunction(body, 8), "own");
    ASSERT_EQ(played_.status, 0) << played_.err;
    EXPECT_EQ(played_.out, "inbuilt\n");
    for (int i = 0; i < 4; ++i) {
        const int picture = static_cast<int>(kOwnTimes[i] * kRate / 1000);
        const e2e::Frame f = Grab("own" + Str(i) + ".bmp");
        ASSERT_EQ(f.width, 32);
        EXPECT_EQ(f.At(5, 5), Colour(picture)) << kOwnTimes[i] << " ms";
    }
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().At(5, 5), Colour(12));
}

TEST_F(VideoFramesTest, NativeDriverGrabsFFmpegsPictureAtTheTime) {
    if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string movie = ffmpegfixtures::Make(dir_.string(), ffmpegfixtures::Clip::MP4);
    ASSERT_FALSE(movie.empty());
    const ffmpegfixtures::ClipFacts facts = ffmpegfixtures::Facts(ffmpegfixtures::Clip::MP4);
    std::filesystem::create_directories(dir_ / "grabs");
    const int times[] = {0, 1000, 1039, 1040};
    std::string body = ".line 2\n" + OpenNative(2, movie) + PrintLoader(2) + ".line 3\n";
    for (int i = 0; i < 4; ++i) body += GrabAt(20 + i, times[i], 2, "grabs/movie" + Str(i) + ".bmp");
    // The last millisecond: GetAttribute(#VIDEO, 2, #ATTRDURATION) - 1.
    body += ".line 4\n    GETGLOBAL 5 \"getattribute\"\n    LOADK 6 #" + Str(kVideo) + "\n    LOADK 7 #2\n    LOADK 8 #" +
            Str(kAttrDuration) + "\n    CALL 5 4 2\n    SUB 5 5 #1\n" +
            GrabAtRegister(24, 2, "grabs/movie4.bmp") + "    GETGLOBAL 0 \"debugprint\"\n    MOVE 1 5\n    CALL 0 2 1\n";
    const e2e::RunResult r = PlayScript(e2e::MainFunction(body, 10));
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    std::string loader;
    int last = 0;
    out >> loader >> last;
    EXPECT_EQ(loader, "native");
    ASSERT_GT(last, 1040);

    const std::vector<std::vector<uint32_t>> decoded = ffmpegfixtures::DecodeFrames(movie, facts.width, facts.height);
    ASSERT_FALSE(decoded.empty());
    const int msPerPicture = 1000 / facts.rate;
    const int all[] = {times[0], times[1], times[2], times[3], last};
    for (int i = 0; i < 5; ++i) {
        const int expected = std::min(all[i] / msPerPicture, static_cast<int>(decoded.size()) - 1);
        e2e::Frame f = Grab("movie" + Str(i) + ".bmp");
        ASSERT_EQ(f.width, facts.width);
        for (uint32_t& p : f.pixels) p |= 0xFF000000u;
        const auto difference = [&](int k) { return ffmpegfixtures::LargestDifference(f.pixels.data(), decoded[k]); };
        EXPECT_LE(difference(expected), 3) << all[i] << " ms";
        // The neighbours are other pictures, not the same one within the error.
        for (int other : {expected - 1, expected + 1}) {
            if (other < 0 || other >= static_cast<int>(decoded.size())) continue;
            EXPECT_GT(difference(other), 3 * difference(expected) + 8) << all[i] << " ms";
        }
    }
}

// A CDXL carries no mark FFmpeg knows it by: its name tells it.
TEST_F(VideoFramesTest, ACDXLOpensThroughThePlatformDecoderByItsName) {
    if (!ffmpegfixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const std::string clip = OwnClip();
    const std::string body = ".line 2\n" + OpenNative(3, clip) + PrintLoader(3) + ".line 3\n" +
                             "    GETGLOBAL 0 \"getvideoframe\"\n    LOADK 1 #40\n    LOADK 2 #3\n    LOADK 3 #3\n"
                             "    CALL 0 4 1\n    GETGLOBAL 0 \"savebrush\"\n    LOADK 1 #40\n"
                             "    LOADK 2 \"grabs/native.bmp\"\n    CALL 0 3 1\n";
    const e2e::RunResult r = PlayScript(e2e::MainFunction(body, 8));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "native\n");
    const e2e::Frame f = Grab("native.bmp");
    ASSERT_EQ(f.width, 32);
    EXPECT_EQ(f.At(5, 5), Colour(2));
}

// Nor does a Targa picture, for the platform's image decoder.
TEST_F(VideoFramesTest, ATargaPictureLoadsThroughThePlatformDecoderByItsName) {
    if (!ffmpegfixtures::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    std::filesystem::create_directories(dir_ / "grabs");
    const std::string picture = (dir_ / "pic.tga").string();
    ASSERT_EQ(Run("convert -size 8x6 'xc:#3366CC' '" + picture + "'").status, 0);
    const std::string body = ".line 2\n    GETGLOBAL 0 \"loadbrush\"\n    LOADK 1 #41\n    LOADK 2 \"" + picture +
                             "\"\n    NEWTABLE 3 0 1\n    LOADK 4 \"native\"\n    SETTABLE 3 \"loader\" 4\n"
                             "    CALL 0 4 1\n    GETGLOBAL 0 \"savebrush\"\n    LOADK 1 #41\n"
                             "    LOADK 2 \"grabs/pic.bmp\"\n    CALL 0 3 1\n";
    const e2e::RunResult r = PlayScript(e2e::MainFunction(body, 8));
    ASSERT_EQ(r.status, 0) << r.err;
    const e2e::Frame p = Grab("pic.bmp");
    ASSERT_EQ(p.width, 8);
    EXPECT_EQ(p.At(7, 5), 0x3366CCu);
}

TEST_F(VideoFramesTest, ASilentVideosDumpWritesAWaveFileReadersAccept) {
    if (!ffmpegfixtures::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe missing";
    const std::string clip = OwnClip();
    const std::string body = ".line 2\n    GETGLOBAL 0 \"openvideo\"\n    LOADK 1 #1\n    LOADK 2 \"" + clip +
                             "\"\n    CALL 0 3 1\n" + PrintLoader(1) + "    GETGLOBAL 0 \"dumpvideo\"\n    LOADK 1 #1\n    LOADK 2 #0\n"
                             "    LOADK 3 #0\n    LOADK 4 \"" + (dir_ / "out").string() + "\"\n    LOADK 5 #1\n"
                             "    CALL 0 6 1\n";
    const e2e::RunResult r = PlayScript(e2e::MainFunction(body, 8));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "inbuilt\n");
    EXPECT_TRUE(std::filesystem::exists(dir_ / ("out" + Str(kFrames - 1) + ".png")));
    const std::string wave = (dir_ / "out.wav").string();
    // An empty track of one channel at a rate a reader takes.
    EXPECT_EQ(ffmpegfixtures::Probe(wave, "stream=channels"), "1");
    EXPECT_EQ(ffmpegfixtures::Probe(wave, "stream=sample_rate"), "44100");
    const e2e::RunResult py = Run("python3 -c \"import wave; w = wave.open('" + wave +
                                  "'); print(w.getnchannels(), w.getnframes())\"");
    if (py.status == 0) {
        EXPECT_EQ(py.out, "1 0\n");
    }
}
