// Where a display opens: the mode the user picks when the display asks for
// one, and the window placement kept in the applet's preferences file for
// displays that remember their position.
#pragma once

struct ScriptState;
struct qbDisplay;

// Replaces an asking mode (DISPMODE_ASK, DISPMODE_MODEREQUESTER) by the
// user's choice: full screen, windowed, or full screen in a listed mode
// (which also becomes the screen size). Other modes are left alone.
// ERR_USERABORT when the user cancels; a requester's own error as it is.
int ChooseDisplayMode(ScriptState* L, qbDisplay* display);

// The preferences file is read and written by the library that owns it;
// read pushes its table (a new one when there is no file), write stores the
// table at idx. Both return 0 or an error code.
struct qbPlacementStore {
    int (*read)(ScriptState* L) = nullptr;
    int (*write)(ScriptState* L, int idx) = nullptr;
};
void SetPlacementStore(const qbPlacementStore& store);

// Stores the placement of a closing display that remembers its position and
// has a number: "__placement"[id] of the preferences table. A placement that
// cannot be stored (no identifier, no preferences folder, a write error)
// must not stop the close, so nothing is reported.
void SaveDisplayPlacement(ScriptState* L, const qbDisplay* display, bool wasFullScreen);
