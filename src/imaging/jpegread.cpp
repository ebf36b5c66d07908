// JPEG reader over libjpeg, from a file of the file layer or from memory.
// libjpeg's errors long-jump back into DecodeHeader or DecodeRows: plain
// functions that hold no object with a destructor; ReadJPEGFrom owns what
// must be freed and destroys the decompressor on every path.
#include <bit>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/errcodes.h"
#include "core/file.h"
#include "imaging/imageformats.h"
#include "imaging/jpegglue.h"

// jerror.h's message macros, for the source manager.
#include <jerror.h>

namespace {

constexpr size_t kJpegInputBufferSize = 4096;
constexpr int kAdobeMarker = JPEG_APP0 + 14;
constexpr unsigned kSavedMarkerBytes = 256;
// An Adobe APP14 marker of at least this size marks inverted CMYK values.
constexpr unsigned kAdobeMarkerMinimum = 12;

void SilentEmit(j_common_ptr, int) {}
void SilentOutput(j_common_ptr) {}
void SilentFormat(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void ResetErrors(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}
void JumpBack(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

struct JpegSource {
    jpeg_source_mgr pub;
    qbFile* file = nullptr;
    const uint8_t* memory = nullptr;
    size_t memorySize = 0;
    size_t memoryPosition = 0;
    bool startOfFile = true;
    // Set while the header is read: data that ends there is an error.
    bool inHeader = false;
    JOCTET buffer[kJpegInputBufferSize];
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<JpegSource*>(cinfo->src)->startOfFile = true; }

// Nothing at all to read, or data that ends inside the header, is an
// error; data that ends in the scans gets a fake end marker, so that the
// library fills the rest of the picture itself.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    size_t count;
    if (src->file) {
        count = FileRead(src->file, src->buffer, kJpegInputBufferSize);
    } else {
        count = src->memorySize - src->memoryPosition;
        if (count > kJpegInputBufferSize) count = kJpegInputBufferSize;
        std::memcpy(src->buffer, src->memory + src->memoryPosition, count);
        src->memoryPosition += count;
    }
    if (count == 0) {
        if (src->startOfFile || src->inHeader) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        count = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = count;
    src->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* src = cinfo->src;
    if (count <= 0) return;
    while (static_cast<size_t>(count) > src->bytes_in_buffer) {
        count -= static_cast<long>(src->bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

struct JpegReadState {
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    JpegSource source;
    // Set by DecodeHeader.
    uint32_t width = 0;
    uint32_t height = 0;
    bool cmyk = false;
    bool adobeInverted = false;
    // Set by the caller before DecodeRows.
    uint32_t* pixels = nullptr;
    JSAMPLE* cmykRow = nullptr;
};

int DecodeHeader(JpegReadState* s) {
    if (setjmp(s->errors.jump)) return 0;
    j_decompress_ptr cinfo = &s->cinfo;
    jpeg_create_decompress(cinfo);
    s->source.pub.init_source = &InitSource;
    s->source.pub.fill_input_buffer = &FillInputBuffer;
    s->source.pub.skip_input_data = &SkipInputData;
    s->source.pub.resync_to_restart = &jpeg_resync_to_restart;
    s->source.pub.term_source = &TermSource;
    s->source.pub.bytes_in_buffer = 0;
    s->source.pub.next_input_byte = nullptr;
    cinfo->src = &s->source.pub;
    jpeg_save_markers(cinfo, kAdobeMarker, kSavedMarkerBytes);
    s->source.inHeader = true;
    jpeg_read_header(cinfo, TRUE);
    s->source.inHeader = false;
    s->width = cinfo->image_width;
    s->height = cinfo->image_height;
    s->cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    if (s->cmyk) {
        cinfo->out_color_space = JCS_CMYK;
        for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
            if (m->marker == kAdobeMarker && m->data_length >= kAdobeMarkerMinimum &&
                std::memcmp(m->data, "Adobe", 5) == 0)
                s->adobeInverted = true;
    } else {
        // Straight into the picture's words: B, G, R, X bytes are 0xXXRRGGBB
        // on a little-endian machine; the X byte is cleared afterwards.
        cinfo->out_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    }
    return 1;
}

void CmykToARGB(const JSAMPLE* in, uint32_t* out, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x, in += 4) {
        uint32_t c = in[0], m = in[1], y = in[2], k = in[3];
        if (inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        const uint32_t r = (255 - c) * (255 - k) / 255;
        const uint32_t g = (255 - m) * (255 - k) / 255;
        const uint32_t b = (255 - y) * (255 - k) / 255;
        out[x] = (r << 16) | (g << 8) | b;
    }
}

// The library's X bytes (0xFF) become the alpha 0 of a picture without
// alpha, four pixels at a time where the machine has SSE2.
void ClearAlpha(uint32_t* words, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    for (; i + 4 <= count; i += 4) {
        auto* p = reinterpret_cast<__m128i*>(words + i);
        _mm_storeu_si128(p, _mm_and_si128(_mm_loadu_si128(p), rgb));
    }
#endif
    for (; i < count; ++i) words[i] &= 0x00FFFFFFu;
}

// Rows asked of the library per call: a batch lets its upsampler write
// both rows of a pair straight into the picture instead of through a
// spare row.
constexpr int kRowBatch = 16;

int DecodeRows(JpegReadState* s) {
    if (setjmp(s->errors.jump)) return 0;
    j_decompress_ptr cinfo = &s->cinfo;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != s->width || cinfo->output_height != s->height || cinfo->output_components != 4)
        return 0;
    const size_t width = s->width;
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        uint32_t* out = s->pixels + first * width;
        if (s->cmyk) {
            JSAMPROW row = s->cmykRow;
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return 0;
            CmykToARGB(s->cmykRow, out, s->width, s->adobeInverted);
            continue;
        }
        JSAMPROW rows[kRowBatch];
        JDIMENSION count = cinfo->output_height - first;
        if (count > kRowBatch) count = kRowBatch;
        for (JDIMENSION i = 0; i < count; ++i) rows[i] = reinterpret_cast<JSAMPROW>(out + i * width);
        const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, count);
        if (got == 0) return 0;
        ClearAlpha(out, got * width);
    }
    jpeg_finish_decompress(cinfo);
    return 1;
}

struct JpegReadGuard {
    JpegReadState* s;
    // Safe on a decompressor that was never (or only partly) created: the
    // state starts zeroed.
    ~JpegReadGuard() { jpeg_destroy_decompress(&s->cinfo); }
};

int ReadJPEGFrom(qbFile* file, const void* data, size_t size, bool probe, int32_t* width, int32_t* height,
                 PixelBuffer* pixels) {
    // Value-initialised, so libjpeg's records start zeroed.
    std::unique_ptr<JpegReadState> state(new (std::nothrow) JpegReadState());
    if (!state) return ERR_MEM;
    JpegReadState* s = state.get();
    s->source.file = file;
    s->source.memory = static_cast<const uint8_t*>(data);
    s->source.memorySize = data ? size : 0;
    s->cinfo.err = InitJpegErrorManager(&s->errors);
    JpegReadGuard guard{s};
    if (!DecodeHeader(s)) return ERR_LOADPICTURE2;
    if (s->width == 0 || s->height == 0) return ERR_LOADPICTURE2;
    if (width) *width = static_cast<int32_t>(s->width);
    if (height) *height = static_cast<int32_t>(s->height);
    if (probe) return 0;
    const qbPixelCoding coding = s->cinfo.arith_code ? kUnboundedCoding : kHuffmanJpegCoding;
    const qbPixelSource source = file ? FilePixelSource(file, coding) : qbPixelSource{size, coding};
    PixelBuffer picture;
    if (int err = AllocImagePixels(s->width, s->height, source, &picture)) return err;
    std::unique_ptr<JSAMPLE[]> cmykRow;
    if (s->cmyk) {
        cmykRow.reset(new (std::nothrow) JSAMPLE[static_cast<size_t>(s->width) * 4]);
        if (!cmykRow) return ERR_MEM;
    }
    s->pixels = picture.get();
    s->cmykRow = cmykRow.get();
    if (!DecodeRows(s)) return ERR_LOADPICTURE2;
    if (pixels) *pixels = std::move(picture);
    return 0;
}

}  // namespace

jpeg_error_mgr* InitJpegErrorManager(JpegErrorManager* manager) {
    jpeg_error_mgr* err = jpeg_std_error(&manager->pub);
    err->error_exit = &JumpBack;
    err->emit_message = &SilentEmit;
    err->output_message = &SilentOutput;
    err->format_message = &SilentFormat;
    err->reset_error_mgr = &ResetErrors;
    return err;
}

int ReadJPEG(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels) {
    if (!file) return ERR_LOADPICTURE2;
    return ReadJPEGFrom(file, nullptr, 0, probe, width, height, pixels);
}

int ReadJPEGMemory(const void* data, size_t size, bool probe, int32_t* width, int32_t* height,
                   PixelBuffer* pixels) {
    if (!data) return ERR_LOADPICTURE2;
    return ReadJPEGFrom(nullptr, data, size, probe, width, height, pixels);
}
