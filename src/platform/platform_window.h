// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"
#include "platform/windowview.h"

// Windows, direct window drawing, monitors and full screen.
// - AllocNativeWindowRec: the display's window view (or null, for a view of
//   the record's own with the defaults), read and written by every window
//   operation of that display until FreeNativeWindowRec.
// - GetNativeDisplayAttr: 5 depth (32), 6/7 mouse position in the content
//   area, 8-10 the quit switches, 11/12 the value 16, 16 the value 1, 17 the
//   menu bar height; a null display gives 0.
// - ReadNativePixel, WriteNativePixel, DrawNativeLine: colours 0xRRGGBB.
// - ListNativeDisplayModes: without an array the number of modes, the same
//   size at other rates included (an upper bound); with one, the distinct
//   sizes stored and their count.
// - SetFullScreenMode: a virtual mode; the monitor reports width x height
//   until RestoreDisplayMode. ERR_SCREEN below 1 or beyond its largest mode.
// - FadeDisplayOut: a token of 0 while nothing is shown (nothing fades);
//   FadeDisplayIn does nothing for it.
// - BlitRectsToWindow: each rectangle of source (its coordinates) at
//   (x + dx, y + dy) of the window, unscaled, with the pixels BlitToWindow
//   gives one by one; the rows are walked once and shown together.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_WINDOW_OPS(X) \
    X(int, AllocNativeWindowRec, (qbWindowView* view, qbDisplay* display), (view, display)) \
    X(void, FreeNativeWindowRec, (qbDisplay* display), (display)) \
    X(int, MeasureWindowBorders, (qbDisplay* display), (display)) \
    X(int, CreateNativeWindow, (qbDisplay* display, int showActivated, qbNativeBitmap* shape, const uint8_t* shapeMask), (display, showActivated, shape, shapeMask)) \
    X(void, CloseNativeWindow, (qbDisplay* display), (display)) \
    X(void, SetNativeWindowBounds, (qbDisplay* display), (display)) \
    X(void, SetNativeWindowBoundsAlt, (qbDisplay* display), (display)) \
    X(void, SetNativeWindowTitle, (qbDisplay* display), (display)) \
    X(void, ActivateNativeWindow, (qbDisplay* display), (display)) \
    X(int, CollapseNativeWindow, (qbDisplay* display, int minimise), (display, minimise)) \
    X(int, IsDisplaySizeSupported, (qbDisplay* display), (display)) \
    X(void, UpdateWindowRegions, (qbDisplay* display), (display)) \
    X(int, UpdateWindowMenuBar, (qbDisplay* display), (display)) \
    X(int, GetNativeMenuItemState, (qbDisplay* display, void* menuItem, uint32_t* outFlags), (display, menuItem, outFlags)) \
    X(int, SetNativeMenuItemState, (qbDisplay* display, void* menuItem, uint32_t setFlags, uint32_t clearFlags), (display, menuItem, setFlags, clearFlags)) \
    X(int, SetWindowDropTarget, (qbDisplay* display), (display)) \
    X(intptr_t, GetNativeDisplayAttr, (qbDisplay* display, int attribute), (display, attribute)) \
    X(void, FlushNativeWindow, (qbDisplay* display), (display)) \
    X(void, BlitToWindow, (const qbNativeBitmap* source, int srcX, int srcY, qbDisplay* display, int dstX, int dstY, int width, int height, int scaleWidth, int scaleHeight, uint32_t flags), (source, srcX, srcY, display, dstX, dstY, width, height, scaleWidth, scaleHeight, flags)) \
    X(void, BlitRectsToWindow, (const qbNativeBitmap* source, const qbWindowRect* rects, int count, qbDisplay* display, int dx, int dy, uint32_t flags), (source, rects, count, display, dx, dy, flags)) \
    X(void, FillWindowRect, (qbDisplay* display, int x, int y, int width, int height, uint32_t colour), (display, x, y, width, height, colour)) \
    X(void, DrawWindowLine, (qbDisplay* display, int x1, int y1, int x2, int y2, uint32_t colour), (display, x1, y1, x2, y2, colour)) \
    X(void, WriteWindowPixel, (qbDisplay* display, int x, int y, uint32_t colour), (display, x, y, colour)) \
    X(uint32_t, ReadNativePixel, (qbNativeBitmap* bitmap, int x, int y), (bitmap, x, y)) \
    X(void, WriteNativePixel, (qbNativeBitmap* bitmap, int x, int y, uint32_t colour), (bitmap, x, y, colour)) \
    X(void, DrawNativeLine, (qbNativeBitmap* bitmap, int x1, int y1, int x2, int y2, uint32_t colour), (bitmap, x1, y1, x2, y2, colour)) \
    X(MonitorList, ListNativeMonitors, (), ()) \
    X(int, ListNativeDisplayModes, (qbDisplay* display, qbDisplayModeEntry* modes), (display, modes)) \
    X(int, SetFullScreenMode, (qbDisplay* display, int width, int height), (display, width, height)) \
    X(int, RestoreDisplayMode, (qbDisplay* display), (display)) \
    X(void, SetPresentationMode, (int mode), (mode)) \
    X(void, FadeDisplayOut, (void** outToken, int wait), (outToken, wait)) \
    X(void, FadeDisplayIn, (void* token, int wait), (token, wait)) \
    X(NativeBitmapPtr, GrabScreenRegion, (qbDisplay* display, int x, int y, int width, int height), (display, x, y, width, height)) \
    X(void*, GetNativeImageList, (), ())
