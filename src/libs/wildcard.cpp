// The wildcard matcher that MatchPattern, DeleteFile and CopyFile share.
#include "libs/wildcard.h"

#include <cstddef>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The end of the set that opens at pattern[at] (the index past its "]"), or
// 0 when no "]" closes it.
size_t SetEnd(std::string_view pattern, size_t at) {
    size_t i = at + 1;
    if (i < pattern.size() && pattern[i] == '!') ++i;
    for (; i < pattern.size(); ++i)
        if (pattern[i] == ']') return i + 1;
    return 0;
}

// Whether c is in the set pattern[at, end) ("[" to "]" inclusive).
bool InSet(std::string_view pattern, size_t at, size_t end, unsigned char c) {
    size_t i = at + 1;
    const bool negated = pattern[i] == '!';
    if (negated) ++i;
    const size_t close = end - 1;
    bool found = false;
    while (i < close) {
        const auto lo = static_cast<unsigned char>(pattern[i]);
        if (i + 2 < close && pattern[i + 1] == '-' && lo < static_cast<unsigned char>(pattern[i + 2])) {
            const auto hi = static_cast<unsigned char>(pattern[i + 2]);
            if (c >= lo && c <= hi) found = true;
            i += 3;
        } else {
            if (c == lo) found = true;
            ++i;
        }
    }
    return found != negated;
}

// Whether the one-character element at pattern[p] takes c; *next gets the
// index past the element.
bool TakesOne(std::string_view pattern, size_t p, char c, size_t* next) {
    switch (pattern[p]) {
        case '?': *next = p + 1; return true;
        case '#': *next = p + 1; return IsDigit(c);
        case '[':
            if (size_t end = SetEnd(pattern, p)) {
                *next = end;
                return InSet(pattern, p, end, static_cast<unsigned char>(c));
            }
            [[fallthrough]];
        default: *next = p + 1; return pattern[p] == c;
    }
}

// A run of one-character elements between stars: pattern[begin, end),
// taking `length` characters of the name.
struct Segment {
    size_t begin = 0, end = 0, length = 0;
};

// The segment that starts at pattern[p], up to the next "*" outside a set.
Segment ReadSegment(std::string_view pattern, size_t p) {
    Segment seg{p, p, 0};
    while (seg.end < pattern.size() && pattern[seg.end] != '*') {
        const size_t close = pattern[seg.end] == '[' ? SetEnd(pattern, seg.end) : 0;
        seg.end = close ? close : seg.end + 1;
        ++seg.length;
    }
    return seg;
}

// Whether seg takes name[at, at + seg.length); every element tried costs a
// step.
bool SegmentAt(std::string_view pattern, const Segment& seg, std::string_view name, size_t at, size_t& steps) {
    size_t p = seg.begin;
    for (size_t k = 0; k < seg.length; ++k) {
        ++steps;
        size_t next;
        if (!TakesOne(pattern, p, name[at + k], &next)) return false;
        p = next;
    }
    return true;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, size_t* stepsOut) {
    // Every element but "*" takes exactly one character. So the part before
    // the first star is a prefix of the name and the part after the last
    // star its suffix, and each part between stars may take its leftmost
    // place after the one before: a later place leaves less room for the
    // rest and gains nothing. Each part is placed once, which bounds the
    // cost by the name's length times the longest part.
    size_t steps = 0;
    struct Report {
        size_t& steps;
        size_t* out;
        ~Report() {
            if (out) *out = steps;
        }
    } report{steps, stepsOut};
    const Segment head = ReadSegment(pattern, 0);
    if (head.end == pattern.size()) return head.length == name.size() && SegmentAt(pattern, head, name, 0, steps);
    size_t lastStar = pattern.size();
    Segment tail;
    for (size_t p = head.end; p < pattern.size();) {
        if (pattern[p] == '*') {
            lastStar = p++;
            continue;
        }
        const Segment seg = ReadSegment(pattern, p);
        if (seg.end == pattern.size()) tail = seg;
        p = seg.end;
    }
    if (tail.end != pattern.size() || tail.begin <= lastStar) tail = Segment{pattern.size(), pattern.size(), 0};
    if (head.length + tail.length > name.size()) return false;
    const size_t limit = name.size() - tail.length;
    if (!SegmentAt(pattern, head, name, 0, steps) || !SegmentAt(pattern, tail, name, limit, steps)) return false;
    size_t at = head.length;
    for (size_t p = head.end; p < lastStar;) {
        if (pattern[p] == '*') {
            ++p;
            continue;
        }
        const Segment seg = ReadSegment(pattern, p);
        p = seg.end;
        for (;;) {
            if (at + seg.length > limit) return false;
            if (SegmentAt(pattern, seg, name, at, steps)) break;
            ++at;
        }
        at += seg.length;
    }
    return true;
}

bool MatchPatternList(std::string_view list, std::string_view name) {
    if (list.empty()) return false;
    for (;;) {
        const size_t semi = list.find(';');
        if (WildcardMatch(list.substr(0, semi), name)) return true;
        if (semi == std::string_view::npos) return false;
        list.remove_prefix(semi + 1);
    }
}
