// Sound at start-up and shutdown as the rest of the player sees it.
#include "sound/sound.h"

#include "core/soundevents.h"
#include "sound/channels.h"
#include "sound/musiclist.h"
#include "sound/samples.h"

void StopAllAudio() {
    if (IsAudioOpen()) StopAllChannels();
}

void FreeSoundObjects(ScriptState* L) {
    FreeAllMusic(L);
    FreeAllSamples();
}

// The channels and the output go first, then the events they left, which
// nobody will take any more.
void ShutdownAudioCore() {
    CloseAudioCore();
    ClearSoundEvents();
}
