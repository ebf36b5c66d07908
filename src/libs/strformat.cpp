// FormatStr's formatter. A directive is parsed by hand, rebuilt as a
// plain C directive and handed to snprintf; strings are padded here, so
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

struct Directive {
    char flags[16] = {};  // each flag once, in the order met
    int flagCount = 0;
    int width = -1;
    int precision = -1;
    char letter = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the directive after "%" at p; the index past the letter, or 0
// for a malformed one.
size_t ParseDirective(const char* p, size_t avail, Directive& directive) {
    size_t i = 0;
    while (i < avail && p[i] && std::strchr(kFlags, p[i])) {
        if (!std::memchr(directive.flags, p[i], static_cast<size_t>(directive.flagCount))) directive.flags[directive.flagCount++] = p[i];
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
    if (!digits(directive.width)) return 0;
    if (i < avail && p[i] == '.') {
        ++i;
        directive.precision = 0;
        if (!digits(directive.precision)) return 0;
    }
    if (i >= avail) return 0;
    directive.letter = p[i++];
    // The "%" counts with the rest.
    if (i + 1 > kMaxFormatDirective) return 0;
    return i;
}

bool HasFlag(const Directive& directive, char flag) {
    return std::memchr(directive.flags, flag, static_cast<size_t>(directive.flagCount)) != nullptr;
}

// The directive again as C text, with the given length modifier.
void BuildCDirective(const Directive& directive, char* out) {
    char* p = out;
    *p++ = '%';
    for (int i = 0; i < directive.flagCount; ++i) *p++ = directive.flags[i];
    // Two digits at most each.
    auto digits = [&p](int n) {
        if (n >= 10) *p++ = static_cast<char>('0' + n / 10);
        *p++ = static_cast<char>('0' + n % 10);
    };
    if (directive.width >= 0) digits(directive.width);
    if (directive.precision >= 0) {
        *p++ = '.';
        digits(directive.precision);
    }
    *p++ = directive.letter;
    *p = '\0';
}

// Formats one number through snprintf, into the stack buffer when it fits.
template <typename T>
void AppendNumber(const Directive& directive, T value, std::string& out) {
    char cdirective[32];
    BuildCDirective(directive, cdirective);
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, cdirective, value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, cdirective, value);
    out.resize(at + static_cast<size_t>(n));
}

void AppendString(const Directive& directive, const qbFormatValue& v, std::string& out) {
    size_t length = v.length;
    if (directive.precision >= 0 && static_cast<size_t>(directive.precision) < length) length = static_cast<size_t>(directive.precision);
    const size_t pad = directive.width > 0 && static_cast<size_t>(directive.width) > length ? directive.width - length : 0;
    if (!HasFlag(directive, '-')) out.append(pad, ' ');
    out.append(v.text, length);
    if (HasFlag(directive, '-')) out.append(pad, ' ');
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

int Convert(const Directive& directive, FormatArgReader next, void* context, std::string& out) {
    qbFormatValue v;
    switch (directive.letter) {
    case 'd':
    case 'i':
    case 'c':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(directive, static_cast<int>(static_cast<int32_t>(ScriptUInt32(v.number))), out);
        return 0;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(directive, static_cast<unsigned>(ScriptUInt32(v.number)), out);
        return 0;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        if (int err = next(context, false, &v)) return err;
        AppendNumber(directive, v.number, out);
        return 0;
    case 's':
        if (int err = next(context, true, &v)) return err;
        AppendString(directive, v, out);
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
            Directive directive;
            const size_t used = ParseDirective(format + i, length - i, directive);
            if (!used) return ERR_WRONGUSAGE;
            i += used;
            if (int err = Convert(directive, next, context, out)) return err;
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    return 0;
}
