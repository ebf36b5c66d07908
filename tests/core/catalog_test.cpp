// Catalogs: finding them by language (every file a lookup opens, as an
// adapter sees it), IFF and text forms, that no entry is trusted beyond the
// data, and translated messages taken only with the built-in placeholders.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/catalog.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileops.h"
#include "core/pluginadapters.h"
#include "platform/platform.h"
#include "peak_memory.h"
#include "scratch.h"

namespace {

using namespace std::string_literals;

std::string BE32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// One STRS entry, its text padded with zeros to a multiple of 4.
std::string Entry(uint32_t id, const std::string& text, uint32_t length) {
    std::string e = BE32(id) + BE32(length) + text;
    while (e.size() % 4) e += '\0';
    return e;
}
std::string Entry(uint32_t id, const std::string& text) {
    return Entry(id, text + '\0', static_cast<uint32_t>(text.size() + 1));
}

std::string Iff(const std::string& strs, const char* type = "CTLG") {
    std::string body = std::string(type) + "FVER" + BE32(12) + "$VER: x 1.0\0"s;
    body += "LANG" + BE32(8) + "deutsch\0"s;
    body += "STRS" + BE32(static_cast<uint32_t>(strs.size())) + strs;
    while (body.size() < 120) body += '\0';
    return "FORM" + BE32(static_cast<uint32_t>(body.size())) + body;
}

CatalogPtr FromData(const std::string& data) { return CatalogPtr(MakeCatalogFromData(data.data(), data.size())); }

TEST(CatalogData, IffEntriesByIdWithTheDefaultForMissingOnes) {
    CatalogPtr c = FromData(Iff(Entry(1, "Eins") + Entry(7, "Sieben!") + Entry(300, "")));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 1, "one"), "Eins");
    EXPECT_STREQ(GetCatalogText(c.get(), 7, "seven"), "Sieben!");
    EXPECT_STREQ(GetCatalogText(c.get(), 300, "empty"), "");
    EXPECT_STREQ(GetCatalogText(c.get(), 2, "two"), "two");
    EXPECT_STREQ(GetCatalogText(nullptr, 1, "none"), "none");
}

TEST(CatalogData, EntriesMustFitAndHoldATerminator) {
    // No NUL inside the entry: the next entry's bytes would run on.
    CatalogPtr c = FromData(Iff(Entry(1, "ABCD", 4) + Entry(2, "ok")));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 1, "default"), "default");
    EXPECT_STREQ(GetCatalogText(c.get(), 2, "default"), "ok");
    // A length past the chunk ends the walk.
    c = FromData(Iff(BE32(1) + BE32(0x7FFFFFF0) + "Hi\0\0"s + Entry(2, "late")));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 1, "d1"), "d1");
    EXPECT_STREQ(GetCatalogText(c.get(), 2, "d2"), "d2");
    // A chunk that claims more than the file holds, its entry cut short.
    std::string cut = "FORM" + BE32(200) + "CTLGFVER" + BE32(84) + std::string(84, 'v');
    cut += "STRS" + BE32(100) + BE32(5) + BE32(8) + "fiv";
    c = FromData(cut);
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 5, "d"), "d");
}

TEST(CatalogData, WrongIffTypesAndMissingStringsAreRejected) {
    EXPECT_FALSE(FromData(Iff(Entry(1, "x"), "CTLX")));
    std::string noStrs = Iff(Entry(1, "x"));
    noStrs.replace(noStrs.find("STRS"), 4, "STRX");
    EXPECT_FALSE(FromData(noStrs));
    std::string versionLater = Iff(Entry(1, "x"));
    versionLater.replace(12, 4, "LANG");
    EXPECT_FALSE(FromData(versionLater));
}

TEST(CatalogData, TextCatalogsSplitLinesAndResolveEscapes) {
    CatalogPtr c = FromData("first\r\nsecond\r\nthird\r\n");
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "first");
    EXPECT_STREQ(GetCatalogText(c.get(), -5, "d"), "first");
    EXPECT_STREQ(GetCatalogText(c.get(), 2, "d"), "third");
    EXPECT_STREQ(GetCatalogText(c.get(), 3, "d"), "d");

    c = FromData("a\\nb\\tc\\rd\\\\e\\qf\nline\\\nlast\rnext\\");
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "a\nb\tc\rd\\e\\f");
    // An escaped line end is no line end; a lone CR is one.
    EXPECT_STREQ(GetCatalogText(c.get(), 1, "d"), "line\\last");
    EXPECT_STREQ(GetCatalogText(c.get(), 2, "d"), "next\\");
    EXPECT_STREQ(GetCatalogText(c.get(), 3, "d"), "d");
}

TEST(CatalogData, ShortFormFilesAreTextAndEmptyOnesHaveNothing) {
    std::string form = "FORMabcdCTLGFVER" + std::string(64, 'x');
    ASSERT_EQ(form.size(), 80u);
    form[40] = '\n';
    CatalogPtr c = FromData(form);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::string(GetCatalogText(c.get(), 0, "d")), form.substr(0, 40));
    EXPECT_EQ(std::string(GetCatalogText(c.get(), 1, "d")), std::string(39, 'x'));
    c = FromData("");
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "d");
}

// Catalogs/<language>/ folders in a scratch folder made the current one, with
// LANG set for the test.
class CatalogLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* lang = std::getenv("LANG");
        if (lang) savedLang_ = lang;
        oldDir_ = ChangeCurrentDir(dir_.str().c_str());
        ASSERT_TRUE(oldDir_);
    }
    void TearDown() override {
        if (savedLang_) setenv("LANG", savedLang_->c_str(), 1);
        else unsetenv("LANG");
        ChangeCurrentDir(oldDir_->c_str());
    }
    ScratchDir dir_;
    std::optional<std::string> savedLang_;
    std::optional<std::string> oldDir_;
};

TEST_F(CatalogLookupTest, LanguagesFindTheEnglishOrTheNativeFolderName) {
    setenv("LANG", "de_DE.UTF-8", 1);
    dir_.Write("Catalogs/deutsch/x.catalog", "aus deutsch\n");
    CatalogPtr c(LoadCatalog("x.catalog"));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "aus deutsch");
    // The English folder name is tried first.
    dir_.Write("Catalogs/german/x.catalog", "aus german\n");
    c.reset(LoadCatalog("x.catalog"));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "aus german");
    EXPECT_FALSE(CatalogPtr(LoadCatalog("y.catalog")));
    // Native names are folders in UTF-8.
    setenv("LANG", "fr_FR", 1);
    dir_.Write("Catalogs/fran\xC3\xA7" "ais/x.catalog", "bonjour");
    c.reset(LoadCatalog("x.catalog"));
    ASSERT_TRUE(c);
    EXPECT_STREQ(GetCatalogText(c.get(), 0, "d"), "bonjour");
}

TEST_F(CatalogLookupTest, EnglishAndUnknownLanguagesLoadNone) {
    dir_.Write("Catalogs/english/x.catalog", "hello");
    dir_.Write("Catalogs/unknown/x.catalog", "?");
    for (const char* lang : {"en_GB", "C", "xx_YY"}) {
        setenv("LANG", lang, 1);
        EXPECT_FALSE(CatalogPtr(LoadCatalog("x.catalog"))) << lang;
    }
    unsetenv("LANG");
    EXPECT_FALSE(CatalogPtr(LoadCatalog("x.catalog")));
    // Russian has no folder of its own.
    setenv("LANG", "ru_RU", 1);
    EXPECT_TRUE(CatalogPtr(LoadCatalog("x.catalog")));
}

// Catalogs grown by a hole to 3 GB, their STRS chunk claiming it all: the
// entries are read, not the length, and both forms keep their strings.
TEST_F(CatalogLookupTest, ACatalogCostsItsEntriesNotItsLength) {
    setenv("LANG", "de_DE.UTF-8", 1);
    std::string iff = Iff(Entry(1, "Eins") + Entry(2, "Zwei"));
    iff.replace(iff.find("STRS") + 4, 4, BE32(3u << 30));
    const std::string iffPath = dir_.Write("Catalogs/deutsch/iff.catalog", iff);
    const std::string textPath = dir_.Write("Catalogs/deutsch/text.catalog", "eins\nzwei\n");
    for (const std::string& path : {iffPath, textPath}) std::filesystem::resize_file(path, uint64_t{3} << 30);
    for (const char* name : {"iff.catalog", "text.catalog"}) {
        SCOPED_TRACE(name);
        CatalogPtr c;
        EXPECT_LT(PeakGrowth([&] { c.reset(LoadCatalog(name)); }), 64u << 20);
        ASSERT_TRUE(c);
        EXPECT_STREQ(GetCatalogText(c.get(), 1, "d"), name[0] == 'i' ? "Eins" : "zwei");
        EXPECT_STREQ(GetCatalogText(c.get(), 2, "d"), name[0] == 'i' ? "Zwei" : "d");
    }
}

// A file's own length says whether it may be an IFF catalog: one byte short
// of the least IFF, a text that starts with "FORM" keeps its lines; at that
// length it is read as IFF, and a broken one is no catalog.
TEST_F(CatalogLookupTest, ShortFormFilesOnDiskAreTextAndLongerOnesIff) {
    setenv("LANG", "de_DE.UTF-8", 1);
    std::string text = "FORMabcdCTLGFVER" + std::string(84, 'x');
    ASSERT_EQ(text.size(), 100u);
    text[40] = '\n';
    dir_.Write("Catalogs/deutsch/short.catalog", text);
    dir_.Write("Catalogs/deutsch/long.catalog", text + "y");
    CatalogPtr c(LoadCatalog("short.catalog"));
    ASSERT_TRUE(c);
    EXPECT_EQ(std::string(GetCatalogText(c.get(), 0, "d")), text.substr(0, 40));
    EXPECT_EQ(std::string(GetCatalogText(c.get(), 1, "d")), std::string(59, 'x'));
    EXPECT_FALSE(CatalogPtr(LoadCatalog("long.catalog")));
}

// Every name a catalog lookup opens, in order, as a file adapter sees it;
// it serves the one name it is given, with the text given.
struct OpenLog {
    std::vector<std::string> opened;
    int closes = 0;
    std::string served;
    std::string text;
    size_t at = 0;
};
OpenLog* openLog = nullptr;

class CatalogOpensTest : public CatalogLookupTest {
protected:
    void SetUp() override {
        CatalogLookupTest::SetUp();
        openLog = &log_;
        plugin_.name = "catalogs";
        plugin_.slots.FOpen = [](const char* name, int, const qbFileTag*) -> void* {
            openLog->opened.emplace_back(name);
            if (name != openLog->served) return nullptr;
            openLog->at = 0;
            return openLog;
        };
        plugin_.slots.FClose = [](void*) {
            ++openLog->closes;
            return 1;
        };
        plugin_.slots.FRead = [](void*, void* buffer, size_t count) {
            const size_t n = openLog->text.copy(static_cast<char*>(buffer), count, openLog->at);
            openLog->at += n;
            return n;
        };
        plugin_.slots.FSeek = [](void*, int64_t offset, int mode) -> int64_t {
            const int64_t previous = static_cast<int64_t>(openLog->at);
            if (mode != kSeekBeginning || offset < 0) return -1;
            openLog->at = std::min(static_cast<size_t>(offset), openLog->text.size());
            return previous;
        };
        plugin_.slots.FStat = [](void*, qbAdapterStat* st) {
            st->size = static_cast<int64_t>(openLog->text.size());
            return 1;
        };
        ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &plugin_), 0);
        char exe[PATH_MAX] = {};
        GetExecutablePath(exe, sizeof exe);
        exeFolder_ = std::filesystem::path(exe).parent_path().string() + "/";
    }
    void TearDown() override {
        RemoveAdapterPlugin(kPluginCapsFileAdapter, &plugin_);
        openLog = nullptr;
        CatalogLookupTest::TearDown();
    }
    // Loads name and gives what it opened since the last call.
    std::vector<std::string> Opens(const char* name, std::string* text = nullptr) {
        log_.opened.clear();
        log_.closes = 0;
        CatalogPtr c(LoadCatalog(name));
        if (text) *text = c ? GetCatalogText(c.get(), 0, "none") : "no catalog";
        return log_.opened;
    }
    OpenLog log_;
    qbAdapterPlugin plugin_;
    std::string exeFolder_;
};

// A missing catalog is looked for once in each folder, the English name
// before the native one, the current folder before the program's; a found
// one ends the search where it is found, opened once and closed.
TEST_F(CatalogOpensTest, EachFolderIsAskedOnceInOrderUntilOneHoldsIt) {
    setenv("LANG", "de_DE.UTF-8", 1);
    const std::vector<std::string> all = {"Catalogs/german/m.catalog", "Catalogs/deutsch/m.catalog",
                                          exeFolder_ + "Catalogs/german/m.catalog",
                                          exeFolder_ + "Catalogs/deutsch/m.catalog"};
    std::string text;
    EXPECT_EQ(Opens("m.catalog", &text), all);
    EXPECT_EQ(text, "no catalog");
    EXPECT_EQ(log_.closes, 0);
    for (size_t found = 0; found < all.size(); ++found) {
        SCOPED_TRACE(all[found]);
        log_.served = all[found];
        log_.text = "served " + std::to_string(found) + "\n";
        EXPECT_EQ(Opens("m.catalog", &text), std::vector<std::string>(all.begin(), all.begin() + found + 1));
        EXPECT_EQ(text, "served " + std::to_string(found));
        EXPECT_EQ(log_.closes, 1);
    }
    // A catalog on disk in the native folder: the adapter was asked of the
    // English one first, then of the native one, which the disk served.
    log_.served.clear();
    dir_.Write("Catalogs/deutsch/m.catalog", "vom Datentr\xC3\xA4ger\n");
    EXPECT_EQ(Opens("m.catalog", &text), std::vector<std::string>(all.begin(), all.begin() + 2));
    EXPECT_EQ(text, "vom Datentr\xC3\xA4ger");
    // English and a language without a folder open nothing.
    setenv("LANG", "en_US", 1);
    EXPECT_TRUE(Opens("m.catalog").empty());
    EXPECT_TRUE(Opens(nullptr).empty());
}

// A translated message replaces the built-in text only where its
// placeholders are the same, in the same order; where they differ, or the
// catalog lacks the message, the built-in text is filled.
TEST(CatalogTranslations, OnlyTextsWithTheBuiltinPlaceholdersAreShown) {
    const auto number = [](int code) { return static_cast<uint32_t>(GetErrorMessageNumber(code)); };
    const std::string iff = Iff(Entry(number(ERR_READFILE), "Datei %s nicht lesbar") +
                                Entry(number(ERR_NUMEXPECTED), "Zahl in Argument %d erwartet (100%%)") +
                                Entry(number(ERR_NONE), "Kein Fehler") +
                                Entry(number(ERR_MEM), "Kein Speicher f\xFCr %s") +
                                Entry(number(ERR_WRITEFILE), "Datei %d nicht schreibbar") +
                                Entry(number(ERR_LOADPICTURE), "Bild %s: %s") +
                                Entry(MSG_LOADINGBRUSH, "Lade %x"));
    CatalogPtr catalog = FromData(iff);
    ASSERT_TRUE(catalog);
    SetPlayerCatalog(catalog.get());
    SetErrorDetail("pics/a.png");
    SetErrorArgIndex(3);
    const auto text = [](int code) {
        char out[kErrorTextSize];
        GetErrorText(code, out);
        return std::string(out);
    };
    EXPECT_EQ(text(ERR_READFILE), "Datei a.png nicht lesbar");
    EXPECT_EQ(text(ERR_NUMEXPECTED), "Zahl in Argument 3 erwartet (100%)");
    EXPECT_EQ(text(ERR_NONE), "Kein Fehler");
    EXPECT_EQ(text(ERR_MEM), "Out of memory!");
    EXPECT_EQ(text(ERR_WRITEFILE), "Cannot write to file pics/a.png !");
    EXPECT_EQ(text(ERR_LOADPICTURE), "Cannot load picture a.png!");
    EXPECT_EQ(text(ERR_OPENSOUND), "Cannot open sound file a.png!");
    EXPECT_STREQ(GetMessageText(MSG_LOADINGBRUSH), "Loading brush %s");
    SetPlayerCatalog(nullptr);
    SetErrorDetail("");
    SetErrorArgIndex(0);
    EXPECT_EQ(text(ERR_READFILE), "Cannot read file  !");
}

}  // namespace
