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
#include "fuzznote.h"

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
    const int laidOut = LayoutText(nullptr, &layout, false, &runs);
    FuzzNoteValue(laidOut);
    if (laidOut != 0) return 0;
    qbComposedText out;
    const int composed = ComposeTextBlock((layout.style.flags & kTextAntialias) != 0, layout.align, true,
                                          layout.encoding, &runs, layout.style, &out);
    FuzzNoteValue(composed);
    for (int32_t v : {out.left, out.top, out.width, out.height}) FuzzNoteValue(v);
    // The runs as the alignment left them: their texts, styles and boxes.
    FuzzNoteValue(static_cast<int64_t>(runs.size()));
    for (const qbTextSegment& run : runs) {
        FuzzNoteText(run.text);
        for (int64_t v : {int64_t{run.x}, int64_t{run.y}, int64_t{run.style.flags}, int64_t{run.style.colour}}) FuzzNoteValue(v);
        const qbTextMetrics& m = run.extents;
        for (int32_t v : {m.width, m.height, m.minX, m.minY, m.maxX, m.maxY, m.visibleWidth}) FuzzNoteValue(v);
    }
    return 0;
}
