// The lifetime of clip-region records: a region a layer still clips with
// outlives its FreeClipRegion until the layer lets it go.
#include "display/clipregions.h"

#include <memory>

#include "core/objectlist.h"
#include "core/objectdata.h"
#include "imaging/bitmap.h"

namespace {

ClipRegionUseHook useHook = nullptr;

}  // namespace

void SetClipRegionUseHook(ClipRegionUseHook hook) { useHook = hook; }

bool IsClipRegionInUse(const qbClipRegion* region) { return useHook && useHook(region); }

void FreeClipRegionRecord(ScriptState* L, qbClipRegionObject* region) {
    UnlinkObject(ClipRegionListHead(), region);
    std::unique_ptr<qbClipRegionObject> owned(region);
    FreeMask(owned->mask);
    owned->mask = nullptr;
    FreeObjectDataList(L, &owned->data);
}

void FreeUnusedClipRegions(ScriptState* L) {
    qbObject* o = ClipRegionListHead()->head;
    while (o) {
        auto* r = static_cast<qbClipRegionObject*>(o);
        o = o->next;
        if ((r->deferredFree || r->temporary) && !IsClipRegionInUse(r)) FreeClipRegionRecord(L, r);
    }
}

void FreeAllClipRegions(ScriptState* L) {
    while (qbObject* o = ClipRegionListHead()->head) FreeClipRegionRecord(L, static_cast<qbClipRegionObject*>(o));
}
