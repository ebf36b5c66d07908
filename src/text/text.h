// The text library as start-up and shutdown see it: the default font and freeing all text objects and fonts.
#pragma once

struct ScriptState;

// Makes the built-in bitmap font current; 0 or an error code.
int InitDefaultFont();
void FreeTextLibrary(ScriptState* L);
