// The dirty-rectangle lists and the refresh router.
#include "objects/dirtyrects.h"

#include <algorithm>
#include <vector>

#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "display/refresh.h"
#include "imaging/geometry.h"
#include "objects/compositor.h"
#include "objects/layers.h"

namespace {

qbDirtyRectList layersList;

bool CutTo(qbRect* box, const qbRect& to) {
    *box = IntersectRects(*box, to);
    return box->width > 0;
}

// Whether anything drawn after the layer reaches into the box: a later
// visible layer with its shadow and border (a shadow from above would
// otherwise be painted over), or a sprite.
bool IsLayerCovered(ScriptState* L, const qbBGPic* pic, const qbLayer* layer, const qbRect& box) {
    if (RectOverlapsSprites(pic, box.x, box.y, box.width, box.height)) return true;
    bool after = false;
    for (const auto& other : pic->layers->layers) {
        if (other.get() == layer) {
            after = true;
            continue;
        }
        if (!after || other->type == kLayerNoObject || other->hidden || other->pending) continue;
        qbRect bounds;
        GetLayerBounds(L, other.get(), other->shownstate, &bounds.x, &bounds.y, &bounds.width, &bounds.height);
        if (IntersectRects(box, bounds).width > 0) return true;
    }
    return false;
}

}  // namespace

// True also when the layer lies wholly outside the picture. Only a fully opaque image may be copied over the old
// picture; where a mask let the old pixels through, a layer whose image
// changed would leave its former self behind.
bool ShowLayerDirectly(ScriptState* L, qbLayer* layer) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d || d->output.type != kObjectTypeDisplay || !d->backBuffer || !d->bgpic) return false;
    qbBGPic* pic = d->bgpic;
    qbLayerState* s = layer->shownstate;
    if (layer->type == kLayerNoObject || layer->pending || layer->transparency || layer->shadow.shadow ||
        layer->border.border || IndexOfLayer(pic, layer) < 1)
        return false;
    const qbClipRegion* clip = s->clipregion;
    if (clip && clip->mask) return false;
    qbRect r{s->shownx, s->showny, s->shownwidth, s->shownheight};
    if (clip && !CutTo(&r, {clip->x, clip->y, clip->width, clip->height})) return true;
    qbBitmap* buffer = d->backBuffer.get();
    if (!CutTo(&r, {0, 0, std::min(pic->currentWidth, buffer->width), std::min(pic->currentHeight, buffer->height)}))
        return true;
    qbObjectImage image;
    int32_t iw = 0, ih = 0;
    if (GetLayerSourceImage(L, layer, s, true, &image, &iw, &ih) || image.mask || image.alpha) return false;
    if (IsLayerCovered(L, pic, layer, r)) return false;
    DrawLayerImageIn(L, layer, s, buffer, r.x, r.y, r.width, r.height);
    RefreshDisplayRect(buffer, r.x, r.y, d, r.x, r.y, r.width, r.height, kRefreshScaled);
    return true;
}

bool IsLayerUncovered(ScriptState* L, qbLayer* layer) {
    const qbBGPic* pic = FindBGPicOfLayer(layer);
    if (!pic || !pic->layers) return true;
    const qbLayerState* s = layer->shownstate;
    return !IsLayerCovered(L, pic, layer, qbRect{s->shownx, s->showny, s->shownwidth, s->shownheight});
}

void RefreshDirtyRects(ScriptState* L, qbDirtyRectList* list) {
    if (list->overflowed) {
        if (const qbBGPic* p = GetCurrentBGPic()) RefreshLayerRect(L, 0, 0, p->currentWidth, p->currentHeight, 0);
        return;
    }
    for (int32_t i = 0; i < list->count; ++i) {
        const qbDirtyRect& r = list->entries[static_cast<size_t>(i)];
        if (!r.dead) RefreshLayerRect(L, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, 0);
    }
}

void RefreshLayerRect(ScriptState* L, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t flags) {
    qbDisplay* d = GetCurrentDisplay();
    qbBGPic* shown = d ? d->bgpic : nullptr;
    if (!shown || !d->backBuffer || width < 1 || height < 1) return;
    const qbRect r = IntersectRects(RectFromEdges(x, y, x + width, y + height),
                                    {0, 0, shown->currentWidth, shown->currentHeight});
    if (r.width < 1 || r.height < 1) return;
    RedrawLayers(L, d, shown, d->backBuffer.get(), r.x, r.y, r.width, r.height, flags);
    RefreshDisplayRect(d->backBuffer.get(), r.x, r.y, d, r.x, r.y, r.width, r.height, kRefreshScaled);
}

bool RefreshLayerRects(ScriptState* L, const qbRect* rects, int32_t count) {
    qbDisplay* d = GetCurrentDisplay();
    qbBGPic* shown = d ? d->bgpic : nullptr;
    if (!shown || !d->backBuffer) return true;
    std::vector<qbRect> cut;
    std::vector<qbWindowRect> window;
    cut.reserve(static_cast<size_t>(count));
    window.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        qbRect c;
        if (!CutTo(&(c = rects[i]), {0, 0, shown->currentWidth, shown->currentHeight})) continue;
        cut.push_back(c);
        window.push_back({c.x, c.y, c.width, c.height});
    }
    if (cut.empty()) return true;
    if (!RedrawLayerRects(L, d, shown, d->backBuffer.get(), cut.data(), static_cast<int32_t>(cut.size()))) return false;
    RefreshDisplayRects(d->backBuffer.get(), window.data(), static_cast<int32_t>(window.size()), d, 0, 0,
                        kRefreshScaled);
    return true;
}

void RefreshOrMarkDirty(ScriptState* L, int64_t x, int64_t y, int64_t width, int64_t height) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    if (d->output.type == kObjectTypeDisplay) RefreshLayerRect(L, x, y, width, height, 0);
    else if (d->output.type == kOutputBGPic) AppendDirtyRect(&d->dirtyRects, x, y, width, height, true);
}

void AddDirtyRect(ScriptState*, int64_t x, int64_t y, int64_t width, int64_t height) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    const qbBGPic* p = GetCurrentBGPic();
    if (p && x < 1 && y < 1 && width >= p->baseWidth && height >= p->baseHeight) {
        d->dirtyRects.MarkFull();
        return;
    }
    AppendDirtyRect(&d->dirtyRects, x, y, width, height, false);
}

void ShowDisplayDirtyRects(ScriptState* L) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return;
    qbDirtyRectList& list = d->dirtyRects;
    if (list.Full()) {
        RefreshDisplay(L, d);
    } else {
        MergeDirtyRects(&list);
        for (int32_t i = 0; i < list.count; ++i) {
            const qbDirtyRect& r = list.entries[static_cast<size_t>(i)];
            if (r.dead) continue;
            const int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
            if (d->layersEnabled) RefreshLayerRect(L, r.x1, r.y1, w, h, 0);
            else RefreshRectWithLayers(L, r.x1, r.y1, d, r.x1, r.y1, w, h);
        }
    }
    list.Reset();
}

void GetLayerBounds(ScriptState* L, qbLayer* layer, qbLayerState* s, int32_t* x, int32_t* y, int32_t* width,
                    int32_t* height) {
    // In 64 bits: a position near the 32-bit limits plus the size would
    // wrap; the result is cut to the coordinate limit.
    int64_t x1 = s->shownx, y1 = s->showny;
    int64_t x2 = x1 + s->shownwidth, y2 = y1 + s->shownheight;
    auto take = [&](int32_t rx, int32_t ry, int32_t rw, int32_t rh) {
        if (rw < 1 || rh < 1) return;
        x1 = std::min<int64_t>(x1, rx);
        y1 = std::min<int64_t>(y1, ry);
        x2 = std::max(x2, int64_t{rx} + rw);
        y2 = std::max(y2, int64_t{ry} + rh);
    };
    int32_t rx = 0, ry = 0, rw = 0, rh = 0;
    if (layer->border.border) {
        RenderLayerBorder(L, layer, s, &rx, &ry, &rw, &rh);
        take(rx, ry, rw, rh);
    }
    if (layer->shadow.shadow) {
        GetShadowRect(L, layer, s, &rx, &ry, &rw, &rh);
        take(rx, ry, rw, rh);
    }
    const qbRect r = RectFromEdges(x1, y1, x2, y2);
    *x = r.x;
    *y = r.y;
    *width = r.width;
    *height = r.height;
}

void AddLayerDirtyRect(ScriptState* L, qbDirtyRectList* list, qbLayer* layer, qbLayerState* state) {
    int32_t x, y, w, h;
    GetLayerBounds(L, layer, state, &x, &y, &w, &h);
    AppendDirtyRect(list, x, y, w, h, true);
}

void RefreshLayer(ScriptState* L, qbLayer* layer, bool fast) {
    if (fast && (layer->hidden || ShowLayerDirectly(L, layer))) return;
    int32_t x, y, w, h;
    GetLayerBounds(L, layer, layer->shownstate, &x, &y, &w, &h);
    RefreshOrMarkDirty(L, x, y, w, h);
}

qbDirtyRectList* LayersDirtyList() { return &layersList; }
