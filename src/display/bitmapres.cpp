// Bitmap resources: nothing beyond the image cache (imagecache.cpp) is kept
// yet.
#include "display/bitmapres.h"

void FreeBitmapResources(ScriptState*) {}
