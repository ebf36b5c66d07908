// A clock for the timers that moves only when the test moves it: every
// interval, time-out, wait and stopwatch reads it in place of the monotonic
// clock, so a test sets periods as it likes and never waits for real time.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "core/timerthread.h"

namespace timerclock {

// Far from zero, so that no stopwatch reading starts at the clock's origin.
constexpr int64_t kStartMicros = int64_t{1000} * 1000 * 1000;

inline std::atomic<int64_t> virtualNow{kStartMicros};

inline int64_t ReadVirtual() { return virtualNow.load(); }

// Installs the clock (before the timer thread starts) and takes it back.
inline void Install() {
    virtualNow.store(kStartMicros);
    ASSERT_TRUE(SetTimerClock(ReadVirtual));
}
inline void Uninstall() { EXPECT_TRUE(SetTimerClock(nullptr)); }

// Moves the clock on; returns once every timer due by then has fired.
inline void AdvanceMicros(int64_t micros) {
    virtualNow.fetch_add(micros);
    TimerClockMoved();
}
inline void Advance(int64_t ms) { AdvanceMicros(ms * 1000); }

// Runs `command` on this thread (the VM's) while another moves the clock
// to each deadline in turn for as long as the schedule holds more timers
// than it held before: the command's own wait, which it ends. So the
// command waits exactly as long on the clock as it asked.
template <class Command>
void WhileWaiting(Command command) {
    const size_t before = GetTimerSchedule().timers;
    std::atomic<bool> done{false};
    std::thread mover([&] {
        while (!done.load()) {
            const qbTimerSchedule s = GetTimerSchedule();
            if (s.timers > before && s.firstDueMicros > virtualNow.load()) {
                virtualNow.store(s.firstDueMicros);
                TimerClockMoved();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    command();
    done.store(true);
    mover.join();
}

}  // namespace timerclock
