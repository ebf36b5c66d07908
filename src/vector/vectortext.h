// Text in vector paths: a text's outlines come from the current font's face
// through the engine's own vector-font handle.
#pragma once

#include "vm/vm.h"

int cmdAddTextToPath(ScriptState* L);
