// The full screen's scaling kernel against a plain reference of the same
// formulas (nearest by centres; bilinear: top = a + ((b - a) x fx >> 16),
// bottom likewise, result = top + ((bottom - top) x fy >> 16)), on random
// pictures of odd sizes, whole and in rectangles, at full and faded level.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/linux/sdl_backend.h"

namespace {

uint32_t Reference(const sdl_backend::Desktop& d, const sdl_backend::ScreenPlacement& p, int dx, int dy, bool smooth,
                   int level) {
    uint32_t out = 0;
    if (!smooth) {
        out = d.screen[static_cast<size_t>(sdl_backend::NearestSource(dy, d.height, p.height)) * d.width +
                       sdl_backend::NearestSource(dx, d.width, p.width)];
    } else {
        const int64_t stepX = (int64_t{d.width} << 16) / p.width, stepY = (int64_t{d.height} << 16) / p.height;
        const int64_t px = dx * stepX, py = dy * stepY;
        const int sx = std::min(static_cast<int>(px >> 16), d.width - 1), sy = std::min(static_cast<int>(py >> 16), d.height - 1);
        const int sx1 = std::min(sx + 1, d.width - 1), sy1 = std::min(sy + 1, d.height - 1);
        const int fx = static_cast<int>(px & 0xFFFF), fy = static_cast<int>(py & 0xFFFF);
        const auto at = [&](int x, int y) { return d.screen[static_cast<size_t>(y) * d.width + x]; };
        for (int shift = 0; shift <= 16; shift += 8) {
            const int a = (at(sx, sy) >> shift) & 0xFF, b = (at(sx1, sy) >> shift) & 0xFF;
            const int c = (at(sx, sy1) >> shift) & 0xFF, e = (at(sx1, sy1) >> shift) & 0xFF;
            const int top = a + (((b - a) * fx) >> 16), bottom = c + (((e - c) * fx) >> 16);
            out |= static_cast<uint32_t>(top + (((bottom - top) * fy) >> 16)) << shift;
        }
    }
    uint32_t faded = 0;
    for (int shift = 0; shift <= 16; shift += 8) faded |= ((((out >> shift) & 0xFF) * static_cast<uint32_t>(level)) >> 8) << shift;
    return faded;
}

TEST(ScreenScale, TheKernelMatchesThePlainReference) {
    std::mt19937 random(5);
    for (const auto& [sw, sh, tw, th] : {std::tuple{13, 7, 101, 67}, std::tuple{640, 400, 1024, 768},
                                         std::tuple{33, 45, 64, 64}, std::tuple{300, 200, 211, 150}}) {
        sdl_backend::Desktop d;
        d.width = sw;
        d.height = sh;
        d.screen.resize(static_cast<size_t>(sw) * sh);
        for (uint32_t& p : d.screen) p = 0xFF000000u | (random() & 0xFFFFFF);
        SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, tw, th, 32, SDL_PIXELFORMAT_XRGB8888);
        ASSERT_NE(target, nullptr);
        const sdl_backend::ScreenPlacement p = sdl_backend::FitScreen(sw, sh, tw, th);
        for (bool smooth : {false, true}) {
            for (int level : {256, 100}) {
                const SDL_Rect whole{p.x, p.y, p.width, p.height};
                const SDL_Rect part{p.x + p.width / 3, p.y + p.height / 4, p.width / 2 + 1, p.height / 3 + 1};
                for (const SDL_Rect& r : {whole, part}) {
                    sdl_backend::ScaleScreenRect(d, target, p, r, smooth, level);
                    int wrong = 0;
                    for (int y = r.y; y < r.y + r.h; ++y)
                        for (int x = r.x; x < r.x + r.w; ++x) {
                            const auto* row = static_cast<const uint32_t*>(target->pixels) + y * (target->pitch / 4);
                            wrong += (row[x] & 0xFFFFFF) != Reference(d, p, x - p.x, y - p.y, smooth, level);
                        }
                    EXPECT_EQ(wrong, 0) << sw << "x" << sh << " to " << tw << "x" << th << " smooth " << smooth
                                        << " level " << level << " rect " << r.w << "x" << r.h;
                }
            }
        }
        SDL_FreeSurface(target);
    }
}

}  // namespace
