// When a network wait gives up: the library's one time-out rule, read by
// every send and receive and by the transfer engine. Every wait names its
// rule; there is no default.
//
// - Whole: a section that is of use only once it is all there (a line the
//   script receives, an HTTP status line with its headers, an FTP reply with
//   its continuation lines, a chunk-size line) ends at a deadline one
//   time-out from its start, however its bytes trickle.
// - Bulk: bytes that may be many (bodies, data connections, byte counts,
//   sends) end once the time-out passes without a byte moving, and also when
//   less than kNetLowSpeedBytes moved within one time-out period. A body
//   read in pieces keeps one clock, so that no piece starts it afresh.
//
// A network time-out of 0 is no limit for either.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kNetLowSpeedBytes = 1024;

enum class NetWaitKind { kWhole, kBulk };

// What a wait may use; made only by the two functions below.
struct qbNetWaitRule {
    NetWaitKind kind;
    int64_t deadline;    // kWhole: monotonic microseconds; -1 none
    bool wait = true;    // false: "nothing there" ends the receive at once
    qbNetWaitRule(NetWaitKind k, int64_t d) : kind(k), deadline(d) {}
};

// A whole section, bounded from now (or, for a section that began earlier,
// until deadline: monotonic microseconds, -1 none).
qbNetWaitRule NetWaitWhole();
qbNetWaitRule NetWaitWholeUntil(int64_t deadline);
qbNetWaitRule NetWaitBulk();

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
// A whole section inside a bulk wait (a chunk-size line within a chunked
// body): bounded from now as a whole while its bytes go on counting toward
// the body's floor, until NetClockEndWhole.
void NetClockBeginWhole(qbNetClock* clock);
void NetClockEndWhole(qbNetClock* clock);
// Whether the wait must end now. The deadline is checked on every pass,
// also while bytes keep coming; the pause and the floor only between them.
NetWaitEnd NetClockDeadline(const qbNetClock& clock);
NetWaitEnd NetClockCheck(qbNetClock* clock);
