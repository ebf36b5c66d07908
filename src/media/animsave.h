// Writing anims: SaveAnim and the anim stream commands.
#pragma once

struct ScriptState;

int cmdSaveAnim(ScriptState* L);
int cmdBeginAnimStream(ScriptState* L);
int cmdWriteAnimFrame(ScriptState* L);
int cmdFinishAnimStream(ScriptState* L);
