// Recursive mutexes, auto-reset signals and the thread start handshake.
#include "core/threads.h"

#include <chrono>
#include <new>

namespace {

// Runs on the new thread. A body that returns without signalling its start
// would otherwise leave StartThread waiting for ever.
void RunThreadBody(void* arg) {
    qbThread* thread = static_cast<qbThread*>(arg);
    thread->body(thread);
    std::lock_guard lock(thread->handshakeMutex);
    if (!thread->started) {
        thread->started = true;
        thread->handshake.notify_all();
    }
}

void ReleaseAndJoin(qbThread* thread) {
    {
        std::lock_guard lock(thread->handshakeMutex);
        thread->released = true;
    }
    thread->handshake.notify_all();
    thread->thread.Join();
}

}  // namespace

qbThread::~qbThread() {
    if (!thread.Joinable()) return;
    stopRequested.store(true);
    ReleaseAndJoin(this);
}

qbMutexPtr AllocMutex() {
    try {
        return std::make_unique<qbMutex>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void FreeMutex(qbMutexPtr& mutex) { mutex.reset(); }

void LockMutex(qbMutex* mutex) { mutex->mutex.lock(); }

void UnlockMutex(qbMutex* mutex) { mutex->mutex.unlock(); }

int TryLockMutex(qbMutex* mutex) { return mutex->mutex.try_lock() ? 1 : 0; }

qbSignalPtr AllocSignal() {
    try {
        return std::make_unique<qbSignal>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void FreeSignal(qbSignalPtr& signal) { signal.reset(); }

void SetSignal(qbSignal* signal) {
    {
        std::lock_guard lock(signal->guard);
        signal->flag = true;
    }
    signal->cond.notify_one();
}

int WaitSignal(qbSignal* signal, qbMutex* mutex) {
    std::unique_lock guard(signal->guard);
    if (signal->flag) {
        signal->flag = false;
        return 0;
    }
    // The signal's lock is taken before the caller's mutex is let go, so a
    // setter that acts in between waits for this thread to sleep and its
    // wake-up cannot fall into the gap.
    if (mutex) UnlockMutex(mutex);
    signal->cond.wait(guard, [signal] { return signal->flag; });
    signal->flag = false;
    guard.unlock();
    if (mutex) LockMutex(mutex);
    return 0;
}

int WaitSignalTimeout(qbSignal* signal, qbMutex* mutex, int32_t milliseconds) {
    std::unique_lock guard(signal->guard);
    if (!signal->flag) {
        if (milliseconds <= 0) return 1;
        if (mutex) UnlockMutex(mutex);
        // steady_clock: a wall-clock step never stretches or cuts the wait.
        const bool set = signal->cond.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                               [signal] { return signal->flag; });
        if (!set) {
            guard.unlock();
            if (mutex) LockMutex(mutex);
            return 1;
        }
    } else {
        signal->flag = false;
        return 0;
    }
    signal->flag = false;
    guard.unlock();
    if (mutex) LockMutex(mutex);
    return 0;
}

qbThreadPtr StartThread(const char*, ThreadBody body, void* userData, int, size_t, int priority) {
    qbThreadPtr thread;
    try {
        thread = std::make_unique<qbThread>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    thread->body = body;
    thread->userData = userData;
    thread->thread = CreateRealtimeThread(RunThreadBody, thread.get(), priority);
    if (!thread->thread.Joinable()) return nullptr;

    int result = 0;
    {
        std::unique_lock lock(thread->handshakeMutex);
        thread->handshake.wait(lock, [&] { return thread->started; });
        result = thread->startResult;
    }
    if (result != 0) {
        // A failed body may still call WaitThreadRelease; releasing it first
        // keeps the join from hanging.
        ReleaseAndJoin(thread.get());
        return nullptr;
    }
    return thread;
}

qbThread* GetThreadFromArg(void* arg) { return static_cast<qbThread*>(arg); }

void* GetThreadUserData(qbThread* thread) { return thread->userData; }

bool IsThreadStopRequested(qbThread* thread) { return thread->stopRequested.load(); }

void SignalThreadStarted(qbThread* thread) {
    {
        std::lock_guard lock(thread->handshakeMutex);
        thread->started = true;
    }
    thread->handshake.notify_all();
}

void SetThreadStartResult(qbThread* thread, int code) {
    {
        std::lock_guard lock(thread->handshakeMutex);
        thread->startResult = code;
        if (code == 0) return;
        thread->started = true;
    }
    thread->handshake.notify_all();
}

void WaitThreadRelease(qbThread* thread) {
    std::unique_lock lock(thread->handshakeMutex);
    thread->handshake.wait(lock, [thread] { return thread->released; });
}

void RequestThreadStop(qbThread* thread) { thread->stopRequested.store(true); }

void JoinThread(qbThreadPtr& holder) {
    if (!holder) return;
    ReleaseAndJoin(holder.get());
    holder.reset();
}

void StopThread(qbThreadPtr& holder) {
    if (!holder) return;
    RequestThreadStop(holder.get());
    JoinThread(holder);
}
