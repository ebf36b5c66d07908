// The bitmap font engine: ".font" disk fonts (a contents file listing one
// font file per size; one-colour or colour glyph strips with char-loc,
// spacing and kerning tables) and the built-in 8 x 8 "topaz".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/font.h"

// Style and flag bits of a font file.
inline constexpr int32_t kFontStyleColour = 0x40;
inline constexpr int32_t kFontFlagProportional = 0x20;

struct qbBitmapFontData {
    int32_t ySize = 0;
    int32_t style = 0;
    int32_t flags = 0;
    int32_t xSize = 0;
    int32_t baseline = 0;
    int32_t boldSmear = 0;
    int32_t accessors = 0;
    int32_t loChar = 0;
    int32_t hiChar = 0;
    // One-colour fonts: ySize rows of modulo bytes, 1 bit a pixel, most
    // significant bit first.
    std::vector<uint8_t> charData;
    int32_t modulo = 0;
    // Per character (bit offset << 16) | width; the last entry is the glyph
    // of every character outside loChar..hiChar. Every entry lies inside the
    // strip (checked at load).
    std::vector<uint32_t> charLoc;
    std::vector<int16_t> charSpace;  // empty: advance by xSize
    std::vector<int16_t> charKern;   // empty: no kerning
    int32_t count = 0;               // hiChar - loChar + 2
    BitmapPtr stripMask;             // one-colour fonts: a mask plane over charData
};

inline qbBitmapFontData* BitmapDataOf(const qbFont* font) {
    return static_cast<qbBitmapFontData*>(font->engineData);
}

inline int32_t BitmapCharIndex(const qbBitmapFontData& data, uint8_t c) {
    return c >= data.loChar && c <= data.hiChar ? c - data.loChar : data.count - 1;
}

// contentsName: the contents file (".font" added when missing) or an applet
// chunk name; displayName null: the name's file part. 1 loaded into font, 0
// not (nothing of the load stays allocated then). While declaring, a colour
// font keeps its raw pixels instead of making its glyph bitmap.
int LoadBitmapFont(const char* contentsName, int32_t size, qbFont* font, const char* displayName);
void CloseBitmapFont(qbFont* font);

int MeasureBitmapText(qbFont* font, const char* text, size_t length, qbTextExtents* out);
int RenderBitmapText(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                     size_t length, const qbClipRect& clip, int64_t pen);
int32_t BitmapFontKerning();

// Cuts a glyph rectangle to the clip rectangle, moving the source with the
// destination; false when nothing is left.
bool ClipGlyphRect(int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy, int32_t* width, int32_t* height,
                   const qbClipRect& clip);

int CreateDefaultFont(qbFont** out);
void FreeDefaultFont(qbFont* font);
