// The handler switches, mirrored into the mixer so that the audio thread
// does not even record an event nobody handles.
#include "sound/soundevents.h"

#include <array>
#include <atomic>

#include "core/soundevents.h"
#include "platform/mixer/mixer.h"

namespace {

std::array<std::atomic<bool>, 4> switches{};

void Mirror() {
    audio_mixer::SetEventSwitches(switches[kHandlerSampleLoop].load(), switches[kHandlerSampleEnd].load(),
                                  switches[kHandlerMusicEnd].load());
}

}  // namespace

void SetSoundHandlerSwitch(qbSoundHandler which, bool on) {
    switches[static_cast<size_t>(which)].store(on);
    Mirror();
}

bool SoundHandlerSwitch(qbSoundHandler which) { return switches[static_cast<size_t>(which)].load(); }

int PushSwitchedSoundEvent(int type, ObjectID id, uint32_t position, int32_t loops, uint32_t extra, int wake) {
    switch (type) {
        case kSoundEventSampleEnd: if (!SoundHandlerSwitch(kHandlerSampleEnd)) return 0; break;
        case kSoundEventSampleLoop: if (!SoundHandlerSwitch(kHandlerSampleLoop)) return 0; break;
        case kSoundEventMusicEnd: if (!SoundHandlerSwitch(kHandlerMusicEnd)) return 0; break;
        case kSoundEventVideoEnd: if (!SoundHandlerSwitch(kHandlerVideoEnd)) return 0; break;
        default: break;
    }
    return PushSoundEvent(type, id, position, loops, extra, wake);
}
