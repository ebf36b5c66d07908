// The inbuilt outline engine against FreeType itself: every glyph, advance,
// kerning and drawn text must equal what FreeType gives for the same face,
// pixel size and load flags, put together by the integer formulas of the
// engine's pen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <deque>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_OUTLINE_H

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "text/fontcache.h"
#include "text/inbuiltfont.h"
#include "text/textlib.h"

namespace {

const std::string kVeraDir = "/usr/share/fonts/truetype/ttf-bitstream-vera/";

// FreeType with the face opened straight from the file, sized as the engine
// sizes its fonts.
struct Oracle {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int64_t pixel = 0;

    Oracle(const std::string& path, int32_t size) {
        EXPECT_EQ(FT_Init_FreeType(&library), 0);
        EXPECT_EQ(FT_New_Face(library, path.c_str(), 0, &face), 0);
        FT_Set_Char_Size(face, 0, 100 * 64, 72, 72);
        int64_t top = 0, bottom = 0;
        for (uint32_t c = 33; c <= 255; ++c) {
            const FT_UInt i = FT_Get_Char_Index(face, c);
            if (!i || FT_Load_Glyph(face, i, FT_LOAD_NO_AUTOHINT) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
                continue;
            top = std::max<int64_t>(top, face->glyph->bitmap_top);
            bottom = std::max<int64_t>(bottom, int64_t{face->glyph->bitmap.rows} - face->glyph->bitmap_top);
        }
        pixel = std::max<int64_t>(size * 100 / (top + bottom), 2);
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel - 1));
    }
    ~Oracle() {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }

    struct Glyph {
        int32_t left = 0, top = 0;
        FT_Pos advance = 0;
        uint32_t width = 0, rows = 0;
        int pitch = 0;
        std::vector<uint8_t> bytes;
    };
    Glyph Render(uint32_t code, uint32_t style) const {
        Glyph g;
        EXPECT_EQ(FT_Load_Glyph(face, FT_Get_Char_Index(face, code), FT_LOAD_NO_AUTOHINT), 0);
        if (style & kTextBold) FT_GlyphSlot_Embolden(face->glyph);
        if (style & kTextItalic) {
            FT_Matrix m{0x10000, 0x6000, 0, 0x10000};
            FT_Outline_Transform(&face->glyph->outline, &m);
        }
        EXPECT_EQ(FT_Render_Glyph(face->glyph, style & kTextAntialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO),
                  0);
        const FT_Bitmap& b = face->glyph->bitmap;
        g = {face->glyph->bitmap_left, face->glyph->bitmap_top, face->glyph->advance.x, b.width, b.rows, b.pitch, {}};
        g.bytes.assign(b.buffer, b.buffer + static_cast<size_t>(b.rows) * b.pitch);
        return g;
    }
    FT_Pos Kerning(uint32_t a, uint32_t b) const {
        FT_Vector v{0, 0};
        if (FT_HAS_KERNING(face))
            FT_Get_Kerning(face, FT_Get_Char_Index(face, a), FT_Get_Char_Index(face, b), FT_KERNING_UNSCALED, &v);
        return v.x;
    }
    // The pen step of a character followed by next (0: none).
    int64_t Step(uint32_t code, uint32_t next, uint32_t style, double xScale = 1.0) const {
        const int64_t a = (int64_t{Render(code, style).advance} << 10) / face->size->metrics.x_ppem;
        const int64_t k = (next ? Kerning(code, next) : 0) * 65536 / face->units_per_EM;
        return std::llround(static_cast<double>(((a + k) * pixel) / 65536) * xScale);
    }
    int64_t Width(const std::string& text, uint32_t style) const {
        int64_t w = 0;
        for (size_t i = 0; i < text.size(); ++i)
            w += Step(static_cast<uint8_t>(text[i]), i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0, style);
        return w;
    }
};

class InbuiltFont : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StartInbuiltEngine(), 0); }
    void TearDown() override {
        for (qbFont& f : fonts_) CloseInbuiltFont(&f);
        StopInbuiltEngine();
    }
    qbFont* Open(const std::string& name, int32_t size, int32_t cache = 1) {
        fonts_.emplace_back();
        if (OpenInbuiltFont(name.c_str(), size, cache, &fonts_.back()) != 1) {
            fonts_.pop_back();
            return nullptr;
        }
        return &fonts_.back();
    }
    std::deque<qbFont> fonts_;
};

void ExpectSameGlyph(qbInbuiltFontData* d, const Oracle& o, uint32_t code, uint32_t style) {
    int32_t left = 0, top = 0;
    FT_Pos advance = 0;
    const FT_Bitmap* bm = nullptr;
    ASSERT_EQ(RenderInbuiltGlyph(d, code, FT_Get_Char_Index(d->face, code), style, &left, &top, &advance, &bm), 0);
    const Oracle::Glyph want = o.Render(code, style);
    const std::string what = "code " + std::to_string(code) + " style " + std::to_string(style);
    EXPECT_EQ(left, want.left) << what;
    EXPECT_EQ(top, want.top) << what;
    EXPECT_EQ(advance, want.advance) << what;
    ASSERT_EQ(bm->width, want.width) << what;
    ASSERT_EQ(bm->rows, want.rows) << what;
    ASSERT_EQ(bm->pitch, want.pitch) << what;
    EXPECT_TRUE(std::equal(want.bytes.begin(), want.bytes.end(), bm->buffer)) << what;
}

}  // namespace

TEST_F(InbuiltFont, EveryGlyphIsFreeTypesOwnInEveryStyleFromTheCacheToo) {
    for (int which = 0; which < 3; ++which) {
        const char* names[] = {"Bitstream Vera Sans", "Bitstream Vera Serif", "Bitstream Vera Sans Mono"};
        const char* files[] = {"Vera.ttf", "VeraSe.ttf", "VeraMono.ttf"};
        qbFont* font = Open(names[which], 20);
        ASSERT_NE(font, nullptr) << names[which];
        EXPECT_STREQ(font->name, names[which]);
        const Oracle o(kVeraDir + files[which], 20);
        EXPECT_EQ(InbuiltDataOf(font)->pixelSize, o.pixel);
        for (uint32_t style : std::vector<uint32_t>{0u, kTextAntialias, kTextBold, kTextBold | kTextAntialias, kTextItalic,
                               kTextItalic | kTextAntialias, kTextBold | kTextItalic | kTextAntialias})
            for (uint32_t code : {uint32_t{'A'}, uint32_t{'g'}, uint32_t{'W'}, uint32_t{'@'}, 0xE9u, 0xC4u, 0x20ACu})
                for (int pass = 0; pass < 2; ++pass) ExpectSameGlyph(InbuiltDataOf(font), o, code, style);
    }
}

TEST_F(InbuiltFont, BoldAndItalicNeverComeFromTheCache) {
    qbFont* font = Open("Bitstream Vera Sans", 24);
    ASSERT_NE(font, nullptr);
    qbInbuiltFontData* d = InbuiltDataOf(font);
    int32_t left, top;
    FT_Pos advance;
    const FT_Bitmap* bm;
    const FT_UInt index = FT_Get_Char_Index(d->face, 'B');
    ASSERT_EQ(RenderInbuiltGlyph(d, 'B', index, kTextBold | kTextAntialias, &left, &top, &advance, &bm), 0);
    ASSERT_EQ(RenderInbuiltGlyph(d, 'B', index, kTextItalic, &left, &top, &advance, &bm), 0);
    EXPECT_EQ(d->antialiased['B'].glyph, nullptr);
    EXPECT_EQ(d->oneBit['B'].glyph, nullptr);
    ASSERT_EQ(RenderInbuiltGlyph(d, 'B', index, kTextAntialias, &left, &top, &advance, &bm), 0);
    EXPECT_NE(d->antialiased['B'].glyph, nullptr);
    EXPECT_EQ(d->oneBit['B'].glyph, nullptr);
    FreeInbuiltGlyphCaches(d);
    EXPECT_EQ(d->antialiased['B'].glyph, nullptr);
    // A font opened without caching keeps nothing.
    qbFont* uncached = Open("Bitstream Vera Sans", 24, 0);
    ASSERT_NE(uncached, nullptr);
    ASSERT_EQ(RenderInbuiltGlyph(InbuiltDataOf(uncached), 'B', index, 0, &left, &top, &advance, &bm), 0);
    EXPECT_EQ(InbuiltDataOf(uncached)->oneBit['B'].glyph, nullptr);
}

TEST_F(InbuiltFont, WidthsAndKerningFollowThePenFormula) {
    qbFont* font = Open("Bitstream Vera Sans", 30);
    ASSERT_NE(font, nullptr);
    const Oracle o(kVeraDir + "Vera.ttf", 30);
    for (const std::string text : {"AVATAR Wave, To.", "Hello, World", "x", "LT Yo"}) {
        qbTextExtents e;
        ASSERT_EQ(MeasureInbuiltText(font, text.data(), text.size(), kTextAntialias, kEncodingLatin1, &e), 0);
        EXPECT_EQ(e.width, o.Width(text, kTextAntialias)) << text;
        EXPECT_EQ(e.height, 30);
    }
    // "AV" kerns in Vera: the pair's value by the formula, negative.
    const int64_t kx = o.Kerning('A', 'V');
    ASSERT_LT(kx, 0);
    const int64_t want = -((((-kx) * 65536) / o.face->units_per_EM) * o.pixel) / 65536;
    EXPECT_EQ(GetInbuiltKerning(font, "AV", 2, 0, kEncodingLatin1), want);
    EXPECT_LT(want, 0);
    EXPECT_EQ(GetInbuiltKerning(font, "A", 1, 0, kEncodingLatin1), 0);
    EXPECT_EQ(GetInbuiltKerning(font, "AVA", 3, 0, kEncodingLatin1), 0);
    // UTF-8 pairs decode to two characters.
    EXPECT_EQ(GetInbuiltKerning(font, "A\xC3\x9D", 3, 0, kEncodingUTF8),
              GetInbuiltKerning(font, "A\xDD", 2, 0, kEncodingLatin1));
}

TEST_F(InbuiltFont, AFaceWithoutKerningAdvancesByItsGlyphsAlone) {
    qbFont* font = Open("Bitstream Vera Sans Mono", 16);
    ASSERT_NE(font, nullptr);
    ASSERT_FALSE(FT_HAS_KERNING(InbuiltDataOf(font)->face));
    EXPECT_EQ(GetInbuiltKerning(font, "AV", 2, 0, kEncodingLatin1), 0);
    const Oracle o(kVeraDir + "VeraMono.ttf", 16);
    qbTextExtents e;
    MeasureInbuiltText(font, "AVAV", 4, 0, kEncodingLatin1, &e);
    EXPECT_EQ(e.width, 4 * o.Step('A', 0, 0));
}

TEST_F(InbuiltFont, SpacesAdvanceButNeverWidenTheInk) {
    qbFont* font = Open("Bitstream Vera Sans", 20);
    ASSERT_NE(font, nullptr);
    qbTextExtents spaces;
    MeasureInbuiltText(font, "   ", 3, 0, kEncodingLatin1, &spaces);
    EXPECT_GT(spaces.width, 0);
    EXPECT_EQ(spaces.inkLeft, 0);
    EXPECT_EQ(spaces.inkTop, 0);
    EXPECT_EQ(spaces.inkRight, 0);
    qbTextExtents word, padded;
    MeasureInbuiltText(font, "ag", 2, 0, kEncodingLatin1, &word);
    MeasureInbuiltText(font, "ag  ", 4, 0, kEncodingLatin1, &padded);
    EXPECT_EQ(padded.inkRight, word.inkRight);
    EXPECT_GT(padded.width, word.width);
    EXPECT_LT(word.inkTop, 0);
    EXPECT_GT(word.inkBottom, 0);
}

TEST_F(InbuiltFont, ScalingByTwoDoublesEachAdvance) {
    qbFont* font = Open("Bitstream Vera Sans", 20);
    ASSERT_NE(font, nullptr);
    qbTextExtents plain, wide;
    MeasureInbuiltText(font, "Quenbrook", 9, kTextAntialias, kEncodingLatin1, &plain);
    font->xScale = 2.0;
    SetInbuiltFontScale(font);
    MeasureInbuiltText(font, "Quenbrook", 9, kTextAntialias, kEncodingLatin1, &wide);
    EXPECT_EQ(wide.width, 2 * plain.width);
    EXPECT_GT(wide.inkRight - wide.inkLeft, plain.inkRight - plain.inkLeft);
}

TEST_F(InbuiltFont, SizeTwentySpansAboutTwentyPixels) {
    for (int32_t size : {12, 20, 48}) {
        qbFont* font = Open("Bitstream Vera Serif", size);
        ASSERT_NE(font, nullptr);
        FT_Face face = InbuiltDataOf(font)->face;
        int64_t top = 0, bottom = 0;
        for (uint32_t c = 33; c <= 255; ++c) {
            const FT_UInt i = FT_Get_Char_Index(face, c);
            if (!i || FT_Load_Glyph(face, i, FT_LOAD_NO_AUTOHINT) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
                continue;
            top = std::max<int64_t>(top, face->glyph->bitmap_top);
            bottom = std::max<int64_t>(bottom, int64_t{face->glyph->bitmap.rows} - face->glyph->bitmap_top);
        }
        EXPECT_NEAR(top + bottom, size, 1 + size / 20) << size;
        EXPECT_GT(font->baseline, size / 2);
        EXPECT_LT(font->baseline, size);
    }
}

TEST_F(InbuiltFont, HeldFacesOpenWithoutFilesPathsOpenTheirFileBadSizesFail) {
    const int64_t opens = InbuiltFileOpenCount();
    ASSERT_NE(Open("bitstream vera SANS", 20), nullptr);
    EXPECT_EQ(InbuiltFileOpenCount(), opens);
    qbFont* serif = Open(kVeraDir + "VeraSe.ttf", 20);
    ASSERT_NE(serif, nullptr);
    EXPECT_EQ(InbuiltFileOpenCount(), opens + 1);
    EXPECT_STREQ(serif->name, "Bitstream Vera Serif");
    qbFont* bold = Open(kVeraDir + "VeraBd.ttf", 20);
    ASSERT_NE(bold, nullptr);
    EXPECT_STREQ(bold->name, "Bitstream Vera Sans Bold");
    EXPECT_EQ(Open(kVeraDir + "missing.ttf", 20), nullptr);
    EXPECT_EQ(Open("Bitstream Vera Sans", 0), nullptr);
    EXPECT_EQ(Open("Bitstream Vera Sans", -5), nullptr);
    // Tiny sizes still give a pixel size of 2; huge ones open or fail cleanly.
    qbFont* tiny = Open("Bitstream Vera Sans", 1);
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(InbuiltDataOf(tiny)->pixelSize, 2);
    qbFont* huge = Open("Bitstream Vera Sans", 100000);
    if (huge) {
        EXPECT_EQ(huge->height, 100000);
    }
    EXPECT_EQ(Open("Bitstream Vera Sans", INT32_MAX), nullptr);
}

TEST_F(InbuiltFont, DrawnTextIsItsGlyphsAtThePenPositions) {
    constexpr int kW = 200, kH = 40;
    qbFont* font = Open("Bitstream Vera Sans", 24);
    ASSERT_NE(font, nullptr);
    const Oracle o(kVeraDir + "Vera.ttf", 24);
    const std::string text = "AVe Wq";
    const qbClipRect clip{0, 0, kW, kH};
    // Anti-aliased into an alpha plane: coverage bytes replace the bytes there.
    BitmapPtr alpha(AllocAlphaChannel(kW, kH, true, nullptr, 0));
    ASSERT_TRUE(alpha);
    RenderInbuiltText(font, alpha.get(), nullptr, 3, 2, text.data(), text.size(), kTextAntialias, 0, clip,
                      kFontPenMask);
    // One-bit in colour onto a page.
    BitmapPtr page(AllocBitmap(kW, kH, 0, nullptr));
    ASSERT_TRUE(page);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) WriteBitmapPixel(page.get(), x, y, 0x000000, false);
    RenderInbuiltText(font, page.get(), nullptr, 3, 2, text.data(), text.size(), 0, 0, clip, 0xFF8000);
    std::vector<uint8_t> wantAlpha(kW * kH, 0);
    std::vector<uint8_t> wantBits(kW * kH, 0);
    int64_t pen = 3;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = static_cast<uint8_t>(text[i]);
        const uint32_t next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
        for (uint32_t style : std::vector<uint32_t>{kTextAntialias, 0u}) {
            const Oracle::Glyph g = o.Render(c, style);
            for (uint32_t r = 0; r < g.rows; ++r)
                for (uint32_t col = 0; col < g.width; ++col) {
                    const int64_t x = pen + g.left + col, y = 2 + font->baseline - g.top + r;
                    if (x < 0 || y < 0 || x >= kW || y >= kH) continue;
                    const uint8_t byte = g.bytes[r * g.pitch + (style ? col : col / 8)];
                    const size_t at = static_cast<size_t>(y * kW + x);
                    if (style && byte) wantAlpha[at] = byte;
                    if (!style && (byte >> (7 - col % 8) & 1)) wantBits[at] = 1;
                }
        }
        pen += o.Step(c, next, kTextAntialias);
    }
    auto* plane = static_cast<qbBitmapPlane*>(alpha->native);
    int inked = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            ASSERT_EQ(plane->data[y * plane->rowBytes + x], wantAlpha[y * kW + x]) << x << "," << y;
            ASSERT_EQ(ReadBitmapPixel(page.get(), x, y, false), wantBits[y * kW + x] ? 0xFF8000u : 0u) << x << "," << y;
            inked += wantBits[y * kW + x];
        }
    EXPECT_GT(inked, 100);
}

TEST_F(InbuiltFont, OnePassDrawsAndMeasuresAsMeasuringAndDrawingApart) {
    constexpr int kW = 320, kH = 40;
    qbFont* font = Open("Bitstream Vera Sans", 24);
    ASSERT_NE(font, nullptr);
    const Oracle o(kVeraDir + "Vera.ttf", 24);
    const qbClipRect clip{0, 0, kW, kH};
    // Kerning pairs met twice (the second time from the kept pairs), a
    // character past Latin-1 in UTF-8, and a start left of the plane.
    const std::string text = "AVAVATAR To \xC5\x81Wa AV";
    const auto same = [](const qbTextExtents& a, const qbTextExtents& b) {
        return a.width == b.width && a.height == b.height && a.inkLeft == b.inkLeft && a.inkTop == b.inkTop &&
               a.inkRight == b.inkRight && a.inkBottom == b.inkBottom;
    };
    for (int encoding : {kEncodingLatin1, kEncodingUTF8}) {
        qbTextExtents apart, again, together;
        ASSERT_EQ(MeasureInbuiltText(font, text.data(), text.size(), kTextAntialias, encoding, &apart), 0);
        ASSERT_EQ(MeasureInbuiltText(font, text.data(), text.size(), kTextAntialias, encoding, &again), 0);
        BitmapPtr drawn(AllocAlphaChannel(kW, kH, true, nullptr, 0)), both(AllocAlphaChannel(kW, kH, true, nullptr, 0));
        ASSERT_TRUE(drawn && both);
        RenderInbuiltText(font, drawn.get(), nullptr, -5, 2, text.data(), text.size(), kTextAntialias, encoding, clip,
                          kFontPenMask);
        ASSERT_EQ(RenderInbuiltTextMeasured(font, both.get(), -5, 2, text.data(), text.size(), kTextAntialias,
                                            encoding, clip, kFontPenMask, &together),
                  0);
        EXPECT_TRUE(same(apart, again)) << encoding;
        EXPECT_TRUE(same(apart, together)) << encoding;
        if (encoding == kEncodingLatin1) {
            EXPECT_EQ(again.width, o.Width(text, kTextAntialias));
        }
        const auto* a = static_cast<qbBitmapPlane*>(drawn->native);
        const auto* b = static_cast<qbBitmapPlane*>(both->native);
        for (int y = 0; y < kH; ++y)
            ASSERT_EQ(0, std::memcmp(a->data + y * a->rowBytes, b->data + y * b->rowBytes, kW)) << y;
    }
}

TEST_F(InbuiltFont, SetFontSansOpensVeraWhileTheNativeEngineIsAsked) {
    InstallInbuiltFontEngine();
    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontCached(":::default_sans", 20, kFontEngineNative, 1, 0, &font), 0);
    EXPECT_EQ(font->engine, kFontKindInbuilt);
    EXPECT_STREQ(font->name, "Bitstream Vera Sans");
    FreeFontCache(nullptr);
    ShutdownFontEngines();
}

TEST_F(InbuiltFont, AFaceWithoutTheBaselineLettersGetsThreeQuartersOfItsHeight) {
    const std::string out = ::testing::TempDir() + "digits-" + std::to_string(::getpid()) + ".ttf";
    const std::string command = "/usr/bin/python3 -m fontTools.subset " + kVeraDir +
                                "Vera.ttf --unicodes=U+0030-0039 --output-file=" + out + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << "python3-fonttools is needed";
    qbFont* font = Open(out, 20);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->baseline, 15);
    qbFont* vera = Open("Bitstream Vera Sans", 20);
    ASSERT_NE(vera, nullptr);
    EXPECT_NE(vera->baseline, 15);
    std::remove(out.c_str());
}
