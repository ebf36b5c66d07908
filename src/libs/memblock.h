// The memblock library's memory blocks.
#pragma once

struct ScriptState;

void FreeAllMemblocks(ScriptState* L);
