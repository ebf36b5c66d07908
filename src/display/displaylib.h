// The "display" command library.
#pragma once

#include "vm/vm.h"

// Registers the commands, the constants and the display and menu lists;
// 0 or an error code.
int InitDisplayLibrary(ScriptState* L);

struct qbDisplay;

// Applies the display option table at idx to an existing display (the body
// of SetDisplayAttributes; fromCommand refreshes the window afterwards).
int ApplyDisplayAttributes(ScriptState* L, int idx, qbDisplay* display, bool fromCommand);

int cmdCreateDisplay(ScriptState* L);
int cmdFreeDisplay(ScriptState* L);
int cmdOpenDisplay(ScriptState* L);
int cmdCloseDisplay(ScriptState* L);
int cmdSelectDisplay(ScriptState* L);
int cmdActivateDisplay(ScriptState* L);
int cmdShowDisplay(ScriptState* L);
int cmdHideDisplay(ScriptState* L);
int cmdMoveDisplay(ScriptState* L);
int cmdChangeDisplaySize(ScriptState* L);
int cmdSetTitle(ScriptState* L);
int cmdSetDisplayAttributes(ScriptState* L);
int cmdChangeDisplayMode(ScriptState* L);
int cmdGetDisplayModes(ScriptState* L);
int cmdGetMonitors(ScriptState* L);
