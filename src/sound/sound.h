// Sound output, samples and music objects as start-up and shutdown see them.
#pragma once

struct ScriptState;

void StopAllAudio();
void FreeSoundObjects(ScriptState* L);
void ShutdownAudioCore();
