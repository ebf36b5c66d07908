// The number syntax that option values and script strings share: decimal,
// "$" and "0x" hexadecimal, "%" binary.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/errcodes.h"
#include "core/numbers.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Digits of the given base as an unsigned 32-bit number; null when none.
const char* ReadDigits(const char* p, int base, uint32_t& value) {
    const char* start = p;
    value = 0;
    for (int d; (d = HexDigit(*p)) >= 0 && d < base; ++p) value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
    return p == start ? nullptr : p;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The end of what could belong to a decimal number. The parser is handed only
// this span, so that reading many numbers out of one long text (an Eval
// expression) stays linear.
const char* DecimalSpan(const char* p) {
    for (;; ++p) {
        if (IsDigit(*p) || *p == '.') continue;
        if ((*p == 'e' || *p == 'E') && (IsDigit(p[1]) || ((p[1] == '+' || p[1] == '-') && IsDigit(p[2])))) {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            continue;
        }
        return p;
    }
}

}  // namespace

double StringToNumber(const char* text, size_t* consumed, int* err) {
    const char* p = text;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    uint32_t bits = 0;
    double value = 0.0;
    const char* end = nullptr;
    int code = 0;
    if (*p == '$') {
        if (*++p == '-') {
            negative = true;
            ++p;
        }
        end = ReadDigits(p, 16, bits);
        value = bits;
    } else if (*p == '%') {
        end = ReadDigits(p + 1, 2, bits);
        value = bits;
    } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        end = ReadDigits(p + 2, 16, bits);
        value = bits;
    } else if (IsDigit(*p) || (*p == '.' && IsDigit(p[1]))) {
        auto r = std::from_chars(p, DecimalSpan(p), value, std::chars_format::general);
        end = r.ptr;
        // Too big or too small for a double: the nearest a double holds.
        if (r.ec == std::errc::result_out_of_range) value = std::strtod(std::string(p, r.ptr).c_str(), nullptr);
    } else {
        code = ERR_VALUEEXPECTED;
    }
    if (!code && !end) code = ERR_SYNTAXERROR;
    if (code) {
        if (consumed) *consumed = 0;
        if (err) *err = code;
        return 0.0;
    }
    if (consumed) *consumed = static_cast<size_t>(end - text);
    if (err) *err = 0;
    return negative ? -value : value;
}
