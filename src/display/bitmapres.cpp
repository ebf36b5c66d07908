// Bitmap resources shared by all displays, released at shutdown after the
// displays (and so every layer) are gone.
#include "display/bitmapres.h"

#include "display/clipregions.h"
#include "display/pointers.h"
#include "display/safeblt.h"

void FreeBitmapResources(ScriptState* L) {
    FreeImageCache();
    FreeAllClipRegions(L);
    FreeAllPointers(L);
    FreeSafeBltScratch();
}
