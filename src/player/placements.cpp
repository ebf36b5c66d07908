// Reading back where a display was when it closed last time.
#include "player/placements.h"

#include <algorithm>

#include "core/numbers.h"
#include "core/preproc.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "libs/prefs.h"
#include "vm/vm.h"

namespace {

// The prefs file is the user's to edit: a field of the wrong kind counts as
// absent rather than raising at start-up.
bool RawInt(ScriptState* L, int table, const char* key, int32_t* out) {
    VmPushString(L, key);
    VmRawGet(L, table);
    const bool number = VmType(L, -1) == kTypeNumber;
    if (number) *out = ClampToInt32(VmToNumber(L, -1));
    VmSetTop(L, -2);
    return number;
}

bool FlagMatches(ScriptState* L, int entry, const char* key, bool declared) {
    int32_t saved = 0;
    RawInt(L, entry, key, &saved);
    return (saved != 0) == declared;
}

bool OnSomeMonitor(int32_t x, int32_t y, int32_t width, int32_t height) {
    MonitorList monitors = GetMonitorList(nullptr);
    // Without a list there is nothing to judge the position by.
    if (!monitors) return true;
    const int64_t right = int64_t{x} + std::max(width, 1), bottom = int64_t{y} + std::max(height, 1);
    for (const qbMonitorEntry* m = monitors.get(); m; m = m->next.get()) {
        if (x < int64_t{m->x} + m->width && right > m->x && y < int64_t{m->y} + m->height && bottom > m->y)
            return true;
    }
    return false;
}

}  // namespace

qbRestoredPlacement RestoreDisplayPlacement(ScriptState* L, int32_t id, qbDisplayDeclaration* decl) {
    qbRestoredPlacement result;
    if (!(decl->flags & kDispRememberPosition) || StartupFlags.overridePlacement) return result;
    const int top = VmGetTop(L);
    if (ReadPrefsFile(L, false) != 0 || VmType(L, -1) != kTypeTable) {
        VmSetTop(L, top);
        return result;
    }
    VmPushString(L, "__placement");
    VmRawGet(L, -2);
    if (VmType(L, -1) == kTypeTable) VmRawGetIndex(L, -1, id);
    const int entry = VmGetTop(L);
    int32_t active = 0;
    if (VmType(L, entry) != kTypeTable || !RawInt(L, entry, "active", &active) || active == 0 ||
        !FlagMatches(L, entry, "autoscale", decl->flags & kDispAutoScale) ||
        !FlagMatches(L, entry, "layerscale", decl->flags & kDispLayerScale) ||
        !FlagMatches(L, entry, "sizeable", decl->flags & kDispSizeable)) {
        VmSetTop(L, top);
        return result;
    }
    int32_t x = decl->x, y = decl->y, width = 0, height = 0;
    const bool placed = RawInt(L, entry, "x", &x) && RawInt(L, entry, "y", &y);
    const bool sized = RawInt(L, entry, "width", &width) && RawInt(L, entry, "height", &height);
    if (sized) {
        result.width = width;
        result.height = height;
    }
    // A window left on a monitor that is gone would open out of reach.
    if (placed && OnSomeMonitor(x, y, sized ? width : decl->width, sized ? height : decl->height)) {
        decl->x = x;
        decl->y = y;
    }
    RawInt(L, entry, "scalewidth", &decl->scaleWidth);
    RawInt(L, entry, "scaleheight", &decl->scaleHeight);
    VmPushString(L, "osdata");
    VmRawGet(L, entry);
    if (VmType(L, -1) == kTypeString && VmStrLen(L, -1) > 0) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(VmToCString(L, -1));
        result.data.assign(bytes, bytes + VmStrLen(L, -1));
    }
    decl->flags &= ~uint32_t{kDispKeepProportions | kDispFitScale};
    decl->monitor = 0;
    VmSetTop(L, top);
    return result;
}
