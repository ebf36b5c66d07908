// Sound at start-up and shutdown as the rest of the player sees it.
#include "sound/sound.h"

#include "core/soundevents.h"
#include "sound/channels.h"

void StopAllAudio() {
    if (IsAudioOpen()) StopAllChannels();
}

void FreeSoundObjects(ScriptState*) {}

// Queued events go first (nobody will take them), then the output, then the
// table.
void ShutdownAudioCore() {
    ClearSoundEvents();
    CloseAudioCore();
}
