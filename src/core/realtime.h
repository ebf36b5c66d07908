// Starting the threads that must keep up with a clock (audio, video, timers)
// with round-robin real-time scheduling where the system allows it.
#pragma once

#include <pthread.h>

using ThreadBody = void (*)(void* arg);

// Owns a started thread until it is joined; destroying a joinable owner joins.
class RealtimeThread {
public:
    RealtimeThread() = default;
    RealtimeThread(RealtimeThread&& other) noexcept;
    RealtimeThread& operator=(RealtimeThread&& other) noexcept;
    RealtimeThread(const RealtimeThread&) = delete;
    RealtimeThread& operator=(const RealtimeThread&) = delete;
    ~RealtimeThread();

    bool Joinable() const { return joinable_; }
    void Join();

private:
    friend RealtimeThread CreateRealtimeThread(ThreadBody body, void* arg, int priority);
    pthread_t handle_{};
    bool joinable_ = false;
};

// Priority 0 starts the thread with the default attributes; any other priority
// asks for round-robin scheduling at it, clamped to the system's range. When
// the system refuses real-time scheduling (an unprivileged user), the thread
// still starts with the default scheduling. An owner that is not joinable
// means the thread could not be created.
RealtimeThread CreateRealtimeThread(ThreadBody body, void* arg, int priority);
