// When a network wait gives up: the library's one time-out rule, read by
// every send and receive and by the transfer engine.
//
// - Each pause: a wait ends once the network time-out passes without a byte
//   moving (0: no limit).
// - Low speed: a waiting receive of the script also ends when less than
//   kNetLowSpeedBytes arrived within one time-out period, so that a peer
//   that trickles a byte at a time cannot hold it for ever.
// - Deadline: a section bounded as a whole (the status and header lines of
//   an HTTP answer) ends at its deadline however its bytes trickle.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kNetLowSpeedBytes = 1024;

// What a wait may use; a receive or send keeps its own copy.
struct qbNetWaitRule {
    bool wait = true;        // false: "nothing there" ends the receive at once
    bool lowSpeed = false;   // the low-speed floor applies
    int64_t deadline = -1;   // monotonic microseconds; -1 none
};

struct qbNetClock {
    qbNetWaitRule rule;
    int32_t limitMs = 0;  // the network time-out when the wait began
    int64_t lastProgress = 0;
    int64_t windowStart = 0;
    size_t windowBytes = 0;
};

enum class NetWaitEnd { kGoOn, kPause, kLowSpeed, kDeadline };

// A deadline one network time-out from now; -1 when the time-out is 0.
int64_t NetDeadlineFromNow();
qbNetClock NetClockStart(const qbNetWaitRule& rule);
void NetClockProgress(qbNetClock* clock, size_t bytes);
// Whether the wait must end now. The deadline is checked on every pass,
// also while bytes keep coming; the pause and the floor only between them.
NetWaitEnd NetClockDeadline(const qbNetClock& clock);
NetWaitEnd NetClockCheck(qbNetClock* clock);
