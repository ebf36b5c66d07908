// The "moveobject" command library: MoveBrush, MoveAnim, MoveTextObject,
// MoveLayer and MoveSprite on the movement engine, and the names of its
// ways to travel.
#pragma once

struct ScriptState;
struct ScriptCommand;
struct ScriptConstant;

int cmdMoveBrush(ScriptState* L);
int cmdMoveAnim(ScriptState* L);
int cmdMoveTextObject(ScriptState* L);
int cmdMoveLayer(ScriptState* L);
int cmdMoveSprite(ScriptState* L);

const ScriptCommand* MoveObjectCommands();
const ScriptConstant* MoveObjectConstants();
int InitMoveObjectLibrary(ScriptState* L);
