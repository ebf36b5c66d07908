// The application icon pictures an applet names.
#pragma once

struct ScriptState;

// Loads the icon slots that have a source; 0 or an error code.
int LoadIconImages(int verbose);
void FreeIconPaths();
