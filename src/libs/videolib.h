// The "video" library: its command table and commands.
#pragma once

struct ScriptState;

int InitVideoLibrary(ScriptState* L);

int cmdOpenVideo(ScriptState* L);
int cmdCloseVideo(ScriptState* L);
int cmdPlayVideo(ScriptState* L);
int cmdStopVideo(ScriptState* L);
int cmdPauseVideo(ScriptState* L);
int cmdResumeVideo(ScriptState* L);
int cmdSeekVideo(ScriptState* L);
int cmdIsVideo(ScriptState* L);
int cmdIsVideoPlaying(ScriptState* L);
int cmdSetVideoSize(ScriptState* L);
int cmdSetVideoPosition(ScriptState* L);
int cmdSetVideoVolume(ScriptState* L);
int cmdGetVideoFrame(ScriptState* L);
int cmdForceVideoDriver(ScriptState* L);
int cmdDumpVideo(ScriptState* L);
int cmdDisplayVideoFrame(ScriptState* L);
