// The signature file behind the command reference: what each command takes
// and gives, one entry per command, grouped by library.
#pragma once

#include <string>
#include <vector>

struct SignatureEntry {
    std::string library;  // the [section] the entry stands in
    std::string name;
    std::string call;     // "MidStr(s, pos, [len = -1])"
    std::string results;  // after "->"; empty when the command gives none
    std::string text;     // the indented lines, joined by blanks
    std::string example;  // the lines after "|", verbatim, one per line
    int line = 0;
    int minArgs = 0;
    int maxArgs = 0;  // kNoUpperBound when the last argument repeats
    // The places (from 1) where a table may stand: the arguments written in
    // braces. The names of a repeating group ("[id, {options}...]") take a
    // place each, as its first round gives them.
    std::vector<int> tables;
};

constexpr int kNoUpperBound = -1;

// Reads the file; false with a "file:line: reason" message on a malformed one.
bool ReadSignatures(const char* path, std::vector<SignatureEntry>& out, std::string& error);
