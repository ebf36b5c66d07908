// Sounds whose rate changes mid-stream: stretches of 48, 8 and 48 kHz
// joined end to end as AAC in ADTS and FLAC (each frame's header names its
// rate) and as chained Ogg Vorbis (each link its own stream). Every stretch
// comes out at the stream's first rate, the length counts all of them, and
// what the converter of one rate still holds when the next rate begins
// comes before the next rate's sound. The reference is ffmpeg's decode of
// each stretch on its own to its end; its decode of the whole ADTS or Ogg
// stream (its command line loses FLAC's frames after a change) drops the
// converter's tail at each change.
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
    static std::vector<int16_t> Decoded(const std::string& path) {
        const std::string raw = path + ".raw";
        EXPECT_EQ(RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' -ar " + std::to_string(kRate) +
                             " -ac 1 -f s16le '" + raw + "'"),
                  0);
        const std::vector<uint8_t> bytes = ReadBytes(raw);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    // The three stretches in the codec joined as `file`; want gets ffmpeg's
    // decodes of them one after the other, lastStart where the last begins.
    std::string Join(const std::string& file, const std::string& codec, std::vector<int16_t>* want,
                     size_t* lastStart) {
        std::vector<uint8_t> whole;
        for (int i = 0; i < 3; ++i) {
            const std::string part = MakeWith(dir_.File(""), std::to_string(i) + file,
                                              "-f lavfi -i sine=frequency=440:sample_rate=" +
                                                  std::to_string(kRates[i]) + ":duration=1 -c:a " + codec);
            EXPECT_FALSE(part.empty());
            const std::vector<uint8_t> bytes = ReadBytes(part);
            whole.insert(whole.end(), bytes.begin(), bytes.end());
            const std::vector<int16_t> samples = Decoded(part);
            *lastStart = want->size();
            want->insert(want->end(), samples.begin(), samples.end());
        }
        const std::string path = dir_.File(file);
        WriteBytes(path, whole);
        return path;
    }

    // The sound decoder: as long as the stretches together, and the last
    // stretch where it belongs (away from the changes, where the decoder's
    // overlap from the stretch before differs).
    static void ExpectWhole(const std::string& path, const std::vector<int16_t>& want, size_t lastStart) {
        const SoundRun sound = ReadSound(path);
        ASSERT_EQ(sound.opened, 0);
        ASSERT_EQ(sound.format.rate, kRate);
        ASSERT_EQ(sound.format.channels, 1);
        ASSERT_EQ(sound.length, static_cast<int64_t>(want.size()));
        int worst = 0;
        for (size_t i = lastStart + 2048; i + 2048 < want.size(); ++i)
            worst = std::max(worst, std::abs(sound.samples[i] - want[i]));
        EXPECT_LE(worst, 2);
    }

    imagefixtures::ScratchDir dir_;
};

TEST_F(RateChangeTest, EveryStretchIsKeptAcrossTheChanges) {
    std::vector<int16_t> want;
    size_t lastStart = 0;
    const std::string path = Join("changes.aac", "aac", &want, &lastStart);
    const auto frames = static_cast<int64_t>(want.size());
    ASSERT_EQ(frames, 49152 + 6 * 9216 + 49152);
    const int64_t ffmpegWhole = FFmpegSoundFrames(path, 1);
    ASSERT_NEAR(ffmpegWhole, frames, kTwoPackets);
    ExpectWhole(path, want, lastStart);

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

TEST_F(RateChangeTest, FlacFramesAndOggLinksOfOtherRatesCount) {
    std::vector<int16_t> want;
    size_t lastStart = 0;
    const std::string flac = Join("changes.flac", "flac", &want, &lastStart);
    ExpectWhole(flac, want, lastStart);
    // Each link of a chain trims its own start and end, which its decode
    // on its own does differently: the reference is the chain's decode.
    want.clear();
    const std::string ogg = Join("changes.ogg", "libvorbis", &want, &lastStart);
    const int64_t ffmpegWhole = FFmpegSoundFrames(ogg, 1);
    ASSERT_NEAR(ffmpegWhole, static_cast<int64_t>(want.size()), kTwoPackets);
    const SoundRun sound = ReadSound(ogg);
    ASSERT_EQ(sound.opened, 0);
    ASSERT_EQ(sound.format.rate, kRate);
    EXPECT_NEAR(sound.length, ffmpegWhole, kTwoPackets);
}

}  // namespace
