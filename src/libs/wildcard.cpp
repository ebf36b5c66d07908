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

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Every element but "*" takes exactly one character, so when a later
    // element fails it is enough to let the last "*" take one more character
    // and try again from there: earlier stars could gain nothing.
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        size_t next;
        if (p < pattern.size() && TakesOne(pattern, p, name[n], &next)) {
            p = next;
            ++n;
            continue;
        }
        if (starP == std::string_view::npos) return false;
        p = starP;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
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
