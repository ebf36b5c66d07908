// Opening and closing a display's window. The record keeps where the window
// stood and how large it was when it closed, so that it opens there again.
#include "display/displaywindow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/ostime.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/displaymenus.h"
#include "display/displayoptions.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/objecthooks.h"
#include "display/pointers.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "platform/platform_ops.h"

namespace {

constexpr int kDropFileSlot = 17;
constexpr int kClipboardSlot = 18;
void ClampRegion(qbWindowRegion& r, int32_t width, int32_t height) {
    r.x = std::clamp(r.x, 0, std::max(width - 1, 0));
    r.y = std::clamp(r.y, 0, std::max(height - 1, 0));
    r.width = std::max(1, std::min(r.width, width - r.x));
    r.height = std::max(1, std::min(r.height, height - r.y));
}

qbWindowRegion WindowRegion(const qbRegion& r, const qbDisplay* d, bool scaled) {
    qbWindowRegion w{r.type, r.x, r.y, r.width, r.height};
    if (scaled) {
        w.x = ClampToInt32(r.x * d->scaleX);
        w.y = ClampToInt32(r.y * d->scaleY);
        w.width = ClampToInt32(r.width * d->scaleX);
        w.height = ClampToInt32(r.height * d->scaleY);
    }
    return w;
}

void BuildRegions(std::vector<qbWindowRegion>& out, const std::vector<qbRegion>& given, bool isGiven,
                  const qbWindowRegion& fallback, const qbDisplay* d) {
    const bool scaled = (d->autoscale || d->layerScale) && d->scaleWidth > 0 && d->scaleHeight > 0;
    out.clear();
    if (isGiven) {
        for (const qbRegion& r : given) out.push_back(WindowRegion(r, d, scaled));
    } else {
        out.push_back(fallback);
    }
    for (qbWindowRegion& r : out) ClampRegion(r, d->width, d->height);
}

void StoreRegions(qbDisplay* d) {
    constexpr int32_t kDragHeight = 15;
    constexpr int32_t kSizeCorner = 10;
    BuildRegions(d->view.dragRegions, d->dragRegions, d->dragRegionsGiven != 0,
                 qbWindowRegion{kRegionBox, 0, 0, d->width, kDragHeight}, d);
    BuildRegions(d->view.sizeRegions, d->sizeRegions, d->sizeRegionsGiven != 0,
                 qbWindowRegion{kRegionBox, d->width - kSizeCorner, d->height - kSizeCorner, kSizeCorner, kSizeCorner},
                 d);
}

// The adapter's OpenDisplay: the tag list tells it the picture, the monitor
// and the scaling.
int OpenAdapterWindow(ScriptState* L, qbDisplay* d) {
    int32_t resultA = 0, resultB = 0;
    std::vector<qbAdapterTag> tags = {
        {1, d->bgpic ? d->bgpic->currentWidth : d->width},
        {2, d->bgpic ? d->bgpic->currentHeight : d->height},
        {3, reinterpret_cast<intptr_t>(&resultA)},
        {4, reinterpret_cast<intptr_t>(&resultB)},
        {5, reinterpret_cast<intptr_t>(L)},
        {6, d->monitor},
    };
    if (d->fullScreen) {
        tags.push_back({7, d->screen.width});
        tags.push_back({8, d->screen.height});
        tags.push_back({9, d->screen.depth});
    }
    if (d->scaleWidth) tags.push_back({10, d->scaleWidth});
    if (d->scaleHeight) tags.push_back({11, d->scaleHeight});
    tags.push_back({12, d->smoothScale});
    tags.push_back({0, 0});
    d->adapterHandle = CallSlot(DisplayAdapterSlots()->OpenDisplay, d->title, d->x, d->y, d->width, d->height,
                                GetDisplayStyleFlags(d), tags.data());
    if (!d->adapterHandle) return ERR_WINDOW;
    if (resultA) d->flags |= 0x400000;
    if (resultB) d->flags |= 0x800000;
    return 0;
}

// Read by the window whenever it builds its menu strip, so that a menu
// attached later is the one shown.
const std::vector<qbMenuItem>* DisplayMenuTree(qbDisplay* d) {
    const auto* menu = static_cast<const qbMenu*>(d->menu);
    return menu ? &menu->tree : nullptr;
}

}  // namespace

std::vector<uint8_t> WindowShapePlane(const qbDisplay* d, const qbBitmap* mask, const qbBitmap* alpha) {
    const qbBitmap* source = mask ? mask : alpha;
    const qbBitmapPlane* plane = source ? source->plane.get() : nullptr;
    std::vector<uint8_t> shape;
    if (!plane || !plane->data || plane->width <= 0 || plane->height <= 0 || d->width <= 0 || d->height <= 0)
        return shape;
    shape.resize(static_cast<size_t>(d->width) * static_cast<size_t>(d->height));
    for (int32_t y = 0; y < d->height; ++y) {
        const int32_t sy = static_cast<int32_t>(int64_t{y} * plane->height / d->height);
        const uint8_t* row = plane->data + static_cast<size_t>(sy) * plane->rowBytes;
        for (int32_t x = 0; x < d->width; ++x) {
            const int32_t sx = static_cast<int32_t>(int64_t{x} * plane->width / d->width);
            const bool in = mask ? ((row[sx >> 3] >> (7 - (sx & 7))) & 1) != 0 : row[sx] > 0;
            shape[static_cast<size_t>(y) * d->width + x] = in ? 0xFF : 0;
        }
    }
    return shape;
}

namespace {

int OpenNativeWindow(qbDisplay* d, bool activate) {
    if (int err = RefuseUnsupportedWindowSize(d, d->width, d->height)) return err;
    qbBitmap* mask = d->shapeMask ? d->shapeMask.get() : (d->bgpic ? d->bgpic->current.mask : nullptr);
    qbBitmap* alpha = d->shapeAlpha ? d->shapeAlpha.get() : (d->bgpic ? d->bgpic->current.alpha : nullptr);
    d->hasShape = mask || alpha ? 1 : 0;
    d->view.hasDropHandler = d->handlers[kDropFileSlot].function != -1;
    d->view.hasClipboardHandler = d->handlers[kClipboardSlot].function != -1;
    d->view.menuTree = &DisplayMenuTree;
    const std::vector<uint8_t> shape = d->hasShape ? WindowShapePlane(d, mask, alpha) : std::vector<uint8_t>{};
    if (int err = CreateNativeWindow(d, activate ? 1 : 0, nullptr, shape.empty() ? nullptr : shape.data())) return err;
    ResumeDisplayVideos(d);
    return 0;
}

void ShowPointerState(qbDisplay* d) {
    const bool fullScreen = d->fullScreen || (d->flags & kDisplayFakeFullScreen);
    if ((d->flags & kDispHidePointer) && fullScreen) {
        ShowHideDisplayPointer(d, false);
    } else if (d->pointerHidden) {
        ShowHideDisplayPointer(d, false);
    } else if (d->pointer) {
        SetDisplayPointer(d, d->pointer->native, d->pointer->kind);
    } else {
        ShowHideDisplayPointer(d, true);
    }
}

}  // namespace

void ApplyDisplayRegions(qbDisplay* d, bool keepWindow) {
    StoreRegions(d);
    if (d->state == DISPSTATE_CLOSED) return;
    if (!keepWindow) SizeMoveDisplayWindow(d);
    if (!HasDisplayAdapter()) UpdateWindowRegions(d);
}

int RealizeDisplay(ScriptState* L, qbDisplay* d, bool activate, bool) {
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh)) return ERR_GETMONITORINFO;
    if (int err = DetermineDisplayBorders(d)) return err;
    int32_t originX = 0, originY = 0;
    if (d->monitor == 0) {
        d->relativeX = d->relativeY = 0;
    } else {
        if (d->relativeX) originX = mx;
        if (d->relativeY) originY = my;
        d->relativeX = d->relativeY = 0;
    }
    d->x = SaturatingAdd(ResolveSpecialX(d->x, d->width + d->borderWidth, mw, 0.0), originX);
    d->y = SaturatingAdd(ResolveSpecialY(d->y, d->height + d->borderHeight, mh, 0.0), originY);
    StoreRegions(d);
    if (HasDisplayAdapter()) {
        if (int err = OpenAdapterWindow(L, d)) return err;
    } else {
        SyncWindowView(d);
        if (int err = OpenNativeWindow(d, activate)) return err;
        if (d->view.hasDropHandler) SetWindowDropTarget(d);
    }
    d->state = DISPSTATE_OPEN;
    d->activateOnOpen = activate ? 1 : 0;
    ShowPointerState(d);
    if (d->bgpic) {
        if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    }
    ClearDisplayBorders(d);
    RefreshDisplay(L, d);
    GetMonotonicTime(&d->openTime);
    return 0;
}
