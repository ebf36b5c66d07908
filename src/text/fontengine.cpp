// The font engine layer: opening a font with the engine its name and the
// caller's choice allow, dispatch to the serving engine, and the default
// font that lives from the first open until the text library shuts down.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "platform/platform.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/inbuiltfont.h"
#include "text/nativetextsink.h"

namespace {

// Flags word in front of a font linked into the applet.
constexpr uint32_t kLinkedNative = 1u << 2;
constexpr uint32_t kLinkedSkipBlock = 1u << 4;

struct EngineState {
    qbFont* defaultFont = nullptr;
    bool started = false;
    const qbInbuiltFontEngine* inbuilt = nullptr;
    std::vector<std::string> fontPaths;
    uint64_t useClock = 0;
    std::vector<qbFont*> changed;
};

EngineState& State() {
    static EngineState state;
    return state;
}

bool IsBitmapKind(const qbFont* font) {
    return font->engine == kFontKindBitmap || font->engine == kFontKindColourBitmap;
}

bool EndsWithFont(const std::string& name) {
    return name.size() >= 5 && StrCmpNoCase(name.c_str() + name.size() - 5, ".font") == 0;
}

bool FileOpens(const std::string& name) {
    qbFilePtr file(FileOpen(name.c_str(), kFileModeRead, nullptr));
    return file != nullptr;
}

// Lengths beyond an int stay beyond what the native engine takes.
int ClampLength(size_t length) { return static_cast<int>(std::min<size_t>(length, INT32_MAX)); }

int OpenFailed(const char* name, int32_t size) {
    std::snprintf(GetErrorDetailBuffer(), kErrorDetailSize, "Cannot open font %s with size %ld!", name,
                  static_cast<long>(size));
    return ERR_OPENFONT;
}

// Which engines may open a name, and the name they open: a linked font's
// chunk starts with a flags word that says which engine it is for, and the
// font itself follows it (after a skipped block for some native fonts).
struct OpenPlan {
    std::string name;
    bool bitmap = true;
    bool native = true;
};

int PlanLinkedFont(const char* name, OpenPlan* plan) {
    qbChunkName chunk;
    if (!ParseChunkName(name, &chunk) || chunk.stream) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    qbFilePtr file(FileOpen(name, kFileModeRead, nullptr));
    if (!file) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    uint8_t word[4];
    if (chunk.size < 4 || FileRead(file.get(), word, 4) != 4) return ERR_READ;
    const uint32_t flags = static_cast<uint32_t>(word[0]) << 24 | word[1] << 16 | word[2] << 8 | word[3];
    uint64_t skip = 4;
    if (flags & kLinkedNative) {
        plan->bitmap = false;
        if (flags & kLinkedSkipBlock) {
            if (chunk.size < 8 || FileRead(file.get(), word, 4) != 4) return ERR_READ;
            const uint64_t n = static_cast<uint32_t>(word[0]) << 24 | word[1] << 16 | word[2] << 8 | word[3];
            if (n + 8 > chunk.size) return ERR_READ;
            skip = n + 8;
        }
    } else {
        plan->native = false;
    }
    plan->name = MakeChunkName(chunk.fileName.c_str(), chunk.offset + skip, chunk.size - skip, 0,
                               chunk.containerPath.c_str());
    return 0;
}

// The native engine's record of a font it serves, its scale brought up to
// the font's (the engine applies the scale per operation).
qbNativeFont* NativeOf(qbFont* font) {
    auto* native = static_cast<qbNativeFont*>(font->engineData);
    if (native) {
        native->xScale = font->xScale;
        native->yScale = font->yScale;
    }
    return native;
}

std::unique_ptr<qbNativeFont> OpenNativeRecord(const char* name, int32_t size) {
    std::unique_ptr<qbNativeFont> native;
    try {
        native = std::make_unique<qbNativeFont>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (OpenNativeFont(name, size, native.get()) == 0) return nullptr;
    return native;
}

bool OpenNative(const char* name, int32_t size, qbFont* font) {
    std::unique_ptr<qbNativeFont> native = OpenNativeRecord(name, size);
    if (!native) return false;
    std::snprintf(font->name, sizeof font->name, "%s", native->name.c_str());
    font->engine = kFontKindNative;
    font->size = size;
    font->height = font->baseHeight = native->height;
    font->baseline = font->baseBaseline = native->ascent;
    font->scalable = font->antialiasCapable = 1;
    font->engineData = native.release();
    return true;
}

// What the font's engine keeps may change: the font cache looks at it again.
// The default font, which the cache never lets go, is not listed.
void NoteChanged(qbFont* font) {
    if (font->changed || !font->holds) return;
    try {
        State().changed.push_back(font);
    } catch (const std::bad_alloc&) {
        return;
    }
    font->changed = true;
}

// A font about to be used: stamped with the use clock and, asleep, opened
// again. 0 or ERR_OPENFONT.
int Use(qbFont* font) {
    font->lastUse = ++State().useClock;
    NoteChanged(font);
    return font->asleep ? WakeFont(font) : 0;
}

// The file the engine read the font from.
qbFileStamp EngineStampOf(const qbFont* font) {
    if (!font->engineData) return {};
    if (font->engine == kFontKindNative) return static_cast<const qbNativeFont*>(font->engineData)->stamp;
    if (font->engine == kFontKindInbuilt) return static_cast<const qbInbuiltFontData*>(font->engineData)->stamp;
    return {};
}

int StartEngines() {
    EngineState& s = State();
    InstallNativeTextSink();
    if (NativeFontEngineAvailable())
        if (int err = NativeFontNoOp()) return err;
    if (s.inbuilt && s.inbuilt->start)
        if (int err = s.inbuilt->start()) return err;
    return 0;
}

}  // namespace

void SetInbuiltFontEngine(const qbInbuiltFontEngine* engine) { State().inbuilt = engine; }

int GetDefaultFont(qbFont** out) {
    EngineState& s = State();
    if (!s.defaultFont)
        if (int err = CreateDefaultFont(&s.defaultFont)) return err;
    if (!s.started) {
        if (int err = StartEngines()) return err;
        s.started = true;
    }
    *out = s.defaultFont;
    return 0;
}

void ShutdownFontEngines() {
    EngineState& s = State();
    s.changed.clear();
    FreeDefaultFont(s.defaultFont);
    s.defaultFont = nullptr;
    if (s.started) {
        if (NativeFontEngineAvailable()) NativeFontNoOp();
        if (s.inbuilt && s.inbuilt->shutdown) s.inbuilt->shutdown();
    }
    s.started = false;
}

int OpenFontRecord(const char* name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out) {
    *out = nullptr;
    qbFont* defaultFont = nullptr;
    if (int err = GetDefaultFont(&defaultFont)) return err;
    OpenPlan plan;
    plan.name = name;
    if (linked && IsChunkName(name))
        if (int err = PlanLinkedFont(name, &plan)) return err;
    std::unique_ptr<qbFont> font;
    try {
        font = std::make_unique<qbFont>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    bool opened = false;
    if (engine == kFontEngineInbuilt) {
        const qbInbuiltFontEngine* inbuilt = State().inbuilt;
        opened = inbuilt && inbuilt->open && inbuilt->open(plan.name.c_str(), size, cache, font.get());
    } else if (engine == kFontEngineNative) {
        if (StrCmpNoCase(plan.name.c_str(), "topaz") == 0 && size == 8) {
            *out = defaultFont;
            return 0;
        }
        if (plan.bitmap) {
            std::string file = plan.name;
            if (IsChunkName(plan.name.c_str()) || FindBitmapFontFile(plan.name.c_str(), &file))
                opened = LoadBitmapFont(file.c_str(), size, font.get(), nullptr) == 1;
        }
        if (!opened && plan.native) opened = OpenNative(plan.name.c_str(), size, font.get());
    }
    if (!opened) return OpenFailed(name, size);
    try {
        font->openedAs = plan.name;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    font->openedCache = cache;
    font->openedFrom = EngineStampOf(font.get());
    try {
        font->holds = std::make_shared<char>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    *out = font.release();
    return 0;
}

void CloseFontRecord(qbFont* font) {
    if (!font || font == State().defaultFont) return;
    std::unique_ptr<qbFont> owner(font);
    if (font->changed) {
        std::vector<qbFont*>& changed = State().changed;
        changed.erase(std::remove(changed.begin(), changed.end(), font), changed.end());
    }
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (IsBitmapKind(font) && !font->nativeBitmap)
        CloseBitmapFont(font);
    else if (font->engine == kFontKindNative) {
        std::unique_ptr<qbNativeFont> native(static_cast<qbNativeFont*>(font->engineData));
        if (native) CloseNativeFont(native.get());
        font->engineData = nullptr;
    }
    else if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->close)
        inbuilt->close(font);
}

int MeasureFontText(qbFont* font, const char* text, size_t length, uint32_t style, int encoding,
                    qbTextExtents* out) {
    if (!font || !out) return 0;
    if (int err = Use(font)) return err;
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (IsBitmapKind(font) && !font->nativeBitmap) return MeasureBitmapText(font, text, length, out);
    if (font->engine == kFontKindNative)
        return MeasureNativeText(NativeOf(font), text, ClampLength(length), style, encoding == 1 ? 1 : 0, out);
    if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->measure)
        return inbuilt->measure(font, text, length, style, encoding, out);
    return 0;
}

int RenderFontText(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                   size_t length, uint32_t style, int encoding, const qbClipRect& clip, int64_t pen) {
    if (!font && GetDefaultFont(&font) != 0) return 0;
    if (!target) return 0;
    if (int err = Use(font)) return err;
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (IsBitmapKind(font) && !font->nativeBitmap)
        return RenderBitmapText(font, target, second, x, y, text, length, clip, pen);
    if (font->engine == kFontKindNative) {
        const bool colour = target->kind == kBitmapKindColour;
        if (colour == (pen == kFontPenMask)) return 0;
        const qbNativeTextClip area{clip.x, clip.y, clip.width, clip.height};
        return DrawNativeText(NativeOf(font), colour ? target : nullptr, colour ? nullptr : target, x, y, text,
                              ClampLength(length), style, encoding == 1 ? 1 : 0, &area,
                              colour ? (pen & 0xFFFFFF) : -1);
    }
    if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->render)
        return inbuilt->render(font, target, second, x, y, text, length, style, encoding, clip, pen);
    return 0;
}

int RenderFontTextMeasured(qbFont* font, qbBitmap* target, int32_t x, int32_t y, const char* text, size_t length,
                           uint32_t style, int encoding, const qbClipRect& clip, int64_t pen, qbTextExtents* out) {
    if (!font && GetDefaultFont(&font) != 0) return 0;
    if (int err = Use(font)) return err;
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->renderMeasured)
        return inbuilt->renderMeasured(font, target, x, y, text, length, style, encoding, clip, pen, out);
    if (int err = MeasureFontText(font, text, length, style, encoding, out)) return err;
    return RenderFontText(font, target, nullptr, x, y, text, length, style, encoding, clip, pen);
}

int32_t GetFontKerning(qbFont* font, const char* pair, size_t length, uint32_t style, int encoding) {
    if (!font || Use(font) != 0) return 0;
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->kerning)
        return inbuilt->kerning(font, pair, length, style, encoding);
    // The bitmap engine and the native one both answer 0.
    return BitmapFontKerning();
}

void SetFontScale(qbFont* font, double xScale, double yScale) {
    if (!font || !font->scalable || (font->xScale == xScale && font->yScale == yScale)) return;
    font->xScale = xScale;
    font->yScale = yScale;
    font->height = static_cast<int32_t>(std::ceil(font->baseHeight * yScale));
    font->baseline = static_cast<int32_t>(std::ceil(font->baseBaseline * yScale));
    // The native engine applies the scale per operation; a sleeping font
    // takes it when it wakes.
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindInbuilt && !font->asleep && inbuilt && inbuilt->scale) inbuilt->scale(font);
    NoteChanged(font);
}

void FreeFontGlyphCache(qbFont* font) {
    if (!font || font->asleep) return;
    NoteChanged(font);
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->freeGlyphCache) inbuilt->freeGlyphCache(font);
    if (font->engine == kFontKindNative && font->engineData)
        FreeNativeGlyphCache(static_cast<qbNativeFont*>(font->engineData));
}

bool PutFontToSleep(qbFont* font) {
    EngineState& s = State();
    if (!font || font->asleep || font == s.defaultFont || font->vectorFonts || !font->engineData) return false;
    if (font->engine == kFontKindNative) {
        std::unique_ptr<qbNativeFont> native(static_cast<qbNativeFont*>(font->engineData));
        CloseNativeFont(native.get());
    } else if (font->engine == kFontKindInbuilt && s.inbuilt && s.inbuilt->close && s.inbuilt->open) {
        s.inbuilt->close(font);
    } else {
        return false;
    }
    font->engineData = nullptr;
    font->asleep = true;
    NoteChanged(font);
    return true;
}

namespace {

// Closes what a wake opened again.
void CloseWoken(qbFont* font) {
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindNative) {
        std::unique_ptr<qbNativeFont> native(static_cast<qbNativeFont*>(font->engineData));
        CloseNativeFont(native.get());
    } else if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->close) {
        inbuilt->close(font);
    }
    font->engineData = nullptr;
}

}  // namespace

int WakeFont(qbFont* font) {
    if (!font || !font->asleep) return 0;
    const qbInbuiltFontEngine* inbuilt = State().inbuilt;
    if (font->engine == kFontKindNative) {
        std::unique_ptr<qbNativeFont> native = OpenNativeRecord(font->openedAs.c_str(), font->size);
        if (!native) return OpenFailed(font->openedAs.c_str(), font->size);
        font->engineData = native.release();
    } else if (font->engine == kFontKindInbuilt && inbuilt && inbuilt->open) {
        // The open sets the name and the unscaled metrics again; the
        // scaled ones stay as the font layer made them.
        const int32_t height = font->height, baseline = font->baseline;
        if (!inbuilt->open(font->openedAs.c_str(), font->size, font->openedCache, font))
            return OpenFailed(font->openedAs.c_str(), font->size);
        font->height = height;
        font->baseline = baseline;
        if ((font->xScale != 1.0 || font->yScale != 1.0) && inbuilt->scale) inbuilt->scale(font);
    } else {
        return OpenFailed(font->openedAs.c_str(), font->size);
    }
    // A font's glyphs and metrics are those of the file it was opened from:
    // one replaced or rewritten since is another font, which the script
    // opens as such.
    if (font->openedFrom && !(EngineStampOf(font) == font->openedFrom)) {
        CloseWoken(font);
        return OpenFailed(font->openedAs.c_str(), font->size);
    }
    font->asleep = false;
    NoteChanged(font);
    return 0;
}

void TakeChangedFonts(std::vector<qbFont*>* out) {
    std::vector<qbFont*>& changed = State().changed;
    out->swap(changed);
    changed.clear();
    for (qbFont* font : *out) font->changed = false;
}

uint64_t FontUseClock() { return State().useClock; }

int IsNativeFont(const qbFont* font) { return font && font->engine == kFontKindNative ? 1 : 0; }

void AddFontSearchPath(const std::string& path) { State().fontPaths.push_back(path); }
const std::vector<std::string>& FontSearchPaths() { return State().fontPaths; }
void ClearFontSearchPaths() { State().fontPaths.clear(); }

int FindBitmapFontFile(const char* name, std::string* out) {
    std::string file = name;
    if (!EndsWithFont(file)) file += ".font";
    for (const std::string& folder : State().fontPaths) {
        std::string candidate = folder;
        if (!candidate.empty() && candidate.back() != '/') candidate += '/';
        candidate += file;
        if (FileOpens(candidate)) {
            *out = candidate;
            return 1;
        }
    }
    for (const std::string& candidate : {file, "Fonts/" + file}) {
        if (FileOpens(candidate)) {
            *out = candidate;
            return 1;
        }
    }
    return 0;
}
