// Buttons bound to layers: the layer a button names, whether it is active,
// and whether a point of the display hits it.
#include "objects/layerbuttons.h"

#include "display/eventlib.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/compositor.h"
#include "objects/layers.h"

namespace {

int FindButtonLayer(ScriptState* L, int idx, qbBGPic* bgpic, qbLayer** out) {
    return GetLayerArg(L, idx, bgpic, nullptr, nullptr, out);
}

bool LayerActive(const qbLayer* layer, bool whileHidden) { return !layer->hidden || whileHidden; }

// Whether the layer's image covers the point (x, y) of its shown box.
bool LayerOpaqueAt(qbLayer* layer, int32_t x, int32_t y) {
    qbLayerState* s = layer->shownstate;
    qbObjectImage image;
    int32_t w = 0, h = 0;
    if (GetLayerSourceImage(nullptr, layer, s, true, &image, &w, &h)) return false;
    if (!s->xfbitmap && !s->bitmap && (layer->type == kLayerBrushPart || layer->type == kLayerBGPicPart)) {
        x += s->srcx;
        y += s->srcy;
    }
    if (x >= w || y >= h) return false;
    if (image.alpha) return image.alpha->plane->data[static_cast<size_t>(y) * image.alpha->plane->rowBytes + x] != 0;
    if (image.mask) return ReadBitmapPixel(image.mask, x, y, true) != 0;
    return true;
}

bool LayerHit(qbLayer* layer, int64_t px, int64_t py, bool pixelExact) {
    const qbLayerState* s = layer->shownstate;
    const auto inside = [&](int64_t left, int64_t top, int64_t w, int64_t h) {
        return px >= left && px < left + w && py >= top && py < top + h;
    };
    if (!inside(s->shownx, s->showny, s->shownwidth, s->shownheight)) return false;
    if (const qbClipRegion* c = s->clipregion) {
        if (!inside(c->x, c->y, c->width, c->height)) return false;
        if (c->mask && !ReadBitmapPixel(c->mask, static_cast<int32_t>(px - c->x), static_cast<int32_t>(py - c->y), true))
            return false;
    }
    return !pixelExact ||
           LayerOpaqueAt(layer, static_cast<int32_t>(px - s->shownx), static_cast<int32_t>(py - s->showny));
}

void DescribeLayer(const qbBGPic* bgpic, const qbLayer* layer, int32_t* position, const char** name) {
    *position = IndexOfLayer(bgpic, layer);
    *name = layer->name.c_str();
}

constexpr qbLayerButtonHooks kLayerButtonHooks{FindButtonLayer, LayerActive, LayerHit, DescribeLayer};

}  // namespace

void InstallLayerButtonHooks() { SetLayerButtonHooks(&kLayerButtonHooks); }
