// CreateClipRegion and FreeClipRegion: rectangles and brush-mask shapes that
// keep drawing inside them, and which layers go on using after the script
// has freed them.
#include <memory>
#include <new>

#include "core/objectlist.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "display/positions.h"
#include "draw/graphicsobjects.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "objects/sprites.h"

namespace {

constexpr int32_t kRegionBox = 14;
constexpr int32_t kRegionMask = 28;

bool StateUses(const qbLayerState* s, const qbClipRegion* region) { return s && s->clipregion == region; }

bool LayersUseRegion(const qbClipRegion* region) {
    for (qbBGPic* b = FirstBGPic(); b; b = static_cast<qbBGPic*>(b->next)) {
        if (!b->layers) continue;
        for (const auto& layer : b->layers->layers)
            if (StateUses(layer->basestate, region) || StateUses(layer->transformedstate, region) ||
                StateUses(layer->shownstate, region))
                return true;
    }
    return false;
}

// Clears the region wherever it is the current choice: on the current
// output and on the display's own record, which the layers copy.
void ForgetChoice(qbClipRegionObject* region) {
    const qbOutputView out = GetCurrentOutput();
    if (out.clip && *out.clip == region) *out.clip = nullptr;
    if (qbDisplay* d = out.display; d && d->clipRegion == region) {
        d->clipRegion = nullptr;
        d->clipLeft = 0;
        d->clipRight = d->width - 1;
    }
}

// Frees the region now, or, while a layer clips with it, takes its id away
// and leaves it to FreeUnusedClipRegions.
void ReleaseRegion(ScriptState* L, qbClipRegionObject* region) {
    ForgetChoice(region);
    // Sprites shown through the region go on unclipped.
    RefreshSpritesOfClipRegion(L, region);
    if (!IsClipRegionInUse(region)) {
        FreeClipRegionRecord(L, region);
        return;
    }
    // Without memory for its new key the region keeps its number, found
    // first by it as before; it goes when its user lets it go all the same.
    RenumberObject(region, ObjectID{0, region});
    if (!region->temporary && !region->deferredFree) NoteClipRegionWaiting(region);
    region->deferredFree = 1;
}

// The region's own copy of the brush mask's rectangle at (sx, sy).
int CopyMask(const qbBitmap* source, int32_t sx, int32_t sy, int32_t width, int32_t height, qbBitmap** out) {
    BitmapPtr mask(AllocMask(nullptr, width, height, true, nullptr, 0));
    if (!mask) return ERR_ALLOCMASK;
    BlitMaskRect(source, sx, sy, mask.get(), 0, 0, width, height, kMaskVanillaCopy, nullptr, 0);
    *out = mask.release();
    return 0;
}

}  // namespace

void InstallClipRegionHooks() { SetClipRegionUseHook(&LayersUseRegion); }

int cmdCreateClipRegion(ScriptState* L) {
    CheckArgCount(L, 2, 6, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const int32_t type = GetIntArg(L, 2);
    int32_t x = 0, y = 0, width = 0, height = 0;
    const qbBitmap* brushMask = nullptr;
    if (type == kRegionBox) {
        x = GetIntArg(L, 3);
        y = GetIntArg(L, 4);
        width = GetIntArg(L, 5);
        height = GetIntArg(L, 6);
        // A box without area would reach the blits with a negative size.
        if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    } else if (type == kRegionMask) {
        qbBrush* brush = nullptr;
        if (int err = GetBrushRecord(L, GetObjectIDArg(L, 3), &brush, 0)) return err;
        if (!brush->mask) return ERR_NOMASKBRUSH;
        brushMask = brush->mask;
        width = brush->width;
        height = brush->height;
        x = GetIntArg(L, 4);
        y = GetIntArg(L, 5);
    } else {
        return ERR_WRONGUSAGE;
    }
    const qbBGPic* bgpic = GetCurrentBGPic();
    x = ResolveSpecialX(x, width, bgpic ? bgpic->currentWidth : 0, 0.0);
    y = ResolveSpecialY(y, height, bgpic ? bgpic->currentHeight : 0, 0.0);
    if (int64_t{x} + width < 1 || int64_t{y} + height < 1) return ERR_WRONGUSAGE;
    int32_t offsetX = 0, offsetY = 0;
    if (x < 0) {
        offsetX = -x;
        width += x;
        x = 0;
    }
    if (y < 0) {
        offsetY = -y;
        height += y;
        y = 0;
    }
    std::unique_ptr<qbClipRegionObject> region;
    try {
        region = std::make_unique<qbClipRegionObject>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (brushMask) {
        if (int err = CopyMask(brushMask, offsetX, offsetY, width, height, &region->mask)) return err;
        region->maskRowBytes = static_cast<int32_t>(region->mask->plane->rowBytes);
    }
    region->type = kObjectTypeClipRegion;
    region->x = x;
    region->y = y;
    region->width = width;
    region->height = height;
    if (!id.chooseFlag) {
        auto* old = static_cast<qbClipRegionObject*>(FindListedObject(*ClipRegionListHead(), ObjectID{id.id, nullptr}));
        if (old && !old->temporary) ReleaseRegion(L, old);
        region->id = id.id;
    } else {
        region->handle = region.get();
    }
    FreeUnusedClipRegions(L);
    if (int err = AppendClipRegion(region.get())) return err;
    qbClipRegionObject* made = region.release();
    if (!id.chooseFlag) return 0;
    return PushObjectID(L, IDOf(*made));
}

int cmdFreeClipRegion(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbClipRegionObject* region = nullptr;
    if (int err = GetClipRegionRecord(GetObjectIDArg(L, 1), &region, 0)) return err;
    ReleaseRegion(L, region);
    FreeUnusedClipRegions(L);
    return 0;
}
