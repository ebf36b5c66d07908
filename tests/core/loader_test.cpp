// The applet loader on containers written byte by byte (a good applet with
// header strings, labels and an include table, and damage at every point) and
// on containers the applet writer builds.
#include <cstdint>
#include <string>

#include "applet_fixture.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/preproc.h"

namespace {

// Big-endian container bytes.
struct Bytes {
    std::string b;
    Bytes& u8(int v) {
        b += static_cast<char>(v & 0xFF);
        return *this;
    }
    Bytes& u32(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
    Bytes& raw(const std::string& s) {
        b += s;
        return *this;
    }
    Bytes& cstr(const std::string& s) { return raw(s).u8(0); }
    Bytes& tag(int t) { return u8(t); }
};

Bytes AppletStart() { return Bytes{}.raw(std::string("QBA\0", 4)); }

class LoaderTest : public AppletFixture {
protected:
    using AppletFixture::Load;
    int Load(const std::string& data) { return LoadBytes(std::vector<uint8_t>(data.begin(), data.end())); }
};

TEST_F(LoaderTest, ReadsHeaderLabelsIncludeTableAndBody) {
    Bytes a = AppletStart();
    a.tag(10).u8(6).u8(0);
    a.tag(11).cstr("My Title");
    a.tag(12).cstr("\xFF" "1.0");
    a.tag(14).cstr("An Author");
    a.tag(34).cstr("com.example.app");
    a.tag(0).u32(3).raw("xyz");  // skipped section
    a.tag(9).u32(2).u32(17).cstr("Start").u32(0xFFFFFFFE).cstr("loop");
    a.tag(27).u32(2);
    a.u32(1).u32(40).u32(0).cstr("main.qbs").cstr("");
    a.u32(41).u32(90).u32(9).cstr("inc/lib.qbs").cstr("chunk");
    a.tag(1).u32(5).raw("BODY!");
    a.tag(35).tag(99);  // sections after the body are not read
    ASSERT_EQ(Load(a.b), 0);

    EXPECT_EQ(cl_.appletFlag, 1);
    EXPECT_EQ(applet_.versionMajor, 6);
    EXPECT_EQ(applet_.versionMinor, 0);
    EXPECT_STREQ(applet_.title, "My Title");
    EXPECT_STREQ(applet_.version, "$1.0");
    EXPECT_STREQ(applet_.author, "An Author");
    EXPECT_STREQ(applet_.identifier, "com.example.app");
    EXPECT_EQ(std::string(applet_.scriptBody.begin(), applet_.scriptBody.end()), "BODY!");

    ASSERT_EQ(applet_.includeTable.size(), 2u);
    EXPECT_EQ(applet_.includeTable[0].fileName, "main.qbs");
    EXPECT_EQ(applet_.includeTable[1].firstLine, 41u);
    EXPECT_EQ(applet_.includeTable[1].lastLine, 90u);
    EXPECT_EQ(applet_.includeTable[1].lineOffset, 9u);
    EXPECT_EQ(applet_.includeTable[1].sourceChunkName, "chunk");

    // Label names are stored folded; values are signed 32-bit.
    EXPECT_EQ(VmLookupLabel(L_, "start"), 17);
    EXPECT_EQ(VmLookupLabel(L_, "LOOP"), -2);
    EXPECT_STREQ(VmRegistryGetString(L_, "script"), ":none:");
}

TEST_F(LoaderTest, VersionRule) {
    EXPECT_EQ(Load(AppletStart().tag(10).u8(7).u8(0).tag(1).u32(0).b), ERR_APPLETVERSION);
    EXPECT_STREQ(GetErrorDetail(), "7.0");
    EXPECT_EQ(Load(AppletStart().tag(10).u8(5).u8(9).tag(1).u32(0).b), 0);
    EXPECT_EQ(applet_.versionMinor, 9);
}

TEST_F(LoaderTest, TruncatedFilesUnknownTagsAndAbsurdSizes) {
    const std::pair<Bytes, int> cases[] = {
        {AppletStart().tag(10).u8(6).u8(1), ERR_UNEXPECTEDEOF},  // the end where a tag is due
        // Payloads cut short.
        {AppletStart().tag(10).u8(6), ERR_READ},
        {AppletStart().tag(1).u32(100).raw("short"), ERR_READ},
        {AppletStart().tag(1).u8(0).u8(0), ERR_READ},
        {AppletStart().tag(11).raw("no end"), ERR_READ},
        {AppletStart().tag(9).u32(1).u32(5).raw("lab"), ERR_READ},
        {AppletStart().tag(27).u32(1).u32(1).u32(2).u32(0).cstr("a.qbs").raw("src"), ERR_READ},
        {AppletStart().tag(0).u32(10).raw("abc"), ERR_READ},
        {AppletStart().tag(255), ERR_UNKNOWNSEC},
        {AppletStart().tag(34).cstr("id").tag(36), ERR_UNKNOWNSEC},
        // Sizes and counts that are refused before they are used.
        {AppletStart().tag(1).u32(0xFFFFFFFF).raw("x"), ERR_READ},
        {AppletStart().tag(0).u32(0xFFFFFFF0).tag(1).u32(0), ERR_READ},
        {AppletStart().tag(9).u32(0xFFFFFFFF).u32(1).cstr("a"), ERR_READ},
        {AppletStart().tag(27).u32(0x7FFFFFFF).u32(1), ERR_READ},
    };
    for (const auto& [bytes, code] : cases) EXPECT_EQ(Load(bytes.b), code) << bytes.b.size();
    EXPECT_TRUE(applet_.includeTable.empty());
}

TEST_F(LoaderTest, StringsMustFitTheirFields) {
    std::string s255(255, 'a'), s256(256, 'b');
    EXPECT_EQ(Load(AppletStart().tag(11).cstr(s255).tag(1).u32(0).b), 0);
    EXPECT_EQ(std::string(applet_.title), s255);
    EXPECT_EQ(Load(AppletStart().tag(13).cstr(s256).tag(1).u32(0).b), ERR_READ);
    std::string n1023(1023, 'n'), n1024(1024, 'm');
    Bytes ok = AppletStart().tag(27).u32(1).u32(1).u32(2).u32(0).cstr(n1023).cstr("").tag(1).u32(0);
    EXPECT_EQ(Load(ok.b), 0);
    Bytes bad = AppletStart().tag(27).u32(1).u32(1).u32(2).u32(0).cstr("a").cstr(n1024).tag(1).u32(0);
    applet_.includeTable.clear();
    EXPECT_EQ(Load(bad.b), ERR_READ);
    EXPECT_TRUE(applet_.includeTable.empty());
}

TEST(AppletHeaderTest, PreReadStopsAtTheFirstOtherSection) {
    Bytes a = AppletStart();
    a.tag(10).u8(6).u8(1).tag(29).tag(11).cstr("Title").tag(12).cstr("\xFF").tag(34).cstr("id");
    a.tag(1).u32(0).tag(14).cstr("never");
    qbApplet applet;
    ReadAppletHeaderStrings(reinterpret_cast<const unsigned char*>(a.b.data()), a.b.size(), &applet);
    EXPECT_STREQ(applet.title, "Title");
    EXPECT_STREQ(applet.version, "$");
    EXPECT_STREQ(applet.identifier, "id");
    EXPECT_STREQ(applet.author, "");

    // A string that the pre-read buffer cuts off is left out.
    Bytes cut = AppletStart().tag(11).raw("Unended");
    qbApplet other;
    ReadAppletHeaderStrings(reinterpret_cast<const unsigned char*>(cut.b.data()), cut.b.size(), &other);
    EXPECT_STREQ(other.title, "");
}

TEST_F(LoaderTest, ComplementedIncludeTableReadsLikeTheNamedOne) {
    AppletDesc desc = Minimal();
    desc.includes = {{"main.qbs", "", 1, 40, 0}, {"dir/\xE9t\xE9.qbs", "chunk \x01\xFE", 41, 90, 9}};
    ASSERT_EQ(Load(desc), 0);
    std::vector<qbIncludeEntry> named = applet_.includeTable;
    desc.includeForm = IncludeForm::Complemented;
    ASSERT_EQ(Load(desc), 0);
    ASSERT_EQ(applet_.includeTable.size(), named.size());
    for (size_t i = 0; i < named.size(); ++i) {
        EXPECT_EQ(applet_.includeTable[i].fileName, named[i].fileName);
        EXPECT_EQ(applet_.includeTable[i].sourceChunkName, named[i].sourceChunkName);
        EXPECT_EQ(applet_.includeTable[i].firstLine, named[i].firstLine);
        EXPECT_EQ(applet_.includeTable[i].lineOffset, named[i].lineOffset);
    }
    // The plain form names the applet as every entry's source.
    desc.includeForm = IncludeForm::Plain;
    ASSERT_EQ(Load(desc), 0);
    EXPECT_EQ(applet_.includeTable[1].fileName, named[1].fileName);
    EXPECT_EQ(applet_.includeTable[1].sourceChunkName, path_);
}

TEST_F(LoaderTest, IconsOnlyBehindTheMark) {
    AppletDesc desc = Minimal();
    desc.paddingAfterBody = 100;
    ASSERT_EQ(Load(desc), 0);
    for (const qbIconSlot& slot : GetIconSlots()) EXPECT_TRUE(slot.source.empty());
    // Any other byte than the mark: no icon block.
    std::vector<uint8_t> bytes = BuildApplet(desc);
    bytes.insert(bytes.end(), {'J', 0, 0, 0, 16, 0, 16, 0, 0, 0, 0, 1, 0xAA, 0, 0});
    ASSERT_EQ(LoadBytes(bytes), 0);
    for (const qbIconSlot& slot : GetIconSlots()) EXPECT_TRUE(slot.source.empty());
    // An icon of a size that no slot has is passed over.
    desc.icons = {{17, 17, 0, {1}, {}}, {512, 512, 1, {2, 3}, {}}};
    ASSERT_EQ(Load(desc), 0);
    EXPECT_TRUE(GetIconSlots()[8].source.empty());
    EXPECT_FALSE(GetIconSlots()[17].source.empty());
}

TEST_F(LoaderTest, AppletAppendedToAnotherFile) {
    AppletDesc desc = Minimal();
    desc.linkedFiles = {{"far.bin", {4, 5, 6}, LinkPlacement::Elsewhere, {}, {}}};
    desc.declarations.push_back({});
    desc.declarations[0].type = kDeclBrush;
    desc.declarations[0].name = "brush.png";
    desc.icons = {{24, 24, 0, {7, 7}, {}}};
    std::vector<uint8_t> bytes(1000, 0x90);
    std::vector<uint8_t> applet = BuildApplet(desc);
    bytes.insert(bytes.end(), applet.begin(), applet.end());
    LinkedDataOffset = 1000;
    ASSERT_EQ(LoadBytes(bytes, "player.bin"), 0);
    // Offsets count from the applet base; the icon chunk from the file start.
    EXPECT_EQ(ReadAt(path_, 1000 + applet_.linkedFiles[0].offset, 3), (std::vector<uint8_t>{4, 5, 6}));
    EXPECT_EQ(applet_.preprocessorList.at(0).name, "brush.png");
    qbChunkName chunk;
    ASSERT_TRUE(ParseChunkName(GetIconSlots()[1].source.c_str(), &chunk));
    EXPECT_EQ(ReadAt(path_, chunk.offset, chunk.size), (std::vector<uint8_t>{7, 7}));
}

TEST_F(LoaderTest, CompressedAppletsInflateIntoTheTemporaryFolder) {
    SetTempDir(dir_.str().c_str());
    AppletDesc desc = Minimal();
    desc.compress = true;
    desc.linkedFiles = {{"data.bin", {1, 2, 3}, LinkPlacement::Inline, {}, {}}};
    ASSERT_EQ(Load(desc), 0);
    EXPECT_EQ(cl_.appletFlag, 1);
    EXPECT_EQ(LinkedDataOffset, 0u);
    const std::string inflated = applet_.linkedFiles.at(0).appletPath;
    EXPECT_EQ(std::filesystem::path(inflated).parent_path(), dir_.str());
    EXPECT_TRUE(std::filesystem::exists(inflated));
    DeleteTemporaryFiles();
    EXPECT_FALSE(std::filesystem::exists(inflated));
    SetTempDir("/tmp");
}

// What a start that cannot read its applet gets: the missing file, a folder,
// a name longer than a path, and a compressed applet without a temporary
// folder to inflate into.
TEST_F(LoaderTest, AppletsThatCannotBeOpenedOrInflated) {
    const std::string missing = dir_ / "none.qba";
    std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", missing.c_str());
    EXPECT_EQ(LoadScriptOrApplet(L_, &cl_, &applet_), ERR_FILEEXIST);
    EXPECT_EQ(std::string(GetErrorDetail()), missing);
    std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", dir_.str().c_str());
    EXPECT_EQ(LoadScriptOrApplet(L_, &cl_, &applet_), ERR_NOAPPLET);
    // Relative, it becomes longer than the field once made full.
    std::string deep(sizeof cl_.scriptPath - 2, 'a');
    std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", deep.c_str());
    EXPECT_EQ(LoadScriptOrApplet(L_, &cl_, &applet_), ERR_ARGS);

    const std::string temp = dir_ / "gone";
    SetTempDir(temp.c_str());
    AppletDesc desc = Minimal();
    desc.compress = true;
    EXPECT_EQ(Load(desc), ERR_WRITEFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), temp);
    SetTempDir("/tmp");
}

TEST_F(LoaderTest, BrokenCompressedApplets) {
    AppletDesc desc = Minimal();
    desc.compress = true;
    std::vector<uint8_t> packed = BuildApplet(desc);
    EXPECT_EQ(LoadBytes(std::vector<uint8_t>(packed.begin(), packed.end() - 5)), ERR_ZLIBDATA);
    std::vector<uint8_t> flipped = packed;
    for (size_t i = 12; i < flipped.size() - 4; ++i) flipped[i] ^= 0x5A;
    EXPECT_EQ(LoadBytes(flipped), ERR_ZLIBDATA);
    // What the stream holds must be a plain applet.
    desc.magic = "QBX";
    EXPECT_EQ(Load(desc), ERR_NOAPPLET);
    EXPECT_EQ(std::string(GetErrorDetail()), "test.qba");
    // A damaged applet inside fails like a plain one.
    desc.magic = "QBA";
    desc.bodySizeOverride = 1000;
    EXPECT_EQ(Load(desc), ERR_READ);
}

TEST_F(LoaderTest, HeaderPreReadOfPlainAndCompressedApplets) {
    AppletDesc desc = Minimal();
    desc.headerStrings = {{kTagTitle, "Game"},       {kTagAuthor, "Me"},          {kTagIdentifier, "id.x"},
                          {kTagCopyright, "(c) Us"}, {kTagDescription, "A game"}, {kTagVersionString, "\xFF" "1.2"}};
    desc.body = std::vector<uint8_t>(5000, 0x42);
    for (bool compressed : {false, true}) {
        desc.compress = compressed;
        const std::string path = Write(BuildApplet(desc), compressed ? "z.qba" : "p.qba");
        qbApplet applet;
        ASSERT_EQ(PreReadAppletHeader(path.c_str(), compressed, &applet), 0);
        EXPECT_STREQ(applet.title, "Game");
        EXPECT_STREQ(applet.author, "Me");
        EXPECT_STREQ(applet.identifier, "id.x");
        EXPECT_STREQ(applet.copyright, "(c) Us");
        EXPECT_STREQ(applet.description, "A game");
        EXPECT_STREQ(applet.version, "$1.2");
    }
    std::string broken = Write({'Q', 'B', 'Z', 0, 0, 0, 0, 0, 'x', 'x'}, "bad.qba");
    qbApplet applet;
    EXPECT_EQ(PreReadAppletHeader(broken.c_str(), 1, &applet), ERR_ZLIBDATA);
}

TEST_F(LoaderTest, OlderScreenSettingsAndOverridesReachTheDeclarations) {
    ASSERT_EQ(Load(Minimal()), 0);
    applet_.screenModeOptions.mode = 2;
    applet_.screenModeOptions.scrWidth = 1024;
    applet_.screenModeOptions.titleBar = 1;
    ASSERT_EQ(ApplyScreenModeOptions(&applet_), 0);
    qbPreprocessorEntry* one = FindPreprocessorEntry(&applet_, kDeclDisplay, 1);
    ASSERT_NE(one, nullptr);
    qbDisplayDeclaration* decl = GetDisplayDeclaration(*one);
    EXPECT_EQ(decl->title, "Quenbrook");
    EXPECT_EQ(decl->width, 640);
    EXPECT_EQ(decl->flags, kDispActive);
    EXPECT_EQ(decl->mode, 2);
    EXPECT_EQ(decl->scrWidth, 1024);
    EXPECT_EQ(decl->hideTitleBar, 1);

    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, "Two"), 0);
    applet_.preprocessorList.back().id = 2;
    applet_.overrides.flags = kDispBorderless;
    applet_.overrides.scaleWidth = -50;
    applet_.overrides.backfill.type = 1;
    applet_.overrides.backfill.startColor = 0xFF;
    ASSERT_EQ(ApplyDisplayOverrides(&applet_, &cl_), 0);
    decl = GetDisplayDeclaration(applet_.preprocessorList[0]);
    EXPECT_EQ(decl->flags, kDispActive | kDispBorderless);
    EXPECT_EQ(decl->scaleWidth, -50);
    EXPECT_EQ(decl->backfill.startColor, 0xFF);
    // Only display 1 takes the overrides, unless all displays are asked for.
    EXPECT_EQ(GetDisplayDeclaration(applet_.preprocessorList[1])->flags, kDispActive);
    cl_.allDisplays = 1;
    ASSERT_EQ(ApplyDisplayOverrides(&applet_, &cl_), 0);
    EXPECT_EQ(GetDisplayDeclaration(applet_.preprocessorList[1])->scaleWidth, -50);
}

}  // namespace
