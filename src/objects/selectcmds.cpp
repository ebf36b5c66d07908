// The script commands of output selection and double buffering: SelectBrush,
// SelectMask, SelectAlphaChannel, SelectBGPic, EndSelect, BeginDoubleBuffer,
// Flip and EndDoubleBuffer.
#include "objects/selectcmds.h"

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/truth.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/doublebuffer.h"
#include "display/output.h"
#include "display/selection.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/selection.h"

namespace {

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }


int OptionalInt(ScriptState* L, int idx, int32_t fallback, int32_t* out) {
    *out = fallback;
    return Given(L, idx) ? BrushIntArg(L, idx, out) : 0;
}

// SelectMask and SelectAlphaChannel: id[, type = brush[, frame]]; an anim
// needs its frame.
int SelectPlane(ScriptState* L, int32_t kind) {
    CheckArgCount(L, 1, 3, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t type = kObjectTypeBrush, frame = 0;
    if (int err = OptionalInt(L, 2, kObjectTypeBrush, &type)) return err;
    if (type == kOutputAnim && !Given(L, 3)) return ERR_MISSINGPARAMTR;
    if (int err = OptionalInt(L, 3, 0, &frame)) return err;
    return SelectOutputTarget(L, type, id, kind, frame, kSelModeNormal, 0);
}

}  // namespace

int cmdSelectBrush(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t mode = 0, combo = 0;
    if (int err = OptionalInt(L, 2, kSelModeNormal, &mode)) return err;
    if (int err = OptionalInt(L, 3, 0, &combo)) return err;
    return SelectOutputTarget(L, kObjectTypeBrush, id, kOutputBrush, 0, mode, combo);
}

int cmdSelectMask(ScriptState* L) { return SelectPlane(L, kOutputMask); }

int cmdSelectAlphaChannel(ScriptState* L) { return SelectPlane(L, kOutputAlphaChannel); }

int cmdSelectBGPic(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    int32_t mode = 0, combo = 0;
    if (int err = OptionalInt(L, 2, kSelModeLayers, &mode)) return err;
    if (int err = OptionalInt(L, 3, 0, &combo)) return err;
    if (mode == kSelModeLayers) {
        if (VmType(L, 1) == kTypeNil) return SelectBGPicLayers(L, nullptr);
        const ObjectID id = GetObjectIDArg(L, 1);
        return SelectBGPicLayers(L, &id);
    }
    return SelectOutputTarget(L, kObjectTypeBGPic, GetObjectIDArg(L, 1), kOutputBrush, 0, mode, combo);
}

int cmdEndSelect(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    // The double buffer is ended by EndDoubleBuffer; a selection that
    // suspended it ends here.
    if (!d || d->output.type == kObjectTypeDisplay || IsDoubleBuffering(d)) return ERR_WRONGUSAGE;
    return EndSelectCore(L, d, false);
}

int cmdBeginDoubleBuffer(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    const bool layered = d && d->bgpic && CountLayers(d->bgpic) > 0;
    return BeginDoubleBufferCore(L, d, GetFlagArg(L, 1, false), layered);
}

int cmdFlip(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    return FlipDoubleBuffer(L, GetCurrentDisplay(), GetFlagArg(L, 1, true));
}

int cmdEndDoubleBuffer(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return EndDoubleBufferCore(L, GetCurrentDisplay());
}
