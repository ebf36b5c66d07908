// The queue of sound events (sample and music ends and loops, video ends,
// finished programs) that other threads fill and the event dispatcher empties.
#pragma once

#include <cstdint>
#include <optional>

#include "core/argapi.h"

enum SoundEventType : int {
    kSoundEventSampleEnd = 5,
    kSoundEventSampleLoop = 6,
    kSoundEventMusicEnd = 7,
    kSoundEventVideoEnd = 8,
    kSoundEventRunFinished = 10,
};

struct qbSoundEvent {
    int type = 0;
    ObjectID id;
    uint32_t position = 0;
    int32_t loops = 0;
    uint32_t extra = 0;
};

// Appends an event; with wake set the main event loop wakes too. Callable
// from any thread. 0 or ERR_MEM.
int PushSoundEvent(int type, ObjectID id, uint32_t position, int32_t loops, uint32_t extra, int wake);
// The oldest event, or none.
std::optional<qbSoundEvent> PopSoundEvent();
// Drops every queued event (audio shutdown).
void ClearSoundEvents();
