// Files and fonts that the compiler linked into the applet, reached by their
// own names.
#pragma once

#include "vm/vm.h"

// The chunk name of the linked file that name stands for, or name itself when
// none matches. With fontFlag, "X.font" and "X" look among linked fonts
// ("::font:X") while "X.ttf" and "X.otf" look among ordinary files; names
// compare without letter case and with '\' taken as '/'. *isFont (may be
// null) tells whether a font matched. The result lives until the thread's
// next call.
const char* ResolveLinkedFile(ScriptState* L, const char* name, int fontFlag, int* isFont);
// The same for the string argument at index (raises when it isn't one).
const char* ResolveLinkedFileArg(ScriptState* L, int index, int fontFlag, int* isFont);
