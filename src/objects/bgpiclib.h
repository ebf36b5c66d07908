// The "bgpic" command library.
#pragma once

#include "core/argapi.h"
#include "vm/vm.h"

struct qbBGPic;
struct qbBGPicFill;

// Registers the commands and the BGPic list; 0 or an error code.
int InitBGPicLibrary(ScriptState* L);

int cmdDisplayBGPic(ScriptState* L);
int cmdScaleBGPic(ScriptState* L);
int cmdCreateGradientBGPic(ScriptState* L);
int cmdCreateTexturedBGPic(ScriptState* L);
int cmdBrushToBGPic(ScriptState* L);
int cmdBGPicToBrush(ScriptState* L);
int cmdCreateBGPic(ScriptState* L);
int cmdFreeBGPic(ScriptState* L);
int cmdLoadBGPic(ScriptState* L);
int cmdCopyBGPic(ScriptState* L);

// A BGPic of the size painted by the fill, under an automatic id; with
// regenerate it is made anew from the fill at other sizes. 0 or the
// picture's error (nothing made then).
int MakeFilledBGPic(ScriptState* L, qbBGPicFill& fill, int32_t regenerate, int32_t width, int32_t height,
                    qbBGPic** out);

// Gives a BGPic just built under an automatic id the id the script asked
// for (see AdoptObjectID), then the command's result.
int FinishNewBGPic(ScriptState* L, qbBGPic* made, NewObjectID id);
