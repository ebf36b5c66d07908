// The font cache, the font objects and the font folders. Fonts stay in the
// cache from their first open until the library shuts down, so that a
// style, a text object or a layer may hold a font without counting; what
// their engines keep for them is bounded instead: the fonts the script does
// not hold are put to sleep, least recently used first, once they keep more
// than the bound, and wake on their next use.
#include "text/fontcache.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "text/font.h"
#include "text/installedfonts.h"
#include "text/textlib.h"
#include "vm/casefold.h"

namespace {

// What the engines may keep, in all, for the fonts the script does not
// hold (glyphs, sizes, their own records).
constexpr size_t kIdleFontBytes = size_t{8} << 20;

struct qbFontCacheNode {
    std::string name;
    int32_t size = 0;
    int32_t engine = 0;
    int32_t cache = 0;
    FontPtr font;
};

struct FontFolder {
    std::string given;
    std::string full;
};

struct CacheState {
    std::vector<qbFontCacheNode> nodes;
    std::vector<FontFolder> folders;
    qbObject* fontObjects = nullptr;
    qbObject* textObjects = nullptr;
    size_t idleBound = kIdleFontBytes;
    uint64_t trimmedAt = 0;  // the use clock at the last trim
};

CacheState& State() {
    static CacheState state;
    return state;
}

struct DefaultName {
    const char* name;
    const char* font;
    bool inbuilt;
};

constexpr DefaultName kDefaultNames[] = {
    {":::default_bitmap", "topaz", false},
    {":::default_truetype", "Bitstream Vera Sans", true},
    {":::default_sans", "Bitstream Vera Sans", true},
    {":::default_serif", "Bitstream Vera Serif", true},
    {":::default_mono", "Bitstream Vera Sans Mono", true},
};

bool HasFolderPart(const char* name) { return GetPathFilePart(name) != name; }

qbFont* FindCached(const std::string& name, int32_t size, int32_t engine, int32_t cache) {
    for (qbFontCacheNode& n : State().nodes)
        if (n.size == size && n.engine == engine && n.cache == cache && StrCmpNoCase(n.name.c_str(), name.c_str()) == 0)
            return n.font.get();
    return nullptr;
}

// Fonts the script holds: the current one and those of its font objects.
// A font a vector engine made a font of is never put to sleep either.
std::vector<const qbFont*> HeldFonts() {
    std::vector<const qbFont*> held{GetTextStyle()->font};
    for (qbObject* o = State().fontObjects; o; o = o->next) held.push_back(static_cast<qbFontObject*>(o)->font);
    return held;
}

struct IdleFont {
    uint64_t lastUse;
    size_t bytes;
    qbFont* font;
};

// Puts the least recently used of the fonts the script does not hold to
// sleep until what the others keep is within the bound; asked is the font
// being handed out, held from then on.
void TrimIdleFonts(const qbFont* asked) {
    CacheState& s = State();
    s.trimmedAt = FontUseClock();
    std::vector<IdleFont> idle;
    try {
        std::vector<const qbFont*> held = HeldFonts();
        held.push_back(asked);
        for (qbFontCacheNode& n : s.nodes) {
            qbFont* font = n.font.get();
            if (!font || font->asleep || std::find(held.begin(), held.end(), font) != held.end()) continue;
            if (const size_t bytes = FontEngineBytes(font)) idle.push_back({font->lastUse, bytes, font});
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    size_t total = 0;
    for (const IdleFont& f : idle) total += f.bytes;
    if (total <= s.idleBound) return;
    std::sort(idle.begin(), idle.end(), [](const IdleFont& a, const IdleFont& b) { return a.lastUse > b.lastUse; });
    size_t kept = 0;
    for (const IdleFont& f : idle) {
        if (kept + f.bytes <= s.idleBound || !PutFontToSleep(f.font)) kept += f.bytes;
    }
}

int OpenAndCache(const std::string& name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out) {
    if (qbFont* hit = FindCached(name, size, engine, cache)) {
        // Only fonts used since the last trim can have grown.
        if (FontUseClock() != State().trimmedAt) TrimIdleFonts(hit);
        if (int err = WakeFont(hit)) return err;
        // A cached font may have been scaled by the last scaled output.
        SetFontScale(hit, 1.0, 1.0);
        hit->lastUse = FontUseClock();
        *out = hit;
        return 0;
    }
    TrimIdleFonts(nullptr);
    qbFont* opened = nullptr;
    if (int err = OpenFontRecord(name.c_str(), size, engine, cache, linked, &opened)) return err;
    FontPtr font(opened);
    try {
        State().nodes.push_back(qbFontCacheNode{name, size, engine, cache, nullptr});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    State().nodes.back().font = std::move(font);
    *out = opened;
    return 0;
}

}  // namespace

int OpenFontCached(const char* name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out) {
    *out = nullptr;
    std::string resolved = name;
    bool isDefault = false;
    for (const DefaultName& d : kDefaultNames) {
        if (std::strcmp(name, d.name) != 0) continue;
        resolved = d.font;
        if (d.inbuilt) engine = kFontEngineInbuilt;
        isDefault = true;
        break;
    }
    if (!isDefault && !IsChunkName(name)) {
        if (std::strlen(name) > kMaxFontName) return ERR_WRONGUSAGE;
        if (engine != kFontEngineInbuilt && HasFolderPart(name)) return ERR_FONTPATH;
        if (resolved.size() >= 5 && StrCmpNoCase(resolved.c_str() + resolved.size() - 5, ".font") == 0)
            resolved.resize(resolved.size() - 5);
    }
    const int err = OpenAndCache(resolved, size, engine, cache, linked, out);
    if (err && engine == kFontEngineInbuilt) return OpenAndCache(resolved, size, kFontEngineNative, cache, linked, out);
    return err;
}

int FindFontObject(ObjectID id, qbFontObject** out) {
    for (qbObject* o = State().fontObjects; o; o = o->next) {
        if (o->id != id.number || o->handle != id.handle) continue;
        *out = static_cast<qbFontObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDFONT2;
}

int AddFontObject(int32_t number, bool automatic, qbFont* font, qbFontObject** out) {
    std::unique_ptr<qbFontObject> node;
    try {
        node = std::make_unique<qbFontObject>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    node->type = kObjectTypeFont;
    node->id = automatic ? 0 : number;
    node->handle = automatic ? node.get() : nullptr;
    node->font = font;
    qbObject** tail = &State().fontObjects;
    while (*tail) tail = &(*tail)->next;
    *out = node.get();
    *tail = node.release();
    return 0;
}

bool RemoveFontObject(ScriptState* L, ObjectID id) {
    for (qbObject** link = &State().fontObjects; *link; link = &(*link)->next) {
        qbObject* o = *link;
        if (o->id != id.number || o->handle != id.handle) continue;
        *link = o->next;
        std::unique_ptr<qbFontObject> owner(static_cast<qbFontObject*>(o));
        FreeObjectDataList(L, &owner->data);
        return true;
    }
    return false;
}

qbObject** FontObjectListHead() { return &State().fontObjects; }
qbObject** TextObjectListHead() { return &State().textObjects; }

int ConvertFontGlyphBitmaps() {
    for (qbFontCacheNode& n : State().nodes) {
        qbFont* font = n.font.get();
        if (!font || font->rawPixels.empty()) continue;
        qbBitmap* bitmap = nullptr;
        qbBitmap* mask = nullptr;
        if (int err = CreateBitmapFromARGB(font->rawPixels.data(), static_cast<int32_t>(kFontKeyColour),
                                           font->rawWidth, font->rawHeight, font->rawWidth, false, 0, 0, &bitmap,
                                           &mask, nullptr))
            return err;
        font->glyphBitmap.reset(bitmap);
        font->glyphMask.reset(mask);
        if (!mask) return ERR_ALLOCMASK;
        std::vector<uint32_t>().swap(font->rawPixels);
    }
    return 0;
}

void FreeAllGlyphCaches() {
    for (qbFontCacheNode& n : State().nodes) FreeFontGlyphCache(n.font.get());
}

size_t IdleFontBytes() {
    const std::vector<const qbFont*> held = HeldFonts();
    size_t bytes = 0;
    for (qbFontCacheNode& n : State().nodes)
        if (std::find(held.begin(), held.end(), n.font.get()) == held.end()) bytes += FontEngineBytes(n.font.get());
    return bytes;
}

size_t SetIdleFontBound(size_t bytes) {
    const size_t old = State().idleBound;
    State().idleBound = bytes;
    return old;
}

std::vector<qbFont*> CachedFonts() {
    std::vector<qbFont*> fonts;
    for (qbFontCacheNode& n : State().nodes) fonts.push_back(n.font.get());
    return fonts;
}

int AddFontFolder(const char* path) {
    for (const FontFolder& f : State().folders)
        if (StrCmpNoCase(f.given.c_str(), path) == 0 || StrCmpNoCase(f.full.c_str(), path) == 0) return 0;
    qbDirHandlePtr lock(DirOpen(path, kDirLockRead, nullptr));
    int isDir = 0;
    if (!lock || DirCheck(lock.get(), &isDir) != 0 || !isDir) {
        SetErrorDetail(path);
        return ERR_LOCK2;
    }
    try {
        FontFolder folder{path, GetDirHandlePath(lock.get())};
        AddFontSearchPath(folder.full);
        // The next listing or open by name scans again, this folder too.
        FreeInstalledFonts();
        State().folders.push_back(std::move(folder));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void FreeFontCache(ScriptState* L) {
    CacheState& s = State();
    while (s.fontObjects) {
        std::unique_ptr<qbFontObject> owner(static_cast<qbFontObject*>(s.fontObjects));
        s.fontObjects = owner->next;
        FreeObjectDataList(L, &owner->data);
    }
    s.nodes.clear();
    s.folders.clear();
    ClearFontSearchPaths();
}
