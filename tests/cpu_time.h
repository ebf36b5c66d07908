// The calling thread's CPU time, which the cost tests compare in ratios: a
// loaded machine slows both sides of a ratio alike.
#pragma once

#include <time.h>

inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
