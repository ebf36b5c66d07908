// Option values from the command line and the options file, what start-up
// makes of them, and the number syntax that options and scripts share.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "core/runstate.h"
#include "player/cmdline.h"

struct qbUnknownOption;

// The option-value array: a flag option's slot holds 1 (or 0 when the
// options file says so), a value option's slot its text.
struct qbOptionValues {
    std::array<int, kOptionSlotCount> flag{};
    std::array<std::string, kOptionSlotCount> text{};
    std::array<bool, kOptionSlotCount> given{};
};

// Longest key of an options-file entry.
constexpr size_t kIniKeyMax = 127;
// Folder and file names taken from options end up in fields of this size.
constexpr size_t kOptionPathSize = 1024;

// The options file beside the applet: its name for a script path (the last
// extension of the file part replaced by ".ini"), or beside the executable
// when the applet is linked into it.
std::string GetOptionsFileName(const qbCommandLine* cl);
// Reads the options file into values; a missing file is no error. 0, or
// ERR_READ, ERR_MEM or ERR_INISYNTAX.
int ReadIniOptions(qbCommandLine* cl, qbOptionValues& values);
// Parses options-file text (up to size bytes or a NUL). 0 or ERR_INISYNTAX.
int ParseIniText(const char* text, size_t size, qbOptionValues& values, std::vector<qbUnknownOption>& unknown);

// Turns the option values into the start-up settings of cl and the display
// overrides of applet. 0 or an error code.
int ResolveStartupOptions(qbCommandLine* cl, const qbOptionValues& values, qbApplet* applet);

// The entries of a "|"-separated list; an empty entry ends it.
std::vector<std::string> SplitOptionList(const char* text);
