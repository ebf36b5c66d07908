// Brushes: none can be created yet.
#include "objects/brushes.h"

void FreeAllBrushes(ScriptState*) {}
