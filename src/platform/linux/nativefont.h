// The Linux native text engine: fonts installed on the system, found by
// their full name through fontconfig, or held in the applet, sized on their
// "A" and drawn with FreeType. Main thread only.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/platform_ops.h"

// One rendered glyph: 8-bit coverage (mono glyphs expanded to 0 and 255),
// its place against the pen and its whole-pixel advance.
struct qbNativeGlyph {
    int32_t left = 0;
    int32_t top = 0;  // rows above the baseline
    int32_t width = 0;
    int32_t rows = 0;
    int32_t advance = 0;
    std::vector<uint8_t> coverage;
};

struct qbNativeFontFace {
    std::vector<uint8_t> memory;  // a font read from the applet; outlives face
    FT_Face face = nullptr;
    // The glyphs rendered under the current scale, by glyph index and the
    // style bits that change them.
    std::unordered_map<uint64_t, qbNativeGlyph> glyphs;
    // The same glyphs by Latin-1 code, per combination of the three style
    // bits, found without a character map or hash look-up.
    std::array<std::array<const qbNativeGlyph*, 256>, 8> latin{};
    double cachedXScale = 1.0;
    double cachedYScale = 1.0;
    // Scratch of one operation, kept to spare the allocations.
    std::vector<uint32_t> codes;
    std::vector<uint8_t> buffer;
};

namespace linux_text {

// The backend's own FreeType instance, alive while a font is open.
FT_Library AcquireLibrary();
void ReleaseLibrary();

// The size search of the "A": the point size, from the first one, where the
// "A" spans pixelHeight rows, or where the search stopped short of it.
int32_t SizeOnA(FT_Face face, int32_t pixelHeight);

int OpenNativeFont(const char* name, int pixelHeight, qbNativeFont* font);
void CloseNativeFont(qbNativeFont* font);
int MeasureNativeText(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, qbTextExtents* out);
int DrawNativeText(qbNativeFont* font, qbBitmap* bitmap, qbBitmap* plane, int x, int y, const char* text, int length,
                   uint32_t style, int utf8, const qbNativeTextClip* clip, int64_t colour);

void FillTextOps(qbPlatformOps& ops);

}  // namespace linux_text
