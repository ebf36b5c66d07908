// The part of a display that the window backends read and write: where the
// window stands and what it looks like, and the input state that its events
// leave behind. The display record owns one and hands it to
// AllocNativeWindowRec; the backend keeps the pointer until
// FreeNativeWindowRec, so the view must outlive the window record.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptState;
struct qbDisplay;
struct qbMenuItem;

// The bits of the display's flags word that windows read.
enum : uint32_t {
    kWindowBorderless = 0x1,
    kWindowSizeable = 0x2,
    kWindowFixed = 0x4,
    kWindowNoModeSwitch = 0x8,
    kWindowHidePointer = 0x10,
    kWindowNoHide = 0x20,
    kWindowNoClose = 0x4000,
    kWindowDisableBlanker = 0x1000000,
};

// The display states the window code reads and sets.
enum : int32_t { kWindowClosed = 0, kWindowOpen = 1, kWindowMinimised = 2 };

constexpr int32_t kWindowCentered = -100000;
constexpr int kWindowTitleSize = 256;
constexpr int kWindowKeyCount = 300;

// A drag or size region of a borderless window, in window pixels.
struct qbWindowRegion {
    int32_t type = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct qbWindowView {
    // Kept up to date by the display layer.
    int32_t x = kWindowCentered;  // outer top-left on the desktop
    int32_t y = kWindowCentered;
    int32_t width = 640;  // content size
    int32_t height = 480;
    uint32_t flags = 0;
    char title[kWindowTitleSize] = "Quenbrook";  // ISO 8859-1
    int32_t offsetX = 0;  // where the display's image sits inside the window
    int32_t offsetY = 0;
    int32_t fullScreen = 0;
    int32_t monitor = 0;  // 0-based; past the last one means the first
    int32_t hasCloseHandler = 0;
    int32_t hasDropHandler = 0;
    int32_t hasClipboardHandler = 0;
    int32_t requesterOpen = 0;
    std::vector<qbWindowRegion> dragRegions;
    std::vector<qbWindowRegion> sizeRegions;
    // Whether the window may switch to full screen and back; null allows it.
    bool (*canToggleFullScreen)(qbDisplay* display) = nullptr;
    // Run by the event pump after the user resized the window, with the new
    // content size; 0 or an error code. Null: nothing to do.
    int (*resizeDisplay)(ScriptState* L, qbDisplay* display, int width, int height) = nullptr;
    // Run by the event pump when the user asked to switch between window and
    // full screen (1 to full screen, 0 back to a window); 0 or an error code.
    // Null: the request only leaves its event.
    int (*switchMode)(ScriptState* L, qbDisplay* display, int fullScreen) = nullptr;
    // The menu tree the window shows above the picture, read whenever the
    // strip is built; null or an empty tree: no menu.
    const std::vector<qbMenuItem>* (*menuTree)(qbDisplay* display) = nullptr;

    // Written by the backend: state on opening, closing, minimising and
    // restoring; the borders by MeasureWindowBorders; position and size when
    // the user moves or resizes the window; the rest by its input events.
    int32_t state = kWindowClosed;
    int32_t active = 0;
    int32_t borderLeft = 0;
    int32_t borderTop = 0;
    int32_t borderWidth = 0;   // left + right
    int32_t borderHeight = 0;  // top + bottom
    int32_t buttons[3] = {};   // left, right, middle: 1 while down
    int32_t mouseX = 0;        // last pointer position in the content area
    int32_t mouseY = 0;
    int32_t mouseMoved = 0;
    int64_t mouseMovedMicros = 0;
    uint8_t keyState[kWindowKeyCount] = {};
};
