// The Linux native text engine: fonts installed on the system, found by
// their full name through fontconfig, or held in the applet, sized on their
// "A" and drawn with FreeType. Every size of one font file shares one face.
// Main thread only.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/file.h"
#include "core/filestamp.h"
#include "platform/platform_ops.h"

struct NativeGlyphCloser {
    void operator()(FT_Glyph glyph) const { FT_Done_Glyph(glyph); }
};

// One rendered glyph: 8-bit coverage, rows of width bytes (mono glyphs
// expanded to 0 and 255), its place against the pen and its whole-pixel
// advance. An anti-aliased glyph keeps the bitmap FreeType rendered, taken
// over rather than copied (a glyph at a large size is megabytes).
struct qbNativeGlyph {
    int32_t left = 0;
    int32_t top = 0;  // rows above the baseline
    int32_t width = 0;
    int32_t rows = 0;
    int32_t advance = 0;
    const uint8_t* pixels = nullptr;
    std::vector<uint8_t> coverage;
    std::unique_ptr<FT_GlyphRec, NativeGlyphCloser> rendered;
};

// A font file opened once for every size that uses it: one FreeType face,
// whose one size is set to a font's whenever that font needs FreeType (to
// render a glyph it has not kept): setting a size is far cheaper than the
// hinting program a size of its own would run when made.
//
// The face reads the file through a stream over its descriptor, never a
// mapping: a writer that cuts or rewrites the file later makes a read come
// back short or wrong, which FreeType reports as an error, where a mapped
// page past the new end would end the program with a signal.
struct qbNativeFontFile {
    std::string key;              // the file and face index, or the chunk name
    std::vector<uint8_t> memory;  // a font read from the applet; outlives face
    qbFilePtr file;               // an installed font's file; outlives face
    FT_StreamRec stream{};        // reads file; outlives face
    qbFileStamp stamp;            // of file, or of the applet, when opened
    std::string fullName;         // of a font read from the applet, from its names
    FT_Face face = nullptr;
    int32_t pointSize = 0;  // set on the face; 0 none yet
    int users = 0;
    // The "A" in font units, for the size search (0 and 0 without one).
    FT_UInt indexOfA = 0;
    int64_t aTop = 0;
    int64_t aBottom = 0;
    // Rows of the hinted "A" by point size, as the size searches found
    // them: a size next to one searched before (a zoom's next step, a font
    // opened again) needs no size set and no glyph loaded to find them.
    std::unordered_map<int32_t, int64_t> rowsOfA;
};

using qbNativeLatinGlyphs = std::array<std::array<const qbNativeGlyph*, 256>, 8>;

// One font: a size of a shared face and the glyphs rendered at it.
struct qbNativeFontFace {
    qbNativeFontFile* file = nullptr;
    int32_t pointSize = 0;
    FT_Fixed yScale = 0;  // the face's, at that size (font units to 26.6)
    // The glyphs rendered under the current scale, by glyph index and the
    // style bits that change them.
    std::unordered_map<uint64_t, qbNativeGlyph> glyphs;
    size_t glyphBytes = 0;  // what the kept glyphs hold, coverage included
    // The same glyphs by Latin-1 code, per combination of the three style
    // bits, found without a character map or hash look-up; made with the
    // first glyph.
    std::unique_ptr<qbNativeLatinGlyphs> latin;
    double cachedXScale = 1.0;
    double cachedYScale = 1.0;
};

namespace linux_text {

// Glyphs at large sizes are megabytes each. The allocator maps such blocks
// one by one, raising the size it maps from to the last one freed, so the
// glyphs of a zoom's ever-larger sizes were each mapped anew and faulted in
// page by page, as were the heap pages a trim handed back. Set once, for
// the process, when the first native font opens: blocks up to 32 MB come
// from the heap, whose free pages serve the next glyphs, and the heap's
// free top goes back to the system past 16 MB.
void KeepLargeBlocksOnTheHeap();

// The backend's own FreeType instance, alive while a font is open.
FT_Library AcquireLibrary();
void ReleaseLibrary();

// The file of an installed font (by full name, *fullName set to the one
// matched) or of a font held in the applet (by chunk name, *fullName from
// the font's names), opened on first use and shared after; null when there
// is none or it does not open. Each acquire is matched by a release.
qbNativeFontFile* AcquireFontFile(const char* name, std::string* fullName);
void ReleaseFontFile(qbNativeFontFile* file);
// Opens face index of the font file at path through a stream over its
// descriptor into file (its file, stream, stamp and face); false when it
// does not open. The face is file's to close before file goes.
bool OpenStreamFace(FT_Library library, const char* path, int index, qbNativeFontFile* file);
// Sets the face's size to the point size unless it is set already; false
// when FreeType refuses it.
bool SetFaceSize(qbNativeFontFile* file, int32_t pointSize);

// The size search of the "A": the point size, from the first one that the
// face's line height gives, where the "A" spans pixelHeight rows, or, where
// no size does, the size next to that height on the side of the first one.
int32_t SizeOnA(qbNativeFontFile* file, int32_t pixelHeight);

int OpenNativeFont(const char* name, int pixelHeight, qbNativeFont* font);
void CloseNativeFont(qbNativeFont* font);
int MeasureNativeText(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, qbTextExtents* out);
int DrawNativeText(qbNativeFont* font, qbBitmap* bitmap, qbBitmap* plane, int x, int y, const char* text, int length,
                   uint32_t style, int utf8, const qbNativeTextClip* clip, int64_t colour);

// Frees the glyphs the font keeps; the next text renders them again.
void FreeNativeGlyphCache(qbNativeFont* font);
// giveBack: the pages go back to the system now, not once enough is freed.
void FreeGlyphs(qbNativeFontFace* face, bool giveBack);
// What the font keeps beside the shared face: its size and its glyphs.
size_t NativeFontBytes(const qbNativeFont* font);

void FillTextOps(qbPlatformOps& ops);

}  // namespace linux_text
