// Objects that an applet declares for creation at start-up (preprocessor
// objects): the entry record, the type records of each kind, the display
// declaration with its defaults, and the display settings that reach it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

struct ScriptState;
struct qbApplet;
struct qbCommandLine;

// One key = value pair of a REQUIRETAGS section.
struct qbRequireTag {
    std::string key;
    std::string text;  // empty for a number
    bool isText = false;
    double number = 0.0;
};

// The centre of the display: no position was given.
constexpr int kCenterPosition = -100000;
constexpr int kDefaultDisplayWidth = 640;
constexpr int kDefaultDisplayHeight = 480;
constexpr char kDefaultDisplayTitle[] = "Quenbrook";
constexpr size_t kDeclPathSize = 1024;
constexpr size_t kDeclShortNameSize = 256;  // loader and adapter names, short strings

// Backfill decoration of a display (defaults of InitBackfillOptions).
struct qbBackfillOptions {
    int type = 0;  // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    int32_t startColor = -1;
    int32_t endColor = -1;
    int32_t brush = 0;
    int x = kCenterPosition;
    int y = kCenterPosition;
    int32_t transparentColor = -1;
    int scalePicture = 0;
    int smoothScale = 0;
    int hideTitleBar = 0;
    std::string fileName;  // a picture file; at most kDeclPathSize - 1 bytes
};

void InitBackfillOptions(qbBackfillOptions& backfill);

// Screen settings of older applets; a field left at its default changes nothing.
struct qbScreenModeOptions {
    int mode = 0;
    int scrWidth = -1;
    int scrHeight = -1;
    int scrDepth = -1;
    int desktop = -1;
    int titleBar = 0;
    qbBackfillOptions backfill = [] {
        qbBackfillOptions b;
        b.type = -1;
        return b;
    }();
};

enum PreprocessorType : int {
    kDeclBGPic = 0,
    kDeclBrush = 1,
    kDeclAnim = 2,
    kDeclMusic = 3,
    kDeclSample = 4,
    kDeclButton = 5,
    kDeclKeyDown = 6,
    kDeclSprite = 7,
    kDeclFile = 8,
    kDeclFont = 9,
    kDeclDisplay = 10,
    kDeclVideo = 11,
    kDeclPlugin = 12,
    kDeclMenu = 13,
    kDeclWarning = 14,
};

// Display flag word bits that the applet sections and the options set.
enum : uint32_t {
    kDispBorderless = 0x1,
    kDispSizeable = 0x2,
    kDispFixed = 0x4,
    kDispNoModeSwitch = 0x8,
    kDispHidePointer = 0x10,
    kDispNoHide = 0x20,
    kDispAutoScale = 0x40,
    kDispSmoothScale = 0x80,
    kDispLayerScale = 0x100,
    kDispUseBGPic = 0x200,
    kDispActive = 0x400,
    kDispHidden = 0x800,
    kDispLayers = 0x1000,
    kDispUseQuartz = 0x2000,
    kDispNoClose = 0x4000,
    kDispKeepProportions = 0x8000,
    kDispFitScale = 0x10000,
    kDispKeepScreenOn = 0x40000,
    kDispHideFromTaskbar = 0x80000,
    kDispHideOptionsMenu = 0x100000,
    kDispNoHardwareScale = 0x200000,
    kDispDisableBlanker = 0x1000000,
    kDispRememberPosition = 0x8000000,
};

struct qbGradientStop {
    int32_t color = 0;
    double position = 0.0;
};

struct qbGradientOptions {
    int style = 2;
    int32_t startColor = 0;
    int32_t endColor = 0;
    int angle = 0;
    std::vector<qbGradientStop> stops;  // the stop count is their number
    double centerX = 0.5;
    double centerY = 0.5;
    double balance = 0.5;
    double border = 0.0;
};

struct qbRegion {
    int32_t type = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct qbDisplayDeclaration {
    std::string title = kDefaultDisplayTitle;
    int32_t bgpic = 0;  // used with kDispUseBGPic
    int32_t x = kCenterPosition;
    int32_t y = kCenterPosition;
    int32_t width = kDefaultDisplayWidth;
    int32_t height = kDefaultDisplayHeight;
    int32_t color = 0;
    uint32_t flags = 0;
    int32_t scaleWidth = 0;  // negative: percent
    int32_t scaleHeight = 0;
    std::vector<qbRegion> dragRegions;
    std::vector<qbRegion> sizeRegions;
    int fillStyle = 1;
    qbGradientOptions gradient;  // its start colour follows the colour
    int32_t textureBrush = 0;
    int32_t textureX = 0;
    int32_t textureY = 0;
    int orientation = 0;
    int monitor = 0;  // 0-based
    int32_t menu = -1;
    int mode = 1;
    int scrWidth = 0;
    int scrHeight = 0;
    int scrDepth = 0;
    int desktop = 0;
    qbBackfillOptions backfill;
    int hideTitleBar = 0;
    // The short strings after the title: kept, not given to CreateDisplay.
    std::array<std::string, 4> extraStrings;
};

struct qbBGPicRecord {
    int fillStyle = 0;
    int32_t fillColor = 0;
    qbGradientOptions gradient;
    int32_t textureBrush = 0;
    int32_t textureX = 0;
    int32_t textureY = 0;
    int32_t scaleWidth = 0;
    int32_t scaleHeight = 0;
    int32_t smoothScale = 0;
};

// Brushes, anims and sprites share one layout.
struct qbImageRecord {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    int frames = 0;
    int framesPerRow = 0;
    int globalAlpha = -1;  // -1 none
    int cache = 0;
    int cacheAlpha = 0;
    int cachedLoad = 0;
    int fromDisk = 0;
    int hardware = 0;
    int skipLoopFrames = 0;
    int deinterlace = 0;
    int32_t scaleWidth = 0;
    int32_t scaleHeight = 0;
    int32_t smoothScale = 0;
    int32_t display = 0;
};

struct qbButtonRecord {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

// One menu item; an empty name, id or hotkey is one that was not given.
struct qbMenuItem {
    std::string name;
    std::string id;
    std::string hotkey;
    uint32_t flags = 0;
    std::vector<qbMenuItem> submenu;
};

using qbPluginTagList = std::vector<qbRequireTag>;
using qbMenuTree = std::vector<qbMenuItem>;

using qbTypeRecord = std::variant<std::monostate, qbBGPicRecord, qbImageRecord, qbButtonRecord,
                                  qbDisplayDeclaration, qbPluginTagList, qbMenuTree>;

struct qbPreprocessorEntry {
    int type = 0;
    int32_t id = 0;
    int flag = 0;      // 1 for entries read from an applet
    std::string name;  // file, font or key name, warning text; empty when none
    uint32_t nameOffset = 0;
    uint32_t nameSize = 0;
    uint32_t linkedOffset = 0;  // the object's file inside the applet
    uint32_t linkedSize = 0;    // 0: not linked
    int32_t valueA = -1;
    int32_t valueB = 0;
    int32_t sourceLine = 0;
    qbTypeRecord record;
    std::string appletPath;  // the file that holds the applet
    std::string workingFolder;
    std::string loader;
    std::string adapter;
    int quiet = 0;
};

// Records of each kind with their defaults.
void InitDisplayDeclaration(qbDisplayDeclaration& decl);
void InitPreprocessorDefaults(qbGradientOptions& gradient);
// The type record a new entry of that type starts with.
qbTypeRecord DefaultTypeRecord(int type);

// Appends the entry (its record moved in; a type without one gets its
// defaults). The built-in font names get flag 0. 0 or ERR_MEM.
int AddPreprocessorEntry(qbApplet* applet, qbPreprocessorEntry entry);
// Display 1 with the default declaration, flag kDispActive and the title when
// one is given. 0 or ERR_MEM.
int AddDefaultDisplayEntry(qbApplet* applet, const char* title);
void FreePreprocessorList(std::vector<qbPreprocessorEntry>& list);
qbPreprocessorEntry* FindPreprocessorEntry(qbApplet* applet, int type, int32_t id);
// The declaration of an entry of type 10, else null.
qbDisplayDeclaration* GetDisplayDeclaration(qbPreprocessorEntry& entry);

// The start-up steps that work on the declarations.
int ApplyScreenModeOptions(qbApplet* applet);
int ApplyDisplayOverrides(qbApplet* applet, const qbCommandLine* cl);
int ShareDeclaredImages(qbApplet* applet);
// hideDisplays: a required plugin asked for the displays to start hidden.
int CreateDeclaredObjects(ScriptState* L, qbCommandLine* cl, qbApplet* applet, int hideDisplays);
