// The formatter behind FormatStr: printf-style directives over script
// values, each conversion sized by snprintf's own count so that no width or
// value is ever cut.
#pragma once

#include <cstddef>
#include <string>

// One value for a conversion: a number, or a string with its length.
struct qbFormatValue {
    double number = 0;
    const char* text = nullptr;
    size_t length = 0;
};

// Hands out the next value: a string when wantString, else a number. 0, or
// an error code (a reader over script arguments may raise instead).
using FormatArgReader = int (*)(void* context, bool wantString, qbFormatValue* out);

// A directive from "%" to its letter may have at most this many
// characters.
constexpr size_t kMaxFormatDirective = 18;

// Appends the formatted text to out; 0, ERR_WRONGUSAGE for a malformed
// directive, ERR_MEM, or the reader's error.
int FormatText(const char* format, size_t length, FormatArgReader next, void* context, std::string& out);
