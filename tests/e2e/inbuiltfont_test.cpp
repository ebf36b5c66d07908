// A script's text in the Vera Sans held inside the player, measured against
// FreeType reading Debian's copy of the same face.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "e2e/e2e_util.h"

using PlayerInbuiltFontTest = e2e::E2eFixture;

namespace {

// The width by the pen formula: advances as 16.16 fractions of the em plus
// unscaled kerning, times the pixel size.
int64_t VeraWidth(const std::string& text, int32_t size) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    EXPECT_EQ(FT_Init_FreeType(&library), 0);
    EXPECT_EQ(FT_New_Face(library, "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &face), 0);
    FT_Set_Char_Size(face, 0, 100 * 64, 72, 72);
    int64_t top = 0, bottom = 0;
    for (uint32_t c = 33; c <= 255; ++c) {
        const FT_UInt i = FT_Get_Char_Index(face, c);
        if (!i || FT_Load_Glyph(face, i, FT_LOAD_NO_AUTOHINT) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
            continue;
        top = std::max<int64_t>(top, face->glyph->bitmap_top);
        bottom = std::max<int64_t>(bottom, int64_t{face->glyph->bitmap.rows} - face->glyph->bitmap_top);
    }
    const int64_t pixel = std::max<int64_t>(size * 100 / (top + bottom), 2);
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel - 1));
    int64_t width = 0;
    for (size_t n = 0; n < text.size(); ++n) {
        const FT_UInt i = FT_Get_Char_Index(face, static_cast<uint8_t>(text[n]));
        FT_Load_Glyph(face, i, FT_LOAD_NO_AUTOHINT);
        FT_Vector k{0, 0};
        if (n + 1 < text.size())
            FT_Get_Kerning(face, i, FT_Get_Char_Index(face, static_cast<uint8_t>(text[n + 1])), FT_KERNING_UNSCALED, &k);
        const int64_t a = (int64_t{face->glyph->advance.x} << 10) / face->size->metrics.x_ppem;
        width += ((a + k.x * 65536 / face->units_per_EM) * pixel) / 65536;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return width;
}

}  // namespace

TEST_F(PlayerInbuiltFontTest, DefaultSansMeasuresAsFreeTypeSays) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "setfont"
    LOADK 1 ":::default_sans"
    LOADK 2 #40
    CALL 0 3 1
.line 2
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textheight"
    LOADK 2 ""
    CALL 1 2 0
    CALL 0 0 1
.line 3
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "textwidth"
    LOADK 2 "Hello, World"
    CALL 1 2 0
    CALL 0 0 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "40\n" + std::to_string(VeraWidth("Hello, World", 40)) + "\n");
}
