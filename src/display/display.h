// The display record and the process-wide display list: every window of the
// player, the current display, and the BGPic that drawing commands address.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/objects.h"
#include "core/ostime.h"
#include "core/preproc.h"
#include "core/threads.h"
#include "display/dirtylist.h"
#include "imaging/bitmap.h"
#include "platform/windowview.h"

struct qbBGPic;
struct qbClipRegionObject;
struct qbPointerObject;
struct qbDisplayHook;

constexpr int kObjectTypeDisplay = 21;

enum : int32_t { DISPSTATE_CLOSED = 0, DISPSTATE_OPEN = 1, DISPSTATE_MINIMIZED = 2 };

enum : int32_t {
    DISPMODE_WINDOWED = 1,
    DISPMODE_FULLSCREEN = 2,
    DISPMODE_ASK = 3,
    DISPMODE_MODEREQUESTER = 4,
    DISPMODE_FAKEFULLSCREEN = 6,
};

// Bits of qbDisplay::flags.
enum : uint32_t {
    kDisplayFirstOpened = 0x2,
    kDisplayActivate = 0x400,
    kDisplayHidden = 0x800,
    kDisplayLayers = 0x1000,
    kDisplayNotInTaskBar = 0x80000,
    kDisplayNoBackfill = 0x2000000,
    kDisplayKeepBorder = 0x4000000,
};

// Bits of qbDisplay::effectFlags.
enum : uint32_t { kDisplayEffectsRealtime = 0x80 };

// Fill styles of a display's own backdrop.
enum : int32_t { kFillNone = 0, kFillColour = 1, kFillGradient = 2, kFillTexture = 3 };

constexpr int32_t kPositionCenter = -100000;
constexpr int kDisplayTitleSize = 256;
constexpr int kDisplayHandlerSlots = 30;
constexpr int kKeyStateCount = 300;
constexpr int kTabStopCount = 32;

// The text cursor and margins in qbDisplay::outputPosition.
enum : int { kTextCursorX = 0, kTextCursorY = 1, kTextLeftMargin = 2, kTextRightMargin = 3 };

// What the display's own BGPic is filled with.
struct qbDisplayFill {
    int32_t style = kFillColour;
    uint32_t colour = 0;
    qbGradientOptions gradient;
    ObjectID textureBrush;
    int32_t textureX = 0;
    int32_t textureY = 0;
};

struct qbHandlerSlot {
    int function = -1;
    int userData = -1;
};

// One picture that a worker thread hands to the main thread for drawing.
struct qbQueuedBlit {
    BitmapPtr bitmap;
    int32_t srcX = 0;
    int32_t srcY = 0;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t width = 0;
    int32_t height = 0;
    const void* owner = nullptr;  // a playing video keeps one entry: its latest
    bool layer = false;           // the owner's layers show it, not the display
};

struct qbScreenMode {
    int32_t mode = DISPMODE_WINDOWED;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    int32_t desktop = 0;
    qbBackfillOptions backfill;
};

// The five words of an output selection that SaveAndResetOutput keeps.
struct qbOutputSelection {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    int32_t type = kObjectTypeDisplay;
    int32_t selected = 0;
};

// Display records live in the display list from creation to freeing; the
// list owns them (FreeDisplayCore and FreeAllDisplays free them).
struct qbDisplay : qbObject {
    int32_t layersEnabled = 0;
    // Where drawing goes: the display itself (type 21) or a selected target.
    qbOutputSelection output;
    int32_t selectionState = 0;
    int32_t lastSelectMode = 0;
    int32_t selectionAlphaMode = 0;
    qbBGPic* bgpic = nullptr;
    int32_t ownsBGPic = 0;
    int32_t softDoubleBuffer = 0;
    int32_t hardDoubleBuffer = 0;
    qbBGPic* doubleBufferBGPic = nullptr;
    int32_t isBackfill = 0;
    int32_t isResourceMonitor = 0;
    int32_t x = kPositionCenter;
    int32_t y = kPositionCenter;
    int32_t width = kDefaultDisplayWidth;
    int32_t height = kDefaultDisplayHeight;
    int32_t state = DISPSTATE_CLOSED;
    qbDisplayFill fill;
    uint32_t flags = 0;
    char title[kDisplayTitleSize] = "Quenbrook";
    int32_t borderLeft = 0;
    int32_t borderTop = 0;
    int32_t borderWidth = 0;   // left + right
    int32_t borderHeight = 0;  // top + bottom
    // Drag and size regions as the script gave them; the window view holds
    // them clamped and scaled to the window.
    std::vector<qbRegion> dragRegions;
    std::vector<qbRegion> sizeRegions;
    int32_t dragRegionsGiven = 0;
    int32_t sizeRegionsGiven = 0;
    // The first back buffer holds the picture without sprites, the second
    // the composed picture; the other two serve scaling.
    BitmapPtr spriteFreeBuffer;
    BitmapPtr backBuffer;
    BitmapPtr scaledBuffers[2];
    // The picture the last effect scaled its pieces through, kept for the
    // next one: a frame-sized picture made anew for each effect costs the
    // mapping of its pages in the effect's first frame.
    BitmapPtr effectPiece;
    // Two words the transition effects read that no command sets: with
    // kDisplayEffectsRealtime every effect runs in real-time mode and marks
    // its blits; a non-zero effectScrollWord marks the scrolls of BGPic
    // transitions.
    uint32_t effectFlags = 0;
    int32_t effectScrollWord = 0;
    int32_t autoscale = 0;
    int32_t layerScale = 0;
    int32_t fitBorders[4] = {};
    int32_t scaleWidth = 0;
    int32_t scaleHeight = 0;
    int32_t smoothScale = 0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    int32_t pictureScaling = 0;
    int32_t outputScaling = 0;
    qbHandlerSlot handlers[kDisplayHandlerSlots];
    // The button-state words of the adapter's button events.
    int32_t lastButtonWord[3] = {};
    int32_t closeRequested = 0;
    TimeValue closeTime;
    TimeValue openTime;
    uint8_t keyState[kKeyStateCount] = {};
    int32_t outputPosition[4] = {};
    int32_t savedOutputPosition[4] = {};
    int32_t savedLayers = 0;
    qbPointerObject* pointer = nullptr;  // SetPointer's choice; null is the system arrow
    uint32_t pointerFlags = 0;
    int32_t pointerHidden = 0;
    int32_t activateOnOpen = 0;
    BitmapPtr shapeMask;
    BitmapPtr shapeAlpha;
    int32_t orientation = 0;
    qbDisplayHook* hooks = nullptr;  // owned chain
    qbDisplayHook* targetedHook = nullptr;
    int32_t lastMouseX = 0;
    int32_t lastMouseY = 0;
    uint32_t lastQualifiers = 0;
    qbMutexPtr blitMutex;
    std::vector<qbQueuedBlit> blitQueue;  // guarded by blitMutex
    int32_t fullScreen = 0;
    int32_t monitor = 0;
    void* menu = nullptr;
    qbScreenMode screen;
    int32_t relativeX = 1;
    int32_t relativeY = 1;
    int32_t hasShape = 0;
    int32_t bordersMeasured = 0;
    std::vector<uint8_t> placement;
    int32_t restoreWidth = 0;
    int32_t restoreHeight = 0;
    void* adapterHandle = nullptr;
    // Full screen: the monitor a full screen left (+1, 0 for none), where
    // the window stood and which flags it had before it filled a monitor,
    // and the objects behind it (a backfill display knows whom it serves).
    int32_t previousMonitor = 0;
    int32_t savedX = kPositionCenter;
    int32_t savedY = kPositionCenter;
    uint32_t savedFlags = 0;
    int32_t savedValid = 0;
    ObjectID backfillDisplay;
    ObjectID backfillBGPic;
    ObjectID backfillBrush;
    qbDisplay* servedDisplay = nullptr;
    // What the backend's window reads and writes (SyncWindowView).
    qbWindowView view;
    // BeginRefresh collects drawing until EndRefresh.
    int32_t refreshBlock = 0;
    // SetClipRegion's choice: the region drawing keeps inside and the
    // horizontal clip window; clipRight -1 means the whole width.
    qbClipRegionObject* clipRegion = nullptr;
    int32_t clipLeft = 0;
    int32_t clipRight = -1;
    TimeValue lastVWait;
    // Areas waiting to be shown while a BGPic is the output or while double
    // buffering; empty with no room until the first growing add.
    qbDirtyRectList dirtyRects;
    // Output selection: the picture record that stands for the selected
    // object while it is the current BGPic, whether its planes are ready for
    // drawing, whether the target is an adapter bitmap, and whether the
    // cursor, margins and layers flag are saved (in savedOutputPosition and
    // savedLayers).
    std::shared_ptr<qbBGPic> offscreen;
    int32_t outputPrepared = 0;
    int32_t outputHardware = 0;
    int32_t outputStateSaved = 0;
    // Double buffering: drawing goes into drawBuffer (the picture's size),
    // Flip copies it into showBuffer (the shown size) and shows that. A
    // selection suspends it and keeps the adapter flag until it ends.
    std::shared_ptr<qbBGPic> bufferRecord;  // doubleBufferBGPic points into it
    BitmapPtr drawBuffer;
    BitmapPtr showBuffer;
    int32_t doubleBufferHardware = 0;
    int32_t doubleBufferSuspended = 0;
    int32_t suspendedAdapter = 0;
    // The text library's tab stops, ascending pixel positions. (Its cursor
    // and margins are outputPosition, which a selection saves and resets.)
    int32_t tabStops[kTabStopCount] = {};
    int32_t tabCount = 0;
    ~qbDisplay();
};

// The options CreateDisplay understands; the display option table fills them.
struct qbDisplayOptions {
    std::string title = "Quenbrook";
    int32_t x = kPositionCenter;
    int32_t y = kPositionCenter;
    int32_t width = kDefaultDisplayWidth;
    int32_t height = kDefaultDisplayHeight;
    uint32_t flags = 0;
    bool hidden = false;
    bool layers = false;
    bool backfill = false;
    bool resourceMonitor = false;
    bool hasBGPic = false;
    ObjectID bgpic;
    qbDisplayFill fill;
    int32_t autoscale = 0;
    int32_t layerScale = 0;
    int32_t scaleWidth = 0;
    int32_t scaleHeight = 0;
    int32_t smoothScale = 0;
    qbScreenMode screen;
};

// The display list, in creation order. Changed only under the lock.
qbObject** DisplayListHead();
qbDisplay* FirstDisplay();
qbDisplay* NextDisplay(const qbDisplay* display);
void LockDisplayList();
void UnlockDisplayList();

qbDisplay* GetCurrentDisplay();
// The picture drawing commands address: the current display's BGPic, or its
// double-buffer picture while it double-buffers.
qbBGPic* GetCurrentOutputBGPic();
void SetCurrentOutputBGPic(qbBGPic* bgpic);

bool IsVideoRecording();
void SetVideoRecording(bool on);
// The graphics library's spare record, which drawing without a display
// borrows for one call; null until that library opens.
qbDisplay* GetSpareDisplay();
void SetSpareDisplay(qbDisplay* display);

// Pictures wait in pixel buffers until the first display is open.
bool PicturesPending();
void SetPicturesPending(bool pending);
// Fonts loaded before the first display keep pixels too; the text library
// installs what turns them into bitmaps when that display opens.
using PendingFontsHook = int (*)();
void SetPendingFontsHook(PendingFontsHook hook);
// The sprites loaded before the first display: their frames are cut after
// the pending brushes and BGPics.
using PendingSpritesHook = int (*)(ScriptState* L);
void SetPendingSpritesHook(PendingSpritesHook hook);
