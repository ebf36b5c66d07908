// The commands that manage the layer stack: show, hide, remove, order,
// move and name layers, switch their shadows and borders, and find the
// layer under a point.
#include "objects/layercmds.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/dirtylist.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kKeep = 100000;
// One RemoveLayer call frees at most this many layers of a group.
constexpr size_t kMaxRemoved = 256;

bool OutputIsSelectedBGPic() {
    const qbDisplay* d = GetCurrentDisplay();
    return d && d->output.type == kOutputBGPic;
}

bool OutputIsDisplay() {
    const qbDisplay* d = GetCurrentDisplay();
    return d && d->output.type == kObjectTypeDisplay;
}

// Every layer the argument names: one, or each member of a group bottom
// first. Stops collecting past limit + 1 so a caller can refuse a group
// that is too big without walking all of it.
int CollectLayers(ScriptState* L, int idx, const qbBGPic* bgpic, size_t limit, std::vector<qbLayer*>* out) {
    int32_t cursor = 0;
    do {
        qbLayer* layer = nullptr;
        if (int err = GetLayerArg(L, idx, bgpic, &cursor, nullptr, &layer)) return err;
        out->push_back(layer);
    } while (cursor != -1 && out->size() <= limit);
    return 0;
}

// The guard and the current BGPic of every command here.
int LayerTarget(qbBGPic** bgpic) {
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    *bgpic = GetCurrentBGPic();
    return *bgpic ? 0 : ERR_NOLAYERS;
}

int LayerOrderCommand(ScriptState* L, bool toFront) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    const int32_t target = toFront ? CountLayers(bgpic) : 1;
    if (position == target) return 0;
    return SwapLayerPositions(L, position, target);
}

// The bounds before a shadow or border change; the caches of every distinct
// state are dropped so the next redraw renders the new look.
qbRect DropStyleImages(ScriptState* L, qbLayer* layer) {
    const qbRect before = LayerBounds(L, layer);
    qbLayerState* const states[3] = {layer->basestate, layer->transformedstate, layer->shownstate};
    for (int i = 0; i < 3; ++i) {
        if ((i >= 1 && states[i] == states[0]) || (i == 2 && states[i] == states[1])) continue;
        FreeLayerStyleCaches(states[i]);
    }
    return before;
}

// Shows a shadow or border change: the old bounds alone when switched off,
// else with the new ones.
void RefreshStyleChange(ScriptState* L, qbLayer* layer, const qbRect& before, bool on) {
    const qbRect r = on ? UnionOfRects(before, LayerBounds(L, layer)) : before;
    if (!layer->hidden) RefreshOrMarkDirty(L, r.x, r.y, r.width, r.height);
}

}  // namespace

bool IntersectsBGPic(const qbBGPic* bgpic, const qbRect& r) {
    return r.width > 0 && r.height > 0 && int64_t{r.x} + r.width > 0 && int64_t{r.y} + r.height > 0 &&
           r.x < bgpic->currentWidth && r.y < bgpic->currentHeight;
}

qbRect LayerBounds(ScriptState* L, qbLayer* layer) {
    qbRect r;
    GetLayerBounds(L, layer, layer->shownstate, &r.x, &r.y, &r.width, &r.height);
    return r;
}

int GetLayerIndexArg(ScriptState* L, int idx, const qbBGPic* bgpic, int32_t* position) {
    if (int err = GetLayerPositionOrName(L, idx, bgpic, position)) return err;
    return GetLayerByIndex(bgpic, *position) ? 0 : ERR_LAYERRANGE;
}

int ShowHideLayers(ScriptState* L, int32_t x, int32_t y, bool hide) {
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    std::vector<qbLayer*> layers;
    if (int err = CollectLayers(L, 1, bgpic, SIZE_MAX - 1, &layers)) return err;
    // Each layer's new anchor point; kKeep leaves a coordinate alone.
    std::vector<std::pair<int32_t, int32_t>> targets(layers.size(), {kKeep, kKeep});
    if (!hide && (x != kKeep || y != kKeep)) {
        if (layers.size() == 1) {
            const qbLayer* l = layers[0];
            const qbLayerState* s = l->basestate;
            if (x != kKeep) targets[0].first = ResolveSpecialX(x, s->width, 0, l->anchorx);
            if (y != kKeep) targets[0].second = ResolveSpecialY(y, s->height, 0, l->anchory);
        } else {
            // The group's bounding box is placed; every member keeps its
            // place relative to the others.
            int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
            for (const qbLayer* l : layers) {
                const qbLayerState* s = l->basestate;
                left = std::min<int64_t>(left, s->anchoredx);
                top = std::min<int64_t>(top, s->anchoredy);
                right = std::max<int64_t>(right, int64_t{s->anchoredx} + s->width);
                bottom = std::max<int64_t>(bottom, int64_t{s->anchoredy} + s->height);
            }
            const qbRect box = RectFromEdges(left, top, right, bottom);
            const int64_t dx = int64_t{ResolveSpecialX(x, box.width, 0, 0.0)} - box.x;
            const int64_t dy = int64_t{ResolveSpecialY(y, box.height, 0, 0.0)} - box.y;
            for (size_t i = 0; i < layers.size(); ++i) {
                const qbLayerState* s = layers[i]->basestate;
                if (x != kKeep) targets[i].first = ClampToInt32(static_cast<double>(s->x + dx));
                if (y != kKeep) targets[i].second = ClampToInt32(static_cast<double>(s->y + dy));
            }
        }
    }
    bgpic->layersDirty = 1;
    const bool selected = OutputIsSelectedBGPic();
    qbDirtyRectList* list = selected ? nullptr : LayersDirtyList();
    if (list) list->Reset();
    for (size_t i = 0; i < layers.size(); ++i) {
        qbLayer* l = layers[i];
        // Bounds of a layer that is hidden now must still be refreshed, so
        // they are noted while it is shown.
        const qbRect before = LayerBounds(L, l);
        l->hidden = hide ? 1 : 0;
        if (int err = RepositionLayer(L, l, &before, targets[i].first, targets[i].second, false, 0, list)) return err;
    }
    if (list && OutputIsDisplay()) {
        MergeDirtyRects(list);
        RefreshDirtyRects(L, list);
        list->Reset();
    }
    return 0;
}

int SwapLayerPositions(ScriptState* L, int32_t a, int32_t b) {
    qbBGPic* bgpic = GetCurrentBGPic();
    qbLayer* la = GetLayerByIndex(bgpic, a);
    qbLayer* lb = GetLayerByIndex(bgpic, b);
    if (!la || !lb) return ERR_LAYERRANGE;
    auto& stack = bgpic->layers->layers;
    std::swap(stack[static_cast<size_t>(a - 1)], stack[static_cast<size_t>(b - 1)]);
    bgpic->layersDirty = 1;
    // Only where both lie on the picture can the new order show.
    const qbRect ra = LayerBounds(L, la), rb = LayerBounds(L, lb);
    if (IntersectsBGPic(bgpic, ra) && IntersectsBGPic(bgpic, rb)) {
        const qbRect u = UnionOfRects(ra, rb);
        RefreshOrMarkDirty(L, u.x, u.y, u.width, u.height);
    }
    return 0;
}

int cmdShowLayer(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const int32_t x = ClampToInt32(VmOptNumber(L, 2, kKeep));
    const int32_t y = ClampToInt32(VmOptNumber(L, 3, kKeep));
    return ShowHideLayers(L, x, y, false);
}

int cmdHideLayer(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    return ShowHideLayers(L, kKeep, kKeep, true);
}

int cmdRemoveLayer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    std::vector<qbLayer*> layers;
    if (int err = CollectLayers(L, 1, bgpic, kMaxRemoved, &layers)) return err;
    // Every refusal comes before the first layer goes.
    for (const qbLayer* l : layers)
        if (AsyncDrawUsesObject(l)) return ERR_REMADLAYER;
    if (layers.size() > kMaxRemoved) return ERR_INTERNAL;
    const bool selected = OutputIsSelectedBGPic();
    qbDirtyRectList* list = LayersDirtyList();
    if (!selected) list->Reset();
    for (qbLayer* l : layers) {
        if (selected) {
            FreeLayer(L, l, false);
        } else {
            AddLayerDirtyRect(L, list, l, l->shownstate);
            FreeLayer(L, l, true);
        }
    }
    if (!selected && OutputIsDisplay()) {
        MergeDirtyRects(list);
        RefreshDirtyRects(L, list);
    }
    if (!selected) list->Reset();
    bgpic->layersDirty = 1;
    return 0;
}

int cmdSetLayerZPos(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    int32_t zpos = 0;
    if (int err = GetLayerPositionOrName(L, 2, bgpic, &zpos)) return err;
    if (zpos < 0 || zpos == position) return ERR_WRONGUSAGE;
    qbLayer* layer = GetLayerByIndex(bgpic, position);
    if (MoveLayerInStack(bgpic, layer, zpos)) {
        bgpic->layersDirty = 1;
        RefreshLayer(L, layer);
    }
    return 0;
}

int cmdLayerExists(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    VmPushNumber(L, FindLayerByName(bgpic, name) > 0 ? 1 : 0);
    return 1;
}

int cmdGetLayerAtPos(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t x = ClampToInt32(VmCheckNumber(L, 1));
    int32_t y = ClampToInt32(VmCheckNumber(L, 2));
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    // With a scaled picture the layers' shown rectangles are in window
    // coordinates.
    const qbDisplay* d = GetCurrentDisplay();
    if (d->pictureScaling && d->bgpic == bgpic) {
        x = ClampToInt32(static_cast<int64_t>(x * d->scaleX));
        y = ClampToInt32(static_cast<int64_t>(y * d->scaleY));
    }
    // Hidden layers are hits too: scripts use this to find hidden targets.
    for (int32_t i = CountLayers(bgpic); i >= 1; --i) {
        const qbLayer* l = GetLayerByIndex(bgpic, i);
        const qbLayerState* s = l->shownstate;
        if (x >= s->shownx && y >= s->showny && int64_t{x} < int64_t{s->shownx} + s->shownwidth &&
            int64_t{y} < int64_t{s->showny} + s->shownheight) {
            VmPushNumber(L, i);
            VmPushString(L, l->name.c_str());
            return 2;
        }
    }
    VmPushNumber(L, 0);
    VmPushString(L, "");
    return 2;
}

int cmdSwapLayers(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t a = 0, b = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &a)) return err;
    if (int err = GetLayerIndexArg(L, 2, bgpic, &b)) return err;
    if (a == b) return ERR_WRONGUSAGE;
    return SwapLayerPositions(L, a, b);
}

int cmdLayerToFront(ScriptState* L) { return LayerOrderCommand(L, true); }

int cmdLayerToBack(ScriptState* L) { return LayerOrderCommand(L, false); }

int cmdTranslateLayer(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const int32_t dx = ClampToInt32(VmCheckNumber(L, 2));
    const int32_t dy = ClampToInt32(VmCheckNumber(L, 3));
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    bgpic->layersDirty = 1;
    return RepositionLayer(L, GetLayerByIndex(bgpic, position), nullptr, dx, dy, false,
                           kRepositionRelativeX | kRepositionRelativeY, nullptr);
}

int cmdSetLayerName(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t position = ClampToInt32(VmCheckNumber(L, 1));
    const char* name = VmCheckString(L, 2, nullptr);
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    qbLayer* layer = GetLayerByIndex(bgpic, position < 1 ? CountLayers(bgpic) : position);
    if (!layer) return ERR_LAYERRANGE;
    // A refused name leaves the old one in place: it is checked first.
    if (*name == '\0') {
        layer->name.clear();
        return 0;
    }
    return AssignLayerName(bgpic, layer, name);
}

int cmdSetLayerBorder(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const bool on = VmCheckNumber(L, 2) != 0;
    const uint32_t colour = VmOptInt(L, 3, 0);
    const int32_t size = ClampToInt32(VmOptNumber(L, 4, 2));
    // Bad values fail alike with layers on or off.
    if (int err = CheckBorderSize(size)) return err;
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    qbLayer* layer = GetLayerByIndex(bgpic, position);
    if (!on && !layer->border.border) return 0;
    if (const qbLayerState* shown = layer->shownstate; on && shown)
        if (int err = CheckBorderSize(size, shown->shownwidth, shown->shownheight)) return err;
    bgpic->layersDirty = 1;
    const qbRect before = DropStyleImages(L, layer);
    layer->border.border = on ? 1 : 0;
    if (on) {
        layer->border.colour = colour;
        layer->border.size = size;
    }
    RefreshStyleChange(L, layer, before, on);
    return 0;
}

int cmdSetLayerShadow(ScriptState* L) {
    CheckArgCount(L, 2, 7, 0, 0);
    const bool on = VmCheckNumber(L, 2) != 0;
    const uint32_t colour = VmOptInt(L, 3, 0x80000000u);
    const double radius = VmOptNumber(L, 4, 5.0);
    const int32_t size = ClampToInt32(VmOptNumber(L, 5, 4));
    const int32_t dir = ClampToInt32(VmOptNumber(L, 6, 3));
    const double sigma = VmOptNumber(L, 7, radius / 3.0);
    // Bad values fail alike with layers on or off.
    if (size < 0 || !(radius >= 1.0) || !(sigma > 0.0)) return ERR_WRONGUSAGE;
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    qbLayer* layer = GetLayerByIndex(bgpic, position);
    if (!on && !layer->shadow.shadow) return 0;
    bgpic->layersDirty = 1;
    const qbRect before = DropStyleImages(L, layer);
    layer->shadow.shadow = on ? 1 : 0;
    if (on) {
        layer->shadow.colour = colour;
        layer->shadow.radius = radius;
        layer->shadow.size = size;
        layer->shadow.dir = dir;
        layer->shadow.sigma = sigma;
    }
    RefreshStyleChange(L, layer, before, on);
    return 0;
}

int cmdFreeLayers(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const bool keepPicture = VmOptNumber(L, 1, 1) != 0;
    qbBGPic* bgpic = nullptr;
    if (int err = LayerTarget(&bgpic)) return err;
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i)
        if (AsyncDrawUsesObject(GetLayerByIndex(bgpic, i))) return ERR_REMADLAYER;
    qbDisplay* d = GetCurrentDisplay();
    // Only the display's own buffers can keep what the layers showed.
    if (d->output.type == kOutputBGPic && bgpic != d->bgpic && keepPicture) return ERR_WRONGUSAGE;
    bgpic->layersDirty = 1;
    const bool shown = d->bgpic == bgpic && d->backBuffer && d->spriteFreeBuffer;
    const int32_t w = std::min(bgpic->currentWidth, d->backBuffer ? d->backBuffer->width : 0);
    const int32_t h = std::min(bgpic->currentHeight, d->backBuffer ? d->backBuffer->height : 0);
    // The composed picture becomes the picture without sprites, so the
    // screen keeps showing the layers once they are gone.
    // Without the picture kept, the BGPic's own picture is the background
    // again rather than what the display showed.
    const auto redrawIntoBuffers = [&] {
        RedrawLayers(L, d, bgpic, d->backBuffer.get(), 0, 0, w, h,
                     kRedrawNoSprites | (keepPicture ? 0u : uint32_t{kRedrawOwnPicture}));
        CopyBitmapRect(d->backBuffer.get(), 0, 0, d->spriteFreeBuffer.get(), 0, 0, w, h);
    };
    if (keepPicture && shown && w > 0 && h > 0) redrawIntoBuffers();
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i) RemoveLayerButton(L, bgpic, GetLayerByIndex(bgpic, i));
    FreeBGPicLayers(L, bgpic, true);
    if (!keepPicture && shown && w > 0 && h > 0) {
        if (d->output.type == kObjectTypeDisplay) {
            redrawIntoBuffers();
            RefreshDisplayRect(d->backBuffer.get(), 0, 0, d, 0, 0, w, h, kRefreshScaled);
        } else if (d->output.type == kOutputBGPic) {
            AppendDirtyRect(&d->dirtyRects, 0, 0, bgpic->currentWidth, bgpic->currentHeight, true);
        }
    }
    return 0;
}
