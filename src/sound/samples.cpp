// The sample list and loading a sample from a file.
#include "sound/samples.h"

#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "core/runstate.h"
#include "objects/adoptid.h"
#include "sound/stream.h"

namespace {

qbObjectList sampleList;

void Unlink(qbSampleObject* s) { UnlinkObject(&sampleList, s); }

void Destroy(qbSampleObject* s) {
    std::unique_ptr<qbSampleObject> gone(s);
    StopChannel(s->sample.pcm, -1);
    Unlink(s);
    FreeObjectDataList(GetMainState(), &s->data);
}

}  // namespace

qbObjectList* SampleListHead() { return &sampleList; }

int GetSample(ObjectID id, qbSampleObject** out) {
    *out = nullptr;
    if (qbObject* o = FindListedObject(sampleList, id)) {
        *out = static_cast<qbSampleObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDSAMPLE;
}

void SetSamplePCM(qbSampleObject* s, std::unique_ptr<uint8_t[]> pcm, int32_t bits, int32_t channels, uint32_t flags,
                  uint32_t frames, int32_t rate) {
    if (s->pcm) StopChannel(s->sample.pcm, -1);
    s->pcm = std::move(pcm);
    const int32_t frameBytes = bits / 8 * channels;
    s->sample = qbSampleData{s->pcm.get(), bits, frameBytes, channels, flags, frames, rate};
    s->pitch = rate;
    s->pcmCode = PCMCodeOf(bits, channels, flags);
    s->bytes = int64_t{frames} * frameBytes;
}

int LinkNewSample(std::unique_ptr<uint8_t[]> pcm, int32_t bits, int32_t channels, uint32_t flags, uint32_t frames,
                  int32_t rate, qbSampleObject** out) {
    std::unique_ptr<qbSampleObject> s(new (std::nothrow) qbSampleObject);
    if (!s) return ERR_MEM;
    s->type = kObjectTypeSample;
    s->handle = s.get();
    SetSamplePCM(s.get(), std::move(pcm), bits, channels, flags, frames, rate);
    if (int err = AppendObject(&sampleList, s.get())) return err;
    *out = s.release();
    return 0;
}

int FreeSampleCore(ObjectID id, bool strict) {
    qbSampleObject* s = nullptr;
    if (int err = GetSample(id, &s)) return strict ? err : 0;
    Destroy(s);
    return 0;
}

void FreeAllSamples() {
    while (sampleList.head) Destroy(static_cast<qbSampleObject*>(sampleList.head));
}

int FinishNewSample(ScriptState* L, qbSampleObject* made, NewObjectID id) {
    if (int err = AdoptObjectID(
            made, id, [](ObjectID old) { return FreeSampleCore(old, false); },
            [](qbSampleObject* record) { Destroy(record); }))
        return err;
    return NewObjectResult(L, *made, id);
}

int OpenWholeSound(const char* name, const char* loaderTag, const char* adapterTag, qbSamplePtr* out) {
    if (int err = OpenSoundStream(name, loaderTag, adapterTag, out)) return err;
    const qbSample& s = **out;
    int err = 0;
    if (s.dataSize == 0 || s.bytesPerFrame <= 0 || s.bits <= 0)
        err = ERR_STREAMASSAMPLE;
    else if ((s.bits != 8 && s.bits != 16) || (s.channels != 1 && s.channels != 2))
        err = ERR_8OR16BITONLY;
    if (err) out->reset();
    return err;
}

int ReadWholeSound(qbSample& s, void* to) {
    bool ended = false;
    return ReadSoundFrames(s, to, s.frames, &ended) == s.frames ? 0 : ERR_READ;
}

int LoadSampleFile(const char* name, const char* loaderTag, const char* adapterTag, qbSampleObject** out) {
    qbSamplePtr stream;
    if (int err = OpenWholeSound(name, loaderTag, adapterTag, &stream)) return err;
    qbSample& s = *stream;
    const size_t bytes = size_t{s.frames} * static_cast<size_t>(s.bytesPerFrame);
    std::unique_ptr<uint8_t[]> pcm(new (std::nothrow) uint8_t[bytes == 0 ? 1 : bytes]);
    if (!pcm) return ERR_MEM;
    if (int err = ReadWholeSound(s, pcm.get())) return err;
    qbSampleObject* made = nullptr;
    if (int err = LinkNewSample(std::move(pcm), s.bits, s.channels, s.flags, s.frames, s.rate, &made)) return err;
    made->file = name;
    made->loader = SoundLoaderName(s);
    *out = made;
    return 0;
}

int32_t PCMCodeOfFormat(int32_t format) {
    switch (format) {
        case kFormatMono8: return 2;
        case kFormatMono16: return 4;
        case kFormatStereo8: return 3;
        case kFormatStereo16: return 5;
        default: return -1;
    }
}

int32_t FormatOfPCMCode(int32_t code) {
    switch (code) {
        case 0:
        case 2: return kFormatMono8;
        case 1:
        case 3: return kFormatStereo8;
        case 4: return kFormatMono16;
        default: return kFormatStereo16;
    }
}

void DescribePCMCode(int32_t code, int32_t* bits, int32_t* channels, uint32_t* flags) {
    *bits = code >= 4 ? 16 : 8;
    *channels = code % 2 == 1 ? 2 : 1;
    *flags = code >= 2 ? uint32_t{kPCMSigned} : 0u;
}
