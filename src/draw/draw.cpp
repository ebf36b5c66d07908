// The draw library: nothing is allocated yet.
#include "draw/draw.h"

void FreeDrawLibrary(ScriptState*) {}
