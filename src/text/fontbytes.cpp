// What the font engines keep for one font, in bytes, for the font cache's
// bound on fonts the script no longer uses. What a font shares with others
// (a native font's file and face) is not counted against any of them.
#include <cstdlib>

#include "platform/platform.h"
#include "text/font.h"
#include "text/inbuiltfont.h"

namespace {

size_t CacheBytes(const std::array<qbInbuiltCachedGlyph, 256>& cache) {
    size_t bytes = 0;
    for (const qbInbuiltCachedGlyph& entry : cache) {
        if (!entry.glyph || entry.glyph->format != FT_GLYPH_FORMAT_BITMAP) continue;
        const FT_Bitmap& b = reinterpret_cast<const FT_BitmapGlyphRec*>(entry.glyph)->bitmap;
        bytes += sizeof(FT_BitmapGlyphRec) + size_t{b.rows} * static_cast<size_t>(std::abs(b.pitch));
    }
    return bytes;
}

size_t InbuiltBytes(const qbInbuiltFontData& data) {
    // An outline font opens a face of its own: what FreeType allocated for
    // it as it opened.
    size_t bytes = sizeof data + data.faceBytes + CacheBytes(data.antialiased) + CacheBytes(data.oneBit);
    for (const auto& row : data.latinKerning)
        if (row) bytes += sizeof *row;
    return bytes;
}

}  // namespace

size_t FontEngineBytes(const qbFont* font) {
    if (!font || font->asleep || !font->engineData) return 0;
    if (font->engine == kFontKindNative) return NativeFontBytes(static_cast<const qbNativeFont*>(font->engineData));
    if (font->engine == kFontKindInbuilt) return InbuiltBytes(*InbuiltDataOf(font));
    return 0;
}
