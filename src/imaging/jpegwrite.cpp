// JPEG writer over libjpeg into memory (the picture saver stores the block;
// the Motion-JPEG writer uses it per frame). The output block grows as
// needed. As in the reader, the setjmp frame holds nothing with a destructor.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "imaging/imageformats.h"
#include "imaging/jpegglue.h"

#include <jerror.h>

namespace {

constexpr size_t kInitialBlockSize = 65536;
// Rows handed to the library per call.
constexpr int kRowBatch = 16;

// The library writes straight into the output block, which doubles when
// it fills.
struct JpegDestination {
    jpeg_destination_mgr pub;
    uint8_t* data = nullptr;  // malloc'ed output block, freed by the caller
    size_t capacity = 0;
    size_t size = 0;  // set when the compression ends
};

void Grow(j_compress_ptr cinfo, JpegDestination* dest, size_t used) {
    size_t capacity = dest->capacity ? dest->capacity : kInitialBlockSize;
    if (dest->capacity) {
        if (capacity > SIZE_MAX / 2) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
        capacity *= 2;
    }
    void* grown = std::realloc(dest->data, capacity);
    if (!grown) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->data = static_cast<uint8_t*>(grown);
    dest->capacity = capacity;
    dest->pub.next_output_byte = dest->data + used;
    dest->pub.free_in_buffer = capacity - used;
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    Grow(cinfo, dest, 0);
}

// Called with the whole block full.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    Grow(cinfo, dest, dest->capacity);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    dest->size = dest->capacity - dest->pub.free_in_buffer;
}

struct JpegWriteState {
    jpeg_compress_struct cinfo;
    JpegErrorManager errors;
    JpegDestination destination;
    const qbJPEGRequest* request = nullptr;
    JSAMPLE* row = nullptr;  // width x 3 bytes, the caller's
};

void RowToRGB(const uint32_t* in, JSAMPLE* out, int32_t width, bool order1) {
    for (int32_t x = 0; x < width; ++x, out += 3) {
        const uint32_t v = in[x];
        // Order 0: R, G, B are bytes 2, 1, 0 of the word; order 1: 1, 2, 3.
        out[0] = static_cast<JSAMPLE>(order1 ? v >> 8 : v >> 16);
        out[1] = static_cast<JSAMPLE>(order1 ? v >> 16 : v >> 8);
        out[2] = static_cast<JSAMPLE>(order1 ? v >> 24 : v);
    }
}

// libjpeg-turbo reads the 32-bit words in place: in memory a little-endian
// word 0xAARRGGBB is B, G, R, A (order 0) and order 1's is A, R, G, B.
#if defined(JCS_EXTENSIONS) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kDirectRows = true;
J_COLOR_SPACE DirectSpace(bool order1) { return order1 ? JCS_EXT_XRGB : JCS_EXT_BGRX; }
#else
constexpr bool kDirectRows = false;
J_COLOR_SPACE DirectSpace(bool) { return JCS_RGB; }
#endif

int Encode(JpegWriteState* s) {
    if (setjmp(s->errors.jump)) return 0;
    j_compress_ptr cinfo = &s->cinfo;
    const qbJPEGRequest& r = *s->request;
    jpeg_create_compress(cinfo);
    s->destination.pub.init_destination = &InitDestination;
    s->destination.pub.empty_output_buffer = &EmptyOutputBuffer;
    s->destination.pub.term_destination = &TermDestination;
    cinfo->dest = &s->destination.pub;
    cinfo->image_width = static_cast<JDIMENSION>(r.width);
    cinfo->image_height = static_cast<JDIMENSION>(r.height);
    cinfo->input_components = kDirectRows ? 4 : 3;
    cinfo->in_color_space = kDirectRows ? DirectSpace(r.byteOrder != 0) : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, r.quality < 0 ? 0 : r.quality > 100 ? 100 : r.quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const auto* base = reinterpret_cast<const uint8_t*>(r.pixels);
    while (cinfo->next_scanline < cinfo->image_height) {
        const JDIMENSION line = cinfo->next_scanline;
        if (kDirectRows) {
            JSAMPROW rows[kRowBatch];
            const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, cinfo->image_height - line);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] =
                    const_cast<JSAMPLE*>(base + static_cast<size_t>(line + i) * static_cast<size_t>(r.strideBytes));
            jpeg_write_scanlines(cinfo, rows, count);
        } else {
            const size_t at = static_cast<size_t>(line) * static_cast<size_t>(r.strideBytes);
            RowToRGB(reinterpret_cast<const uint32_t*>(base + at), s->row, r.width, r.byteOrder != 0);
            JSAMPROW row = s->row;
            jpeg_write_scanlines(cinfo, &row, 1);
        }
    }
    jpeg_finish_compress(cinfo);
    return 1;
}

struct JpegWriteGuard {
    JpegWriteState* s;
    ~JpegWriteGuard() {
        jpeg_destroy_compress(&s->cinfo);
        std::free(s->destination.data);
    }
};

}  // namespace

void WriteJPEG(qbJPEGRequest* request) {
    qbJPEGRequest& r = *request;
    r.result = ERR_MEM;
    r.data.reset();
    r.size = 0;
    // JPEG sides stop at 65535.
    if (!r.pixels || r.width <= 0 || r.height <= 0 || r.width > 65535 || r.height > 65535 ||
        static_cast<int64_t>(r.strideBytes) < static_cast<int64_t>(r.width) * 4)
        return;
    std::unique_ptr<JpegWriteState> state(new (std::nothrow) JpegWriteState());
    if (!state) return;
    std::unique_ptr<JSAMPLE[]> row(new (std::nothrow) JSAMPLE[static_cast<size_t>(r.width) * 3]);
    if (!row) return;
    JpegWriteState* s = state.get();
    s->request = &r;
    s->row = row.get();
    s->cinfo.err = InitJpegErrorManager(&s->errors);
    JpegWriteGuard guard{s};
    if (!Encode(s)) return;
    r.data.reset(s->destination.data);
    r.size = s->destination.size;
    s->destination.data = nullptr;
    r.result = 0;
}
