// Clip regions (object type 35): the record, the region list, the lookup
// and the choice of the region that limits drawing on the current output.
#pragma once

#include <cstdint>

#include "core/objects.h"
#include "imaging/blit.h"

struct ScriptState;

constexpr int kObjectTypeClipRegion = 35;

// The region object: the rectangle and mask the blits read (top-left corner
// on the BGPic; a mask plane of width x height, or null for a rectangle)
// under the object header. Records are owned by the region list from
// creation to freeing.
struct qbClipRegionObject : qbObject, qbClipRegion {
    int32_t maskRowBytes = 0;
    int32_t deferredFree = 0;
    int32_t reserved = 0;
    int32_t temporary = 0;  // a transformed copy made for a layer
};

struct qbObjectList;
qbObjectList* ClipRegionListHead();
// Appends a new region at the list's tail; ERR_MEM leaves it the caller's.
// A temporary one is noted as waiting for its last user.
int AppendClipRegion(qbClipRegionObject* region);
// Notes a region that goes once no layer clips with it any more (freed in
// use, or temporary), for FreeUnusedClipRegions.
void NoteClipRegionWaiting(qbClipRegionObject* region);

// Flags of GetClipRegionRecord.
enum : uint32_t {
    kFindForChange = 1,     // the caller is about to change the object
    kFindTemporary = 2,     // temporary objects count too
};

// Not found: ERR_FINDCLIPREGION with the id's number as the message's
// argument. Regions never change in place, so none is ever locked.
int GetClipRegionRecord(ObjectID id, qbClipRegionObject** out, uint32_t flags);

// SetClipRegion: an id of 0 or -1 without a handle switches clipping off,
// any other id makes that region the current output's.
int ChooseClipRegion(ObjectID id);

// Whether any layer still clips with the region; the layers' owner installs
// the answer (without it no layer holds a region).
using ClipRegionUseHook = bool (*)(const qbClipRegion* region);
void SetClipRegionUseHook(ClipRegionUseHook hook);
bool IsClipRegionInUse(const qbClipRegion* region);

// Unlinks the region and frees it with its mask and named data.
void FreeClipRegionRecord(ScriptState* L, qbClipRegionObject* region);
// Frees the regions whose freeing waited for their layers, and the
// transformed copies made for layers, that no layer uses any more.
void FreeUnusedClipRegions(ScriptState* L);
// Shutdown: every region, whoever uses it.
void FreeAllClipRegions(ScriptState* L);
