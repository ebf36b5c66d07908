// The string library's substring search: FindStr, CountStr and ReplaceStr,
// with the library's shared argument helpers.
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "libs/stringinternal.h"
#include "libs/stringlib.h"

namespace {

// Knuth-Morris-Pratt on folded bytes from start: the text is read once, the
// needle's table costs its length.
size_t FindFoldedLinear(std::string_view s, std::string_view sub, size_t start) {
    const unsigned char* t = kLowerCaseTable;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* q = reinterpret_cast<const unsigned char*>(sub.data());
    const size_t m = sub.size();
    // border[k]: the length of the longest proper border of the needle's
    // first k + 1 folded bytes.
    std::vector<size_t> border(m);
    for (size_t k = 1, b = 0; k < m; ++k) {
        while (b > 0 && t[q[k]] != t[q[b]]) b = border[b - 1];
        if (t[q[k]] == t[q[b]]) ++b;
        border[k] = b;
    }
    for (size_t i = start, k = 0; i < s.size(); ++i) {
        while (k > 0 && t[p[i]] != t[q[k]]) k = border[k - 1];
        if (t[p[i]] == t[q[k]] && ++k == m) return i + 1 - m;
    }
    return std::string_view::npos;
}

// As the exact search: a run to the needle's first byte and a compare, which
// wins while false starts are cheap; once the bytes they compared outgrow
// the text passed over, the search goes on in linear time.
size_t FindFolded(std::string_view s, std::string_view sub, size_t start) {
    const unsigned char* t = kLowerCaseTable;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* q = reinterpret_cast<const unsigned char*>(sub.data());
    const unsigned char first = t[q[0]];
    const size_t last = s.size() - sub.size();
    size_t compared = 0;
    for (size_t i = start; i <= last; ++i) {
        if (t[p[i]] != first) continue;
        size_t k = 1;
        while (k < sub.size() && t[p[i + k]] == t[q[k]]) ++k;
        if (k == sub.size()) return i;
        compared += k;
        if (compared > 4096 + (i - start)) return FindFoldedLinear(s, sub, i + 1);
    }
    return std::string_view::npos;
}

// memchr runs to the needle's first byte at memory speed, which wins while
// that byte is rare; when it keeps stopping at false starts, the search goes
// on with memmem, whose cost does not depend on the text.
size_t FindExact(std::string_view s, std::string_view sub, size_t start) {
    const char* base = s.data();
    const char* p = base + start;
    const char* const end = base + s.size();
    const char* const lastStart = end - sub.size();
    size_t falseStarts = 0;
    while (p <= lastStart) {
        const void* hit = std::memchr(p, sub[0], static_cast<size_t>(lastStart - p) + 1);
        if (!hit) return std::string_view::npos;
        const char* at = static_cast<const char*>(hit);
        if (std::memcmp(at + 1, sub.data() + 1, sub.size() - 1) == 0) return static_cast<size_t>(at - base);
        p = at + 1;
        if (++falseStarts > 64 && falseStarts * 32 > static_cast<size_t>(p - (base + start))) {
            const void* found = memmem(p, static_cast<size_t>(end - p), sub.data(), sub.size());
            return found ? static_cast<size_t>(static_cast<const char*>(found) - base) : std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

// The shared arguments of FindStr and CountStr: 0 with the search set up, or
// ERR_WRONGUSAGE for a negative start.
struct Search {
    std::string_view s, sub;
    bool caseSensitive = true;
    int64_t start = 0;
};

int ReadSearch(ScriptState* L, Search& search) {
    CheckArgCount(L, 2, 4, 0, 0);
    search.s = StringArg(L, 1);
    search.sub = StringArg(L, 2);
    search.caseSensitive = GetFlagArg(L, 3, true);
    search.start = OptIntArg(L, 4, 0);
    return search.start < 0 ? ERR_WRONGUSAGE : 0;
}

}  // namespace

std::string_view StringArg(ScriptState* L, int idx) {
    size_t length = 0;
    const char* s = VmCheckString(L, idx, &length);
    return {s, length};
}

int64_t IntArg(ScriptState* L, int idx) { return ClampToInt32(VmCheckNumber(L, idx)); }

int64_t OptIntArg(ScriptState* L, int idx, int64_t def) {
    return VmType(L, idx) <= kTypeNil ? def : IntArg(L, idx);
}

int PushText(ScriptState* L, std::string_view text) {
    VmPushLString(L, text.data(), text.size());
    return 1;
}

size_t FindBytes(std::string_view s, std::string_view sub, size_t start, bool caseSensitive) {
    if (sub.empty() || start >= s.size() || sub.size() > s.size() - start) return std::string_view::npos;
    if (!caseSensitive) return FindFolded(s, sub, start);
    return FindExact(s, sub, start);
}

int cmdFindStr(ScriptState* L) {
    Search search;
    if (int err = ReadSearch(L, search)) return err;
    const size_t at = FindBytes(search.s, search.sub, static_cast<size_t>(search.start), search.caseSensitive);
    VmPushNumber(L, at == std::string_view::npos ? -1.0 : static_cast<double>(at));
    return 1;
}

int cmdCountStr(ScriptState* L) {
    Search search;
    if (int err = ReadSearch(L, search)) return err;
    double count = 0;
    size_t at = static_cast<size_t>(search.start);
    while ((at = FindBytes(search.s, search.sub, at, search.caseSensitive)) != std::string_view::npos) {
        ++count;
        at += search.sub.size();
    }
    VmPushNumber(L, count);
    return 1;
}

int cmdReplaceStr(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const std::string_view s = StringArg(L, 1), find = StringArg(L, 2), repl = StringArg(L, 3);
    const bool caseSensitive = GetFlagArg(L, 4, true);
    const int64_t start = OptIntArg(L, 5, 0);
    if (start < 0) return ERR_WRONGUSAGE;
    size_t at = FindBytes(s, find, static_cast<size_t>(start), caseSensitive);
    if (at == std::string_view::npos) return PushText(L, s);
    std::string out;
    try {
        out.reserve(s.size());
        size_t done = 0;
        while (at != std::string_view::npos) {
            out.append(s.data() + done, at - done).append(repl);
            done = at + find.size();
            if (out.size() + (s.size() - done) > kMaxStringLength) return ERR_MEM;
            at = FindBytes(s, find, done, caseSensitive);
        }
        out.append(s.data() + done, s.size() - done);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    return PushText(L, out);
}
