// The lifetime of clip-region records: a region a layer still clips with
// outlives its FreeClipRegion until the layer lets it go.
#include "display/clipregions.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "core/objectlist.h"
#include "core/objectdata.h"
#include "imaging/bitmap.h"

namespace {

ClipRegionUseHook useHook = nullptr;

// The regions that wait for their last user (freed while a layer clips
// with them, or a layer's transformed copy): the sweep, which runs at every
// region a script makes or frees, looks at these and not at every region.
std::vector<qbClipRegionObject*> waiting;
// Memory ran out noting one: the next sweep walks the whole list.
bool waitingLost = false;

bool Waits(const qbClipRegionObject* r) { return r->deferredFree || r->temporary; }

}  // namespace

void NoteClipRegionWaiting(qbClipRegionObject* region) {
    try {
        waiting.push_back(region);
    } catch (const std::bad_alloc&) {
        waitingLost = true;
    }
}

void SetClipRegionUseHook(ClipRegionUseHook hook) { useHook = hook; }

bool IsClipRegionInUse(const qbClipRegion* region) { return useHook && useHook(region); }

void FreeClipRegionRecord(ScriptState* L, qbClipRegionObject* region) {
    if (Waits(region)) waiting.erase(std::remove(waiting.begin(), waiting.end(), region), waiting.end());
    UnlinkObject(ClipRegionListHead(), region);
    std::unique_ptr<qbClipRegionObject> owned(region);
    FreeMask(owned->mask);
    owned->mask = nullptr;
    FreeObjectDataList(L, &owned->data);
}

void FreeUnusedClipRegions(ScriptState* L) {
    if (waitingLost) {
        waiting.clear();
        waitingLost = false;
        qbObject* o = ClipRegionListHead()->head;
        while (o) {
            auto* r = static_cast<qbClipRegionObject*>(o);
            o = o->next;
            if (!Waits(r)) continue;
            if (!IsClipRegionInUse(r)) FreeClipRegionRecord(L, r);
            else NoteClipRegionWaiting(r);
        }
        return;
    }
    // From the back: a free takes its region out of the list, and the
    // ones behind it were seen already.
    for (size_t i = waiting.size(); i-- > 0;)
        if (i < waiting.size() && !IsClipRegionInUse(waiting[i])) FreeClipRegionRecord(L, waiting[i]);
}

void FreeAllClipRegions(ScriptState* L) {
    while (qbObject* o = ClipRegionListHead()->head) FreeClipRegionRecord(L, static_cast<qbClipRegionObject*>(o));
    waiting.clear();
    waitingLost = false;
}
