// One-pixel lines into locked bitmap pixels through the wide-line drawer.
#include "draw/bitmapline.h"

#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/wideline.h"

void DrawBitmapLine(qbBitmap* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    if (!bitmap || bitmap->kind != kBitmapKindColour) return;
    qbBitmapLock lock;
    if (LockBitmap(bitmap, 0, &lock) == 0) return;
    const int format = static_cast<int>(lock.pixelFormat);
    if (lock.bytesPerPixel == 2 || lock.bytesPerPixel == 4) {
        BlendContext ctx;
        ctx.pixels = lock.pixels;
        ctx.rowLength = lock.rowLength;
        ctx.bytesPerPixel = static_cast<int32_t>(lock.bytesPerPixel);
        ctx.format = lock.pixelFormat;
        ctx.clip = {0, 0, lock.width, lock.height};
        ctx.alpha = 255;
        if (lock.bytesPerPixel == 4) {
            ctx.colour = colour & 0xFFFFFF;
        } else {
            // At full weight the kernel stores the pixel as given, so it is
            // given already in the bitmap's own 16-bit format.
            const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                                    static_cast<uint8_t>(colour)};
            uint16_t pixel = 0;
            WritePixelRGB(&pixel, format, rgb);
            ctx.colour = pixel;
            ctx.layout = Layout16OfFormat(format);
        }
        DrawPixelLine(ctx, x1, y1, x2, y2);
    }
    UnlockBitmap(&lock);
}
