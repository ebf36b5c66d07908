// Drawing paths from scripts: DrawPath, the draw library's shapes routed
// through temporary paths while ForcePathUse is on, and the switch itself.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "draw/pathroute.h"

struct ScriptState;

// The path drawn at x, y in colour with the line style and draw state in
// force and the option table at optArg (0: none). The path lookup's or the
// renderer's error. A layer made of it names the path unless temporary.
// Without an option table, rotate turns it by that many degrees.
int DrawPathInternal(ScriptState* L, ObjectID id, int32_t x, int32_t y, uint32_t colour, int optArg,
                     bool temporary = false, double rotate = 0);
// A shape of the draw library built as a temporary path and drawn.
int RenderShapeAsPath(ScriptState* L, const qbShapePathCall& call);

int cmdDrawPath(ScriptState* L);
int cmdForcePathUse(ScriptState* L);
