// The region list and the choice of the active clip region. A region must
// lie inside the output it clips: the blits trust it and do not clip again.
#include "display/clipregions.h"

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/display.h"
#include "display/output.h"

namespace {

qbObject* regionList = nullptr;

bool SwitchesOff(ObjectID id) { return !id.handle && (id.number == 0 || id.number == -1); }

}  // namespace

qbObject** ClipRegionListHead() { return &regionList; }

int GetClipRegionRecord(ObjectID id, qbClipRegionObject** out, uint32_t flags) {
    for (qbObject* o = regionList; o; o = o->next) {
        auto* r = static_cast<qbClipRegionObject*>(o);
        if (r->id != id.number || r->handle != id.handle) continue;
        if (r->temporary && !(flags & kFindTemporary)) continue;
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
