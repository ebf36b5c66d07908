// Calls a library command by its global name, as a script calls it.
#pragma once

#include <cctype>
#include <string>

#include "vm/vm.h"

// Calls the command on the nargs values on the stack top; the error code (0
// for success). Results stay on the stack.
inline int CallCommand(ScriptState* L, const char* command, int nargs, int nresults) {
    std::string lower(command);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    VmPushString(L, lower.c_str());
    VmGetTableAt(L, kGlobalsIndex);
    VmInsert(L, -(nargs + 1));
    const int err = VmPCall(L, nargs, nresults, 0);
    VmSetEndFlag(L, 0);
    return err;
}
