// The script's truth values are the numbers 1 and 0: True and False compile
// to them, and comparisons make them. Commands read a flag argument, an
// option field or a callback's answer with the script's own rule, so that
// False given as 0 is false, and give their True/False results as numbers,
// so that a script may compare them with True.
#pragma once

#include "vm/vm.h"

// False for Nil (or no value), the number 0, the empty string and a VM
// boolean false; anything else is true, as in the script's If.
bool ScriptTruth(ScriptState* L, int idx);

// The field key of the table at idx (through its "__index" chain) read as
// above; fallback when the field is absent or Nil.
bool FieldTruth(ScriptState* L, int idx, const char* key, bool fallback);

// Pushes 1 or 0; returns 1, the result count.
int PushTruth(ScriptState* L, bool value);
