// Bitmap resources: nothing is cached or allocated yet.
#include "display/bitmapres.h"

void FreeBitmapResources(ScriptState*) {}

void FreeImageCache() {}
