// Videos: none can be opened yet, so there is nothing to stop or free.
#include "media/video.h"

void StopAllVideos(ScriptState*) {}

void FreeAllVideos(ScriptState*) {}
