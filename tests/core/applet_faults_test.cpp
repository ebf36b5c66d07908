// Damaged applets: offsets and sizes that point outside the file, strings
// longer than their fields or cut off, absurd counts and over-deep menus.
// Each gives its error code; what was read before the fault stays listed.
#include "applet_fixture.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "peak_memory.h"

namespace {

using AppletFaultTest = AppletFixture;

DeclarationDesc Brush(const std::string& name) {
    DeclarationDesc d;
    d.type = kDeclBrush;
    d.name = name;
    return d;
}

TEST_F(AppletFaultTest, DeclarationNamesAndLinkedDataMustLieInTheFile) {
    AppletDesc desc = Minimal();
    desc.declarations = {Brush("good.png"), Brush("bad.png")};
    ASSERT_EQ(Load(desc), 0);
    ASSERT_EQ(applet_.preprocessorList.size(), 2u);

    desc.declarations[1].nameOffset = 0xFFFFFF00;
    EXPECT_EQ(Load(desc), ERR_READ);
    ASSERT_EQ(applet_.preprocessorList.size(), 1u);
    EXPECT_EQ(applet_.preprocessorList[0].name, "good.png");

    desc.declarations[1].nameOffset.reset();
    desc.declarations[1].nameSize = 0xFFFFFFFF;
    EXPECT_EQ(Load(desc), ERR_READ);
    // A name whose NUL lies outside its size.
    desc.declarations[1].nameSize = 3;
    EXPECT_EQ(Load(desc), ERR_READ);
    // Size 0: no name at all.
    desc.declarations[1].nameSize = 0;
    ASSERT_EQ(Load(desc), 0);
    EXPECT_EQ(applet_.preprocessorList[1].name, "");

    desc.declarations[1].nameSize.reset();
    desc.declarations[1].linkedData = std::vector<uint8_t>{1, 2, 3};
    desc.declarations[1].linkedSize = 1u << 30;
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.declarations[1].linkedSize.reset();
    desc.declarations[1].linkedOffset = 0xFFFFFFFE;
    EXPECT_EQ(Load(desc), ERR_READ);
}

// A name whose size claims more than a gigabyte that the file holds (as a
// hole): the name is read to its zero byte, never to the claim.
TEST_F(AppletFaultTest, ANameIsReadToItsEndNotToItsClaim) {
    AppletDesc desc = Minimal();
    desc.declarations = {Brush("good.png"), Brush("named.png")};
    desc.declarations[1].nameSize = 1400000000;
    // A byte that is no icon block ends the zeros after the body at once.
    std::vector<uint8_t> bytes = BuildApplet(desc);
    bytes.push_back(1);
    const std::string path = Write(bytes, "claims.qba");
    std::filesystem::resize_file(path, uint64_t{3} << 29);
    applet_ = qbApplet{};
    cl_ = qbCommandLine{};
    VmRegistrySetLightUserdata(L_, "applet", &applet_);
    VmRegistrySetLightUserdata(L_, "clargs", &cl_);
    std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "%s", path.c_str());
    cl_.quiet = 1;
    int err = -1;
    EXPECT_LT(PeakGrowth([&] { err = LoadScriptOrApplet(L_, &cl_, &applet_); }), 32u << 20);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(applet_.preprocessorList.size(), 2u);
    EXPECT_EQ(applet_.preprocessorList[1].name, "named.png");
}

TEST_F(AppletFaultTest, LinkedFilesMustLieInTheFile) {
    AppletDesc desc = Minimal();
    desc.linkedFiles = {{"ok.bin", {1}, LinkPlacement::Inline, {}, {}}, {"far.bin", {1, 2}, LinkPlacement::Elsewhere, {}, {}}};
    ASSERT_EQ(Load(desc), 0);
    desc.linkedFiles[1].offsetOverride = 0x7FFFFFFF;
    EXPECT_EQ(Load(desc), ERR_READ);
    EXPECT_EQ(applet_.linkedFiles.size(), 1u);
    desc.linkedFiles[1].offsetOverride.reset();
    desc.linkedFiles[1].sizeOverride = 0xFFFFFFF0;
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.linkedFiles[1] = {"inline.bin", {1, 2}, LinkPlacement::Inline, 0x10000000u, {}};
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.linkedFiles[1] = {std::string(1024, 'n'), {1}, LinkPlacement::Inline, {}, {}};
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.linkedFiles[1].name.resize(1023);
    EXPECT_EQ(Load(desc), 0);
}

TEST_F(AppletFaultTest, StringsLongerThanTheirFields) {
    AppletDesc desc = Minimal({6, 0});
    desc.declarations = {Brush("x")};
    desc.declarations[0].loader = std::string(255, 'l');
    ASSERT_EQ(Load(desc), 0);
    EXPECT_EQ(applet_.preprocessorList[0].loader.size(), 255u);
    desc.declarations[0].adapter = std::string(256, 'a');
    EXPECT_EQ(Load(desc), ERR_READ);
    EXPECT_TRUE(applet_.preprocessorList.empty());

    DeclarationDesc display;
    display.type = kDeclDisplay;
    display.display.title = std::string(256, 't');
    desc.declarations = {display};
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.declarations[0].display.title.resize(255);
    EXPECT_EQ(Load(desc), 0);

    desc.declarations.clear();
    desc.rawSections = {DisplayTitleSection(std::string(300, 'o'))};
    EXPECT_EQ(Load(desc), ERR_READ);
    // A negative short-string length.
    desc.rawSections = {{kTagDisplayTitle, {0xFF, 0xFF}}};
    EXPECT_EQ(Load(desc), ERR_READ);

    desc.rawSections.clear();
    desc.constants = {{"big", true, std::string(65535, 'v'), 0}};
    ASSERT_EQ(Load(desc), 0);
    desc.constants[0].text.push_back('v');
    EXPECT_EQ(Load(desc), ERR_READ);

    // A complemented name cut off before its end byte.
    desc.constants.clear();
    desc.rawSections = {{kTagIncludeComplemented, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0x9E, 0x9D}}};
    EXPECT_EQ(Load(desc), ERR_READ);
}

TEST_F(AppletFaultTest, PluginTagsMustFitTheirNode) {
    AppletDesc desc = Minimal();
    DeclarationDesc plugin;
    plugin.type = kDeclPlugin;
    plugin.name = "p";
    plugin.pluginTags = {{"key", true, "value", 0, {}}};
    desc.declarations = {plugin};
    ASSERT_EQ(Load(desc), 0);
    desc.declarations[0].pluginTags[0].length = 9;  // "key", NUL and four of "value"'s six bytes
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.declarations[0].pluginTags[0].length = 0;
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.declarations[0].pluginTags[0] = {"n", false, "", 2.0, 2};
    EXPECT_EQ(Load(desc), 0);
    // A count that the rest of the file cannot hold.
    desc.declarations[0].rawRecord = std::vector<uint8_t>{0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Load(desc), ERR_READ);
}

MenuItemDesc Nest(int depth) {
    MenuItemDesc item{"level", "", "", 0, {}};
    if (depth > 1) item.submenu.push_back(Nest(depth - 1));
    return item;
}

TEST_F(AppletFaultTest, MenusNestAtMostSixtyFourLevels) {
    AppletDesc desc = Minimal();
    DeclarationDesc menu;
    menu.type = kDeclMenu;
    menu.menu = {Nest(64)};
    desc.declarations = {menu};
    ASSERT_EQ(Load(desc), 0);
    desc.declarations[0].menu = {Nest(65)};
    EXPECT_EQ(Load(desc), ERR_MENUCOMPLEXITY);
    // Deep enough to matter, shallow enough that building the fixture's own
    // nested records does not exhaust the test's stack under the sanitizers.
    desc.declarations[0].menu = {Nest(300)};
    EXPECT_EQ(Load(desc), ERR_MENUCOMPLEXITY);
    // A tree that the file ends inside.
    std::vector<uint8_t> cut;
    PutMenu(cut, {Nest(3)});
    cut.resize(cut.size() - 2);
    desc.declarations[0].rawRecord = cut;
    EXPECT_EQ(Load(desc), ERR_READ);
}

TEST_F(AppletFaultTest, CountsTheFileCannotHold) {
    AppletDesc desc = Minimal();
    const std::vector<std::vector<uint8_t>> sections = {
        {kTagDeclarations, 0x10, 0, 0, 0},
        {kTagLinkedFiles, 0x10, 0, 0, 0, 0, 0, 0, 0},
        {kTagIncludePlain, 0x10, 0, 0, 0},
        {kTagIncludeComplemented, 0x10, 0, 0, 0},
    };
    for (const auto& bytes : sections) {
        desc.rawSections = {{bytes[0], std::vector<uint8_t>(bytes.begin() + 1, bytes.end())}};
        EXPECT_EQ(Load(desc), ERR_READ) << int(bytes[0]);
    }
    DeclarationDesc display;
    display.type = kDeclDisplay;
    display.display.dragRegions = {{}};
    std::vector<uint8_t> record;
    PutDisplay(record, display.display, {6, 1});
    record[40] = 0x7F;  // the drag-region count
    display.rawRecord = record;
    desc.rawSections.clear();
    desc.declarations = {display};
    EXPECT_EQ(Load(desc), ERR_READ);

    DeclarationDesc bgpic;
    bgpic.type = kDeclBGPic;
    bgpic.bgpic.gradient.stops = {{1, 2}};
    record.clear();
    PutTypeRecord(record, bgpic, {5, 0});
    record[record.size() - 9] = 200;  // the stop count
    bgpic.rawRecord = record;
    desc.version = AppletVersionPair{5, 0};
    desc.declarations = {bgpic};
    EXPECT_EQ(Load(desc), ERR_READ);
}

TEST_F(AppletFaultTest, IconBlocksCutShort) {
    AppletDesc desc = Minimal();
    desc.icons = {{16, 16, 0, {1, 2, 3}, {}}};
    ASSERT_EQ(Load(desc), 0);
    desc.icons[0].sizeOverride = 1000;
    EXPECT_EQ(Load(desc), ERR_READ);
    desc.icons[0].sizeOverride.reset();
    std::vector<uint8_t> bytes = BuildApplet(desc);
    bytes.resize(bytes.size() - 1);  // the end entry is cut in half
    EXPECT_EQ(LoadBytes(bytes), ERR_READ);
}

TEST_F(AppletFaultTest, FaultsInsideCompressedApplets) {
    AppletDesc desc = Minimal();
    desc.compress = true;
    desc.declarations = {Brush("a"), Brush("b")};
    desc.declarations[1].nameOffset = 0xFFFF0000;
    EXPECT_EQ(Load(desc), ERR_READ);
    EXPECT_EQ(applet_.preprocessorList.size(), 1u);
    desc.declarations.clear();
    desc.icons = {{16, 16, 0, {1, 2, 3}, 100}};
    EXPECT_EQ(Load(desc), ERR_READ);
}

}  // namespace
