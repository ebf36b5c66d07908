// Splitting pixels into channel planes and joining them back.
#include "imaging/channels.h"

#include <new>

bool SplitChannels(const void* pixels, int32_t width, int32_t height, int32_t pitch, uint32_t format,
                   uint32_t bytesPerPixel, qbChannelPlanes* out) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    try {
        for (auto& p : out->plane) p.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    out->width = width;
    out->height = height;
    uint8_t* r = out->plane[0].data();
    uint8_t* g = out->plane[1].data();
    uint8_t* b = out->plane[2].data();
    size_t i = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (bytesPerPixel == 4) {
            const uint32_t* row = static_cast<const uint32_t*>(pixels) + static_cast<ptrdiff_t>(y) * pitch;
            if (format == kFormatARGB) {
                for (int32_t x = 0; x < width; ++x, ++i) {
                    r[i] = static_cast<uint8_t>(row[x] >> 16);
                    g[i] = static_cast<uint8_t>(row[x] >> 8);
                    b[i] = static_cast<uint8_t>(row[x]);
                }
                continue;
            }
            for (int32_t x = 0; x < width; ++x, ++i) {
                const qbChannels c = ReadChannels32(format, row[x]);
                r[i] = static_cast<uint8_t>(c.r);
                g[i] = static_cast<uint8_t>(c.g);
                b[i] = static_cast<uint8_t>(c.b);
            }
        } else {
            const uint16_t* row = static_cast<const uint16_t*>(pixels) + static_cast<ptrdiff_t>(y) * pitch;
            for (int32_t x = 0; x < width; ++x, ++i) {
                const qbChannels c = ReadChannels16(format, row[x]);
                r[i] = static_cast<uint8_t>(c.r);
                g[i] = static_cast<uint8_t>(c.g);
                b[i] = static_cast<uint8_t>(c.b);
            }
        }
    }
    return true;
}

void JoinChannels(const qbChannelPlanes& planes, void* pixels, int32_t pitch, uint32_t format, uint32_t bytesPerPixel) {
    const uint8_t* r = planes.plane[0].data();
    const uint8_t* g = planes.plane[1].data();
    const uint8_t* b = planes.plane[2].data();
    size_t i = 0;
    for (int32_t y = 0; y < planes.height; ++y) {
        if (bytesPerPixel == 4) {
            uint32_t* row = static_cast<uint32_t*>(pixels) + static_cast<ptrdiff_t>(y) * pitch;
            if (format == kFormatARGB) {
                for (int32_t x = 0; x < planes.width; ++x, ++i)
                    row[x] = uint32_t{r[i]} << 16 | uint32_t{g[i]} << 8 | b[i];
                continue;
            }
            for (int32_t x = 0; x < planes.width; ++x, ++i) row[x] = WriteChannels32(format, r[i], g[i], b[i]);
        } else {
            uint16_t* row = static_cast<uint16_t*>(pixels) + static_cast<ptrdiff_t>(y) * pitch;
            for (int32_t x = 0; x < planes.width; ++x, ++i) row[x] = WriteChannels16(format, r[i], g[i], b[i]);
        }
    }
}
