// PNG reader over libpng, reading through the file layer. libpng's errors
// long-jump; every setjmp lives in a plain function below that holds no
// object with a destructor, and the caller owns everything that must be
// freed, so a jump skips nothing but libpng's own frames.
#include <png.h>

#include <bit>
#include <csetjmp>

#include "core/errcodes.h"
#include "core/file.h"
#include "imaging/imageformats.h"

namespace {

struct PngReadState {
    qbFile* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::jmp_buf jump;
    // Set by ReadHeader.
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int hasAlpha = 0;
    int colourType = 0;
    int interlaced = 0;
    size_t rowBytes = 0;
    uint32_t codedBits = 0;  // bits of a pixel as the file codes it
    // Set by the caller before ReadRows.
    png_bytepp rows = nullptr;
};

void PngError(png_structp png, png_const_charp) {
    auto* s = static_cast<PngReadState*>(png_get_error_ptr(png));
    std::longjmp(s->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep data, size_t length) {
    auto* s = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (FileRead(s->file, data, length) != length) png_error(png, "Read error!");
}

// Reads the header and sets the transforms that give 0xAARRGGBB words in
// memory. 1, or 0 after a library error.
int ReadHeader(PngReadState* s) {
    if (setjmp(s->jump)) return 0;
    png_structp png = s->png;
    png_infop info = s->info;
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    s->codedBits = static_cast<uint32_t>(depth) * png_get_channels(png, info);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (trns) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    // A big-endian machine takes 0xAARRGGBB words straight from libpng (A,
    // R, G, B bytes, a 0 filler without alpha); a little-endian one gets R,
    // G, B (, A) bytes and turns them round itself, which is quicker than
    // libpng's per-pixel filler and swap.
    if constexpr (std::endian::native == std::endian::big) {
        const bool alpha = trns || (type & PNG_COLOR_MASK_ALPHA) != 0;
        if (alpha)
            png_set_swap_alpha(png);
        else
            png_set_filler(png, 0, PNG_FILLER_BEFORE);
    }
    png_read_update_info(png, info);
    s->width = png_get_image_width(png, info);
    s->height = png_get_image_height(png, info);
    s->colourType = png_get_color_type(png, info);
    s->hasAlpha = s->colourType == PNG_COLOR_TYPE_RGB_ALPHA;
    s->rowBytes = png_get_rowbytes(png, info);
    s->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    return 1;
}

// The bytes that libpng left at the start of a row, as words 0xAARRGGBB.
void RowToARGB(png_bytep row, png_uint_32 width, bool alpha) {
    if constexpr (std::endian::native == std::endian::big) return;
    auto* words = reinterpret_cast<uint32_t*>(row);
    if (alpha) {
        // R, G, B, A bytes: swap red and blue.
        for (png_uint_32 x = 0; x < width; ++x) {
            const uint32_t v = words[x];
            words[x] = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | ((v >> 16) & 0xFFu);
        }
        return;
    }
    // R, G, B bytes packed at the front: widen from the end, so that no
    // byte is overwritten before it is read.
    for (png_uint_32 x = width; x-- > 0;) {
        const png_bytep p = row + 3 * static_cast<size_t>(x);
        words[x] = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    }
}

// Reads every row into s->rows: row by row, each turned into words while it
// is in the cache; an interlaced picture with all its passes first.
int ReadRows(PngReadState* s) {
    if (setjmp(s->jump)) return 0;
    const bool alpha = s->hasAlpha != 0;
    if (s->interlaced) {
        png_read_image(s->png, s->rows);
        for (png_uint_32 y = 0; y < s->height; ++y) RowToARGB(s->rows[y], s->width, alpha);
    } else {
        for (png_uint_32 y = 0; y < s->height; ++y) {
            png_read_row(s->png, s->rows[y], nullptr);
            RowToARGB(s->rows[y], s->width, alpha);
        }
    }
    return 1;
}

struct PngReadGuard {
    PngReadState* s;
    ~PngReadGuard() { png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr); }
};

}  // namespace

int ReadPNG(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels, int32_t* hasAlpha) {
    PngReadState s;
    s.file = file;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, &PngError, &PngWarning);
    if (!s.png) return ERR_MEM;
    PngReadGuard guard{&s};
    s.info = png_create_info_struct(s.png);
    if (!s.info) return ERR_MEM;
    png_set_read_fn(s.png, &s, &PngReadData);
    if (!ReadHeader(&s)) return ERR_LOADPICTURE2;
    if (s.colourType != PNG_COLOR_TYPE_RGB && s.colourType != PNG_COLOR_TYPE_RGB_ALPHA) return ERR_LOADPICTURE2;
    if (s.width == 0 || s.height == 0 || s.width > INT32_MAX || s.height > INT32_MAX) return ERR_LOADPICTURE2;
    const size_t bytesPerPixel =
        std::endian::native == std::endian::big || s.colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    if (s.rowBytes != static_cast<size_t>(s.width) * bytesPerPixel) return ERR_LOADPICTURE2;
    if (width) *width = static_cast<int32_t>(s.width);
    if (height) *height = static_cast<int32_t>(s.height);
    if (hasAlpha) *hasAlpha = s.hasAlpha;
    if (probe) return 0;

    PixelBuffer picture;
    const qbPixelSource source = FilePixelSource(file, PackedCoding(s.codedBits, kDeflateExpansion));
    if (int err = AllocImagePixels(s.width, s.height, source, &picture)) return err;
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[s.height]);
    if (!rows) return ERR_MEM;
    for (png_uint_32 y = 0; y < s.height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(picture.get() + static_cast<size_t>(y) * s.width);
    s.rows = rows.get();
    if (!ReadRows(&s)) return ERR_LOADPICTURE2;
    if (pixels) *pixels = std::move(picture);
    return 0;
}
