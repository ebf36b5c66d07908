// Calling a function the script gave a command (ForEach's, a pattern
// replacement's), as opposed to VmCall, whose caller chose the function and
// decides itself what a native callee's failure code means.
#pragma once

#include "vm/vm.h"

// A command given there that fails is reported as the script's own call of
// it would be (raised, or kept as the last error when the script goes on);
// its code is returned too.
int VmCallGiven(ScriptState* L, int nargs, int nresults);
