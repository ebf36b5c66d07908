// Locale names to language and country indices. The tables keep the order in
// which the system compares them; the first match wins.
#include "core/locale.h"

#include <cstdlib>
#include <cstring>

namespace {

struct CodeIndex {
    char code[3];
    int index;
};

constexpr CodeIndex kLanguages[] = {
    {"da", 8}, {"de", 1}, {"en", 0},  {"es", 5},  {"fr", 4},  {"el", 13}, {"it", 3},  {"hu", 12}, {"nl", 2},
    {"no", 10}, {"pl", 11}, {"pt", 6}, {"fi", 9}, {"sv", 7}, {"tr", 15}, {"cs", 14}, {"hr", 16}, {"ru", 17},
};

constexpr CodeIndex kCountries[] = {
    {"AD", 36}, {"AU", 2},  {"AT", 34}, {"BE", 3},  {"BG", 4},  {"BR", 5},  {"CA", 6},  {"CH", 29},
    {"CZ", 7},  {"DK", 8},  {"DE", 9},  {"ES", 10}, {"FI", 30}, {"FR", 11}, {"GB", 0},  {"UK", 0},
    {"GR", 12}, {"IT", 13}, {"IE", 33}, {"IS", 35}, {"LI", 14}, {"LT", 15}, {"LU", 16}, {"HU", 17},
    {"MT", 18}, {"MC", 19}, {"NL", 20}, {"NO", 21}, {"PL", 22}, {"PT", 23}, {"RO", 24}, {"RU", 25},
    {"SM", 26}, {"SE", 31}, {"SK", 27}, {"SI", 28}, {"TR", 32}, {"UA", 37}, {"US", 1},
};

// Case-sensitive, and a text shorter than two characters matches nothing.
template <size_t N>
int Lookup(const CodeIndex (&table)[N], const char* text, int unknown) {
    for (const CodeIndex& entry : table)
        if (std::strncmp(text, entry.code, 2) == 0) return entry.index;
    return unknown;
}

}  // namespace

int LanguageFromLocaleName(const char* name) {
    return name ? Lookup(kLanguages, name, kLanguageUnknown) : kLanguageUnknown;
}

int CountryFromLocaleName(const char* name) {
    const char* underscore = name ? std::strchr(name, '_') : nullptr;
    return underscore ? Lookup(kCountries, underscore + 1, kCountryUnknown) : kCountryUnknown;
}

int GetLocaleLanguage() { return LanguageFromLocaleName(std::getenv("LANG")); }

int GetLocaleCountry() { return CountryFromLocaleName(std::getenv("LANG")); }
