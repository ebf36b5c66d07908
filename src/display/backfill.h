// The picture behind a full-screen display: built from the display's
// backfill options by the bgpic and brush commands, shown by a display of
// its own, and freed with the display's full screen.
#pragma once

#include <cstdint>
#include <functional>

#include "core/argapi.h"
#include "core/preproc.h"

struct ScriptState;
struct qbDisplay;

// Calls the player's command `name` (its handler from the registered
// command tables, never what the script keeps under the name; through the
// VM's call, so the tracer and the plugins' command hooks see it) with the
// values the push function leaves on the stack (it returns their count), in
// protected mode: a raise inside the command comes back as its code. A
// command no table has is ERR_FUNCDECLA with "name()" as detail. *made (may
// be null) gets the id the command returned: a handle for an automatic id.
int CallBackfillCommand(ScriptState* L, const char* name, const std::function<int(ScriptState*)>& push,
                        ObjectID* made);

// Makes the backfill brush (a picture or texture) and BGPic of the display
// at its monitor's size; *titleBarOffset gets the height kept free for the
// menu bar (0 unless the backfill keeps the title bar). The objects are
// recorded in the display as they are made, so a failure leaves them to
// FreeBackfillObjects.
int BuildBackfill(ScriptState* L, qbDisplay* display, const qbBackfillOptions& backfill, int32_t* titleBarOffset);

// BuildBackfill, then the backfill display showing the BGPic, created
// through the CreateDisplay command and linked both ways.
int MakeBackfillDisplay(ScriptState* L, qbDisplay* display, const qbBackfillOptions& backfill);

// Frees the display's backfill display, BGPic and brush (each only when
// present) through FreeDisplay, FreeBGPic and FreeBrush, and clears them.
// Without a script state the display and BGPic are freed directly.
void FreeBackfillObjects(ScriptState* L, qbDisplay* display);
bool HasBackfillObjects(const qbDisplay* display);

// The record a display opens with: none with an adapter, in desktop mode,
// with kDisplayNoBackfill or in a window; the display's own; or, for a full
// screen (or fake one) without a type, black with the title bar hidden
// unless the display keeps its border.
qbBackfillOptions EffectiveBackfill(const qbDisplay* display, bool fullScreen);
