// A damaged stretch of a movie longer than the decoders' give-up bound
// costs only itself: the pictures and the sound after it decode as ffmpeg
// decodes them, through the movie source (DumpVideo, PlayVideo), the frame
// walk (GetVideoFrame) and the sound decoder (LoadSample).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/pixelbuffer.h"
#include "platform/linux/avdecoder.h"
#include "platform/linux_streams_fixture.h"

using namespace streamfixtures;

namespace {

class StreamDamageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    // 300 pictures and 6 s of sound; the chunks of one stream from 100 to
    // 199 garbled: more than the bound after which a decoder gives up.
    std::string Damaged(const char* file, const char tag[4]) {
        const std::string path = MakeWith(dir_.File(""), file,
                                          "-f lavfi -i testsrc=size=32x24:rate=50:duration=6 -f lavfi -i "
                                          "sine=frequency=440:duration=6 -c:v mjpeg -q:v 3 -c:a aac -b:a 64k");
        EXPECT_FALSE(path.empty());
        EXPECT_TRUE(GarbleChunks(path, tag, 100, 199));
        return path;
    }

    imagefixtures::ScratchDir dir_;
};

static_assert(100 > av_common::kMaxFailedOpens, "the damage outlasts the give-up bound");

TEST_F(StreamDamageTest, PicturesAfterADamagedStretchDecode) {
    const std::string path = Damaged("pictures.avi", "00dc");
    const int64_t want = FFmpegPictures(path);
    ASSERT_GE(want, 190);
    ASSERT_LE(want, 210);
    // DumpVideo's and PlayVideo's road: all but the damaged pictures.
    const SourceRun run = ReadSource(path);
    ASSERT_EQ(run.opened, 0);
    EXPECT_GE(run.pictures, want - 1);
    EXPECT_LE(run.pictures, want);
    // GetVideoFrame's road: the last picture, well after the damage, is
    // ffmpeg's.
    const std::vector<std::vector<uint32_t>> frames = FFmpegPictureWords(path, 32, 24);
    ASSERT_EQ(static_cast<int64_t>(frames.size()), want);
    qbMovieInfo info;
    ASSERT_EQ(OpenQuickTimeMovie(path.c_str(), &info), 0);
    qbMovieFrame frame;
    EXPECT_EQ(DecodeQuickTimeFrame(info.movie, want - 1, 0, &frame), 0);
    ASSERT_NE(frame.pixels, nullptr);
    EXPECT_LE(LargestDifference(frame.pixels, frames.back()), 3);
    CloseQuickTimeMovie(info.movie);
}

TEST_F(StreamDamageTest, SoundAfterADamagedStretchDecodes) {
    const std::string path = Damaged("sound.avi", "01wb");
    const int64_t want = FFmpegSoundFrames(path, 1);
    ASSERT_GT(want, 44100 * 3);
    // Within two packets of ffmpeg's count.
    const SourceRun run = ReadSource(path);
    ASSERT_EQ(run.opened, 0);
    ASSERT_EQ(run.info.audioChannels, 1);
    EXPECT_NEAR(run.soundFrames, want, 2 * 1024);
    const SoundRun sound = ReadSound(path);
    ASSERT_EQ(sound.opened, 0);
    ASSERT_EQ(sound.format.channels, 1);
    EXPECT_NEAR(sound.length, want, 2 * 1024);
    // The tone goes on to the end: the last half second is not silence.
    ASSERT_GT(sound.samples.size(), 22050u);
    int loudest = 0;
    for (size_t i = sound.samples.size() - 22050; i < sound.samples.size() - 2048; ++i)
        loudest = std::max(loudest, std::abs(int{sound.samples[i]}));
    EXPECT_GT(loudest, 1000);
}

}  // namespace
