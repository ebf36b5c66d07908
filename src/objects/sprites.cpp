// Sprites: none can be created yet.
#include "objects/sprites.h"

void FreeAllSprites(ScriptState*) {}
