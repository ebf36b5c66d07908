// The pattern matcher: one recursive routine on the pattern and subject
// positions. Single items without a quantifier loop in place; only
// captures, "?" and the expansions recurse, and that depth is bounded.
#include "libs/patterns.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/errcodes.h"

namespace {

// Byte classes of the "C" locale, which the player runs in, so bytes 128-255
// are in none of them; letters ("a", "w") follow the runtime's ISO 8859-1
// letter test instead, which takes in the accented letters.
enum : uint16_t {
    kAlpha = 1,
    kCntrl = 2,
    kDigit = 4,
    kLower = 8,
    kPunct = 16,
    kSpace = 32,
    kUpper = 64,
    kAlnum = 128,
    kXDigit = 256,
};

constexpr bool IsLatin1Letter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

constexpr std::array<uint16_t, 256> MakeClassTable() {
    std::array<uint16_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        uint16_t bits = 0;
        const bool digit = c >= '0' && c <= '9';
        if (IsLatin1Letter(c)) bits |= kAlpha;
        if (c < 32 || c == 127) bits |= kCntrl;
        if (digit) bits |= kDigit;
        if (c >= 'a' && c <= 'z') bits |= kLower;
        if (c >= 'A' && c <= 'Z') bits |= kUpper;
        if (c > 32 && c < 127 && !digit && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z')) bits |= kPunct;
        if (c == ' ' || (c >= 9 && c <= 13)) bits |= kSpace;
        if (IsLatin1Letter(c) || digit) bits |= kAlnum;
        if (digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) bits |= kXDigit;
        t[static_cast<size_t>(c)] = bits;
    }
    return t;
}
constexpr std::array<uint16_t, 256> kClassTable = MakeClassTable();

struct PatternError {
    int code;
};

using uchar = unsigned char;

constexpr bool MatchClass(uchar c, uchar cl) {
    uint16_t bit = 0;
    switch (cl | 0x20) {
    case 'a': bit = kAlpha; break;
    case 'c': bit = kCntrl; break;
    case 'd': bit = kDigit; break;
    case 'l': bit = kLower; break;
    case 'p': bit = kPunct; break;
    case 's': bit = kSpace; break;
    case 'u': bit = kUpper; break;
    case 'w': bit = kAlnum; break;
    case 'x': bit = kXDigit; break;
    case 'z': return (cl == 'z') == (c == 0);
    default: return cl == c;
    }
    const bool in = (kClassTable[c] & bit) != 0;
    return (cl >= 'A' && cl <= 'Z') ? !in : in;
}

// The bytes each "%" escape takes, so that a class inside a set costs four
// words, not a test of every byte.
using ByteBits = std::array<uint64_t, 4>;
constexpr std::array<ByteBits, 256> MakeClassBits() {
    std::array<ByteBits, 256> t{};
    for (int cl = 0; cl < 256; ++cl) {
        // Any byte but a class letter stands for itself.
        const int letter = cl | 0x20;
        const bool isClass = letter == 'a' || letter == 'c' || letter == 'd' || letter == 'l' || letter == 'p' ||
                             letter == 's' || letter == 'u' || letter == 'w' || letter == 'x' || letter == 'z';
        for (int c = isClass ? 0 : cl; c < (isClass ? 256 : cl + 1); ++c)
            if (MatchClass(static_cast<uchar>(c), static_cast<uchar>(cl)))
                t[static_cast<size_t>(cl)][static_cast<size_t>(c >> 6)] |= uint64_t{1} << (c & 63);
    }
    return t;
}
constexpr std::array<ByteBits, 256> kClassBits = MakeClassBits();

void AddRange(qbPatternSet& set, uchar lo, uchar hi) {
    for (int w = 0; w < 4; ++w) {
        const int from = std::max<int>(lo, w * 64), to = std::min<int>(hi, w * 64 + 63);
        if (from > to) continue;
        const int n = to - from + 1;
        const uint64_t run = n == 64 ? ~uint64_t{0} : ((uint64_t{1} << n) - 1);
        set.bits[w] |= run << (from - w * 64);
    }
}

inline bool InSet(const qbPatternSet& set, uchar c) { return (set.bits[c >> 6] >> (c & 63)) & 1; }

// Every pattern item, every byte an expansion scans and every test of a set
// costs one step.
inline void Spend(qbMatchState& ms, uint64_t steps) {
    if (ms.budget < steps) throw PatternError{ERR_STACK};
    ms.budget -= steps;
}

// The set whose "[" is at p, read the first time the search meets it: the
// read costs its length once, and every test after it one lookup.
const qbPatternSet& SetAt(qbMatchState& ms, const uchar* p) {
    if (auto found = ms.sets.find(p); found != ms.sets.end()) return found->second;
    const uchar* q = p + 1;
    if (q < ms.patEnd && *q == '^') ++q;
    // The first byte belongs to the set even when it is "]".
    for (;;) {
        if (q >= ms.patEnd) throw PatternError{ERR_MALFORMPAT2};
        if (*q++ == '%' && q < ms.patEnd) ++q;
        if (q >= ms.patEnd) throw PatternError{ERR_MALFORMPAT2};
        if (*q == ']') break;
    }
    const uchar* const last = q;
    Spend(ms, static_cast<uint64_t>(last + 1 - p));
    qbPatternSet set;
    set.end = last + 1;
    bool in = true;
    q = p;
    if (q[1] == '^') {
        in = false;
        ++q;
    }
    while (++q < last) {
        if (*q == '%') {
            ++q;
            for (int w = 0; w < 4; ++w) set.bits[w] |= kClassBits[*q][static_cast<size_t>(w)];
        } else if (q[1] == '-' && q + 2 < last) {
            if (q[0] <= q[2]) AddRange(set, q[0], q[2]);
            q += 2;
        } else {
            AddRange(set, *q, *q);
        }
    }
    if (!in)
        for (uint64_t& w : set.bits) w = ~w;
    return ms.sets.emplace(p, set).first->second;
}

// One single item of the pattern as the matcher tests it.
struct Item {
    const uchar* p = nullptr;   // its first byte
    const uchar* ep = nullptr;  // past it
    const qbPatternSet* set = nullptr;
};

inline Item ReadItem(qbMatchState& ms, const uchar* p) {
    Item it;
    it.p = p;
    if (*p == '%') {
        if (p + 1 >= ms.patEnd) throw PatternError{ERR_MALFORMPAT1};
        it.ep = p + 2;
    } else if (*p == '[') {
        it.set = &SetAt(ms, p);
        it.ep = it.set->end;
    } else {
        it.ep = p + 1;
    }
    return it;
}

inline bool SingleMatch(uchar c, const Item& it) {
    switch (*it.p) {
    case '.': return true;
    case '%': return MatchClass(c, it.p[1]);
    case '[': return InSet(*it.set, c);
    default: return *it.p == c;
    }
}

const uchar* Match(qbMatchState& ms, const uchar* s, const uchar* p);

struct DepthGuard {
    explicit DepthGuard(qbMatchState& m) : ms(m) {
        if (++ms.depth > kMaxMatchDepth) throw PatternError{ERR_STACK};
    }
    ~DepthGuard() { --ms.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    qbMatchState& ms;
};

const uchar* MaxExpand(qbMatchState& ms, const uchar* s, const Item& it) {
    ptrdiff_t i = 0;
    while (s + i < ms.srcEnd && SingleMatch(s[i], it)) ++i;
    Spend(ms, static_cast<uint64_t>(i));
    for (; i >= 0; --i)
        if (const uchar* r = Match(ms, s + i, it.ep + 1)) return r;
    return nullptr;
}

// Each try of the rest pays its step, which covers the test of the item.
const uchar* MinExpand(qbMatchState& ms, const uchar* s, const Item& it) {
    for (;;) {
        if (const uchar* r = Match(ms, s, it.ep + 1)) return r;
        if (s < ms.srcEnd && SingleMatch(*s, it))
            ++s;
        else
            return nullptr;
    }
}

const uchar* StartCapture(qbMatchState& ms, const uchar* s, const uchar* p, ptrdiff_t what) {
    if (ms.level >= kMaxPatternCaptures) throw PatternError{ERR_TOOMANYCAPTURES};
    ms.capture[ms.level] = {s, what};
    ++ms.level;
    const uchar* r = Match(ms, s, p);
    if (!r) --ms.level;
    return r;
}

const uchar* EndCapture(qbMatchState& ms, const uchar* s, const uchar* p) {
    int l = ms.level - 1;
    while (l >= 0 && ms.capture[l].len != kCaptureUnfinished) --l;
    if (l < 0) throw PatternError{ERR_INVPATCAP};
    ms.capture[l].len = s - ms.capture[l].init;
    const uchar* r = Match(ms, s, p);
    if (!r) ms.capture[l].len = kCaptureUnfinished;
    return r;
}

// The bytes a balance scans and a back reference compares are steps too:
// tried at every start place they would otherwise cost the subject squared.
const uchar* MatchBalance(qbMatchState& ms, const uchar* s, const uchar* p) {
    if (p + 1 >= ms.patEnd) throw PatternError{ERR_UNBALANCEDPAT};
    if (s >= ms.srcEnd || *s != p[0]) return nullptr;
    const uchar open = p[0], close = p[1];
    const uchar* const from = s;
    int depth = 1;
    while (++s < ms.srcEnd) {
        if (*s == close) {
            if (--depth == 0) {
                Spend(ms, static_cast<uint64_t>(s - from));
                return s + 1;
            }
        } else if (*s == open) {
            ++depth;
        }
    }
    Spend(ms, static_cast<uint64_t>(s - from));
    return nullptr;
}

const uchar* MatchBackReference(qbMatchState& ms, const uchar* s, uchar digit) {
    const int l = digit - '1';
    if (l < 0 || l >= ms.level || ms.capture[l].len == kCaptureUnfinished) throw PatternError{ERR_INVCAPIDX};
    const ptrdiff_t len = ms.capture[l].len;
    // A position capture has no text to repeat.
    if (len < 0) return nullptr;
    Spend(ms, static_cast<uint64_t>(len));
    if (ms.srcEnd - s >= len && std::memcmp(ms.capture[l].init, s, static_cast<size_t>(len)) == 0) return s + len;
    return nullptr;
}

const uchar* Match(qbMatchState& ms, const uchar* s, const uchar* p) {
    DepthGuard guard(ms);
    for (;;) {
        Spend(ms, 1);
        if (p == ms.patEnd) return s;
        switch (*p) {
        case '(':
            if (p + 1 < ms.patEnd && p[1] == ')') return StartCapture(ms, s, p + 2, kCapturePosition);
            return StartCapture(ms, s, p + 1, kCaptureUnfinished);
        case ')': return EndCapture(ms, s, p + 1);
        case '$':
            if (p + 1 == ms.patEnd) return s == ms.srcEnd ? s : nullptr;
            break;
        case '%':
            if (p + 1 >= ms.patEnd) break;
            if (p[1] == 'b') {
                s = MatchBalance(ms, s, p + 2);
                if (!s) return nullptr;
                p += 4;
                continue;
            }
            if (p[1] == 'f') {
                p += 2;
                if (p >= ms.patEnd || *p != '[') throw PatternError{ERR_MISSINGOPBRACK};
                const Item set = ReadItem(ms, p);
                Spend(ms, 2);
                const uchar prev = s == ms.srcInit ? 0 : s[-1];
                const uchar cur = s < ms.srcEnd ? *s : 0;
                if (SingleMatch(prev, set) || !SingleMatch(cur, set)) return nullptr;
                p = set.ep;
                continue;
            }
            if (p[1] >= '0' && p[1] <= '9') {
                s = MatchBackReference(ms, s, p[1]);
                if (!s) return nullptr;
                p += 2;
                continue;
            }
            break;
        default: break;
        }
        const Item it = ReadItem(ms, p);
        const bool m = s < ms.srcEnd && SingleMatch(*s, it);
        const uchar* const ep = it.ep;
        if (ep < ms.patEnd) {
            switch (*ep) {
            case '?':
                if (m)
                    if (const uchar* r = Match(ms, s + 1, ep + 1)) return r;
                p = ep + 1;
                continue;
            case '*': return MaxExpand(ms, s, it);
            case '+': return m ? MaxExpand(ms, s + 1, it) : nullptr;
            case '-': return MinExpand(ms, s, it);
            default: break;
            }
        }
        if (!m) return nullptr;
        ++s;
        p = ep;
    }
}

void Prepare(qbMatchState& ms, const char* subject, size_t len, const uchar* patEnd) {
    ms.srcInit = reinterpret_cast<const uchar*>(subject);
    ms.srcEnd = ms.srcInit + len;
    ms.patEnd = patEnd;
    ms.sets.clear();
}

// What every match must begin with, when the pattern says so: a first item
// (after opening captures) that needs one byte. An unanchored search then
// skips the places where that byte can't be, without starting the matcher
// there; those are places where the matcher would fail at once and raise
// nothing, so the answers stay the same.
struct FirstItem {
    bool filter = false;
    Item item;
    int literal = -1;  // the one byte it must be, when it is one
};

FirstItem FindFirstItem(qbMatchState& ms, const uchar* p) {
    FirstItem f;
    int captures = 0;
    while (p < ms.patEnd && *p == '(') {
        p += (p + 1 < ms.patEnd && p[1] == ')') ? 2 : 1;
        ++captures;
    }
    // Too many captures raise wherever the match starts.
    if (p >= ms.patEnd || captures > kMaxPatternCaptures) return f;
    switch (*p) {
    case ')':
    case '^': return f;
    case '$':
        if (p + 1 == ms.patEnd) return f;
        break;
    case '%':
        if (p + 1 >= ms.patEnd) return f;
        if (p[1] == 'b') {
            if (p + 3 >= ms.patEnd) return f;
            f.literal = p[2];
            f.filter = true;
            return f;
        }
        if (p[1] == 'f' || (p[1] >= '0' && p[1] <= '9')) return f;
        break;
    default: break;
    }
    // A malformed item is the matcher's to raise, where it meets it; a spent
    // budget ends the search here.
    try {
        f.item = ReadItem(ms, p);
    } catch (const PatternError& e) {
        if (e.code == ERR_STACK) throw;
        return f;
    }
    const uchar* ep = f.item.ep;
    if (ep < ms.patEnd && (*ep == '*' || *ep == '-' || *ep == '?')) return f;
    f.filter = true;
    if (*p != '.' && *p != '%' && *p != '[') f.literal = *p;
    return f;
}

// The first place from s on where a match may begin (end when none). The
// scan is charged as the tests it makes, so that a place the matcher never
// starts at is not free.
const uchar* NextCandidate(qbMatchState& ms, const FirstItem& f, const uchar* s, const uchar* end) {
    const uchar* next;
    if (f.literal >= 0) {
        const void* hit = std::memchr(s, f.literal, static_cast<size_t>(end - s));
        next = hit ? static_cast<const uchar*>(hit) : end;
    } else {
        next = s;
        while (next < end && !SingleMatch(*next, f.item)) ++next;
    }
    Spend(ms, static_cast<uint64_t>(next - s));
    return next;
}

}  // namespace

namespace {

// Past the set whose "[" is at i, read as SetAt reads it; n when unclosed.
size_t SetEnd(const char* p, size_t n, size_t i) {
    size_t q = i + 1;
    if (q < n && p[q] == '^') ++q;
    for (;;) {
        if (q >= n) return n;
        if (p[q++] == '%' && q < n) ++q;
        if (q >= n) return n;
        if (p[q] == ']') return q + 1;
    }
}

}  // namespace

size_t CountPatternItems(const char* pattern, size_t patLen) {
    size_t items = 0;
    for (size_t i = 0; i < patLen;) {
        ++items;
        if (pattern[i] == '[') {
            i = SetEnd(pattern, patLen, i);
        } else if (pattern[i] == '%' && i + 1 < patLen && pattern[i + 1] == 'b') {
            i += 4;
        } else if (pattern[i] == '%' && i + 1 < patLen && pattern[i + 1] == 'f') {
            i += 2;
            if (i < patLen && pattern[i] == '[') i = SetEnd(pattern, patLen, i);
        } else {
            i += pattern[i] == '%' ? 2 : 1;
        }
        if (i < patLen && (pattern[i] == '*' || pattern[i] == '+' || pattern[i] == '-' || pattern[i] == '?')) ++i;
    }
    return items;
}

uint64_t PatternBudget(size_t subjectBytes, const char* pattern, size_t patLen) {
    return MatchBudgetFor(subjectBytes, CountPatternItems(pattern, patLen), patLen);
}

int PatternFind(qbMatchState& ms, const char* subject, size_t len, const char* pattern, size_t patLen, size_t init,
                bool honourAnchor, size_t* start, size_t* end) {
    const uchar* p = reinterpret_cast<const uchar*>(pattern);
    Prepare(ms, subject, len, p + patLen);
    if (ms.budget == kSubjectMatchSteps) ms.budget = PatternBudget(init < len ? len - init : 0, pattern, patLen);
    const bool anchor = honourAnchor && patLen > 0 && *p == '^';
    if (anchor) ++p;
    if (init > len) return 0;
    const uchar* s = ms.srcInit + init;
    try {
        const FirstItem first = anchor ? FirstItem{} : FindFirstItem(ms, p);
        do {
            if (first.filter) {
                s = NextCandidate(ms, first, s, ms.srcEnd);
                if (s == ms.srcEnd) break;
            }
            ms.level = 0;
            ms.depth = 0;
            if (const uchar* e = Match(ms, s, p)) {
                *start = static_cast<size_t>(s - ms.srcInit);
                *end = static_cast<size_t>(e - ms.srcInit);
                return 1;
            }
        } while (s++ < ms.srcEnd && !anchor);
    } catch (const PatternError& e) {
        return e.code;
    }
    return 0;
}

int GetPatternCapture(const qbMatchState& ms, int i, const unsigned char* s, const unsigned char* e,
                      qbCaptureValue& out) {
    out = {};
    if (i >= ms.level) {
        if (i != 0) return ERR_INVCAPIDX;
        out.text = s;
        out.len = static_cast<size_t>(e - s);
        return 0;
    }
    const qbPatternCapture& c = ms.capture[i];
    if (c.len == kCaptureUnfinished) return ERR_UNFINISHEDCAPTURE;
    if (c.len == kCapturePosition) {
        out.isPosition = true;
        out.position = static_cast<size_t>(c.init - ms.srcInit) + 1;
        return 0;
    }
    out.text = c.init;
    out.len = static_cast<size_t>(c.len);
    return 0;
}

void AppendCaptureText(std::string& out, const qbCaptureValue& v) {
    if (v.isPosition) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%zu", v.position);
        out += buf;
    } else {
        out.append(reinterpret_cast<const char*>(v.text), v.len);
    }
}

int AppendStringReplacement(const qbMatchState& ms, const unsigned char* s, const unsigned char* e, const char* repl,
                            size_t replLen, std::string& out) {
    for (size_t i = 0; i < replLen; ++i) {
        const char c = repl[i];
        if (c != '%' || i + 1 == replLen) {
            out.push_back(c);
            continue;
        }
        const char d = repl[++i];
        if (d < '0' || d > '9') {
            out.push_back(d);
            continue;
        }
        const int index = d - '1';
        if (index < 0 || index >= ms.level) return ERR_INVCAPIDX;
        qbCaptureValue v;
        if (int err = GetPatternCapture(ms, index, s, e, v)) return err;
        AppendCaptureText(out, v);
    }
    return 0;
}

int PatternReplace(const char* subject, size_t len, const char* pattern, size_t patLen, long long max,
                   PatternReplaceFn fn, void* data, std::string& out, long long* count, uint64_t budget) {
    qbMatchState ms;
    ms.budget = budget == kSubjectMatchSteps ? PatternBudget(len, pattern, patLen) : budget;
    const uchar* p = reinterpret_cast<const uchar*>(pattern);
    Prepare(ms, subject, len, p + patLen);
    const bool anchor = patLen > 0 && *p == '^';
    if (anchor) ++p;
    const uchar* s = ms.srcInit;
    long long n = 0;
    try {
        const FirstItem first = anchor ? FirstItem{} : FindFirstItem(ms, p);
        while (n < max) {
            if (first.filter) {
                const uchar* next = NextCandidate(ms, first, s, ms.srcEnd);
                out.append(reinterpret_cast<const char*>(s), static_cast<size_t>(next - s));
                s = next;
                if (s == ms.srcEnd) break;
            }
            ms.level = 0;
            ms.depth = 0;
            const uchar* e = Match(ms, s, p);
            if (e) {
                ++n;
                if (int err = fn(data, ms, s, e, out)) return err;
            }
            if (e && e > s)
                s = e;
            else if (s < ms.srcEnd)
                out.push_back(static_cast<char>(*s++));
            else
                break;
            if (anchor) break;
        }
    } catch (const PatternError& e) {
        return e.code;
    }
    out.append(reinterpret_cast<const char*>(s), static_cast<size_t>(ms.srcEnd - s));
    *count = n;
    return 0;
}
