// Text and fonts: no font engine exists yet.
#include "text/text.h"

int InitDefaultFont() { return 0; }

void FreeTextLibrary(ScriptState*) {}
