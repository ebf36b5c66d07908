// The inbuilt picture readers and writers (PNG and JPEG over libpng and
// libjpeg, BMP by hand). Every reader hands back width x height 32-bit
// pixels 0xAARRGGBB, top row first, with alpha 0 unless the picture has
// alpha. No library message ever reaches the console: a library error
// becomes the reader's error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/pixelbuffer.h"

struct qbFile;

// PNG. probe fills only width, height and alpha. 0, ERR_MEM or
// ERR_LOADPICTURE2.
int ReadPNG(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels, int32_t* hasAlpha);

struct qbPNGRequest {
    const char* fileName = nullptr;
    const char* adapterTag = nullptr;
    const uint32_t* pixels = nullptr;
    int32_t strideBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t hasAlpha = 0;  // colour type 6 (RGBA) instead of 2 (RGB)
    // 0: words 0xAARRGGBB in the machine's order; 1: the bytes A, R, G, B.
    int32_t byteOrder = 0;
    // Set: the file is appended here and fileName is not used.
    std::vector<uint8_t>* memory = nullptr;
    // 0, ERR_MEM, ERR_WRITEFILE (no detail) or a refusal of BeginReplaceFile
    int result = 0;
};
void WritePNG(qbPNGRequest* request);

// JPEG from a file or from memory. 0, ERR_MEM or ERR_LOADPICTURE2.
int ReadJPEG(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels);
int ReadJPEGMemory(const void* data, size_t size, bool probe, int32_t* width, int32_t* height,
                   PixelBuffer* pixels);

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

struct qbJPEGRequest {
    const uint32_t* pixels = nullptr;
    int32_t strideBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t quality = 90;  // 0-100
    // 0: red, green, blue are bytes 2, 1, 0 of each little-endian word
    // (0xAARRGGBB); 1: bytes 1, 2, 3.
    int32_t byteOrder = 0;
    std::unique_ptr<uint8_t, FreeDeleter> data;  // out: the encoded file
    size_t size = 0;                             // out
    int result = 0;                              // 0 or ERR_MEM
};
void WriteJPEG(qbJPEGRequest* request);

// Windows BMP (40-byte information header; 1, 4, 8 (plain or RLE8), 16 (as
// 5-6-5) and 24 bits, bottom-up). 0, ERR_READ (not even two bytes),
// ERR_MEM or ERR_LOADPICTURE2. A probe reports the header's width and
// height as they stand.
int ReadBMP(qbFile* file, bool probe, int32_t* width, int32_t* height, PixelBuffer* pixels);
