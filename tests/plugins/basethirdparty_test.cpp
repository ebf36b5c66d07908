// FreeType and libjpeg as plugins reach them through the base: every slot
// there, a glyph rendered through the slots equal to FreeType's own, and a
// JPEG from cjpeg decoded through them equal to djpeg's picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H
#include <jpeglib.h>

#include "plugins/basetables.h"
#include "plugins/plugin.h"

namespace {

namespace fs = std::filesystem;

const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

auto Slots(const void* table) { return static_cast<void* const*>(table); }

TEST(BaseThirdPartyLayout, TheRootServesBothTablesWithEverySlot) {
    EXPECT_EQ(GetPluginBase()->freetypeTable, &kPluginFreetypeTable);
    EXPECT_EQ(GetPluginBase()->jpegTable, &kPluginJpegTable);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(Slots(&kPluginFreetypeTable)[i] == nullptr, i >= 38) << "table 7 slot " << i;
    for (int i = 0; i < 25; ++i) EXPECT_NE(Slots(&kPluginJpegTable)[i], nullptr) << "table 11 slot " << i;
    EXPECT_EQ(kPluginFreetypeTable.FT_MulFix(0x30000, 0x8000), 0x18000);
}

struct Glyph {
    int width = 0, rows = 0;
    std::vector<uint8_t> pixels;
};

Glyph Copy(const FT_Bitmap& b) {
    Glyph g;
    g.width = static_cast<int>(b.width);
    g.rows = static_cast<int>(b.rows);
    for (int y = 0; y < g.rows; ++y)
        g.pixels.insert(g.pixels.end(), b.buffer + y * b.pitch, b.buffer + y * b.pitch + g.width);
    return g;
}

// 'A' at 40 pixels, through the table or straight from FreeType; with a
// stroke, its outline 2 pixels wide.
Glyph RenderA(const qbFreetypeTable* t, bool stroked) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    Glyph out;
    if (t ? t->FT_Init_FreeType(&library) : FT_Init_FreeType(&library)) return out;
    if (!(t ? t->FT_New_Face(library, kFont, 0, &face) : FT_New_Face(library, kFont, 0, &face))) {
        t ? t->FT_Set_Pixel_Sizes(face, 0, 40) : FT_Set_Pixel_Sizes(face, 0, 40);
        const FT_UInt index = t ? t->FT_Get_Char_Index(face, 'A') : FT_Get_Char_Index(face, 'A');
        if (!(t ? t->FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) : FT_Load_Glyph(face, index, FT_LOAD_DEFAULT))) {
            if (!stroked) {
                if (!(t ? t->FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL)
                        : FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL)))
                    out = Copy(face->glyph->bitmap);
            } else {
                FT_Glyph glyph = nullptr;
                FT_Stroker stroker = nullptr;
                if (!(t ? t->FT_Get_Glyph(face->glyph, &glyph) : FT_Get_Glyph(face->glyph, &glyph)) &&
                    !(t ? t->FT_Stroker_New(library, &stroker) : FT_Stroker_New(library, &stroker))) {
                    t ? t->FT_Stroker_Set(stroker, 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0)
                      : FT_Stroker_Set(stroker, 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
                    const bool ok = t ? !t->FT_Glyph_Stroke(&glyph, stroker, 1) &&
                                            !t->FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, nullptr, 1)
                                      : !FT_Glyph_Stroke(&glyph, stroker, 1) &&
                                            !FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, nullptr, 1);
                    if (ok) out = Copy(reinterpret_cast<FT_BitmapGlyph>(glyph)->bitmap);
                }
                if (stroker) t ? t->FT_Stroker_Done(stroker) : FT_Stroker_Done(stroker);
                if (glyph) t ? t->FT_Done_Glyph(glyph) : FT_Done_Glyph(glyph);
            }
        }
        t ? t->FT_Done_Face(face) : FT_Done_Face(face);
    }
    t ? t->FT_Done_FreeType(library) : FT_Done_FreeType(library);
    return out;
}

TEST(BaseThirdPartyFreetype, AGlyphThroughTheSlotsIsFreetypesOwn) {
    if (!fs::exists(kFont)) GTEST_SKIP() << kFont << " is missing (fonts-dejavu-core)";
    for (bool stroked : {false, true}) {
        const Glyph through = RenderA(&kPluginFreetypeTable, stroked), own = RenderA(nullptr, stroked);
        ASSERT_GT(through.width, 10) << stroked;
        EXPECT_EQ(through.width, own.width);
        EXPECT_EQ(through.rows, own.rows);
        EXPECT_EQ(through.pixels, own.pixels) << stroked;
    }
    FT_Library library = nullptr;
    ASSERT_EQ(kPluginFreetypeTable.FT_Init_FreeType(&library), 0);
    int major = 0, minor = 0, patch = 0;
    kPluginFreetypeTable.FT_Library_Version(library, &major, &minor, &patch);
    EXPECT_EQ(major, 2);
    EXPECT_GE(minor, 10);
    kPluginFreetypeTable.FT_Done_FreeType(library);
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(BaseThirdPartyJpeg, APictureFromCjpegDecodesAsDjpegDecodesIt) {
    if (std::system("command -v cjpeg >/dev/null && command -v djpeg >/dev/null") != 0)
        GTEST_SKIP() << "cjpeg or djpeg is missing (libjpeg-turbo-progs)";
    const fs::path dir = fs::temp_directory_path() / ("qb_jpegslots_" + std::to_string(getpid()));
    fs::create_directories(dir);
    constexpr int kW = 37, kH = 21;
    {
        std::ofstream ppm(dir / "in.ppm", std::ios::binary);
        ppm << "P6\n" << kW << " " << kH << "\n255\n";
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) ppm << char(x * 7) << char(y * 12) << char((x * y) & 255);
    }
    const std::string d = dir.string();
    ASSERT_EQ(std::system(("cjpeg -quality 85 " + d + "/in.ppm >" + d + "/in.jpg && djpeg -ppm " + d + "/in.jpg >" +
                           d + "/out.ppm")
                              .c_str()),
              0);
    const std::string ppm = ReadAll(dir / "out.ppm");
    const std::string header = "P6\n" + std::to_string(kW) + " " + std::to_string(kH) + "\n255\n";
    ASSERT_EQ(ppm.compare(0, header.size(), header), 0);

    const qbJpegTable& t = kPluginJpegTable;
    FILE* file = std::fopen((dir / "in.jpg").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = t.jpeg_std_error(&errors);
    t.jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    jpeg_stdio_src(&cinfo, file);
    ASSERT_EQ(t.jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
    ASSERT_TRUE(t.jpeg_start_decompress(&cinfo));
    ASSERT_EQ(cinfo.output_width, unsigned(kW));
    std::string pixels;
    std::vector<JSAMPLE> row(kW * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[] = {row.data()};
        ASSERT_EQ(t.jpeg_read_scanlines(&cinfo, rows, 1), 1u);
        pixels.append(reinterpret_cast<const char*>(row.data()), row.size());
    }
    EXPECT_TRUE(t.jpeg_finish_decompress(&cinfo));
    t.jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    EXPECT_EQ(pixels, ppm.substr(header.size()));
    fs::remove_all(dir);
}

}  // namespace
