// Fonts by name and size: the process-wide cache that shares every opened
// font, the script's font objects of OpenFont, and the folders searched for
// ".font" files.
#pragma once

#include <cstdint>
#include <vector>

#include "core/objects.h"
#include "text/font.h"

constexpr int kObjectTypeText = 8;
constexpr int kObjectTypeFont = 43;

// Longest font name accepted; longer ones are refused, never cut.
constexpr size_t kMaxFontName = 511;

// One OpenFont: the font is the cache's, the object only names it.
struct qbFontObject : qbObject {
    qbFontRef font;
};

// Resolves default names (":::default_sans" ...), refuses names with a folder
// part unless the inbuilt engine is asked for (ERR_FONTPATH), drops ".font"
// and returns the cached font of that name, size, engine and cache value,
// opening it on a miss. A failed inbuilt open is tried once more with the
// native engine. linked: the name is a font linked into the applet.
int OpenFontCached(const char* name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out);

// The first font object with that number and handle; ERR_FINDFONT2 (with the
// number) for a number, ERR_FINDARRAY for a handle.
int FindFontObject(ObjectID id, qbFontObject** out);
// Appends a new font object; id 0 with a null handle asks for an automatic
// id (the record's own address). 0 or ERR_MEM.
int AddFontObject(int32_t number, bool automatic, qbFont* font, qbFontObject** out);
// Unlinks and frees the object with its named data; false when none has
// that id.
bool RemoveFontObject(ScriptState* L, ObjectID id);

struct qbObjectList;
qbObjectList* FontObjectListHead();
// Text objects join this list with their own code; it is registered with
// the font objects when the library opens.
qbObjectList* TextObjectListHead();

// Fonts a colour bitmap font loaded while no display existed keep raw
// pixels; once one opens they become glyph bitmap and mask (key $EEE6D2).
int ConvertFontGlyphBitmaps();
// Frees the glyph caches of every cached font; the fonts the script does
// not use (neither current nor a font object's) let go of their faces and
// files too: dropped when nothing holds them, else put to sleep.
void FreeAllGlyphCaches();
// What the cache keeps for the awake fonts the script does not use (the
// current font and those of font objects it does): their records and what
// their engines keep. Held within a bound, 8 MB unless set otherwise,
// checked whenever a font is asked for.
size_t IdleFontBytes();
// Sets the bound, in bytes; answers the one before.
size_t SetIdleFontBound(size_t bytes);
// How many fonts the cache keeps.
size_t CachedFontCount();
// Every cached font, in opening order.
std::vector<qbFont*> CachedFonts();

// Adds a folder to search for ".font" files; one already listed (in any
// letter case) is ignored. ERR_LOCK2 with the path when it is no folder.
int AddFontFolder(const char* path);

// Font objects, the cache (closing every font) and the folders.
void FreeFontCache(ScriptState* L);
