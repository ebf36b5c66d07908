// Sound decoded whole, as ffmpeg decodes it: frames larger than the video
// engine's sound buffer (TTA at 192 kHz, a frame a second) through the
// movie source, and lengths in Matroska, whose millisecond times cannot
// place a sample, through the sound decoder.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/linux_streams_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_WHOLESOUND_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QB_WHOLESOUND_ASAN 1
#endif

using namespace streamfixtures;

namespace {

class WholeSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    std::string Make(const char* file, const std::string& arguments) {
        const std::string path = MakeWith(dir_.File(""), file, arguments);
        EXPECT_FALSE(path.empty()) << file;
        return path;
    }
    // ffmpeg's decode as 16-bit samples.
    static std::vector<int16_t> Reference(const std::string& path, int channels) {
        const std::string raw = path + ".raw";
        EXPECT_EQ(RunQuietly("ffmpeg -v quiet -nostdin -y -i '" + path + "' -map 0:a -ac " + std::to_string(channels) +
                             " -f s16le '" + raw + "'"),
                  0);
        const std::vector<uint8_t> bytes = ReadBytes(raw);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
    static void ExpectSameSound(const SoundRun& got, const std::vector<int16_t>& want) {
        ASSERT_EQ(got.opened, 0);
        ASSERT_GT(got.format.channels, 0);
        EXPECT_EQ(got.length, static_cast<int64_t>(want.size()) / got.format.channels);
        ASSERT_EQ(got.samples.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) ASSERT_LE(std::abs(got.samples[i] - want[i]), 1) << "sample " << i;
    }

    imagefixtures::ScratchDir dir_;
};

// A frame of about a second at 192 kHz is 800 KB of 16-bit stereo, three
// times the engine's buffer: DumpVideo and PlayVideo get all of it.
TEST_F(WholeSoundTest, AMovieKeepsSoundFramesLargerThanTheEnginesBuffer) {
    const std::string path =
        Make("tta.mkv", "-f lavfi -i testsrc=size=32x24:rate=10:duration=3 -f lavfi -i "
                        "sine=frequency=440:sample_rate=192000:duration=3 -ac 2 -c:v mjpeg -c:a tta");
    const int64_t want = FFmpegSoundFrames(path, 2);
    ASSERT_EQ(want, 3 * 192000);
    const SourceRun run = ReadSource(path);
    ASSERT_EQ(run.opened, 0);
    ASSERT_EQ(run.info.audioRate, 192000);
    ASSERT_EQ(run.info.audioChannels, 2);
    EXPECT_EQ(run.soundFrames, want);
    // In a buffer of a few frames at a time, too.
    EXPECT_EQ(ReadSource(path, 4000).soundFrames, want);
}

// The growth of the peak memory of a child process that reads the movie
// source to the end, in MB (255 at most); -1 when the child failed.
int PeakGrowthMB(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const SourceRun run = ReadSource(path);
        getrusage(RUSAGE_SELF, &after);
        if (run.opened != 0 || run.soundFrames == 0) _exit(255);
        _exit(static_cast<int>(std::min<long>((after.ru_maxrss - before.ru_maxrss) / 1024, 254)));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

// WavPack's largest blocks (131,072 frames, four times the engine's buffer)
// of silence: a small file of a lot of sound. What does not fit the buffer
// is handed out, never held by the converter to grow with every block.
TEST_F(WholeSoundTest, LargeBlocksOfSoundAreNotHeldBack) {
#ifdef QB_WHOLESOUND_ASAN
    GTEST_SKIP() << "AddressSanitizer keeps freed memory: the peak says nothing";
#endif
    const std::string path =
        Make("wavpack.mkv", "-f lavfi -i anullsrc=r=192000:cl=stereo:d=60 -f lavfi -i "
                            "testsrc=size=16x16:rate=1:duration=60 -c:a wavpack -frame_size 131072 -c:v mjpeg");
    const int grown = PeakGrowthMB(path);
    ASSERT_GE(grown, 0);
    // 60 s of 192 kHz stereo is 46 MB of samples.
    EXPECT_LT(grown, 30);
}

// Matroska's times are milliseconds: the lengths come from the decoded
// frames, exact at rates whose packets are not whole milliseconds.
TEST_F(WholeSoundTest, MatroskaLengthsAreExactToTheFrame) {
    for (const int rate : {44100, 384000}) {
        SCOPED_TRACE(rate);
        const std::string path = Make(("pcm" + std::to_string(rate) + ".mka").c_str(),
                                      "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                          ":duration=2 -c:a pcm_s16le");
        const std::vector<int16_t> want = Reference(path, 1);
        ASSERT_EQ(static_cast<int64_t>(want.size()), 2 * rate);
        ExpectSameSound(ReadSound(path), want);
    }
    // WavPack's packets in Matroska carry no durations at all.
    const std::string path =
        Make("sound.mka", "-f lavfi -i sine=frequency=440:duration=2 -ac 2 -c:a wavpack");
    const std::vector<int16_t> want = Reference(path, 2);
    ASSERT_EQ(want.size(), 2u * 2 * 44100);
    ExpectSameSound(ReadSound(path), want);
}

// Counted by their packets' headers rather than decoded (an hour of Opus
// in Matroska takes seconds to decode): each as long as ffmpeg's decode,
// Opus's pre-skip and Vorbis's priming block left out as the decoder
// leaves them.
TEST_F(WholeSoundTest, MatroskaLengthsByHeadersAreTheDecodedLengths) {
    for (const char* codec : {"libopus", "libvorbis", "flac", "libmp3lame"}) {
        SCOPED_TRACE(codec);
        const std::string path = Make((std::string(codec) + ".mka").c_str(),
                                      "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2.5 -c:a " +
                                          std::string(codec));
        const SoundRun run = ReadSound(path);
        ASSERT_EQ(run.opened, 0);
        EXPECT_EQ(run.length, FFmpegSoundFrames(path, 1));
    }
}

// Opus packets of one, two and several frames of each mode and FLAC frames
// of uncommon block sizes and rates, which their headers code apart.
TEST_F(WholeSoundTest, MatroskaLengthsByHeadersOfEveryFrameLayout) {
    const std::pair<const char*, const char*> kinds[] = {
        {"opus2_5.mka", "-ar 48000 -c:a libopus -frame_duration 2.5"},
        {"opus10.mka", "-ar 48000 -c:a libopus -frame_duration 10 -application voip"},
        {"opus40.mka", "-ar 48000 -c:a libopus -frame_duration 40"},
        {"opus60.mka", "-ar 48000 -c:a libopus -frame_duration 60 -application voip"},
        {"flac100.mka", "-ar 44100 -c:a flac -frame_size 100"},
        {"flac1000.mka", "-ar 44100 -c:a flac -frame_size 1000"},
        {"flac12k.mka", "-ar 12000 -c:a flac"},
        {"flac11025.mka", "-ar 11025 -c:a flac"},
        {"flac44110.mka", "-ar 44110 -c:a flac"},
    };
    for (const auto& [name, args] : kinds) {
        SCOPED_TRACE(name);
        const std::string path =
            Make(name, std::string("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2.5 ") + args);
        const SoundRun run = ReadSound(path);
        ASSERT_EQ(run.opened, 0);
        EXPECT_EQ(run.length, FFmpegSoundFrames(path, 1));
    }
}

}  // namespace
