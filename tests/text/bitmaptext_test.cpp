// Drawing and measuring bitmap fonts against a plain renderer written here
// from the format: every mode, clipped by the clip rectangle and the target,
// including glyphs that kerning puts left of the target.
#include <gtest/gtest.h>

#include <string>

#include "imaging/bitmap.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontwriter.h"

using namespace fontfixture;

namespace {

constexpr uint32_t kPaper = 0x102030;
constexpr uint32_t kInk = 0xF0E0D0;

// What a glyph run leaves on a width x height page: -1 where nothing is
// drawn, else the colour (1 for a set mask bit).
std::vector<int64_t> Reference(const FontLayout& s, int width, int height, int x, int y, const std::string& text,
                               const qbClipRect& clip, bool maskMode) {
    std::vector<int64_t> page(static_cast<size_t>(width * height), -1);
    int pen = x;
    for (unsigned char c : text) {
        const int index = c >= s.loChar && c <= s.hiChar ? c - s.loChar : s.count() - 1;
        if (!s.kern.empty()) pen += s.kern[static_cast<size_t>(index)];
        const uint32_t loc = s.charLoc[static_cast<size_t>(index)];
        for (int row = 0; row < s.ySize; ++row)
            for (int col = 0; col < static_cast<int>(loc & 0xFFFF); ++col) {
                const int px = pen + col, py = y + row;
                if (px < 0 || py < 0 || px >= width || py >= height) continue;
                if (!maskMode && (px < clip.x || py < clip.y || px >= clip.x + clip.width || py >= clip.y + clip.height))
                    continue;
                const uint32_t v = StripPixel(s, static_cast<int>(loc >> 16) + col, row);
                if (!s.colour && v) page[static_cast<size_t>(py * width + px)] = maskMode ? 1 : kInk;
                if (s.colour && v != 0 && v < s.colours.size())
                    page[static_cast<size_t>(py * width + px)] = PaletteColour(s, v);
            }
        pen += s.space.empty() ? s.xSize : s.space[static_cast<size_t>(index)];
    }
    return page;
}

class BitmapText : public ::testing::Test {
protected:
    void TearDown() override { ShutdownFontEngines(); }

    qbFont* Open(const FontLayout& s, const std::string& name) {
        fonts_.emplace_back(std::make_unique<qbFont>().release());
        const std::string contents = dir_.WriteFont(name, {{s.ySize, WriteFontFile(s)}});
        EXPECT_EQ(LoadBitmapFont(contents.c_str(), s.ySize, fonts_.back().get(), nullptr), 1);
        return fonts_.back().get();
    }

    // Draws into a fresh page and compares with the reference pixel by pixel.
    void Check(const FontLayout& s, qbFont* font, int x, int y, const std::string& text, const qbClipRect& clip,
               bool maskMode) {
        constexpr int kWidth = 40, kHeight = 14;
        BitmapPtr page(AllocBitmap(kWidth, kHeight, 0, nullptr));
        BitmapPtr mask(AllocMask(nullptr, kWidth, kHeight, true, nullptr, 0));
        ASSERT_TRUE(page && mask);
        FillBitmapRectForTest(page.get(), kWidth, kHeight);
        qbBitmap* target = maskMode && !s.colour ? mask.get() : page.get();
        RenderBitmapText(font, target, mask.get(), x, y, text.data(), text.size(), clip,
                         maskMode ? kFontPenMask : kInk);
        const std::vector<int64_t> want = Reference(s, kWidth, kHeight, x, y, text, clip, maskMode);
        for (int py = 0; py < kHeight; ++py)
            for (int px = 0; px < kWidth; ++px) {
                const int64_t w = want[static_cast<size_t>(py * kWidth + px)];
                const uint32_t colour = ReadBitmapPixel(page.get(), px, py, false);
                const uint32_t bit = ReadBitmapPixel(mask.get(), px, py, true);
                const std::string where = text + " at " + std::to_string(px) + "," + std::to_string(py);
                if (maskMode && !s.colour) {
                    ASSERT_EQ(bit, w == 1 ? 1u : 0u) << where;
                    ASSERT_EQ(colour, kPaper) << where;
                } else {
                    ASSERT_EQ(colour, w < 0 ? kPaper : static_cast<uint32_t>(w)) << where;
                    ASSERT_EQ(bit, maskMode && w >= 0 ? 1u : 0u) << where;
                }
            }
    }

    static void FillBitmapRectForTest(qbBitmap* page, int width, int height) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) WriteBitmapPixel(page, x, y, kPaper, false);
    }

    ScratchFolder dir_;
    std::vector<FontPtr> fonts_;
};

}  // namespace

TEST_F(BitmapText, EveryModeMatchesThePlainRendererAndStaysInsideItsClip) {
    const FontLayout layouts[] = {Proportional(false), Proportional(true), Monospaced(), Colour(2), Colour(3)};
    const qbClipRect clips[] = {{0, 0, 40, 14}, {5, 2, 17, 5}, {-10, -10, 100, 100}, {39, 13, 1, 1}, {3, 3, 0, 5}};
    const std::string texts[] = {"abcde", "edcba", "a\x01z\xff", "bbbbbbbbbb", ""};
    int n = 0;
    for (const FontLayout& s : layouts) {
        qbFont* font = Open(s, "f" + std::to_string(n++));
        ASSERT_TRUE(BitmapDataOf(font));
        for (const qbClipRect& clip : clips)
            for (const std::string& text : texts)
                for (int x : {-3, 0, 2, 35})
                    for (int y : {-2, 0, 9})
                        for (bool maskMode : {false, true}) {
                            SCOPED_TRACE(testing::Message() << "font " << n - 1 << " x " << x << " y " << y
                                                            << " clip " << clip.x << "," << clip.y << " mask "
                                                            << maskMode);
                            Check(s, font, x, y, text, clip, maskMode);
                            if (HasFatalFailure()) return;
                        }
    }
}

TEST_F(BitmapText, ClipGlyphRectMovesTheSourceWithTheCut) {
    int32_t sx = 10, sy = 0, dx = 3, dy = 1, w = 8, h = 8;
    ASSERT_TRUE(ClipGlyphRect(&sx, &sy, &dx, &dy, &w, &h, qbClipRect{5, 4, 4, 20}));
    EXPECT_EQ((std::vector<int32_t>{sx, sy, dx, dy, w, h}), (std::vector<int32_t>{12, 3, 5, 4, 4, 5}));
    sx = 0, sy = 0, dx = -20, dy = 0, w = 8, h = 8;
    EXPECT_FALSE(ClipGlyphRect(&sx, &sy, &dx, &dy, &w, &h, qbClipRect{0, 0, 10, 10}));
    sx = 0, sy = 0, dx = 0, dy = INT32_MIN, w = 8, h = 8;
    EXPECT_FALSE(ClipGlyphRect(&sx, &sy, &dx, &dy, &w, &h, qbClipRect{0, 0, 10, 10}));
}

TEST_F(BitmapText, MeasuringFollowsTheTables) {
    qbTextExtents e;
    qbFont* mono = Open(Monospaced(), "mono");
    MeasureBitmapText(mono, "abc", 3, &e);
    EXPECT_EQ((std::vector<int32_t>{e.width, e.height, e.inkLeft, e.inkTop, e.inkRight, e.inkBottom}),
              (std::vector<int32_t>{24, 8, 0, -6, 23, 1}));

    // Kerns 0, -2, 1 and spaces 4, 10, 6 over widths 3, 9, 5: "abc" puts
    // glyphs at 0, 2 and 13, the pen ends at 19, the ink at 0..18.
    qbFont* kerned = Open(Proportional(true), "kerned");
    MeasureBitmapText(kerned, "abc", 3, &e);
    EXPECT_EQ((std::vector<int32_t>{e.width, e.height, e.inkLeft, e.inkTop, e.inkRight, e.inkBottom}),
              (std::vector<int32_t>{19, 7, 0, -5, 18, 1}));
    // "ba": b at -2 (ink from -2), a at 8 + 0, pen 12.
    MeasureBitmapText(kerned, "ba", 2, &e);
    EXPECT_EQ((std::vector<int32_t>{e.width, e.inkLeft, e.inkRight}), (std::vector<int32_t>{12, -2, 11}));
    EXPECT_EQ(BitmapFontKerning(), 0);
}

TEST_F(BitmapText, TopazDrawsCharacter160AsTheSpaceAndCharactersBelow32AsItsOutsideGlyph) {
    qbFont* topaz = nullptr;
    ASSERT_EQ(GetDefaultFont(&topaz), 0);
    const qbBitmapFontData& d = *BitmapDataOf(topaz);
    EXPECT_EQ(d.charLoc[160 - 32], d.charLoc[0]);
    EXPECT_EQ(d.charLoc.back(), 1496u << 16 | 8);
    EXPECT_EQ(d.charLoc[255 - 32], 1528u << 16 | 8) << "the last glyph lies inside the wider strip";
    EXPECT_EQ(d.modulo * 8, 1536);
    qbTextExtents e;
    MeasureBitmapText(topaz, "Hello", 5, &e);
    EXPECT_EQ((std::vector<int32_t>{e.width, e.height, e.inkLeft, e.inkTop, e.inkRight, e.inkBottom}),
              (std::vector<int32_t>{40, 8, 0, -6, 39, 1}));

    auto draw = [&](const std::string& text) {
        BitmapPtr mask(AllocMask(nullptr, 16, 8, true, nullptr, 0));
        RenderBitmapText(topaz, mask.get(), nullptr, 0, 0, text.data(), text.size(), qbClipRect{}, kFontPenMask);
        std::string bits;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) bits += ReadBitmapPixel(mask.get(), x, y, true) ? '#' : '.';
        return bits;
    };
    EXPECT_EQ(draw("\xa0"), draw(" "));
    EXPECT_EQ(draw("\x01"), draw("\xfb")) << "the outside glyph sits at the slot of character 251";
    EXPECT_NE(draw("A"), draw(" "));
    EXPECT_NE(draw("\xff"), draw(" ")) << "y-diaeresis has ink";
}
