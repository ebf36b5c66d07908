// The sound library's music list and its two globals: the current music
// (the one started last and not stopped) and the last paused one.
#pragma once

#include "core/objectref.h"
#include "sound/music.h"
#include "vm/vm.h"

struct qbObjectList;
qbObjectList* MusicListHead();
// ERR_FINDMUSIC (the number as the message's argument) or ERR_FINDARRAY.
int GetMusic(ObjectID id, qbMusicObject** out);
// A command's hold on a music (core/objectref.h).
inline int FindMusicByID(ScriptState*, ObjectID id, qbMusicObject** out) { return GetMusic(id, out); }
using qbMusicRef = qbObjectRef<qbMusicObject, FindMusicByID>;
// A new record under an automatic id, linked last; null without memory.
qbMusicObject* LinkNewMusic(qbSamplePtr stream);
// Stops it, unlinks and frees it.
void DestroyMusic(qbMusicObject* m);
int FreeMusicCore(ObjectID id, bool strict);
// Frees every music and lets go of the poll interval.
void FreeAllMusic(ScriptState* L);

qbMusicObject* CurrentMusic();
void SetCurrentMusic(qbMusicObject* m);
qbMusicObject* LastPausedMusic();
void SetLastPausedMusic(qbMusicObject* m);

// Stopped and rewound, as after its last frame.
void EndMusic(qbMusicObject& m);
// Musics whose output played their last frame (or lost their channel)
// become stopped; the current music is cleared when it is one of them.
void SyncMusicStates(ScriptState* L);
// The shared poll interval runs while a script-fed music plays.
void UpdateMusicPoll(ScriptState* L);
bool IsMusicPollHeld();
// The first playing script-fed music whose queue holds less than a second:
// its id, the frames it lacks and the blocks it holds.
bool FindMusicNeedingData(ObjectID* id, int32_t* samples, int32_t* count);
