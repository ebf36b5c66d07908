// The Linux backend's audio device: SDL's audio callback runs the mixer.
#pragma once

#include "platform/platform_ops.h"

namespace sdl_audio {

int StartAudioOutput();
void StopAudioOutput();
void DisposeAudioOutput();
// SDL's reason when the device is open (its driver and rate), for tests.
int ObtainedRate();

// The audio operations of the Linux table.
void FillAudioOps(qbPlatformOps& ops);

}  // namespace sdl_audio
