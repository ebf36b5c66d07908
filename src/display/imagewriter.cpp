// The image-file writer: BMP by hand through the file layer, PNG and JPEG
// through the inbuilt encoders, other codes through the plugins' savers.
#include "display/imagewriter.h"
#include "display/gifsave.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/pixelformats.h"
#include "core/replacefile.h"
#include "imaging/bitmap.h"
#include "imaging/ilbm.h"
#include "imaging/imageformats.h"

namespace {

constexpr uint32_t kBMPHeaderBytes = 54;
PluginImageSaverHook pluginSaver = nullptr;
// A pixel word's first three bytes in memory are blue, green and red.
static_assert(std::endian::native == std::endian::little);

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

size_t FileSink(void* context, const void* data, size_t count) {
    return FileWrite(static_cast<qbFile*>(context), data, count);
}

int WriteBMPFile(const uint32_t* pixels, int32_t width, int32_t height, int32_t rowPixels, const char* fileName) {
    qbReplaceFile out;
    if (int err = BeginReplaceFile(fileName, qbReplaceOptions{}, &out)) return err;
    if (int err = WriteBMP(qbByteSink{&FileSink, out.file.get()}, pixels, width, height, rowPixels)) return err;
    return CommitReplaceFile(&out);
}

// One BMP row: the blue, green and red bytes of each pixel, four pixels
// packed into three words at a time. Only the colour bytes are written, so
// the row's zero padding stays as the caller left it.
void PackBMPRowPortable(const uint32_t* src, int32_t width, uint8_t* out, int32_t x = 0) {
    out += static_cast<size_t>(x) * 3;
    for (; x + 4 <= width; x += 4, out += 12) {
        const uint32_t p0 = src[x], p1 = src[x + 1], p2 = src[x + 2], p3 = src[x + 3];
        const uint32_t words[3] = {(p0 & 0xFFFFFFu) | p1 << 24, (p1 >> 8 & 0xFFFFu) | p2 << 16,
                                   (p2 >> 16 & 0xFFu) | p3 << 8};
        std::memcpy(out, words, sizeof words);
    }
    for (; x < width; ++x, out += 3) {
        out[0] = static_cast<uint8_t>(src[x]);
        out[1] = static_cast<uint8_t>(src[x] >> 8);
        out[2] = static_cast<uint8_t>(src[x] >> 16);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels at a time: each register's four pixels lose their alpha
// bytes in one shuffle, and the four 12-byte pieces are joined into three
// stores. The portable loop does the last pixels.
__attribute__((target("ssse3"))) void PackBMPRowSsse3(const uint32_t* src, int32_t width, uint8_t* out) {
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, out += 48) {
        const auto* in = reinterpret_cast<const __m128i*>(src + x);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), drop);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), drop);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), drop);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), drop);
        auto* to = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(to, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(to + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(to + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    PackBMPRowPortable(src, width, out - static_cast<size_t>(x) * 3, x);
}

bool HaveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

void PackBMPRow(const uint32_t* src, int32_t width, uint8_t* out) {
#if defined(__x86_64__) || defined(__i386__)
    if (HaveSsse3()) return PackBMPRowSsse3(src, width, out);
#endif
    PackBMPRowPortable(src, width, out);
}

int WriteJPEGFile(const uint32_t* pixels, int32_t width, int32_t height, const char* fileName, int32_t quality) {
    qbJPEGRequest request;
    request.pixels = pixels;
    request.strideBytes = width * 4;
    request.width = width;
    request.height = height;
    request.quality = quality;
    WriteJPEG(&request);
    if (request.result) return request.result;
    qbReplaceFile out;
    if (int err = BeginReplaceFile(fileName, qbReplaceOptions{}, &out)) return err;
    if (FileWrite(out.file.get(), request.data.get(), request.size) != request.size) return ERR_WRITE;
    return CommitReplaceFile(&out);
}

}  // namespace

int WriteBMP(const qbByteSink& sink, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowPixels) {
    if (width < 1 || height < 1 || !pixels) return ERR_WRONGUSAGE;
    if (rowPixels == 0) rowPixels = width;
    if (rowPixels < width) return ERR_WRONGUSAGE;
    const int64_t rowBytes = BMPRowBytes(width);
    const int64_t fileSize = rowBytes * height + kBMPHeaderBytes;
    if (fileSize > UINT32_MAX) return ERR_MEM;
    uint8_t header[kBMPHeaderBytes] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(fileSize));
    Put32(header + 10, kBMPHeaderBytes);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<uint32_t>(width));
    Put32(header + 22, static_cast<uint32_t>(height));
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    // A header written short is a write fault like a short row.
    if (sink.write(sink.context, header, sizeof header) != sizeof header) return ERR_WRITE;
    // Rows go out in blocks of about 256 KB: one write per row would
    // cost more than the conversion, and a block still stays in the cache
    // between its packing and its write.
    const int32_t rowsPerBlock =
        static_cast<int32_t>(std::max<int64_t>(1, std::min<int64_t>(height, (1 << 18) / rowBytes)));
    std::vector<uint8_t> block;
    try {
        block.assign(static_cast<size_t>(rowBytes * rowsPerBlock), 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    int32_t y = height - 1;
    while (y >= 0) {
        const int32_t rows = std::min(rowsPerBlock, y + 1);
        for (int32_t r = 0; r < rows; ++r, --y)
            PackBMPRow(pixels + static_cast<size_t>(y) * static_cast<size_t>(rowPixels), width,
                       block.data() + static_cast<size_t>(r) * static_cast<size_t>(rowBytes));
        const size_t bytes = static_cast<size_t>(rows) * static_cast<size_t>(rowBytes);
        if (sink.write(sink.context, block.data(), bytes) != bytes) return ERR_WRITE;
    }
    return 0;
}

int SavePixelsPNG(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height, bool hasAlpha) {
    qbPNGRequest request;
    request.fileName = fileName;
    request.pixels = pixels;
    request.strideBytes = width * 4;
    request.width = width;
    request.height = height;
    request.hasAlpha = hasAlpha ? 1 : 0;
    WritePNG(&request);
    if (request.result) SetErrorDetail(fileName);
    return request.result;
}

void SetPluginImageSaverHook(PluginImageSaverHook hook) { pluginSaver = hook; }

int WriteImageFile(int32_t format, const uint32_t* pixels, int32_t width, int32_t height, const char* fileName,
                   int32_t keyColour, bool hasAlpha, const qbImageSaveOptions& options) {
    switch (format) {
    case kImageFormatBMP: return WriteBMPFile(pixels, width, height, width, fileName);
    case kImageFormatPNG: return SavePixelsPNG(fileName, pixels, width, height, hasAlpha);
    case kImageFormatJPEG: return WriteJPEGFile(pixels, width, height, fileName, options.quality);
    case kImageFormatGIF:
        return WriteGIFImageFile(pixels, width, height, fileName, keyColour, options.colors, options.dither != 0);
    case kImageFormatILBM: return WriteILBM(fileName, nullptr, pixels, width, height, width * 4);
    default:
        if (format < kFirstPluginImageFormat || !pluginSaver) return ERR_UNKNOWNIMGOUT;
        if (int err = CheckWriteTarget(fileName, nullptr)) return err;
        return pluginSaver(qbPluginImageSave{format, pixels, width, height, fileName, keyColour, hasAlpha, options});
    }
}

int SaveBitmapImage(int32_t format, qbBitmap* bitmap, int32_t width, int32_t height, const char* fileName,
                    qbBitmap* mask, int32_t keyColour, qbBitmap* alpha, const qbImageSaveOptions& options,
                    bool readAnyFormat) {
    // BMP keeps no alpha, so an ARGB bitmap is written from its own rows:
    // a snapshot needs no copy of the whole picture.
    if (format == kImageFormatBMP && !mask && !alpha && bitmap) {
        qbBitmapLock lock;
        if (LockBitmap(bitmap, kLockReadOnly, &lock)) {
            const bool direct = lock.pixelFormat == kFormatARGB && lock.bytesPerPixel == 4 && lock.pixels &&
                                lock.width >= width && lock.height >= height && lock.rowLength >= width;
            const int err = direct ? WriteBMPFile(static_cast<const uint32_t*>(lock.pixels), width, height,
                                                  lock.rowLength, fileName)
                                   : 0;
            UnlockBitmap(&lock);
            if (direct) return err;
        }
    }
    std::vector<uint32_t> pixels =
        readAnyFormat && !mask && !alpha
            ? CopyBitmapRectToARGB(bitmap, 0, 0, width, height, kLockReadOnly)
            : GetBitmapARGB(bitmap, 0, 0, width, height, mask, alpha, keyColour, false, kLockReadOnly);
    if (pixels.empty()) return ERR_MEM;
    return WriteImageFile(format, pixels.data(), width, height, fileName, keyColour, alpha != nullptr, options);
}
