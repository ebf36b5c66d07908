// GetAttribute's rows for samples: the format, length and pitch a play
// starts from, whether and how far the sample plays now, and its loader.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/ratetime.h"
#include "draw/attributes.h"
#include "sound/channels.h"
#include "sound/samples.h"
#include "sound/soundlib.h"

namespace {

enum : int32_t {
    kAttrType = 9, kAttrNumFrames = 11, kAttrDuration = 14, kAttrPitch = 15, kAttrPosition = 18, kAttrPlaying = 83,
    kAttrLoader = 91,
};

int FindSampleForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, idx), &s)) return err;
    *out = s;
    return 0;
}

int SampleAttribute(const qbAttributeQuery& q) {
    const auto* s = static_cast<const qbSampleObject*>(q.object);
    double v = 0;
    switch (q.attribute) {
    case kAttrType: v = FormatOfPCMCode(s->pcmCode); break;
    // At the sample's own pitch, so a changed pitch changes the length.
    case kAttrDuration:
        v = s->pitch > 0 ? static_cast<double>(MsAtCount(s->sample.frames, {static_cast<uint64_t>(s->pitch)})) : 0;
        break;
    case kAttrPitch: v = s->pitch; break;
    case kAttrNumFrames: v = s->sample.frames; break;
    case kAttrPlaying: v = IsAudioOpen() && IsSamplePlaying(s->sample.pcm) ? 1 : 0; break;
    case kAttrPosition: {
        // A sample that does not play has played nothing yet.
        int64_t ms = 0;
        int32_t loops = 0;
        if (IsAudioOpen()) GetSamplePlayPosition(s->sample.pcm, s->pitch, &ms, &loops);
        VmPushNumber(q.L, static_cast<double>(ms));
        VmPushNumber(q.L, loops);
        return 2;
    }
    case kAttrLoader: VmPushString(q.L, s->loader.c_str()); return 1;
    default: return ERR_UNKNOWNATTR;
    }
    VmPushNumber(q.L, v);
    return 1;
}

}  // namespace

void InstallSampleAttributeRows() {
    SetAttributeLookup(kObjectTypeSample, &FindSampleForAttribute);
    for (int32_t attribute :
         {kAttrType, kAttrNumFrames, kAttrDuration, kAttrPitch, kAttrPosition, kAttrPlaying, kAttrLoader}) {
        const qbAttributeRow row{kObjectTypeSample, attribute, &SampleAttribute};
        AddAttributeRows(&row, 1);
    }
}
