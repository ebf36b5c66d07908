// Text drawn with a transparency or a filter, layers off, on every road it
// takes (the band of lines, the whole block, the sharp glyphs under a scale
// or a turn, a fixed-size font's pixels transformed, a text object): every
// pixel of the text is faded or filtered, across its whole width and
// height, which under a scale differ from the unscaled block's and from
// each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "text_world.h"

namespace {

constexpr uint32_t kRed = 0xFF0000;
constexpr const char* kText = "Wavy text, wide";

struct Shot {
    std::vector<uint32_t> pixels;  // 640 x 480
    int32_t left = 640, right = -1, top = 480, bottom = -1;
    int32_t inked = 0;
};

class TextFiltersWorld : public TextWorld {
protected:
    // What one drawing leaves on a black screen.
    Shot Take(const std::function<int()>& draw) {
        qbBitmap* screen = display_->spriteFreeBuffer.get();
        FillBitmapRect(screen, 0, 0, 640, 480, 0);
        EXPECT_EQ(draw(), 0);
        VmSetTop(L_, 0);
        Shot s;
        s.pixels.resize(640 * 480);
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x) {
                const uint32_t p = ReadBitmapPixel(screen, x, y, false) & 0xFFFFFF;
                s.pixels[static_cast<size_t>(y) * 640 + x] = p;
                if (!p) continue;
                ++s.inked;
                s.left = std::min(s.left, x), s.right = std::max(s.right, x);
                s.top = std::min(s.top, y), s.bottom = std::max(s.bottom, y);
            }
        return s;
    }
    // The options of one road, then the effect's.
    void Options(double sx, double sy, double rotate, const std::function<void()>& effect) {
        VmPushNewTable(L_);
        SetTableFieldFloat(L_, "color", kRed);
        if (sx != 1) SetTableFieldFloat(L_, "scalex", sx);
        if (sy != 1) SetTableFieldFloat(L_, "scaley", sy);
        if (rotate != 0) SetTableFieldFloat(L_, "rotate", rotate);
        if (effect) effect();
    }
    int TextOut(double sx, double sy, double rotate, const std::function<void()>& effect) {
        VmPushNumber(L_, 40);
        VmPushNumber(L_, 150);
        VmPushString(L_, kText);
        Options(sx, sy, rotate, effect);
        return Run("TextOut", 4);
    }
    int ShowObject(double sx, double sy, double rotate, const std::function<void()>& effect) {
        VmPushNumber(L_, 1);
        VmPushNumber(L_, 40);
        VmPushNumber(L_, 150);
        Options(sx, sy, rotate, effect);
        return Run("DisplayTextObject", 4);
    }
};

TEST_F(TextFiltersWorld, EveryRoadFadesAndFiltersTheWholeText) {
    struct Road {
        const char* what;
        const char* font;
        int32_t size;
        bool object;
        double sx, sy, rotate;
    };
    const Road roads[] = {
        {"plain", ":::default_sans", 20, false, 1, 1, 0},
        {"scaled wide", ":::default_sans", 20, false, 3, 1.5, 0},
        {"scaled taller than wide", ":::default_sans", 10, false, 1, 12, 0},
        {"scaled and turned", ":::default_sans", 14, false, 2, 2, 25},
        {"a fixed-size font scaled", "topaz", 8, false, 3, 2, 0},
        {"a text object", ":::default_sans", 20, true, 1, 1, 0},
        {"a text object scaled", ":::default_sans", 20, true, 3, 1.5, 0},
    };
    const auto fade = [&] { SetTableFieldInt(L_, "transparency", 128); };
    const auto grey = [&] {
        VmPushString(L_, "filters");
        VmPushNewTable(L_);
        VmPushNumber(L_, 0);
        VmPushNewTable(L_);
        SetTableFieldString(L_, "name", "grayscale");
        VmSetTableAt(L_, -3);
        VmSetTableAt(L_, -3);
    };
    for (const Road& r : roads) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(SetFont(r.font, r.size), 0);
        if (r.object) {
            VmPushNumber(L_, 1);
            VmPushString(L_, kText);
            VmPushNewTable(L_);
            SetTableFieldFloat(L_, "color", kRed);
            ASSERT_EQ(Run("CreateTextObject", 3), 0);
        }
        const auto draw = [&](const std::function<void()>& effect) {
            return Take([&] {
                return r.object ? ShowObject(r.sx, r.sy, r.rotate, effect) : TextOut(r.sx, r.sy, r.rotate, effect);
            });
        };
        const Shot plain = draw(nullptr);
        ASSERT_GT(plain.inked, 150);
        const int32_t width = plain.right - plain.left + 1, height = plain.bottom - plain.top + 1;
        EXPECT_GT(std::abs(width - height), 20) << "a square would hide an axis swapped";
        const Shot faded = draw(fade);
        const Shot greyed = draw(grey);
        // Faded: half the red wherever the plain text is red, nothing
        // elsewhere; greyed: no colour anywhere, and ink across the box.
        int32_t unfaded = 0, coloured = 0, fadedInk = 0;
        for (size_t i = 0; i < plain.pixels.size(); ++i) {
            const uint32_t was = plain.pixels[i] >> 16 & 0xFF, now = faded.pixels[i] >> 16 & 0xFF;
            unfaded += now > was * 6 / 10 + 4;
            fadedInk += was > 0x80 && now > 0x30;
            const uint32_t g = greyed.pixels[i];
            const int32_t red = g >> 16 & 0xFF, green = g >> 8 & 0xFF, blue = g & 0xFF;
            coloured += std::max({red, green, blue}) - std::min({red, green, blue}) > 4;
        }
        EXPECT_EQ(unfaded, 0);
        EXPECT_GT(fadedInk, plain.inked / 3);
        EXPECT_EQ(faded.right - faded.left + 1, width);
        EXPECT_EQ(coloured, 0);
        EXPECT_GT(greyed.inked, plain.inked / 2);
        EXPECT_EQ(greyed.right - greyed.left + 1, width);
        EXPECT_EQ(greyed.bottom - greyed.top + 1, height);
        if (r.object) {
            VmPushNumber(L_, 1);
            ASSERT_EQ(Run("FreeTextObject", 1), 0);
        }
    }
}

}  // namespace
