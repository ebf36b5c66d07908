// The display adapter: installing a plugin that takes over every window
// operation, and the wrappers through which the display code reaches either
// that plugin or the platform backend.
#pragma once

#include <cstdint>
#include <vector>

#include "display/adapterslots.h"
#include "platform/platform_types.h"

struct ScriptState;
struct qbAdapterPlugin;
struct qbBitmap;
struct qbDisplay;

// Adapter flags given to SetDisplayAdapter.
enum : uint32_t {
    kAdapterNoReplace = 0x1,
    kAdapterVideoBitmaps = 0x10,
    kAdapterScalesBlits = 0x8,
    kAdapterOwnsBitmaps = 0x20,
    kAdapterInvertsAlpha = 0x80,
    kAdapterSleep = 0x100,
    kAdapterVWait = 0x200,
    kAdapterMonitors = 0x400,
    kAdapterGrab = 0x800,
    kAdapterDrawsUnopened = 0x1000,
};

// The adapter's drawing capabilities (tag 2 of SetDisplayAdapter).
enum : uint32_t {
    kAdapterDrawCopy = 1,
    kAdapterDrawMasked = 2,
    kAdapterDrawAlpha = 4,
    kAdapterDrawFill = 8,
    kAdapterDrawPixel = 16,
    kAdapterDrawLine = 32,
};

// Tags of SetDisplayAdapter.
enum : uint32_t { kAdapterTagPixelFormat = 1, kAdapterTagDrawFlags = 2, kAdapterTagFeatures = 3 };

struct qbDisplayAdapter {
    qbAdapterPlugin* plugin = nullptr;
    uint32_t flags = 0;
    int32_t pixelFormat = 10;
    uint32_t drawFlags = 0;
    uint32_t features = 0;
    qbAdapterPlugin* requester = nullptr;
    uint32_t requesterFlags = 0;
};

const qbDisplayAdapter& DisplayAdapter();
// The installed display adapter's slots; null without one.
const qbDisplayAdapterSlots* DisplayAdapterSlots();
bool HasDisplayAdapter();
uint32_t DisplayAdapterFlags();

// Only while start-up requires plugins, for applets of version 6.0 or later,
// for a plugin with the capability and direct calls, and not over an
// adapter that may not be replaced: else ERR_OLDAPPLET, ERR_WRONGUSAGE or
// ERR_SETADAPTER.
int SetDisplayAdapter(qbAdapterPlugin* plugin, uint32_t flags, const qbAdapterTag* tags);
int SetRequesterAdapter(qbAdapterPlugin* plugin, uint32_t flags);
// The refusals of every adapter kind: ERR_OLDAPPLET, ERR_WRONGUSAGE without
// the capability, ERR_SETADAPTER outside start-up's window, over one that may
// not be replaced, or for a marshalled plugin.
int CheckAdapterInstall(const qbAdapterPlugin* plugin, uint32_t capability, const qbAdapterPlugin* installed,
                        uint32_t installedFlags);
// Forgets both adapters (shutdown).
void ClearDisplayAdapters();

// With an adapter that counts opacity the other way, alpha 0 becomes 255 and
// any other alpha a becomes 255 - a.
uint32_t AdjustAlphaForAdapter(uint32_t colour);

// The style bits OpenDisplay and DetermineBorderSizes receive.
uint32_t GetDisplayStyleFlags(const qbDisplay* display);

// The window wrappers.
int DetermineDisplayBorders(qbDisplay* display);
void SizeMoveDisplayWindow(qbDisplay* display);
void MoveDisplayWindow(qbDisplay* display);
int ShowHideDisplayWindow(qbDisplay* display, bool hide);
void UpdateDisplayTitle(qbDisplay* display);
void ActivateDisplayWindow(qbDisplay* display, bool on);
int CreateDisplayPointer(uint32_t* argb, int32_t width, int32_t height, void** out, int32_t hotX, int32_t hotY);
void FreeDisplayPointer(void* pointer);
void SetDisplayPointer(qbDisplay* display, void* pointer, int kind);
void ShowHideDisplayPointer(qbDisplay* display, bool show);
void MoveDisplayPointer(qbDisplay* display, int32_t x, int32_t y);
void GetDisplayMousePos(qbDisplay* display, int32_t* x, int32_t* y);
uint32_t GetDisplayQualifiers(qbDisplay* display);
void FillDisplayRect(qbDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
void PlotDisplayPixel(qbDisplay* display, int32_t x, int32_t y, uint32_t colour);
void DrawDisplayLine(qbDisplay* display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
void ClearAdapterDisplay(qbDisplay* display, uint32_t colour);
// Clears a bitmap whose pixels the adapter keeps through its clear slot;
// false when the adapter does not keep them (or has no such slot).
bool ClearAdapterBitmap(qbBitmap* bitmap, uint32_t colour);
int WakeDisplayAdapter();
// Sleeps while events are pumped; the error of the wait (a callback's or a
// quit), or 0.
int DelayPumpingEvents(int milliseconds);
MonitorList GetMonitorList(qbDisplay* display);
// The count of modes; modes (may be null) gets them.
int GetDisplayModeList(qbDisplay* display, qbDisplayModeEntry* modes);
// The distinct modes of the display's monitor, narrowest first, then
// lowest; empty when there are none.
std::vector<qbDisplayModeEntry> SortedDisplayModes(qbDisplay* display);
// A new bitmap of the screen rectangle, or null.
qbBitmap* GrabDisplayScreen(qbDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height);
// The protected call of the main chunk, through the adapter's main loop
// when it has one.
int RunMainChunkThroughAdapter(ScriptState* L);

// Monitors: the rectangle of the display's monitor (ERR_GETMONITORINFO), the
// count, and the last monitor overlapping the window.
int GetDisplayMonitorInfo(qbDisplay* display, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
int CountMonitors(qbDisplay* display);
int GetDisplayMonitorIndex(qbDisplay* display);
bool CanToggleFullScreen(qbDisplay* display);
// The display that hardware bitmaps are bound to, when the adapter binds them
// to one (else none): the display of that number, 0 the current one, which
// must have an adapter handle.
int GetDisplayForVideoBitmap(int32_t id, qbDisplay** out);
void ClearDisplayBorders(qbDisplay* display);

// Copies what the backend's window reads from the display into its view.
void SyncWindowView(qbDisplay* display);

// The drawing wrappers draw on the window only while this holds; otherwise an
// adapter draws nothing and only the hooks run.
bool AdapterDrawsOn(const qbDisplay* display);
