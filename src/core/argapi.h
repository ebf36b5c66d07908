// The argument layer that every command handler reads its arguments through.
#pragma once

#include <cstdint>

#include "vm/vm.h"

// Names one object: the number the script chose, or (handle non-zero) the
// automatic id, which is the address of the object record.
struct ObjectID {
    int32_t number = 0;
    void* handle = nullptr;
};

// Checks the argument count and, when version is not 0, that the applet was
// compiled by version.revision or newer. A max of 0 or below with min above 0
// means no upper bound. Raises ERR_TOOMANYARGS, ERR_MISSINGPARAMTR or
// ERR_OLDAPPLET and does not return then.
ScriptState* CheckArgCount(ScriptState* L, int min, int max, int version, int revision);

// Pushes a handle as light userdata, a number as a number; returns 1.
int PushObjectID(ScriptState* L, ObjectID id);
