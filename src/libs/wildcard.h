// Wildcard patterns of the dos library: "*" any run of characters, "?" one
// character, "#" one decimal digit, "[...]" one character of a set (ranges
// such as a-z, "!" first negates), everything else itself, case-sensitively.
// A pattern list holds several patterns separated by ";".
#pragma once

#include <cstddef>
#include <string_view>

// Whether name matches the whole pattern. An unterminated "[" stands for
// itself. The pattern is read once, then each run between stars is found by
// one search linear in the name (a run of plain bytes in the name's length
// plus its own, any other at one step a name byte for each 64 elements of
// the run, after 256 steps an element for its tables); *steps, when given,
// gets the pattern's length plus those steps.
bool WildcardMatch(std::string_view pattern, std::string_view name, size_t* steps = nullptr);
// Whether name matches any pattern of the ";"-separated list; an empty list
// matches nothing.
bool MatchPatternList(std::string_view list, std::string_view name);
