// The native font engine of the Linux backend: fonts installed under a
// fontconfig configuration of the tests' own, opened by full name only,
// sized on their "A", measured and drawn through the font layer and
// checked against FreeType reading the same files.
#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/applet_fixture.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "imaging/bitmap.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/hermeticfonts.h"
#include "text/text.h"
#include "text/textlib.h"

namespace {

const std::string kSans = hermeticfonts::kDejaVuDir + "DejaVuSans.ttf";

// FreeType on a font file at 72 dpi, as the engine is expected to use it.
class Oracle {
public:
    explicit Oracle(const std::string& file) {
        EXPECT_EQ(FT_Init_FreeType(&library_), 0);
        EXPECT_EQ(FT_New_Face(library_, file.c_str(), 0, &face_), 0);
    }
    ~Oracle() {
        if (face_) FT_Done_Face(face_);
        FT_Done_FreeType(library_);
    }
    // Rows of the glyph rendered anti-aliased at the point size.
    int Rows(uint32_t code, int size) {
        Render(code, size, true);
        return static_cast<int>(face_->glyph->bitmap.rows);
    }
    const FT_GlyphSlot& Render(uint32_t code, int size, bool antialias) {
        FT_Set_Char_Size(face_, 0, size * 64, 72, 72);
        FT_Load_Glyph(face_, FT_Get_Char_Index(face_, code), antialias ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
        FT_Render_Glyph(face_->glyph, antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO);
        return face_->glyph;
    }
    int FirstSize(int pixelHeight) const {
        return static_cast<int>(std::lround(double(pixelHeight) * face_->units_per_EM / (face_->ascender - face_->descender)));
    }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

class NativeFont : public ::testing::Test {
protected:
    void SetUp() override {
        hermeticfonts::Use();
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override {
        fonts_.clear();
        ShutdownFontEngines();
        SetPlatformBackend(nullptr);
    }
    qbFont* Open(const char* name, int size) {
        qbFont* font = nullptr;
        if (OpenFontRecord(name, size, kFontEngineNative, 0, 0, &font) != 0) return nullptr;
        fonts_.emplace_back(font);
        return font;
    }
    static qbNativeFont* Native(qbFont* font) { return static_cast<qbNativeFont*>(font->engineData); }
    static qbTextExtents Extents(qbFont* font, const std::string& text, uint32_t style = 0, int encoding = 0) {
        qbTextExtents e;
        EXPECT_EQ(MeasureFontText(font, text.data(), text.size(), style, encoding, &e), 0) << text;
        return e;
    }
    std::vector<FontPtr> fonts_;
};

// Where a target took ink: alpha bytes, mask bits or pixels off black.
std::vector<bool> Footprint(qbBitmap* target) {
    std::vector<bool> ink;
    for (int32_t y = 0; y < target->height; ++y)
        for (int32_t x = 0; x < target->width; ++x) {
            if (target->kind == kBitmapKindAlpha) {
                auto* plane = static_cast<qbBitmapPlane*>(target->native);
                ink.push_back(plane->data[y * plane->rowBytes + x] != 0);
            } else {
                ink.push_back(ReadBitmapPixel(target, x, y, target->kind == kBitmapKindMask) != 0);
            }
        }
    return ink;
}

BitmapPtr BlackPage(int32_t w, int32_t h) {
    BitmapPtr page(AllocBitmap(w, h, 0, nullptr));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) WriteBitmapPixel(page.get(), x, y, 0, false);
    return page;
}

}  // namespace

TEST_F(NativeFont, InstalledFontsOpenByTheirFullNameAndNothingElse) {
    qbFont* sans = Open("DejaVu Sans", 20);
    ASSERT_NE(sans, nullptr);
    EXPECT_STREQ(sans->name, "DejaVu Sans");
    EXPECT_EQ(sans->engine, kFontKindNative);
    EXPECT_EQ(sans->size, 20);
    const qbNativeFont* n = Native(sans);
    EXPECT_EQ(sans->height, n->ascent + n->descent);
    EXPECT_EQ(sans->baseHeight, sans->height);
    EXPECT_EQ(sans->baseline, n->ascent);
    EXPECT_EQ(sans->baseBaseline, n->ascent);
    EXPECT_EQ(sans->scalable, 1);
    EXPECT_EQ(sans->antialiasCapable, 1);
    EXPECT_EQ(IsNativeFont(sans), 1);

    qbFont* bold = Open("dejavu sans bold", 20);
    ASSERT_NE(bold, nullptr);
    EXPECT_STREQ(bold->name, "DejaVu Sans Bold");

    // fontconfig's best match answers "DejaVu" with a DejaVu face, yet no
    // font has that full name.
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu"));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    ASSERT_NE(match, nullptr);
    FcChar8* family = nullptr;
    FcPatternGetString(match, FC_FAMILY, 0, &family);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(family)).rfind("DejaVu", 0), 0u);
    FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);

    for (const char* missing : {"No Such Font", "DejaVu"}) {
        qbFont* font = nullptr;
        EXPECT_EQ(OpenFontRecord(missing, 40, kFontEngineNative, 0, 0, &font), ERR_OPENFONT);
        EXPECT_EQ(std::string(GetErrorDetailBuffer()), "Cannot open font " + std::string(missing) + " with size 40!");
        EXPECT_EQ(font, nullptr);
    }
    qbFont* none = nullptr;
    EXPECT_EQ(OpenFontRecord("DejaVu Sans", 0, kFontEngineNative, 0, 0, &none), ERR_OPENFONT);
    // A size at which some glyph of the face, the "A" or any other, would
    // not render is no size to open: the open refuses it, not the first
    // text that meets that glyph ("W" at these sizes).
    for (int32_t size : {30000, 40000, 46000, 52000, 60000}) {
        EXPECT_EQ(OpenFontRecord("DejaVu Sans", size, kFontEngineNative, 0, 0, &none), ERR_OPENFONT) << size;
        EXPECT_EQ(none, nullptr);
    }
    qbFont* large = Open("DejaVu Sans", 2000);
    ASSERT_NE(large, nullptr);
    EXPECT_GT(Extents(large, "i").width, 0);
}

TEST_F(NativeFont, TheAOfTheFontSpansTheRequestedHeight) {
    Oracle oracle(kSans);
    for (int height : {20, 40}) {
        bool reachable = false;
        for (int size = 1; size < 100 && !reachable; ++size) reachable = oracle.Rows('A', size) == height;
        ASSERT_TRUE(reachable) << height;
        qbFont* font = Open("DejaVu Sans", height);
        ASSERT_NE(font, nullptr);
        const qbTextExtents a = Extents(font, "A");
        EXPECT_EQ(a.inkBottom - a.inkTop, height);
        EXPECT_EQ(oracle.Rows('A', Native(font)->pointSize), height);
    }
}

// At a large height the "A" spans it too: the search starts next to the
// answer, where a walk from the first size took 256 steps and stopped
// short (813 rows for 1,000).
TEST_F(NativeFont, ALargeHeightIsReachedWhole) {
    Oracle oracle(kSans);
    qbFont* font = Open("DejaVu Sans", 1000);
    ASSERT_NE(font, nullptr);
    const qbTextExtents a = Extents(font, "A");
    EXPECT_EQ(a.inkBottom - a.inkTop, 1000);
    EXPECT_EQ(oracle.Rows('A', Native(font)->pointSize), 1000);
}

// Every size of a font file is a size of one face: the file is mapped
// once, however many sizes are open.
TEST_F(NativeFont, SizesOfOneFileShareItsFace) {
    const std::string file = (hermeticfonts::Use().dir / "fonts" / "DejaVuSans.ttf").string();
    const auto mappings = [&] {
        std::ifstream maps("/proc/self/maps");
        int n = 0;
        for (std::string line; std::getline(maps, line);) n += line.find(file) != std::string::npos;
        return n;
    };
    for (int size = 10; size < 60; ++size) ASSERT_NE(Open("DejaVu Sans", size), nullptr) << size;
    EXPECT_LE(mappings(), 1);
    // Each still draws at its own size, whichever was used last.
    const qbTextExtents small = Extents(fonts_.front().get(), "A");
    const qbTextExtents large = Extents(fonts_.back().get(), "A");
    EXPECT_EQ(small.inkBottom - small.inkTop, 10);
    EXPECT_EQ(large.inkBottom - large.inkTop, 59);
    EXPECT_EQ(Extents(fonts_.front().get(), "A").width, small.width);
}

// "QB Tall A" grows its "A" by two or three rows a point, so some heights
// fall between two sizes: the search, coming down from a first size far too
// tall, ends on the first size below the height.
TEST_F(NativeFont, AHeightNoSizeReachesEndsWhereTheSearchTurned) {
    if (!hermeticfonts::Use().cutFaces) GTEST_SKIP() << "fontTools (python3-fonttools) is missing";
    Oracle oracle((hermeticfonts::Use().dir / "fonts" / "TallA.ttf").string());
    std::vector<int> rows(200);
    for (int size = 1; size < 200; ++size) rows[size] = oracle.Rows('A', size);
    int gap = 0;
    for (int size = 10; size < 199 && !gap; ++size)
        if (rows[size] > rows[size - 1] + 1) gap = rows[size - 1] + 1;
    ASSERT_GT(gap, 0);
    qbFont* font = Open("QB Tall A", gap);
    ASSERT_NE(font, nullptr);
    const int settled = Native(font)->pointSize;
    EXPECT_LT(settled, oracle.FirstSize(gap));
    EXPECT_LT(rows[settled], gap);
    EXPECT_GT(rows[settled + 1], gap);
}

TEST_F(NativeFont, AFaceWithoutAKeepsItsFirstSize) {
    if (!hermeticfonts::Use().cutFaces) GTEST_SKIP() << "fontTools (python3-fonttools) is missing";
    Oracle oracle(kSans);
    qbFont* font = Open("QB No A", 30);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Native(font)->pointSize, oracle.FirstSize(30));
    EXPECT_GT(Extents(font, "B").inkBottom, Extents(font, "B").inkTop);
}

TEST_F(NativeFont, LengthsAndEncodingsAreChecked) {
    qbFont* font = Open("DejaVu Sans", 16);
    ASSERT_NE(font, nullptr);
    qbTextExtents e;
    const std::string longest(16383, 'x'), tooLong(16384, 'x');
    EXPECT_EQ(MeasureFontText(font, longest.data(), longest.size(), 0, kEncodingLatin1, &e), 0);
    EXPECT_GT(e.width, 16383);
    EXPECT_EQ(MeasureFontText(font, tooLong.data(), tooLong.size(), 0, kEncodingLatin1, &e), ERR_INTERNAL);
    BitmapPtr page = BlackPage(8, 8);
    EXPECT_EQ(RenderFontText(font, page.get(), nullptr, 0, 0, tooLong.data(), tooLong.size(), 0, 0, {0, 0, 8, 8},
                             0xFFFFFF),
              ERR_INTERNAL);

    const qbTextExtents latin = Extents(font, "\xE9t\xE9", 0, kEncodingLatin1);
    const qbTextExtents utf8 = Extents(font, "\xC3\xA9t\xC3\xA9", 0, kEncodingUTF8);
    EXPECT_GT(latin.width, 0);
    EXPECT_EQ(latin.width, utf8.width);
    EXPECT_EQ(latin.inkTop, utf8.inkTop);
    EXPECT_EQ(latin.inkRight, utf8.inkRight);
    // A cut sequence, an overlong form, a surrogate.
    for (const std::string bad : {"\xC3(", "\xC0\xAF", "\xED\xA0\x80", "ab\xE2\x82"})
        EXPECT_EQ(MeasureFontText(font, bad.data(), bad.size(), 0, kEncodingUTF8, &e), ERR_TEXTCONVERT) << bad;
    // Each lead byte range at its first and last byte, and the first byte
    // past it, with the continuation bytes that make the smallest and the
    // largest character the range may code.
    for (const std::string good : {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF",
                                   "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_EQ(MeasureFontText(font, good.data(), good.size(), 0, kEncodingUTF8, &e), 0) << good;
    for (const std::string bad : {"\x80", "\xBF", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",
                                  "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF"})
        EXPECT_EQ(MeasureFontText(font, bad.data(), bad.size(), 0, kEncodingUTF8, &e), ERR_TEXTCONVERT) << bad;
}

TEST_F(NativeFont, MaskAlphaPlaneAndColourShareTheFootprint) {
    qbFont* font = Open("DejaVu Sans", 18);
    ASSERT_NE(font, nullptr);
    constexpr int32_t kW = 160, kH = 40;
    const std::string text = "Quick, Wg!";
    const auto draw = [&](qbBitmap* target, uint32_t style, const qbClipRect& clip, int64_t pen) {
        EXPECT_EQ(RenderFontText(font, target, nullptr, 4, 3, text.data(), text.size(), style, 0, clip, pen), 0);
    };
    const qbClipRect whole{0, 0, kW, kH}, offCorner{1, 1, kW - 1, kH - 1};
    // Anti-aliased: straight into the plane, through the buffer, in colour.
    BitmapPtr direct(AllocAlphaChannel(kW, kH, true, nullptr, 0));
    BitmapPtr buffered(AllocAlphaChannel(kW, kH, true, nullptr, 0));
    BitmapPtr page = BlackPage(kW, kH);
    draw(direct.get(), kTextAntialias, whole, kFontPenMask);
    draw(buffered.get(), kTextAntialias, offCorner, kFontPenMask);
    draw(page.get(), kTextAntialias, whole, 0xFFFFFF);
    const std::vector<bool> ink = Footprint(direct.get());
    EXPECT_GT(std::count(ink.begin(), ink.end(), true), 200);
    EXPECT_EQ(Footprint(buffered.get()), ink);
    // White over black: each channel is the coverage, give or take the
    // blend's rounding.
    auto* plane = static_cast<qbBitmapPlane*>(direct->native);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const int a = plane->data[y * plane->rowBytes + x];
            const int g = static_cast<int>(ReadBitmapPixel(page.get(), x, y, false) >> 8 & 0xFF);
            ASSERT_NEAR(g, a, 1) << x << "," << y;
        }
    // One bit: a mask and a colour.
    BitmapPtr mask(AllocMask(nullptr, kW, kH, true, nullptr, 0));
    BitmapPtr monoPage = BlackPage(kW, kH);
    draw(mask.get(), 0, whole, kFontPenMask);
    draw(monoPage.get(), 0, whole, 0xFFFFFF);
    const std::vector<bool> bits = Footprint(mask.get());
    EXPECT_GT(std::count(bits.begin(), bits.end(), true), 150);
    EXPECT_EQ(Footprint(monoPage.get()), bits);
}

// The hooks of "j" and "y" reach back under the underscores before them
// (slanted and heavy, the more so): where glyphs meet the text keeps the
// larger coverage, as the largest of each glyph drawn alone.
TEST_F(NativeFont, GlyphsThatMeetKeepTheLargerCoverage) {
    qbFont* font = Open("DejaVu Sans", 30);
    ASSERT_NE(font, nullptr);
    constexpr int32_t kW = 120, kH = 50;
    constexpr uint32_t kStyle = kTextAntialias | kTextBold | kTextItalic;
    const std::string text = "W_j_y";
    const auto plane = [&] { return BitmapPtr(AllocAlphaChannel(kW, kH, true, nullptr, 0)); };
    const auto bytes = [](const BitmapPtr& b, int32_t x, int32_t y) {
        auto* p = static_cast<qbBitmapPlane*>(b->native);
        return p->data[y * p->rowBytes + x];
    };
    BitmapPtr whole = plane();
    ASSERT_EQ(RenderFontText(font, whole.get(), nullptr, 10, 5, text.data(), text.size(), kStyle, 0, {0, 0, kW, kH},
                             kFontPenMask),
              0);
    std::vector<uint8_t> want(kW * kH, 0);
    int shared = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const int32_t pen = i ? Extents(font, text.substr(0, i), kStyle).width : 0;
        BitmapPtr alone = plane();
        RenderFontText(font, alone.get(), nullptr, 10 + pen, 5, &text[i], 1, kStyle, 0, {0, 0, kW, kH}, kFontPenMask);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                uint8_t& w = want[y * kW + x];
                const uint8_t b = bytes(alone, x, y);
                shared += w && b;
                w = std::max(w, b);
            }
    }
    EXPECT_GT(shared, 0);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) ASSERT_EQ(bytes(whole, x, y), want[y * kW + x]) << x << "," << y;
}

// An underline is drawn under the whole advance, below the baseline, into
// each kind of target, and only when asked.
TEST_F(NativeFont, UnderlinesAreDrawnAcrossTheTextBelowTheBaseline) {
    qbFont* font = Open("DejaVu Sans", 20);
    ASSERT_NE(font, nullptr);
    constexpr int32_t kW = 100, kH = 40, kX = 4, kY = 2;
    const std::string text = "Hi yo";
    const int32_t width = Extents(font, text, kTextUnderlined).width;
    ASSERT_GT(width, 20);
    ASSERT_LT(kX + width, kW);
    // Rows inked across the text's whole advance.
    const auto fullRows = [&](qbBitmap* target, uint32_t style, const qbClipRect& clip, int64_t pen) {
        EXPECT_EQ(RenderFontText(font, target, nullptr, kX, kY, text.data(), text.size(), style, 0, clip, pen), 0);
        const std::vector<bool> ink = Footprint(target);
        std::vector<int32_t> rows;
        for (int32_t y = 0; y < kH; ++y) {
            bool full = true;
            for (int32_t x = kX; x < kX + width; ++x) full = full && ink[y * kW + x];
            if (full) rows.push_back(y);
        }
        return rows;
    };
    const qbClipRect whole{0, 0, kW, kH}, offCorner{1, 1, kW - 1, kH - 1};
    const auto alpha = [] { return BitmapPtr(AllocAlphaChannel(kW, kH, true, nullptr, 0)); };
    BitmapPtr targets[] = {alpha(), alpha(), BitmapPtr(AllocMask(nullptr, kW, kH, true, nullptr, 0)),
                           BlackPage(kW, kH)};
    const struct {
        qbBitmap* target;
        uint32_t style;
        qbClipRect clip;
        int64_t pen;
    } draws[] = {{targets[0].get(), kTextAntialias, whole, kFontPenMask},
                 {targets[1].get(), kTextAntialias, offCorner, kFontPenMask},
                 {targets[2].get(), 0, whole, kFontPenMask},
                 {targets[3].get(), 0, whole, 0xFFFFFF}};
    for (const auto& d : draws) {
        SCOPED_TRACE(d.style);
        BitmapPtr plain = d.pen == kFontPenMask ? alpha() : BlackPage(kW, kH);
        if (d.target->kind == kBitmapKindMask) plain.reset(AllocMask(nullptr, kW, kH, true, nullptr, 0));
        EXPECT_TRUE(fullRows(plain.get(), d.style, d.clip, d.pen).empty());
        const std::vector<int32_t> rows = fullRows(d.target, d.style | kTextUnderlined, d.clip, d.pen);
        ASSERT_FALSE(rows.empty());
        EXPECT_GE(rows.front(), kY + font->baseline);
        EXPECT_LE(rows.back(), kY + font->height);
    }
}

TEST_F(NativeFont, StylesWidenTheInkAndTheScaleStretchesIt) {
    qbFont* font = Open("DejaVu Sans", 24);
    ASSERT_NE(font, nullptr);
    const qbTextExtents plain = Extents(font, "Hello");
    const qbTextExtents bold = Extents(font, "Hello", kTextBold);
    const qbTextExtents italic = Extents(font, "Hello", kTextItalic);
    const qbTextExtents underlined = Extents(font, "Hello", kTextUnderlined);
    EXPECT_GT(bold.inkRight - bold.inkLeft, plain.inkRight - plain.inkLeft);
    EXPECT_GT(italic.inkRight - italic.inkLeft, plain.inkRight - plain.inkLeft);
    EXPECT_GT(underlined.inkBottom, plain.inkBottom);
    EXPECT_EQ(underlined.inkLeft, 0);
    EXPECT_EQ(underlined.inkRight, plain.width);

    SetFontScale(font, 2.0, 1.0);
    const qbTextExtents wide = Extents(font, "Hello");
    EXPECT_EQ(wide.width, 2 * plain.width);
    EXPECT_EQ(wide.height, plain.height);
    SetFontScale(font, 1.0, 1.0);
    EXPECT_EQ(Extents(font, "Hello").width, plain.width);
}

TEST_F(NativeFont, CoverageIsFreeTypesRenderingAtTheFoundSize) {
    qbFont* font = Open("DejaVu Sans", 30);
    ASSERT_NE(font, nullptr);
    Oracle oracle(kSans);
    constexpr int32_t kW = 60, kH = 60, kX = 10, kY = 5;
    for (bool antialias : {true, false}) {
        BitmapPtr target(antialias ? AllocAlphaChannel(kW, kH, true, nullptr, 0)
                                   : AllocMask(nullptr, kW, kH, true, nullptr, 0));
        EXPECT_EQ(RenderFontText(font, target.get(), nullptr, kX, kY, "g", 1, antialias ? uint32_t{kTextAntialias} : 0u, 0,
                                 {0, 0, kW, kH}, kFontPenMask),
                  0);
        const FT_GlyphSlot& g = oracle.Render('g', Native(font)->pointSize, antialias);
        std::vector<uint8_t> want(kW * kH, 0);
        for (unsigned r = 0; r < g->bitmap.rows; ++r)
            for (unsigned c = 0; c < g->bitmap.width; ++c) {
                const int x = kX + g->bitmap_left + int(c), y = kY + font->baseline - g->bitmap_top + int(r);
                ASSERT_TRUE(x >= 0 && y >= 0 && x < kW && y < kH);
                const uint8_t byte = g->bitmap.buffer[r * g->bitmap.pitch + (antialias ? c : c / 8)];
                want[y * kW + x] = antialias ? byte : (byte >> (7 - c % 8) & 1);
            }
        auto* plane = static_cast<qbBitmapPlane*>(target->native);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint32_t got = antialias ? plane->data[y * plane->rowBytes + x]
                                               : ReadBitmapPixel(target.get(), x, y, true);
                ASSERT_EQ(got, want[y * kW + x]) << antialias << " " << x << "," << y;
            }
    }
}

namespace {

class LinkedNativeFont : public AppletFixture {
protected:
    void SetUp() override {
        AppletFixture::SetUp();
        hermeticfonts::Use();
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override {
        ShutdownFontEngines();
        SetPlatformBackend(nullptr);
        AppletFixture::TearDown();
    }
};

}  // namespace

// The linked font's chunk starts with the flags word of a native font; the
// engine reads the rest whole and names the font from its name table.
TEST_F(LinkedNativeFont, OpensFromItsChunkAndFreesItsBufferAtClose) {
    std::ifstream in(kSans, std::ios::binary);
    std::vector<uint8_t> data{0, 0, 0, 4};
    data.insert(data.end(), std::istreambuf_iterator<char>(in), {});
    AppletDesc desc = Minimal();
    desc.linkedFiles = {{"Fonts\\Sans.ttf", data, LinkPlacement::Inline, {}, {}}};
    ASSERT_EQ(Load(desc), 0);
    int isFont = 1;
    const std::string name = ResolveLinkedFile(L_, "Fonts/Sans.ttf", 1, &isFont);
    ASSERT_FALSE(name.empty());
    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontRecord(name.c_str(), 40, kFontEngineNative, 0, 1, &font), 0);
    FontPtr owner(font);
    EXPECT_STREQ(font->name, "DejaVu Sans");
    EXPECT_EQ(font->engine, kFontKindNative);
    qbTextExtents a;
    ASSERT_EQ(MeasureFontText(font, "A", 1, 0, 0, &a), 0);
    EXPECT_EQ(a.inkBottom - a.inkTop, 40);
}
