// Every brush filter on a brush taller than wide and one wider than tall,
// checked pixel by pixel over the whole brush, so that a width taken for a
// height (or the reverse) leaves a part unfiltered and shows. The picture
// repeats every 24 pixels along its long side, and every filter but the two
// that move pixels about the middle works the same wherever it is, so two
// pixels a period apart, both far enough from the ends, come out alike. The
// swirl and the ripple move each pixel from a place its colour names: the
// places come out the same turned half round the middle, within a pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "show_fixture.h"

namespace {

constexpr int32_t kShort = 24, kLong = 64;
// Past the farthest any filter below reads from its pixel.
constexpr int32_t kReach = 8;

using Arg = NumberOrText;

struct Member {
    const char* command;
    std::vector<Arg> args;
    bool turnsAboutTheMiddle = false;
};

std::vector<Member> Members() {
    return {
        {"BlurBrush", {{2}, {1.5}}},
        {"SharpenBrush", {{1}}},
        {"EmbossBrush", {{1}}},
        {"EdgeBrush", {}},
        {"CharcoalBrush", {{1}}},
        {"OilPaintBrush", {{2}}},
        {"SwirlBrush", {{90}}, true},
        {"WaterRippleBrush", {{8}, {2}, {3}}, true},
        {"PixelateBrush", {{3}}},
        {"TintBrush", {{0xC06020}, {100}}},
        {"BrushToGray", {}},
        {"BrushToMonochrome", {{0}}},
        {"SepiaToneBrush", {{0, "80%"}}},
        {"SolarizeBrush", {{100}}},
        {"GammaBrush", {{0.5}, {1.5}, {2.5}}},
        {"ContrastBrush", {{1}, {2}}},
        {"ModulateBrush", {{120}, {70}, {100}}},
        {"InvertBrush", {}},
        {"FlipBrush", {{0}}},
        {"FlipBrush", {{1}}},
        {"QuantizeBrush", {{16}, {0}}},
        {"ReduceAlphaChannel", {{100}}},
        {"MixBrush", {{2}, {100}}},
        {"ReplaceColors", {}},
    };
}

class FilterShapesTest : public ShowWorld {
protected:
    // A picture of width x height with an alpha plane, each pixel's ARGB
    // from pattern(x, y).
    template <class Pattern>
    void Picture(int32_t id, int32_t width, int32_t height, Pattern pattern) {
        MakeBrush(id, width, height, 0);
        ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {double(id), 30}), 0);
        qbBrush* b = Brush(id);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t argb = pattern(x, y);
                WriteBitmapPixel(b->bitmap, x, y, argb & 0xFFFFFFu, false);
                b->alpha->plane->data[y * b->alpha->plane->rowBytes + x] = static_cast<uint8_t>(argb >> 24);
            }
    }
    std::vector<uint32_t> Pixels(int32_t id) {
        qbBrush* b = Brush(id);
        return GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, true, kLockReadOnly);
    }
    int Filter(const Member& m) {
        if (std::string(m.command) != "ReplaceColors") return Call(m.command, 1, m.args);
        // Two colours the picture holds once a period, at 10, 10 and 11, 10
        // inside the first.
        const std::vector<uint32_t> p = Pixels(1);
        const int32_t w = Brush(1)->width;
        const uint32_t from[2] = {p[10 * w + 10] & 0xFFFFFFu, p[10 * w + 11] & 0xFFFFFFu};
        VmPushNumber(L_, 1);
        VmPushNewTable(L_);
        const double pairs[] = {double(from[0]), 0x102030, double(from[1]), 0x405060, -1};
        for (int i = 0; i < 5; ++i) {
            VmPushNumber(L_, pairs[i]);
            VmRawSetIndex(L_, -2, i);
        }
        const int err = Run("ReplaceColors", 2);
        VmSetTop(L_, 0);
        return err;
    }
};

// Red, green and blue on patterns of their own, the alpha on another.
uint32_t Patterned(int32_t u, int32_t v) {
    const auto r = static_cast<uint32_t>(u * 10 + 5) & 0xFF, g = static_cast<uint32_t>(v * 12 + 7) & 0xFF,
               b = static_cast<uint32_t>((u * v * 7 + 40) & 0xFF), a = static_cast<uint32_t>(255 - (u * 3 + v * 5) % 200);
    return a << 24 | r << 16 | g << 8 | b;
}

// The place a pixel came from: x in red, y in green, a mark in blue, the
// alpha a sum of both.
constexpr uint32_t kPlaceMark = 0x5A;
uint32_t Placed(int32_t x, int32_t y) {
    return static_cast<uint32_t>((x * 3 + y * 5 + 17) & 0xFF) << 24 | static_cast<uint32_t>(x) << 16 |
           static_cast<uint32_t>(y) << 8 | kPlaceMark;
}

TEST_F(FilterShapesTest, EveryFilterCoversTheWholeOfABrushLongerOneWayThanTheOther) {
    for (const bool tall : {true, false}) {
        const int32_t w = tall ? kShort : kLong, h = tall ? kLong : kShort;
        for (const Member& m : Members()) {
            std::string what = std::string(tall ? "tall " : "wide ") + m.command;
            for (const Arg& a : m.args) what += " " + (a.text ? std::string(a.text) : std::to_string(a.number));
            SCOPED_TRACE(what);
            const bool moves = m.turnsAboutTheMiddle;
            // The period runs along the long side; the second picture (the
            // one mixed in) has its own.
            Picture(1, w, h, [&](int32_t x, int32_t y) {
                return moves ? Placed(x, y) : tall ? Patterned(x, y % kShort) : Patterned(x % kShort, y);
            });
            Picture(2, w, h, [&](int32_t x, int32_t y) {
                return tall ? Patterned(y % kShort, x) : Patterned(y, x % kShort);
            });
            const std::vector<uint32_t> before = Pixels(1);
            ASSERT_EQ(Filter(m), 0);
            const std::vector<uint32_t> after = Pixels(1);
            ASSERT_EQ(after.size(), before.size());
            const auto at = [&](const std::vector<uint32_t>& p, int32_t x, int32_t y) { return p[y * w + x]; };
            int wrong = 0, changed = 0;
            const auto fail = [&](int32_t x, int32_t y, int32_t tx, int32_t ty) {
                ++wrong;
                ADD_FAILURE() << x << ", " << y << " became " << std::hex << at(after, x, y) << std::dec << ", " << tx
                              << ", " << ty << " became " << std::hex << at(after, tx, ty);
            };
            for (int32_t y = 0; y < h && wrong < 5; ++y)
                for (int32_t x = 0; x < w && wrong < 5; ++x) {
                    const uint32_t p = at(after, x, y);
                    if (moves) {
                        // Each pixel is one of the picture's, alpha and all.
                        const int32_t sx = (p >> 16) & 0xFF, sy = (p >> 8) & 0xFF;
                        if ((p & 0xFF) != kPlaceMark || sx >= w || sy >= h || Placed(sx, sy) != p) {
                            fail(x, y, x, y);
                            continue;
                        }
                        changed += sx != x || sy != y;
                        // Half round the middle (the whole pixel at half the
                        // size): the place it came from turns with it, but
                        // for the pixels taken from the edges, which have
                        // no partner past them.
                        const int32_t tx = w - x, ty = h - y;
                        if (tx >= w || ty >= h) continue;
                        const uint32_t q = at(after, tx, ty);
                        const int32_t qx = (q >> 16) & 0xFF, qy = (q >> 8) & 0xFF;
                        if (sx == 0 || sy == 0 || qx == 0 || qy == 0) continue;
                        if (std::abs(w - qx - sx) > 1 || std::abs(h - qy - sy) > 1) fail(x, y, tx, ty);
                        continue;
                    }
                    const int32_t along = tall ? y : x;
                    if (along < kReach || along + kShort >= (tall ? h : w) - kReach) continue;
                    // A period on, past the reach of both ends.
                    const int32_t tx = tall ? x : x + kShort, ty = tall ? y + kShort : y;
                    changed += p != at(before, x, y);
                    if (p != at(after, tx, ty)) fail(x, y, tx, ty);
                }
            const bool few = std::string(m.command) == "ReplaceColors";
            EXPECT_GT(changed, few ? 1 : w * h / 8) << "the filter changed too little to tell";
            for (int32_t id = 1; id <= 2; ++id) {
                VmPushNumber(L_, id);
                Run("FreeBrush", 1);
                VmSetTop(L_, 0);
            }
        }
    }
}

}  // namespace
