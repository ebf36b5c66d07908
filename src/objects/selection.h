// Output selection: drawing redirected into a brush's or a BGPic's pixels,
// mask or alpha channel, or into a BGPic together with its layers, until
// EndSelect returns it to the display (or to its double buffer).
#pragma once

#include <cstdint>

#include "core/objects.h"

struct ScriptState;
struct qbDisplay;

enum : int32_t { kSelModeNormal = 0, kSelModeCombo = 1, kSelModeLayers = 2 };

// Selects the object (type 1 BGPic, 3 brush, 4 anim by its frame, 22 layer
// by its position in the current BGPic) as the current display's
// output of the given kind (3 pixels, 28 mask, 30 alpha channel). A layer's
// picture becomes its own first. The same selection again does nothing; an
// earlier selection ends first. Combo mode also writes the object's mask
// and alpha channel, with combo as the alpha mode of the blits.
int SelectOutputTarget(ScriptState* L, int32_t objectType, ObjectID id, int32_t kind, int32_t frame, int32_t mode,
                       int32_t combo);
// Before the first drawing into a selected target: the object is detached
// from layers that show it, and a selected mask or alpha channel that the
// object lacks is made (fully visible, opaque) while the other plane goes.
int PrepareOutputTarget(ScriptState* L);
// SelectBGPic in layers mode: id null selects the display's own BGPic.
// ERR_NOLAYERS, ERR_SELECTBGPIC (shown by a display), ERR_MEM.
int SelectBGPicLayers(ScriptState* L, const ObjectID* id);
// Ends the display's selection: a BGPic drawn into gets its base and
// current pictures from the initial one again, layers held back are shown,
// the cursor, margins and layers flag come back, and a suspended double
// buffer resumes. Nothing while the output is the display or its double
// buffer.
int EndSelectCore(ScriptState* L, qbDisplay* display, bool noRefresh);
// Drawing the selected brush ends its selection first.
int EndSelectionOfBrush(ScriptState* L, ObjectID id);
// The same for an anim: the frame index (0-based) drawn into, or any
// frame with -1.
int EndSelectionOfAnim(ScriptState* L, ObjectID id, int32_t frame);
