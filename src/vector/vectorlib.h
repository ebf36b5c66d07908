// The vectorgraphics library: building, measuring and moving vector paths
// and the process-wide line style.
#pragma once

#include "vm/vm.h"

int InitVectorLibrary(ScriptState* L);
// Every path, the dash array, then every font's vector-font handles.
void FreeVectorLibrary(ScriptState* L);

const ScriptCommand* VectorCommands();
const ScriptConstant* VectorConstants();
