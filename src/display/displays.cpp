// Displays: none can be created yet, so there is nothing to open or free.
#include "display/displays.h"

int StartDisplays(ScriptState*) { return 0; }

void FreeAllDisplays(ScriptState*) {}
