// The region list and the choice of the active clip region. A region must
// lie inside the output it clips: the blits trust it and do not clip again.
#include "display/clipregions.h"

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/display.h"
#include "display/output.h"

namespace {

qbObjectList regionList;

bool SwitchesOff(ObjectID id) { return !id.handle && (id.number == 0 || id.number == -1); }

}  // namespace

qbObjectList* ClipRegionListHead() { return &regionList; }

int AppendClipRegion(qbClipRegionObject* region) {
    if (int err = AppendObject(&regionList, region)) return err;
    if (region->temporary) NoteClipRegionWaiting(region);
    return 0;
}

int GetClipRegionRecord(ObjectID id, qbClipRegionObject** out, uint32_t flags) {
    // A temporary region has its own address for its id, so no other
    // region shares it.
    auto* r = static_cast<qbClipRegionObject*>(FindListedObject(regionList, id));
    if (r && (!r->temporary || (flags & kFindTemporary))) {
        *out = r;
        return 0;
    }
    SetErrorArgIndex(id.number);
    return ERR_FINDCLIPREGION;
}

int ChooseClipRegion(ObjectID id) {
    const qbOutputView out = GetCurrentOutput();
    if (!out.display) return ERR_FINDDISPLAY;
    if (out.type == kOutputMask || out.type == kOutputAlphaChannel) return ERR_WRONGUSAGE;
    if (SwitchesOff(id)) {
        *out.clip = nullptr;
        out.display->clipLeft = 0;
        out.display->clipRight = out.display->width - 1;
        return 0;
    }
    qbClipRegionObject* r = nullptr;
    if (int err = GetClipRegionRecord(id, &r, 0)) return err;
    if (int64_t{r->x} + r->width > out.width || int64_t{r->y} + r->height > out.height) return ERR_WRONGCLIPREG;
    *out.clip = r;
    out.display->clipLeft = r->x;
    out.display->clipRight = r->x + r->width - 1;
    return 0;
}
