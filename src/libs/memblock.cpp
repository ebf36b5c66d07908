// Memory blocks: none can be allocated yet.
#include "libs/memblock.h"

void FreeAllMemblocks(ScriptState*) {}
