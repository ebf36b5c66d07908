// Network objects: none can be created yet.
#include "libs/network.h"

void FreeAllNetworkObjects(ScriptState*) {}
