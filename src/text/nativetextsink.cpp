// The native engine hands over each text as 8-bit coverage; here it goes
// into the destination: over or into an alpha plane, as bits of a mask, or
// blended in a colour into a bitmap.
#include "text/nativetextsink.h"

#include <algorithm>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "platform/nativetext.h"
#include "text/bitmapfont.h"
#include "text/font.h"

namespace {

qbClipRect ClipOn(const qbNativeTextClip& clip, const qbBitmap* target) {
    const int64_t x0 = std::max<int64_t>(clip.x, 0);
    const int64_t y0 = std::max<int64_t>(clip.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{clip.x} + clip.width, target->width);
    const int64_t y1 = std::min<int64_t>(int64_t{clip.y} + clip.height, target->height);
    return qbClipRect{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                      static_cast<int32_t>(std::max<int64_t>(x1 - x0, 0)),
                      static_cast<int32_t>(std::max<int64_t>(y1 - y0, 0))};
}

qbBitmapPlane* PlaneOf(qbBitmap* target, int32_t kind) {
    if (target->kind != kind) return nullptr;
    auto* plane = static_cast<qbBitmapPlane*>(target->native);
    return plane && plane->data ? plane : nullptr;
}

void PutCoverage(const qbNativeTextCoverage& c) {
    qbBitmap* target = c.mode == kNativeTextBlend ? c.bitmap : c.plane;
    if (!target || !c.data) return;
    int32_t sx = 0, sy = 0, dx = c.x, dy = c.y, width = c.width, height = c.height;
    if (!ClipGlyphRect(&sx, &sy, &dx, &dy, &width, &height, ClipOn(c.clip, target))) return;
    const auto source = [&](int32_t row) { return c.data + static_cast<size_t>(sy + row) * c.rowBytes + sx; };
    switch (c.mode) {
        case kNativeTextOver:
        case kNativeTextAlphaBytes: {
            qbBitmapPlane* plane = PlaneOf(target, kBitmapKindAlpha);
            if (!plane) return;
            const bool over = c.mode == kNativeTextOver;
            for (int32_t row = 0; row < height; ++row) {
                const uint8_t* from = source(row);
                uint8_t* to = plane->data + static_cast<size_t>(dy + row) * plane->rowBytes + dx;
                for (int32_t col = 0; col < width; ++col) {
                    const uint32_t a = from[col];
                    if (a == 0) continue;
                    to[col] = over ? static_cast<uint8_t>(a + (to[col] * (255 - a) + 127) / 255) : static_cast<uint8_t>(a);
                }
            }
            return;
        }
        case kNativeTextMaskBits: {
            if (!PlaneOf(target, kBitmapKindMask)) return;
            // Packed to one bit a pixel, the first pixel in the high bit.
            const uint32_t rowBytes = static_cast<uint32_t>((width + 7) / 8);
            std::vector<uint8_t> bits(static_cast<size_t>(rowBytes) * static_cast<size_t>(height), 0);
            for (int32_t row = 0; row < height; ++row) {
                const uint8_t* from = source(row);
                uint8_t* to = bits.data() + static_cast<size_t>(row) * rowBytes;
                for (int32_t col = 0; col < width; ++col)
                    if (from[col]) to[col >> 3] = static_cast<uint8_t>(to[col >> 3] | 0x80 >> (col & 7));
            }
            BlitMaskRect(nullptr, 0, 0, target, dx, dy, width, height, kMaskVisible, bits.data(), rowBytes);
            return;
        }
        case kNativeTextBlend: {
            if (target->kind != kBitmapKindColour) return;
            qbAlphaChannelBlit blit;
            blit.srcX = sx;
            blit.srcY = sy;
            blit.destination = target;
            blit.dstX = dx;
            blit.dstY = dy;
            blit.width = width;
            blit.height = height;
            blit.colour = c.colour;
            blit.mode = 1;
            blit.alphaData = c.data;
            blit.alphaRowBytes = c.rowBytes;
            BltAlphaChannel(blit);
            return;
        }
        default:
            return;
    }
}

}  // namespace

void InstallNativeTextSink() { SetNativeTextSink(&PutCoverage); }
