// The argument layer of the command handlers. Everything here either returns
// a value or raises the code that names what was wrong with the argument.
#include "core/argapi.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "core/memory.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "core/truth.h"
#include "vm/skipswitch.h"

namespace {

// Room for what a getter pushes at most (field, anchors, key and value).
constexpr int kGetterStackRoom = 6;
constexpr size_t kMaxConstantName = 64;
// Registry entry under which the texts of number fields are kept alive.
constexpr const char* kFieldTextsKey = "qb.fieldtexts";

LayerNameLookup layerNameLookup = nullptr;
ArgCountProbe argCountProbe = nullptr;

int AbsIndex(ScriptState* L, int idx) { return (idx < 0 && idx > kRegistryIndex) ? VmGetTop(L) + idx + 1 : idx; }

[[noreturn]] void RaiseWithDetail(ScriptState* L, const char* detail, int code) {
    SetErrorDetail(detail);
    VmRaiseError(L, code);
}

[[noreturn]] void RaiseWithArg(ScriptState* L, int idx, int code) {
    SetErrorArgIndex(idx);
    VmRaiseError(L, code);
}

void SetFound(int* found) {
    if (found) *found = 1;
}

// Pushes the field's value; false (with nothing left pushed) when it is Nil.
bool PushField(ScriptState* L, int idx, const char* key) {
    idx = AbsIndex(L, idx);
    VmCheckStack(L, kGetterStackRoom);
    VmPushString(L, key ? key : "");
    IndexOptionTable(L, idx);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, -2);
        return false;
    }
    return true;
}

void PopField(ScriptState* L) { VmSetTop(L, -2); }

// A number field read as text is converted on the stack only; the table still
// holds the number, so the text would be garbage once popped. It is kept in a
// registry table whose keys (the option tables) are weak: the text lives as
// long as the table it was read from.
void KeepFieldText(ScriptState* L, int table, const char* key) {
    VmPushString(L, kFieldTextsKey);
    VmRawGet(L, kRegistryIndex);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        VmPushNewTable(L);
        VmPushNewTable(L);
        VmPushString(L, "__mode");
        VmPushString(L, "k");
        VmRawSet(L, -3);
        VmSetMetatable(L, -2);
        VmPushString(L, kFieldTextsKey);
        VmPushValue(L, -2);
        VmRawSet(L, kRegistryIndex);
    }
    VmPushValue(L, table);
    VmRawGet(L, -2);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        VmPushNewTable(L);
        VmPushValue(L, table);
        VmPushValue(L, -2);
        VmRawSet(L, -4);
    }
    VmPushString(L, key);
    VmPushValue(L, -4);
    VmRawSet(L, -3);
    VmSetTop(L, -3);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number at the start of text (after blanks, with a sign, fraction
// and exponent), and whether '%' follows it. Words such as "inf" and "nan"
// are no numbers here: a percentage must compare as one.
bool ParsePercentText(const char* text, double* value, bool* percent) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!IsDigit(*p) && !(*p == '.' && IsDigit(p[1]))) return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(p, p + std::strlen(p), v, std::chars_format::general);
    if (ec != std::errc()) return false;
    *value = negative ? -v : v;
    *percent = *end == '%';
    return true;
}

// The value of a number-or-percent text; false when it is malformed or a
// percentage out of range.
bool EvalPercentText(const char* text, int base, int allowOver100, double* out, int* percentFlag) {
    double v = 0;
    bool percent = false;
    if (!ParsePercentText(text, &v, &percent)) return false;
    if (!percent) {
        *out = v;
        return true;
    }
    if (v < 0 || (v > 100 && !allowOver100)) return false;
    if (base != 0) {
        *out = base * v / 100;
    } else {
        *out = v / 100;
        if (percentFlag) *percentFlag = 1;
    }
    return true;
}

bool IsConstantLetter(char c) {
    const unsigned char folded = kUpperCaseTable[static_cast<unsigned char>(c)];
    return folded >= 'A' && folded <= 'Z';
}

bool IsConstantChar(char c) { return IsConstantLetter(c) || IsDigit(c) || c == '_' || c == '$' || c == '!'; }

}  // namespace

void SetArgCountProbe(ArgCountProbe probe) { argCountProbe = probe; }

void IndexOptionTable(ScriptState* L, int idx) { VmGetTableAt(L, idx); }

ScriptState* CheckArgCount(ScriptState* L, int min, int max, int version, int revision) {
    if (argCountProbe) {
        argCountProbe(min, max);
        VmRaiseError(L, ERR_WRONGUSAGE);
    }
    const int n = VmGetTop(L);
    if (min == 0 && max == 0 && n >= 1) VmRaiseError(L, ERR_TOOMANYARGS);
    if (n < min) VmRaiseError(L, ERR_MISSINGPARAMTR);
    if (max >= 1 && n > max) VmRaiseError(L, ERR_TOOMANYARGS);
    if (version != 0 && !RequireAppletVersion(version, revision)) VmRaiseError(L, ERR_OLDAPPLET);
    if (SkippedHandler != nullptr && SkipsRunningCommand(L)) throw qbCommandSkipped{};
    return L;
}

ObjectID GetObjectIDArg(ScriptState* L, int idx) {
    if (VmType(L, idx) == kTypeLightUserdata) return ObjectID{0, VmToUserdata(L, idx)};
    return ObjectID{ClampToInt32(VmCheckNumber(L, idx)), nullptr};
}

NewObjectID GetNewObjectIDArg(ScriptState* L, int idx) {
    if (VmType(L, idx) == kTypeNil) return NewObjectID{0, 1};
    return NewObjectID{ClampToInt32(VmCheckNumber(L, idx)), 0};
}

void GetObjectIDArgInto(ScriptState* L, int idx, ObjectID* out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    if (out) *out = id;
}

void GetNewObjectIDArgInto(ScriptState* L, int idx, int32_t* idAndChooseFlag) {
    const NewObjectID id = GetNewObjectIDArg(L, idx);
    if (idAndChooseFlag) {
        idAndChooseFlag[0] = id.id;
        idAndChooseFlag[1] = id.chooseFlag;
    }
}

int32_t GetIntArg(ScriptState* L, int idx) { return ClampToInt32(VmCheckNumber(L, idx)); }

int32_t GetOptIntArg(ScriptState* L, int idx, int32_t fallback) {
    return VmType(L, idx) <= kTypeNil ? fallback : GetIntArg(L, idx);
}

int GetFiniteIntArg(ScriptState* L, int idx, int32_t* out) {
    const double v = VmCheckNumber(L, idx);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = ClampToInt32(v);
    return 0;
}

int GetIntArgWithin(ScriptState* L, int idx, int32_t lo, int32_t hi, int32_t* out) {
    return ToInt32Within(VmCheckNumber(L, idx), lo, hi, out) ? 0 : ERR_WRONGUSAGE;
}

bool GetFlagArg(ScriptState* L, int idx, bool fallback) {
    const int type = VmType(L, idx);
    if (type <= kTypeNil) return fallback;
    if (type != kTypeBoolean) VmCheckNumber(L, idx);
    return ScriptTruth(L, idx);
}

double GetNumberOrPercentArg(ScriptState* L, int idx, int base, int allowOver100, int* percentFlag) {
    if (percentFlag) *percentFlag = 0;
    switch (VmType(L, idx)) {
    case kTypeNumber:
        return VmToNumber(L, idx);
    case kTypeString: {
        SetErrorArgIndex(idx);
        double v = 0;
        if (!EvalPercentText(VmToCString(L, idx), base, allowOver100, &v, percentFlag))
            VmRaiseError(L, ERR_PERCENTFORMAT);
        return v;
    }
    case kTypeNil:
    case kTypeNone:
        return VmCheckNumber(L, idx);
    default:
        RaiseWithArg(L, idx, ERR_STRORNUM);
    }
}

int ParseConstantString(ScriptState* L, const char* text, size_t* outLength, const char** outString,
                        double* outNumber) {
    if (!text || text[0] != '#') return ERR_WRONGUSAGE;
    if (!IsConstantLetter(text[1]) && text[1] != '_') return ERR_SYNTAXERROR;
    char name[kMaxConstantName + 1];
    size_t n = 0;
    for (const char* p = text + 1; n < kMaxConstantName && IsConstantChar(*p); ++p) name[n++] = *p;
    name[n] = 0;
    const char* str = nullptr;
    double number = 0;
    if (!VmLookupConstant(L, name, &str, &number)) return ERR_FINDCST;
    if (outLength) *outLength = n + 1;
    if (outString) *outString = str;
    if (outNumber) *outNumber = str ? 0 : number;
    return 0;
}

int PushObjectID(ScriptState* L, ObjectID id) {
    if (id.handle)
        VmPushLightUserdata(L, id.handle);
    else
        VmPushNumber(L, id.number);
    return 1;
}

int GetTableFieldFloat(ScriptState* L, int idx, const char* key, double* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    const double v = VmGetFieldNumber(L, -1, key);
    PopField(L);
    if (out) *out = v;
    SetFound(found);
    return 1;
}

int GetTableFieldInt(ScriptState* L, int idx, const char* key, int32_t* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    const int32_t v = ClampToInt32(VmGetFieldNumber(L, -1, key));
    PopField(L);
    if (out) *out = v;
    SetFound(found);
    return 1;
}

int GetTableFieldFlagInto(ScriptState* L, int idx, const char* key, int32_t* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    if (VmType(L, -1) != kTypeBoolean) VmGetFieldNumber(L, -1, key);
    const bool v = ScriptTruth(L, -1);
    PopField(L);
    if (out) *out = v ? 1 : 0;
    SetFound(found);
    return 1;
}

bool GetTableFieldFlag(ScriptState* L, int idx, const char* key) {
    int32_t v = 0;
    return GetTableFieldFlagInto(L, idx, key, &v, nullptr) && v != 0;
}

int GetTableFieldUInt(ScriptState* L, int idx, const char* key, uint32_t* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    const uint32_t v = VmGetFieldInt(L, -1, key);
    PopField(L);
    if (out) *out = v;
    SetFound(found);
    return 1;
}

int GetTableFieldObjectID(ScriptState* L, int idx, const char* key, ObjectID* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    ObjectID id;
    if (VmType(L, -1) == kTypeLightUserdata)
        id.handle = VmToUserdata(L, -1);
    else
        id.number = ClampToInt32(VmGetFieldNumber(L, -1, key));
    PopField(L);
    if (out) *out = id;
    SetFound(found);
    return 1;
}

int GetTableFieldString(ScriptState* L, int idx, const char* key, const char** out, int* found) {
    idx = AbsIndex(L, idx);
    const uint64_t before = VmScriptEpoch();
    if (!PushField(L, idx, key)) return 0;
    const bool converted = VmType(L, -1) != kTypeString;
    const char* text = VmGetFieldString(L, -1, nullptr, key);
    // A text the "__index" chain made is not the table's to hold either.
    if (converted || VmScriptEpoch() != before) KeepFieldText(L, idx, key ? key : "");
    PopField(L);
    if (out) *out = text;
    SetFound(found);
    return 1;
}

int GetTableFieldStringCopy(ScriptState* L, int idx, const char* key, char* buffer, size_t bufferSize,
                            int* found) {
    if (!PushField(L, idx, key)) return 0;
    size_t len = 0;
    const char* text = VmGetFieldString(L, -1, &len, key);
    if (buffer && bufferSize > 0) {
        len = std::min(len, bufferSize - 1);
        std::memcpy(buffer, text, len);
        buffer[len] = 0;
    }
    PopField(L);
    SetFound(found);
    return 1;
}

int GetTableFieldStringDup(ScriptState* L, int idx, const char* key, int fontFlag, int* outIsFont, char** outCopy,
                           size_t* outLength, int* found) {
    if (outIsFont) *outIsFont = 0;
    if (!PushField(L, idx, key)) return 0;
    const char* text = VmGetFieldString(L, -1, nullptr, key);
    if (fontFlag) text = ResolveLinkedFile(L, text, fontFlag, outIsFont);
    const size_t len = std::strlen(text);
    char* copy = outCopy ? static_cast<char*>(AllocMemory(len + 1, 0)) : nullptr;
    if (copy) std::memcpy(copy, text, len + 1);
    PopField(L);
    if (outCopy) {
        *outCopy = copy;
        if (!copy) return 0;
    }
    if (outLength) *outLength = len;
    SetFound(found);
    return 1;
}

int GetTableFieldSizeOrPercent(ScriptState* L, int idx, const char* key, int allowOver100, int32_t* out,
                               int* found) {
    if (!PushField(L, idx, key)) return 0;
    int32_t v = 0;
    if (VmType(L, -1) == kTypeNumber) {
        v = ClampToInt32(VmToNumber(L, -1));
    } else {
        SetErrorDetail(key);
        double d = 0;
        bool percent = false;
        if (VmType(L, -1) != kTypeString || !ParsePercentText(VmToCString(L, -1), &d, &percent))
            VmRaiseError(L, ERR_PERCENTFORMATSTR);
        const int32_t n = ClampToInt32(d);
        if (percent && (n < 0 || (n > 100 && !allowOver100))) VmRaiseError(L, ERR_PERCENTFORMATSTR);
        // Consumers read a negative size as a percentage of their own size.
        v = percent ? -n : n;
    }
    PopField(L);
    if (out) *out = v;
    SetFound(found);
    return 1;
}

int GetTableFieldNumberOrPercent(ScriptState* L, int idx, const char* key, int base, int allowOver100,
                                 double* out, int* percentFlag, int* found) {
    if (!PushField(L, idx, key)) return 0;
    int flag = 0;
    double v = 0;
    switch (VmType(L, -1)) {
    case kTypeNumber:
        v = VmToNumber(L, -1);
        break;
    case kTypeString:
        if (!EvalPercentText(VmToCString(L, -1), base, allowOver100, &v, &flag))
            RaiseWithDetail(L, key, ERR_PERCENTFORMATSTR);
        break;
    default:
        RaiseWithDetail(L, key, ERR_NUMTABLEARG);
    }
    PopField(L);
    if (out) *out = v;
    if (percentFlag) *percentFlag = flag;
    SetFound(found);
    return 1;
}

int GetTableFieldQuad(ScriptState* L, int idx, const char* key, double out[4], int* found) {
    idx = AbsIndex(L, idx);
    if (!PushField(L, idx, key)) return 0;
    if (VmType(L, -1) != kTypeTable) RaiseWithArg(L, idx, ERR_TABEXPECTED);
    SetErrorDetail(key);
    const int quad = VmGetTop(L);
    double values[4];
    for (int i = 0; i < 4; ++i) {
        VmRawGetIndex(L, quad, i);
        if (VmType(L, -1) == kTypeNil) VmRaiseError(L, ERR_MISSINGPARAMTR);
        if (!VmIsNumber(L, -1)) VmRaiseError(L, ERR_NUMTABLEARG);
        values[i] = VmToNumber(L, -1);
        VmSetTop(L, -2);
    }
    PopField(L);
    if (out) std::memcpy(out, values, sizeof values);
    SetFound(found);
    return 1;
}

void SetLayerNameLookup(LayerNameLookup lookup) { layerNameLookup = lookup; }

int GetTableFieldLayerID(ScriptState* L, int idx, const char* key, int32_t* out, int* found) {
    if (!PushField(L, idx, key)) return 0;
    int32_t id = 0;
    switch (VmType(L, -1)) {
    case kTypeNumber:
        id = ClampToInt32(VmToNumber(L, -1));
        break;
    case kTypeString: {
        const char* name = VmToCString(L, -1);
        id = layerNameLookup ? layerNameLookup(name) : 0;
        if (id == 0) RaiseWithDetail(L, name, ERR_FINDLAYER);
        break;
    }
    default:
        VmRaiseError(L, ERR_WRONGUSAGE);
    }
    PopField(L);
    if (out) *out = id;
    SetFound(found);
    return 1;
}

void SetTableFieldObjectID(ScriptState* L, const char* key, ObjectID value) {
    VmPushString(L, key);
    PushObjectID(L, value);
    VmSetTableAt(L, -3);
}

void SetTableFieldString(ScriptState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value ? value : "");
    VmSetTableAt(L, -3);
}

void SetTableFieldFloat(ScriptState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmSetTableAt(L, -3);
}

void SetTableFieldUInt(ScriptState* L, const char* key, uint32_t value) { SetTableFieldFloat(L, key, value); }

void SetTableFieldInt(ScriptState* L, const char* key, int32_t value) { SetTableFieldFloat(L, key, value); }
