// The BGPic list.
#pragma once

struct ScriptState;

void FreeAllBGPics(ScriptState* L);
