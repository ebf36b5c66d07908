// Scaling and resizing displays. A scaling display keeps its picture at the
// picture's size and shows it at the scale size; any other display's
// picture is the window's size.
#include "display/displayscaling.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/displayhooks.h"
#include "display/displays.h"
#include "display/displaywindow.h"
#include "display/doublebuffer.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "platform/platform_ops.h"

namespace {

bool IsScaling(const qbDisplay* d) { return d->autoscale || d->layerScale; }
bool HasScaleSize(const qbDisplay* d) { return d->scaleWidth > 0 && d->scaleHeight > 0; }

}  // namespace

// The record keeps its id, its place in the list and its data.
int RebuildDisplayPicture(qbDisplay* d, int32_t width, int32_t height, bool smooth) {
    qbBGPic* picture = d->bgpic;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    if (picture->madeByDisplay || !picture->current.bitmap) {
        bitmap = AllocBitmap(width, height, 0, nullptr);
        if (!bitmap) return ERR_BITMAP;
        if (int err = FillDisplayBackdrop(d, bitmap, nullptr, width, height)) {
            FreeBitmap(bitmap);
            return err;
        }
    } else {
        // Gradient, texture and scalable pictures are made anew at the size.
        qbImageTriple made;
        if (int err = RenderBGPicAtSize(nullptr, picture, width, height, smooth, &made)) return err;
        bitmap = made.bitmap;
        mask = made.mask;
        alpha = made.alpha;
    }
    const qbImageTriple old = picture->initial;
    FreeDerivedBGPicImages(picture);
    FreeBitmap(old.bitmap);
    FreeMask(old.mask);
    FreeAlphaChannel(old.alpha);
    InitBGPicRecord(picture, picture->wrappedType, picture->wrappedFrame, picture->wrappedObject, nullptr, bitmap,
                    mask, alpha, width, height, false);
    return 0;
}

namespace {

// Position constants and coordinates marked relative lie on the display's
// monitor; other coordinates are on the desktop already.
void ResolvePosition(qbDisplay* d) {
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh) == 0) {
        const int32_t x = ResolveSpecialX(d->x, d->width + d->borderWidth, mw, 0.0);
        const int32_t y = ResolveSpecialY(d->y, d->height + d->borderHeight, mh, 0.0);
        d->x = AddCoordinates(x, x != d->x || d->relativeX ? mx : 0);
        d->y = AddCoordinates(y, y != d->y || d->relativeY ? my : 0);
    }
    d->relativeX = d->relativeY = 0;
}

}  // namespace

void ComputeFitBorders(qbDisplay* d, const qbBGPic* picture, int32_t width, int32_t height, int32_t* scaledWidth,
                       int32_t* scaledHeight) {
    int32_t w = width;
    int32_t h = height;
    const bool shaped = picture && (picture->current.mask || picture->current.alpha);
    if ((d->flags & kDispKeepProportions) && picture && !shaped && picture->currentWidth > 0 &&
        picture->currentHeight > 0) {
        h = static_cast<int32_t>(static_cast<int64_t>(width) * picture->currentHeight / picture->currentWidth);
        if (h > height) {
            h = height;
            w = static_cast<int32_t>(static_cast<int64_t>(height) * picture->currentWidth / picture->currentHeight);
        }
    }
    d->fitBorders[0] = (width - w) / 2;
    d->fitBorders[1] = (height - h) / 2;
    d->fitBorders[2] = width - w - d->fitBorders[0];
    d->fitBorders[3] = height - h - d->fitBorders[1];
    d->view.offsetX = d->fitBorders[0];
    d->view.offsetY = d->fitBorders[1];
    if (scaledWidth) *scaledWidth = w;
    if (scaledHeight) *scaledHeight = h;
}

void ClearFitBorders(qbDisplay* d) {
    std::fill(std::begin(d->fitBorders), std::end(d->fitBorders), 0);
    d->view.offsetX = d->view.offsetY = 0;
}

void GetScaledPictureSize(const qbDisplay* d, int32_t* width, int32_t* height) {
    // Borders of an earlier, larger window never leave less than a pixel.
    *width = std::max(d->scaleWidth - d->fitBorders[0] - d->fitBorders[2], 1);
    *height = std::max(d->scaleHeight - d->fitBorders[1] - d->fitBorders[3], 1);
}

void SetDisplayScaleFactors(qbDisplay* d) {
    d->scaleX = d->scaleY = 1.0;
    if (!IsScaling(d) || !HasScaleSize(d) || !d->bgpic) return;
    int32_t shownWidth = 0, shownHeight = 0;
    GetScaledPictureSize(d, &shownWidth, &shownHeight);
    if (d->bgpic->currentWidth > 0) d->scaleX = static_cast<double>(shownWidth) / d->bgpic->currentWidth;
    if (d->bgpic->currentHeight > 0) d->scaleY = static_cast<double>(shownHeight) / d->bgpic->currentHeight;
}

int ApplyInitialScaling(ScriptState* L, qbDisplay* d) {
    if (!d->bgpic) return 0;
    if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    if (!IsScaling(d)) return 0;
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    const bool fit = (d->flags & kDispFitScale) != 0;
    if (fit) {
        if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh)) return ERR_GETMONITORINFO;
        d->relativeX = d->relativeY = 0;
        d->x = mx;
        d->y = my;
        d->width = mw - d->borderWidth;
        d->height = mh - d->borderHeight;
        ComputeFitBorders(d, d->bgpic, d->width, d->height, nullptr, nullptr);
    }
    if (!HasScaleSize(d)) return 0;
    qbResizeRequest r;
    r.x = d->x;
    r.y = d->y;
    const bool toMonitor = fit && (d->flags & kDispKeepProportions);
    r.width = toMonitor ? d->width : d->scaleWidth;
    r.height = toMonitor ? d->height : d->scaleHeight;
    r.smooth = d->smoothScale != 0;
    r.noWindow = true;
    r.quiet = true;
    return ResizeDisplay(L, d, r);
}

int ResizeDisplay(ScriptState* L, qbDisplay* d, const qbResizeRequest& r) {
    if (!d->bgpic) return ERR_WRONGUSAGE;
    if (r.width < 1 || r.height < 1) return ERR_BADDIMENSIONS;
    const int32_t oldWidth = d->width;
    const int32_t oldHeight = d->height;
    const bool open = d->state != DISPSTATE_CLOSED;
    if (!HasDisplayAdapter() && open && !d->hasShape && !r.noWindow &&
        (r.width != oldWidth || r.height != oldHeight)) {
        const int32_t keepWidth = d->view.width, keepHeight = d->view.height;
        d->view.width = r.width;
        d->view.height = r.height;
        const bool supported = IsDisplaySizeSupported(d) != 0;
        d->view.width = keepWidth;
        d->view.height = keepHeight;
        if (!supported) {
            char detail[32];
            std::snprintf(detail, sizeof detail, "%dx%d", r.width, r.height);
            SetErrorDetail(detail);
            return ERR_DISPLAYSIZE;
        }
    }
    if (IsScaling(d)) {
        // The picture stays; the window shows it at the new size.
        d->width = r.width;
        d->height = r.height;
        d->scaleWidth = r.width;
        d->scaleHeight = r.height;
        ComputeFitBorders(d, d->bgpic, r.width, r.height, nullptr, nullptr);
        SetDisplayScaleFactors(d);
        if (d->autoscale && d->showBuffer) {
            int32_t shownWidth = 0, shownHeight = 0;
            GetScaledPictureSize(d, &shownWidth, &shownHeight);
            if (int err = ResizeDoubleBuffer(L, d, shownWidth, shownHeight, true)) return err;
        }
    } else {
        if (r.width != d->bgpic->currentWidth || r.height != d->bgpic->currentHeight) {
            if (int err = RebuildDisplayPicture(d, r.width, r.height, r.smooth)) return err;
        }
        d->width = r.width;
        d->height = r.height;
        ClearFitBorders(d);
        SetDisplayScaleFactors(d);
    }
    if (r.move) {
        d->x = r.x;
        d->y = r.y;
        ResolvePosition(d);
    }
    if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    if (!r.noWindow && open) {
        ApplyDisplayRegions(d, false);
        ClearDisplayBorders(d);
        RefreshDisplay(L, d);
    }
    d->outputPosition[0] = d->outputPosition[1] = d->outputPosition[2] = 0;
    d->outputPosition[3] = d->bgpic->currentWidth - 1;
    if (!r.quiet && (d->width != oldWidth || d->height != oldHeight)) NotifyDisplayResized(d, d->width, d->height);
    return 0;
}
