// The image-file writer: BMP by hand through the file layer, PNG and JPEG
// through the inbuilt encoders.
#include "display/imagewriter.h"
#include "display/gifsave.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "imaging/bitmap.h"
#include "imaging/imageformats.h"

namespace {

constexpr uint32_t kBMPHeaderBytes = 54;
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

int WriteFileError(const char* fileName) {
    SetErrorDetail(fileName);
    return ERR_WRITEFILE;
}

int WriteBMPFile(const uint32_t* pixels, int32_t width, int32_t height, const char* fileName) {
    qbFile* file = FileOpen(fileName, kFileModeWrite, nullptr);
    if (!file) return WriteFileError(fileName);
    const int err = WriteBMP(qbByteSink{&FileSink, file}, pixels, width, height);
    const bool closed = FileClose(file) != 0;
    if (err) return err;
    return closed ? 0 : ERR_CLOSEFILE;
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
    qbFile* file = FileOpen(fileName, kFileModeWrite, nullptr);
    if (!file) return WriteFileError(fileName);
    const size_t written = FileWrite(file, request.data.get(), request.size);
    const bool closed = FileClose(file) != 0;
    if (written != request.size) return ERR_WRITE;
    return closed ? 0 : ERR_CLOSEFILE;
}

}  // namespace

int WriteBMP(const qbByteSink& sink, const uint32_t* pixels, int32_t width, int32_t height) {
    if (width < 1 || height < 1 || !pixels) return ERR_WRONGUSAGE;
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
    // Rows go out in blocks of about 64 KB: one write per row would
    // cost more than the conversion.
    const int32_t rowsPerBlock =
        static_cast<int32_t>(std::max<int64_t>(1, std::min<int64_t>(height, (1 << 16) / rowBytes)));
    std::vector<uint8_t> block;
    try {
        block.assign(static_cast<size_t>(rowBytes * rowsPerBlock), 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    int32_t y = height - 1;
    while (y >= 0) {
        const int32_t rows = std::min(rowsPerBlock, y + 1);
        for (int32_t r = 0; r < rows; ++r, --y) {
            const uint32_t* src = pixels + static_cast<size_t>(y) * width;
            uint8_t* out = block.data() + static_cast<size_t>(r) * static_cast<size_t>(rowBytes);
            // Four bytes per pixel, the fourth overwritten by the next one;
            // the last pixel's three leave the zero padding alone.
            for (int32_t x = 0; x < width - 1; ++x, out += 3) std::memcpy(out, &src[x], 4);
            const uint32_t last = src[width - 1];
            out[0] = static_cast<uint8_t>(last);
            out[1] = static_cast<uint8_t>(last >> 8);
            out[2] = static_cast<uint8_t>(last >> 16);
        }
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

int WriteImageFile(int32_t format, const uint32_t* pixels, int32_t width, int32_t height, const char* fileName,
                   int32_t keyColour, bool hasAlpha, const qbImageSaveOptions& options) {
    switch (format) {
    case kImageFormatBMP: return WriteBMPFile(pixels, width, height, fileName);
    case kImageFormatPNG: return SavePixelsPNG(fileName, pixels, width, height, hasAlpha);
    case kImageFormatJPEG: return WriteJPEGFile(pixels, width, height, fileName, options.quality);
    case kImageFormatGIF:
        return WriteGIFImageFile(pixels, width, height, fileName, keyColour, options.colors, options.dither != 0);
    // The ILBM writer is not part of the player yet.
    case kImageFormatILBM: SetErrorDetail("IFF ILBM"); return ERR_UNSUPPORTEDFEAT;
    default: return ERR_UNKNOWNIMGOUT;
    }
}

int SaveBitmapImage(int32_t format, qbBitmap* bitmap, int32_t width, int32_t height, const char* fileName,
                    qbBitmap* mask, int32_t keyColour, qbBitmap* alpha, const qbImageSaveOptions& options,
                    bool readAnyFormat) {
    std::vector<uint32_t> pixels =
        readAnyFormat && !mask && !alpha
            ? CopyBitmapRectToARGB(bitmap, 0, 0, width, height, kLockReadOnly)
            : GetBitmapARGB(bitmap, 0, 0, width, height, mask, alpha, keyColour, false, kLockReadOnly);
    if (pixels.empty()) return ERR_MEM;
    return WriteImageFile(format, pixels.data(), width, height, fileName, keyColour, alpha != nullptr, options);
}
