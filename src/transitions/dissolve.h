// Effects that build the new picture from pixels and blocks: DISSOLVE
// (139) shows it pixel by pixel in an order drawn at the start, PIXELZOOM1
// and PIXELZOOM2 (132, 133) through blocks that shrink to single pixels.
#pragma once

struct qbEffectState;

int RenderDissolve(qbEffectState* state, int* done);
void FreeDissolveData(qbEffectState* state, int normalEnd);
int RenderPixelZoom(qbEffectState* state, int* done);
void FreePixelZoomData(qbEffectState* state, int normalEnd);
