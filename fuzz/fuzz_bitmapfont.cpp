// Fuzz target of the ".font" loader: the input is one font file, listed by a
// contents file at the size its header names; a loaded font measures and
// draws every character in mask and colour mode into small bitmaps.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/memfile.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "fuzznote.h"
#include "pixelsfuzz.h"

namespace {

constexpr size_t kEntrySize = 260;

std::vector<uint8_t> ContentsFor(const std::string& fontName, uint32_t size) {
    std::vector<uint8_t> c(4 + kEntrySize, 0);
    c[0] = 0x0F;
    c[3] = 1;
    std::memcpy(c.data() + 4, fontName.c_str(), fontName.size());
    c[4 + 256] = static_cast<uint8_t>(size >> 8);
    c[4 + 257] = static_cast<uint8_t>(size);
    return c;
}

void Exercise(qbFont* font) {
    std::string text;
    for (int c = 0; c < 256; ++c) text += static_cast<char>(c);
    qbTextExtents e;
    FuzzNoteValue(MeasureBitmapText(font, text.data(), text.size(), &e));
    for (int32_t v : {e.width, e.height, e.inkLeft, e.inkTop, e.inkRight, e.inkBottom}) FuzzNoteValue(v);
    BitmapPtr page(AllocBitmap(48, 20, 0, nullptr));
    BitmapPtr mask(AllocMask(nullptr, 48, 20, true, nullptr, 0));
    if (!page || !mask) return;
    // A new colour bitmap holds whatever its memory held; the page starts
    // known so that its pixels note the same from run to run.
    FillBitmapRect(page.get(), 0, 0, 48, 20, 0x123456);
    for (int32_t x : {-7, 3}) {
        const qbClipRect clip{1, 1, 40, 15};
        FuzzNoteValue(RenderBitmapText(font, page.get(), mask.get(), x, -2, text.data(), text.size(), clip, 0xFF8000));
        FuzzNoteValue(RenderBitmapText(font, font->engine == kFontKindBitmap ? mask.get() : page.get(), mask.get(), x, 3,
                         text.data(), text.size(), clip, kFontPenMask));
        FuzzNotePixels(page.get(), false);
        FuzzNotePixels(mask.get(), true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The registered range must not be empty or shared with another buffer.
    const std::vector<uint8_t> file(data, data + size);
    if (RegisterMemoryBuffer(file.data(), file.size()) != 0) return 0;
    const uint32_t ySize = size >= 112 ? static_cast<uint32_t>(data[110] << 8 | data[111]) : 8;
    const std::vector<uint8_t> contents = ContentsFor(MakeMemoryName(file.data(), file.size()), ySize);
    if (RegisterMemoryBuffer(contents.data(), contents.size()) == 0) {
        const std::string name = MakeMemoryName(contents.data(), contents.size());
        FontPtr font(std::make_unique<qbFont>().release());
        const int loaded = LoadBitmapFont(name.c_str(), static_cast<int32_t>(ySize), font.get(), "fuzz");
        FuzzNoteValue(loaded);
        if (loaded == 1) {
            for (int32_t v : {font->size, font->height, font->baseline, font->engine, font->rawWidth, font->rawHeight})
                FuzzNoteValue(v);
            Exercise(font.get());
        }
        font.reset();
        UnregisterMemoryBuffer(contents.data());
    }
    UnregisterMemoryBuffer(file.data());
    return 0;
}
