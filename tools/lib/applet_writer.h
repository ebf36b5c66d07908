// Writer of applet containers: magic, tagged sections (all numbers big-endian)
// with the layouts of the applet version written, the script-body section
// last, an optional icon block, and the compressed form. Every field can be
// given a wrong value on request, for tests of damaged applets.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum AppletTag : uint8_t {
    kTagSkip = 0,
    kTagBody = 1,
    kTagDeclarations = 2,
    kTagDisplaySize = 3,
    kTagDisplayTitle = 4,
    kTagDisplayColor = 5,
    kTagDisplayPosition = 6,
    kTagDesktop = 7,
    kTagIncludePlain = 8,
    kTagLabels = 9,
    kTagVersion = 10,
    kTagTitle = 11,
    kTagVersionString = 12,
    kTagCopyright = 13,
    kTagAuthor = 14,
    kTagDescription = 15,
    kTagScreenMode = 16,
    kTagBackfill = 17,
    kTagBorderless = 18,
    kTagFixed = 19,
    kTagSizeable = 20,
    kTagTitleBar = 21,
    kTagScreenSize = 22,
    kTagScreenDepth = 23,
    kTagHidePointer = 24,
    kTagNoModeSwitch = 25,
    kTagLinkedFiles = 26,
    kTagIncludeNamed = 27,
    kTagScale = 28,
    kTagOverrideLock = 29,
    kTagNoHide = 30,
    kTagConstants = 31,
    kTagTimer = 32,
    kTagIncludeComplemented = 33,
    kTagIdentifier = 34,
};

using AppletVersionPair = std::pair<uint8_t, uint8_t>;

// Whether version is at least major.minor.
bool VersionAtLeast(AppletVersionPair version, int major, int minor);

struct AppletLabel {
    std::string name;
    uint32_t value = 0;
};

struct AppletInclude {
    std::string file;
    std::string source;  // source chunk name, empty for a chunk without one
    uint32_t first = 0, last = 0, offset = 0;
};

enum class IncludeForm { Plain, Named, Complemented };

struct AppletSection {
    uint8_t tag = 0;
    std::vector<uint8_t> payload;
};

struct GradientDesc {
    uint8_t style = 2;
    uint32_t centerX = 500000, centerY = 500000, balance = 500000, border = 0;  // millionths
    std::vector<std::pair<uint32_t, uint32_t>> stops;                           // colour, millionths
};

struct BackfillDesc {
    uint8_t type = 0;
    uint32_t color = 0, endColor = 0, brush = 0, x = 0, y = 0;
    uint8_t scalePicture = 0, smoothScale = 0;
};

struct RegionDesc {
    uint32_t type = 14, x = 0, y = 0, width = 1, height = 1;
};

struct DisplayDesc {
    uint32_t bgpic = 0, x = 0, y = 0, width = 640, height = 480, color = 0, flags = 0, skipped = 0;
    uint32_t scaleWidth = 0, scaleHeight = 0;
    std::vector<RegionDesc> dragRegions, sizeRegions;
    std::string title = "Display";
    uint8_t fillStyle = 1;
    uint32_t endColor = 0;
    int16_t angle = 0;
    uint32_t textureBrush = 0, textureX = 0, textureY = 0;
    GradientDesc gradient;
    std::string strings[4];  // the name of 5.2 and the three of 6.0
    uint8_t orientation = 0, monitor = 0, menuGiven = 0;
    uint32_t menu = 0;
    uint8_t mode = 1, desktop = 0;
    int16_t scrWidth = 0, scrHeight = 0;
    uint8_t scrDepth = 0, hideTitleBar = 0;
    BackfillDesc backfill;
};

struct BGPicDesc {
    uint8_t fillStyle = 0;
    uint32_t fillColor = 0, endColor = 0;
    int16_t angle = 0;
    uint32_t textureBrush = 0, textureX = 0, textureY = 0;
    GradientDesc gradient;
    uint32_t scaleWidth = 0, scaleHeight = 0, smoothScale = 0;
};

// Brushes, anims and sprites; each writes the fields of its own layout.
struct ImageDesc {
    int16_t width = 0, height = 0, x = 0, y = 0, frames = 0, framesPerRow = 0, globalAlpha = -1;
    uint8_t hardware = 0, fromDisk = 0, skipLoopFrames = 0, deinterlace = 0;
    uint32_t scaleWidth = 0, scaleHeight = 0, smoothScale = 0, display = 0;
};

struct ButtonDesc {
    int16_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct PluginTagDesc {
    std::string key;
    bool isText = false;
    std::string text;
    double number = 0.0;
    std::optional<uint32_t> length;  // the node size; room for key and text by default
};

struct MenuItemDesc {
    std::string name, id, hotkey;
    uint32_t flags = 0;
    std::vector<MenuItemDesc> submenu;
};

struct DeclarationDesc {
    uint8_t type = 0;
    uint32_t id = 1;
    std::optional<std::string> name;               // kept in the data section with its NUL
    std::optional<std::vector<uint8_t>> linkedData;  // the object's file, in the data section
    uint32_t valueA = 0xFFFFFFFF, valueB = 0, sourceLine = 0;
    std::string loader, adapter;  // written from version 6.0 on
    BGPicDesc bgpic;
    ImageDesc image;
    ButtonDesc button;
    DisplayDesc display;
    std::vector<PluginTagDesc> pluginTags;
    std::vector<MenuItemDesc> menu;
    // Damage on request.
    std::optional<uint32_t> nameOffset, nameSize, linkedOffset, linkedSize;
    std::optional<std::vector<uint8_t>> rawRecord;  // instead of the type record
};

enum class LinkPlacement { Inline, Elsewhere, Dropped };

struct LinkedFileDesc {
    std::string name;
    std::vector<uint8_t> data;
    LinkPlacement placement = LinkPlacement::Inline;
    std::optional<uint32_t> sizeOverride, offsetOverride;  // damage on request
};

struct ConstantDesc {
    std::string name;
    bool isText = false;
    std::string text;
    double number = 0.0;
};

struct TimerDesc {
    uint32_t flags = 0, value1 = 0, value2 = 0;
    uint8_t byte = 0;
};

struct IconDesc {
    int16_t width = 16, height = 16;
    uint8_t flags = 0;
    std::vector<uint8_t> data;
    std::optional<uint32_t> sizeOverride;  // damage on request
};

struct AppletDesc {
    std::string magic = "QBA";  // padded with NUL bytes (or cut) to 4 bytes
    std::optional<AppletVersionPair> version = AppletVersionPair{6, 1};
    std::map<uint8_t, std::string> headerStrings;  // tag (11-15, 34) -> text
    std::vector<AppletLabel> labels;
    std::vector<AppletInclude> includes;
    IncludeForm includeForm = IncludeForm::Named;
    std::vector<DeclarationDesc> declarations;
    std::vector<LinkedFileDesc> linkedFiles;
    std::vector<ConstantDesc> constants;
    std::optional<TimerDesc> timer;
    std::vector<AppletSection> rawSections;  // written as they are, before the body
    std::optional<std::vector<uint8_t>> body;
    std::optional<uint32_t> bodySizeOverride;  // declared size instead of the real one
    size_t paddingAfterBody = 0;               // zero bytes before the icon block
    std::vector<IconDesc> icons;
    bool compress = false;  // a "QBZ" pack stream; the icon block follows it
    std::optional<size_t> truncateAt;
};

// Sections in the order they are written. Declaration names and files and
// the far linked files go into a skipped data section after the header
// strings, and the sections that point at them carry its offsets.
std::vector<AppletSection> BuildAppletSections(const AppletDesc& desc);
std::vector<uint8_t> BuildApplet(const AppletDesc& desc);
// The pack stream of a plain applet: "QBZ", NUL, the plain size, the zlib
// stream; empty when zlib fails.
std::vector<uint8_t> CompressApplet(const std::vector<uint8_t>& plain);
std::vector<uint8_t> BuildIconBlock(const std::vector<IconDesc>& icons);

// Payload helpers for section bodies.
void PutU8(std::vector<uint8_t>& out, uint8_t value);
void PutI16BE(std::vector<uint8_t>& out, int16_t value);
void PutU32BE(std::vector<uint8_t>& out, uint32_t value);
void PutDoubleBE(std::vector<uint8_t>& out, double value);
void PutCString(std::vector<uint8_t>& out, const std::string& text);
void PutShortString(std::vector<uint8_t>& out, const std::string& text);

// Record encoders for a version.
void PutGradient(std::vector<uint8_t>& out, const GradientDesc& g);
void PutBackfill(std::vector<uint8_t>& out, const BackfillDesc& b, AppletVersionPair version);
void PutDisplay(std::vector<uint8_t>& out, const DisplayDesc& d, AppletVersionPair version);
void PutMenu(std::vector<uint8_t>& out, const std::vector<MenuItemDesc>& items);
void PutPluginTags(std::vector<uint8_t>& out, const std::vector<PluginTagDesc>& tags);
// The type record of a declaration (or its raw record).
void PutTypeRecord(std::vector<uint8_t>& out, const DeclarationDesc& d, AppletVersionPair version);

// Sections of the older display settings, each with its own payload.
AppletSection DisplaySizeSection(int16_t width, int16_t height);
AppletSection DisplayTitleSection(const std::string& title);
AppletSection DisplayColorSection(uint32_t color);
AppletSection DisplayPositionSection(uint32_t x, uint32_t y);
AppletSection DesktopSection();
AppletSection ByteSection(uint8_t tag, uint8_t value);  // tags 16, 18-21, 23-25, 30
AppletSection BackfillSection(const BackfillDesc& b, AppletVersionPair version);
AppletSection ScreenSizeSection(int16_t width, int16_t height);
AppletSection ScaleSection(uint8_t kind, uint32_t width, uint32_t height, uint8_t smooth);
AppletSection OverrideLockSection();
AppletSection SkipSection(const std::vector<uint8_t>& bytes);
