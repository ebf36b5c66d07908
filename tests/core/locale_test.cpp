// Language and country indices from LANG, and the standard requester buttons.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/buttons.h"
#include "core/locale.h"

TEST(Locale, LanguageAndCountryFromTheLocaleName) {
    EXPECT_EQ(LanguageFromLocaleName("de_AT"), 1);
    EXPECT_EQ(CountryFromLocaleName("de_AT"), 34);
    EXPECT_EQ(LanguageFromLocaleName("en"), 0);
    EXPECT_EQ(CountryFromLocaleName("en"), kCountryUnknown);
    EXPECT_EQ(LanguageFromLocaleName("en_US.UTF-8"), 0);
    EXPECT_EQ(CountryFromLocaleName("en_US.UTF-8"), 1);
    EXPECT_EQ(CountryFromLocaleName("en_GB"), 0);
    EXPECT_EQ(CountryFromLocaleName("en_UK"), 0);
    EXPECT_EQ(LanguageFromLocaleName("pt_BR"), 6);
    EXPECT_EQ(CountryFromLocaleName("pt_BR"), 5);
    EXPECT_EQ(LanguageFromLocaleName("ru_UA"), 17);
    EXPECT_EQ(CountryFromLocaleName("ru_UA"), 37);
}

TEST(Locale, UnknownShortOrMiscasedNamesGiveUnknown) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "C", "POSIX", "d", "DE_AT", "xx_YY"})
        EXPECT_EQ(LanguageFromLocaleName(name), kLanguageUnknown) << (name ? name : "null");
    EXPECT_EQ(CountryFromLocaleName(nullptr), kCountryUnknown);
    EXPECT_EQ(CountryFromLocaleName("de"), kCountryUnknown);
    EXPECT_EQ(CountryFromLocaleName("de_"), kCountryUnknown);
    EXPECT_EQ(CountryFromLocaleName("de_A"), kCountryUnknown);
    EXPECT_EQ(CountryFromLocaleName("de_at"), kCountryUnknown);
    // The country follows the first '_' only.
    EXPECT_EQ(CountryFromLocaleName("x_y_AT"), kCountryUnknown);
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

