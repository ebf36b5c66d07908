// Rebuilding a layer's transformed and shown states, moving a layer, and
// the matrix of a layer's transform options.
#include "objects/layergeometry.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <utility>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "imaging/bitmap.h"
#include "imaging/geometry.h"
#include "objects/brushes.h"
#include "objects/cliptransform.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/layerscaling.h"
#include "objects/shapehooks.h"
#include "objects/texthooks.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kKeep = 100000;

// Per-degree sines and cosines for 360, 359, ... 0 degrees, computed as the
// matrix builder computes its angles, so that a matrix it built for a whole
// degree finds that degree again exactly.
struct DegreeTables {
    double sine[361];
    double cosine[361];
    DegreeTables() {
        for (int k = 0; k <= 360; ++k) {
            const double a = (360.0 - k) * kPi / 180.0;
            sine[k] = std::sin(a);
            cosine[k] = std::cos(a);
        }
    }
};

const DegreeTables& Degrees() {
    static const DegreeTables tables;
    return tables;
}

bool SameSign(double a, double b) { return (a >= 0) == (b >= 0); }

// The factor that the first angle whose cosine has the sign of diagonal and
// that divides both elements alike gives; false when none does.
bool FindFactor(double diagonal, double other, double sineSign, double* factor) {
    const DegreeTables& t = Degrees();
    for (int k = 0; k <= 360; ++k) {
        const double c = t.cosine[k], s = t.sine[k] * sineSign;
        if (!SameSign(diagonal, c)) continue;
        const double a = diagonal / c, b = other / s;
        if (std::fabs(a - b) <= 0.0001) {
            *factor = a;
            return true;
        }
    }
    return false;
}

// Whether the display shows this BGPic scaled, so that layers get a shown
// state of their own at its factors.
bool DisplayScalesLayers(const qbDisplay* d, const qbBGPic* bgpic) {
    return d && d->pictureScaling && (d->scaleX != 1.0 || d->scaleY != 1.0) && bgpic &&
           d->bgpic == bgpic;
}

// A new state for the layer's base image under its transform, with the
// display's factors when scaled is set. The base state is not touched.
// With reuse (a state built from the same picture under the same matrix)
// the new state takes over its transformed image instead of making one.
int BuildState(ScriptState* L, const qbDisplay* d, qbLayer* layer, bool scaled, std::unique_ptr<qbLayerState>* out,
               qbLayerState* reuse = nullptr) {
    qbLayerState* base = layer->basestate;
    qbTransformOptions t = layer->transform;
    double fx = 1.0, fy = 1.0;
    if (scaled && d) {
        fx = d->scaleX;
        fy = d->scaleY;
        t.matrix[0] *= fx;
        t.matrix[1] *= fx;
        t.matrix[2] *= fy;
        t.matrix[3] *= fy;
        t.smoothscale = d->smoothScale;
    }
    std::unique_ptr<qbLayerState> dup;
    try {
        dup = std::make_unique<qbLayerState>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    // The caller gives the state its own (transformed) clip region.
    dup->clipregion = base->clipregion;
    dup->x = ClampToInt32(base->x * fx);
    dup->y = ClampToInt32(base->y * fy);
    dup->width = base->width;
    dup->height = base->height;
    dup->srcx = base->srcx;
    dup->srcy = base->srcy;
    const int32_t ax = ClampToInt32(base->anchoredx * fx), ay = ClampToInt32(base->anchoredy * fy);
    dup->anchoredx = ax;
    dup->anchoredy = ay;

    // Shapes and paths are drawn again under the matrix: edges stay sharp.
    const qbShapeLayerHooks* drawn = DrawnLayerHooks(layer->type);
    const auto drawShape = drawn ? drawn->render : nullptr;
    if (drawShape && base->shapeState) {
        qbObjectImage made;
        if (int err = drawShape(L, *layer, t.matrix, fx, fy, &made, &dup->shownx, &dup->showny, &dup->shownwidth,
                                &dup->shownheight))
            return err;
        dup->xfbitmap = made.bitmap;
        dup->xfmask = made.mask;
        dup->xfalpha = made.alpha;
        *out = std::move(dup);
        return 0;
    }

    if (reuse) {
        const double byRows[4] = {t.matrix[0], t.matrix[2], t.matrix[1], t.matrix[3]};
        const qbRect box =
            GetAnchoredTransformBounds(ax, ay, base->width, base->height, layer->anchorx, layer->anchory, byRows);
        dup->xfbitmap = std::exchange(reuse->xfbitmap, nullptr);
        dup->xfmask = std::exchange(reuse->xfmask, nullptr);
        dup->xfalpha = std::exchange(reuse->xfalpha, nullptr);
        dup->shownx = box.x;
        dup->showny = box.y;
        dup->shownwidth = reuse->shownwidth;
        dup->shownheight = reuse->shownheight;
        *out = std::move(dup);
        return 0;
    }
    qbObjectImage image;
    int32_t iw = 0, ih = 0;
    if (int err = GetLayerSourceImage(L, layer, base, false, &image, &iw, &ih)) return err;
    const bool offset = !base->bitmap && (layer->type == kLayerBrushPart || layer->type == kLayerBGPicPart);
    const double anchor[2] = {layer->anchorx, layer->anchory};
    qbBrush* brush = nullptr;
    if (layer->type == kLayerBrush || layer->type == kLayerBrushPart)
        GetBrushRecord(L, layer->id, &brush, kBrushDetachedToo | kBrushHardwareToo);
    const bool vector = brush && brush->kind == kBrushVector;
    qbObjectImage made;
    int32_t ox = 0, oy = 0, ow = 0, oh = 0;
    if (int err = TransformObjectImage(L, vector, vector ? brush->imageSource : nullptr, image, offset ? base->srcx : 0,
                                       offset ? base->srcy : 0, ax, ay, base->width, base->height, anchor, t.matrix,
                                       t.smoothscale != 0, &made, &ox, &oy, &ow, &oh))
        return err;
    // Text in a font that scales is drawn anew at the new size where the
    // pixel transform would have put it, instead of scaled pixels.
    const auto rerender = TextLayerHooks().renderTransformed;
    const bool text = layer->type == kLayerTextObject || layer->type == kLayerTextOut || layer->type == kLayerPrint;
    qbObjectImage sharp;
    int32_t sw = 0, sh = 0, sx = 0, sy = 0;
    if (text && rerender && rerender(L, layer, t, &sharp, &sx, &sy, &sw, &sh) == 0) {
        FreeObjectImage(&made);
        made = sharp;
        ow = sw;
        oh = sh;
    }
    dup->xfbitmap = made.bitmap;
    dup->xfmask = made.mask;
    dup->xfalpha = made.alpha;
    dup->shownx = ox;
    dup->showny = oy;
    dup->shownwidth = ow;
    dup->shownheight = oh;
    *out = std::move(dup);
    return 0;
}

// The clip region of a state made from a state clipped by from: a
// temporary copy turned and scaled as the layer, or under scaled as the
// display scales it. A layer that asks to keep its region untransformed
// keeps it, but never past the display's scale, which the whole picture
// goes through.
int StateClipRegion(ScriptState* L, const qbLayer* layer, const qbClipRegion* from, bool scaled,
                    const qbClipRegion** out) {
    *out = from;
    if (!from || (!scaled && layer->cliptransformmode)) return 0;
    qbClipTransform t;
    t.anchorX = layer->anchorx;
    t.anchorY = layer->anchory;
    for (int i = 0; i < 4; ++i) t.matrix[i] = t.positionMatrix[i] = layer->transform.matrix[i];
    t.displayScaling = scaled;
    qbClipRegionObject* made = nullptr;
    if (int err = TransformClipRegion(L, static_cast<const qbClipRegionObject*>(from), t, &made)) return err;
    *out = made;
    return 0;
}

// A copy made for a state that is dropped stays in the region list until
// the sweep finds no layer using it.
bool HoldsCopy(const qbLayerState* s) {
    return s && s->clipregion && static_cast<const qbClipRegionObject*>(s->clipregion)->temporary;
}

qbRect BoundsOf(ScriptState* L, qbLayer* layer, qbLayerState* s) {
    qbRect r;
    GetLayerBounds(L, layer, s, &r.x, &r.y, &r.width, &r.height);
    return r;
}

}  // namespace

qbRect UnionOfRects(const qbRect& a, const qbRect& b) {
    if (a.width < 1 || a.height < 1) return b;
    if (b.width < 1 || b.height < 1) return a;
    const int64_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int64_t right = std::max(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t bottom = std::max(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    return RectFromEdges(left, top, right, bottom);
}

void ComputeTransformMatrix(qbTransformOptions* t, int32_t objWidth, int32_t objHeight) {
    if (t->matrixset) {
        for (int i = 0; i < 4; ++i) t->matrix[i] = t->transform[i];
        return;
    }
    BuildScaleRotateMatrix(t->matrix, t->width, t->height, objWidth, objHeight, t->scalex, t->scaley, t->rotate);
}

void DecomposeTransformMatrix(qbTransformOptions* t) {
    const double* m = t->matrix;
    if (m[1] == 0 && m[2] == 0) return;
    t->rotated = 1;
    double sx = 0, sy = 0;
    // Rows [m00 m01] = sx [cos a, sin a] and [m10 m11] = sy [-sin a, cos a].
    if (!FindFactor(m[0], m[1], 1.0, &sx) || !FindFactor(m[3], m[2], -1.0, &sy)) return;
    t->decompx = sx;
    t->decompy = sy;
    if (std::fabs(sx - sy) <= 0.01) t->rotated = 0;
}

int ApplyLayerChangeOn(ScriptState* L, qbDisplay* d, qbLayer* layer, uint32_t flags) {
    LayerChangeScope change(layer);
    qbLayerState* base = layer->basestate;
    qbLayerState* oldShown = layer->shownstate;
    qbLayerState* oldTransformed = layer->transformedstate;
    const qbRect oldBounds = BoundsOf(L, layer, oldShown);
    const bool scaleStep = (flags & kChangeDisplayScale) != 0;

    // Build everything first: on an error the layer keeps its states.
    std::unique_ptr<qbLayerState> transformed, shown;
    // A copy of the clip region made before a later step fails is swept.
    auto fail = [L](int err) {
        FreeUnusedClipRegions(L);
        return err;
    };
    // The caller vouches that the picture and its matrix are unchanged: the
    // image transformed last time serves again (and goes back on an error).
    qbLayerState* reuse = nullptr;
    if ((flags & kChangeSamePicture) && !scaleStep && oldTransformed != base && oldTransformed->xfbitmap &&
        !DrawnLayerHooks(layer->type))
        reuse = oldTransformed;
    auto giveBack = [&] {
        if (!reuse || !transformed) return;
        reuse->xfbitmap = std::exchange(transformed->xfbitmap, nullptr);
        reuse->xfmask = std::exchange(transformed->xfmask, nullptr);
        reuse->xfalpha = std::exchange(transformed->xfalpha, nullptr);
    };
    qbLayerState* newTransformed = oldTransformed;
    if (!scaleStep) {
        if (IsIdentityMatrix(layer->transform.matrix)) {
            newTransformed = base;
        } else {
            if (int err = BuildState(L, d, layer, false, &transformed, reuse)) return err;
            if (int err = StateClipRegion(L, layer, base->clipregion, false, &transformed->clipregion)) {
                giveBack();
                return fail(err);
            }
            newTransformed = transformed.get();
        }
    }
    qbLayerState* newShown = newTransformed;
    if (scaleStep || DisplayScalesLayers(d, FindBGPicOfLayer(layer))) {
        if (scaleStep && d && d->scaleX == 1.0 && d->scaleY == 1.0) {
            newShown = newTransformed;
        } else {
            if (int err = BuildState(L, d, layer, true, &shown)) {
                giveBack();
                return fail(err);
            }
            // The shown state is the transformed one under the display's
            // scale, so its region is the transformed region scaled.
            if (int err = StateClipRegion(L, layer, newTransformed->clipregion, true, &shown->clipregion)) {
                giveBack();
                return fail(err);
            }
            newShown = shown.get();
        }
    }
    layer->transformedstate = newTransformed;
    layer->shownstate = newShown;
    transformed.release();
    shown.release();
    // Records no pointer names any more go now, each once.
    auto unused = [&](const qbLayerState* s) {
        return s != base && s != layer->transformedstate && s != layer->shownstate;
    };
    bool sweep = false;
    if (unused(oldShown)) {
        sweep = HoldsCopy(oldShown);
        delete oldShown;
    }
    if (oldTransformed != oldShown && unused(oldTransformed)) {
        sweep = sweep || HoldsCopy(oldTransformed);
        delete oldTransformed;
    }
    if (sweep) FreeUnusedClipRegions(L);
    change.Finish();
    if ((flags & kChangeRefresh) && !layer->hidden && !layer->pending) {
        const qbRect r = UnionOfRects(oldBounds, BoundsOf(L, layer, layer->shownstate));
        RefreshOrMarkDirty(L, r.x, r.y, r.width, r.height);
    }
    return 0;
}

int TransformLayerClipRegions(ScriptState* L, qbLayer* layer) {
    qbLayerState* base = layer->basestate;
    qbLayerState* transformed = layer->transformedstate;
    qbLayerState* shown = layer->shownstate;
    const qbClipRegion* xf = base->clipregion;
    const qbClipRegion* sh = nullptr;
    if (transformed != base) {
        if (int err = StateClipRegion(L, layer, base->clipregion, false, &xf)) return err;
    }
    if (shown != transformed) {
        if (int err = StateClipRegion(L, layer, xf, true, &sh)) {
            FreeUnusedClipRegions(L);
            return err;
        }
    }
    const bool sweep = (transformed != base && HoldsCopy(transformed)) || (shown != transformed && HoldsCopy(shown));
    transformed->clipregion = xf;
    if (shown != transformed) shown->clipregion = sh;
    if (sweep) FreeUnusedClipRegions(L);
    return 0;
}

int ApplyLayerChange(ScriptState* L, qbLayer* layer, uint32_t flags) {
    return ApplyLayerChangeOn(L, GetCurrentDisplay(), layer, flags);
}

int ReapplyDisplayScale(ScriptState* L, qbLayer* layer) {
    return ApplyLayerChange(L, layer, kChangeDisplayScale | kChangeRefresh);
}

int RescaleAllLayers(ScriptState* L, qbDisplay* display, qbBGPic* bgpic) {
    qbBGPic* saved = GetCurrentOutputBGPic();
    SetCurrentOutputBGPic(bgpic);
    int err = 0;
    for (int32_t i = 1; i <= CountLayers(bgpic) && !err; ++i) {
        qbLayer* layer = GetLayerByIndex(bgpic, i);
        err = ApplyLayerChangeOn(L, display, layer, kChangeDisplayScale | kChangeRefresh);
        // An effect playing in the layer reads its new picture.
        if (!err) NotifyLayerImageChanged(layer);
    }
    SetCurrentOutputBGPic(saved);
    return err;
}

int RepositionLayer(ScriptState* L, qbLayer* layer, const qbRect* ref, int32_t x, int32_t y, bool noRefresh,
                    uint32_t flags, qbDirtyRectList* list) {
    qbLayerState* base = layer->basestate;
    const qbRect oldBounds = BoundsOf(L, layer, layer->shownstate);
    if (x != kKeep || y != kKeep) {
        int32_t nx = base->x, ny = base->y;
        if (x != kKeep) nx = (flags & kRepositionRelativeX) ? SaturatingAdd(base->x, x) : x;
        if (y != kKeep) ny = (flags & kRepositionRelativeY) ? SaturatingAdd(base->y, y) : y;
        const int32_t dx = ClampToInt32(static_cast<double>(nx) - base->x), dy = ClampToInt32(static_cast<double>(ny) - base->y);
        const qbDisplay* d = GetCurrentDisplay();
        const bool scaled = layer->shownstate != layer->transformedstate;
        qbLayerState* const states[3] = {base, layer->transformedstate, layer->shownstate};
        for (int i = 0; i < 3; ++i) {
            qbLayerState* s = states[i];
            if ((i >= 1 && s == states[0]) || (i == 2 && s == states[1])) continue;
            if (i == 2 && scaled && d) {
                // The shown state is at the display's scale: its corner moves
                // by the scaled difference of the anchored corners (the base
                // state's have moved already).
                const int32_t ax = ClampToInt32(base->anchoredx * d->scaleX);
                const int32_t ay = ClampToInt32(base->anchoredy * d->scaleY);
                s->shownx = SaturatingAdd(s->shownx, ClampToInt32(static_cast<double>(ax) - s->anchoredx));
                s->showny = SaturatingAdd(s->showny, ClampToInt32(static_cast<double>(ay) - s->anchoredy));
                s->anchoredx = ax;
                s->anchoredy = ay;
                s->x = ClampToInt32(nx * d->scaleX);
                s->y = ClampToInt32(ny * d->scaleY);
                continue;
            }
            s->x = nx;
            s->y = ny;
            s->anchoredx = SaturatingAdd(s->anchoredx, dx);
            s->anchoredy = SaturatingAdd(s->anchoredy, dy);
            s->shownx = SaturatingAdd(s->shownx, dx);
            s->showny = SaturatingAdd(s->showny, dy);
        }
    }
    if (noRefresh) return 0;
    qbRect r = UnionOfRects(oldBounds, BoundsOf(L, layer, layer->shownstate));
    if (ref) r = UnionOfRects(r, *ref);
    if (list) AppendDirtyRect(list, r.x, r.y, r.width, r.height, true);
    else RefreshOrMarkDirty(L, r.x, r.y, r.width, r.height);
    return 0;
}

int UpdateLayerState(ScriptState* L, qbLayer* layer, qbLayerOldRect* old, int32_t shownX, int32_t shownY,
                     int32_t width, int32_t height, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, uint32_t flags) {
    qbLayerState* s = layer->shownstate;
    if (old->width == -1) {
        old->x = s->shownx;
        old->y = s->showny;
        old->width = s->shownwidth;
        old->height = s->shownheight;
    }
    // The state's own pictures are replaced, never an effect's lent ones.
    LayerChangeScope change(layer);
    // New caches first, so that a failure leaves the state as it was.
    BitmapPtr xfBitmap, xfMask, xfAlpha;
    if (s->xfbitmap && !(xfBitmap = BitmapPtr(AllocBitmap(width, height, 0, nullptr)))) return ERR_BITMAP;
    if (s->xfmask && !(xfMask = BitmapPtr(AllocMask(xfBitmap.get(), width, height, true, nullptr, 0))))
        return ERR_ALLOCMASK;
    if (s->xfalpha && !(xfAlpha = BitmapPtr(AllocAlphaChannel(width, height, true, nullptr, 0))))
        return ERR_ALLOCALPHA;
    if (layer->type != kLayerLine || (flags & kUpdateLineKeepsPosition) == 0) {
        if (layer->type == kLayerLine) {
            s->shownx = shownX;
            s->showny = shownY;
        } else {
            s->shownx = SaturatingSub(shownX, ClampToInt32(width * layer->anchorx));
            s->showny = SaturatingSub(shownY, ClampToInt32(height * layer->anchory));
        }
    }
    s->shownwidth = width;
    s->shownheight = height;
    if (bitmap) {
        FreeBitmap(s->bitmap);
        FreeMask(s->mask);
        FreeAlphaChannel(s->alpha);
        s->bitmap = bitmap;
        s->mask = mask;
        s->alpha = alpha;
    }
    if (xfBitmap) {
        FreeBitmap(s->xfbitmap);
        s->xfbitmap = xfBitmap.release();
    }
    if (xfMask) {
        FreeMask(s->xfmask);
        s->xfmask = xfMask.release();
    }
    if (xfAlpha) {
        FreeAlphaChannel(s->xfalpha);
        s->xfalpha = xfAlpha.release();
    }
    FreeBitmap(s->fxbitmap);
    FreeMask(s->fxmask);
    FreeAlphaChannel(s->fxalpha);
    s->fxbitmap = s->fxmask = s->fxalpha = nullptr;
    change.Finish();
    if (layer->hidden || layer->pending || old->norefresh) return 0;
    const int64_t left = std::min(old->x, s->shownx), top = std::min(old->y, s->showny);
    const int64_t w = int64_t{std::max(old->width, s->shownwidth)} + std::max(old->x, s->shownx) - left;
    const int64_t h = int64_t{std::max(old->height, s->shownheight)} + std::max(old->y, s->showny) - top;
    const qbRect r = RectFromEdges(left, top, left + w, top + h);
    RefreshOrMarkDirty(L, r.x, r.y, r.width, r.height);
    return 0;
}

void DropDisplayScaledStates(ScriptState* L, qbBGPic* bgpic) {
    bool sweep = false;
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i) {
        qbLayer* layer = GetLayerByIndex(bgpic, i);
        qbLayerState* shown = layer->shownstate;
        if (shown == layer->transformedstate || shown == layer->basestate) continue;
        layer->shownstate = layer->transformedstate;
        // A clip region scaled for the dropped state waits for the sweep.
        sweep = sweep || HoldsCopy(shown);
        delete shown;
        NotifyLayerImageChanged(layer);
    }
    if (sweep) FreeUnusedClipRegions(L);
}
