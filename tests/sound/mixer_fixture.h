// The mixer on the in-memory backend's pull device: channels started the
// way the sound core starts them, frames pulled at a chosen rate, events
// flushed into the sound event queue.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/errcodes.h"
#include "core/soundevents.h"
#include "platform/mixer/mixer.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"

namespace mixer_test {

// How a test sample plays: its layout, rate and the channel's settings.
struct Play {
    int32_t pcmCode = 4;
    uint32_t flags = kPCMSigned;
    int rate = 48000;   // the data's own rate
    int pitch = 0;      // playback rate; 0 = the data's rate
    int volume = 64;
    int pan = 128;
    int loops = 1;
    int64_t endFrame = -1;  // the last loop's end; -1 = the whole sample
    uint32_t passMs = 0;
    uint32_t lastLoopMs = 0;
};

inline uint32_t FramesOf(const std::vector<uint8_t>& data, int32_t code) {
    return static_cast<uint32_t>(data.size() / static_cast<size_t>(audio_mixer::BytesPerFrame(code)));
}

// Starts data on channel as the sound core does: reset, fields set while
// prepared, converter, release. The data must outlive the play.
inline int StartSample(int channel, const void* data, uint32_t frames, const Play& p) {
    audio_mixer::ResetChannel(channel);
    qbAudioChannel* ch = audio_mixer::Channel(channel);
    if (!ch) return ERR_CHANNELRANGE;
    ch->owner = ObjectID{channel + 1, nullptr};
    ch->loopsWanted = p.loops;
    ch->endFrame = p.endFrame < 0 ? frames : static_cast<uint32_t>(p.endFrame);
    ch->passMs = p.passMs;
    ch->lastLoopMs = p.lastLoopMs;
    ch->kind.store(kChannelPrepared);
    qbAudioStream stream{p.pcmCode, p.flags, p.rate, frames};
    const int error = CreateStreamConverter(&stream, channel, const_cast<void*>(data), p.pitch > 0 ? p.pitch : p.rate,
                                            p.volume, p.pan);
    if (error) {
        audio_mixer::ResetChannel(channel);
        return error;
    }
    audio_mixer::ReleasePreparedChannels();
    return 0;
}

inline std::vector<uint8_t> Mono16(const std::vector<int16_t>& values) {
    std::vector<uint8_t> out(values.size() * 2);
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

inline std::vector<int16_t> Sine16(int rate, double hz, uint32_t frames, double amplitude = 32767.0) {
    std::vector<int16_t> out(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * hz * i / rate)));
    }
    return out;
}

// Sign changes of one side of interleaved stereo: two per period.
inline int ZeroCrossings(const std::vector<float>& stereo, size_t side, size_t from = 0) {
    int count = 0;
    float prev = 0.0f;
    for (size_t i = 2 * from + side; i < stereo.size(); i += 2) {
        const float s = stereo[i];
        if (s == 0.0f) continue;
        if (prev != 0.0f && (s > 0.0f) != (prev > 0.0f)) ++count;
        prev = s;
    }
    return count;
}

inline std::vector<qbSoundEvent> TakeEvents() {
    FlushChannelEvents();
    std::vector<qbSoundEvent> out;
    while (std::optional<qbSoundEvent> e = PopSoundEvent()) out.push_back(*e);
    return out;
}

class MixerTest : public ::testing::Test {
protected:
    static constexpr int kChannels = 8;

    void SetUp() override {
        SetPlatformBackend(nullptr);
        DisposeAudioOutput();
        ResetAll();
        ASSERT_EQ(audio_mixer::SetChannelCount(kChannels), 0);
        null_backend::SetAudioPullRate(48000);
        ASSERT_EQ(StartAudioOutput(), 0);
        audio_mixer::SetEventSwitches(true, true, true);
        ClearSoundEvents();
    }
    void TearDown() override {
        ResetAll();
        DisposeAudioOutput();
        audio_mixer::SetEventSwitches(false, false, false);
        audio_mixer::SetModuleRenderer(nullptr);
        ClearSoundEvents();
    }
    static void ResetAll() {
        for (int i = 0; i < audio_mixer::ChannelCount(); ++i) audio_mixer::ResetChannel(i);
    }
};

}  // namespace mixer_test
