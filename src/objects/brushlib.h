// The "brush" command library.
#pragma once

#include "vm/vm.h"

// Registers the commands, the constants and the brush list; 0 or an error
// code.
int InitBrushLibrary(ScriptState* L);

int cmdLoadBrush(ScriptState* L);
int cmdCreateBrush(ScriptState* L);
int cmdCopyBrush(ScriptState* L);
int cmdFreeBrush(ScriptState* L);
int cmdConvertToBrush(ScriptState* L);
int cmdGetBrushLink(ScriptState* L);
int cmdCreateShadowBrush(ScriptState* L);
int cmdCreateBorderBrush(ScriptState* L);
int cmdSetAlphaIntensity(ScriptState* L);
int cmdSetMaskMode(ScriptState* L);

// Builds the bitmaps of brushes loaded before the first display opened.
// 0 or the first error.
int LoadPendingBrushes(ScriptState* L);

// A script number as a 32-bit integer, truncated and saturated; infinities
// and NaN fail with ERR_WRONGUSAGE.
int BrushIntArg(ScriptState* L, int idx, int32_t* out);
