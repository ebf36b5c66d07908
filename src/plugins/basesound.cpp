// Table 4 of the plugin base: whole sound files decoded for a plugin, PCM
// handed to samples, and the audio adapter's install.
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/memory.h"
#include "display/adapterslots.h"
#include "plugins/basesystemslots.h"
#include "plugins/basetables.h"
#include "sound/audioadapter.h"
#include "sound/samples.h"

namespace {

static_assert(QBSOUND_BIGENDIAN == kPCMBigEndian && QBSOUND_SIGNED == kPCMSigned);
static_assert(sizeof(qbAudioTag) == sizeof(qbAdapterTag) &&
                  offsetof(qbAudioTag, value) == offsetof(qbAdapterTag, value),
              "plugins hand the audio adapter their own tag items");

// The PCM lies right behind the record when both are one block.
bool PCMInRecordBlock(const qbSoundPCM* record) { return record->pcm == record + 1; }

void FreeRequest(qbSoundPCM* record) {
    if (!PCMInRecordBlock(record)) FreeMemory(record->pcm);
    FreeMemory(record);
}

qbSoundPCM* DecodeSoundSlot(const char* name, uint32_t flags) {
    if (name == nullptr) return nullptr;
    qbSamplePtr stream;
    if (OpenWholeSound(name, nullptr, nullptr, &stream) != 0) return nullptr;
    qbSample& s = *stream;
    const size_t bytes = size_t{s.frames} * static_cast<size_t>(s.bytesPerFrame);
    const bool own = flags & QBSOUND_DECODE_OWNBUFFER;
    // AllocMemory refuses size 0, and an empty sound still needs its record.
    auto* record = static_cast<qbSoundPCM*>(AllocMemory(sizeof(qbSoundPCM) + (own ? 0 : bytes), 1));
    if (record == nullptr) return nullptr;
    record->pcm = own ? AllocMemory(bytes == 0 ? 1 : bytes, 0) : record + 1;
    if (record->pcm == nullptr || ReadWholeSound(s, record->pcm) != 0) {
        FreeRequest(record);
        return nullptr;
    }
    record->bytes = bytes;
    record->frames = s.frames;
    record->channels = s.channels;
    record->bits = s.bits;
    record->rate = s.rate;
    record->flags = s.flags & (QBSOUND_BIGENDIAN | QBSOUND_SIGNED);
    return record;
}

int TakeRequest(intptr_t id, const qbSoundPCM& r) {
    qbSampleObject* sample = nullptr;
    if (int err = GetSample(PluginObjectID(id), &sample)) return err;
    if ((r.bits != 8 && r.bits != 16) || (r.channels != 1 && r.channels != 2) || r.rate <= 0 || r.rate > INT32_MAX)
        return ERR_8OR16BITONLY;
    const uint64_t frameBytes = static_cast<uint64_t>(r.bits / 8 * r.channels);
    if (r.pcm == nullptr || r.frames == 0 || r.frames > UINT32_MAX || r.frames * frameBytes > r.bytes)
        return ERR_WRONGUSAGE;
    const size_t bytes = r.frames * frameBytes;
    std::unique_ptr<uint8_t[]> pcm(new (std::nothrow) uint8_t[bytes]);
    if (!pcm) return ERR_MEM;
    std::memcpy(pcm.get(), r.pcm, bytes);
    SetSamplePCM(sample, std::move(pcm), static_cast<int32_t>(r.bits), static_cast<int32_t>(r.channels),
                 static_cast<uint32_t>(r.flags & (QBSOUND_BIGENDIAN | QBSOUND_SIGNED)), static_cast<uint32_t>(r.frames),
                 static_cast<int32_t>(r.rate));
    sample->file.clear();  // no longer that file's sound
    return 0;
}

int SetSamplePCMSlot(intptr_t sample, qbSoundPCM* request) {
    if (request == nullptr) return ERR_WRONGUSAGE;
    const int err = TakeRequest(sample, *request);
    FreeRequest(request);
    return err;
}

int SetAudioAdapterSlot(qbPluginRecord* plugin, uint32_t flags, const qbAdapterTag* tags) {
    qbPlugin* view = PluginViewOf(plugin);
    if (view == nullptr) return ERR_WRONGUSAGE;
    return SetAudioAdapter(view, flags, reinterpret_cast<const qbAudioTag*>(tags));
}

}  // namespace

const qbSoundTable kPluginSoundTable = {DecodeSoundSlot, SetSamplePCMSlot, SetAudioAdapterSlot};
