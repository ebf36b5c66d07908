// The wildcard matcher that MatchPattern, DeleteFile and CopyFile share.
#include "libs/wildcard.h"

#include <string.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One element of a pattern: "*", or what takes exactly one character.
struct Element {
    enum Kind : uint8_t { kStar, kAny, kDigit, kByte, kSet } kind = kByte;
    unsigned char byte = 0;
    uint32_t set = 0;  // index into the sets
};

using ByteBits = std::array<uint64_t, 4>;

// A pattern read once: its elements, and each set's bytes, so that testing
// a character never reads the pattern again.
struct Compiled {
    std::vector<Element> elements;
    std::vector<ByteBits> sets;
};

// Sets the bits lo to hi, a word at a time.
void AddRange(ByteBits& bits, unsigned lo, unsigned hi) {
    for (unsigned w = 0; w < 4; ++w) {
        const unsigned from = lo > w * 64 ? lo : w * 64, to = hi < w * 64 + 63 ? hi : w * 64 + 63;
        if (from > to) continue;
        const unsigned n = to - from + 1;
        bits[w] |= (n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1) << (from - w * 64);
    }
}

// The set pattern[open, close] ("[" to "]"): single characters and ranges
// x-y with x below y; "!" first negates.
ByteBits ReadSet(std::string_view pattern, size_t open, size_t close) {
    ByteBits bits{};
    size_t i = open + 1;
    const bool negated = pattern[i] == '!';
    if (negated) ++i;
    while (i < close) {
        const auto lo = static_cast<unsigned char>(pattern[i]);
        if (i + 2 < close && pattern[i + 1] == '-' && lo < static_cast<unsigned char>(pattern[i + 2])) {
            const auto hi = static_cast<unsigned char>(pattern[i + 2]);
            AddRange(bits, lo, hi);
            i += 3;
        } else {
            AddRange(bits, lo, lo);
            ++i;
        }
    }
    if (negated)
        for (uint64_t& w : bits) w = ~w;
    return bits;
}

// Reads every byte of the pattern once. A "[" is a set up to the first "]"
// after it (after its "!"); one that no "]" closes stands for itself. The
// next "]" is looked for only past the last one found, so a run of unclosed
// brackets costs its length, not its square.
Compiled Compile(std::string_view pattern) {
    Compiled c;
    c.elements.reserve(pattern.size());
    size_t close = 0;  // the next "]" at or after where it was looked for
    bool closeKnown = false;
    for (size_t p = 0; p < pattern.size();) {
        Element e;
        switch (pattern[p]) {
        case '*': e.kind = Element::kStar; break;
        case '?': e.kind = Element::kAny; break;
        case '#': e.kind = Element::kDigit; break;
        case '[': {
            size_t from = p + 1;
            if (from < pattern.size() && pattern[from] == '!') ++from;
            if (!closeKnown || (close != std::string_view::npos && close < from)) {
                close = pattern.find(']', from);
                closeKnown = true;
            }
            if (close != std::string_view::npos) {
                e.kind = Element::kSet;
                e.set = static_cast<uint32_t>(c.sets.size());
                c.sets.push_back(ReadSet(pattern, p, close));
                c.elements.push_back(e);
                p = close + 1;
                continue;
            }
            e.byte = '[';
            break;
        }
        default: e.byte = static_cast<unsigned char>(pattern[p]); break;
        }
        c.elements.push_back(e);
        ++p;
    }
    return c;
}

bool Takes(const Compiled& c, const Element& e, char ch) {
    const auto u = static_cast<unsigned char>(ch);
    switch (e.kind) {
    case Element::kAny: return true;
    case Element::kDigit: return IsDigit(ch);
    case Element::kSet: return (c.sets[e.set][u >> 6] >> (u & 63)) & 1;
    default: return e.byte == u;
    }
}

// A run of one-character elements between stars: elements [begin, end),
// each taking one character of the name.
struct Segment {
    size_t begin = 0, end = 0;
    size_t length() const { return end - begin; }
};

Segment ReadSegment(const Compiled& c, size_t at) {
    Segment seg{at, at};
    while (seg.end < c.elements.size() && c.elements[seg.end].kind != Element::kStar) ++seg.end;
    return seg;
}

// Whether seg takes name[at, at + seg.length()); every element tried costs a
// step.
bool SegmentAt(const Compiled& c, const Segment& seg, std::string_view name, size_t at, size_t& steps) {
    for (size_t k = 0; k < seg.length(); ++k) {
        ++steps;
        if (!Takes(c, c.elements[seg.begin + k], name[at + k])) return false;
    }
    return true;
}

bool IsLiteral(const Compiled& c, const Segment& seg) {
    for (size_t k = seg.begin; k < seg.end; ++k)
        if (c.elements[k].kind != Element::kByte) return false;
    return true;
}

// Runs up to this long are tried at each place: a bounded cost a byte.
constexpr size_t kShortRun = 16;

// The leftmost place p in [from, limit - seg.length()] where seg takes
// name[p, p + seg.length()), or npos. A short run is tried at each place; a
// run of plain bytes is found by the C library's memmem, linear in the name
// and the run (two-way search); any other run by a bit-parallel scan
// (shift-and), a pass over the name at one word of state per 64 elements.
// Steps: the elements tried, the name's bytes looked at (times the words of
// state for a scan), and the making of the scan's tables.
size_t FindSegment(const Compiled& c, const Segment& seg, std::string_view name, size_t from, size_t limit,
                   size_t& steps) {
    const size_t m = seg.length();
    if (from > limit || limit - from < m) return std::string_view::npos;
    const std::string_view hay = name.substr(from, limit - from);
    if (m <= kShortRun) {
        for (size_t at = from; at + m <= limit; ++at)
            if (SegmentAt(c, seg, name, at, steps)) return at;
        return std::string_view::npos;
    }
    if (IsLiteral(c, seg)) {
        std::vector<char> needle(m);
        for (size_t k = 0; k < m; ++k) needle[k] = static_cast<char>(c.elements[seg.begin + k].byte);
        steps += hay.size() + m;
        const void* hit = memmem(hay.data(), hay.size(), needle.data(), m);
        return hit ? from + static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
    }
    // masks[ch] has bit k set when element k of the run takes ch; state bit
    // k is set when the run's first k + 1 elements take the bytes ending at
    // the current one.
    const size_t words = (m + 63) / 64;
    std::vector<uint64_t> masks(256 * words, 0);
    std::vector<uint64_t> any(words, 0);  // elements that take every byte
    for (size_t k = 0; k < m; ++k) {
        const Element& e = c.elements[seg.begin + k];
        const uint64_t bit = uint64_t{1} << (k & 63);
        const size_t w = k >> 6;
        ++steps;
        switch (e.kind) {
        case Element::kAny: any[w] |= bit; break;
        case Element::kDigit:
            for (unsigned ch = '0'; ch <= '9'; ++ch) masks[ch * words + w] |= bit;
            break;
        case Element::kSet:
            steps += 256;
            for (unsigned ch = 0; ch < 256; ++ch)
                if (Takes(c, e, static_cast<char>(ch))) masks[ch * words + w] |= bit;
            break;
        default: masks[e.byte * words + w] |= bit; break;
        }
    }
    for (unsigned ch = 0; ch < 256; ++ch)
        for (size_t w = 0; w < words; ++w) masks[ch * words + w] |= any[w];
    steps += 256 * words;
    std::vector<uint64_t> state(words, 0);
    const uint64_t last = uint64_t{1} << ((m - 1) & 63);
    for (size_t i = 0; i < hay.size(); ++i) {
        const uint64_t* mask = &masks[static_cast<unsigned char>(hay[i]) * words];
        uint64_t carry = 1;
        for (size_t w = 0; w < words; ++w) {
            const uint64_t next = state[w] >> 63;
            state[w] = ((state[w] << 1) | carry) & mask[w];
            carry = next;
        }
        steps += words;
        if (state[words - 1] & last) return from + i + 1 - m;
    }
    return std::string_view::npos;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, size_t* stepsOut) {
    // Every element but "*" takes exactly one character. So the part before
    // the first star is a prefix of the name and the part after the last
    // star its suffix, and each part between stars may take its leftmost
    // place after the one before: a later place leaves less room for the
    // rest and gains nothing. Each part is found by one search from where
    // the one before it ended (FindSegment), linear in the name.
    size_t steps = pattern.size();
    struct Report {
        size_t& steps;
        size_t* out;
        ~Report() {
            if (out) *out = steps;
        }
    } report{steps, stepsOut};
    const Compiled c = Compile(pattern);
    const size_t count = c.elements.size();
    const Segment head = ReadSegment(c, 0);
    if (head.end == count) return head.length() == name.size() && SegmentAt(c, head, name, 0, steps);
    size_t lastStar = head.end;
    for (size_t i = head.end; i < count; ++i)
        if (c.elements[i].kind == Element::kStar) lastStar = i;
    const Segment tail{lastStar + 1, count};
    if (head.length() + tail.length() > name.size()) return false;
    const size_t limit = name.size() - tail.length();
    if (!SegmentAt(c, head, name, 0, steps) || !SegmentAt(c, tail, name, limit, steps)) return false;
    size_t at = head.length();
    for (size_t i = head.end; i < lastStar;) {
        if (c.elements[i].kind == Element::kStar) {
            ++i;
            continue;
        }
        const Segment seg = ReadSegment(c, i);
        i = seg.end;
        at = FindSegment(c, seg, name, at, limit, steps);
        if (at == std::string_view::npos) return false;
        at += seg.length();
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
