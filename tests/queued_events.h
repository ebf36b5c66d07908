// The input events waiting in the queue, oldest first, without taking them.
#pragma once

#include <vector>

#include "core/eventqueue.h"

inline std::vector<qbInputEvent> QueuedEvents() {
    std::vector<qbInputEvent> events;
    LockEventQueue();
    for (int n = 0;; ++n) {
        qbInputEvent e;
        if (PeekQueuedEvent(nullptr, n, &e, 0) != n + 1) break;
        events.push_back(e);
    }
    UnlockEventQueue();
    return events;
}
