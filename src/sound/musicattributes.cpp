// GetAttribute's rows for music objects: what the stream is, where it plays
// and whether it plays.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "draw/attributes.h"
#include "sound/musiclist.h"
#include "sound/samples.h"
#include "sound/soundlib.h"

namespace {

enum : int32_t {
    kAttrType = 9, kAttrDuration = 14, kAttrPitch = 15, kAttrPosition = 18, kAttrFormat = 19, kAttrBitrate = 20,
    kAttrCanSeek = 72, kAttrNumSubsongs = 80, kAttrCurSubsong = 81, kAttrPlaying = 83, kAttrPaused = 84,
    kAttrLoader = 91,
};

int FindMusicForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, idx), &m)) return err;
    SyncMusicStates(L);
    *out = m;
    return 0;
}

int MusicAttribute(const qbAttributeQuery& q) {
    const auto* m = static_cast<const qbMusicObject*>(q.object);
    const qbSample& s = *m->stream;
    double v = 0;
    // A module has no length or byte rate of its own to tell.
    if (m->module && (q.attribute == kAttrDuration || q.attribute == kAttrPosition || q.attribute == kAttrBitrate)) {
        VmPushNumber(q.L, -1);
        return 1;
    }
    switch (q.attribute) {
    case kAttrType: v = FormatOfPCMCode(s.pcmCode); break;
    case kAttrDuration: v = static_cast<double>(MusicDurationMs(*m)); break;
    case kAttrPosition: v = static_cast<double>(MusicPositionMs(*m)); break;
    case kAttrPitch: v = s.rate; break;
    case kAttrFormat: VmPushString(q.L, SoundFormatName(s)); return 1;
    // Kbit/s from the frame size when the stream tells none of its own.
    case kAttrBitrate:
        v = s.kbps ? static_cast<double>(s.kbps) : static_cast<double>(int64_t{s.bytesPerFrame} * s.rate / 1024 * 8);
        break;
    case kAttrCanSeek: v = s.canSeek ? 1 : 0; break;
    case kAttrNumSubsongs: v = s.subsongs; break;
    case kAttrCurSubsong: v = m->subsong; break;
    case kAttrPlaying: v = m->state == kMusicPlaying ? 1 : 0; break;
    case kAttrPaused: v = m->state == kMusicPaused ? 1 : 0; break;
    case kAttrLoader: VmPushString(q.L, SoundLoaderName(s)); return 1;
    default: return ERR_UNKNOWNATTR;
    }
    VmPushNumber(q.L, v);
    return 1;
}

}  // namespace

void InstallMusicAttributeRows() {
    SetAttributeLookup(kObjectTypeMusic, &FindMusicForAttribute);
    for (int32_t attribute : {kAttrType, kAttrDuration, kAttrPosition, kAttrPitch, kAttrFormat, kAttrBitrate,
                              kAttrCanSeek, kAttrNumSubsongs, kAttrCurSubsong, kAttrPlaying, kAttrPaused, kAttrLoader}) {
        const qbAttributeRow row{kObjectTypeMusic, attribute, &MusicAttribute};
        AddAttributeRows(&row, 1);
    }
}
