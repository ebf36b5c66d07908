// Double buffering: drawing goes into a buffer of the picture's size and
// Flip shows it at once, whole or by the rectangles that changed; an
// adapter that double-buffers by itself takes the buffers and the flip.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;
struct qbDisplay;

// Refusals in this order: a brush or anim selected (ERR_SELECTBRUSH,
// ERR_SELECTANIM), already double buffering (ERR_ENDDOUBLEBUFFER), mask,
// alpha channel or BGPic selected, layers on or layers on the picture
// (ERR_LAYERSOFF), BeginRefresh (ERR_BEGINREFRESH), sprites, a transparent
// display (ERR_DBTRANSWIN), videos; with hardware and an adapter that
// double-buffers: satellites, a closed display, the adapter's answer. Then
// ERR_BITMAP or ERR_MEM. The first Flip shows the whole (cleared) buffer.
int BeginDoubleBufferCore(ScriptState* L, qbDisplay* display, bool hardware, bool pictureHasLayers);
// ERR_NODOUBLEBUFFER (or the selection's code while one suspends double
// buffering), else the adapter's or the vertical-blank wait's answer.
int FlipDoubleBuffer(ScriptState* L, qbDisplay* display, bool vsync);
// Ends a selection that suspended double buffering first; then
// ERR_NODOUBLEBUFFER, or the drawn frame becomes the display's picture.
int EndDoubleBufferCore(ScriptState* L, qbDisplay* display);
// The shown buffer at a new shown size, cleared (and shown unless noShow);
// nothing while the adapter double-buffers. 0 or ERR_MEM.
int ResizeDoubleBuffer(ScriptState* L, qbDisplay* display, int32_t width, int32_t height, bool noShow);
// Shows the shown buffer in the window: the listed rectangles, or all of it
// when whole is set or the list stands for the whole display.
void PresentDoubleBuffer(ScriptState* L, qbDisplay* display, bool whole);

// A selection takes the output from the double buffer until it ends.
void SuspendDoubleBuffer(qbDisplay* display);
void ResumeDoubleBuffer(qbDisplay* display);
