// Plot, ReadPixel and Cls: the script's single pixels of the current output,
// and clearing it.
#include <algorithm>
#include <cstdint>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "draw/colours.h"
#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/selection.h"
#include "objects/sprites.h"
#include "vm/vm.h"

namespace {

bool IsOffscreen(int32_t kind) { return kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel; }

// Inside the output, the clip region's rectangle and its mask.
bool PixelVisible(const qbOutputView& out, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= out.width || y >= out.height) return false;
    const qbClipRegion* clip = out.clip && *out.clip ? static_cast<const qbClipRegion*>(*out.clip) : nullptr;
    if (!clip) return true;
    const int64_t cx = int64_t{x} - clip->x, cy = int64_t{y} - clip->y;
    if (cx < 0 || cy < 0 || cx >= clip->width || cy >= clip->height) return false;
    return !clip->mask ||
           ReadBitmapPixel(clip->mask, static_cast<int32_t>(cx), static_cast<int32_t>(cy), true) != 0;
}

// What the script's drawing reads and writes: the display's picture buffer
// or the selected bitmap (null for a plane alone).
qbBitmap* ColourTarget(const qbDisplay* d) {
    return d->output.type == kObjectTypeDisplay ? d->spriteFreeBuffer.get() : d->output.bitmap;
}

uint8_t ReadAlphaByte(const qbBitmap* alpha, int32_t x, int32_t y) {
    const qbBitmapPlane* p = alpha && alpha->kind == kBitmapKindAlpha ? alpha->plane.get() : nullptr;
    if (!p || x >= p->width || y >= p->height) return 255;
    return p->data[static_cast<size_t>(y) * p->rowBytes + static_cast<size_t>(x)];
}

// The mask mode and alpha byte drawing into a selected plane writes; an
// intensity of -1 means the script has chosen none.
int PlaneMaskMode() {
    const int32_t mode = GetDrawMaskMode();
    return mode < 0 ? kMaskVisible : mode;
}

uint8_t PlaneAlpha(int fallback) {
    const int32_t v = GetDrawAlphaIntensity();
    return static_cast<uint8_t>(v < 0 ? fallback : v > 255 ? 255 : v);
}

bool AdapterTakesAlpha() { return HasDisplayAdapter() && (DisplayAdapter().drawFlags & kAdapterDrawAlpha) != 0; }

void PlotOffscreen(ScriptState* L, qbDisplay* d, int32_t x, int32_t y, uint32_t colour, uint32_t a) {
    const bool colourSelected = d->output.type == kOutputBrush;
    qbBitmap* target = ColourTarget(d);
    if (target && colourSelected) {
        const uint32_t rgb = colour & 0xFFFFFF;
        const uint32_t pixel = a ? MixColors(ReadBitmapPixel(target, x, y, false), rgb, static_cast<int32_t>(255 - a)) : rgb;
        WriteBitmapPixel(target, x, y, pixel, false);
    }
    if (d->output.mask) WriteBitmapPixel(d->output.mask, x, y, colourSelected ? kMaskVisible : PlaneMaskMode(), true);
    if (d->output.alpha) {
        const int fallback = static_cast<int>(255 - a);
        FillAlphaRect(d->output.alpha, x, y, 1, 1, colourSelected ? static_cast<uint8_t>(fallback) : PlaneAlpha(fallback));
    }
    if (d->softDoubleBuffer) AddDirtyRect(L, x, y, 1, 1);
}

void PlotOnDisplay(ScriptState* L, qbDisplay* d, int32_t x, int32_t y, uint32_t colour, uint32_t a) {
    qbBitmap* target = ColourTarget(d);
    const uint32_t rgb = colour & 0xFFFFFF;
    const uint32_t mixed =
        a && target ? MixColors(ReadBitmapPixel(target, x, y, false), rgb, static_cast<int32_t>(255 - a)) : rgb;
    const bool adapterOwns = HasDisplayAdapter() && (DisplayAdapterFlags() & kAdapterOwnsBitmaps) != 0;
    if (target && !adapterOwns) {
        WriteBitmapPixel(target, x, y, mixed, false);
        // The composed picture shows the same until the next redraw.
        if (d->backBuffer && d->backBuffer.get() != target) WriteBitmapPixel(d->backBuffer.get(), x, y, mixed, false);
    }
    if (d->softDoubleBuffer) {
        AddDirtyRect(L, x, y, 1, 1);
    } else if (!HitTestVideos(d, x, y)) {
        PlotDisplayPixel(d, x, y, a && AdapterTakesAlpha() ? rgb | (a << 24) : mixed);
    }
}

// Every layer of the BGPic goes; none may be in an async draw's hands.
int ClearLayers(ScriptState* L, qbDisplay* d) {
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return 0;
    const int32_t count = CountLayers(bgpic);
    for (int32_t i = 1; i <= count; ++i)
        if (AsyncDrawUsesObject(GetLayerByIndex(bgpic, i))) return ERR_REMADLAYER;
    if (count > 0 && d->output.type == kOutputBGPic)
        AppendDirtyRect(&d->dirtyRects, 0, 0, bgpic->currentWidth, bgpic->currentHeight, true);
    for (int32_t i = 1; i <= count; ++i) RemoveLayerButton(L, bgpic, GetLayerByIndex(bgpic, i));
    FreeBGPicLayers(L, bgpic, true);
    return 0;
}

// The display returns to its background picture, without sprites.
void RestoreBackground(qbDisplay* d) {
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return;
    RemoveSpriteInstancesOnly(bgpic, nullptr);
    if (!bgpic->current.bitmap) return;
    const int32_t w = bgpic->currentWidth, h = bgpic->currentHeight;
    // Into each buffer as far as both reach: a buffer need not have the
    // picture's size.
    qbBitmap* from = bgpic->current.bitmap;
    for (qbBitmap* into : {d->spriteFreeBuffer.get(), d->backBuffer.get(), d->drawBuffer.get()})
        if (into && into != from)
            CopyBitmapRect(from, 0, 0, into, 0, 0, std::min({w, into->width, from->width}),
                           std::min({h, into->height, from->height}));
}

void ClearOffscreen(ScriptState* L, qbDisplay* d, uint32_t colour, const qbOutputView& out) {
    const bool colourSelected = d->output.type == kOutputBrush;
    if (qbBitmap* target = ColourTarget(d); target && colourSelected)
        if (!ClearAdapterBitmap(target, colour & 0xFFFFFF))
            FillBitmapRect(target, 0, 0, out.width, out.height, colour & 0xFFFFFF);
    if (d->output.alpha) FillAlphaRect(d->output.alpha, 0, 0, out.width, out.height, colourSelected ? 255 : PlaneAlpha(255));
    if (d->output.mask)
        FillMaskRect(d->output.mask, 0, 0, out.width, out.height, colourSelected ? kMaskVisible : PlaneMaskMode());
    if (d->softDoubleBuffer) AddDirtyRect(L, 0, 0, out.width, out.height);
}

}  // namespace

int cmdPlot(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const int32_t xArg = ClampToInt32(VmCheckNumber(L, 1));
    const int32_t yArg = ClampToInt32(VmCheckNumber(L, 2));
    const double c = VmOptNumber(L, 3, 0);
    const uint32_t colour = c <= 0 || c != c ? 0u : c >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(c);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (d->layersEnabled) return ERR_LAYERSUPPORT2;
    if (IsOffscreen(d->output.type))
        if (int err = PrepareOutputTarget(L)) return err;
    const int32_t x = ResolveSpecialX(xArg, 1, 0, 0.0);
    const int32_t y = ResolveSpecialY(yArg, 1, 0, 0.0);
    const qbOutputView out = GetCurrentOutput();
    if (!PixelVisible(out, x, y)) return 0;
    // The window would show the pixel over the sprite until its next redraw.
    if (!IsOffscreen(d->output.type) && SpriteCoversPoint(GetCurrentBGPic(), x, y)) return 0;
    const uint32_t a = colour >> 24;
    if (IsOffscreen(d->output.type)) PlotOffscreen(L, d, x, y, colour, a);
    else PlotOnDisplay(L, d, x, y, colour, a);
    return 0;
}

int cmdReadPixel(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t xArg = ClampToInt32(VmCheckNumber(L, 1));
    const int32_t yArg = ClampToInt32(VmCheckNumber(L, 2));
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    const int32_t x = ResolveSpecialX(xArg, 1, 0, 0.0);
    const int32_t y = ResolveSpecialY(yArg, 1, 0, 0.0);
    const qbOutputView out = GetCurrentOutput();
    if (!PixelVisible(out, x, y)) return ERR_PIXELRANGE;
    uint32_t value = 0;
    switch (d->output.type) {
    case kOutputMask: value = d->output.mask ? ReadBitmapPixel(d->output.mask, x, y, true) : 1; break;
    case kOutputAlphaChannel: value = ReadAlphaByte(d->output.alpha, x, y); break;
    default: {
        qbBitmap* target = ColourTarget(d);
        if (!target) return d->output.type == kOutputBrush ? ERR_WRONGUSAGE : ERR_PIXELRANGE;
        qbBitmapLock lock;
        if (LockBitmap(target, kLockReadOnly, &lock) == 0) return ERR_WRONGUSAGE;
        UnlockBitmap(&lock);
        value = ReadBitmapPixel(target, x, y, false);
    }
    }
    VmPushNumber(L, static_cast<double>(value));
    return 1;
}

int cmdCls(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const double c = VmOptNumber(L, 1, 0);
    const uint32_t colour = c <= 0 || c != c ? 0u : c >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(c);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (IsOffscreen(d->output.type)) {
        if (int err = PrepareOutputTarget(L)) return err;
        ClearOffscreen(L, d, colour, GetCurrentOutput());
        return 0;
    }
    if (d->layersEnabled) {
        if (int err = ClearLayers(L, d)) return err;
    } else {
        RestoreBackground(d);
    }
    if (d->output.type == kObjectTypeDisplay) RefreshDisplay(L, d);
    return 0;
}
