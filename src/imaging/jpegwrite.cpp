// JPEG writer over libjpeg into memory (the picture saver stores the block;
// the Motion-JPEG writer uses it per frame). The output block grows as
// needed. As in the reader, the setjmp frame holds nothing with a destructor.
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "imaging/imageformats.h"
#include "imaging/jpegglue.h"

#include <jerror.h>

namespace {

constexpr size_t kJpegOutputBufferSize = 4096;
constexpr size_t kInitialBlockSize = 65536;

struct JpegDestination {
    jpeg_destination_mgr pub;
    JOCTET* buffer = nullptr;  // from the library's image pool
    uint8_t* data = nullptr;   // malloc'ed output block, freed by the caller
    size_t size = 0;
    size_t capacity = 0;
};

void Append(j_compress_ptr cinfo, const JOCTET* bytes, size_t count) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (count > dest->capacity - dest->size) {
        size_t capacity = dest->capacity ? dest->capacity : kInitialBlockSize;
        while (count > capacity - dest->size) {
            if (capacity > SIZE_MAX / 2) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
            capacity *= 2;
        }
        void* grown = std::realloc(dest->data, capacity);
        if (!grown) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
        dest->data = static_cast<uint8_t*>(grown);
        dest->capacity = capacity;
    }
    std::memcpy(dest->data + dest->size, bytes, count);
    dest->size += count;
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    dest->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                                   kJpegOutputBufferSize * sizeof(JOCTET)));
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJpegOutputBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    Append(cinfo, dest->buffer, kJpegOutputBufferSize);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJpegOutputBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    const size_t used = kJpegOutputBufferSize - dest->pub.free_in_buffer;
    if (used) Append(cinfo, dest->buffer, used);
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
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, r.quality < 0 ? 0 : r.quality > 100 ? 100 : r.quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const auto* base = reinterpret_cast<const uint8_t*>(r.pixels);
    while (cinfo->next_scanline < cinfo->image_height) {
        const auto* in = reinterpret_cast<const uint32_t*>(base + static_cast<size_t>(cinfo->next_scanline) *
                                                                      static_cast<size_t>(r.strideBytes));
        RowToRGB(in, s->row, r.width, r.byteOrder != 0);
        JSAMPROW row = s->row;
        jpeg_write_scanlines(cinfo, &row, 1);
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
