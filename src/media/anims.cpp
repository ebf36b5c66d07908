// Anims: none can be loaded yet, so there is nothing to free.
#include "media/anims.h"

void FreeAllAnims(ScriptState*) {}
