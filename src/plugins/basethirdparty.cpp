// Tables 7 and 11 of the plugin base: FreeType and libjpeg as the player
// links them, so that a plugin uses the same libraries instead of its own.
#include <cstdio>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_TRUETYPE_TABLES_H
#include FT_FONT_FORMATS_H
#include FT_ADVANCES_H
#include <jpeglib.h>

#include "plugins/basetables.h"

namespace {

// A plain function: FT_MulFix may be a macro or inline in some builds.
long MulFix(long a, long b) { return FT_MulFix(a, b); }

// Functions whose enumeration parameters travel as int: the same calling
// convention, a different C++ type.
template <typename To, typename From>
To AsSlot(From f) {
    return reinterpret_cast<To>(f);
}

}  // namespace

const qbFreetypeTable kPluginFreetypeTable = {
    &FT_Init_FreeType,
    &FT_Done_FreeType,
    &FT_New_Face,
    &FT_New_Memory_Face,
    &FT_Load_Glyph,
    AsSlot<int (*)(FT_GlyphSlotRec_*, int)>(&FT_Render_Glyph),  // 5
    &FT_Get_Glyph,
    &FT_Done_Glyph,
    &FT_Outline_Transform,
    &FT_Outline_Translate,
    &FT_Outline_Get_Bitmap,  // 10
    &FT_Outline_Get_CBox,
    &FT_Outline_Decompose,
    &FT_Done_Face,
    &FT_Get_Char_Index,
    &FT_Get_First_Char,  // 15
    &FT_Get_Next_Char,
    &FT_Set_Transform,
    &FT_Set_Charmap,
    &FT_Set_Pixel_Sizes,
    &FT_Set_Char_Size,  // 20
    &MulFix,
    &FT_Vector_Transform,
    &FT_Get_Kerning,
    AsSlot<void* (*)(FT_FaceRec_*, int)>(&FT_Get_Sfnt_Table),
    &FT_Load_Sfnt_Table,  // 25
    &FT_Get_X11_Font_Format,
    &FT_Get_Name_Index,
    &FT_Get_Glyph_Name,
    AsSlot<int (*)(FT_FaceRec_*, int)>(&FT_Select_Charmap),
    &FT_Get_Advance,  // 30
    &FT_Library_Version,
    &FT_Outline_Embolden,
    &FT_Stroker_New,
    AsSlot<void (*)(FT_StrokerRec_*, long, int, int, long)>(&FT_Stroker_Set),
    &FT_Stroker_Done,  // 35
    &FT_Glyph_Stroke,
    AsSlot<int (*)(FT_GlyphRec_**, int, const FT_Vector_*, unsigned char)>(&FT_Glyph_To_Bitmap),
    {nullptr, nullptr},
};

const qbJpegTable kPluginJpegTable = {
    &jpeg_CreateDecompress,
    &jpeg_finish_decompress,
    &jpeg_destroy_decompress,
    &jpeg_std_error,
    &jpeg_read_header,
    &jpeg_read_scanlines,  // 5
    &jpeg_start_decompress,
    &jpeg_resync_to_restart,
    &jpeg_CreateCompress,
    &jpeg_finish_compress,
    &jpeg_destroy_compress,  // 10
    &jpeg_start_compress,
    &jpeg_set_defaults,
    &jpeg_write_scanlines,
    &jpeg_set_quality,
    AsSlot<void (*)(jpeg_compress_struct*, int)>(&jpeg_set_colorspace),  // 15
    &jpeg_default_colorspace,
    &jpeg_destroy,
    &jpeg_abort,
    &jpeg_suppress_tables,
    &jpeg_write_raw_data,  // 20
    &jpeg_write_tables,
    &jpeg_read_raw_data,
    &jpeg_save_markers,
    &jpeg_calc_output_dimensions,
};
