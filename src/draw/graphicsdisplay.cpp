// The graphics library's commands on the current display: pointer
// visibility, the frame-rate limit, the video-dump clock, refresh blocks
// and the choice of the clip region.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/ostime.h"
#include "display/adapter.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/output.h"
#include "display/refresh.h"
#include "draw/graphicslib.h"

namespace {

TimeValue& DumpStart() {
    static TimeValue start;
    return start;
}

int CurrentDisplay(qbDisplay** out) {
    *out = GetCurrentDisplay();
    return *out ? 0 : ERR_FINDDISPLAY;
}

int SetPointerHidden(bool hidden) {
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    d->pointerHidden = hidden ? 1 : 0;
    if (d->state != DISPSTATE_CLOSED) ShowHideDisplayPointer(d, !hidden);
    return 0;
}

}  // namespace

void SetVideoDumpStart(const TimeValue& start) { DumpStart() = start; }

int cmdHidePointer(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return SetPointerHidden(true);
}

int cmdShowPointer(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    return SetPointerHidden(false);
}

int cmdSetFPSLimit(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    SetFPSLimit(ClampToInt32(VmCheckNumber(L, 1)));
    return 0;
}

int cmdGetFPSLimit(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, GetFPSLimit());
    return 1;
}

int cmdDumpVideoTime(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (!IsVideoRecording()) {
        VmPushNumber(L, -1);
        return 1;
    }
    TimeValue now;
    GetMonotonicTime(&now);
    SubTime(&now, &DumpStart());
    VmPushNumber(L, static_cast<double>(now.seconds) * 1000 + now.microseconds / 1000);
    return 1;
}

int cmdBeginRefresh(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const bool flag = VmGetTop(L) >= 1 && GetFlagArg(L, 1, false);
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    if (IsVideoRecording()) return 0;
    // With both back buffers the display composes every frame anyway, so
    // the block is worth opening whatever the flag says.
    if (!(d->spriteFreeBuffer && d->backBuffer) && !flag) return 0;
    if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
    if (d->refreshBlock) return ERR_WRONGUSAGE;
    d->refreshBlock = 1;
    return 0;
}

int cmdEndRefresh(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    if (!d->refreshBlock) return 0;
    d->refreshBlock = 0;
    RefreshDisplay(L, d);
    return 0;
}

int cmdSetClipRegion(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return ChooseClipRegion(GetObjectIDArg(L, 1));
}
