// The engine-neutral font record and the layer that opens fonts by name,
// size and engine choice and hands measuring, drawing, kerning, scaling and
// closing to the engine behind each font: the bitmap engine (".font" files
// and the built-in "topaz"), the platform's native engine and the inbuilt
// outline engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/filestamp.h"
#include "imaging/bitmap.h"
#include "platform/platform_types.h"

// Engine kinds of an open font.
enum : int32_t {
    kFontKindBitmap = 1,
    kFontKindColourBitmap = 2,
    kFontKindNative = 3,
    kFontKindInbuilt = 4,
};

// Engine choices a script passes when it opens a font.
enum : int32_t {
    kFontEngineNative = 0,
    kFontEngineInbuilt = 4,
};

// The transparent key of colour-font glyph pixels.
inline constexpr uint32_t kFontKeyColour = 0xEEE6D2;

inline constexpr size_t kFontNameSize = 2048;

// A vector engine's handle on this font (kept for the text commands of paths).
struct qbVectorFontNode {
    std::unique_ptr<qbVectorFontNode> next;
    void* engine = nullptr;
    void* handle = nullptr;
};

struct qbFont {
    char name[kFontNameSize] = {};
    int32_t size = 0;
    int32_t height = 0;    // scaled line height
    int32_t baseline = 0;  // scaled, from the top of the line
    int32_t baseHeight = 0;
    int32_t baseBaseline = 0;
    int32_t engine = 0;  // a kFontKind value
    int32_t scalable = 0;
    int32_t antialiasCapable = 0;
    int32_t nativeBitmap = 0;  // kinds 1 and 2 served by the native engine
    double xScale = 1.0;
    double yScale = 1.0;
    void* engineData = nullptr;  // the serving engine's own record
    // Colour bitmap fonts: the glyph strip and its transparency mask.
    BitmapPtr glyphBitmap;
    BitmapPtr glyphMask;
    // Colour fonts loaded before any display existed: the strip as 0x00RRGGBB
    // pixels, made into glyphBitmap and glyphMask when a display opens.
    std::vector<uint32_t> rawPixels;
    int32_t rawWidth = 0;
    int32_t rawHeight = 0;
    std::unique_ptr<qbVectorFontNode> vectorFonts;
    // What the engine opened and how, so that a font put to sleep (its
    // engine data closed to spare memory) opens again on its next use; a
    // sleeping font keeps every field above but engineData.
    std::string openedAs;
    int32_t openedCache = 0;
    bool asleep = false;
    uint64_t lastUse = 0;  // of the font layer's use clock
    // The file the engine read the font from, as it was then: a sleeping
    // font wakes only on that same file.
    qbFileStamp openedFrom;
    // Shared by every qbFontRef that names the font (the record keeps one
    // more); null for the default font, which is never let go.
    std::shared_ptr<const void> holds;
    bool changed = false;  // listed for TakeChangedFonts
};

// Names a font and holds it: the font cache never lets go of a font that a
// ref names (a style, a font object, the layout of a text object or a
// layer). It reads as the qbFont pointer it holds.
class qbFontRef {
public:
    qbFontRef() = default;
    qbFontRef(qbFont* font) : font_(font), hold_(font ? font->holds : nullptr) {}  // NOLINT: reads as a pointer
    qbFontRef& operator=(qbFont* font) {
        font_ = font;
        hold_ = font ? font->holds : nullptr;
        return *this;
    }
    operator qbFont*() const { return font_; }  // NOLINT: reads as a pointer
    qbFont* operator->() const { return font_; }
    qbFont& operator*() const { return *font_; }
    qbFont* get() const { return font_; }

private:
    qbFont* font_ = nullptr;
    // Outlives the record, so that a layer freed after the fonts releases
    // its ref safely.
    std::shared_ptr<const void> hold_;
};

// How many refs hold the font.
inline long FontHolders(const qbFont* font) { return font && font->holds ? font->holds.use_count() - 1 : 0; }

// A rectangle that drawing stays inside.
struct qbClipRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Pen value that makes the renderers set mask bits instead of colouring.
inline constexpr int64_t kFontPenMask = -1;

// The inbuilt outline engine, installed by its own code once it exists;
// without it engine 4 opens nothing.
struct qbInbuiltFontEngine {
    int (*open)(const char* name, int32_t size, int32_t cache, qbFont* font);  // 1 opened, 0 not
    int (*measure)(qbFont* font, const char* text, size_t length, uint32_t style, int encoding, qbTextExtents* out);
    int (*render)(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                  size_t length, uint32_t style, int encoding, const qbClipRect& clip, int64_t pen);
    int32_t (*kerning)(qbFont* font, const char* pair, size_t length, uint32_t style, int encoding);
    void (*scale)(qbFont* font);
    void (*freeGlyphCache)(qbFont* font);
    void (*close)(qbFont* font);
    int (*start)();
    void (*shutdown)();
    // render that also measures what it draws, as measure would.
    int (*renderMeasured)(qbFont* font, qbBitmap* target, int32_t x, int32_t y, const char* text, size_t length,
                          uint32_t style, int encoding, const qbClipRect& clip, int64_t pen, qbTextExtents* out);
};
void SetInbuiltFontEngine(const qbInbuiltFontEngine* engine);

// name: a font name or an applet chunk name; linked: the name came from the
// applet's linked fonts. 0 with *out set, or ERR_OPENFONT (detail "Cannot
// open font NAME with size SIZE!"), ERR_MEM, ERR_READFILE, ERR_READ.
int OpenFontRecord(const char* name, int32_t size, int32_t engine, int32_t cache, int linked, qbFont** out);
// Never closes the default font.
void CloseFontRecord(qbFont* font);

struct FontCloser {
    void operator()(qbFont* font) const { CloseFontRecord(font); }
};
using FontPtr = std::unique_ptr<qbFont, FontCloser>;

// 0 or an engine's error code; a font no engine serves measures as nothing.
int MeasureFontText(qbFont* font, const char* text, size_t length, uint32_t style, int encoding,
                    qbTextExtents* out);
// A null font draws in the default font. pen kFontPenMask sets bits of the
// mask target (and second target), any other value is the colour.
int RenderFontText(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                   size_t length, uint32_t style, int encoding, const qbClipRect& clip, int64_t pen);
// RenderFontText and MeasureFontText of one text in one pass where the
// engine can (one pass of the glyphs instead of two). out is filled
// whether or not a target is given.
int RenderFontTextMeasured(qbFont* font, qbBitmap* target, int32_t x, int32_t y, const char* text, size_t length,
                           uint32_t style, int encoding, const qbClipRect& clip, int64_t pen, qbTextExtents* out);
int32_t GetFontKerning(qbFont* font, const char* pair, size_t length, uint32_t style, int encoding);
void SetFontScale(qbFont* font, double xScale, double yScale);
void FreeFontGlyphCache(qbFont* font);
int IsNativeFont(const qbFont* font);

// Closes what the engine keeps for a native or outline font and keeps the
// record: the next measure, draw or kerning opens it again as it was
// (scale included). Fonts of other engines, the default font and fonts a
// vector engine holds a handle of are never put to sleep. false when the
// font was not put to sleep.
bool PutFontToSleep(qbFont* font);
// Opens a sleeping font again: 0 or ERR_OPENFONT.
int WakeFont(qbFont* font);
// What the font's engine keeps for it (its glyphs, its size of the face,
// its own records) beside what the font shares with others; 0 asleep.
size_t FontEngineBytes(const qbFont* font);
// Counts every measure, draw and kerning, each stamping its font's lastUse.
uint64_t FontUseClock();
// The fonts measured, drawn, scaled, woken, put to sleep or whose glyphs
// were freed since the last call, each once: what their engines keep may
// have changed. Replaces out's contents.
void TakeChangedFonts(std::vector<qbFont*>* out);

// The built-in "topaz" at 8, made (and the engines started) on first use.
int GetDefaultFont(qbFont** out);
void ShutdownFontEngines();

// The font-path list searched for ".font" files, in the order added.
void AddFontSearchPath(const std::string& path);
const std::vector<std::string>& FontSearchPaths();
void ClearFontSearchPaths();

// The first of: each font path joined with NAME(.font), NAME(.font) itself,
// "Fonts/NAME(.font)" beside the program. 1 with *out set, 0 for none.
int FindBitmapFontFile(const char* name, std::string* out);

// UTF-8 to one code point per character. 0 (and out cleared) when the text
// is not flagged UTF-8 or is not well-formed; engines then take it as one
// byte per character.
int DecodeUtf8Text(const char* text, size_t length, int isUtf8, std::vector<uint32_t>* out);
