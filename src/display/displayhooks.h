// Draw hooks ("satellites") that plugins attach to a display to mirror or
// post-process what is drawn on it, and the display API plugins call from
// their own threads: events, refresh requests and attribute queries.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "display/adapterslots.h"

struct qbDisplay;
struct qbDisplayHook;

enum : int {
    kDrawHookBlit = 0,
    kDrawHookFill = 1,
    kDrawHookLine = 2,
    kDrawHookPixel = 3,
    kDrawHookResize = 4,
    kDrawHookVBlank = 5,
};

// Tags of AddDisplayHook: 1 and 2 receive the effective size, 3 asks for the
// per-frame call, 4 is the creator's own word.
enum : uint32_t { kHookTagWidth = 1, kHookTagHeight = 2, kHookTagPerFrame = 3, kHookTagExtra = 4 };

using DisplayHookFn = int (*)(qbDisplayHook* hook, int kind, const void* info, void* userData);

struct qbDisplayHook {
    qbDisplayHook* next = nullptr;
    DisplayHookFn callback = nullptr;
    void* userData = nullptr;
    int32_t called = 0;
    int32_t perFrame = 0;
    qbDisplay* display = nullptr;
    intptr_t extra = 0;
};

// Access kinds of a blit's source.
enum : int32_t { kHookAccessPixels = 1, kHookAccessPixelsAlpha = 2, kHookAccessAdapter = 3 };

struct qbHookBlitInfo {
    const void* source = nullptr;
    int32_t access = 0;
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    int32_t sourceFormat = 0;     // access 1 only
    int32_t sourceRowLength = 0;  // access 1 only
    const void* videoMask = nullptr;
    int32_t videoMaskRowBytes = 0;
    int32_t srcX = 0;
    int32_t srcY = 0;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct qbHookFillInfo {
    int32_t x, y, width, height;
    uint32_t colour;
};
struct qbHookLineInfo {
    int32_t x1, y1, x2, y2;
    uint32_t colour;
};
struct qbHookPixelInfo {
    int32_t x, y;
    uint32_t colour;
};
struct qbHookSizeInfo {
    int32_t width, height;
};

// Calls every hook of the display once (only the targeted one while a
// targeted refresh runs; kind 5 only the per-frame ones). A hook may remove
// itself or others while it is called.
void CallDisplayHooks(qbDisplay* display, int kind, const void* info);
bool DisplayHasHooks(const qbDisplay* display);
bool DisplayHasPlainHooks(const qbDisplay* display);

// Null when refused: video recording, no such display, a transparent BGPic,
// hardware double buffering, videos on the display, no callback.
qbDisplayHook* AddDisplayHook(ObjectID displayId, DisplayHookFn callback, void* userData, qbAdapterTag* tags,
                              int marshalled);
void RemoveDisplayHook(qbDisplayHook* hook);
void FreeDisplayHooks(qbDisplay* display);
int RefreshDisplayOfHook(qbDisplayHook* hook);
// Resizes the hook's display where it stands, then posts the size event.
int ResizeDisplayOfHook(qbDisplayHook* hook, int32_t width, int32_t height);
void NotifyDisplayResized(qbDisplay* display, int32_t width, int32_t height);

// Kinds of PostAdapterDisplayEvent.
enum : int {
    kAdapterEventClose = 0,
    kAdapterEventLeftButton = 1,
    kAdapterEventRightButton = 2,
    kAdapterEventMiddleButton = 3,
    kAdapterEventWheel = 4,
    kAdapterEventKey = 5,
};
int PostAdapterDisplayEvent(qbDisplayHook* hook, int kind, const int32_t data[3]);
int RequestAdapterDisplayRefresh(void* handle);
// The number of known tags filled, -1 when no display has the handle.
int GetAdapterDisplayAttrs(void* handle, qbAdapterTag* tags);
