// Hardware brushes: brushes whose pixels the display adapter keeps for one
// display. They follow that display: saved as ARGB snapshots while it is
// closed, rebuilt when it opens, freed with it.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBrush;
struct qbDisplay;

// Whether a brush asked to be hardware (the "hardware" option) can be one:
// only when the adapter grants hardware bitmaps and no video dump runs.
// *hardware is cleared when not; else *display gets the display they are bound to (displayId, 0 the
// current one; null when the adapter binds them to none). 0 or the display
// lookup's error.
int ResolveHardwareBrush(bool* hardware, int32_t displayId, qbDisplay** display);
// Records what a brush made with the hardware request became: the hardware
// fields stay only when its bitmap is an adapter bitmap.
void SetBrushHardware(qbBrush* brush, bool hardware, qbDisplay* display);

// Before the display closes: every hardware brush of it keeps its pixels
// (with the mask or alpha as ARGB alpha) in its snapshot and loses its
// bitmap and planes. A brush whose pixels cannot be read is freed.
void SaveHardwareBrushes(ScriptState* L, qbDisplay* display);
// When the display opens again: each snapshot becomes a bitmap again, with
// a mask or an alpha plane as the brush had; a brush whose bitmap is no
// adapter bitmap now loses its hardware fields. 0 or the first error (the
// brushes not yet rebuilt keep their snapshots).
int RestoreHardwareBrushes(ScriptState* L, qbDisplay* display);
// Frees every hardware brush of a display that goes away.
void FreeDisplayBrushes(ScriptState* L, qbDisplay* display);
