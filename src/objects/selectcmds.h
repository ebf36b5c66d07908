// The commands of output selection and double buffering (the brush and
// bgpic libraries register them).
#pragma once

#include "vm/vm.h"

int cmdSelectBrush(ScriptState* L);
int cmdSelectMask(ScriptState* L);
int cmdSelectAlphaChannel(ScriptState* L);
int cmdSelectBGPic(ScriptState* L);
int cmdEndSelect(ScriptState* L);
int cmdBeginDoubleBuffer(ScriptState* L);
int cmdFlip(ScriptState* L);
int cmdEndDoubleBuffer(ScriptState* L);
