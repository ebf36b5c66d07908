// Times and counts of things at a rate (pictures, sample frames) convert in
// integer arithmetic. A rate held in floating point is not exact: 1160 ms
// at 25 pictures a second comes to 28.999... and truncates to the picture
// before the one that runs then.
#pragma once

#include <cstdint>
#include <limits>

// `count` things every `seconds` seconds: {25, 1} for 25 pictures a
// second, or a CDXL file's bytes a second over its bytes a chunk.
struct qbRate {
    uint64_t count = 0;
    uint64_t seconds = 1;
};

namespace rate_time {

__extension__ using Wide = unsigned __int128;

inline int64_t ScaleDown(uint64_t value, uint64_t times, uint64_t over) {
    if (over == 0) return 0;
    const Wide q = Wide{value} * times / over;
    return q > static_cast<Wide>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                      : static_cast<int64_t>(q);
}

}  // namespace rate_time

// The thing that runs at the time: floor(ms x rate / 1000); 0 before the
// start or at a rate of 0.
inline int64_t CountAtMs(int64_t ms, qbRate rate) {
    if (ms <= 0) return 0;
    return rate_time::ScaleDown(static_cast<uint64_t>(ms), rate.count, rate.seconds * 1000);
}

// The time the n-th thing starts, in whole ms: floor(n x 1000 / rate); 0
// at a rate of 0.
inline int64_t MsAtCount(int64_t n, qbRate rate) {
    if (n <= 0 || rate.count == 0) return 0;
    return rate_time::ScaleDown(static_cast<uint64_t>(n), rate.seconds * 1000, rate.count);
}
