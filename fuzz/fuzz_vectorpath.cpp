// Fuzz target of the vector path stream: any bytes go through the bounded
// stream check; a well-formed stream (its font handles replaced by one real
// face or none) is then measured, drawn, walked and moved by the inbuilt
// engine's hooks. The first byte picks the style, fill and stroke width.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "vector/ftengine.h"
#include "vector/path.h"
#include "fuzznote.h"

namespace {

void* Face() {
    static std::vector<char> data = [] {
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }();
    static void* face = data.empty() ? nullptr : InbuiltVectorHooks().openFont(data.data(), data.size());
    return face;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const int64_t length = CheckPathStream(data + 1, size - 1);
    if (length < 0) return 0;
    std::vector<uint8_t> stream(data + 1, data + 1 + length + 4);
    for (uint8_t* p = stream.data(); size_t n = PathCommandSize(p); p += n)
        if (ReadPathInt(p) == QB_PATH_TEXT) WritePathPointer(p + 4, (mode & 0x80) ? Face() : nullptr);

    qbVectorLineStyle style{};
    style.join = mode & 3;
    style.cap = (mode >> 2) & 3;
    style.fillRule = (mode >> 4) & 1;
    style.antialias = (mode >> 5) & 1;
    const int filled = (mode >> 6) & 1;
    const int width = 1 + (mode & 15);
    const qbVectorHooks hooks = InbuiltVectorHooks();

    static const double kIdentity[4] = {1, 0, 0, 1};
    qbPathExtentsArgs e{};
    e.commands = stream.data();
    e.style = &style;
    e.filled = filled;
    e.strokeWidth = width;
    e.matrix = kIdentity;
    const int measured = hooks.getPathExtents(&e);
    FuzzNoteValue(measured);
    if (measured) {
        for (double v : {e.x1, e.y1, e.x2, e.y2}) FuzzNoteNumber(v);
        // Draw what fits a small mask at its place, cut to it otherwise.
        std::vector<uint8_t> mask(64 * 64);
        qbDrawPathArgs d{};
        d.commands = stream.data();
        d.style = &style;
        d.filled = filled;
        d.strokeWidth = width;
        d.coverage = mask.data();
        d.bytesPerRow = d.width = d.height = 64;
        d.x1 = e.x1;
        d.y1 = e.y1;
        d.matrix = kIdentity;
        FuzzNoteValue(hooks.drawPath(&d));
        FuzzNote(mask.data(), mask.size());
    }
    double x = 0, y = 0;
    const int current = hooks.getCurrentPoint(stream.data(), &style, &x, &y);
    FuzzNoteValue(current);
    if (current) {
        FuzzNoteNumber(x);
        FuzzNoteNumber(y);
    }
    qbTranslatePathArgs t{stream.data(), 3.5, -7.25};
    FuzzNoteValue(hooks.translatePath(&t));
    // The moved stream, its font handles (addresses) left out.
    for (uint8_t* p = stream.data(); size_t n = PathCommandSize(p); p += n) {
        FuzzNoteValue(ReadPathInt(p));
        if (ReadPathInt(p) == QB_PATH_TEXT)
            FuzzNote(p + 12, n - 12);
        else
            FuzzNote(p + 4, n - 4);
    }
    if (PathStreamLength(stream.data()) != static_cast<size_t>(length)) __builtin_trap();
    return 0;
}
