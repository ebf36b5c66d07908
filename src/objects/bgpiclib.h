// The "bgpic" command library.
#pragma once

#include "core/argapi.h"
#include "vm/vm.h"

struct qbBGPic;

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

// Gives a BGPic just built under an automatic id the id the script asked
// for (see AdoptObjectID), then the command's result.
int FinishNewBGPic(ScriptState* L, qbBGPic* made, NewObjectID id);
