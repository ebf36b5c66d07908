// FormatStr's formatter. A specification is parsed by hand, rebuilt as a
// plain C specification and handed to snprintf; strings are padded here, so
// that their zero bytes survive.
#include "libs/strformat.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/errcodes.h"
#include "libs/mathlib.h"

namespace {

constexpr char kFlags[] = "-+ #0";

struct Spec {
    char flags[16] = {};  // each flag once, in the order met
    int flagCount = 0;
    int width = -1;
    int precision = -1;
    char letter = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the specification after "%" at p; the index past the letter, or 0
// for a malformed one.
size_t ParseSpec(const char* p, size_t avail, Spec& spec) {
    size_t i = 0;
    while (i < avail && p[i] && std::strchr(kFlags, p[i])) {
        if (!std::memchr(spec.flags, p[i], static_cast<size_t>(spec.flagCount))) spec.flags[spec.flagCount++] = p[i];
        ++i;
    }
    auto digits = [&](int& value) {
        int n = 0;
        while (i < avail && IsDigit(p[i])) {
            if (++n > 2) return false;
            value = (value < 0 ? 0 : value) * 10 + (p[i] - '0');
            ++i;
        }
        return true;
    };
    if (!digits(spec.width)) return 0;
    if (i < avail && p[i] == '.') {
        ++i;
        spec.precision = 0;
        if (!digits(spec.precision)) return 0;
    }
    if (i >= avail) return 0;
    spec.letter = p[i++];
    // The "%" counts with the rest.
    if (i + 1 > kMaxFormatSpec) return 0;
    return i;
}

bool HasFlag(const Spec& spec, char flag) {
    return std::memchr(spec.flags, flag, static_cast<size_t>(spec.flagCount)) != nullptr;
}

// The specification again as C text, with the given length modifier.
void BuildCSpec(const Spec& spec, char* out) {
    char* p = out;
    *p++ = '%';
    for (int i = 0; i < spec.flagCount; ++i) *p++ = spec.flags[i];
    // Two digits at most each.
    auto digits = [&p](int n) {
        if (n >= 10) *p++ = static_cast<char>('0' + n / 10);
        *p++ = static_cast<char>('0' + n % 10);
    };
    if (spec.width >= 0) digits(spec.width);
    if (spec.precision >= 0) {
        *p++ = '.';
        digits(spec.precision);
    }
    *p++ = spec.letter;
    *p = '\0';
}

// Formats one number through snprintf, into the stack buffer when it fits.
template <typename T>
void AppendNumber(const Spec& spec, T value, std::string& out) {
    char cspec[32];
    BuildCSpec(spec, cspec);
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, cspec, value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, cspec, value);
    out.resize(at + static_cast<size_t>(n));
}

void AppendString(const Spec& spec, const qbFormatValue& v, std::string& out) {
    size_t length = v.length;
    if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < length) length = static_cast<size_t>(spec.precision);
    const size_t pad = spec.width > 0 && static_cast<size_t>(spec.width) > length ? spec.width - length : 0;
    if (!HasFlag(spec, '-')) out.append(pad, ' ');
    out.append(v.text, length);
    if (HasFlag(spec, '-')) out.append(pad, ' ');
}

void AppendQuoted(const qbFormatValue& v, std::string& out) {
    out += '"';
    for (size_t i = 0; i < v.length; ++i) {
        const char c = v.text[i];
        if (c == '"' || c == '\\' || c == '\n') {
            out += '\\';
            out += c;
        } else if (c == '\0') {
            out += "\\000";
        } else {
            out += c;
        }
    }
    out += '"';
}

int Convert(const Spec& spec, FormatArgReader next, void* context, std::string& out) {
    qbFormatValue v;
    switch (spec.letter) {
    case 'd':
    case 'i':
    case 'c':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(spec, static_cast<int>(static_cast<int32_t>(ScriptUInt32(v.number))), out);
        return 0;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(spec, static_cast<unsigned>(ScriptUInt32(v.number)), out);
        return 0;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(spec, v.number, out);
        return 0;
    case 's':
        if (int err = next(context, true, &v)) return err;
        AppendString(spec, v, out);
        return 0;
    case 'q':
        if (int err = next(context, true, &v)) return err;
        AppendQuoted(v, out);
        return 0;
    default: return ERR_WRONGUSAGE;
    }
}

}  // namespace

int FormatText(const char* format, size_t length, FormatArgReader next, void* context, std::string& out) {
    try {
        size_t i = 0;
        while (i < length) {
            const char* percent = static_cast<const char*>(std::memchr(format + i, '%', length - i));
            const size_t end = percent ? static_cast<size_t>(percent - format) : length;
            out.append(format + i, end - i);
            if (!percent) break;
            i = end + 1;
            if (i < length && format[i] == '%') {
                out += '%';
                ++i;
                continue;
            }
            Spec spec;
            const size_t used = ParseSpec(format + i, length - i, spec);
            if (!used) return ERR_WRONGUSAGE;
            i += used;
            if (int err = Convert(spec, next, context, out)) return err;
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    return 0;
}
