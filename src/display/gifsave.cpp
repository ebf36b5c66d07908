#include "display/gifsave.h"

#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/gif.h"
#include "imaging/quantize.h"

int WriteGIFImageFile(const uint32_t* pixels, int32_t width, int32_t height, const char* fileName,
                      int32_t keyColour, int32_t colours, bool dither) {
    // The file's sides are 16-bit: refused before any quantising.
    if (!pixels || width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    std::vector<uint8_t> indices;
    try {
        indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    uint32_t palette[256] = {};
    int32_t count = colours;
    int32_t transparent = -1;
    const uint32_t key = keyColour == -1 ? kNoTransparentColour : static_cast<uint32_t>(keyColour) & 0xFFFFFFu;
    if (!QuantizePixels(pixels, kFormatARGB, 4, width, height, width, indices.data(), palette, &count, key, false,
                        dither, &transparent))
        return ERR_MEM;
    qbGIFWriter* writer = nullptr;
    if (int err = WriteGIF(fileName, nullptr, width, height, &writer)) return err;
    qbGIFFrame frame;
    frame.indices = indices.data();
    frame.width = width;
    frame.height = height;
    frame.palette = palette;
    frame.colourCount = count;
    frame.transparentIndex = key == kNoTransparentColour ? -1 : transparent;
    const int written = WriteAnimGIF(writer, frame);
    const int closed = CloseGIFWriter(writer);
    return written ? written : closed;
}
