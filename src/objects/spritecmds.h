// The "sprite" command library.
#pragma once

#include "vm/vm.h"

// Registers the commands and the sprite list; 0 or an error code.
int InitSpriteLibrary(ScriptState* L);

int cmdCreateSprite(ScriptState* L);
int cmdDisplaySprite(ScriptState* L);
int cmdRemoveSprite(ScriptState* L);
int cmdFreeSprite(ScriptState* L);
int cmdLoadSprite(ScriptState* L);
int cmdScaleSprite(ScriptState* L);
int cmdCopySprite(ScriptState* L);
int cmdFlipSprite(ScriptState* L);
int cmdRemoveSprites(ScriptState* L);

// The checks of every command that shows sprites: the output is the
// display, and the display and its BGPic use no layers (ERR_LAYERSOFF).
int CheckSpriteOutput(ScriptState* L);
