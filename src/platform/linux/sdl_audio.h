// The Linux backend's audio device: SDL's audio callback runs the mixer.
#pragma once

#include <cstdint>

#include "platform/platform_ops.h"

namespace sdl_audio {

int StartAudioOutput();
void StopAudioOutput();
void DisposeAudioOutput();
// The rate the next opening asks for (48000 unless changed; benchmarks
// compare at other rates).
void RequestRate(int rate);
// The rate the driver gave (0 while closed), and the frames its callback
// rendered since the device opened.
int ObtainedRate();
uint64_t RenderedFrames();

// Keeps alsa-lib's reports of SDL's device search off standard error (once
// per process; nothing where the library is missing).
void KeepAlsaProbingQuiet();

// The audio operations of the Linux table.
void FillAudioOps(qbPlatformOps& ops);

}  // namespace sdl_audio
