// The "transitionfx" command library: ten commands that show or hide a
// brush, a BGPic part, a whole BGPic, a layer or a plain colour with one of
// the transition effects, and the effect constants.
#pragma once

#include "vm/vm.h"

struct qbEffectState;

int InitTransitionFXLibrary(ScriptState* L);

// Reads an effect option table at idx into the state. "type", "speed",
// "parameter" and "undolevel" start from their defaults; the other keys
// keep what the state holds. Raises on a field of the wrong kind.
void ParseEffectOptions(ScriptState* L, int idx, qbEffectState* state);

int cmdDisplayBrushFX(ScriptState* L);
int cmdDisplayTextObjectFX(ScriptState* L);
int cmdDisplayTransitionFX(ScriptState* L);
int cmdDisplayBGPicPartFX(ScriptState* L);
int cmdUndoFX(ScriptState* L);
int cmdShowLayerFX(ScriptState* L);
int cmdHideLayerFX(ScriptState* L);
int cmdRemoveLayerFX(ScriptState* L);
int cmdGetRandomFX(ScriptState* L);
int cmdClearScreen(ScriptState* L);
