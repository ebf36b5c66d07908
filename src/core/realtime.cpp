// Starting threads with round-robin real-time priority, falling back to the
// default scheduling when the system refuses it.
#include "core/realtime.h"

#include <sched.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace {

struct StartRecord {
    ThreadBody body;
    void* arg;
};

void* RunBody(void* raw) {
    std::unique_ptr<StartRecord> start(static_cast<StartRecord*>(raw));
    start->body(start->arg);
    return nullptr;
}

// Owns a pthread attribute object for the length of one creation attempt.
struct ThreadAttr {
    pthread_attr_t attr;
    bool ok;
    ThreadAttr() : ok(pthread_attr_init(&attr) == 0) {}
    ~ThreadAttr() {
        if (ok) pthread_attr_destroy(&attr);
    }
    ThreadAttr(const ThreadAttr&) = delete;
    ThreadAttr& operator=(const ThreadAttr&) = delete;
};

// Callers ask for priority 100, above Linux's round-robin range (1-99); the
// top of the range keeps their intent.
int ClampRoundRobinPriority(int priority) {
    int low = sched_get_priority_min(SCHED_RR);
    int high = sched_get_priority_max(SCHED_RR);
    if (low < 0 || high < 0) return priority;
    return std::clamp(priority, low, high);
}

bool CreateRoundRobin(pthread_t* handle, int priority, StartRecord* start) {
    ThreadAttr a;
    if (!a.ok) return false;
    sched_param param{};
    param.sched_priority = ClampRoundRobinPriority(priority);
    if (pthread_attr_setinheritsched(&a.attr, PTHREAD_EXPLICIT_SCHED) != 0) return false;
    if (pthread_attr_setschedpolicy(&a.attr, SCHED_RR) != 0) return false;
    if (pthread_attr_setschedparam(&a.attr, &param) != 0) return false;
    return pthread_create(handle, &a.attr, RunBody, start) == 0;
}

}  // namespace

RealtimeThread::RealtimeThread(RealtimeThread&& other) noexcept
    : handle_(other.handle_), joinable_(std::exchange(other.joinable_, false)) {}

RealtimeThread& RealtimeThread::operator=(RealtimeThread&& other) noexcept {
    if (this != &other) {
        Join();
        handle_ = other.handle_;
        joinable_ = std::exchange(other.joinable_, false);
    }
    return *this;
}

RealtimeThread::~RealtimeThread() { Join(); }

void RealtimeThread::Join() {
    if (!joinable_) return;
    pthread_join(handle_, nullptr);
    joinable_ = false;
}

RealtimeThread CreateRealtimeThread(ThreadBody body, void* arg, int priority) {
    RealtimeThread thread;
    std::unique_ptr<StartRecord> start;
    try {
        start = std::make_unique<StartRecord>(StartRecord{body, arg});
    } catch (const std::bad_alloc&) {
        return thread;
    }
    // A refusal of real-time scheduling (EPERM without the privilege) is no
    // reason to fail the caller: the thread runs, only less promptly.
    bool created = priority != 0 && CreateRoundRobin(&thread.handle_, priority, start.get());
    if (!created) created = pthread_create(&thread.handle_, nullptr, RunBody, start.get()) == 0;
    if (created) {
        // The new thread owns the start record now and frees it.
        static_cast<void>(start.release());
        thread.joinable_ = true;
    }
    return thread;
}
