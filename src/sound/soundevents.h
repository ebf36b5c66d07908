// The handler switches: which sound events the script has handlers for.
// An event whose switch is off is never queued.
#pragma once

#include <cstdint>

#include "core/argapi.h"

enum qbSoundHandler : int { kHandlerSampleLoop, kHandlerSampleEnd, kHandlerMusicEnd, kHandlerVideoEnd };

void SetSoundHandlerSwitch(qbSoundHandler which, bool on);
bool SoundHandlerSwitch(qbSoundHandler which);
// Queues the event when its switch is on (types 5-8; others always). 0 or
// ERR_MEM; a switched-off event is 0 and nothing is queued.
int PushSwitchedSoundEvent(int type, ObjectID id, uint32_t position, int32_t loops, uint32_t extra, int wake);
