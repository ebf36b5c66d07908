// The effect constants of the "transitionfx" library (145 rows, then the
// end row).
#pragma once

#include "vm/vm.h"

extern const ScriptConstant kTransitionConstants[];
