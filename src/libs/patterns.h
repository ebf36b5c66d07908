// The pattern matcher of the string library: a backtracking matcher over
// byte strings with the classes, sets, quantifiers, captures, balances and
// frontiers of the Lua 5.1 pattern language. It knows nothing of the VM:
// every entry answers 0, a result, or an ERR_* code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

constexpr int kMaxPatternCaptures = 32;
// Deeper recursion than this ends the match with ERR_STACK, so that hostile
// patterns ("a?" a hundred thousand times) cannot exhaust the native stack.
constexpr int kMaxMatchDepth = 200;

// Backtracking can take exponential time ("a?" a hundred times before a
// mismatch, ".-.-b" over a long subject), so every search runs on a budget
// of matcher steps, and spending it ends the match with ERR_STACK, as a too
// deep one does. A step is a bounded amount of work: a pattern item tried,
// a byte scanned, a set tested (one lookup in the table its one reading
// made). The budget is what a search linear in its subject needs: a few
// steps for each byte and pattern item, the reading of the pattern, and a
// little over, so that a scan of any length keeps its answer and one that
// backtracks over the subject from every start does not run for hours. One
// search (all its start places and the scan for them, over the subject from
// its start on), one whole replace, and all the calls of one PatternFindStr
// iterator together get MatchBudgetFor unless their caller sets another.
constexpr uint64_t kSubjectMatchSteps = UINT64_MAX;
constexpr uint64_t kBaseMatchSteps = 100000;
constexpr uint64_t kMatchStepsPerByteAndItem = 4;
constexpr uint64_t MatchBudgetFor(size_t subjectBytes, size_t patternItems, size_t patternBytes) {
    return kBaseMatchSteps +
           kMatchStepsPerByteAndItem * (static_cast<uint64_t>(subjectBytes) + 1) *
               (static_cast<uint64_t>(patternItems) + 1) +
           static_cast<uint64_t>(patternBytes);
}
// The items of a pattern: each single item with its quantifier, capture
// bracket, anchor, balance and frontier counts one; a set is one item.
size_t CountPatternItems(const char* pattern, size_t patLen);
// MatchBudgetFor of a search over subjectBytes by that pattern.
uint64_t PatternBudget(size_t subjectBytes, const char* pattern, size_t patLen);

constexpr ptrdiff_t kCaptureUnfinished = -1;
constexpr ptrdiff_t kCapturePosition = -2;

// Left uninitialised: only the first `level` entries are ever read, and
// clearing all of them on every search would cost more than a short match.
struct qbPatternCapture {
    const unsigned char* init;
    ptrdiff_t len;  // or kCaptureUnfinished, kCapturePosition
};

// A set of the pattern, read once per search: where it ends and the bytes it
// takes, one bit each.
struct qbPatternSet {
    const unsigned char* end = nullptr;  // past its "]"
    uint64_t bits[4] = {};
};

struct qbMatchState {
    const unsigned char* srcInit = nullptr;
    const unsigned char* srcEnd = nullptr;
    const unsigned char* patEnd = nullptr;
    int level = 0;  // captures opened so far, finished or not
    int depth = 0;
    uint64_t budget = kSubjectMatchSteps;  // or a number of steps
    // The sets read so far, by the place of their "[" in the pattern.
    std::map<const unsigned char*, qbPatternSet> sets;
    qbPatternCapture capture[kMaxPatternCaptures];
};

// One capture as scripts see it: a position capture is the 1-based position
// of its place in the subject; any other capture is its text.
struct qbCaptureValue {
    bool isPosition = false;
    size_t position = 0;
    const unsigned char* text = nullptr;
    size_t len = 0;
};

// Searches subject from init (0..len). With honourAnchor a leading "^" ties
// the match to init; without it "^" is an ordinary byte. Answers 1 with the
// match in [*start, *end) (offsets) and the captures in ms, 0 when nothing
// matches, or an ERR_* code of the pattern.
int PatternFind(qbMatchState& ms, const char* subject, size_t len, const char* pattern, size_t patLen, size_t init,
                bool honourAnchor, size_t* start, size_t* end);

// Capture i of the match [s, e); with no captures at all, index 0 is the
// whole match. ERR_INVCAPIDX or ERR_UNFINISHEDCAPTURE, else 0.
int GetPatternCapture(const qbMatchState& ms, int i, const unsigned char* s, const unsigned char* e,
                      qbCaptureValue& out);
// How many values a match hands the script: its captures, or the whole match.
inline int PatternResultCount(const qbMatchState& ms) { return ms.level == 0 ? 1 : ms.level; }

// Appends a capture's value as text (a position as its number).
void AppendCaptureText(std::string& out, const qbCaptureValue& v);

// Called for every replaced match [s, e): appends the replacement to out and
// answers 0 or an error code.
using PatternReplaceFn = int (*)(void* data, const qbMatchState& ms, const unsigned char* s, const unsigned char* e,
                                 std::string& out);

// Replaces up to max matches of pattern in subject (a leading "^" tries the
// start only); out gets the new text, *count the replacements. 0 or an ERR_*
// code.
int PatternReplace(const char* subject, size_t len, const char* pattern, size_t patLen, long long max,
                   PatternReplaceFn fn, void* data, std::string& out, long long* count,
                   uint64_t budget = kSubjectMatchSteps);

// The replacement of a string: "%1"-"%9" insert captures ("%0", or a digit
// that names no capture: ERR_INVCAPIDX), "%" and another byte that byte.
int AppendStringReplacement(const qbMatchState& ms, const unsigned char* s, const unsigned char* e, const char* repl,
                            size_t replLen, std::string& out);
