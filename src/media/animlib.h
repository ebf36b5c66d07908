// The "anim" library's table and the commands built so far.
#pragma once

struct ScriptState;

int InitAnimLibrary(ScriptState* L);
int cmdIsAnim(ScriptState* L);
int cmdLoadAnimFrame(ScriptState* L);
