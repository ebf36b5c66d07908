// A display's window: realising it through the adapter or the backend, its
// position on its monitor, and its drag and size regions.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/geometry.h"

struct ScriptState;
struct qbBitmap;
struct qbDisplay;

// Flags of OpenDisplayWindow.
enum : uint32_t {
    kOpenTakeMonitor = 1,
    kOpenFirstDisplay = 2,
    kOpenModeChange = 4,
    kOpenMonitorChange = 8,
};

// Flags of CloseDisplayCore.
enum : uint32_t {
    kCloseKeepBrushes = 1,
    kCloseModeSwitch = 2,
    kCloseFreeBackfill = 4,
    kCloseNoFadeIn = 8,
};

// Opens the window of a closed display: the monitor's rectangle, borders,
// position, regions, then the adapter's OpenDisplay or the backend's window.
int RealizeDisplay(ScriptState* L, qbDisplay* display, bool activate, bool withBrushes);

// Stores the window's regions (the script's, scaled while scaling, else the
// defaults), clamped into the window, tells the backend, and moves the window
// unless keepWindow.
void ApplyDisplayRegions(qbDisplay* display, bool keepWindow);

// The window's shape at the display's size, one byte a pixel (0 cut away):
// the mask's set bits, else the alpha above 0, scaled to the nearest pixel.
// Empty without either.
std::vector<uint8_t> WindowShapePlane(const qbDisplay* display, const qbBitmap* mask, const qbBitmap* alpha);

// Lets the window's own full-screen switch (Alt+Return) reopen the display
// in the other mode.
void InstallWindowModeSwitch(qbDisplay* display);
