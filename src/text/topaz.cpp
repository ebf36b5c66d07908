// The built-in 8 x 8 font "topaz", the process-wide default font. Its glyphs
// are a strip of 192 slots of 8 pixels: the char-loc rule puts characters
// 252-255 at bit offsets up to 1528, so the strip is 1536 pixels wide for
// every glyph the rule names to lie inside it.
#include <cstring>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "text/bitmapfont.h"

namespace {

constexpr int32_t kTopazSize = 8;
constexpr int32_t kTopazBaseline = 6;
constexpr int32_t kTopazModulo = 192;
constexpr int32_t kTopazLoChar = 32;
constexpr int32_t kTopazHiChar = 255;
constexpr int32_t kTopazFlags = 0x40;
constexpr uint32_t kControlGlyph = 768;   // characters 128-159
constexpr uint32_t kHighGlyphs = 776;     // characters 161-255
constexpr uint32_t kOutsideGlyph = 1496;  // characters below 32

constexpr uint8_t kTopazStrip[kTopazSize * kTopazModulo] = {
#include "text/topazstrip.inc"
};

uint32_t TopazBitOffset(int32_t c) {
    if (c <= 127) return static_cast<uint32_t>(8 * (c - 32));
    if (c <= 159) return kControlGlyph;
    if (c == 160) return 0;  // the no-break space draws as the space
    return kHighGlyphs + static_cast<uint32_t>(8 * (c - 161));
}

}  // namespace

int CreateDefaultFont(qbFont** out) {
    *out = nullptr;
    try {
        auto font = std::make_unique<qbFont>();
        auto data = std::make_unique<qbBitmapFontData>();
        std::strcpy(font->name, "topaz");
        font->engine = kFontKindBitmap;
        font->size = font->height = font->baseHeight = kTopazSize;
        font->baseline = font->baseBaseline = kTopazBaseline;
        data->ySize = kTopazSize;
        data->flags = kTopazFlags;
        data->xSize = 8;
        data->baseline = kTopazBaseline;
        data->boldSmear = 1;
        data->loChar = kTopazLoChar;
        data->hiChar = kTopazHiChar;
        data->modulo = kTopazModulo;
        data->count = kTopazHiChar - kTopazLoChar + 2;
        data->charData.assign(std::begin(kTopazStrip), std::end(kTopazStrip));
        data->charLoc.resize(static_cast<size_t>(data->count));
        for (int32_t c = kTopazLoChar; c <= kTopazHiChar; ++c)
            data->charLoc[static_cast<size_t>(c - kTopazLoChar)] = TopazBitOffset(c) << 16 | 8;
        data->charLoc.back() = kOutsideGlyph << 16 | 8;
        data->stripMask.reset(AllocMask(nullptr, kTopazModulo * 8, kTopazSize, false, data->charData.data(),
                                        kTopazModulo));
        if (!data->stripMask) return ERR_MEM;
        font->engineData = data.release();
        *out = font.release();
        return 0;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

void FreeDefaultFont(qbFont* font) {
    std::unique_ptr<qbFont> owner(font);
    CloseBitmapFont(font);
}
