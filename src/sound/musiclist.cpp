// The music list, the current and the last paused music, and noticing
// musics whose output has played their last frame.
#include "sound/musiclist.h"

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/runstate.h"
#include "display/pollinterval.h"
#include "sound/customstream.h"
#include "sound/soundlib.h"

namespace {

qbObjectList musicList;
qbMusicObject* current = nullptr;
qbMusicObject* lastPaused = nullptr;
bool pollHeld = false;
int fillDepth = 0;

// Script-fed music is user 0 of the shared poll interval.
constexpr int kMusicPollUser = 0;

void Unlink(qbMusicObject* m) { UnlinkObject(&musicList, m); }

}  // namespace

qbObjectList* MusicListHead() { return &musicList; }

int GetMusic(ObjectID id, qbMusicObject** out) {
    *out = nullptr;
    if (qbObject* o = FindListedObject(musicList, id)) {
        *out = static_cast<qbMusicObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDMUSIC;
}

qbMusicObject* LinkNewMusic(qbSamplePtr stream) {
    std::unique_ptr<qbMusicObject> m(new (std::nothrow) qbMusicObject);
    if (!m) return nullptr;
    m->type = kObjectTypeMusic;
    m->handle = m.get();
    m->stream = std::move(stream);
    if (AppendObject(&musicList, m.get())) return nullptr;
    return m.release();
}

void DestroyMusic(qbMusicObject* m) {
    std::unique_ptr<qbMusicObject> gone(m);
    StopMusicStream(*m, false);
    m->state = kMusicStopped;
    if (current == m) current = nullptr;
    if (lastPaused == m) lastPaused = nullptr;
    Unlink(m);
    FreeObjectDataList(GetMainState(), &m->data);
}

int FreeMusicCore(ObjectID id, bool strict) {
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(id, &m)) return strict ? err : 0;
    if (m->fills > 0) return ERR_NOCALLBACK;
    DestroyMusic(m);
    return 0;
}

qbMusicFill::qbMusicFill(qbMusicObject& m) : music_(m) {
    ++music_.fills;
    ++fillDepth;
}

qbMusicFill::~qbMusicFill() {
    --fillDepth;
    --music_.fills;
}

bool IsFillingMusicBuffer() { return fillDepth > 0; }

int RunMusicFill(ObjectID id, const std::function<int()>& deliver) {
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(id, &m)) return err;
    const qbMusicFill fill(*m);
    return deliver();
}

void FreeAllMusic(ScriptState* L) {
    while (musicList.head) DestroyMusic(static_cast<qbMusicObject*>(musicList.head));
    current = lastPaused = nullptr;
    if (pollHeld && L) ReleasePollInterval(L, kMusicPollUser);
    pollHeld = false;
}

qbMusicObject* CurrentMusic() { return current; }
void SetCurrentMusic(qbMusicObject* m) { current = m; }
qbMusicObject* LastPausedMusic() { return lastPaused; }
void SetLastPausedMusic(qbMusicObject* m) { lastPaused = m; }

void EndMusic(qbMusicObject& m) {
    StopMusicStream(m, false);
    m.state = kMusicStopped;
    if (current == &m) current = nullptr;
}

void SyncMusicStates(ScriptState* L) {
    bool ended = false;
    for (qbObject* o = musicList.head; o; o = o->next) {
        auto* m = static_cast<qbMusicObject*>(o);
        if (m->state == kMusicPlaying && MusicStreamDone(*m)) {
            EndMusic(*m);
            ended = true;
        }
    }
    if (ended) UpdateMusicPoll(L);
}

void UpdateMusicPoll(ScriptState* L) {
    bool wanted = false;
    for (qbObject* o = musicList.head; o && !wanted; o = o->next) {
        const auto* m = static_cast<const qbMusicObject*>(o);
        wanted = m->scriptFed && m->state == kMusicPlaying;
    }
    if (wanted == pollHeld || !L) return;
    if (wanted) {
        if (AcquirePollInterval(L, kMusicPollUser) != 0) return;
    } else {
        ReleasePollInterval(L, kMusicPollUser);
    }
    pollHeld = wanted;
}

bool IsMusicPollHeld() { return pollHeld; }

bool FindMusicNeedingData(ObjectID* id, int32_t* samples, int32_t* count) {
    SyncMusicStates(GetMainState());
    for (qbObject* o = musicList.head; o; o = o->next) {
        auto* m = static_cast<qbMusicObject*>(o);
        if (!m->scriptFed || m->state != kMusicPlaying || !m->stream || !m->stream->custom) continue;
        // A music whose end is queued plays out what it has: asking again
        // would only gather blocks that are never read.
        if (CustomEndQueued(*m->stream)) continue;
        int32_t blocks = 0;
        const int64_t queued = CustomFramesQueued(*m->stream, &blocks);
        const int64_t wanted = m->stream->custom->wanted;
        if (queued >= wanted) continue;
        *id = IDOf(*m);
        *samples = static_cast<int32_t>(wanted - queued);
        *count = blocks;
        return true;
    }
    return false;
}
