// A sound whose rate changes mid-stream: AAC in ADTS, each frame's header
// naming its rate, at 48 kHz, then 8 kHz, then 48 kHz again. Every stretch
// comes out at the stream's first rate, and what the converter of one rate
// still holds when the next rate begins comes before the next rate's
// sound. ffmpeg's own decode of the whole stream drops that tail at each
// change; its decodes of the stretches one by one, each to its end, are
// the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux_streams_fixture.h"

using namespace streamfixtures;

namespace {

constexpr int kRate = 48000;
constexpr int kRates[3] = {kRate, 8000, kRate};
// An AAC packet is 1024 frames: at 8 kHz, 6144 frames at the first rate.
constexpr int64_t kTwoPackets = 2 * 1024 * kRate / 8000;

class RateChangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    // ffmpeg's decode of the file, mono at the first rate.
    static std::vector<int16_t> Decoded(const std::string& path, const std::string& map = "") {
        const std::string raw = path + ".raw";
        EXPECT_EQ(RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' " + map + " -ar " +
                             std::to_string(kRate) + " -ac 1 -f s16le '" + raw + "'"),
                  0);
        const std::vector<uint8_t> bytes = ReadBytes(raw);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    imagefixtures::ScratchDir dir_;
};

TEST_F(RateChangeTest, EveryStretchIsKeptAcrossTheChanges) {
    // The stretches, a second each, and the stream of all three.
    std::vector<uint8_t> whole;
    std::vector<int16_t> want;
    size_t lastStart = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string part = MakeWith(dir_.File(""), "part" + std::to_string(i) + ".aac",
                                          "-f lavfi -i sine=frequency=440:sample_rate=" +
                                              std::to_string(kRates[i]) + ":duration=1 -c:a aac");
        ASSERT_FALSE(part.empty());
        const std::vector<uint8_t> bytes = ReadBytes(part);
        whole.insert(whole.end(), bytes.begin(), bytes.end());
        const std::vector<int16_t> samples = Decoded(part);
        lastStart = want.size();
        want.insert(want.end(), samples.begin(), samples.end());
    }
    const std::string path = dir_.File("changes.aac");
    WriteBytes(path, whole);
    const auto frames = static_cast<int64_t>(want.size());
    ASSERT_EQ(frames, 49152 + 6 * 9216 + 49152);
    const int64_t ffmpegWhole = FFmpegSoundFrames(path, 1);
    ASSERT_NEAR(ffmpegWhole, frames, kTwoPackets);

    // The sound decoder: as long as the stretches together (the packets'
    // durations all count at the first rate), and the last stretch where it
    // belongs (away from the changes, where the decoder's overlap from the
    // stretch before differs).
    const SoundRun sound = ReadSound(path);
    ASSERT_EQ(sound.opened, 0);
    ASSERT_EQ(sound.format.rate, kRate);
    ASSERT_EQ(sound.format.channels, 1);
    EXPECT_NEAR(sound.length, ffmpegWhole, kTwoPackets);
    ASSERT_EQ(sound.length, frames);
    int worst = 0;
    for (size_t i = lastStart + 2048; i + 2048 < want.size(); ++i)
        worst = std::max(worst, std::abs(sound.samples[i] - want[i]));
    EXPECT_LE(worst, 2);

    // A movie's sound: the same stream beside a few pictures.
    const std::string movie = MakeWith(dir_.File(""), "changes.avi",
                                       "-f lavfi -i testsrc=size=32x24:rate=5:duration=3 -i '" + path +
                                           "' -map 0:v -map 1:a -c:v mjpeg -c:a copy");
    ASSERT_FALSE(movie.empty());
    const SourceRun run = ReadSource(movie);
    ASSERT_EQ(run.opened, 0);
    ASSERT_EQ(run.info.audioRate, kRate);
    EXPECT_NEAR(run.soundFrames, FFmpegSoundFrames(movie, 1), kTwoPackets);
    EXPECT_NEAR(run.soundFrames, frames, 2);
}

}  // namespace
