// Layout and composition of styled text over Vera Sans: lines, words, wrap
// and its replay, trimming, alignment, the edge by running sums against the
// plain square loop, shadows, transparency and synthetic styles.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "imaging/blit.h"
#include "text/font.h"
#include "text/inbuiltfont.h"
#include "text/text.h"
#include "text/textcompose.h"
#include "text/textedge.h"
#include "text/textlayout.h"

namespace {

class TextCompose : public ::testing::Test {
protected:
    void SetUp() override {
        InstallInbuiltFontEngine();
        ASSERT_EQ(StartInbuiltEngine(), 0);
        ASSERT_EQ(OpenInbuiltFont("Bitstream Vera Sans", 20, 1, &font_), 1);
        style_.font = &font_;
    }
    void TearDown() override {
        CloseInbuiltFont(&font_);
        ShutdownFontEngines();
    }
    qbTextLayout Layout(const std::string& text, int32_t align = kTextAlignLeft, int32_t wrap = 0) {
        qbTextLayout l;
        l.text = text;
        l.style = style_;
        l.align = align;
        l.wrapWidth = wrap;
        return l;
    }
    std::vector<qbTextSegment> Runs(qbTextLayout l) {
        std::vector<qbTextSegment> runs;
        EXPECT_EQ(LayoutText(nullptr, &l, false, &runs), 0);
        return runs;
    }
    int32_t Width(const std::string& text) {
        qbTextMetrics m;
        MeasureText(text.data(), text.size(), 0, &m, style_);
        return m.width;
    }
    static std::vector<uint8_t> Plane(qbBitmap* plane, int32_t width, int32_t height, bool mask) {
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                out.push_back(static_cast<uint8_t>(ReadBitmapPixel(plane, x, y, mask) ? (mask ? 1 : 0) : 0));
        return out;
    }
    static std::vector<uint8_t> Alpha(const qbComposedText& c) {
        std::vector<uint8_t> out;
        const AlphaRows rows = AlphaRowsOf(c.alpha.get(), 0, 0);
        for (int32_t y = 0; y < c.height; ++y)
            out.insert(out.end(), rows.data + static_cast<size_t>(y) * rows.rowBytes,
                       rows.data + static_cast<size_t>(y) * rows.rowBytes + c.width);
        return out;
    }
    qbComposedText Compose(qbTextLayout l) {
        std::vector<qbTextSegment> runs = Runs(l);
        qbComposedText out;
        EXPECT_EQ(ComposeTextBlock((l.style.flags & kTextAntialias) != 0, l.align, false, 0, &runs, l.style, &out), 0);
        return out;
    }
    qbFont font_;
    qbTextStyle style_;
};

TEST(TextEdge, RunningSumsEqualTheSquareLoopAndStampsFillTheSquare) {
    std::vector<uint8_t> out;
    const uint8_t one = 255;
    EdgeCoverageAntialiased(&one, 1, 1, 1, &out);
    EXPECT_EQ(out, std::vector<uint8_t>(9, 85));
    const uint8_t dim = 1;
    EdgeCoverageStamped(&dim, 1, 1, 1, &out);
    EXPECT_EQ(out, std::vector<uint8_t>(9, 255));
    const std::vector<uint8_t> solid(25, 255);
    EdgeCoverageAntialiased(solid.data(), 5, 5, 1, &out);
    EXPECT_EQ(out[3 * 7 + 3], 255);  // capped inside
    EXPECT_EQ(out[0], 85);

    std::mt19937 random(7);
    std::vector<uint8_t> cov(37 * 23);
    for (uint8_t& c : cov) c = static_cast<uint8_t>(random() % 3 == 0 ? random() : 0);
    for (int32_t e : {1, 4, 8, 64}) {
        std::vector<uint8_t> naive;
        EdgeCoverageAntialiased(cov.data(), 37, 23, e, &out);
        EdgeCoverageAntialiasedNaive(cov.data(), 37, 23, e, &naive);
        EXPECT_EQ(out, naive) << e;
    }
}

TEST_F(TextCompose, LinesWordsTrimmingAndTheWrapReplayed) {
    // CR is dropped and a tab is a space; a left-aligned line keeps its spaces.
    std::vector<qbTextSegment> runs = Runs(Layout("a\rb\tc  "));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, "ab c  ");
    runs = Runs(Layout("abc   ", kTextAlignCenter));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, "abc");
    EXPECT_EQ(runs[0].extents.width, Width("abc"));

    // Style changes inside a word make runs of their own at the pen.
    runs = Runs(Layout("[b]He[/b]llo world"));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].text, "llo world");
    EXPECT_EQ(runs[1].x, runs[0].extents.width);

    qbTextLayout wrapped = Layout("the quick brown fox jumps over the lazy dog again and again", kTextAlignLeft, 120);
    std::vector<qbTextSegment> first;
    ASSERT_EQ(LayoutText(nullptr, &wrapped, false, &first), 0);
    ASSERT_FALSE(wrapped.wordBreaks.empty());
    int32_t lines = 0;
    for (const qbTextSegment& r : first) {
        EXPECT_LE(r.x + Width(r.text.substr(0, r.text.find_last_not_of(' ') + 1)), 122) << r.text;
        lines = std::max(lines, r.y / font_.height + 1);
    }
    EXPECT_EQ(static_cast<size_t>(lines), wrapped.wordBreaks.size() + 1);
    qbTextLayout replay = wrapped;
    replay.wrapWidth = 0;
    replay.breaksSupplied = true;
    std::vector<qbTextSegment> again;
    ASSERT_EQ(LayoutText(nullptr, &replay, false, &again), 0);
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(again[i].text, first[i].text);
        EXPECT_EQ(again[i].x, first[i].x);
        EXPECT_EQ(again[i].y, first[i].y);
    }

    // A word wider than the wrap that starts a line stays on it.
    runs = Runs(Layout("extraordinarily x", kTextAlignLeft, 10));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].y, 0);
    EXPECT_EQ(runs[1].y, font_.height);
    EXPECT_EQ(runs[1].x, 0);

    // Malformed UTF-8 measures as its bytes.
    qbTextLayout bytes = Layout("\xFF\xFEz");
    bytes.encoding = kEncodingUTF8;
    runs = Runs(bytes);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].extents.width, Width("\xFF\xFEz"));
}

TEST_F(TextCompose, AntialiasNeedsAFontThatCanAndAnEmptyTextIsOneColumn) {
    qbFont* topaz = nullptr;
    ASSERT_EQ(GetDefaultFont(&topaz), 0);
    qbTextLayout l = Layout("x");
    l.style.font = topaz;
    l.style.flags |= kTextAntialias;
    std::vector<qbTextSegment> runs;
    EXPECT_EQ(LayoutText(nullptr, &l, false, &runs), ERR_ANTIALIAS);
    l.style.flags = kTextNormal;
    l.text = "[u]x";
    ASSERT_EQ(LayoutText(nullptr, &l, false, &runs), 0);

    qbComposedText empty = Compose(Layout(""));
    EXPECT_EQ(empty.width, 1);
    // Ink within the advance: a text is as wide as it measures.
    EXPECT_EQ(Compose(Layout("mum")).width, Width("mum"));
    EXPECT_EQ(empty.height, font_.height);
    ASSERT_TRUE(empty.mask);
    EXPECT_EQ(Plane(empty.mask.get(), 1, font_.height, true), std::vector<uint8_t>(font_.height, 0));
}

TEST_F(TextCompose, CentredLinesMoveByHalfTheDifference) {
    std::vector<qbTextSegment> runs(2);
    runs[0].extents.width = 10;
    runs[1].extents.width = 13;
    runs[1].y = font_.height;
    qbComposedText out;
    ASSERT_EQ(ComposeTextBlock(false, kTextAlignCenter, true, 0, &runs, style_, &out), 0);
    EXPECT_EQ(runs[0].x, 1);
    EXPECT_EQ(runs[1].x, 0);
    EXPECT_FALSE(out.bitmap);

    runs = Runs(Layout("ab\nabcdef", kTextAlignRight));
    ASSERT_EQ(ComposeTextBlock(false, kTextAlignRight, true, 0, &runs, style_, &out), 0);
    EXPECT_EQ(runs[0].x + runs[0].extents.width, runs[1].x + runs[1].extents.width);
}

TEST_F(TextCompose, TransparencyScalesCoverageAndShadowNineActsAsThree) {
    qbTextLayout l = Layout("Wave");
    l.style.flags = kTextNormal | kTextAntialias;
    const qbComposedText solid = Compose(l);
    ASSERT_TRUE(solid.alpha);
    l.style.colour = 0x80FFFFFF;
    const qbComposedText faded = Compose(l);
    ASSERT_TRUE(faded.alpha);
    const std::vector<uint8_t> a = Alpha(solid), b = Alpha(faded);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(b[i], a[i] * 127 / 255) << i;

    l.style.colour = 0xFFFFFF;
    l.style.flags |= kTextShadow;
    l.style.shadowDirection = 9;
    const qbComposedText nine = Compose(l);
    l.style.shadowDirection = 3;
    const qbComposedText three = Compose(l);
    EXPECT_EQ(nine.width, three.width);
    EXPECT_EQ(Alpha(nine), Alpha(three));
}

TEST_F(TextCompose, EdgesStampOrBlurAndSyntheticStylesStayInside) {
    qbTextLayout l = Layout("[edge=$FF0000,1]i");
    const qbComposedText edged = Compose(l);
    const qbComposedText plain = Compose(Layout("i"));
    ASSERT_TRUE(edged.mask && plain.mask);
    const std::vector<uint8_t> e = Plane(edged.mask.get(), edged.width, edged.height, true);
    const std::vector<uint8_t> p = Plane(plain.mask.get(), plain.width, plain.height, true);
    // Every glyph pixel's 3 x 3 square is set in the edged image.
    const int32_t dx = plain.left - edged.left, dy = plain.top - edged.top;
    int32_t glyphPixels = 0;
    for (int32_t y = 0; y < plain.height; ++y)
        for (int32_t x = 0; x < plain.width; ++x) {
            if (!p[static_cast<size_t>(y * plain.width + x)]) continue;
            ++glyphPixels;
            for (int32_t j = -1; j <= 1; ++j)
                for (int32_t i = -1; i <= 1; ++i)
                    EXPECT_TRUE(e[static_cast<size_t>((y + dy + j) * edged.width + x + dx + i)]);
        }
    EXPECT_GT(glyphPixels, 5);

    // Synthetic bold and italic: every set pixel lies in the block, which
    // the sanitizer build checks on the planes too.
    const qbComposedText styled = Compose(Layout("[b][i][u]Wolf[/u][/i][/b]"));
    ASSERT_TRUE(styled.mask);
    EXPECT_GT(styled.width, Compose(Layout("Wolf")).width);

    // A font whose height is its baseline underlines on the baseline, one row.
    const int32_t baseline = font_.baseline;
    font_.baseline = font_.height;
    const qbComposedText low = Compose(Layout("[u]__[/u]"));
    font_.baseline = baseline;
    ASSERT_TRUE(low.mask);
    const std::vector<uint8_t> u = Plane(low.mask.get(), low.width, low.height, true);
    const int32_t row = font_.height - low.top;
    ASSERT_LT(row, low.height);
    for (int32_t x = -low.left; x < -low.left + Width("__"); ++x) EXPECT_TRUE(u[static_cast<size_t>(row * low.width + x)]);
}

// Synthetic italic slants each row of a run wider than it is high: every
// row keeps its pixels, moved along it, however far right they lie.
TEST_F(TextCompose, SyntheticItalicKeepsEveryRowOfAWideRun) {
    const std::string text = "WWWWWWWW";
    const qbComposedText plain = Compose(Layout(text));
    const qbComposedText slanted = Compose(Layout("[i]" + text + "[/i]"));
    ASSERT_TRUE(plain.mask && slanted.mask);
    ASSERT_GT(plain.width, 3 * plain.height);
    const std::vector<uint8_t> p = Plane(plain.mask.get(), plain.width, plain.height, true);
    const std::vector<uint8_t> s = Plane(slanted.mask.get(), slanted.width, slanted.height, true);
    const int32_t dy = plain.top - slanted.top;
    ASSERT_GE(dy, 0);
    for (int32_t y = 0; y < plain.height; ++y) {
        int32_t a = 0, b = 0;
        for (int32_t x = 0; x < plain.width; ++x) a += p[static_cast<size_t>(y * plain.width + x)];
        for (int32_t x = 0; x < slanted.width; ++x) b += s[static_cast<size_t>((y + dy) * slanted.width + x)];
        EXPECT_EQ(b, a) << "row " << y;
    }
}
TEST_F(TextCompose, AVeryTallBlockComposesOrFailsCleanly) {
    std::string text;
    for (int i = 0; i < 40000 / 20 + 5; ++i) text += "x\n";
    qbTextLayout l = Layout(text);
    std::vector<qbTextSegment> runs = Runs(l);
    qbComposedText out;
    const int err = ComposeTextBlock(false, kTextAlignLeft, false, 0, &runs, l.style, &out);
    EXPECT_TRUE(err == 0 || err == ERR_BITMAP);
    if (err == 0) {
        EXPECT_GE(out.height, 40000);
    }
}

}  // namespace

namespace {

TEST(TextLayerBorder, APlaneTwoBPlusOneLargerAtOffsetB) {
    BitmapPtr alpha(AllocAlphaChannel(4, 3, true, nullptr, 0));
    ASSERT_TRUE(alpha);
    AlphaRowsOf(alpha.get(), 0, 0).data[1] = 255;  // pixel (1, 0)
    qbComposedText border;
    ASSERT_EQ(RenderTextLayerBorder(nullptr, alpha.get(), 4, 3, 1, 0x00FF00, &border), 0);
    EXPECT_EQ(border.width, 4 + 3);
    EXPECT_EQ(border.height, 3 + 3);
    EXPECT_EQ(border.left, -1);
    ASSERT_TRUE(border.alpha);
    const AlphaRows rows = AlphaRowsOf(border.alpha.get(), 0, 0);
    // Pixel (1, 0) lies at (2, 1); its square spans (1..3, 0..2).
    for (int32_t y = 0; y < border.height; ++y)
        for (int32_t x = 0; x < border.width; ++x)
            EXPECT_EQ(rows.data[static_cast<size_t>(y) * rows.rowBytes + x], x >= 1 && x <= 3 && y <= 2 ? 85 : 0)
                << x << "," << y;
    EXPECT_EQ(ReadBitmapPixel(border.bitmap.get(), 2, 1, false) & 0xFFFFFF, 0x00FF00u);

    BitmapPtr mask(AllocMask(nullptr, 4, 3, true, nullptr, 0));
    WriteBitmapPixel(mask.get(), 3, 2, kMaskVisible, true);
    ASSERT_EQ(RenderTextLayerBorder(mask.get(), nullptr, 4, 3, 2, 0xFF, &border), 0);
    ASSERT_TRUE(border.mask);
    EXPECT_FALSE(border.alpha);
    EXPECT_EQ(border.width, 4 + 5);
    int32_t set = 0;
    for (int32_t y = 0; y < border.height; ++y)
        for (int32_t x = 0; x < border.width; ++x) set += ReadBitmapPixel(border.mask.get(), x, y, true) ? 1 : 0;
    EXPECT_EQ(set, 25);
    ASSERT_EQ(RenderTextLayerBorder(nullptr, nullptr, 4, 3, 2, 0xFF, &border), 0);
    EXPECT_FALSE(border.bitmap);
}

}  // namespace
