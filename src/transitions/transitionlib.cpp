#include "transitions/transitionlib.h"

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/gradientopts.h"
#include "objects/bgpiclib.h"
#include "objects/layers.h"
#include "transitions/effectdriver.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectrandom.h"
#include "transitions/effectstate.h"
#include "transitions/transitionconst.h"

namespace {

const ScriptCommand kTransitionCommands[] = {
    {"DisplayBrushFX", cmdDisplayBrushFX},
    {"DisplayTextObjectFX", cmdDisplayTextObjectFX},
    {"DisplayTransitionFX", cmdDisplayTransitionFX},
    {"DisplayBGPicPartFX", cmdDisplayBGPicPartFX},
    {"UndoFX", cmdUndoFX},
    {"ShowLayerFX", cmdShowLayerFX},
    {"HideLayerFX", cmdHideLayerFX},
    {"RemoveLayerFX", cmdRemoveLayerFX},
    {"GetRandomFX", cmdGetRandomFX},
    {"ClearScreen", cmdClearScreen},
    {nullptr, nullptr},
};

// The table form: an option table as the last of exactly `count` arguments.
bool IsTableForm(ScriptState* L, int count) { return VmGetTop(L) == count && VmType(L, count) == kTypeTable; }

// type, speed, parameter from idx on.
void ReadPositional(ScriptState* L, int idx, qbEffectState* s) {
    s->type = GetOptIntArg(L, idx, kRandomEffect);
    s->speed = GetOptIntArg(L, idx + 1, kNormalSpeed);
    s->parameter = GetOptIntArg(L, idx + 2, kRandomParameter);
}

// Runs the driver again as long as a size change asks for it; an
// asynchronous effect's result (its object) ends the loop.
int RunEffect(qbEffectState& s) {
    do {
        s.retry = 0;
        if (int err = RunTransitionFX(s)) return err;
    } while (s.retry);
    return 0;
}

qbEffectState NewState(ScriptState* L, int32_t kind) {
    qbEffectState s;
    s.script = L;
    s.objectType = kind;
    s.undoLevel = 0;
    return s;
}

void ReadBGPicPosition(ScriptState* L, int idx, qbEffectState* s) {
    GetTableFieldInt(L, idx, "x", &s->bgpicX, nullptr);
    GetTableFieldInt(L, idx, "y", &s->bgpicY, nullptr);
}

// DisplayBrushFX and DisplayTextObjectFX: id, x, y, then a table or
// type, speed, parameter.
int ObjectEffect(ScriptState* L, int32_t kind) {
    CheckArgCount(L, 3, 6, 0, 0);
    qbEffectState s = NewState(L, kind);
    s.id = GetObjectIDArg(L, 1);
    s.x = GetIntArg(L, 2);
    s.y = GetIntArg(L, 3);
    if (IsTableForm(L, 4)) ParseEffectOptions(L, 4, &s);
    else ReadPositional(L, 4, &s);
    return RunEffect(s);
}

// A layer argument: a number is an index, a text a layer's name.
int LayerIndexArg(ScriptState* L, int idx, int32_t* out) {
    if (VmType(L, idx) == kTypeString) {
        const qbDisplay* d = GetCurrentDisplay();
        return FindNamedLayer(d ? d->bgpic : nullptr, VmCheckString(L, idx, nullptr), out);
    }
    *out = GetIntArg(L, idx);
    return 0;
}

// "bgpicemu" plays a whole-picture transition inside the layer: "bgpic"
// names the picture it emulates.
int ReadEmulatedBGPic(ScriptState* L, int idx, qbEffectState* s) {
    GetTableFieldInt(L, idx, "bgpicemu", &s->bgpicEmu, nullptr);
    if (!s->bgpicEmu) return 0;
    ObjectID id;
    int found = 0;
    GetTableFieldObjectID(L, idx, "bgpic", &id, &found);
    if (!found) return ERR_MISSINGPARAMTR;
    qbBGPic* p = nullptr;
    if (int err = GetBGPic(L, id, &p, 0)) return err;
    p->layersDirty = 0;
    s->emuBGPic = p;
    return 0;
}

int LayerEffect(ScriptState* L, int32_t kind) {
    CheckArgCount(L, 1, 4, 0, 0);
    qbEffectState s = NewState(L, kind);
    if (int err = LayerIndexArg(L, 1, &s.id.number)) return err;
    if (IsTableForm(L, 2)) {
        ParseEffectOptions(L, 2, &s);
        if (kind == kEffectLayer)
            if (int err = ReadEmulatedBGPic(L, 2, &s)) return err;
    } else {
        ReadPositional(L, 2, &s);
    }
    s.reverse = kind != kEffectLayer;
    return RunEffect(s);
}

}  // namespace

void ParseEffectOptions(ScriptState* L, int idx, qbEffectState* s) {
    s->type = kRandomEffect;
    s->speed = kNormalSpeed;
    s->parameter = kRandomParameter;
    s->undoLevel = 1;
    GetTableFieldInt(L, idx, "type", &s->type, nullptr);
    GetTableFieldInt(L, idx, "speed", &s->speed, nullptr);
    GetTableFieldInt(L, idx, "parameter", &s->parameter, nullptr);
    GetTableFieldInt(L, idx, "undolevel", &s->undoLevel, nullptr);
    GetTableFieldInt(L, idx, "dx", &s->x, nullptr);
    GetTableFieldInt(L, idx, "dy", &s->y, nullptr);
    GetTableFieldFlagInto(L, idx, "layers", &s->layers, nullptr);
    GetTableFieldFlagInto(L, idx, "forcerealtimelayers", &s->forceRealtime, nullptr);
    GetTableFieldFlagInto(L, idx, "async", &s->async, nullptr);
    GetTableFieldFlagInto(L, idx, "noborderfade", &s->noBorderFade, nullptr);
}

int cmdDisplayBrushFX(ScriptState* L) { return ObjectEffect(L, kEffectBrush); }

int cmdDisplayTextObjectFX(ScriptState* L) { return ObjectEffect(L, kEffectTextObject); }

int cmdDisplayTransitionFX(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    qbEffectState s = NewState(L, kEffectBGPic);
    s.id = GetObjectIDArg(L, 1);
    if (IsTableForm(L, 2)) {
        ParseEffectOptions(L, 2, &s);
        ReadBGPicPosition(L, 2, &s);
        if (s.async) return ERR_WRONGUSAGE;
    } else {
        ReadPositional(L, 2, &s);
    }
    return RunEffect(s);
}

int cmdDisplayBGPicPartFX(ScriptState* L) {
    CheckArgCount(L, 5, 11, 0, 0);
    qbEffectState s = NewState(L, kEffectBGPicPart);
    s.id = GetObjectIDArg(L, 1);
    s.srcX = GetIntArg(L, 2);
    s.srcY = GetIntArg(L, 3);
    s.width = GetIntArg(L, 4);
    s.height = GetIntArg(L, 5);
    s.x = s.srcX;
    s.y = s.srcY;
    if (IsTableForm(L, 6)) {
        ParseEffectOptions(L, 6, &s);
    } else {
        ReadPositional(L, 6, &s);
        s.x = GetOptIntArg(L, 9, s.srcX);
        s.y = GetOptIntArg(L, 10, s.srcY);
        s.layers = GetOptIntArg(L, 11, 0);
    }
    const qbDisplay* d = GetCurrentDisplay();
    if (s.layers && (!d || !d->layersEnabled)) return ERR_WRONGUSAGE;
    return RunEffect(s);
}

int cmdUndoFX(ScriptState* L) {
    CheckArgCount(L, 2, 6, 0, 0);
    const int32_t objectType = GetIntArg(L, 1);
    const ObjectID id = GetObjectIDArg(L, 2);
    qbEffectState s = NewState(L, kEffectRemoveLayer);
    if (IsTableForm(L, 3)) {
        ParseEffectOptions(L, 3, &s);
    } else {
        ReadPositional(L, 3, &s);
        s.undoLevel = GetOptIntArg(L, 6, 1);
    }
    const qbDisplay* d = GetCurrentDisplay();
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    // The undo-level-th match counted from the top of the stack.
    int32_t seen = 0;
    for (int32_t i = CountLayers(d->bgpic); i >= 1; --i) {
        const qbLayer* layer = GetLayerByIndex(d->bgpic, i);
        if (layer->type != objectType || !(layer->initialid == id)) continue;
        if (++seen == s.undoLevel) {
            s.id = ObjectID{i, nullptr};
            break;
        }
    }
    if (s.id.number < 1) return ERR_FINDARRAY;
    s.reverse = 1;
    return RunEffect(s);
}

int cmdShowLayerFX(ScriptState* L) { return LayerEffect(L, kEffectLayer); }

int cmdHideLayerFX(ScriptState* L) { return LayerEffect(L, kEffectHideLayer); }

int cmdRemoveLayerFX(ScriptState* L) { return LayerEffect(L, kEffectRemoveLayer); }

int cmdGetRandomFX(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmPushNumber(L, PickRandomEffect(GetFlagArg(L, 1, false) ? 1 : 0));
    return 1;
}

int cmdClearScreen(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    qbEffectState s = NewState(L, kEffectBGPic);
    s.type = GetIntArg(L, 1);
    const uint32_t colour =
        VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil ? static_cast<uint32_t>(ColourBits(VmCheckNumber(L, 2))) : 0;
    if (IsTableForm(L, 3)) {
        ParseEffectOptions(L, 3, &s);
        ReadBGPicPosition(L, 3, &s);
        if (s.async) return ERR_WRONGUSAGE;
    } else {
        s.speed = GetOptIntArg(L, 3, kNormalSpeed);
        s.parameter = GetOptIntArg(L, 4, kRandomParameter);
    }
    const qbBGPic* current = GetCurrentBGPic();
    if (!current) return ERR_WRONGUSAGE;
    qbBGPicFill fill;
    fill.style = kFillColour;
    fill.colour = colour;
    fill.valid = 1;
    qbBGPic* made = nullptr;
    if (int err = MakeFilledBGPic(L, fill, 0, current->baseWidth, current->baseHeight, &made)) return err;
    s.id = IDOf(*made);
    const int err = RunEffect(s);
    // Shown now, it stays until another picture replaces it.
    FreeBGPicCore(L, IDOf(*made), false);
    return err;
}

int InitTransitionFXLibrary(ScriptState* L) {
    SeedEffectRandomFromTime();
    VmRegisterCommands(L, nullptr, kTransitionCommands, 0);
    VmRegisterConstants(L, kTransitionConstants, 0);
    return RegisterCommandTable(kTransitionCommands, "transitionfx", kTransitionConstants);
}
