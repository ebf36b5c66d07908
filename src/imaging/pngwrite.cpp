// PNG writer over libpng, writing through the file layer: 8-bit RGB, or
// RGBA with alpha, no interlace. As in the reader, the setjmp frame is a
// plain function and the caller owns what must be freed.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "imaging/imageformats.h"

namespace {

struct PngWriteState {
    qbFile* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::jmp_buf jump;
    const qbPNGRequest* request = nullptr;
    // The file refused bytes (a full disk): the failure is the write's, not
    // the memory's.
    bool writeFailed = false;
};

void PngError(png_structp png, png_const_charp) {
    auto* s = static_cast<PngWriteState*>(png_get_error_ptr(png));
    std::longjmp(s->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
    auto* s = static_cast<PngWriteState*>(png_get_io_ptr(png));
    if (std::vector<uint8_t>* memory = s->request->memory) {
        // The jump out of libpng leaves the handler first: a longjmp must
        // not cross a live exception.
        bool grown = true;
        try {
            memory->insert(memory->end(), data, data + length);
        } catch (const std::bad_alloc&) {
            grown = false;
        }
        if (!grown) png_error(png, "Out of memory!");
        return;
    }
    if (FileWrite(s->file, data, length) != length) {
        s->writeFailed = true;
        png_error(png, "Write error!");
    }
}

void PngFlush(png_structp png) {
    auto* s = static_cast<PngWriteState*>(png_get_io_ptr(png));
    if (s->file && !FileFlush(s->file)) {
        s->writeFailed = true;
        png_error(png, "Write error!");
    }
}

// The rows go to libpng as they lie in memory: the transforms below turn
// the words 0xAARRGGBB into R, G, B (and A) bytes.
int WriteAll(PngWriteState* s) {
    if (setjmp(s->jump)) return 0;
    png_structp png = s->png;
    const qbPNGRequest& r = *s->request;
    png_set_IHDR(png, s->info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height), 8,
                 r.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, s->info);
    // Blue first in memory only for machine-order words on a little-endian
    // machine; otherwise the bytes run A, R, G, B.
    if (std::endian::native == std::endian::little && r.byteOrder == 0) {
        png_set_bgr(png);
        if (!r.hasAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    } else {
        if (r.hasAlpha)
            png_set_swap_alpha(png);
        else
            png_set_filler(png, 0, PNG_FILLER_BEFORE);
    }
    const auto* base = reinterpret_cast<const uint8_t*>(r.pixels);
    for (int32_t y = 0; y < r.height; ++y)
        png_write_row(png, base + static_cast<size_t>(y) * static_cast<size_t>(r.strideBytes));
    png_write_end(png, nullptr);
    return 1;
}

struct PngWriteGuard {
    PngWriteState* s;
    ~PngWriteGuard() { png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr); }
};

}  // namespace

void WritePNG(qbPNGRequest* request) {
    qbPNGRequest& r = *request;
    r.result = ERR_MEM;
    if (!r.pixels || r.width <= 0 || r.height <= 0 ||
        static_cast<int64_t>(r.strideBytes) < static_cast<int64_t>(r.width) * 4)
        return;
    qbReplaceFile out;
    if (!r.memory) {
        qbReplaceOptions options;
        options.adapterTag = r.adapterTag;
        if (int err = BeginReplaceFile(r.fileName, options, &out)) {
            r.result = err;
            return;
        }
    }
    PngWriteState s;
    s.file = out.file.get();
    s.request = &r;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, &PngError, &PngWarning);
    if (!s.png) return;
    PngWriteGuard guard{&s};
    s.info = png_create_info_struct(s.png);
    if (!s.info) return;
    png_set_write_fn(s.png, &s, &PngWriteData, &PngFlush);
    if (!WriteAll(&s)) {
        if (s.writeFailed) r.result = ERR_WRITE;
        return;
    }
    if (out.file) r.result = CommitReplaceFile(&out);
    else r.result = 0;
}
