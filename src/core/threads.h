// Recursive mutexes, auto-reset signals and threads with a start handshake,
// shared by the timer, external-program, sound and video threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/realtime.h"

// The same thread may lock it again; each lock needs an unlock.
struct qbMutex {
    std::recursive_mutex mutex;
};
using qbMutexPtr = std::unique_ptr<qbMutex>;

// Auto-reset: a wait returns once the flag is set and clears it. The flag
// lives under the signal's own lock so that a set between the waiter's check
// and its sleep is never lost, whoever holds which mutex.
struct qbSignal {
    std::mutex guard;
    std::condition_variable cond;
    bool flag = false;
};
using qbSignalPtr = std::unique_ptr<qbSignal>;

struct qbThread {
    RealtimeThread thread;
    std::mutex handshakeMutex;
    std::condition_variable handshake;
    ThreadBody body = nullptr;
    void* userData = nullptr;
    // The next three are guarded by handshakeMutex.
    int startResult = 0;
    bool started = false;
    bool released = false;
    std::atomic<bool> stopRequested{false};

    qbThread() = default;
    qbThread(const qbThread&) = delete;
    qbThread& operator=(const qbThread&) = delete;
    // An owner that drops a running thread stops it the way StopThread does.
    ~qbThread();
};
using qbThreadPtr = std::unique_ptr<qbThread>;

qbMutexPtr AllocMutex();
void FreeMutex(qbMutexPtr& mutex);
void LockMutex(qbMutex* mutex);
void UnlockMutex(qbMutex* mutex);
// 1 when locked, 0 when another thread holds it.
int TryLockMutex(qbMutex* mutex);

// Holds a mutex for one scope.
class MutexHold {
public:
    explicit MutexHold(qbMutex* m) : m_(m) { LockMutex(m_); }
    ~MutexHold() { UnlockMutex(m_); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    qbMutex* m_;
};

qbSignalPtr AllocSignal();
void FreeSignal(qbSignalPtr& signal);
// Sets the flag and wakes one waiter.
void SetSignal(qbSignal* signal);
// The caller holds mutex (once); it is released while waiting and held again
// on return. Waits until the flag is set, clears it and returns 0.
int WaitSignal(qbSignal* signal, qbMutex* mutex);
// The same for at most the given time on the monotonic clock: 0 when the
// flag was set (and is cleared), 1 when the time ran out.
int WaitSignalTimeout(qbSignal* signal, qbMutex* mutex, int32_t milliseconds);

// Runs body with the new record as its argument and waits until the body has
// signalled its start. Null when the thread could not be created or the body
// reported a failed start (that thread has been joined). Name, flags and stack
// size are accepted for the callers' sake; priority 0 is default scheduling,
// any other asks for round-robin real-time priority.
qbThreadPtr StartThread(const char* name, ThreadBody body, void* userData, int flags, size_t stackSize,
                        int priority);

// Inside a thread body.
qbThread* GetThreadFromArg(void* arg);
void* GetThreadUserData(qbThread* thread);
bool IsThreadStopRequested(qbThread* thread);
void SignalThreadStarted(qbThread* thread);
// A non-zero code fails the start: StartThread then returns null.
void SetThreadStartResult(qbThread* thread, int code);
// Called last by a body that started well; returns once its owner joins it.
void WaitThreadRelease(qbThread* thread);

// By the owner.
void RequestThreadStop(qbThread* thread);
// Releases the body, joins the thread and frees the record (the holder
// becomes null).
void JoinThread(qbThreadPtr& holder);
void StopThread(qbThreadPtr& holder);
