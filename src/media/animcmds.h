// The anim commands that change, copy, free and take frames of anims.
#pragma once

#include <cstdint>

#include "core/argapi.h"

struct ScriptState;

// Inserts count blank frames (count > 0) or removes -count frames at the
// 1-based position (0: at the end). fromCommand looks the anim up as about
// to change (locked anims refused, layers given a copy). On any error the
// anim stays as it was. *at, when given, gets the 0-based index the
// change starts at.
int ModifyAnimFramesCore(ScriptState* L, ObjectID id, int32_t count, int32_t position, bool fromCommand,
                         int32_t* at = nullptr);

int cmdFreeAnim(ScriptState* L);
int cmdScaleAnim(ScriptState* L);
int cmdCopyAnim(ScriptState* L);
int cmdGetAnimFrame(ScriptState* L);
int cmdModifyAnimFrames(ScriptState* L);
int cmdSelectAnim(ScriptState* L);
int cmdSetAnimFrameDelay(ScriptState* L);
