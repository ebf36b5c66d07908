// Text commands in a path stream hold the vector-font handle of the engine
// that was active when the text was added; an engine only understands its
// own handles, so a stream is re-pointed at the drawing engine's handles
// before it is measured or drawn.
#pragma once

#include <cstdint>

struct qbVectorEngine;

// Replaces the font handle of every text command in the stream by the same
// font's handle for `engine`. 0, or the handle lookup's error.
int ResolvePathTextHandles(uint8_t* commands, qbVectorEngine* engine);
