// Every section tag of the applet container, written by the applet writer
// with the record layouts of each applet version and read back by the loader.
#include <variant>

#include "applet_fixture.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/preproc.h"

namespace {

// Writes one of every section and every declaration type.
AppletDesc EverySection(AppletVersionPair v) {
    AppletDesc desc;
    desc.version = v;
    desc.headerStrings = {{kTagTitle, "Title"},       {kTagVersionString, "\xFF" "1.2"}, {kTagCopyright, "(c)"},
                          {kTagAuthor, "Author"},     {kTagDescription, "Desc"},         {kTagIdentifier, "com.x"}};
    desc.labels = {{"Start", 5}, {"End", 99}};
    desc.includes = {{"main.qbs", "", 1, 50, 0}, {"lib.qbs", "src", 51, 60, 3}};

    DeclarationDesc bgpic;
    bgpic.type = kDeclBGPic;
    bgpic.name = "bg.png";
    bgpic.valueA = 0xFF00FF;
    bgpic.valueB = 2;
    bgpic.sourceLine = 10;
    bgpic.loader = "png";
    bgpic.adapter = "ad";
    bgpic.bgpic = {2, 0x112233, 0x445566, 45, 7, 8, 9, {3, 250000, 750000, 100000, 200000, {{0xAA, 0}, {0xBB, 1000000}}},
                   320, 240, 1};
    DeclarationDesc brush;
    brush.type = kDeclBrush;
    brush.id = 2;
    brush.name = "b.png";
    brush.linkedData = std::vector<uint8_t>{1, 2, 3, 4, 5};
    brush.image.width = 10;
    brush.image.height = 20;
    brush.image.x = 3;
    brush.image.y = 4;
    brush.image.globalAlpha = 128;
    brush.image.hardware = 1;
    brush.image.scaleWidth = 5;
    brush.image.scaleHeight = 6;
    brush.image.smoothScale = 1;
    brush.image.display = 2;
    DeclarationDesc anim;
    anim.type = kDeclAnim;
    anim.id = 3;
    anim.name = "a.gif";
    anim.image = {30, 40, 1, 2, 5, 3, -1, 0, 1, 1, 1, 0, 0, 0, 0};
    DeclarationDesc button;
    button.type = kDeclButton;
    button.id = 6;
    button.button = {1, 2, 3, 4};
    DeclarationDesc sprite;
    sprite.type = kDeclSprite;
    sprite.id = 8;
    sprite.name = "s.png";
    sprite.image = {8, 9, 0, 1, 2, 2, -1, 0, 0, 0, 0, 0, 0, 0, 0};
    DeclarationDesc font;
    font.type = kDeclFont;
    font.id = 10;
    font.name = ":::default_sans";
    font.valueA = 12;
    DeclarationDesc display;
    display.type = kDeclDisplay;
    display.id = 2;
    DisplayDesc& d = display.display;
    d = {};
    d.bgpic = 4;
    d.x = 11;
    d.y = 12;
    d.width = 320;
    d.height = 200;
    d.color = 0x00FF00;
    d.flags = 0x1002;
    d.scaleWidth = 640;
    d.scaleHeight = 400;
    d.dragRegions = {{14, 0, 0, 10, 10}};
    d.sizeRegions = {{14, 1, 2, 3, 4}, {14, 5, 6, 7, 8}};
    d.title = "Second";
    d.fillStyle = 2;
    d.endColor = 0x0000FF;
    d.angle = 90;
    d.textureBrush = 3;
    d.gradient = {1, 100000, 200000, 300000, 400000, {{0xCC, 500000}}};
    d.strings[0] = "n52";
    d.strings[1] = "s1";
    d.strings[2] = "s2";
    d.strings[3] = "s3";
    d.orientation = 2;
    d.monitor = 1;
    d.menuGiven = 1;
    d.menu = 7;
    d.mode = 3;
    d.desktop = 1;
    d.scrWidth = 800;
    d.scrHeight = 600;
    d.scrDepth = 32;
    d.hideTitleBar = 1;
    d.backfill = {2, 0x111111, 0x222222, 0, 0, 0, 0, 0};
    DeclarationDesc plugin;
    plugin.type = kDeclPlugin;
    plugin.name = "myplug";
    plugin.valueA = 2;
    plugin.valueB = 5;
    plugin.pluginTags = {{"level", false, "", 3.5, {}}, {"mode", true, "fast", 0, {}}};
    DeclarationDesc menu;
    menu.type = kDeclMenu;
    menu.menu = {{"File", "", "", 0, {{"Open", "open", "O", 1, {}}, {"Quit", "quit", "", 0, {}}}},
                 {"Help", "help", "", 2, {}}};
    desc.declarations = {bgpic, brush, anim, button, sprite, font, display, plugin, menu};
    for (uint8_t type : {3, 4, 6, 8, 11, 14}) {
        DeclarationDesc plain;
        plain.type = type;
        plain.id = 20u + type;
        plain.name = "name" + std::to_string(type);
        desc.declarations.push_back(plain);
    }

    desc.linkedFiles = {{"data.bin", {9, 8, 7}, LinkPlacement::Inline, {}, {}},
                        {"::font:Sans", {1, 2}, LinkPlacement::Elsewhere, {}, {}},
                        {"gone.bin", {}, LinkPlacement::Dropped, {}, {}}};
    desc.constants = {{"MYCONST", false, "", 42.5}, {"GREETING", true, "hi", 0}};
    desc.timer = TimerDesc{1, 100, 200, 3};
    desc.rawSections = {DisplayTitleSection("Old"),
                        DisplaySizeSection(800, 600),
                        DisplayColorSection(0x123456),
                        DisplayPositionSection(10, 20),
                        ByteSection(kTagBorderless, 1),
                        ByteSection(kTagFixed, 1),
                        ByteSection(kTagSizeable, 0),
                        ByteSection(kTagHidePointer, 1),
                        ByteSection(kTagNoModeSwitch, 1),
                        ByteSection(kTagNoHide, 1),
                        ScaleSection(1, 50, 60, 1),
                        DesktopSection(),
                        ByteSection(kTagScreenMode, 2),
                        BackfillSection({4, 0xA0A0A0, 0xB0B0B0, 9, 15, 25, 1, 1}, v),
                        ByteSection(kTagTitleBar, 1),
                        ScreenSizeSection(1024, 768),
                        ByteSection(kTagScreenDepth, 24),
                        OverrideLockSection(),
                        SkipSection({1, 2, 3})};
    desc.body = std::vector<uint8_t>{0x1B, 'Q', 'B', 'B'};
    desc.paddingAfterBody = 5;
    desc.icons = {{16, 16, 0, {0x10, 0x11}, {}}, {32, 32, 3, {0x20, 0x21, 0x22}, {}}, {20, 20, 0, {0x30}, {}}};
    return desc;
}

class AppletTagsTest : public AppletFixture, public ::testing::WithParamInterface<AppletVersionPair> {
protected:
    bool At(int major, int minor) const { return VersionAtLeast(GetParam(), major, minor); }

    const qbPreprocessorEntry& Entry(size_t i) const { return applet_.preprocessorList.at(i); }

    template <typename T>
    const T& Record(size_t i) const {
        return std::get<T>(Entry(i).record);
    }
};

TEST_P(AppletTagsTest, EverySectionReadsBackWithTheLayoutOfItsVersion) {
    ASSERT_EQ(Load(EverySection(GetParam())), 0);

    EXPECT_EQ(applet_.versionMajor, GetParam().first);
    EXPECT_EQ(applet_.versionMinor, GetParam().second);
    EXPECT_STREQ(applet_.title, "Title");
    EXPECT_STREQ(applet_.identifier, "com.x");
    EXPECT_EQ(applet_.scriptBody, (std::vector<uint8_t>{0x1B, 'Q', 'B', 'B'}));
    EXPECT_EQ(VmLookupLabel(L_, "start"), 5);
    EXPECT_EQ(VmLookupLabel(L_, "end"), 99);
    ASSERT_EQ(applet_.includeTable.size(), 2u);
    EXPECT_EQ(applet_.includeTable[1].sourceChunkName, "src");

    // Fifteen declarations and display 1 of the older sections.
    ASSERT_EQ(applet_.preprocessorList.size(), 16u);
    const qbPreprocessorEntry& bg = Entry(0);
    EXPECT_EQ(bg.name, "bg.png");
    EXPECT_EQ(bg.valueA, 0xFF00FF);
    EXPECT_EQ(bg.sourceLine, 10);
    EXPECT_EQ(bg.appletPath, path_);
    EXPECT_EQ(bg.loader, At(6, 0) ? "png" : "");
    EXPECT_EQ(bg.adapter, At(6, 0) ? "ad" : "");
    const auto& b = Record<qbBGPicRecord>(0);
    EXPECT_EQ(b.fillStyle, At(4, 7) ? 2 : 0);
    EXPECT_EQ(b.fillColor, At(4, 7) ? 0x112233 : 0);
    EXPECT_EQ(b.gradient.startColor, At(4, 7) ? 0x112233 : 0);
    EXPECT_EQ(b.gradient.endColor, At(4, 7) ? 0x445566 : 0);
    EXPECT_EQ(b.gradient.angle, At(4, 7) ? 45 : 0);
    EXPECT_EQ(b.textureY, At(4, 7) ? 9 : 0);
    EXPECT_EQ(b.gradient.style, At(5, 0) ? 3 : 2);
    EXPECT_DOUBLE_EQ(b.gradient.centerX, At(5, 0) ? 0.25 : 0.5);
    EXPECT_DOUBLE_EQ(b.gradient.centerY, At(5, 0) ? 0.75 : 0.5);
    EXPECT_DOUBLE_EQ(b.gradient.border, At(5, 0) ? 0.2 : 0.0);
    ASSERT_EQ(b.gradient.stops.size(), At(5, 0) ? 2u : 0u);
    if (At(5, 0)) {
        EXPECT_EQ(b.gradient.stops[1].color, 0xBB);
        EXPECT_DOUBLE_EQ(b.gradient.stops[1].position, 1.0);
    }
    EXPECT_EQ(b.scaleWidth, At(5, 3) ? 320 : 0);
    EXPECT_EQ(b.smoothScale, At(5, 3) ? 1 : 0);

    const auto& brush = Record<qbImageRecord>(1);
    EXPECT_EQ(brush.globalAlpha, 128);
    EXPECT_EQ(brush.hardware, At(5, 0) ? 1 : 0);
    EXPECT_EQ(brush.scaleHeight, At(5, 3) ? 6 : 0);
    EXPECT_EQ(brush.display, At(6, 0) ? 2 : 0);
    EXPECT_EQ(ReadAt(path_, Entry(1).linkedOffset, Entry(1).linkedSize), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    const auto& anim = Record<qbImageRecord>(2);
    EXPECT_EQ(anim.fromDisk, 1);
    EXPECT_EQ(anim.width, At(4, 1) ? 30 : 0);
    EXPECT_EQ(anim.frames, At(4, 1) ? 5 : 0);
    EXPECT_EQ(anim.framesPerRow, At(4, 1) ? 3 : 0);
    EXPECT_EQ(anim.skipLoopFrames, At(5, 3) ? 1 : 0);
    EXPECT_EQ(anim.deinterlace, At(5, 3) ? 1 : 0);

    const auto& button = Record<qbButtonRecord>(3);
    EXPECT_EQ(button.y2, 4);
    const auto& sprite = Record<qbImageRecord>(4);
    EXPECT_EQ(sprite.frames, 2);
    // Fonts the player provides are no files of the applet.
    EXPECT_EQ(Entry(5).flag, 0);

    const auto& decl = Record<qbDisplayDeclaration>(6);
    EXPECT_EQ(decl.gradient.startColor, 0x00FF00);
    EXPECT_EQ(decl.flags, 0x1002u);
    ASSERT_EQ(decl.sizeRegions.size(), 2u);
    EXPECT_EQ(decl.sizeRegions[1].height, 8);
    EXPECT_EQ(decl.title, "Second");
    EXPECT_EQ(decl.fillStyle, At(4, 7) ? 2 : 1);
    EXPECT_EQ(decl.gradient.angle, At(4, 7) ? 90 : 0);
    EXPECT_EQ(decl.textureBrush, At(4, 7) ? 3 : 0);
    EXPECT_DOUBLE_EQ(decl.gradient.balance, At(5, 0) ? 0.3 : 0.5);
    EXPECT_EQ(decl.extraStrings[0], At(5, 2) ? "n52" : "");
    EXPECT_EQ(decl.orientation, At(5, 3) ? 2 : 0);
    EXPECT_EQ(decl.monitor, At(6, 0) ? 1 : 0);
    EXPECT_EQ(decl.menu, At(6, 0) ? 7 : -1);
    EXPECT_EQ(decl.mode, At(6, 0) ? 3 : 1);
    EXPECT_EQ(decl.scrHeight, At(6, 0) ? 600 : 0);
    EXPECT_EQ(decl.scrDepth, At(6, 0) ? 32 : 0);
    EXPECT_EQ(decl.hideTitleBar, At(6, 0) ? 1 : 0);
    EXPECT_EQ(decl.backfill.type, At(6, 0) ? 2 : 0);
    EXPECT_EQ(decl.backfill.endColor, At(6, 0) ? 0x222222 : -1);
    EXPECT_EQ(decl.extraStrings[3], At(6, 0) ? "s3" : "");

    EXPECT_EQ(Entry(7).name, "myplug");
    const auto& tags = Record<qbPluginTagList>(7);
    ASSERT_EQ(tags.size(), At(6, 0) ? 2u : 0u);
    if (At(6, 0)) {
        EXPECT_EQ(tags[0].key, "level");
        EXPECT_FALSE(tags[0].isText);
        EXPECT_EQ(tags[0].number, 3.5);
        EXPECT_TRUE(tags[1].isText);
        EXPECT_EQ(tags[1].text, "fast");
    }

    const auto& menu = Record<qbMenuTree>(8);
    ASSERT_EQ(menu.size(), 2u);
    ASSERT_EQ(menu[0].submenu.size(), 2u);
    EXPECT_EQ(menu[0].submenu[0].id, "open");
    EXPECT_EQ(menu[0].submenu[0].flags, 1u);
    EXPECT_EQ(menu[1].id, "help");
    EXPECT_TRUE(menu[1].submenu.empty());

    const int plainTypes[] = {3, 4, 6, 8, 11, 14};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(Entry(9 + i).type, plainTypes[i]);
        EXPECT_EQ(Entry(9 + i).name, "name" + std::to_string(plainTypes[i]));
        EXPECT_TRUE(std::holds_alternative<std::monostate>(Entry(9 + i).record));
    }

    // Display 1 as the older sections describe it, titled by tag 4.
    const qbPreprocessorEntry& one = Entry(15);
    EXPECT_EQ(one.type, kDeclDisplay);
    const auto& d1 = Record<qbDisplayDeclaration>(15);
    EXPECT_EQ(d1.title, "Old");
    EXPECT_EQ(d1.width, 800);
    EXPECT_EQ(d1.color, 0x123456);
    EXPECT_EQ(d1.x, 10);
    EXPECT_EQ(d1.flags, kDispActive | kDispBorderless | kDispFixed | kDispHidePointer | kDispNoModeSwitch | kDispNoHide |
                            kDispLayerScale | kDispSmoothScale);
    EXPECT_EQ(d1.scaleWidth, 50);
    EXPECT_EQ(d1.scaleHeight, 60);

    const qbScreenModeOptions& screen = applet_.screenModeOptions;
    EXPECT_EQ(screen.desktop, 1);
    EXPECT_EQ(screen.mode, 2);
    EXPECT_EQ(screen.titleBar, 1);
    EXPECT_EQ(screen.scrWidth, 1024);
    EXPECT_EQ(screen.scrDepth, 24);
    EXPECT_EQ(screen.backfill.type, 4);
    EXPECT_EQ(screen.backfill.brush, 9);
    EXPECT_EQ(screen.backfill.x, 15);
    EXPECT_EQ(screen.backfill.scalePicture, At(3, 2) ? 1 : 0);
    EXPECT_EQ(screen.backfill.smoothScale, At(6, 0) ? 1 : 0);
    EXPECT_EQ(cl_.displayOverrideLock, 1);

    ASSERT_EQ(applet_.linkedFiles.size(), 2u);
    for (const qbLinkedFile& f : applet_.linkedFiles) EXPECT_EQ(f.appletPath, path_);
    EXPECT_EQ(ReadAt(path_, applet_.linkedFiles[0].offset, applet_.linkedFiles[0].size), (std::vector<uint8_t>{9, 8, 7}));
    EXPECT_EQ(applet_.linkedFiles[1].name, "::font:Sans");
    EXPECT_EQ(ReadAt(path_, applet_.linkedFiles[1].offset, applet_.linkedFiles[1].size), (std::vector<uint8_t>{1, 2}));

    const char* text = nullptr;
    double number = 0;
    ASSERT_TRUE(VmLookupConstant(L_, "MYCONST", &text, &number));
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(number, 42.5);
    ASSERT_TRUE(VmLookupConstant(L_, "greeting", &text, &number));
    EXPECT_STREQ(text, "hi");

    EXPECT_EQ(TimerSettings.flags, 1u);
    EXPECT_EQ(TimerSettings.value1, At(6, 0) ? 100 : -1);
    EXPECT_EQ(TimerSettings.value2, At(6, 0) ? 200 : -1);
    EXPECT_EQ(TimerSettings.byte, At(6, 0) ? 3 : 0);

    // The icons stay in the file; their slots name them by chunk.
    auto& slots = GetIconSlots();
    qbChunkName chunk;
    ASSERT_TRUE(ParseChunkName(slots[0].source.c_str(), &chunk)) << slots[0].source;
    EXPECT_EQ(chunk.fileName, "16x16");
    EXPECT_EQ(ReadAt(chunk.containerPath, chunk.offset, chunk.size), (std::vector<uint8_t>{0x10, 0x11}));
    EXPECT_EQ(slots[0].option, 0);
    ASSERT_TRUE(ParseChunkName(slots[11].source.c_str(), &chunk)) << slots[11].source;
    EXPECT_EQ(ReadAt(chunk.containerPath, chunk.offset, chunk.size), (std::vector<uint8_t>{0x20, 0x21, 0x22}));
    EXPECT_EQ(slots[11].option, 1);
    int filled = 0;
    for (const qbIconSlot& slot : slots) filled += !slot.source.empty();
    EXPECT_EQ(filled, 2);
}

TEST_P(AppletTagsTest, CompressedTwinReadsTheSame) {
    AppletDesc desc = EverySection(GetParam());
    ASSERT_EQ(Load(desc), 0);
    qbApplet plain = applet_;
    std::array<std::string, kIconSlotCount> plainIcons;
    for (int i = 0; i < kIconSlotCount; ++i) plainIcons[static_cast<size_t>(i)] = GetIconSlots()[static_cast<size_t>(i)].source;
    FreeIconPaths();

    desc.compress = true;
    ASSERT_EQ(Load(desc, "packed.qba"), 0);
    EXPECT_EQ(applet_.scriptBody, plain.scriptBody);
    EXPECT_STREQ(applet_.title, plain.title);
    ASSERT_EQ(applet_.preprocessorList.size(), plain.preprocessorList.size());
    ASSERT_EQ(applet_.linkedFiles.size(), plain.linkedFiles.size());
    // Linked data and declarations are read from the inflated file.
    const std::string inflated = applet_.linkedFiles[0].appletPath;
    EXPECT_NE(inflated, path_);
    EXPECT_EQ(applet_.preprocessorList[1].appletPath, inflated);
    EXPECT_EQ(ReadAt(inflated, applet_.linkedFiles[0].offset, applet_.linkedFiles[0].size),
              (std::vector<uint8_t>{9, 8, 7}));
    // The icons follow the stream in the outer file.
    qbChunkName chunk;
    ASSERT_TRUE(ParseChunkName(GetIconSlots()[11].source.c_str(), &chunk));
    EXPECT_EQ(chunk.containerPath, path_);
    EXPECT_EQ(ReadAt(path_, chunk.offset, chunk.size), (std::vector<uint8_t>{0x20, 0x21, 0x22}));
    EXPECT_FALSE(plainIcons[11].empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, AppletTagsTest,
                         ::testing::Values(AppletVersionPair{3, 1}, AppletVersionPair{4, 0}, AppletVersionPair{4, 1},
                                           AppletVersionPair{4, 7}, AppletVersionPair{5, 0}, AppletVersionPair{5, 2},
                                           AppletVersionPair{5, 3}, AppletVersionPair{6, 0}, AppletVersionPair{6, 1}),
                         [](const auto& info) {
                             return "v" + std::to_string(info.param.first) + "_" + std::to_string(info.param.second);
                         });

}  // namespace
