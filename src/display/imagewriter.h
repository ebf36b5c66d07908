// Writing pictures to files: ARGB buffers as BMP (written here), PNG or
// JPEG, and bitmaps with their planes through the same path. Shared by
// snapshots and the savers of brushes, BGPics and recordings.
#pragma once

#include <cstddef>
#include <cstdint>

struct qbBitmap;

enum : int32_t {
    kImageFormatBMP = 0,
    kImageFormatPNG = 1,
    kImageFormatJPEG = 2,
    kImageFormatGIF = 3,
    kImageFormatILBM = 4,
    kFirstPluginImageFormat = 5,
};

struct qbImageSaveOptions {
    int32_t quality = 90;  // JPEG
    int32_t colors = 256;  // palette formats
    int32_t dither = 0;
};

// Bytes of one BMP row: three per pixel, padded to a multiple of four.
constexpr int64_t BMPRowBytes(int32_t width) { return (int64_t{width} * 3 + 3) & ~int64_t{3}; }

// Where BMP bytes go; returns how many it took.
struct qbByteSink {
    size_t (*write)(void* context, const void* data, size_t count) = nullptr;
    void* context = nullptr;
};

// The 24-bit BMP of width x height ARGB pixels (top row first, rows
// rowPixels apart; 0 for width) into the sink, bottom row first. 0,
// ERR_WRITE when the sink takes less than it is given, ERR_MEM.
int WriteBMP(const qbByteSink& sink, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowPixels = 0);

// 0 or the error: ERR_WRITEFILE (the file name as detail), ERR_WRITE,
// ERR_CLOSEFILE, ERR_MEM, ERR_WRONGUSAGE (a side over 65535 for ILBM and
// GIF), the plugin saver's error for codes from kFirstPluginImageFormat,
// ERR_UNKNOWNIMGOUT for other codes.
int WriteImageFile(int32_t format, const uint32_t* pixels, int32_t width, int32_t height, const char* fileName,
                   int32_t keyColour, bool hasAlpha, const qbImageSaveOptions& options);

// The bitmap (with its mask, key colour or alpha channel) through
// WriteImageFile. readAnyFormat reads palette and adapter bitmaps too.
int SaveBitmapImage(int32_t format, qbBitmap* bitmap, int32_t width, int32_t height, const char* fileName,
                    qbBitmap* mask, int32_t keyColour, qbBitmap* alpha, const qbImageSaveOptions& options,
                    bool readAnyFormat);

// PNG of 4 x width row bytes; on failure the file name is the detail.
int SavePixelsPNG(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height, bool hasAlpha);

// Image-saver plugins live above the display: the plugin layer installs the
// writer of codes from kFirstPluginImageFormat. It answers 0,
// ERR_UNKNOWNIMGOUT when no saver registered the code, ERR_SAVEIMAGE when
// the saver fails, or ERR_MEM. Without it every such code is unknown.
struct qbPluginImageSave {
    int32_t format = 0;
    const uint32_t* pixels = nullptr;  // ARGB, width a row
    int32_t width = 0;
    int32_t height = 0;
    const char* fileName = nullptr;
    int32_t keyColour = -1;  // $RRGGBB or -1
    bool hasAlpha = false;
    qbImageSaveOptions options;
};
using PluginImageSaverHook = int (*)(const qbPluginImageSave& request);
void SetPluginImageSaverHook(PluginImageSaverHook hook);
