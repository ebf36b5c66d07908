// The BGPic side of display scaling: the picture rendered at the window's
// size for the layer scaling engine, its return to the base size, and the
// scaled shape planes of an autoscaled window.
#include "display/bgpicscaling.h"

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displayscaling.h"
#include "imaging/scalebitmap.h"

namespace {

const qbLayerScalingHooks* layerHooks = nullptr;

void SetFactors(qbDisplay* d, const qbBGPic* record, int32_t width, int32_t height) {
    d->scaleX = record->baseWidth > 0 ? static_cast<double>(width) / record->baseWidth : 1.0;
    d->scaleY = record->baseHeight > 0 ? static_cast<double>(height) / record->baseHeight : 1.0;
}

// Frees the current images that are the BGPic's own (not its base or
// initial ones) and points the current triple at triple.
void ReplaceCurrent(qbBGPic* r, const qbImageTriple& triple, int32_t width, int32_t height) {
    const qbImageTriple old = r->current;
    r->current = triple;
    FreeReplacedImages(old, {&r->base, &r->initial, &r->current});
    r->currentWidth = width;
    r->currentHeight = height;
}

}  // namespace

void SetLayerScalingHooks(const qbLayerScalingHooks* hooks) { layerHooks = hooks; }

void SyncDisplayScalingWords(qbDisplay* d) {
    d->pictureScaling = d->layerScale ? 1 : 0;
    d->outputScaling = d->autoscale && !d->layerScale ? 1 : 0;
}

bool DisplayScalesPicture(const qbDisplay* d) { return d && d->pictureScaling && HasScaleSize(d); }

int FitBGPicToDisplay(ScriptState* L, qbDisplay* d, qbBGPic* record, bool resetBuffers) {
    int32_t width = 0, height = 0;
    GetScaledPictureSize(d, &width, &height);
    qbImageTriple made;
    if (int err = RenderBGPicAtSize(L, record, width, height, d->smoothScale != 0, &made)) return err;
    ReplaceCurrent(record, made, width, height);
    SetFactors(d, record, width, height);
    if (resetBuffers)
        if (int err = ResetDisplayBuffers(d, record)) return err;
    return layerHooks ? layerHooks->rescaleAll(L, d, record) : 0;
}

int ApplyDisplayScaleToBGPic(ScriptState* L, qbDisplay* d, qbBGPic* record, BitmapPtr* mask, BitmapPtr* alpha) {
    mask->reset();
    alpha->reset();
    if (d->pictureScaling && HasScaleSize(d)) {
        int32_t width = 0, height = 0;
        GetScaledPictureSize(d, &width, &height);
        if (record->currentWidth == width && record->currentHeight == height) {
            SetFactors(d, record, width, height);
            return 0;
        }
        return FitBGPicToDisplay(L, d, record, false);
    }
    if (d->outputScaling && HasScaleSize(d)) {
        int32_t width = 0, height = 0;
        GetScaledPictureSize(d, &width, &height);
        SetFactors(d, record, width, height);
        return ScaleShapePlanes(record, width, height, d->smoothScale != 0, mask, alpha);
    }
    d->scaleX = d->scaleY = 1.0;
    return 0;
}

int UnscaleBGPic(ScriptState* L, qbDisplay* d, qbBGPic* record, bool rebuild) {
    if (record->current.bitmap != record->base.bitmap || record->currentWidth != record->baseWidth ||
        record->currentHeight != record->baseHeight)
        ReplaceCurrent(record, record->base, record->baseWidth, record->baseHeight);
    if (layerHooks) layerHooks->dropScaled(L, record);
    return rebuild ? ResetDisplayBuffers(d, record) : 0;
}

int ScaleShapePlanes(const qbBGPic* record, int32_t width, int32_t height, bool smooth, BitmapPtr* mask,
                     BitmapPtr* alpha) {
    mask->reset();
    alpha->reset();
    const qbImageTriple& from = record->current;
    if (!from.mask && !from.alpha) return 0;
    qbBitmap *bitmap = nullptr, *m = nullptr, *a = nullptr;
    if (int err = ScaleBitmap(from.bitmap, from.mask, from.alpha, 0, 0, nullptr, record->currentWidth,
                              record->currentHeight, width, height, smooth, &bitmap, from.mask ? &m : nullptr,
                              from.alpha ? &a : nullptr))
        return err;
    // Only the planes shape the window; the colours are the frame's.
    FreeBitmap(bitmap);
    mask->reset(m);
    alpha->reset(a);
    return 0;
}
