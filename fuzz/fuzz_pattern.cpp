// Fuzz target of the pattern matcher: a subject, a pattern and a string
// replacement from the input go through a search from every start, an
// iterator's walk and a replacement. Every answer is a match inside the
// subject, no match, or one of the pattern errors; deep patterns stop at
// the recursion limit, and a budget of matcher steps bounds the
// backtracking.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/errcodes.h"
#include "libs/patterns.h"
#include "fuzznote.h"

namespace {

bool KnownError(int code) {
    switch (code) {
    case ERR_STACK:
    case ERR_INVCAPIDX:
    case ERR_INVPATCAP:
    case ERR_MALFORMPAT1:
    case ERR_MALFORMPAT2:
    case ERR_UNBALANCEDPAT:
    case ERR_TOOMANYCAPTURES:
    case ERR_MISSINGOPBRACK:
    case ERR_UNFINISHEDCAPTURE: return true;
    default: return false;
    }
}

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

int CopyCaptures(void*, const qbMatchState& ms, const unsigned char* s, const unsigned char* e, std::string& out) {
    for (int i = 0; i < PatternResultCount(ms); ++i) {
        qbCaptureValue v;
        if (int err = GetPatternCapture(ms, i, s, e, v)) return err;
        AppendCaptureText(out, v);
    }
    return 0;
}

struct Repl {
    const std::string* text;
};

int WithString(void* data, const qbMatchState& ms, const unsigned char* s, const unsigned char* e, std::string& out) {
    const std::string& r = *static_cast<Repl*>(data)->text;
    return AppendStringReplacement(ms, s, e, r.data(), r.size(), out);
}

}  // namespace

// Input: a byte with the pattern's length, one with the replacement's, a
// byte of flags, then the pattern, the replacement and the subject.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t patLen = data[0], replLen = data[1];
    const uint8_t flags = data[2];
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string pattern = rest.substr(0, patLen);
    const std::string repl = rest.size() > patLen ? rest.substr(patLen, replLen) : std::string();
    const std::string subject = rest.size() > patLen + replLen ? rest.substr(patLen + replLen) : std::string();
    // The limit must hold for patterns longer than a length byte says, too.
    const std::string p = (flags & 1) ? pattern + std::string(2000, '?') : pattern;

    // Each search may backtrack exponentially; the budget keeps a run short.
    constexpr uint64_t kBudget = 200000;
    qbMatchState ms;
    ms.budget = kBudget;
    for (size_t init = 0; init <= subject.size(); ++init) {
        size_t start = 0, end = 0;
        const int r = PatternFind(ms, subject.data(), subject.size(), p.data(), p.size(), init, true, &start, &end);
        FuzzNoteValue(r);
        if (r == 1) {
            Check(init <= start && start <= end && end <= subject.size());
            std::string text;
            const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
            const int err = CopyCaptures(nullptr, ms, s + start, s + end, text);
            Check(err == 0 || KnownError(err));
            FuzzNoteValue(static_cast<int64_t>(start));
            FuzzNoteValue(static_cast<int64_t>(end));
            FuzzNoteValue(err);
            FuzzNoteText(text);
        } else {
            Check(r == 0 || KnownError(r));
            if (r) break;
        }
        if (!(flags & 2)) break;
    }

    std::string out;
    long long count = 0;
    Repl rp{&repl};
    const long long max = (flags & 4) ? 1 : static_cast<long long>(subject.size()) + 1;
    int r = PatternReplace(subject.data(), subject.size(), p.data(), p.size(), max, WithString, &rp, out, &count,
                           kBudget);
    Check(r == 0 || KnownError(r));
    if (r == 0) Check(count >= 0 && count <= max);
    FuzzNoteValue(r);
    if (r == 0) {
        FuzzNoteValue(count);
        FuzzNoteText(out);
    }
    out.clear();
    r = PatternReplace(subject.data(), subject.size(), p.data(), p.size(), max, CopyCaptures, nullptr, out, &count,
                       kBudget);
    Check(r == 0 || KnownError(r));
    FuzzNoteValue(r);
    if (r == 0) {
        FuzzNoteValue(count);
        FuzzNoteText(out);
    }
    return 0;
}
