// Waking the main thread's event wait from other threads (timer, sound,
// external programs): a process-wide flag under a condition variable.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/linux/linux_backend.h"

namespace {

struct WakeState {
    std::mutex mutex;
    std::condition_variable cond;
    bool pending = false;
};

WakeState wake;

}  // namespace

namespace linux_backend {

int PostWakeEvent() {
    {
        std::lock_guard lock(wake.mutex);
        wake.pending = true;
    }
    wake.cond.notify_all();
    return 0;
}

int WaitForNativeEvent(int timeoutMs) {
    std::unique_lock lock(wake.mutex);
    if (timeoutMs < 0) {
        wake.cond.wait(lock, [] { return wake.pending; });
    } else {
        wake.cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return wake.pending; });
    }
    // A wake carries nothing to be fetched later, so the wait takes it; any
    // number of posts before the wait end one wait.
    wake.pending = false;
    return 0;
}

}  // namespace linux_backend
