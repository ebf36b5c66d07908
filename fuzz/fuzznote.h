// What a fuzz target makes of one input, folded into one hash: the replay
// driver keeps it per corpus file and compares it with the answers that
// answers/NAME.txt records, so that a change in what a reader makes of any
// corpus file (an error code, a size, a pixel, a sample) fails the replay,
// not only a crash. Under libFuzzer the hash is kept and never read.
//
// A target notes what a user of the reader would get: its error codes, the
// sizes and counts it answers, the pixels and samples it gives. It notes
// nothing that differs from run to run or from compiler to compiler (times,
// addresses, floating-point values beyond nine digits).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

inline constexpr uint64_t kFuzzAnswerStart = 1469598103934665603ull;
inline uint64_t fuzzAnswer = kFuzzAnswerStart;

inline void FuzzNote(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    uint64_t h = fuzzAnswer;
    for (size_t i = 0; i < n; ++i) {
        h ^= b[i];
        h *= 1099511628211ull;
    }
    fuzzAnswer = h;
}
inline void FuzzNoteValue(int64_t v) { FuzzNote(&v, sizeof v); }
// A floating-point result as nine significant digits, which every compiler's
// rounding of the same computation keeps.
inline void FuzzNoteNumber(double v) {
    char text[32];
    const int n = std::isnan(v) ? std::snprintf(text, sizeof text, "nan") : std::snprintf(text, sizeof text, "%.9g", v);
    FuzzNote(text, static_cast<size_t>(n));
}
inline void FuzzNoteText(std::string_view s) {
    FuzzNoteValue(static_cast<int64_t>(s.size()));
    FuzzNote(s.data(), s.size());
}
