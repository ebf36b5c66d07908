// The display's side of output selection: saving and restoring what a
// redirected output changes on the display, and ending a selection from
// code below the libraries that make selections.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbDisplay;

// Once per redirection: keeps the print cursor, the margins and the layers
// flag, then sets the cursor to 0, 0 and the margins to 0 and width - 1;
// layers go off unless the target is a BGPic with its layers (kind 1).
void SaveDisplayOutputState(qbDisplay* display, int32_t kind, int32_t width);
// Puts back what the save kept; nothing when nothing is saved.
void RestoreDisplayOutputState(qbDisplay* display);

// Double buffering is on, in software or by the adapter, and drawing goes
// into the double buffer: a selection that suspends it clears both flags
// until it ends.
bool IsDoubleBuffering(const qbDisplay* display);

// Ends whatever selection the display's output has and returns drawing to
// the display (or to its double buffer): through the brush library's
// routine once it is installed, else by resetting the output words.
using EndSelectionHook = int (*)(ScriptState* L, qbDisplay* display, bool noRefresh);
void SetEndSelectionHook(EndSelectionHook hook);
int EndOutputSelection(ScriptState* L, qbDisplay* display, bool noRefresh);
