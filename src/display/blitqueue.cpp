// Pictures that worker threads (video decoders, plugins) hand over for
// drawing: queued under the display's own mutex, drawn on the main thread.
#include <algorithm>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "core/threads.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "platform/platform_ops.h"

namespace {

// Appends the entry, replacing the one its owner queued before (when it
// has an owner), and wakes the main thread: it may be waiting for events,
// and the picture is one.
int Enqueue(qbDisplay* display, qbQueuedBlit&& entry) {
    {
        MutexHold hold(display->blitMutex.get());
        std::vector<qbQueuedBlit>& queue = display->blitQueue;
        if (const void* owner = entry.owner)
            std::erase_if(queue, [owner](const qbQueuedBlit& e) { return e.owner == owner; });
        try {
            queue.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    PostWakeEvent();
    return 0;
}

}  // namespace

int QueueDisplayBlit(qbDisplay* display, BitmapPtr bitmap, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                     int32_t width, int32_t height) {
    if (!display || !display->blitMutex || !bitmap) return ERR_WRONGUSAGE;
    qbQueuedBlit entry;
    entry.bitmap = std::move(bitmap);
    entry.srcX = srcX;
    entry.srcY = srcY;
    entry.dstX = dstX;
    entry.dstY = dstY;
    entry.width = width;
    entry.height = height;
    return Enqueue(display, std::move(entry));
}

int QueueOwnedDisplayBlit(qbDisplay* display, const void* owner, BitmapPtr bitmap, int32_t dstX, int32_t dstY) {
    if (!display || !display->blitMutex || !bitmap || !owner) return ERR_WRONGUSAGE;
    qbQueuedBlit entry;
    entry.width = bitmap->width;
    entry.height = bitmap->height;
    entry.bitmap = std::move(bitmap);
    entry.dstX = dstX;
    entry.dstY = dstY;
    entry.owner = owner;
    return Enqueue(display, std::move(entry));
}

int QueueOwnedLayerPicture(qbDisplay* display, const void* owner, BitmapPtr bitmap) {
    if (!display || !display->blitMutex || !bitmap || !owner) return ERR_WRONGUSAGE;
    qbQueuedBlit entry;
    entry.bitmap = std::move(bitmap);
    entry.owner = owner;
    entry.layer = true;
    return Enqueue(display, std::move(entry));
}

void DropOwnedDisplayBlits(qbDisplay* display, const void* owner) {
    if (!display || !display->blitMutex) return;
    LockMutex(display->blitMutex.get());
    std::erase_if(display->blitQueue, [owner](const qbQueuedBlit& e) { return e.owner == owner; });
    UnlockMutex(display->blitMutex.get());
}

bool OwnedDisplayBlitPending(qbDisplay* display, const void* owner) {
    if (!display || !display->blitMutex) return false;
    MutexHold hold(display->blitMutex.get());
    return std::any_of(display->blitQueue.begin(), display->blitQueue.end(),
                       [owner](const qbQueuedBlit& e) { return e.owner == owner; });
}

namespace {

// Draws one picture, cut to the picture and to the display's picture.
void DrawQueuedBlit(qbDisplay* display, qbQueuedBlit& e) {
    if (e.srcX < 0 || e.srcY < 0) return;
    const qbBGPic* picture = display->bgpic;
    int32_t right = picture ? picture->currentWidth : std::numeric_limits<int32_t>::max();
    int32_t bottom = picture ? picture->currentHeight : std::numeric_limits<int32_t>::max();
    // A scaling display shows its picture at the window's size.
    if (picture && (display->scaleX != 1.0 || display->scaleY != 1.0) && HasScaleSize(display))
        GetScaledPictureSize(display, &right, &bottom);
    int32_t sx = e.srcX, sy = e.srcY, dx = e.dstX, dy = e.dstY, w = e.width, h = e.height;
    ClipBlitRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, e.bitmap->width, e.bitmap->height, right, bottom, false);
    if (w <= 0 || h <= 0) return;
    BlitToDisplay(e.bitmap.get(), sx, sy, display, dx, dy, w, h, 0, 0, kBlitNoVideoMask, nullptr, nullptr);
}

}  // namespace

int FlushDisplayBlitQueue(ScriptState* L) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (!d->blitMutex) continue;
        std::vector<qbQueuedBlit> entries;
        LockMutex(d->blitMutex.get());
        entries.swap(d->blitQueue);
        UnlockMutex(d->blitMutex.get());
        for (qbQueuedBlit& e : entries) {
            if (e.layer)
                PresentVideoLayerPicture(L, d, e.owner, std::move(e.bitmap));
            else
                DrawQueuedBlit(d, e);
        }
    }
    return 0;
}

void ClearDisplayBlitQueue(qbDisplay* display) {
    if (!display->blitMutex) return;
    LockMutex(display->blitMutex.get());
    display->blitQueue.clear();
    UnlockMutex(display->blitMutex.get());
}
