// IFF ILBM pictures (EA IFF 85 interleaved bitmaps), read and written by
// the player itself, with the Amiga display modes HAM6, HAM8 and
// Extra-Half-Brite. The planar, HAM and run-length helpers also serve the
// anim readers. Numbers in the file are big-endian; colours are 0x00RRGGBB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/pixelbuffer.h"

struct qbFile;

constexpr uint32_t kNoCallerColour = 0xFFFFFFFFu;

// Bytes in one plane row: rows are padded to 16 bits.
inline size_t ILBMRowBytes(int32_t width) { return ((static_cast<size_t>(width) + 15) >> 4) * 2; }

// Slides a 4-byte window from the current position; a window "BODY" ends a
// scan that seeks something else, and a scan that starts at the end of the
// file restarts after the FORM header, so at most two scans find a chunk
// anywhere. On success the file stands just after the id, before the size.
bool FindIFFChunk(qbFile* file, const char* id);

// One ByteRun1 row from the file into `row` (rowBytes). A run that would
// overrun the row ends it; the control byte -128 is skipped. false on a
// short read.
bool UnpackByteRun1Row(qbFile* file, uint8_t* row, size_t rowBytes);
// The same over memory; the bytes of `source` used, or 0 when it ran out.
size_t UnpackByteRun1(const uint8_t* source, size_t sourceBytes, uint8_t* row, size_t rowBytes);
// Packs one row (runs of 3 to 128 equal bytes, literals of up to 128) into
// `out`, which holds ByteRun1WorstCase(rowBytes); the packed length.
size_t PackByteRun1Row(const uint8_t* row, size_t rowBytes, uint8_t* out);
inline size_t ByteRun1WorstCase(size_t rowBytes) { return rowBytes + (rowBytes + 127) / 128 + 1; }

// The planar buffer: up to 8 planes it holds plane after plane (each
// height rows); with 24 planes it holds row after row, each row its 24
// plane rows in turn.
struct ILBMBodyLayout {
    int32_t width = 0, height = 0, planes = 0;
    int32_t masking = 0;  // 1: a mask plane row follows each row's planes
};
bool ReadILBMBodyPlain(qbFile* file, uint8_t* planar, const ILBMBodyLayout& layout);
bool ReadILBMBodyByteRun1(qbFile* file, uint8_t* planar, const ILBMBodyLayout& layout);

// 1-8 planes: one index byte per pixel into `out` (width x height, every
// byte written). 24 planes: one 0x00RRGGBB word per pixel (planes 0-7 red,
// bit 0 in plane 0, then green, then blue), rows strideBytes apart. Any
// other plane count leaves `out` untouched.
void PlanarToChunky(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, size_t rowBytes,
                    void* out, size_t strideBytes);

// 1-8 planes straight to 0x00RRGGBB words a row at a time, through the
// palette or, with hamBits 4 (HAM6) or 6 (HAM8), hold and modify; false
// when the row buffer cannot be had.
bool PlanarToARGB(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, size_t rowBytes,
                  const uint32_t* palette, int hamBits, uint32_t* out);

// Hold and modify: the held colour starts black at every row.
void ConvertHAM6(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);
void ConvertHAM8(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);
void ChunkyToARGB(const uint8_t* indices, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);
// Entries 32-63 become entries 0-31 at half brightness.
void ApplyExtraHalfBrite(uint32_t* palette);

struct ILBMReadRequest {
    bool probe = false;
    uint32_t* palette = nullptr;  // caller's 256 entries (merged and written back), or null
    uint32_t callerColour = kNoCallerColour;
    bool mode1 = false, mode2 = false;  // turn the transparent index into a key colour
    bool wantPaletteCopy = false;
    // Out.
    int32_t width = 0, height = 0;
    int32_t key = -1;  // key colour 0x00RRGGBB, or -1
    PixelBuffer pixels;
    std::unique_ptr<uint32_t[]> paletteCopy;  // 256 entries (palette pictures without HAM)
};
// From the start of an open file. 0, ERR_MEM or ERR_LOADPICTURE2.
int ReadILBM(qbFile* file, ILBMReadRequest* request);

// A 24-plane ByteRun1 picture of width x height 0x??RRGGBB pixels (the top
// byte is dropped). 0, ERR_WRONGUSAGE (a side outside 1..65535),
// ERR_WRITEFILE (the name as detail), ERR_MEM or ERR_WRITE.
int WriteILBM(const char* fileName, const char* adapterTag, const uint32_t* pixels, int32_t width, int32_t height,
              int32_t strideBytes);
