// The string library's conversions between numbers, values and text, its
// digests and FormatStr.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "libs/base64.h"
#include "libs/mathlib.h"
#include "libs/md5.h"
#include "libs/strformat.h"
#include "libs/stringinternal.h"
#include "libs/stringlib.h"
#include "libs/system.h"

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// An unsigned number in the base that takes the whole text but trailing
// white space; 0 for anything else.
double ParseInBase(std::string_view s, int base) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i < s.size() && s[i] == '+') ++i;
    if (base == 16 && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) i += 2;
    double value = 0;
    const size_t first = i;
    for (; i < s.size() && DigitValue(s[i]) < base; ++i) value = value * base + DigitValue(s[i]);
    if (i == first) return 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    return i == s.size() ? value : 0;
}

struct ArgCursor {
    ScriptState* L;
    int next;
};

int ReadFormatArg(void* context, bool wantString, qbFormatValue* out) {
    auto* cursor = static_cast<ArgCursor*>(context);
    const int idx = cursor->next++;
    if (wantString)
        out->text = VmCheckString(cursor->L, idx, &out->length);
    else
        out->number = VmCheckNumber(cursor->L, idx);
    return 0;
}

}  // namespace

int cmdVal(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    size_t used = 0;
    const double value = StringToNumber(VmCheckString(L, 1, nullptr), &used, nullptr);
    VmPushNumber(L, value);
    VmPushNumber(L, static_cast<double>(used));
    return 2;
}

int cmdStrStr(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const double n = VmCheckNumber(L, 1);
    const int64_t decimals = OptIntArg(L, 2, 2);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14g", n);
    std::string text = buffer;
    // Only the mantissa's decimals are cut; an exponent stays whole.
    const size_t e = text.find_first_of("eE");
    const std::string exponent = e == std::string::npos ? std::string() : text.substr(e);
    std::string mantissa = text.substr(0, e);
    const size_t point = mantissa.find('.');
    if (point != std::string::npos) {
        if (decimals == 0)
            mantissa.resize(point);
        else if (decimals < 0)
            mantissa.resize(point + 1);
        else if (static_cast<uint64_t>(decimals) < mantissa.size() - point - 1)
            mantissa.resize(point + 1 + static_cast<size_t>(decimals));
    }
    return PushText(L, mantissa + exponent);
}

int cmdHexStr(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    // The value modulo 2^32, so that negatives come out in two's complement
    // and larger ones wrap; NaN and the infinities give 0.
    double v = std::fmod(std::trunc(VmCheckNumber(L, 1)), 4294967296.0);
    if (std::isnan(v)) v = 0;
    if (v < 0) v += 4294967296.0;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "$%X", static_cast<unsigned>(static_cast<uint32_t>(v)));
    return PushText(L, buffer);
}

int cmdBinStr(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const uint32_t bits = VmCheckInt(L, 1);
    int width = 0;
    switch (static_cast<int32_t>(VmOptInt(L, 2, kMathTypeInteger))) {
    case kMathTypeInteger: width = 32; break;
    case kMathTypeShort: width = 16; break;
    case kMathTypeByte: width = 8; break;
    default: break;
    }
    std::string out;
    for (int i = width - 1; i >= 0; --i) out += (bits >> i) & 1u ? '1' : '0';
    return PushText(L, out);
}

int cmdPadNum(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const double n = VmCheckNumber(L, 1);
    const int64_t digits = IntArg(L, 2);
    double whole = 0;
    if (!(n >= 0) || !ToWholeNumber(n, &whole) || digits < 1) return ERR_WRONGUSAGE;
    if (static_cast<uint64_t>(digits) > kMaxStringLength) return ERR_MEM;
    char buffer[400];
    const int length = std::snprintf(buffer, sizeof buffer, "%.0f", whole);
    if (length < 0) return ERR_WRONGUSAGE;
    std::string out;
    try {
        if (digits > length) out.assign(static_cast<size_t>(digits - length), '0');
        out.append(buffer, static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return PushText(L, out);
}

int cmdToString(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return PushText(L, ValueToString(L, 1));
}

int cmdToNumber(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const int64_t base = OptIntArg(L, 2, 10);
    if (base < 2 || base > 36) return ERR_WRONGUSAGE;
    const int type = VmType(L, 1);
    double value = 0;
    if (type == kTypeLightUserdata) {
        value = static_cast<double>(reinterpret_cast<uintptr_t>(VmToUserdata(L, 1)));
    } else if (base == 10) {
        if (type == kTypeNumber || (type == kTypeString && VmIsNumber(L, 1))) value = VmToNumber(L, 1);
    } else if (type == kTypeString || type == kTypeNumber) {
        const char* text = VmToCString(L, 1);
        value = ParseInBase(std::string_view(text, VmStrLen(L, 1)), static_cast<int>(base));
    }
    VmPushNumber(L, value);
    return 1;
}

int cmdToUserData(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const double n = std::trunc(VmCheckNumber(L, 1));
    uintptr_t address = 0;
    if (n >= 0 && n < 18446744073709551616.0)
        address = static_cast<uintptr_t>(static_cast<uint64_t>(n));
    else if (n < 0 && n >= -9223372036854775808.0)
        address = static_cast<uintptr_t>(static_cast<int64_t>(n));
    VmPushLightUserdata(L, reinterpret_cast<void*>(address));
    return 1;
}

int cmdMD5Str(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string_view s = StringArg(L, 1);
    if (s.empty()) return ERR_WRONGUSAGE;
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, s.data(), s.size());
    uint8_t digest[16];
    MD5Final(digest, &context);
    return PushText(L, MD5Hex(digest));
}

int cmdCRC32Str(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string_view s = StringArg(L, 1);
    if (s.empty()) return ERR_WRONGUSAGE;
    VmPushNumber(L, ComputeCRC32(s.data(), static_cast<long>(s.size())));
    return 1;
}

int cmdBase64Str(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string_view s = StringArg(L, 1);
    const bool decode = GetFlagArg(L, 2, false);
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    ScriptBuffer buffer;
    VmBufferInit(L, &buffer);
    const int err = decode ? DecodeBase64(bytes, s.size(), nullptr, &buffer, nullptr)
                           : EncodeBase64(nullptr, &buffer, nullptr, bytes, s.size(), nullptr, 0);
    VmBufferPushResult(&buffer);
    if (err) return err;
    return 1;
}

int cmdFormatStr(ScriptState* L) {
    CheckArgCount(L, 1, -1, 0, 0);
    const std::string_view format = StringArg(L, 1);
    ArgCursor cursor{L, 2};
    std::string out;
    if (int err = FormatText(format.data(), format.size(), ReadFormatArg, &cursor, out)) return err;
    if (out.size() > kMaxStringLength) return ERR_MEM;
    return PushText(L, out);
}
