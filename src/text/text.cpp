// The text library at start-up and shutdown: the default font becomes the
// current one, and at the end every text object and font goes and the
// engines stop.
#include "text/text.h"

#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlib.h"
#include "text/textobjects.h"

int InitDefaultFont() {
    qbFont* font = nullptr;
    if (int err = GetDefaultFont(&font)) return err;
    GetTextStyle()->font = font;
    return 0;
}

void FreeTextLibrary(ScriptState* L) {
    FreeAllTextObjects(L);
    GetTextStyle()->font = nullptr;
    FreeFontCache(L);
    ShutdownFontEngines();
}
