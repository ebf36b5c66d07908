// Language and country indices from LANG, and the standard requester buttons.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/buttons.h"
#include "core/locale.h"

TEST(Locale, LanguageAndCountryFromTheLocaleName) {
    struct Case {
        const char* name;
        int language, country;
    };
    for (const Case& c : {Case{"de_AT", 1, 34}, Case{"en", 0, kCountryUnknown}, Case{"en_US.UTF-8", 0, 1},
                          Case{"en_GB", 0, 0}, Case{"en_UK", 0, 0}, Case{"pt_BR", 6, 5}, Case{"ru_UA", 17, 37}}) {
        EXPECT_EQ(LanguageFromLocaleName(c.name), c.language) << c.name;
        EXPECT_EQ(CountryFromLocaleName(c.name), c.country) << c.name;
    }
}

TEST(Locale, UnknownShortOrMiscasedNamesGiveUnknown) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "C", "POSIX", "d", "DE_AT", "xx_YY"})
        EXPECT_EQ(LanguageFromLocaleName(name), kLanguageUnknown) << (name ? name : "null");
    // The country follows the first '_' only.
    for (const char* name : {static_cast<const char*>(nullptr), "de", "de_", "de_A", "de_at", "x_y_AT"})
        EXPECT_EQ(CountryFromLocaleName(name), kCountryUnknown) << (name ? name : "null");
}

TEST(Locale, ReadsTheLangVariable) {
    const char* old = std::getenv("LANG");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;

    setenv("LANG", "de_AT", 1);
    EXPECT_EQ(GetLocaleLanguage(), 1);
    EXPECT_EQ(GetLocaleCountry(), 34);
    unsetenv("LANG");
    EXPECT_EQ(GetLocaleLanguage(), kLanguageUnknown);
    EXPECT_EQ(GetLocaleCountry(), kCountryUnknown);

    if (saved) setenv("LANG", saved->c_str(), 1);
}

TEST(RequesterButtons, StandardSetsSetTheTypeAndClearTheTextOthersStayCustom) {
    struct Case {
        const char* text;
        int type;
    };
    for (const Case& c : {Case{"Yes|No", kRequesterYesNo}, Case{"OK", kRequesterOk}, Case{"ok|CANCEL", kRequesterOkCancel},
                          Case{"yes|no|Cancel", kRequesterYesNoCancel}, Case{"Yes|Maybe", 99}, Case{"Yes|No ", 99},
                          Case{"OK|", 99}, Case{"", 99}}) {
        char text[32];
        std::strcpy(text, c.text);
        int type = 99;
        ParseRequesterButtons(text, &type);
        EXPECT_EQ(type, c.type) << c.text;
        EXPECT_STREQ(text, c.type == 99 ? c.text : "") << c.text;
    }
    int type = 5;
    ParseRequesterButtons(nullptr, &type);
    EXPECT_EQ(type, 5);
}

