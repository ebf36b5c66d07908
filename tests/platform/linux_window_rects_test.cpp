// A rectangle list from a bitmap whose pixels the window surface cannot
// take as they are: SDL converts each rectangle of the list, and only
// those of the list.
#include <cstring>
#include <vector>

#include "core/nativebitmap.h"
#include "linux_fixture.h"

namespace {

using WindowRectsTest = LinuxBackendTest;

TEST_F(WindowRectsTest, AConvertedRectangleListShowsWhatBlitsOneByOneShow) {
    OpenBlack(Display(0), 30, 20);
    const auto window = [&] {
        std::vector<uint32_t> p;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x) p.push_back(SurfacePixel(Display(0), x, y));
        return p;
    };
    // 24-bit RGB and 32-bit ABGR: both go through SDL's conversion.
    for (int format : {8, 13}) {
        SCOPED_TRACE(format);
        NativeBitmapPtr bitmap(AllocNativeBitmapInFormat(37, 23, format));
        ASSERT_NE(bitmap, nullptr);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < bitmap->bytesPerRow; ++x)
                bitmap->pixels.get()[y * bitmap->bytesPerRow + x] = static_cast<uint8_t>(x * 7 + y * 131 + 1);
        // The last rectangle is past the count: it is never drawn.
        const qbWindowRect rects[] = {{0, 0, 1, 23}, {16, 0, 3, 23}, {30, 5, 10, 4}, {-4, 2, 6, 3}, {8, 8, 20, 10}};
        FillWindowRect(Display(0), -10, -10, 100, 100, 0);
        BlitRectsToWindow(bitmap.get(), rects, 4, Display(0), -1, 4, 0);
        const std::vector<uint32_t> together = window();
        EXPECT_NE(together, std::vector<uint32_t>(600, 0u));
        FillWindowRect(Display(0), -10, -10, 100, 100, 0);
        for (int i = 0; i < 4; ++i)
            BlitToWindow(bitmap.get(), rects[i].x, rects[i].y, Display(0), rects[i].x - 1, rects[i].y + 4,
                         rects[i].width, rects[i].height, 0, 0, 0);
        EXPECT_EQ(together, window());
    }
}

}  // namespace
