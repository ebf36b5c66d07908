// The "graphics" command library: colours, pens, refresh blocks, pointer
// visibility, the frame-rate limit, clip-region choice and async drawing.
#pragma once

#include "vm/vm.h"

struct TimeValue;

// Registers the commands and constants and the library's object lists, and
// makes the spare output record; 0 or an error code.
int InitGraphicsLibrary(ScriptState* L);

// The tables as registered, each ending in a null row.
const ScriptCommand* GraphicsCommands();
const ScriptConstant* GraphicsConstants();

// DumpVideoTime counts from here while a video dump runs (monotonic time).
void SetVideoDumpStart(const TimeValue& start);

int cmdRed(ScriptState* L);
int cmdGreen(ScriptState* L);
int cmdBlue(ScriptState* L);
int cmdRGB(ScriptState* L);
int cmdARGB(ScriptState* L);
int cmdMixRGB(ScriptState* L);
int cmdGetRealColor(ScriptState* L);
int cmdGetRandomColor(ScriptState* L);
int cmdGetPen(ScriptState* L);
int cmdIntersection(ScriptState* L);

int cmdHidePointer(ScriptState* L);
int cmdShowPointer(ScriptState* L);
int cmdSetFPSLimit(ScriptState* L);
int cmdGetFPSLimit(ScriptState* L);
int cmdIsPicture(ScriptState* L);
int cmdDumpVideoTime(ScriptState* L);
int cmdBeginRefresh(ScriptState* L);
int cmdEndRefresh(ScriptState* L);
int cmdSetClipRegion(ScriptState* L);
int cmdAsyncDrawFrame(ScriptState* L);
int cmdCancelAsyncDraw(ScriptState* L);
int cmdFinishAsyncDraw(ScriptState* L);
