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
//
// While a script serves, its handlers wait on peers (sends, receives,
// lookups) on one budget shared by all of them (qbNetWaitBudget): no other
// handler runs meanwhile, so waits that are each bounded would add up
// across slow peers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

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

// What a script's server waited inside its handlers on peers that sent or
// took less than asked: at most one network time-out of such waiting in any
// span of two, however many connections share it. Once spent, a wait ends
// as at its time-out.
struct qbNetWaitBudget {
    std::deque<std::pair<int64_t, int64_t>> spans;  // [from, to) waited, monotonic microseconds, oldest first
    int64_t waited = 0;                               // the spans' length together
};

// Charges [from, to) to the budget.
void NetBudgetCharge(qbNetWaitBudget* budget, int64_t from, int64_t to);
// Whether waiting at now may go on under a time-out of limitMs (0: no limit).
bool NetBudgetLeft(qbNetWaitBudget* budget, int64_t now, int32_t limitMs);

// One wait's draw on the budget (null: a wait that is not shared). Each
// idle pass charges the time since the one before it, so every pause of
// the wait counts, however its bytes trickle; the time a callback of the
// script takes is not waiting and is passed over.
class NetSharedWait {
public:
    explicit NetSharedWait(qbNetWaitBudget* budget) : budget_(budget) {}
    // At an idle pass: false once the budget is spent.
    bool GoOn();
    // A callback of the script ran: its time is not charged.
    void CallbackRan();

private:
    qbNetWaitBudget* budget_;
    int64_t since_ = -1;
};
