// Sound: no audio output is opened yet, so there is nothing to stop or free.
#include "sound/sound.h"

void StopAllAudio() {}

void FreeSoundObjects(ScriptState*) {}

void ShutdownAudioCore() {}
