// The string library's slicing, joining and byte-level commands. Strings are
// byte strings: every command here keeps zero bytes as they are.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "libs/stringinternal.h"
#include "libs/stringlib.h"

namespace {

template <const unsigned char* Table>
int Fold(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string_view s = StringArg(L, 1);
    std::string out(s.size(), '\0');
    for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(Table[static_cast<unsigned char>(s[i])]);
    return PushText(L, out);
}

// A clamp of a count to the length; negatives are the callers' business.
size_t Clamp(int64_t n, size_t length) { return n <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), length); }

// Runs a builder that may run out of memory; 0 or ERR_MEM.
template <typename Fn>
int Guarded(Fn fn) {
    try {
        fn();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    return 0;
}

}  // namespace

int cmdLowerStr(ScriptState* L) { return Fold<kLowerCaseTable>(L); }
int cmdUpperStr(ScriptState* L) { return Fold<kUpperCaseTable>(L); }

int cmdUnrightStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const int64_t n = IntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    return PushText(L, s.substr(Clamp(n, s.size())));
}

int cmdUnleftStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const int64_t n = IntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    return PushText(L, s.substr(0, s.size() - Clamp(n, s.size())));
}

int cmdChr(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int64_t code = IntArg(L, 1);
    if (code < 0 || code > 255) return ERR_WRONGUSAGE;
    const char c = static_cast<char>(code);
    return PushText(L, std::string_view(&c, code ? 1 : 0));
}

int cmdMidStr(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const std::string_view s = StringArg(L, 1);
    // A position before the string counts from its start.
    const size_t pos = Clamp(IntArg(L, 2), s.size());
    const int64_t len = OptIntArg(L, 3, -1);
    if (len == 0 || pos >= s.size()) return PushText(L, {});
    return PushText(L, len < 0 ? s.substr(pos) : s.substr(pos, static_cast<size_t>(len)));
}

int cmdRightStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const size_t n = Clamp(IntArg(L, 2), s.size());
    return PushText(L, s.substr(s.size() - n));
}

int cmdLeftStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    return PushText(L, s.substr(0, Clamp(IntArg(L, 2), s.size())));
}

int cmdAddStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view a = StringArg(L, 1), b = StringArg(L, 2);
    if (a.size() + static_cast<uint64_t>(b.size()) > kMaxStringLength) return ERR_MEM;
    std::string out;
    if (int err = Guarded([&] {
            out.reserve(a.size() + b.size());
            out.append(a).append(b);
        }))
        return err;
    return PushText(L, out);
}

int cmdAsc(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string_view s = StringArg(L, 1);
    VmPushNumber(L, s.empty() ? 0 : static_cast<unsigned char>(s[0]));
    return 1;
}

int cmdStrLen(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmPushNumber(L, static_cast<double>(StringArg(L, 1).size()));
    return 1;
}

int cmdSplitStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1), sep = StringArg(L, 2);
    if (sep.size() != 1) return ERR_WRONGUSAGE;
    VmPushNewTable(L);
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep[0], start);
        const size_t end = at == std::string_view::npos ? s.size() : at;
        VmPushLString(L, s.data() + start, end - start);
        VmRawSetIndex(L, -2, count++);
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    VmPushNumber(L, count);
    return 2;
}

int cmdStrToArray(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string_view s = StringArg(L, 1);
    // As MemToTable: a table of more bytes would take gigabytes.
    if (s.size() >= (size_t{1} << 26)) return ERR_MEM;
    VmPushNewTableSized(L, static_cast<int>(s.size()) + 1, 0);
    for (size_t i = 0; i < s.size(); ++i) {
        VmPushNumber(L, static_cast<unsigned char>(s[i]));
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    VmPushNumber(L, 0);
    VmRawSetIndex(L, -2, static_cast<int>(s.size()));
    return 1;
}

int cmdArrayToStr(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    std::string out;
    for (int i = 0; i < INT32_MAX; ++i) {
        VmRawGetIndex(L, 1, i);
        const bool isNumber = VmType(L, -1) == kTypeNumber;
        const double v = VmToNumber(L, -1);
        VmSetTop(L, -2);
        if (!isNumber || v == 0) break;
        out += static_cast<char>(ClampToInt32(v) & 0xFF);
    }
    return PushText(L, out);
}

int cmdTrimStr(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const std::string_view s = StringArg(L, 1), c = StringArg(L, 2);
    const bool fromRight = GetFlagArg(L, 3, false);
    if (c.size() != 1) return ERR_WRONGUSAGE;
    if (fromRight) {
        const size_t last = s.find_last_not_of(c[0]);
        return PushText(L, last == std::string_view::npos ? std::string_view{} : s.substr(0, last + 1));
    }
    const size_t first = s.find_first_not_of(c[0]);
    return PushText(L, first == std::string_view::npos ? std::string_view{} : s.substr(first));
}

int cmdUnmidStr(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const int64_t pos = IntArg(L, 2), len = IntArg(L, 3);
    if (pos < 0 || len < 0) return ERR_WRONGUSAGE;
    if (len == 0 || static_cast<uint64_t>(pos) >= s.size()) return PushText(L, s);
    const size_t from = static_cast<size_t>(pos);
    const size_t to = from + Clamp(len, s.size() - from);
    std::string out;
    if (int err = Guarded([&] { out.append(s.substr(0, from)).append(s.substr(to)); })) return err;
    return PushText(L, out);
}

int cmdInsertStr(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const std::string_view s = StringArg(L, 1), ins = StringArg(L, 2);
    const int64_t pos = IntArg(L, 3);
    const bool overwrite = GetFlagArg(L, 4, false);
    if (pos < 0) return ERR_WRONGUSAGE;
    if (s.empty()) return PushText(L, ins);
    if (ins.empty()) return PushText(L, s);
    const size_t at = Clamp(pos, s.size());
    const size_t tail = overwrite ? std::min(s.size(), at + ins.size()) : at;
    const uint64_t total = uint64_t{at} + ins.size() + (s.size() - tail);
    if (total > kMaxStringLength) return ERR_MEM;
    std::string out;
    if (int err = Guarded([&] {
            out.reserve(static_cast<size_t>(total));
            out.append(s.substr(0, at)).append(ins).append(s.substr(tail));
        }))
        return err;
    return PushText(L, out);
}

int cmdRepeatStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const int64_t n = IntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    const uint64_t total = static_cast<uint64_t>(n) * s.size();
    if (total > kMaxStringLength) return ERR_MEM;
    if (total == 0) return PushText(L, {});
    std::string out;
    if (int err = Guarded([&] {
            out.reserve(static_cast<size_t>(total));
            out.append(s);
            // Doubling: each append copies what is already there.
            while (out.size() < total) out.append(out, 0, std::min<size_t>(out.size(), total - out.size()));
        }))
        return err;
    return PushText(L, out);
}
