// The graphics library's object commands: clip regions, pointer images and
// snapshots.
#pragma once

#include "vm/vm.h"

// Lets the clip-region list ask the layers whether they still clip with a
// region; InitGraphicsLibrary installs it.
void InstallClipRegionHooks();

int cmdCreateClipRegion(ScriptState* L);
int cmdFreeClipRegion(ScriptState* L);
int cmdSaveSnapshot(ScriptState* L);
int cmdCreatePointer(ScriptState* L);
int cmdSetPointer(ScriptState* L);
int cmdMovePointer(ScriptState* L);
int cmdFreePointer(ScriptState* L);
