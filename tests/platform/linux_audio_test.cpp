// SDL's audio device under the mixer: the dummy driver for starting and
// stopping, a missing driver for the error, and the disk driver for what
// actually reaches the output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/soundevents.h"
#include "linux_fixture.h"
#include "platform/linux/sdl_audio.h"
#include "sound/mixer_fixture.h"

namespace {

class LinuxAudioTest : public LinuxBackendTest {
protected:
    void SetUp() override {
        LinuxBackendTest::SetUp();
        ClearSoundEvents();
    }
    void TearDown() override {
        for (int i = 0; i < audio_mixer::ChannelCount(); ++i) audio_mixer::ResetChannel(i);
        DisposeAudioOutput();
        audio_mixer::SetEventSwitches(false, false, false);
        ClearSoundEvents();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
        LinuxBackendTest::TearDown();
    }
};

TEST_F(LinuxAudioTest, DummyDriverStartsOnceAndAgainAfterDisposal) {
    EXPECT_EQ(StartAudioOutput(), 0);
    EXPECT_EQ(StartAudioOutput(), 0);
    EXPECT_GT(sdl_audio::ObtainedRate(), 0);
    EXPECT_EQ(audio_mixer::DeviceRate(), sdl_audio::ObtainedRate());
    StopAudioOutput();
    StopAudioOutput();
    DisposeAudioOutput();
    EXPECT_EQ(audio_mixer::DeviceRate(), 0);
    DisposeAudioOutput();
    EXPECT_EQ(StartAudioOutput(), 0);
    StopAudioOutput();
    EXPECT_EQ(StartAudioOutput(), 0);
}

TEST_F(LinuxAudioTest, MissingDriverGivesOpenAudioWithSdlsReason) {
    setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    SetErrorDetail("");
    EXPECT_EQ(StartAudioOutput(), ERR_OPENAUDIO);
    EXPECT_NE(std::string(GetErrorDetail()).find("nonexistent"), std::string::npos) << GetErrorDetail();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(StartAudioOutput(), 0);
}

struct Level {
    double rmsLeft = 0.0;
    double peakRight = 0.0;
};

Level Measure(const std::vector<float>& stereo, size_t first, size_t frames) {
    Level level;
    double sum = 0.0;
    for (size_t i = first; i < first + frames; ++i) {
        sum += double{stereo[2 * i]} * stereo[2 * i];
        level.peakRight = std::max(level.peakRight, std::fabs(double{stereo[2 * i + 1]}));
    }
    level.rmsLeft = std::sqrt(sum / static_cast<double>(frames));
    return level;
}

// sox's own reading of the left side of that stretch, or none without sox.
std::optional<double> SoxRms(const std::string& path, int rate, size_t first, size_t frames) {
    const std::string command = "sox -t raw -r " + std::to_string(rate) + " -e floating-point -b 32 -c 2 '" + path +
                                "' -n trim " + std::to_string(first) + "s " + std::to_string(frames) +
                                "s remix 1 stat 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::optional<double> rms;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        double value = 0.0;
        if (std::sscanf(line, "RMS amplitude: %lf", &value) == 1) rms = value;
    }
    pclose(pipe);
    return rms;
}

TEST_F(LinuxAudioTest, DiskDriverShowsAFullScaleToneOnTheLeftOnly) {
    // One file a process: builds testing side by side share /tmp.
    const std::string path = ::testing::TempDir() + "qb_audio_disk_" + std::to_string(getpid()) + ".raw";
    std::remove(path.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    ASSERT_EQ(StartAudioOutput(), 0) << GetErrorDetail();
    const int rate = sdl_audio::ObtainedRate();
    const auto frames = static_cast<uint32_t>(rate / 2);
    // A cosine, so that the first frame of the tone is not 0.
    std::vector<int16_t> tone(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        tone[i] = static_cast<int16_t>(std::lround(32767.0 * std::cos(2.0 * M_PI * 1000.0 * i / rate)));
    }
    audio_mixer::SetEventSwitches(false, true, false);
    mixer_test::Play play;
    play.rate = rate;
    play.pan = 0;
    ASSERT_EQ(mixer_test::StartSample(0, tone.data(), frames, play), 0);

    std::optional<qbSoundEvent> end;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!end && std::chrono::steady_clock::now() < deadline) {
        int error = 0;
        PumpNativeEvents(nullptr, &error);
        end = PopSoundEvent();
        if (!end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(end) << "the end never reached the sound event queue";
    EXPECT_EQ(end->type, kSoundEventSampleEnd);
    EXPECT_EQ(end->id.number, 1);
    EXPECT_EQ(audio_mixer::Channel(0)->kind.load(), kChannelFree) << "the pump did not reap the channel";
    DisposeAudioOutput();

    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> stereo(bytes.size() / sizeof(float));
    std::memcpy(stereo.data(), bytes.data(), stereo.size() * sizeof(float));
    size_t first = 0;
    while (2 * first < stereo.size() && stereo[2 * first] == 0.0f) ++first;
    ASSERT_LE(2 * (first + frames), stereo.size()) << "the tone did not reach the file whole";
    const Level level = Measure(stereo, first, frames);
    EXPECT_NEAR(level.rmsLeft, std::sqrt(0.5), 0.007);
    EXPECT_LT(level.peakRight, 1e-4);
    // What follows the tone is silence.
    EXPECT_EQ(stereo[2 * (first + frames)], 0.0f);
    if (const std::optional<double> sox = SoxRms(path, rate, first, frames)) {
        EXPECT_NEAR(*sox, std::sqrt(0.5), 0.007);
    } else {
        ADD_FAILURE() << "sox could not read the file";
    }
    std::remove(path.c_str());
}

}  // namespace
