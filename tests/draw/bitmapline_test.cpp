// One-pixel lines into bitmaps of 4- and 2-byte formats: exactly the
// pixels the one-pixel line drawer sets on the same locked rows, in the
// bitmap's own format, cut to the bitmap.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "draw/bitmapline.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/wideline.h"

namespace {

struct Segment {
    int32_t x1, y1, x2, y2;
};

// The pixels' bytes without the rows' padding.
std::vector<uint8_t> Rows(const qbBitmapLock& lock) {
    std::vector<uint8_t> out;
    const auto* p = static_cast<const uint8_t*>(lock.pixels);
    const size_t pitch = static_cast<size_t>(lock.rowLength) * lock.bytesPerPixel;
    for (int32_t y = 0; y < lock.height; ++y)
        out.insert(out.end(), p + y * pitch, p + y * pitch + static_cast<size_t>(lock.width) * lock.bytesPerPixel);
    return out;
}

}  // namespace

TEST(BitmapLine, SetsThePixelsOfTheOnePixelLineInTheBitmapsFormat) {
    const Segment segments[] = {{0, 0, 15, 9}, {3, 9, 3, 0}, {-5, 2, 30, 7}, {14, 1, 1, 8}, {6, 6, 6, 6}};
    for (int format : {kFormatARGB, kFormatBGRA, kFormatRGB565, kFormatRGB555Swapped}) {
        SetPlatformPixelFormat(format);
        BitmapPtr drawn(AllocBitmap(16, 10, 0, nullptr));
        BitmapPtr reference(AllocBitmap(16, 10, 0, nullptr));
        ASSERT_TRUE(drawn && reference);
        FillBitmapRect(drawn.get(), 0, 0, 16, 10, 0);
        FillBitmapRect(reference.get(), 0, 0, 16, 10, 0);
        for (const Segment& s : segments) {
            DrawBitmapLine(drawn.get(), s.x1, s.y1, s.x2, s.y2, 0xF81008);
            qbBitmapLock lock;
            ASSERT_NE(LockBitmap(reference.get(), 0, &lock), 0u);
            BlendContext ctx;
            ctx.pixels = lock.pixels;
            ctx.rowLength = lock.rowLength;
            ctx.bytesPerPixel = static_cast<int32_t>(lock.bytesPerPixel);
            ctx.format = lock.pixelFormat;
            ctx.clip = {0, 0, 16, 10};
            const uint8_t rgb[3] = {0xF8, 0x10, 0x08};
            uint32_t pixel = 0;
            WritePixelRGB(&pixel, format, rgb);
            ctx.colour = lock.bytesPerPixel == 4 ? 0xF81008u : pixel;
            ctx.layout = format >= kFormatRGB565 ? Layout16::RGB565 : Layout16::RGB555;
            DrawPixelLine(ctx, s.x1, s.y1, s.x2, s.y2);
            const std::vector<uint8_t> want = Rows(lock);
            UnlockBitmap(&lock);
            ASSERT_NE(LockBitmap(drawn.get(), kLockReadOnly, &lock), 0u);
            EXPECT_EQ(Rows(lock), want) << format << " " << s.x1 << "," << s.y1;
            UnlockBitmap(&lock);
        }
        // The colour reads back as given, whatever the format.
        EXPECT_EQ(ReadBitmapPixel(drawn.get(), 6, 6, false), 0xF81008u) << format;
        EXPECT_EQ(ReadBitmapPixel(drawn.get(), 15, 0, false), 0u) << format;
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}

// A wide and a tall bitmap: lines along the far row and column and through
// the far corner reach the last pixel of each axis and no further.
TEST(BitmapLine, ReachesTheFarEdgeOfWideAndTallBitmaps) {
    SetPlatformPixelFormat(kFormatARGB);
    for (const auto& [w, h] : {std::pair{23, 7}, std::pair{7, 23}}) {
        BitmapPtr bitmap(AllocBitmap(w, h, 0, nullptr));
        ASSERT_TRUE(bitmap);
        FillBitmapRect(bitmap.get(), 0, 0, w, h, 0);
        DrawBitmapLine(bitmap.get(), -4, h - 1, w + 4, h - 1, 0xFFFFFF);
        DrawBitmapLine(bitmap.get(), w - 1, h + 4, w - 1, -4, 0xFFFFFF);
        DrawBitmapLine(bitmap.get(), w - 3, h - 3, w + 6, h + 6, 0xFFFFFF);
        int lit = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) lit += ReadBitmapPixel(bitmap.get(), x, y, false) != 0;
        EXPECT_EQ(lit, w + h - 1 + 2) << w << "x" << h;
        EXPECT_NE(ReadBitmapPixel(bitmap.get(), w - 1, 0, false), 0u) << w << "x" << h;
        EXPECT_NE(ReadBitmapPixel(bitmap.get(), 0, h - 1, false), 0u) << w << "x" << h;
        EXPECT_NE(ReadBitmapPixel(bitmap.get(), w - 2, h - 2, false), 0u) << w << "x" << h;
    }
    SetPlatformPixelFormat(kPixelFormatUnset);
}
