// The queue of input events between their producers (the platform's window
// handlers and the display library, on any thread) and the event dispatcher
// on the main thread.
#pragma once

#include <cstdint>
#include <memory>

#include "core/ostime.h"

struct qbDisplay;
struct ScriptState;

enum EventType : uint32_t {
    kEventSuperseded = 0,  // a resize that a newer one replaced; readers skip it
    kEventLeftButton = 1,
    kEventRightButton = 2,
    kEventKey = 3,
    kEventMoved = 4,
    kEventResized = 5,
    kEventDeactivated = 6,
    kEventCloseRequest = 7,
    kEventActivated = 8,
    kEventMinimised = 9,
    kEventRestored = 10,
    kEventWheelUp = 11,
    kEventWheelDown = 12,
    kEventFullScreenToggle = 13,
    kEventFilesDropped = 14,
    kEventClipboardChanged = 15,
    kEventMiddleButton = 16,
    kEventMenuSelect = 26,
};

// Events nobody picked up for this long are dropped, unless the script set
// another time-out.
constexpr int64_t kEventTimeoutMillis = 60000;

struct qbEvent {
    std::unique_ptr<qbEvent> next;
    uint32_t type = 0;
    int32_t data1 = 0;
    int32_t data2 = 0;
    int32_t data3 = 0;
    TimeValue time;
    qbDisplay* owner = nullptr;  // null once the display closed
    void* block = nullptr;       // an AllocMemory block the event owns until a reader takes it
};

// The dispatcher's copy of the event it is handling.
struct qbInputEvent {
    qbDisplay* display = nullptr;
    uint32_t type = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t state = 0;  // pressed flag of buttons and keys, checked flag of menu items
    int32_t key[2] = {};
    void* block = nullptr;
};

// Creates the mutex once (ERR_SEMAPHORE when that fails) and enables the queue.
int InitEventQueue();
// Frees every event with its block and disables the queue; the mutex stays,
// since producers may still post until they have stopped.
void ClearEventQueue(ScriptState* L);
// Frees the mutex; after this PostEvent refuses everything. Only once every
// thread that posts has stopped.
void FreeEventQueueMutex();

// 1 queued, 0 not queued (no mutex, queue disabled), -1 out of memory.
int PostEvent(qbDisplay* display, uint32_t type, int32_t data1, int32_t data2, int32_t data3, void* block);

// The dispatcher holds the queue while it reads it; recursive.
void LockEventQueue();
void UnlockEventQueue();

// Copies the event at position n (0 = oldest) into out; with takeBlock the
// reader owns the block from then on. n + 1, or 0 when there is no such event.
// The caller holds the queue.
int PeekQueuedEvent(ScriptState* L, int n, qbInputEvent* out, int takeBlock);
// Frees the events at positions 0 to n (all with n = -1) with their blocks.
// With lock clear the caller holds the queue. Returns 0.
int FlushEvents(ScriptState* L, int n, int lock);
// Frees the leading events older than the event time-out. Returns 0.
int PurgeStaleEvents(ScriptState* L);
// The event time-out in milliseconds (kEventTimeoutMillis until set).
void SetEventTimeout(int64_t millis);
int64_t GetEventTimeout();
// How the blocks of freed events are released, by event type; null frees
// them as plain memory blocks. The event library's is set when it opens.
using EventBlockFreer = void (*)(uint32_t type, void* block);
void SetEventBlockFreer(EventBlockFreer freer);
// The events of a closing display stay queued without an owner.
void DetachEventOwner(const qbDisplay* display);

// The clock that stamps and ages events; null restores the monotonic clock.
using EventClock = void (*)(TimeValue* out);
void SetEventClock(EventClock clock);
