// Text under a turn or a mirror in a scalable font: the glyphs are drawn at
// the size the transform scales to and then turned or mirrored, so they are
// the sharp glyphs moved, not the small glyphs blown up in blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/bitmap.h"
#include "objects/objectoptions.h"
#include "text_world.h"

namespace {

// InkBox of a bitmap's region cut to its bounding box.
struct InkBox {
    int32_t width = 0, height = 0;
    std::vector<char> cells;
    int32_t count = 0;
    bool At(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height && cells[static_cast<size_t>(y) * width + x];
    }
};

InkBox InkOf(qbBitmap* b, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const uint32_t ground = ReadBitmapPixel(b, 639, 479, false);
    int32_t left = x1, top = y1, right = x0 - 1, bottom = y0 - 1;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            if (ReadBitmapPixel(b, x, y, false) != ground) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    InkBox ink;
    if (right < left) return ink;
    ink.width = right - left + 1;
    ink.height = bottom - top + 1;
    ink.cells.resize(static_cast<size_t>(ink.width) * ink.height);
    for (int32_t y = 0; y < ink.height; ++y)
        for (int32_t x = 0; x < ink.width; ++x) {
            const bool on = ReadBitmapPixel(b, left + x, top + y, false) != ground;
            ink.cells[static_cast<size_t>(y) * ink.width + x] = on;
            ink.count += on;
        }
    return ink;
}

// The ink under the matrix (tx = m0 x + m2 y, ty = m1 x + m3 y, as bitmaps
// are transformed), each
// target pixel taken from the nearest source pixel, cut to its box again.
InkBox Moved(const InkBox& in, const double m[4]) {
    const double det = m[0] * m[3] - m[1] * m[2];
    const double inv[4] = {m[3] / det, -m[2] / det, -m[1] / det, m[0] / det};
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (double cx : {0.0, 1.0 * in.width})
        for (double cy : {0.0, 1.0 * in.height}) {
            const double tx = m[0] * cx + m[2] * cy, ty = m[1] * cx + m[3] * cy;
            minX = std::min(minX, tx), maxX = std::max(maxX, tx);
            minY = std::min(minY, ty), maxY = std::max(maxY, ty);
        }
    const int32_t w = static_cast<int32_t>(std::ceil(maxX - minX)), h = static_cast<int32_t>(std::ceil(maxY - minY));
    std::vector<char> out(static_cast<size_t>(w) * h);
    int32_t left = w, top = h, right = -1, bottom = -1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double tx = minX + x + 0.5, ty = minY + y + 0.5;
            const double sx = inv[0] * tx + inv[1] * ty, sy = inv[2] * tx + inv[3] * ty;
            const bool on = in.At(static_cast<int32_t>(std::floor(sx)), static_cast<int32_t>(std::floor(sy)));
            out[static_cast<size_t>(y) * w + x] = on;
            if (on) left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    InkBox ink;
    ink.width = right - left + 1;
    ink.height = bottom - top + 1;
    ink.cells.resize(static_cast<size_t>(ink.width) * ink.height);
    for (int32_t y = 0; y < ink.height; ++y)
        for (int32_t x = 0; x < ink.width; ++x) {
            const bool on = out[static_cast<size_t>(top + y) * w + left + x];
            ink.cells[static_cast<size_t>(y) * ink.width + x] = on;
            ink.count += on;
        }
    return ink;
}

// Cells where the two differ, their boxes' top lefts laid together, as a
// share of the first one's ink.
double Differing(const InkBox& a, const InkBox& b) {
    int32_t n = 0;
    for (int32_t y = 0; y < std::max(a.height, b.height); ++y)
        for (int32_t x = 0; x < std::max(a.width, b.width); ++x) n += a.At(x, y) != b.At(x, y);
    return a.count ? double(n) / a.count : 1.0;
}

class TextTurnWorld : public TextWorld {
protected:
    void SetUp() override {
        TextWorld::SetUp();
        ASSERT_EQ(SetFont(":::default_sans", 16), 0);
    }
    // TextOut with {scalex, scaley, rotate}.
    int TransformedTextOut(int32_t x, int32_t y, const char* text, double sx, double sy, double rotate = 0) {
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushString(L_, text);
        VmPushNewTable(L_);
        SetTableFieldFloat(L_, "scalex", sx);
        SetTableFieldFloat(L_, "scaley", sy);
        if (rotate != 0) SetTableFieldFloat(L_, "rotate", rotate);
        return Run("TextOut", 4);
    }
    // What the window shows: the composed layers with layers on.
    qbBitmap* Screen() {
        return display_->layersEnabled ? display_->backBuffer.get() : display_->spriteFreeBuffer.get();
    }
    // The sharp glyphs: the text at three times its size, drawn by the font.
    InkBox Sharp(const char* text) {
        EXPECT_EQ(TransformedTextOut(20, 20, text, 3, 3), 0);
        const InkBox ink = InkOf(Screen(), 0, 0, 640, 200);
        EXPECT_GT(ink.count, 500);
        return ink;
    }
    // The glyphs at their own size, their pixels blown up three times.
    InkBox Blocks(const char* text) {
        EXPECT_EQ(TextOutPlain(20, 400, text), 0);
        const InkBox small = InkOf(Screen(), 0, 380, 640, 479);
        const double three[4] = {3, 0, 0, 3};
        return Moved(small, three);
    }
};

TEST_F(TextTurnWorld, MirroredTextOutIsTheSharpTextMirrored) {
    const InkBox sharp = Sharp("Wavy");
    const InkBox blocks = Blocks("Wavy");
    ASSERT_EQ(TransformedTextOut(400, 220, "Wavy", -3, 3), 0);
    const InkBox mirrored = InkOf(Screen(), 0, 200, 640, 380);
    const double flip[4] = {-1, 0, 0, 1};
    const InkBox expected = Moved(sharp, flip);
    EXPECT_LT(Differing(expected, mirrored), 0.02);
    EXPECT_GT(Differing(Moved(blocks, flip), mirrored), 0.08);
}

TEST_F(TextTurnWorld, AScaledAndTurnedTextLayerIsTheSharpTextTurned) {
    const InkBox sharp = Sharp("Wavy");
    const InkBox blocks = Blocks("Wavy");
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(TextOutPlain(300, 250, "Wavy"), 0);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldFloat(L_, "scalex", 3);
    SetTableFieldFloat(L_, "scaley", 3);
    SetTableFieldFloat(L_, "rotate", 20);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);
    const InkBox turned = InkOf(Screen(), 200, 150, 640, 479);
    double turn[4];
    BuildScaleRotateMatrix(turn, 0, 0, 1, 1, 1, 1, 20);
    // Turning by nearest pixels frays the edges a little either way.
    const double sharpOff = Differing(Moved(sharp, turn), turned);
    const double blocksOff = Differing(Moved(blocks, turn), turned);
    EXPECT_LT(sharpOff, 0.25);
    EXPECT_LT(sharpOff * 3, blocksOff);
}

// A text object shown scaled, mirrored or turned with layers off is drawn
// as a layer shows it: the glyphs drawn anew at three times their size
// (the edges of TextOut at that size), not the small ones in 3 x 3 blocks.
TEST_F(TextTurnWorld, AScaledMirroredOrTurnedTextObjectIsSharpWithLayersOffToo) {
    const InkBox blocks = Blocks("Wavy");  // below y 380
    VmPushNumber(L_, 1);
    VmPushString(L_, "Wavy");
    ASSERT_EQ(Run("CreateTextObject", 2), 0);
    struct Way {
        double sx, sy, rotate;
        int32_t y0, y1;
    };
    const Way ways[] = {{3, 3, 0, 0, 100}, {-3, 3, 0, 100, 200}, {3, 3, 20, 200, 380}};
    const auto show = [&](int32_t x, const Way& w) {
        VmPushNumber(L_, 1);
        VmPushNumber(L_, x);
        VmPushNumber(L_, w.y0 + (w.rotate != 0 ? 80 : 20));
        VmPushNewTable(L_);
        SetTableFieldFloat(L_, "scalex", w.sx);
        SetTableFieldFloat(L_, "scaley", w.sy);
        if (w.rotate != 0) SetTableFieldFloat(L_, "rotate", w.rotate);
        return Run("DisplayTextObject", 4);
    };
    // Layers off on the left, on on the right.
    const auto inks = [&](int32_t x0) {
        std::vector<InkBox> out;
        for (const Way& w : ways) out.push_back(InkOf(Screen(), x0, w.y0, x0 + 320, w.y1));
        return out;
    };
    for (const Way& w : ways) ASSERT_EQ(show(w.sx < 0 ? 240 : 20, w), 0);
    const std::vector<InkBox> off = inks(0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (const Way& w : ways) ASSERT_EQ(show(w.sx < 0 ? 560 : 340, w), 0);
    const std::vector<InkBox> on = inks(320);
    for (size_t i = 0; i < std::size(ways); ++i) {
        const Way& w = ways[i];
        SCOPED_TRACE(w.sx * 100 + w.rotate);
        double m[4];
        BuildScaleRotateMatrix(m, 0, 0, 1, 1, w.sx < 0 ? -1 : 1, 1, w.rotate);
        ASSERT_GT(off[i].count, 500);
        EXPECT_LT(Differing(on[i], off[i]), 0.02);
        EXPECT_GT(Differing(Moved(blocks, m), off[i]), 0.08);
    }
}

}  // namespace
