// Double buffering of a display: the buffers, Flip, the end, and the
// buffers' part in resizing and refreshing the display.
#include "display/doublebuffer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displayhooks.h"
#include "display/displayscaling.h"
#include "display/output.h"
#include "display/refresh.h"
#include "display/selection.h"
#include "imaging/blit.h"
#include "imaging/scalebitmap.h"
#include "platform/platform_ops.h"

namespace {

constexpr uint32_t kFlipTagVSync = 1;

bool Autoscaling(const qbDisplay* d) { return d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0; }

bool AdapterDoubleBuffers() {
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    return slots && slots->BeginDoubleBuffer;
}

// The bitmap drawing goes into: the adapter keeps its own buffers and is
// reached through the display's picture buffer.
qbBitmap* BufferTarget(const qbDisplay* d, bool adapter) {
    return adapter ? d->spriteFreeBuffer.get() : d->drawBuffer.get();
}

void ShownSize(const qbDisplay* d, int32_t* width, int32_t* height) {
    if (Autoscaling(d)) {
        GetScaledPictureSize(d, width, height);
    } else {
        *width = d->bgpic->currentWidth;
        *height = d->bgpic->currentHeight;
    }
}

BitmapPtr ClearedBitmap(int32_t width, int32_t height) {
    BitmapPtr b(AllocBitmap(width, height, 0, nullptr));
    if (b) FillBitmapRect(b.get(), 0, 0, width, height, 0);
    return b;
}

// The output words of a display that draws into its double buffer.
void PointOutputAtBuffer(qbDisplay* d, bool adapter) {
    d->output = qbOutputSelection{BufferTarget(d, adapter), nullptr, nullptr, kOutputBrush, kOutputBrush};
    if (d == GetCurrentDisplay()) SetCurrentOutputBGPic(d->doubleBufferBGPic);
}

int OutputRefusal(const qbDisplay* d) {
    switch (d->output.type) {
    case kOutputBrush:
        if (IsDoubleBuffering(d)) return ERR_ENDDOUBLEBUFFER;
        return d->output.selected == kOutputAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case kOutputMask: return ERR_SELECTMASK;
    case kOutputAlphaChannel: return ERR_SELECTALPHACHANNEL;
    case kOutputBGPic: return ERR_SELECTBG;
    default: return IsDoubleBuffering(d) ? ERR_ENDDOUBLEBUFFER : 0;
    }
}

bool Transparent(const qbBGPic* p) { return p && (p->keyColour != -1 || p->current.mask || p->current.alpha); }

// One listed rectangle cut to a bitmap's size; false when nothing is left.
bool RectIn(const qbDirtyRect& r, const qbBitmap* b, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    const int32_t x1 = std::max(r.x1, 0), y1 = std::max(r.y1, 0);
    const int32_t x2 = std::min(r.x2, b->width - 1), y2 = std::min(r.y2, b->height - 1);
    if (x2 < x1 || y2 < y1) return false;
    *x = x1;
    *y = y1;
    *w = x2 - x1 + 1;
    *h = y2 - y1 + 1;
    return true;
}

// A whole frame between two buffers of one layout, across rows: a copy
// this large streams past the caches. With a display to show it on, the
// frame goes band by band, each band reaching the window while it is still
// in the cache (about a quarter of a megabyte, 34 rows at full HD), so it
// is read from memory once instead of twice; the bands are held until the
// last, so the window never shows part of a frame.
bool CopyWholeFrame(qbBitmap* from, qbBitmap* to, qbDisplay* present = nullptr) {
    if (HasDisplayAdapter() || from->width != to->width || from->height != to->height) return false;
    qbBitmapLock a, b;
    if (!LockBitmap(from, kLockReadOnly, &a)) return false;
    if (!LockBitmap(to, 0, &b)) {
        UnlockBitmap(&a);
        return false;
    }
    const bool same = a.pixels && b.pixels && a.pixelFormat == b.pixelFormat && a.bytesPerPixel == b.bytesPerPixel &&
                      a.rowLength == b.rowLength && a.height == b.height && a.width == b.width && a.height > 0;
    if (same) {
        const size_t rowBytes = static_cast<size_t>(a.rowLength) * a.bytesPerPixel;
        const int32_t band =
            present ? std::max<int32_t>(1, static_cast<int32_t>((256u << 10) / std::max<size_t>(rowBytes, 1)))
                    : a.height;
        for (int32_t y = 0; y < a.height; y += band) {
            const int32_t rows = std::min(band, a.height - y);
            const size_t offset = rowBytes * static_cast<size_t>(y);
            std::memcpy(static_cast<uint8_t*>(b.pixels) + offset, static_cast<const uint8_t*>(a.pixels) + offset,
                        rowBytes * static_cast<size_t>(rows - 1) + static_cast<size_t>(a.width) * a.bytesPerPixel);
            if (present) BlitToDisplay(to, 0, y, present, 0, y, to->width, rows, 0, 0, kBlitHold, nullptr, nullptr);
        }
    }
    UnlockBitmap(&b);
    UnlockBitmap(&a);
    if (same && present) FlushNativeWindow(present);
    return same;
}

// The whole frame copied and shown in one pass, where nothing watches the
// window's blits one by one and the shown frame covers the picture.
bool CopyAndPresentInBands(qbDisplay* d, qbBitmap* from, qbBitmap* to) {
    if (DisplayHasHooks(d) || !d->softDoubleBuffer || d->refreshBlock || !d->bgpic) return false;
    if (d->bgpic->currentWidth < to->width || d->bgpic->currentHeight < to->height) return false;
    return CopyWholeFrame(from, to, d);
}

}  // namespace

int BeginDoubleBufferCore(ScriptState*, qbDisplay* d, bool hardware, bool pictureHasLayers) {
    if (!d || !d->bgpic) return ERR_FINDDISPLAY;
    if (int err = OutputRefusal(d)) return err;
    if (d->layersEnabled || pictureHasLayers) return ERR_LAYERSOFF;
    if (d->refreshBlock) return ERR_BEGINREFRESH;
    if (d->bgpic->spriteInstances) return ERR_NOSPRITES;
    if (Transparent(d->bgpic)) return ERR_DBTRANSWIN;
    if (IsVideoOnDisplay(d)) return ERR_VIDATTACHED;
    const bool adapter = hardware && AdapterDoubleBuffers();
    if (adapter) {
        if (d->hooks) return ERR_SATELLITE;
        if (d->state == DISPSTATE_CLOSED || !d->adapterHandle) return ERR_CLOSEDDISPLAY;
    }

    const int32_t width = d->bgpic->currentWidth, height = d->bgpic->currentHeight;
    BitmapPtr draw, show;
    if (!adapter) {
        int32_t shownWidth = 0, shownHeight = 0;
        ShownSize(d, &shownWidth, &shownHeight);
        show = ClearedBitmap(shownWidth, shownHeight);
        if (!show) return ERR_BITMAP;
        draw = ClearedBitmap(width, height);
        if (!draw) return ERR_BITMAP;
    }
    try {
        if (!d->bufferRecord) d->bufferRecord = std::make_shared<qbBGPic>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (!InitDirtyRectList(&d->dirtyRects)) return ERR_MEM;
    if (adapter)
        if (int err = CallSlot(DisplayAdapterSlots()->BeginDoubleBuffer, d->adapterHandle, nullptr)) return err;

    d->drawBuffer = std::move(draw);
    d->showBuffer = std::move(show);
    // What was on screen before is not part of the first frame.
    d->dirtyRects.MarkFull();
    qbBGPic* record = d->bufferRecord.get();
    InitBGPicRecord(record, kOutputBrush, 0, nullptr, nullptr, BufferTarget(d, adapter), nullptr, nullptr, width,
                    height, false);
    d->doubleBufferBGPic = record;
    d->softDoubleBuffer = adapter ? 0 : 1;
    d->hardDoubleBuffer = adapter ? 1 : 0;
    d->doubleBufferHardware = adapter ? 1 : 0;
    d->doubleBufferSuspended = 0;
    PointOutputAtBuffer(d, adapter);
    return 0;
}

int FlipDoubleBuffer(ScriptState* L, qbDisplay* d, bool vsync) {
    if (!d) return ERR_NODOUBLEBUFFER;
    if (d->doubleBufferSuspended) return CheckOutputGuard(d, OutputGuard::Refresh);
    if (!IsDoubleBuffering(d)) return ERR_NODOUBLEBUFFER;
    if (d->hardDoubleBuffer) {
        const qbAdapterTag tags[] = {{kFlipTagVSync, vsync ? 1 : 0}, {0, 0}};
        return CallSlot(DisplayAdapterSlots()->Flip, d->adapterHandle, tags);
    }
    qbBitmap* draw = d->drawBuffer.get();
    qbBitmap* show = d->showBuffer.get();
    if (!draw || !show) return ERR_NODOUBLEBUFFER;
    qbDirtyRectList& list = d->dirtyRects;
    if (Autoscaling(d)) {
        qbBitmap* out = nullptr;
        if (!HasDisplayAdapter())
            if (int err = ScaleBitmap(draw, nullptr, nullptr, 0, 0, show, draw->width, draw->height, show->width,
                                      show->height, d->smoothScale != 0, &out, nullptr, nullptr))
                return err;
    } else if (!list.Full()) {
        MergeDirtyRects(&list);
        for (int32_t i = 0; i < list.count; ++i) {
            const qbDirtyRect& r = list.entries[static_cast<size_t>(i)];
            int32_t x, y, w, h;
            if (!r.dead && RectIn(r, draw, &x, &y, &w, &h)) CopyBitmapRect(draw, x, y, show, x, y, w, h);
        }
    } else if (!vsync && CopyAndPresentInBands(d, draw, show)) {
        list.Reset();
        return 0;
    } else if (!CopyWholeFrame(draw, show)) {
        CopyBitmapRect(draw, 0, 0, show, 0, 0, std::min(draw->width, show->width),
                       std::min(draw->height, show->height));
    }
    if (vsync)
        if (int err = WaitVBlank(L, 0)) return err;
    PresentDoubleBuffer(L, d, false);
    list.Reset();
    return 0;
}

void PresentDoubleBuffer(ScriptState*, qbDisplay* d, bool whole) {
    qbBitmap* show = d->showBuffer.get();
    if (!d->softDoubleBuffer && !(d->doubleBufferSuspended && !d->suspendedAdapter)) return;
    if (!show) return;
    const qbDirtyRectList& list = d->dirtyRects;
    const bool scaled = Autoscaling(d);
    if (!whole && !scaled && !list.Full()) {
        // The rectangles reach the window together: no half of a frame is
        // ever shown.
        const bool hold = !HasDisplayAdapter();
        for (int32_t i = 0; i < list.count; ++i) {
            const qbDirtyRect& r = list.entries[static_cast<size_t>(i)];
            int32_t x, y, w, h;
            if (!r.dead && RectIn(r, show, &x, &y, &w, &h))
                BlitToDisplay(show, x, y, d, x, y, w, h, 0, 0, hold ? uint32_t{kBlitHold} : 0u, nullptr, nullptr);
        }
        if (hold) FlushNativeWindow(d);
        return;
    }
    if (scaled && HasDisplayAdapter() && d->drawBuffer) {
        qbBitmap* draw = d->drawBuffer.get();
        RefreshDisplayRect(draw, 0, 0, d, 0, 0, draw->width, draw->height, kRefreshScaled);
        return;
    }
    int32_t w = show->width, h = show->height;
    if (!scaled && d->bgpic) {
        w = std::min(w, d->bgpic->currentWidth);
        h = std::min(h, d->bgpic->currentHeight);
    }
    RefreshDisplayRect(show, 0, 0, d, 0, 0, w, h, 0);
}

int EndDoubleBufferCore(ScriptState* L, qbDisplay* d) {
    if (!d) return ERR_NODOUBLEBUFFER;
    if (d->doubleBufferSuspended)
        if (int err = EndOutputSelection(L, d, false)) return err;
    if (!IsDoubleBuffering(d)) return ERR_NODOUBLEBUFFER;
    int err = 0;
    if (d->hardDoubleBuffer) {
        err = CallSlot(DisplayAdapterSlots()->EndDoubleBuffer, d->adapterHandle, nullptr);
    } else if (qbBitmap* draw = d->drawBuffer.get()) {
        // The frame drawn last becomes the display's picture.
        for (qbBitmap* into : {d->spriteFreeBuffer.get(), Autoscaling(d) ? d->backBuffer.get() : nullptr})
            if (into)
                CopyBitmapRect(draw, 0, 0, into, 0, 0, std::min(draw->width, into->width),
                               std::min(draw->height, into->height));
    }
    d->drawBuffer.reset();
    d->showBuffer.reset();
    d->output = qbOutputSelection{};
    if (d == GetCurrentDisplay()) SetCurrentOutputBGPic(d->bgpic);
    d->softDoubleBuffer = d->hardDoubleBuffer = d->doubleBufferHardware = 0;
    return err;
}

int ResizeDoubleBuffer(ScriptState* L, qbDisplay* d, int32_t width, int32_t height, bool noShow) {
    if (d->hardDoubleBuffer || (d->doubleBufferSuspended && d->suspendedAdapter)) return 0;
    if (!d->softDoubleBuffer && !d->doubleBufferSuspended) return 0;
    BitmapPtr show = ClearedBitmap(width, height);
    if (!show) return ERR_MEM;
    d->showBuffer = std::move(show);
    if (!noShow) PresentDoubleBuffer(L, d, true);
    return 0;
}

void SuspendDoubleBuffer(qbDisplay* d) {
    if (!IsDoubleBuffering(d)) return;
    d->doubleBufferSuspended = 1;
    d->suspendedAdapter = d->hardDoubleBuffer;
    d->softDoubleBuffer = d->hardDoubleBuffer = 0;
}

void ResumeDoubleBuffer(qbDisplay* d) {
    if (!d->doubleBufferSuspended) return;
    const bool adapter = d->suspendedAdapter != 0;
    d->doubleBufferSuspended = d->suspendedAdapter = 0;
    d->softDoubleBuffer = adapter ? 0 : 1;
    d->hardDoubleBuffer = adapter ? 1 : 0;
    PointOutputAtBuffer(d, adapter);
}
