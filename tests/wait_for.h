// The wait of tests whose condition comes from another thread, a child or
// a clock.
#pragma once

#include <chrono>
#include <thread>

namespace test_wait {

// Polls `done` until it holds: true, or false once `limit` has passed. The
// limit only bounds a hang: a loaded machine may run a clip or a timer at
// a fraction of its speed, and a passing wait returns as soon as it can.
template <class Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace test_wait
