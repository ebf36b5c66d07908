// The sound event queue: a FIFO under one mutex, shared by the audio, video
// and external-program threads and the main thread.
#include "core/soundevents.h"

#include <deque>
#include <mutex>
#include <new>

#include "core/errcodes.h"
#include "platform/platform.h"

namespace {

struct SoundEventQueue {
    std::mutex mutex;
    std::deque<qbSoundEvent> events;
};

SoundEventQueue queue;

}  // namespace

int PushSoundEvent(int type, ObjectID id, uint32_t position, int32_t loops, uint32_t extra, int wake) {
    try {
        std::lock_guard lock(queue.mutex);
        queue.events.push_back(qbSoundEvent{type, id, position, loops, extra});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (wake) PostWakeEvent();
    return 0;
}

std::optional<qbSoundEvent> PopSoundEvent() {
    std::lock_guard lock(queue.mutex);
    if (queue.events.empty()) return std::nullopt;
    qbSoundEvent event = queue.events.front();
    queue.events.pop_front();
    return event;
}

void ClearSoundEvents() {
    std::lock_guard lock(queue.mutex);
    queue.events.clear();
}
