// The user's language and country as the system's LANGUAGE_* and COUNTRY_*
// indices, taken from the LANG environment variable.
#pragma once

inline constexpr int kLanguageUnknown = 18;
inline constexpr int kCountryUnknown = 38;

int GetLocaleLanguage();
int GetLocaleCountry();

// The same for a given locale name such as "de_AT.UTF-8" (null allowed).
int LanguageFromLocaleName(const char* name);
int CountryFromLocaleName(const char* name);
