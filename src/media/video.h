// Video playback: every playing video and the video list.
#pragma once

struct ScriptState;

void StopAllVideos(ScriptState* L);
void FreeAllVideos(ScriptState* L);
