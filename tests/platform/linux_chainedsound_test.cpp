// Sounds joined end to end in one file: chained Ogg links of each codec
// (granules start again with each link), ADTS frames of other rates
// inside MPEG-TS, whose 90 kHz packet times count every frame at the
// stream's first rate, and LATM frames of other rates, bare and in
// MPEG-TS. Every link and stretch counts, by LoadSample's road (the sound
// read whole) and OpenMusic's (the length it opens with), within two
// packets of ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include "platform/linux_streams_fixture.h"
#include "sound/samples.h"
#include "sound/stream.h"

using namespace streamfixtures;

namespace {

class ChainedSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    // The links, each ffmpeg's encode of a tone of `seconds` at `rate`,
    // joined as `file`.
    std::string Chain(const std::string& file, const std::string& codec, const std::vector<int>& seconds,
                      const std::vector<int>& rates, const std::string& format = "") {
        std::vector<uint8_t> whole;
        for (size_t i = 0; i < seconds.size(); ++i) {
            const std::string part = MakeWith(dir_.File(""), std::to_string(i) + file,
                                              "-f lavfi -i sine=frequency=" + std::to_string(300 + 100 * i) +
                                                  ":sample_rate=" + std::to_string(rates[i]) +
                                                  ":duration=" + std::to_string(seconds[i]) + " -c:a " + codec +
                                                  format);
            EXPECT_FALSE(part.empty());
            const std::vector<uint8_t> bytes = ReadBytes(part);
            whole.insert(whole.end(), bytes.begin(), bytes.end());
        }
        const std::string path = dir_.File(file);
        WriteBytes(path, whole);
        return path;
    }

    // LoadSample's and OpenMusic's lengths of the file, near ffmpeg's.
    static void ExpectLength(const std::string& path, int64_t want, int64_t slack) {
        const int64_t ffmpeg = FFmpegSoundFrames(path, 1);
        ASSERT_NEAR(ffmpeg, want, slack) << "ffmpeg's own decode";
        qbSamplePtr whole;
        ASSERT_EQ(OpenWholeSound(path.c_str(), nullptr, nullptr, &whole), 0);
        std::vector<uint8_t> pcm(size_t{whole->frames} * static_cast<size_t>(whole->bytesPerFrame));
        ASSERT_EQ(ReadWholeSound(*whole, pcm.data()), 0);
        EXPECT_NEAR(int64_t{whole->frames}, ffmpeg, slack) << "LoadSample";
        qbSamplePtr music;
        ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &music), 0);
        EXPECT_NEAR(int64_t{music->frames}, ffmpeg, slack) << "OpenMusic";
    }

    imagefixtures::ScratchDir dir_;
};

constexpr int kRate = 48000;

TEST_F(ChainedSoundTest, EveryOggLinkCountsWhateverItsCodec) {
    // Opus packets are 960 frames; two of them.
    ExpectLength(Chain("two.opus", "libopus", {5, 2}, {kRate, kRate}), 7 * kRate, 2 * 960);
    // The same link three times: its granules come again, equal to the first.
    ExpectLength(Chain("three.opus", "libopus", {2, 2, 2}, {kRate, kRate, kRate}), 6 * kRate, 2 * 960);
    // Ogg FLAC packets at 44.1 kHz are 4608 frames.
    ExpectLength(Chain("two.oga", "flac", {5, 2}, {44100, 44100}), 7 * 44100, 2 * 4608);
    ExpectLength(Chain("three.oga", "flac", {2, 1, 2}, {44100, 44100, 44100}), 5 * 44100, 2 * 4608);
}

TEST_F(ChainedSoundTest, AdtsStretchesOfOtherRatesCountInsideMpegTs) {
    const std::string adts = Chain("changes.aac", "aac", {1, 1, 1}, {kRate, 8000, kRate});
    const std::string ts = MakeWith(dir_.File(""), "changes.ts", "-i '" + adts + "' -c:a copy -f mpegts");
    ASSERT_FALSE(ts.empty());
    // An AAC packet at 8 kHz is 1024 frames, 6144 at the first rate.
    ExpectLength(ts, 3 * kRate, 2 * 6144);
}

TEST_F(ChainedSoundTest, LatmStretchesOfOtherRatesCountBareAndInsideMpegTs) {
    // LOAS frames name their StreamMuxConfig now and then, the frames
    // between keep it: the broadcast form of AAC.
    const std::string latm = Chain("changes.latm", "aac", {1, 1, 1}, {kRate, 8000, kRate}, " -f latm");
    ExpectLength(latm, 3 * kRate, 2 * 6144);
    const std::string ts = MakeWith(dir_.File(""), "latm.ts", "-i '" + latm + "' -c:a copy -f mpegts");
    ASSERT_FALSE(ts.empty());
    ExpectLength(ts, 3 * kRate, 2 * 6144);
}

}  // namespace
