// The "moveobject" library: every command reads the object, the two points
// and either an option table (the sixth and last argument) or positional
// speed, animspeed and fx, and hands the move to the engine.
#include "libs/moveobjectlib.h"

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "draw/movement.h"
#include "vm/vm.h"

namespace {

const ScriptCommand kMoveObjectCommands[] = {
    {"MoveBrush", cmdMoveBrush},
    {"MoveAnim", cmdMoveAnim},
    {"MoveTextObject", cmdMoveTextObject},
    {"MoveLayer", cmdMoveLayer},
    {"MoveSprite", cmdMoveSprite},
    {nullptr, nullptr},
};

const ScriptConstant kMoveObjectConstants[] = {
    {"BOUNCE", nullptr, kMoveBounce},         {"SMOOTHOUT", nullptr, kMoveSmoothOut},
    {"DAMPED", nullptr, kMoveDamped},         {"SINE", nullptr, kMoveSine},
    {"BIGSINE", nullptr, kMoveBigSine},       {"LOWERCURVE", nullptr, kMoveLowerCurve},
    {"UPPERCURVE", nullptr, kMoveUpperCurve}, {nullptr, nullptr, 0},
};

// withAnim: the positional form has animspeed before fx.
int RunMove(ScriptState* L, qbMoveRequest& r, bool withAnim) {
    r.x1 = GetIntArg(L, 2);
    r.y1 = GetIntArg(L, 3);
    r.x2 = GetIntArg(L, 4);
    r.y2 = GetIntArg(L, 5);
    if (VmGetTop(L) == 6 && VmType(L, 6) == kTypeTable) {
        GetTableFieldInt(L, 6, "fx", &r.fx, nullptr);
        GetTableFieldInt(L, 6, "speed", &r.speed, nullptr);
        GetTableFieldInt(L, 6, "animspeed", &r.animspeed, nullptr);
        r.async = GetTableFieldFlag(L, 6, "async");
    } else {
        r.speed = GetOptIntArg(L, 6, kMoveSpeedNormal);
        if (withAnim) r.animspeed = GetOptIntArg(L, 7, -1);
        r.fx = GetOptIntArg(L, withAnim ? 8 : 7, kMoveStraight);
    }
    ObjectID asyncId;
    if (int err = MoveObject(L, r, &asyncId)) return err;
    return r.async ? PushObjectID(L, asyncId) : 0;
}

}  // namespace

int cmdMoveBrush(ScriptState* L) {
    CheckArgCount(L, 5, 7, 0, 0);
    qbMoveRequest r;
    r.kind = kMoveKindBrush;
    r.id = GetObjectIDArg(L, 1);
    return RunMove(L, r, false);
}

int cmdMoveAnim(ScriptState* L) {
    CheckArgCount(L, 5, 8, 0, 0);
    qbMoveRequest r;
    r.kind = kMoveKindAnim;
    r.id = GetObjectIDArg(L, 1);
    return RunMove(L, r, true);
}

int cmdMoveTextObject(ScriptState* L) {
    CheckArgCount(L, 5, 7, 0, 0);
    qbMoveRequest r;
    r.kind = kMoveKindTextObject;
    r.id = GetObjectIDArg(L, 1);
    return RunMove(L, r, false);
}

int cmdMoveLayer(ScriptState* L) {
    CheckArgCount(L, 5, 7, 0, 0);
    qbMoveRequest r;
    r.kind = kMoveKindLayer;
    if (VmType(L, 1) == kTypeString)
        r.layerName = VmCheckString(L, 1, nullptr);
    else
        r.id.number = GetIntArg(L, 1);
    return RunMove(L, r, false);
}

int cmdMoveSprite(ScriptState* L) {
    CheckArgCount(L, 5, 8, 0, 0);
    qbMoveRequest r;
    r.kind = kMoveKindSprite;
    r.id = GetObjectIDArg(L, 1);
    return RunMove(L, r, true);
}

const ScriptCommand* MoveObjectCommands() { return kMoveObjectCommands; }
const ScriptConstant* MoveObjectConstants() { return kMoveObjectConstants; }

int InitMoveObjectLibrary(ScriptState* L) {
    VmRegisterCommands(L, nullptr, kMoveObjectCommands, 0);
    VmRegisterConstants(L, kMoveObjectConstants, 0);
    return RegisterCommandTable(kMoveObjectCommands, "moveobject", kMoveObjectConstants);
}
