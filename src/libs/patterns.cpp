// The pattern matcher: one recursive routine on the pattern and subject
// positions. Single items without a quantifier loop in place; only
// captures, "?" and the expansions recurse, and that depth is bounded.
#include "libs/patterns.h"

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

bool MatchClass(uchar c, uchar cl) {
    uint16_t bit;
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

// p is at "[", last at the closing "]".
bool MatchSet(uchar c, const uchar* p, const uchar* last) {
    bool in = true;
    if (p[1] == '^') {
        in = false;
        ++p;
    }
    while (++p < last) {
        if (*p == '%') {
            ++p;
            if (MatchClass(c, *p)) return in;
        } else if (p[1] == '-' && p + 2 < last) {
            if (p[0] <= c && c <= p[2]) return in;
            p += 2;
        } else if (*p == c) {
            return in;
        }
    }
    return !in;
}

// The end of the single item at p.
const uchar* ItemEnd(const qbMatchState& ms, const uchar* p) {
    const uchar c = *p++;
    if (c == '%') {
        if (p >= ms.patEnd) throw PatternError{ERR_MALFORMPAT1};
        return p + 1;
    }
    if (c == '[') {
        if (p < ms.patEnd && *p == '^') ++p;
        // The first byte belongs to the set even when it is "]".
        for (;;) {
            if (p >= ms.patEnd) throw PatternError{ERR_MALFORMPAT2};
            if (*p++ == '%' && p < ms.patEnd) ++p;
            if (p >= ms.patEnd) throw PatternError{ERR_MALFORMPAT2};
            if (*p == ']') return p + 1;
        }
    }
    return p;
}

inline bool SingleMatch(uchar c, const uchar* p, const uchar* ep) {
    switch (*p) {
    case '.': return true;
    case '%': return MatchClass(c, p[1]);
    case '[': return MatchSet(c, p, ep - 1);
    default: return *p == c;
    }
}

const uchar* Match(qbMatchState& ms, const uchar* s, const uchar* p);

// Every pattern item and every byte an expansion scans costs one step.
inline void Spend(qbMatchState& ms, uint64_t steps) {
    if (ms.budget < steps) throw PatternError{ERR_STACK};
    ms.budget -= steps;
}

struct DepthGuard {
    explicit DepthGuard(qbMatchState& m) : ms(m) {
        if (++ms.depth > kMaxMatchDepth) throw PatternError{ERR_STACK};
    }
    ~DepthGuard() { --ms.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    qbMatchState& ms;
};

const uchar* MaxExpand(qbMatchState& ms, const uchar* s, const uchar* p, const uchar* ep) {
    ptrdiff_t i = 0;
    while (s + i < ms.srcEnd && SingleMatch(s[i], p, ep)) ++i;
    Spend(ms, static_cast<uint64_t>(i));
    for (; i >= 0; --i)
        if (const uchar* r = Match(ms, s + i, ep + 1)) return r;
    return nullptr;
}

const uchar* MinExpand(qbMatchState& ms, const uchar* s, const uchar* p, const uchar* ep) {
    for (;;) {
        if (const uchar* r = Match(ms, s, ep + 1)) return r;
        if (s < ms.srcEnd && SingleMatch(*s, p, ep))
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
                const uchar* ep = ItemEnd(ms, p);
                const uchar prev = s == ms.srcInit ? 0 : s[-1];
                const uchar cur = s < ms.srcEnd ? *s : 0;
                if (MatchSet(prev, p, ep - 1) || !MatchSet(cur, p, ep - 1)) return nullptr;
                p = ep;
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
        const uchar* ep = ItemEnd(ms, p);
        const bool m = s < ms.srcEnd && SingleMatch(*s, p, ep);
        if (ep < ms.patEnd) {
            switch (*ep) {
            case '?':
                if (m)
                    if (const uchar* r = Match(ms, s + 1, ep + 1)) return r;
                p = ep + 1;
                continue;
            case '*': return MaxExpand(ms, s, p, ep);
            case '+': return m ? MaxExpand(ms, s + 1, p, ep) : nullptr;
            case '-': return MinExpand(ms, s, p, ep);
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
}

// What every match must begin with, when the pattern says so: a first item
// (after opening captures) that needs one byte. An unanchored search then
// skips the places where that byte can't be, without starting the matcher
// there; those are places where the matcher would fail at once and raise
// nothing, so the answers stay the same.
struct FirstItem {
    const uchar* p = nullptr;  // null: no filter
    const uchar* ep = nullptr;
    int literal = -1;  // the one byte it must be, when it is one
};

FirstItem FindFirstItem(const qbMatchState& ms, const uchar* p) {
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
            f.p = p;
            return f;
        }
        if (p[1] == 'f' || (p[1] >= '0' && p[1] <= '9')) return f;
        break;
    default: break;
    }
    const uchar* ep;
    try {
        ep = ItemEnd(ms, p);
    } catch (const PatternError&) {
        return f;
    }
    if (ep < ms.patEnd && (*ep == '*' || *ep == '-' || *ep == '?')) return f;
    f.p = p;
    f.ep = ep;
    if (*p != '.' && *p != '%' && *p != '[') f.literal = *p;
    return f;
}

// The first place from s on where a match may begin (end when none).
const uchar* NextCandidate(const FirstItem& f, const uchar* s, const uchar* end) {
    if (f.literal >= 0) {
        const void* hit = std::memchr(s, f.literal, static_cast<size_t>(end - s));
        return hit ? static_cast<const uchar*>(hit) : end;
    }
    while (s < end && !SingleMatch(*s, f.p, f.ep)) ++s;
    return s;
}

}  // namespace

int PatternFind(qbMatchState& ms, const char* subject, size_t len, const char* pattern, size_t patLen, size_t init,
                bool honourAnchor, size_t* start, size_t* end) {
    const uchar* p = reinterpret_cast<const uchar*>(pattern);
    Prepare(ms, subject, len, p + patLen);
    if (ms.budget == kSubjectMatchSteps) ms.budget = MatchBudgetFor(len);
    const bool anchor = honourAnchor && patLen > 0 && *p == '^';
    if (anchor) ++p;
    if (init > len) return 0;
    const uchar* s = ms.srcInit + init;
    const FirstItem first = anchor ? FirstItem{} : FindFirstItem(ms, p);
    try {
        do {
            if (first.p) {
                s = NextCandidate(first, s, ms.srcEnd);
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
    ms.budget = budget == kSubjectMatchSteps ? MatchBudgetFor(len) : budget;
    const uchar* p = reinterpret_cast<const uchar*>(pattern);
    Prepare(ms, subject, len, p + patLen);
    const bool anchor = patLen > 0 && *p == '^';
    if (anchor) ++p;
    const uchar* s = ms.srcInit;
    const FirstItem first = anchor ? FirstItem{} : FindFirstItem(ms, p);
    long long n = 0;
    try {
        while (n < max) {
            if (first.p) {
                const uchar* next = NextCandidate(first, s, ms.srcEnd);
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
