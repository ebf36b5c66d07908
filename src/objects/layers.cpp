// Layers: nothing is allocated yet.
#include "objects/layers.h"

void FreeLayersLibrary(ScriptState*) {}
