// What an operation costs in memory, for tests that bound it by their input:
// the growth of the process's peak resident size across the operation. A
// buffer sized by a claim is cleared or read into, so its pages count.
#pragma once

#include <sys/resource.h>

#include <cstdint>

inline uint64_t PeakResidentBytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<uint64_t>(u.ru_maxrss) * 1024;
}

// Runs op and answers how far the peak grew while it ran.
template <typename Op>
uint64_t PeakGrowth(Op&& op) {
    const uint64_t before = PeakResidentBytes();
    op();
    const uint64_t after = PeakResidentBytes();
    return after > before ? after - before : 0;
}
