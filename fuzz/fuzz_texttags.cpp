// Fuzz target of styled text: the first two bytes are a wrap width and
// style bits, the rest a text with tags; it is parsed, laid out over Vera
// Sans and composed in size-only mode. Tags, values and positions of any
// text must give an error code or bounds, never a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/inbuiltfont.h"
#include "text/textcompose.h"
#include "text/textlayout.h"

namespace {

qbFont* Font() {
    static qbFont font;
    static const bool opened = StartInbuiltEngine() == 0 && OpenInbuiltFont("Bitstream Vera Sans", 16, 1, &font) == 1;
    return opened ? &font : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || !Font()) return 0;
    qbTextLayout layout;
    layout.wrapWidth = data[0] * 4;
    layout.style.font = Font();
    layout.style.flags = kTextNormal | (data[1] & (kTextBold | kTextItalic | kTextUnderlined | kTextAntialias));
    layout.align = (data[1] & 0x80) ? kTextAlignCenter : (data[1] & 0x40) ? kTextAlignRight : kTextAlignLeft;
    layout.encoding = (data[1] & 0x20) ? kEncodingUTF8 : kEncodingLatin1;
    layout.text.assign(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<qbTextSegment> runs;
    if (LayoutText(nullptr, &layout, false, &runs) != 0) return 0;
    qbComposedText out;
    ComposeTextBlock((layout.style.flags & kTextAntialias) != 0, layout.align, true, layout.encoding, &runs,
                     layout.style, &out);
    return 0;
}
