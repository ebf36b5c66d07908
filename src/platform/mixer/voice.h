// A channel's converter: reads the channel's source in its own layout and
// rate and adds it, resampled, at its gains, into the mixer's accumulators.
// Runs on the audio thread with the device lock held.
#pragma once

#include <cstdint>

#include "platform/mixer/audio_channel.h"
#include "platform/mixer/resample.h"

struct qbVoiceState {
    qbAudioStream format;
    bool attached = false;  // the render callback is installed
    // 32.32 frames: the play position of a sample; for streamed sources the
    // fraction past `prev`, the last frame of the previous pull.
    uint64_t phase = 0;
    audio_mixer::StereoFrame prev;
    // Streamed sources: false until the first pull, and again after the
    // source ran short, so that output starts at its next real frame.
    bool primed = false;
};

namespace audio_mixer {

using ModuleRenderer = void (*)(void* module, int16_t* out, int frames);

// Module channels are given at most this many frames a pull.
constexpr uint32_t kMaxSourcePull = 48000;

struct MixTarget {
    float* left = nullptr;
    float* right = nullptr;
    uint32_t frames = 0;
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    uint64_t step = kPhaseOne;
};

bool IsReadablePCM(const qbAudioStream& format);
int BytesPerFrame(int32_t pcmCode);

// Kind 2: the sample's loops and end; sets the finished flag and queues
// loop and end events as they pass.
void RenderSampleVoice(qbAudioChannel& ch, const MixTarget& target);
// Kinds 3, 4 and 5: pulls the source's frames as they are needed. A source
// that has nothing this callback leaves the channel silent.
void RenderStreamedVoice(qbAudioChannel& ch, const MixTarget& target, ModuleRenderer renderModule);

// Queues an event for the main thread (audio thread). False when the
// channel's ring is full and the event was dropped.
bool PushPendingEvent(qbAudioChannel& ch, int32_t code);

}  // namespace audio_mixer
