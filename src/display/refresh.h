// Showing pictures in a display's window: the blit to the window (scaled
// when the display scales), the refresh of rectangles and whole displays,
// the worker-thread blit queue, and frame pacing for VWait.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/bitmap.h"
#include "platform/platform_types.h"

struct ScriptState;
struct qbDisplay;

// BlitToDisplay flags.
enum : uint32_t {
    kBlitDirect = 16,
    kBlitNoVideoMask = 32,
    kBlitNoHooks = 64,
    kBlitPrescaled = 0x100,
    // The window shows it with the next flush, together with the rest of
    // a batch (FlushNativeWindow).
    kBlitHold = 0x200,
};

// RefreshDisplayRect flags.
enum : uint32_t { kRefreshScaled = 1, kRefreshRecorder = 2, kRefreshRecorder2 = 4, kRefreshForce = 128 };

void BlitToDisplay(qbBitmap* source, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                   int32_t width, int32_t height, int32_t scaleWidth, int32_t scaleHeight, uint32_t flags,
                   qbBitmap* mask, qbBitmap* alpha);
void RefreshDisplayRect(qbBitmap* bitmap, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                        int32_t width, int32_t height, uint32_t flags);
// The rectangles (bitmap coordinates) of the bitmap at (x + dx, y + dy) of
// the window, each as RefreshDisplayRect would show it, but unscaled and
// without an adapter or hooks in one pass over their rows.
void RefreshDisplayRects(qbBitmap* bitmap, const qbWindowRect* rects, int32_t count, qbDisplay* display, int32_t dx,
                         int32_t dy, uint32_t flags);
void RefreshRectWithLayers(ScriptState* L, int32_t srcX, int32_t srcY, qbDisplay* display, int32_t dstX, int32_t dstY,
                           int32_t width, int32_t height);
// The whole picture of the display in its window.
void RefreshDisplay(ScriptState* L, qbDisplay* display);
// Frees the cache the scaled blits draw into.
void FreeBlitScaleCache();
// How many blits to a window were scaled (here, by the backend or by the
// adapter) since start-up.
uint64_t BlitScaleCount();

// Called from any thread: the picture is drawn on the main thread by the next
// FlushDisplayBlitQueue. ERR_MEM when it cannot be queued.
int QueueDisplayBlit(qbDisplay* display, BitmapPtr bitmap, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                     int32_t width, int32_t height);
// Main thread only. The first error stops the walk and drops the rest of
// that display's queue.
int FlushDisplayBlitQueue(ScriptState* L);
void ClearDisplayBlitQueue(qbDisplay* display);
// A picture of a playing video: it replaces the owner's entries not drawn yet.
int QueueOwnedDisplayBlit(qbDisplay* display, const void* owner, BitmapPtr bitmap, int32_t dstX, int32_t dstY);
// A picture of a video playing into its layers: the main thread hands it to
// them (PresentVideoLayerPicture); it replaces the owner's entries not shown yet.
int QueueOwnedLayerPicture(qbDisplay* display, const void* owner, BitmapPtr bitmap);
void DropOwnedDisplayBlits(qbDisplay* display, const void* owner);
// Whether the owner's picture waits to be drawn. Any thread.
bool OwnedDisplayBlitPending(qbDisplay* display, const void* owner);

// The frame-rate limit of VWait (1 or more; a value below 1 sets 60).
int32_t GetFPSLimit();
void SetFPSLimit(int32_t fps);
// The clock frame pacing reads (monotonic microseconds) and its sleep; null
// functions restore the system's.
void SetFramePacingClock(std::function<int64_t()> nowMicros, std::function<void(int64_t)> sleepMillis);
// The frame-pacing clock's time (monotonic microseconds).
int64_t FramePacingNowMicros();
// Waits while events are pumped (DelayPumpingEvents), or through the
// injected sleep when a test set one. The wait's error or 0.
int DelayPumpingEventsPaced(int milliseconds);
// Sleeps the rest of the frame period since the display's last wait.
void PaceDisplayFrame(qbDisplay* display, bool forced);
// The vertical-blank wait of a display: the adapter's VWait or frame pacing,
// then the per-frame hooks.
int WaitDisplayVBlank(ScriptState* L, qbDisplay* display, uint32_t flags);
int WaitVBlank(ScriptState* L, uint32_t flags);
// The script command: no arguments, no results.
int VWait(ScriptState* L);
