// The font cache, the font objects and the font folders. A font stays in
// the cache while a style, a font object or the layout of a text object or
// a layer holds it (a qbFontRef); what the fonts the script does not use
// keep is bounded: past the bound the least recently used are dropped when
// nothing holds them, else put to sleep, to wake on their next use.
#include "text/fontcache.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "text/font.h"
#include "text/installedfonts.h"
#include "text/textlib.h"
#include "vm/casefold.h"

namespace {

// What the cache may keep, in all, for the fonts the script does not hold
// (their records, and their engines' glyphs, sizes and faces).
constexpr size_t kIdleFontBytes = size_t{8} << 20;

// A request as the cache tells requests apart: the name without letter
// case, the size, the engine and the "cache" option.
struct CacheKey {
    std::string name;
    int32_t size = 0;
    int32_t engine = 0;
    int32_t cache = 0;
    bool operator==(const CacheKey&) const = default;
};

struct CacheKeyHash {
    size_t operator()(const CacheKey& k) const {
        size_t h = std::hash<std::string>()(k.name);
        for (int32_t v : {k.size, k.engine, k.cache}) h = h * 1000003u ^ std::hash<int32_t>()(v);
        return h;
    }
};

struct qbFontCacheNode {
    CacheKey key;
    uint64_t serial = 0;  // opening order
    FontPtr font;
    // Counted against the bound when last looked at: the record and what
    // its engine keeps; 0 for a font in the sleeping list.
    size_t bytes = 0;
    bool sleeping = false;
    std::list<qbFontCacheNode*>::iterator place;
};

struct FontFolder {
    std::string given;
    std::string full;
};

// The fonts by key and by record. Those awake are listed most recently
// used first, with their bytes counted; those asleep, and those held that
// can't sleep, apart and not counted (what a style, an object or a layer
// holds is the script's): the bound is kept by walking from the least
// recently used end, never the whole cache.
struct CacheState {
    std::unordered_map<CacheKey, std::unique_ptr<qbFontCacheNode>, CacheKeyHash> byKey;
    std::unordered_map<const qbFont*, qbFontCacheNode*> byFont;
    std::list<qbFontCacheNode*> awake;
    std::list<qbFontCacheNode*> sleeping;
    size_t counted = 0;
    size_t sleepingAtSweep = 0;
    uint64_t serial = 0;
    std::vector<qbFont*> changed;
    std::vector<FontFolder> folders;
    qbObjectList fontObjects;
    qbObjectList textObjects;
    // How many font objects hold each font: a font's pin is one lookup,
    // however many objects the script made.
    std::unordered_map<const qbFont*, size_t> objectFonts;
    size_t idleBound = kIdleFontBytes;
};

CacheState& State() {
    static CacheState state;
    return state;
}

void Unpin(const qbFont* font) {
    auto& fonts = State().objectFonts;
    if (auto it = fonts.find(font); it != fonts.end() && --it->second == 0) fonts.erase(it);
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

// Folded as StrCmpNoCase compares.
std::string FoldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(kUpperCaseTable[static_cast<unsigned char>(c)]);
    return folded;
}

// The record, its node and their strings, as a font the cache keeps costs.
size_t RecordBytes(const qbFontCacheNode& n) {
    constexpr size_t kMapEntries = 8 * sizeof(void*);
    return sizeof(qbFont) + sizeof n + n.key.name.capacity() + n.font->openedAs.capacity() + kMapEntries;
}

// Fonts the script holds: the current one and those of its font objects;
// asked is the font being handed out.
bool IsPinned(const qbFont* font, const qbFont* asked) {
    if (font == asked || font == GetTextStyle()->font.get()) return true;
    return State().objectFonts.count(font) != 0;
}

void MoveTo(qbFontCacheNode* n, bool sleeping) {
    CacheState& s = State();
    std::list<qbFontCacheNode*>& from = n->sleeping ? s.sleeping : s.awake;
    std::list<qbFontCacheNode*>& to = sleeping ? s.sleeping : s.awake;
    to.splice(to.begin(), from, n->place);
    n->sleeping = sleeping;
}

// Looks at a font again: an awake one to the front, its bytes counted anew.
void Recount(qbFontCacheNode* n) {
    CacheState& s = State();
    if (!n->sleeping) s.counted -= n->bytes;
    n->bytes = 0;
    if (n->font->asleep) {
        MoveTo(n, true);
        return;
    }
    n->bytes = RecordBytes(*n) + FontEngineBytes(n->font.get());
    MoveTo(n, false);
    s.counted += n->bytes;
}

void Drop(qbFontCacheNode* n) {
    CacheState& s = State();
    if (!n->sleeping) s.counted -= n->bytes;
    (n->sleeping ? s.sleeping : s.awake).erase(n->place);
    s.byFont.erase(n->font.get());
    CacheKey key = std::move(n->key);
    s.byKey.erase(key);
}

// A font no ref holds and the script does not use can go.
bool CanDrop(const qbFontCacheNode& n, const qbFont* asked) {
    const qbFont* f = n.font.get();
    return FontHolders(f) == 0 && !f->vectorFonts && !IsPinned(f, asked);
}

// Fonts held while sleeping are not looked at again until used; those
// whose last ref went since are dropped once as many have been put to
// sleep as were asleep at the last look.
void SweepSleeping(const qbFont* asked) {
    CacheState& s = State();
    if (s.sleeping.size() <= 2 * s.sleepingAtSweep + 64) return;
    for (auto it = s.sleeping.begin(); it != s.sleeping.end();) {
        qbFontCacheNode* n = *it++;
        if (CanDrop(*n, asked)) Drop(n);
    }
    s.sleepingAtSweep = s.sleeping.size();
}

// Keeps what the fonts the script does not hold cost within the bound:
// the least recently used go first, dropped when nothing holds them, else
// put to sleep.
void TrimFonts(const qbFont* asked) {
    CacheState& s = State();
    TakeChangedFonts(&s.changed);
    std::sort(s.changed.begin(), s.changed.end(),
              [](const qbFont* a, const qbFont* b) { return a->lastUse < b->lastUse; });
    for (qbFont* font : s.changed)
        if (auto it = s.byFont.find(font); it != s.byFont.end()) Recount(it->second);
    s.changed.clear();
    SweepSleeping(asked);
    if (s.counted <= s.idleBound) return;
    // What the fonts the script holds keep is theirs, not the bound's.
    std::vector<const qbFont*> pinned{GetTextStyle()->font.get(), asked};
    for (const auto& [font, holders] : s.objectFonts) pinned.push_back(font);
    std::sort(pinned.begin(), pinned.end());
    pinned.erase(std::unique(pinned.begin(), pinned.end()), pinned.end());
    size_t pinnedBytes = 0;
    for (const qbFont* font : pinned)
        if (auto it = s.byFont.find(font); it != s.byFont.end() && !it->second->sleeping)
            pinnedBytes += it->second->bytes;
    // Each font is looked at once: those kept go to the front.
    for (size_t left = s.awake.size(); left > 0 && s.counted > s.idleBound + pinnedBytes; --left) {
        qbFontCacheNode* n = s.awake.back();
        qbFont* font = n->font.get();
        if (std::binary_search(pinned.begin(), pinned.end(), font)) {
            MoveTo(n, false);
        } else if (FontHolders(font) == 0 && !font->vectorFonts) {
            Drop(n);
        } else {
            // Held by a layout: asleep, or apart when it can't sleep.
            PutFontToSleep(font);
            s.counted -= n->bytes;
            n->bytes = 0;
            MoveTo(n, true);
        }
    }
}

int OpenAndCache(const std::string& name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out) {
    CacheState& s = State();
    CacheKey key;
    try {
        key = CacheKey{FoldedName(name), size, engine, cache};
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (auto it = s.byKey.find(key); it != s.byKey.end()) {
        qbFontCacheNode* n = it->second.get();
        qbFont* hit = n->font.get();
        TrimFonts(hit);
        const int err = WakeFont(hit);
        if (err == 0) {
            // A cached font may have been scaled by the last scaled output.
            SetFontScale(hit, 1.0, 1.0);
            hit->lastUse = FontUseClock();
            *out = hit;
            return 0;
        }
        // One that no longer wakes (its file replaced) gives way to the
        // font as it is now; what still holds it keeps it, under no name.
        if (CanDrop(*n, nullptr)) {
            Drop(n);
        } else {
            try {
                CacheKey unnamed = n->key;
                unnamed.name.assign(1, '\n');
                unnamed.name += std::to_string(n->serial);
                auto handle = s.byKey.extract(it);
                handle.key() = unnamed;
                n->key = std::move(unnamed);
                s.byKey.insert(std::move(handle));
            } catch (const std::bad_alloc&) {
                return ERR_MEM;
            }
        }
    }
    qbFont* opened = nullptr;
    if (int err = OpenFontRecord(name.c_str(), size, engine, cache, linked, &opened)) return err;
    FontPtr font(opened);
    try {
        auto node = std::make_unique<qbFontCacheNode>();
        node->key = std::move(key);
        node->serial = ++s.serial;
        // The default font ("topaz" at 8) is never let go: not counted.
        const bool counted = opened->holds != nullptr;
        if (counted) s.byFont.reserve(s.byFont.size() + 1);
        s.sleeping.push_front(node.get());
        node->place = s.sleeping.begin();
        node->sleeping = true;
        qbFontCacheNode* n = node.get();
        auto [slot, added] = s.byKey.try_emplace(n->key, std::move(node));
        if (!added) {
            s.sleeping.erase(n->place);
            return ERR_MEM;
        }
        n->font = std::move(font);
        if (counted) {
            s.byFont.emplace(opened, n);
            Recount(n);
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    TrimFonts(opened);
    *out = opened;
    return 0;
}

std::vector<qbFontCacheNode*> NodesInOpeningOrder() {
    std::vector<qbFontCacheNode*> nodes;
    nodes.reserve(State().byKey.size());
    for (auto& [key, n] : State().byKey) nodes.push_back(n.get());
    std::sort(nodes.begin(), nodes.end(),
              [](const qbFontCacheNode* a, const qbFontCacheNode* b) { return a->serial < b->serial; });
    return nodes;
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
    if (qbObject* o = FindListedObject(State().fontObjects, id)) {
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
    CacheState& s = State();
    try {
        ++s.objectFonts[font];
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (int err = AppendObject(&s.fontObjects, node.get())) {
        Unpin(font);
        return err;
    }
    *out = node.release();
    return 0;
}

bool RemoveFontObject(ScriptState* L, ObjectID id) {
    qbObject* o = FindListedObject(State().fontObjects, id);
    if (!o) return false;
    UnlinkObject(&State().fontObjects, o);
    std::unique_ptr<qbFontObject> owner(static_cast<qbFontObject*>(o));
    Unpin(owner->font.get());
    FreeObjectDataList(L, &owner->data);
    return true;
}

qbObjectList* FontObjectListHead() { return &State().fontObjects; }
qbObjectList* TextObjectListHead() { return &State().textObjects; }

int ConvertFontGlyphBitmaps() {
    for (qbFontCacheNode* n : NodesInOpeningOrder()) {
        qbFont* font = n->font.get();
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
    std::vector<qbFontCacheNode*> nodes = NodesInOpeningOrder();
    for (qbFontCacheNode* n : nodes) FreeFontGlyphCache(n->font.get());
    // The fonts the script does not use let go of their faces and files as
    // well: those nothing holds go, the others sleep.
    for (qbFontCacheNode* n : nodes) {
        qbFont* font = n->font.get();
        if (!font->holds || IsPinned(font, nullptr)) continue;
        if (CanDrop(*n, nullptr))
            Drop(n);
        else
            PutFontToSleep(font);
    }
    TrimFonts(nullptr);
}

size_t IdleFontBytes() {
    size_t bytes = 0;
    for (auto& [key, n] : State().byKey) {
        const qbFont* font = n->font.get();
        if (font->holds && !font->asleep && !IsPinned(font, nullptr)) bytes += RecordBytes(*n) + FontEngineBytes(font);
    }
    return bytes;
}

size_t SetIdleFontBound(size_t bytes) {
    const size_t old = State().idleBound;
    State().idleBound = bytes;
    return old;
}

size_t CachedFontCount() { return State().byKey.size(); }

std::vector<qbFont*> CachedFonts() {
    std::vector<qbFont*> fonts;
    for (qbFontCacheNode* n : NodesInOpeningOrder()) fonts.push_back(n->font.get());
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
    while (qbObject* first = TakeFirstObject(&s.fontObjects)) {
        std::unique_ptr<qbFontObject> owner(static_cast<qbFontObject*>(first));
        FreeObjectDataList(L, &owner->data);
    }
    s.objectFonts.clear();
    s.awake.clear();
    s.sleeping.clear();
    s.byFont.clear();
    s.byKey.clear();
    s.counted = 0;
    s.sleepingAtSweep = 0;
    s.folders.clear();
    ClearFontSearchPaths();
}
