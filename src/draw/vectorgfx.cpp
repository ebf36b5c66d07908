// Vector paths: none can be created yet.
#include "draw/vectorgfx.h"

void FreeVectorLibrary(ScriptState*) {}
