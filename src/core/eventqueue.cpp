// The input event queue: one FIFO list under one recursive mutex. Posting
// stays O(1) however long the queue grows: the tail and the one resize event
// that is still live are kept by pointer, so neither appending nor
// superseding walks the list. Peeking in order continues where the last peek
// stopped.
#include "core/eventqueue.h"

#include <atomic>
#include <mutex>
#include <new>

#include "core/errcodes.h"
#include "core/memory.h"
#include "core/threads.h"

namespace {

// Carries a position like a drop does.
constexpr uint32_t kEventWithPosition = 22;

struct EventQueue {
    qbMutexPtr mutex;
    // What producers on other threads look at before they lock: null before
    // start-up and after the last producer has stopped.
    std::atomic<qbMutex*> lock{nullptr};
    std::unique_ptr<qbEvent> head;
    qbEvent* tail = nullptr;
    qbEvent* liveResize = nullptr;  // the one queued resize event not superseded
    // The event last peeked at and its position: readers that scan the queue
    // peek 0, 1, 2 ... and must not walk from the head each time. Only a
    // change of the head moves positions.
    qbEvent* peeked = nullptr;
    int peekedAt = 0;
    bool enabled = false;
    EventClock clock = nullptr;
    int64_t timeoutMillis = kEventTimeoutMillis;
    EventBlockFreer freer = nullptr;

    EventQueue() = default;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;
    ~EventQueue();
};

void FreeEventBlock(const EventQueue& q, uint32_t type, void* block) {
    if (!block) return;
    if (q.freer) q.freer(type, block);
    else FreeMemory(block);
}

// Frees count leading events (all with a negative count) one at a time: a
// long list must not be torn down by recursion through the next pointers.
void FreeLeading(EventQueue& q, int64_t count) {
    if (count != 0) q.peeked = nullptr;
    while (q.head && count != 0) {
        std::unique_ptr<qbEvent> event = std::move(q.head);
        q.head = std::move(event->next);
        if (event.get() == q.liveResize) q.liveResize = nullptr;
        FreeEventBlock(q, event->type, event->block);
        if (count > 0) --count;
    }
    if (!q.head) q.tail = nullptr;
}

EventQueue::~EventQueue() { FreeLeading(*this, -1); }

EventQueue& Queue() {
    static EventQueue queue;
    return queue;
}

// The queue's lock for the duration of a scope; nothing when there is no mutex.
class QueueGuard {
public:
    explicit QueueGuard(EventQueue& q) : mutex_(q.lock.load(std::memory_order_acquire)) {
        if (mutex_) LockMutex(mutex_);
    }
    ~QueueGuard() {
        if (mutex_) UnlockMutex(mutex_);
    }
    QueueGuard(const QueueGuard&) = delete;
    QueueGuard& operator=(const QueueGuard&) = delete;
    bool Locked() const { return mutex_ != nullptr; }

private:
    qbMutex* mutex_;
};

void Now(const EventQueue& q, TimeValue* out) {
    if (q.clock) q.clock(out);
    else GetMonotonicTime(out);
}

int64_t AgeMillis(const TimeValue& now, const TimeValue& stamp) {
    TimeValue age = now;
    SubTime(&age, &stamp);
    return int64_t{age.seconds} * 1000 + age.microseconds / 1000;
}

}  // namespace

int InitEventQueue() {
    EventQueue& q = Queue();
    if (!q.mutex) {
        q.mutex = AllocMutex();
        if (!q.mutex) return ERR_SEMAPHORE;
        q.lock.store(q.mutex.get(), std::memory_order_release);
    }
    QueueGuard guard(q);
    q.enabled = true;
    return 0;
}

void ClearEventQueue(ScriptState*) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    FreeLeading(q, -1);
    q.enabled = false;
}

void FreeEventQueueMutex() {
    EventQueue& q = Queue();
    {
        QueueGuard guard(q);
        FreeLeading(q, -1);
        q.enabled = false;
    }
    q.lock.store(nullptr, std::memory_order_release);
    FreeMutex(q.mutex);
}

int PostEvent(qbDisplay* display, uint32_t type, int32_t data1, int32_t data2, int32_t data3, void* block) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    if (!guard.Locked() || !q.enabled) return 0;
    // The rule that a scaling display's resizes are not queued reads the
    // display record; it joins here together with that record.
    std::unique_ptr<qbEvent> event;
    try {
        event = std::make_unique<qbEvent>();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    event->type = type;
    event->data1 = data1;
    event->data2 = data2;
    event->data3 = data3;
    event->owner = display;
    event->block = block;
    Now(q, &event->time);

    qbEvent* node = event.get();
    // Only the newest size counts; superseding after the allocation keeps the
    // older resize live when the new one could not be queued.
    if (type == kEventResized) {
        if (q.liveResize) q.liveResize->type = kEventSuperseded;
        q.liveResize = node;
    }
    if (q.tail) q.tail->next = std::move(event);
    else q.head = std::move(event);
    q.tail = node;
    return 1;
}

void LockEventQueue() {
    if (qbMutex* m = Queue().lock.load(std::memory_order_acquire)) LockMutex(m);
}

void UnlockEventQueue() {
    if (qbMutex* m = Queue().lock.load(std::memory_order_acquire)) UnlockMutex(m);
}

int PeekQueuedEvent(ScriptState*, int n, qbInputEvent* out, int takeBlock) {
    if (n < 0 || !out) return 0;
    EventQueue& q = Queue();
    qbEvent* event = q.head.get();
    int at = 0;
    if (q.peeked && q.peekedAt <= n) {
        event = q.peeked;
        at = q.peekedAt;
    }
    for (; event && at < n; ++at) event = event->next.get();
    if (!event) return 0;
    q.peeked = event;
    q.peekedAt = n;

    out->display = event->owner;
    out->type = event->type;
    out->block = event->block;
    if (takeBlock) event->block = nullptr;
    switch (event->type) {
    case kEventLeftButton:
    case kEventRightButton:
    case kEventMiddleButton:
        out->x = event->data1;
        out->y = event->data2;
        out->state = event->data3;
        break;
    case kEventKey:
        out->state = event->data1;
        out->key[0] = event->data2;
        out->key[1] = event->data3;
        break;
    case kEventFilesDropped:
    case kEventWithPosition:
        out->x = event->data1;
        out->y = event->data2;
        break;
    case kEventMenuSelect:
        out->state = event->data3;
        break;
    default:
        break;
    }
    return n + 1;
}

int FlushEvents(ScriptState*, int n, int lock) {
    EventQueue& q = Queue();
    if (n < -1) return 0;
    const int64_t count = n == -1 ? -1 : int64_t{n} + 1;
    if (!lock) {
        FreeLeading(q, count);
        return 0;
    }
    QueueGuard guard(q);
    FreeLeading(q, count);
    return 0;
}

int PurgeStaleEvents(ScriptState*) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    TimeValue now;
    Now(q, &now);
    int64_t stale = 0;
    for (const qbEvent* e = q.head.get(); e && AgeMillis(now, e->time) > q.timeoutMillis; e = e->next.get())
        ++stale;
    FreeLeading(q, stale);
    return 0;
}

void DetachEventOwner(const qbDisplay* display) {
    if (!display) return;
    EventQueue& q = Queue();
    QueueGuard guard(q);
    for (qbEvent* e = q.head.get(); e; e = e->next.get())
        if (e->owner == display) e->owner = nullptr;
}

void SetEventClock(EventClock clock) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    q.clock = clock;
}

void SetEventTimeout(int64_t millis) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    q.timeoutMillis = millis;
}

int64_t GetEventTimeout() {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    return q.timeoutMillis;
}

void SetEventBlockFreer(EventBlockFreer freer) {
    EventQueue& q = Queue();
    QueueGuard guard(q);
    q.freer = freer;
}
