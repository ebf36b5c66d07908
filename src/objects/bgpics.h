// The BGPic list.
#pragma once

struct ScriptState;
struct qbBGPic;

void FreeAllBGPics(ScriptState* L);
// The BGPic of the current display; null when none is shown.
qbBGPic* GetCurrentBGPic();
