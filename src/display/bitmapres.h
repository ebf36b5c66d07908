// Bitmap resources shared by all displays: image cache, clip regions, pointers.
#pragma once

struct ScriptState;

void FreeBitmapResources(ScriptState* L);
void FreeImageCache();
