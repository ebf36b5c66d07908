// The inbuilt outline font engine over FreeType: its per-font record, the
// one library instance, glyph rendering with its two caches, measuring,
// drawing, kerning, baselines and scaling, and opening and closing fonts.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/file.h"
#include "core/filestamp.h"
#include "text/font.h"

struct qbInbuiltCachedGlyph {
    FT_Glyph glyph = nullptr;  // a bitmap glyph
    FT_Pos advance = 0;        // 26.6
    int64_t em = 0;            // the advance as a 16.16 fraction of the em
};

// A font file the engine's open fonts read, opened once for all of them
// (AcquireInbuiltFile) and let go with the last (ReleaseInbuiltFile).
struct qbInbuiltFontFile {
    std::string path;
    qbFilePtr file;
    // Read by position where the file is a native one (an applet part's
    // bytes start at base): no read-ahead kept per file.
    int descriptor = -1;
    int64_t base = 0;
    qbFileStamp stamp;  // as it was when opened
    int users = 0;
};

struct qbInbuiltFontData {
    // What FontStreamRead reads through: the file and the face's place in it.
    qbInbuiltFontFile* file = nullptr;
    qbFileStamp stamp;  // of the file the face came from (a collection's for a member)
    int64_t dataOffset = 0;
    int64_t dataSize = 0;
    FT_StreamRec stream{};
    FT_Face face = nullptr;
    int32_t resolutionX = 72;
    int32_t resolutionY = 72;
    int32_t pixelSize = 0;
    // What FreeType allocated for the face when it opened: its tables, its
    // size and its glyph slot.
    size_t faceBytes = 0;
    std::string tempPath;  // a collection member extracted for the open
    bool deleteTemp = false;
    bool cache = false;
    // Glyph indexes of the Latin-1 codes, looked up once (0: none yet or
    // none in the face, which a lookup answers quickly).
    std::array<FT_UInt, 256> latinIndex{};
    std::array<bool, 256> latinIndexKnown{};
    // Kerning of Latin-1 pairs as a 16.16 fraction of the em, by left code,
    // a row made on the row's first use: FreeType's pair search costs as
    // much as drawing the glyph, and text measures each pair before it
    // draws it.
    std::array<std::unique_ptr<std::array<int64_t, 256>>, 256> latinKerning{};
    std::array<qbInbuiltCachedGlyph, 256> antialiased{};
    std::array<qbInbuiltCachedGlyph, 256> oneBit{};
};

inline qbInbuiltFontData* InbuiltDataOf(const qbFont* font) {
    return static_cast<qbInbuiltFontData*>(font->engineData);
}

// 0 or ERR_FT2.
int StartInbuiltEngine();
void StopInbuiltEngine();
// The shared instance (null before the start); the vector engine uses it too.
FT_Library InbuiltFreeTypeLibrary();
// What the instance's allocations hold now, in bytes.
size_t InbuiltFreeTypeBytes();

// 0 with the glyph's left, top, advance (26.6), bitmap and, when asked,
// the advance as a 16.16 fraction of the em, or -1. The bitmap lasts until
// the next glyph is rendered or the caches are freed.
int RenderInbuiltGlyph(qbInbuiltFontData* data, uint32_t code, FT_UInt index, uint32_t style, int32_t* left,
                       int32_t* top, FT_Pos* advance, const FT_Bitmap** bitmap, int64_t* em = nullptr);
int MeasureInbuiltText(qbFont* font, const char* text, size_t length, uint32_t style, int encoding,
                       qbTextExtents* out);
// pen kFontPenMask writes the target's plane instead of colouring.
int RenderInbuiltText(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                      size_t length, uint32_t style, int encoding, const qbClipRect& clip, int64_t pen);
// Both at once: draws as RenderInbuiltText and fills out as
// MeasureInbuiltText would.
int RenderInbuiltTextMeasured(qbFont* font, qbBitmap* target, int32_t x, int32_t y, const char* text, size_t length,
                              uint32_t style, int encoding, const qbClipRect& clip, int64_t pen, qbTextExtents* out);
int32_t GetInbuiltKerning(qbFont* font, const char* pair, size_t length, uint32_t style, int encoding);
int32_t ComputeInbuiltBaseline(qbInbuiltFontData* data, int32_t height);
// Applies the font's x and y scale; returns the new baseline.
int32_t SetInbuiltFontScale(qbFont* font);
void FreeInbuiltGlyphCaches(qbInbuiltFontData* data);

// 1 opened into font, 0 not (nothing stays open or on disk then).
int OpenInbuiltFont(const char* name, int32_t size, int32_t cache, qbFont* font);
void CloseInbuiltFont(qbFont* font);
unsigned long FontStreamRead(FT_Stream stream, unsigned long position, unsigned char* buffer, unsigned long count);
// Files the engine has opened since the program started (for the tests).
int64_t InbuiltFileOpenCount();
// Font files open now, each counted once however many fonts read it.
size_t InbuiltOpenFileCount();

// Makes the font layer serve engine 4 with this engine.
void InstallInbuiltFontEngine();
