// Dos objects: none can be opened yet.
#include "libs/dos.h"

void FreeDosObjects(ScriptState*) {}
