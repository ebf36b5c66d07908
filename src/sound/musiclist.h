// The sound library's music list and its two globals: the current music
// (the one started last and not stopped) and the last paused one.
#pragma once

#include <functional>

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
// ERR_NOCALLBACK for a music a fill request holds.
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

// A fill request: the script's "FillMusicBuffer" handler runs for the music
// while the command or the dispatcher that asked keeps its record. For as
// long, FillMusicBuffer may be called and freeing the music is refused
// (ERR_NOCALLBACK). Requests nest: one made from inside another's handler
// leaves the outer request's hold when it ends.
class qbMusicFill {
public:
    explicit qbMusicFill(qbMusicObject& m);
    ~qbMusicFill();
    qbMusicFill(const qbMusicFill&) = delete;
    qbMusicFill& operator=(const qbMusicFill&) = delete;

private:
    qbMusicObject& music_;
};
// Whether a fill request is running.
bool IsFillingMusicBuffer();
// Runs deliver inside a fill request for the music of id: its result, or
// the music's not-found error.
int RunMusicFill(ObjectID id, const std::function<int()>& deliver);
