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
#include "display/bgpicscaling.h"
#include "display/displayhooks.h"
#include "display/displays.h"
#include "display/displaywindow.h"
#include "display/doublebuffer.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "platform/platform_ops.h"

namespace {

bool IsScaling(const qbDisplay* d) { return d->autoscale || d->layerScale; }
}  // namespace

bool HasScaleSize(const qbDisplay* d) { return d->scaleWidth > 0 && d->scaleHeight > 0; }

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
        d->x = SaturatingAdd(x, x != d->x || d->relativeX ? mx : 0);
        d->y = SaturatingAdd(y, y != d->y || d->relativeY ? my : 0);
    }
    d->relativeX = d->relativeY = 0;
}

// A scaling display's window size is its scale size.
void StoreScaleSize(qbDisplay* d, int32_t width, int32_t height) {
    d->width = d->scaleWidth = width;
    d->height = d->scaleHeight = height;
    ComputeFitBorders(d, d->bgpic, width, height, nullptr, nullptr);
}

// The layer scaling engine draws the picture and its layers at the shown
// size; at the picture's own size there is nothing to scale.
int ScaleLayeredPicture(ScriptState* L, qbDisplay* d) {
    qbBGPic* picture = d->bgpic;
    int32_t width = 0, height = 0;
    GetScaledPictureSize(d, &width, &height);
    if (width == picture->baseWidth && height == picture->baseHeight) {
        d->scaleX = d->scaleY = 1.0;
        return UnscaleBGPic(L, d, picture, true);
    }
    return FitBGPicToDisplay(L, d, picture, true);
}

// An autoscaled window's shape is the picture's mask and alpha at the
// window's scale; at 1.0 the picture's own planes serve.
int ScaleWindowShape(qbDisplay* d) {
    d->shapeMask.reset();
    d->shapeAlpha.reset();
    if (d->scaleX == 1.0 && d->scaleY == 1.0) return 0;
    int32_t width = 0, height = 0;
    GetScaledPictureSize(d, &width, &height);
    return ScaleShapePlanes(d->bgpic, width, height, d->smoothScale != 0, &d->shapeMask, &d->shapeAlpha);
}

}  // namespace

void ComputeFitBorders(qbDisplay* d, const qbBGPic* picture, int32_t width, int32_t height, int32_t* scaledWidth,
                       int32_t* scaledHeight) {
    int32_t w = width;
    int32_t h = height;
    const bool shaped = picture && (picture->current.mask || picture->current.alpha);
    // The proportions are the base picture's: under the layer scaling
    // engine the current one is already drawn at the shown size.
    if ((d->flags & kDispKeepProportions) && picture && !shaped && picture->baseWidth > 0 && picture->baseHeight > 0) {
        h = static_cast<int32_t>(static_cast<int64_t>(width) * picture->baseHeight / picture->baseWidth);
        if (h > height) {
            h = height;
            w = static_cast<int32_t>(static_cast<int64_t>(height) * picture->baseWidth / picture->baseHeight);
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
    if (d->bgpic->baseWidth > 0) d->scaleX = static_cast<double>(shownWidth) / d->bgpic->baseWidth;
    if (d->bgpic->baseHeight > 0) d->scaleY = static_cast<double>(shownHeight) / d->bgpic->baseHeight;
}

int ApplyInitialScaling(ScriptState* L, qbDisplay* d) {
    if (!d->bgpic) return 0;
    SyncDisplayScalingWords(d);
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

int RefuseUnsupportedWindowSize(qbDisplay* d, int32_t width, int32_t height) {
    if (HasDisplayAdapter()) return 0;
    const int32_t keepWidth = d->view.width, keepHeight = d->view.height;
    d->view.width = width;
    d->view.height = height;
    const bool supported = IsDisplaySizeSupported(d) != 0;
    d->view.width = keepWidth;
    d->view.height = keepHeight;
    if (supported) return 0;
    char detail[32];
    std::snprintf(detail, sizeof detail, "%dx%d", width, height);
    SetErrorDetail(detail);
    return ERR_DISPLAYSIZE;
}

int ResizeDisplay(ScriptState* L, qbDisplay* d, const qbResizeRequest& r) {
    const double oldScaleX = d->scaleX, oldScaleY = d->scaleY;
    if (!d->bgpic) return ERR_WRONGUSAGE;
    if (r.width < 1 || r.height < 1) return ERR_BADDIMENSIONS;
    SyncDisplayScalingWords(d);
    const int32_t oldWidth = d->width;
    const int32_t oldHeight = d->height;
    const bool open = d->state != DISPSTATE_CLOSED;
    if (!HasDisplayAdapter() && open && !d->hasShape && !r.noWindow &&
        (r.width != oldWidth || r.height != oldHeight))
        if (int err = RefuseUnsupportedWindowSize(d, r.width, r.height)) return err;
    // A drawing that cannot follow the buffers to their new size says so
    // before anything changes.
    if (r.width != oldWidth || r.height != oldHeight)
        if (const int32_t refusal = AsyncDrawsRefuseResize()) return refusal;
    // Layers that show this picture keep it as it is now.
    if (int err = DetachBGPicFromLayers(L, d->bgpic)) return err;
    if (d->layerScale) {
        StoreScaleSize(d, r.width, r.height);
        if (int err = ScaleLayeredPicture(L, d)) return err;
    } else if (d->autoscale) {
        // The picture stays; the window shows it at the new size.
        StoreScaleSize(d, r.width, r.height);
        SetDisplayScaleFactors(d);
        if (int err = ScaleWindowShape(d)) return err;
        if (d->showBuffer) {
            int32_t shownWidth = 0, shownHeight = 0;
            GetScaledPictureSize(d, &shownWidth, &shownHeight);
            if (int err = ResizeDoubleBuffer(L, d, shownWidth, shownHeight, true)) return err;
        }
        if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    } else {
        if (r.width != d->bgpic->currentWidth || r.height != d->bgpic->currentHeight) {
            if (int err = RebuildDisplayPicture(d, r.width, r.height, r.smooth)) return err;
        }
        d->width = r.width;
        d->height = r.height;
        ClearFitBorders(d);
        SetDisplayScaleFactors(d);
        if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    }
    if (r.move) {
        d->x = r.x;
        d->y = r.y;
        ResolvePosition(d);
    }
    if (!r.noWindow && open) {
        if (d->hasShape) {
            // A shape is the window's for life: a new one needs a new window.
            if (int err = CloseDisplayCore(L, d, kCloseKeepBrushes)) return err;
            if (int err = RealizeDisplay(L, d, d->activateOnOpen != 0, true)) return err;
        } else {
            ApplyDisplayRegions(d, false);
            ClearDisplayBorders(d);
            RefreshDisplay(L, d);
        }
    }
    d->outputPosition[0] = d->outputPosition[1] = d->outputPosition[2] = 0;
    d->outputPosition[3] = d->bgpic->baseWidth - 1;
    if (d->scaleX != oldScaleX || d->scaleY != oldScaleY) RescaleDisplayVideos(L, d);
    if (!r.quiet && (d->width != oldWidth || d->height != oldHeight)) NotifyDisplayResized(d, d->width, d->height);
    return 0;
}

int ResizeLayeredPicture(ScriptState* L, qbDisplay* d, int32_t width, int32_t height) {
    if (!d->bgpic) return ERR_WRONGUSAGE;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    qbBGPic* picture = d->bgpic;
    if (int err = DetachBGPicFromLayers(L, picture)) return err;
    const bool smooth = d->smoothScale != 0;
    if (picture->madeByDisplay) {
        if (int err = RebuildDisplayPicture(d, width, height, smooth)) return err;
    } else if (int err = ScaleBGPicCore(L, picture, width, height, smooth)) {
        return err;
    }
    StoreScaleSize(d, d->scaleWidth, d->scaleHeight);
    d->outputPosition[3] = picture->baseWidth - 1;
    return ScaleLayeredPicture(L, d);
}
