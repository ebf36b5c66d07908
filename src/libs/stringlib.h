// The string library: its command table and the commands built so far.
#pragma once

#include "vm/vm.h"

// Opens the library into the table on the stack top; 0 or an error code.
int InitStringLibrary(ScriptState* L);

int cmdPatternFindStr(ScriptState* L);
int cmdPatternReplaceStr(ScriptState* L);
int cmdPatternFindStrDirect(ScriptState* L);
int cmdPatternFindStrShort(ScriptState* L);
int cmdEval(ScriptState* L);
