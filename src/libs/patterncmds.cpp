// The four pattern commands of the string library over the matcher:
// positions are 0-based, except position captures, which count from 1.
#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "libs/patterns.h"
#include "libs/stringlib.h"
#include "vm/callgiven.h"

namespace {

// The matcher answers 0 or 1, or an error code, which starts at 1000.
constexpr int kFirstErrorCode = 1000;

const unsigned char* Bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// Pushes captures first to count-1 of the match [s, e); 0 or an error code.
int PushCaptures(ScriptState* L, const qbMatchState& ms, const unsigned char* s, const unsigned char* e, int count) {
    if (!VmCheckStack(L, count + 2)) return ERR_STACK;
    for (int i = 0; i < count; ++i) {
        qbCaptureValue v;
        if (int err = GetPatternCapture(ms, i, s, e, v)) return err;
        if (v.isPosition)
            VmPushNumber(L, static_cast<double>(v.position));
        else
            VmPushLString(L, reinterpret_cast<const char*>(v.text), v.len);
    }
    return 0;
}

// The optional start offset at idx; it must lie within the subject.
bool ReadInit(ScriptState* L, int idx, size_t len, size_t* init) {
    const double n = VmOptNumber(L, idx, 0);
    if (!(n >= 0) || n > static_cast<double>(len)) return false;
    *init = static_cast<size_t>(n);
    return true;
}

// The search of the Direct and Short forms; 1 found, 0 not, or an error code.
int Search(ScriptState* L, qbMatchState& ms, size_t* start, size_t* end) {
    CheckArgCount(L, 2, 3, 0, 0);
    size_t len = 0, patLen = 0;
    const char* s = VmCheckString(L, 1, &len);
    const char* p = VmCheckString(L, 2, &patLen);
    size_t init = 0;
    if (!ReadInit(L, 3, len, &init)) return ERR_WRONGUSAGE;
    return PatternFind(ms, s, len, p, patLen, init, true, start, end);
}

// The steps an iterator has left, in a userdata beside its subject: its
// calls share one budget over the subject, as one search would.
uint64_t* IteratorBudget(ScriptState* L) { return static_cast<uint64_t*>(VmToUserdata(L, VmUpvalueIndex(4))); }

int PatternIterator(ScriptState* L) {
    size_t len = 0, patLen = 0;
    const char* s = VmToCString(L, VmUpvalueIndex(1));
    len = VmStrLen(L, VmUpvalueIndex(1));
    const char* p = VmToCString(L, VmUpvalueIndex(2));
    patLen = VmStrLen(L, VmUpvalueIndex(2));
    const double pos = VmToNumber(L, VmUpvalueIndex(3));
    if (pos > static_cast<double>(len)) return 0;
    uint64_t* budget = IteratorBudget(L);
    qbMatchState ms;
    ms.budget = *budget;
    size_t start = 0, end = 0;
    const int r = PatternFind(ms, s, len, p, patLen, static_cast<size_t>(pos), false, &start, &end);
    *budget = ms.budget;
    if (r >= kFirstErrorCode) return r;
    if (r == 0) return 0;
    // An empty match moves on by one byte, or the loop would find it forever.
    VmPushNumber(L, static_cast<double>(end == start ? end + 1 : end));
    VmReplace(L, VmUpvalueIndex(3));
    const int count = PatternResultCount(ms);
    if (int err = PushCaptures(L, ms, Bytes(s) + start, Bytes(s) + end, count)) return err;
    return count;
}

struct FunctionReplacement {
    ScriptState* L;
    int fnIndex;
};

int ReplaceThroughFunction(void* data, const qbMatchState& ms, const unsigned char* s, const unsigned char* e,
                           std::string& out) {
    auto* f = static_cast<FunctionReplacement*>(data);
    ScriptState* L = f->L;
    if (!VmCheckStack(L, 1)) return ERR_STACK;
    VmPushValue(L, f->fnIndex);
    const int count = PatternResultCount(ms);
    if (int err = PushCaptures(L, ms, s, e, count)) return err;
    VmCallGiven(L, count, 1);
    // Only a string replaces the match; anything else drops it.
    if (VmType(L, -1) == kTypeString) out.append(VmToCString(L, -1), VmStrLen(L, -1));
    VmSetTop(L, -2);
    return 0;
}

struct StringReplacement {
    const char* text;
    size_t len;
};

int ReplaceWithString(void* data, const qbMatchState& ms, const unsigned char* s, const unsigned char* e,
                      std::string& out) {
    auto* r = static_cast<StringReplacement*>(data);
    return AppendStringReplacement(ms, s, e, r->text, r->len, out);
}

// A count from a script number: NaN gives 0, the rest saturates.
long long ToCount(double n) {
    if (std::isnan(n) || n <= 0) return 0;
    if (n >= 9.0e18) return static_cast<long long>(9.0e18);
    return static_cast<long long>(n);
}

}  // namespace

int cmdPatternFindStrDirect(ScriptState* L) {
    qbMatchState ms;
    size_t start = 0, end = 0;
    const int r = Search(L, ms, &start, &end);
    if (r >= kFirstErrorCode) return r;
    if (r == 0) {
        VmPushNumber(L, -1);
        return 1;
    }
    VmPushNumber(L, static_cast<double>(start));
    VmPushNumber(L, static_cast<double>(end) - 1);
    const unsigned char* s = Bytes(VmToCString(L, 1));
    if (int err = PushCaptures(L, ms, s + start, s + end, ms.level)) return err;
    return 2 + ms.level;
}

int cmdPatternFindStrShort(ScriptState* L) {
    qbMatchState ms;
    size_t start = 0, end = 0;
    const int r = Search(L, ms, &start, &end);
    if (r >= kFirstErrorCode) return r;
    if (r == 0) {
        VmPushNumber(L, -1);
        return 1;
    }
    const unsigned char* s = Bytes(VmToCString(L, 1));
    const int count = PatternResultCount(ms);
    if (int err = PushCaptures(L, ms, s + start, s + end, count)) return err;
    return count;
}

int cmdPatternFindStr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    size_t len = 0, patLen = 0;
    VmCheckString(L, 1, &len);
    const char* p = VmCheckString(L, 2, &patLen);
    const uint64_t steps = PatternBudget(len, p, patLen);
    VmSetTop(L, 2);
    VmPushNumber(L, 0);
    auto* budget = static_cast<uint64_t*>(VmNewUserdata(L, sizeof(uint64_t)));
    *budget = steps;
    VmPushCClosure(L, PatternIterator, 4);
    return 1;
}

int cmdPatternReplaceStr(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    size_t len = 0, patLen = 0;
    const char* s = VmCheckString(L, 1, &len);
    const char* p = VmCheckString(L, 2, &patLen);
    const int replType = VmType(L, 3);
    if (replType != kTypeString && replType != kTypeFunction) return ERR_WRONGUSAGE;
    const long long max = ToCount(VmOptNumber(L, 4, static_cast<double>(len) + 1));
    std::string out;
    long long count = 0;
    int err;
    if (replType == kTypeString) {
        StringReplacement r{VmToCString(L, 3), VmStrLen(L, 3)};
        err = PatternReplace(s, len, p, patLen, max, ReplaceWithString, &r, out, &count);
    } else {
        FunctionReplacement f{L, 3};
        err = PatternReplace(s, len, p, patLen, max, ReplaceThroughFunction, &f, out, &count);
    }
    if (err) return err;
    VmPushLString(L, out.data(), out.size());
    VmPushNumber(L, static_cast<double>(count));
    return 2;
}
