// The dos library's file, directory and virtual-file objects.
#pragma once

struct ScriptState;

void FreeDosObjects(ScriptState* L);
