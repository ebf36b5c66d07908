// Decoding a stopped stream from where it stands to its end at once, onto
// the current display and optionally into files.
#pragma once

#include <cstdint>

#include "media/videostream.h"

struct ScriptState;

// x, y: the picture's place on the display (resolved); name: the base of
// name0.ext, name1.ext, ... and name.wav, or null for none; format 0 BMP,
// 1 PNG, 2 JPEG, 3 GIF, 4 ILBM. 0, ERR_WRONGUSAGE (playing, another
// format), ERR_WRITEFILE for the WAVE file before anything is decoded,
// ERR_MEM, ERR_BITMAP, or the event pump's error.
int DumpVideoStream(ScriptState* L, qbOwnVideoStream* stream, int32_t x, int32_t y, const char* name, int32_t format);
