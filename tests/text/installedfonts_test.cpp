// The installed-font scan over folders the tests make: names and styles
// read from the fonts' "name" tables, collections, suitcases, bitmap fonts,
// duplicates and hostile files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bounded_child.h"
#include "command_call.h"
#include "core/fileops.h"
#include "core/vmhost.h"
#include "text/inbuiltfont.h"
#include "text/text.h"
#include "text/textlib.h"
#include "text/installedfonts.h"

namespace fs = std::filesystem;

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// A face of nothing but a "name" table with Windows English names in
// two-byte text; the table offsets count from base.
std::vector<uint8_t> NameOnlyFace(const std::string& family, const std::string& style, uint32_t base = 0) {
    std::vector<uint8_t> strings;
    for (const std::string& s : {family, style})
        for (char c : s) {
            strings.push_back(0);
            strings.push_back(static_cast<uint8_t>(c));
        }
    std::vector<uint8_t> name;
    Put16(name, 0);
    Put16(name, 2);
    Put16(name, 6 + 24);
    uint32_t offset = 0;
    uint32_t id = 1;
    for (const std::string& s : {family, style}) {
        for (uint32_t v : {3u, 1u, 1033u, id++, static_cast<uint32_t>(s.size() * 2), offset}) Put16(name, v);
        offset += static_cast<uint32_t>(s.size() * 2);
    }
    name.insert(name.end(), strings.begin(), strings.end());
    std::vector<uint8_t> face;
    Put32(face, 0x00010000);
    for (uint32_t v : {1u, 16u, 0u, 0u}) Put16(face, v);
    Put32(face, 0x6E616D65);
    Put32(face, 0);
    Put32(face, base + 28);
    Put32(face, static_cast<uint32_t>(name.size()));
    face.insert(face.end(), name.begin(), name.end());
    return face;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A collection of whole font files, each with its table offsets moved.
std::vector<uint8_t> Collection(const std::vector<std::string>& files) {
    std::vector<uint8_t> out;
    Put32(out, 0x74746366);
    Put32(out, 0x00010000);
    Put32(out, static_cast<uint32_t>(files.size()));
    const size_t table = out.size();
    out.resize(out.size() + 4 * files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> font = ReadAll(files[i]);
        const auto base = static_cast<uint32_t>(out.size());
        Set32(out, table + 4 * i, base);
        const uint32_t tables = uint32_t{font[4]} << 8 | font[5];
        for (uint32_t t = 0; t < tables; ++t) Set32(font, 12 + 16 * t + 8, Get32(font, 12 + 16 * t + 8) + base);
        out.insert(out.end(), font.begin(), font.end());
        out.resize((out.size() + 3) & ~size_t{3});
    }
    return out;
}

class InstalledFontsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("qb-fonts-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "home");
        Save("HOME");
        Save("XDG_DATA_HOME");
        Save("XDG_DATA_DIRS");
        setenv("HOME", (root_ / "home").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", ((root_ / "sys1").string() + ":" + (root_ / "sys2").string()).c_str(), 1);
        FreeInstalledFonts();
        ASSERT_EQ(StartInbuiltEngine(), 0);
    }
    void TearDown() override {
        FreeInstalledFonts();
        StopInbuiltEngine();
        for (auto& [name, value] : saved_)
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        fs::remove_all(root_);
    }
    void Save(const char* name) {
        const char* v = std::getenv(name);
        saved_.emplace_back(name, v ? v : "");
    }
    const qbInstalledFont* Find(const std::string& fullName) {
        for (const qbInstalledFont& f : InstalledFonts())
            if (f.fullName == fullName) return &f;
        return nullptr;
    }
    fs::path root_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

}  // namespace

TEST_F(InstalledFontsTest, NamesStylesWeightsAndDuplicates) {
    Write(root_ / "data/fonts/F-Regular.ttf", NameOnlyFace("F", "Regular"));
    Write(root_ / "home/.fonts/deep/er/FBI.otf", NameOnlyFace("F", "Bold Italic"));
    Write(root_ / "sys1/fonts/G-Demi.ttf", NameOnlyFace("G", "Demi Bold"));
    Write(root_ / "sys2/fonts/again.ttf", NameOnlyFace("F", "Regular"));
    Write(root_ / "sys2/fonts/short.ttf", {0, 1, 0, 0, 0, 1});
    ScanFontDirectories(0);
    const qbInstalledFont* regular = Find("F Regular");
    ASSERT_NE(regular, nullptr);
    EXPECT_EQ(regular->weight, 80);
    EXPECT_NE(Find("F"), nullptr);
    const qbInstalledFont* bi = Find("F Bold Italic");
    ASSERT_NE(bi, nullptr);
    EXPECT_EQ(bi->weight, 200);
    EXPECT_EQ(bi->slant, 100);
    ASSERT_NE(Find("G Demi Bold"), nullptr);
    EXPECT_EQ(Find("G Demi Bold")->weight, 200);
    EXPECT_EQ(InstalledFonts().size(), 4u);  // the second "F Regular" is not listed
    FreeInstalledFonts();
    ScanFontDirectories(1);
    EXPECT_EQ(Find("F"), nullptr);
    EXPECT_EQ(InstalledFonts().size(), 3u);
}

TEST_F(InstalledFontsTest, CollectionMembersOpenFromATemporaryFileGoneAtTheClose) {
    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
    Write(root_ / "data/fonts/three.ttc",
          Collection({dejavu + "DejaVuSans.ttf", dejavu + "DejaVuSans-Bold.ttf", dejavu + "DejaVuSerif.ttf"}));
    ScanFontDirectories(1);
    ASSERT_EQ(InstalledFonts().size(), 3u);
    EXPECT_EQ(InstalledFonts()[1].fullName, "DejaVu Sans Bold");
    qbFont font;
    ASSERT_EQ(OpenInbuiltFont("DejaVu Sans Bold", 20, 1, &font), 1);
    EXPECT_STREQ(font.name, "DejaVu Sans Bold");
    const std::string temp = InbuiltDataOf(&font)->tempPath;
    EXPECT_TRUE(fs::exists(temp));
    qbTextExtents e;
    MeasureInbuiltText(&font, "Hi", 2, 0, 0, &e);
    EXPECT_GT(e.width, 10);
    CloseInbuiltFont(&font);
    EXPECT_FALSE(fs::exists(temp));
    // By name without the style: the regular face alone, which a scan for
    // opening lists too.
    FreeInstalledFonts();
    ASSERT_EQ(OpenInbuiltFont("DejaVu Serif", 20, 1, &font), 1);
    CloseInbuiltFont(&font);
    EXPECT_EQ(OpenInbuiltFont("No Such Face", 20, 1, &font), 0);
}

TEST_F(InstalledFontsTest, SuitcasesAndBitmapFontsList) {
    std::vector<uint8_t> suitcase(256, 0);
    for (const auto& [family, style] : {std::pair{"S", "Regular"}, std::pair{"S", "Italic"}}) {
        std::vector<uint8_t> face = NameOnlyFace(family, style, 0);
        Put32(suitcase, static_cast<uint32_t>(face.size()));
        suitcase.insert(suitcase.end(), face.begin(), face.end());
    }
    Write(root_ / "data/fonts/S.dfont", suitcase);
    std::vector<uint8_t> contents;
    Put16(contents, 0x0F00);
    Put16(contents, 3);
    for (uint32_t size : {8u, 11u, 8u}) {
        contents.resize(contents.size() + 256, 0);
        Put16(contents, size);
        Put16(contents, 0);
    }
    Write(root_ / "data/fonts/pixel.font", contents);
    ScanFontDirectories(1);
    const qbInstalledFont* italic = Find("S Italic");
    ASSERT_NE(italic, nullptr);
    EXPECT_EQ(italic->slant, 100);
    EXPECT_GT(italic->dataOffset, 256);
    ASSERT_NE(Find("S Regular"), nullptr);
    const qbInstalledFont* pixel = Find("pixel");
    ASSERT_NE(pixel, nullptr);
    EXPECT_TRUE(pixel->bitmapFont);
    EXPECT_EQ(pixel->sizes, (std::vector<uint8_t>{8, 11}));
}

TEST_F(InstalledFontsTest, HostileFilesAreSkipped) {
    std::vector<uint8_t> manyFaces;
    Put32(manyFaces, 0x74746366);
    Put32(manyFaces, 0x00010000);
    Put32(manyFaces, 0xFFFFFFFF);
    Put32(manyFaces, 16);
    Write(root_ / "data/fonts/many.ttc", manyFaces);
    std::vector<uint8_t> pastEnd;
    Put32(pastEnd, 0x74746366);
    Put32(pastEnd, 0x00010000);
    Put32(pastEnd, 1);
    Put32(pastEnd, 0x7FFFFFF0);
    Write(root_ / "data/fonts/past.ttc", pastEnd);
    std::vector<uint8_t> truncated = NameOnlyFace("T", "Regular");
    truncated.resize(truncated.size() - 3);
    Write(root_ / "data/fonts/trunc.ttf", truncated);
    Write(root_ / "data/fonts/long.ttf", NameOnlyFace(std::string(300, 'L'), "Regular"));
    std::vector<uint8_t> badOffset = NameOnlyFace("B", "Regular");
    Set32(badOffset, 12 + 8, 0xFFFFFF00);
    Write(root_ / "data/fonts/bad.ttf", badOffset);
    std::vector<uint8_t> suitcase(256, 0);
    Put32(suitcase, 0xFFFFFFF0);
    Write(root_ / "data/fonts/bad.dfont", suitcase);
    ScanFontDirectories(1);
    EXPECT_TRUE(InstalledFonts().empty());
}

TEST_F(InstalledFontsTest, GetAvailableFontsListsTablesFromIndexZero) {
    Write(root_ / "data/fonts/F-Regular.ttf", NameOnlyFace("F", "Regular"));
    Write(root_ / "data/fonts/F-Bold.ttf", NameOnlyFace("F", "Bold"));
    InstallVmHost();
    ScriptState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitTextLibrary(L), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(CallCommand(L, "GetAvailableFonts", 0, 1), 0);
    ASSERT_EQ(VmType(L, -1), kTypeTable);
    const std::vector<std::pair<std::string, double>> want{{"F Bold", 200}, {"F Regular", 80}};
    for (int i = 0; i < 2; ++i) {
        VmRawGetIndex(L, -1, i);
        ASSERT_EQ(VmType(L, -1), kTypeTable) << i;
        VmPushString(L, "name");
        VmRawGet(L, -2);
        EXPECT_EQ(std::string(VmToCString(L, -1)), want[static_cast<size_t>(i)].first);
        VmPushString(L, "weight");
        VmRawGet(L, -3);
        EXPECT_EQ(VmToNumber(L, -1), want[static_cast<size_t>(i)].second);
        for (const char* key : {"family", "bitmap", "slant", "sizes"}) {
            VmPushString(L, key);
            VmRawGet(L, -4);
            EXPECT_NE(VmType(L, -1), kTypeNil) << key;
            VmSetTop(L, -2);
        }
        VmSetTop(L, -4);
    }
    // The list is discarded after the listing.
    EXPECT_TRUE(InstalledFonts().empty());
    FreeTextLibrary(L);
    VmClose(L);
}

TEST_F(InstalledFontsTest, LookupByFamilyWeightAndSlant) {
    Write(root_ / "data/fonts/F-Regular.ttf", NameOnlyFace("F", "Regular"));
    Write(root_ / "data/fonts/F-BoldItalic.ttf", NameOnlyFace("F", "Bold Italic"));
    Write(root_ / "data/fonts/F-Bold.ttf", NameOnlyFace("F", "Bold"));
    std::vector<uint8_t> suitcase(256, 0);
    const std::vector<uint8_t> face = NameOnlyFace("S", "Italic", 0);
    Put32(suitcase, static_cast<uint32_t>(face.size()));
    suitcase.insert(suitcase.end(), face.begin(), face.end());
    Write(root_ / "data/fonts/S.dfont", suitcase);

    qbFoundFont found;
    ASSERT_EQ(FindInstalledFont("f", 200, 100, false, &found), 1);  // the family matches in any case
    EXPECT_EQ(fs::path(found.path).filename(), "F-BoldItalic.ttf");
    ASSERT_EQ(FindInstalledFont("F", 200, 0, false, &found), 1);
    EXPECT_EQ(fs::path(found.path).filename(), "F-Bold.ttf");
    ASSERT_EQ(FindInstalledFont("F", 80, 0, false, &found), 1);
    EXPECT_EQ(fs::path(found.path).filename(), "F-Regular.ttf");
    EXPECT_FALSE(found.temporary);
    EXPECT_EQ(FindInstalledFont("F", 80, 100, false, &found), 0);
    // A weight never matches a full name, nor a full name the family alone.
    EXPECT_EQ(FindInstalledFont("F Bold", 200, 0, false, &found), 0);
    EXPECT_EQ(FindInstalledFont("F", -1, 0, false, &found), 1);  // "F", the regular face under its family
    EXPECT_EQ(fs::path(found.path).filename(), "F-Regular.ttf");

    // A suitcase face is found with its place in the file, unless packed
    // faces are skipped.
    ASSERT_EQ(FindInstalledFont("S", 80, 100, false, &found), 1);
    EXPECT_GT(found.dataOffset, 256);
    EXPECT_EQ(found.dataSize, static_cast<int64_t>(face.size()));
    EXPECT_EQ(FindInstalledFont("S", 80, 100, true, &found), 0);
}

// Every road on which a collection member cannot be copied out ends in "not
// found", with no temporary file left: the collection cut after the scan
// (inside the member's table directory, inside its tables), no temporary
// folder, and a copy whose writing fails.
TEST_F(InstalledFontsTest, AMemberThatCannotBeCopiedIsNotFound) {
    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
    const fs::path collection = root_ / "data/fonts/two.ttc";
    const std::vector<uint8_t> bytes = Collection({dejavu + "DejaVuSans.ttf", dejavu + "DejaVuSans-Bold.ttf"});
    const fs::path temp = root_ / "tmp";
    fs::create_directories(temp);
    auto find = [] {
        qbFoundFont found;
        found.path = "unset";
        const int result = FindInstalledFont("DejaVu Sans Bold", -1, 0, false, &found);
        return result == 0 && found.path != "unset" ? 0 : 1;
    };
    auto leftovers = [&] { return std::distance(fs::directory_iterator(temp), {}); };

    Write(collection, bytes);
    ScanFontDirectories(0);
    const qbInstalledFont* member = Find("DejaVu Sans Bold");
    ASSERT_NE(member, nullptr);
    const auto directory = static_cast<uintmax_t>(member->directoryOffset);
    ASSERT_GT(directory, 0u);
    const std::string oldTemp = GetTempDir();
    SetTempDir(temp.c_str());
    const uint32_t tables = uint32_t{bytes[directory + 4]} << 8 | bytes[directory + 5];
    // Cut shorter each time (a longer size would add zeros).
    for (const uintmax_t size : {directory + 12 + uintmax_t{tables} * 16, directory + 12, directory + 5}) {
        fs::resize_file(collection, size);
        EXPECT_EQ(find(), 0) << size;
        EXPECT_EQ(leftovers(), 0) << size;
    }
    fs::remove(collection);
    EXPECT_EQ(find(), 0);

    Write(collection, bytes);
    SetTempDir((root_ / "none").c_str());
    EXPECT_EQ(find(), 0);
    SetTempDir(temp.c_str());
    // Files no bigger than a kilobyte: the member's copy fails at its write
    // or its close.
    EXPECT_EQ(test_child::InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit small{1024, 1024};
                  if (setrlimit(RLIMIT_FSIZE, &small) != 0) return 2;
                  return find();
              }),
              0);
    EXPECT_EQ(leftovers(), 0);

    // Whole again, the member is copied out.
    qbFoundFont found;
    EXPECT_EQ(FindInstalledFont("DejaVu Sans Bold", -1, 0, false, &found), 1);
    SetTempDir(oldTemp.c_str());
    EXPECT_TRUE(found.temporary);
    EXPECT_EQ(fs::path(found.path).parent_path(), temp);
    std::error_code ec;
    EXPECT_GT(fs::file_size(found.path, ec), 1024u);
}
