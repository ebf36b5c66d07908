#include "vector/pathtext.h"

#include "core/errcodes.h"
#include "text/font.h"
#include "vector/engine.h"
#include "vector/path.h"

int ResolvePathTextHandles(uint8_t* commands, qbVectorEngine* engine) {
    if (!commands || !engine) return 0;
    for (uint8_t* p = commands; size_t size = PathCommandSize(p); p += size) {
        if (ReadPathInt(p) != QB_PATH_TEXT) continue;
        uint8_t* slot = p + QB_PATH_CODE_SIZE;
        // A handle no font holds any more (its engine went away) names no
        // face that any engine could use.
        qbFont* font = FindFontByEngineHandle(ReadPathPointer(slot));
        if (!font) return ERR_VFONT;
        void* handle = nullptr;
        if (int err = GetEngineFontHandle(font, engine, &handle)) return err;
        WritePathPointer(slot, handle);
    }
    return 0;
}
