// The polygon scan engine: polygons, thin, anti-aliased and thick lines into
// 8-bit coverage rasters (0 = not covered, 255 = covered). It knows nothing
// of scripts, bitmaps or colours; failures go to one error variable that
// every public entry clears first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Error codes of the engine; all negative, 0 = no error.
enum : int32_t {
    kScanStepFailed = -1,  // a step failed; keeps the code it stored
    kScanNoMemory = -4,
    kScanBadRecord = -5,   // wrong record, unsupported line mode, outline thickness
    kScanStepFailedQuiet = -8,
    kScanRecordMemory = -9,
    kScanBadPitch = -13,
    kScanBadLayout = -17,
    kScanNegativeSize = -25,
    kScanNullArgument = -27,
    kScanMisaligned = -49,
    kScanBadSize = -201,
    kScanNotRaster = -206,
    kScanLineOutside = -207,
    kScanOutOfRange = -211,
};

// 0 clears; -1 and -8 keep the code a failing step already stored.
void SetScanError(int32_t code);
int32_t GetScanError();

// Blocks of n bytes aligned to 32 bytes, for the pixel planes the sweep
// writes with wide stores. Null with -211 above 1 GiB, -4 when the system
// has no memory. AlignedFree of null does nothing; of a pointer that is no
// multiple of 32 it stores -49 and frees nothing.
constexpr size_t kScanMaxBlock = size_t{1} << 30;
void* AlignedAlloc(size_t n);
void AlignedFree(void* block);

// A coverage raster: one byte per pixel, rows padded to 4 bytes.
struct ScanRaster {
    uint32_t sizeTag = sizeof(ScanRaster);
    int32_t samplesPerPixel = 1;
    int32_t bitsPerSample = 8;
    int32_t rowAlignment = 4;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* pixels = nullptr;
    int32_t pitch = 0;
    int64_t blockSize = 0;
};

// What the line and fill routines draw into. Layout code 0 is one byte per
// pixel; anti-aliasing needs a layout whose low three bits are 0.
constexpr uint32_t kScanViewTag = 0x4242u << 16;
constexpr uint32_t kScanViewContiguous = 0x4000;
struct ScanRasterView {
    uint32_t layout = 0;
    int32_t pitch = 0;
    int32_t height = 0;
    int32_t width = 0;
    uint8_t* pixels = nullptr;
};

// Bytes per pixel of a layout code.
int32_t LayoutBytesPerPixel(uint32_t code);

// Null (and *pixels, *pitch untouched) on failure: -25 for a negative size.
ScanRaster* CreateCoverageRaster(int32_t width, int32_t height, uint8_t** pixels, int32_t* pitch);
void FreeCoverageRaster(ScanRaster* raster);

struct ScanRasterDeleter {
    void operator()(ScanRaster* r) const { FreeCoverageRaster(r); }
};
using CoverageRasterPtr = std::unique_ptr<ScanRaster, ScanRasterDeleter>;

// False (with -5 or -206 stored) when raster is no coverage raster.
bool DescribeRaster(const ScanRaster* raster, ScanRasterView* view);

// Points are count pairs (x, y) of whole pixels; the polygon is closed.
// thickness 0 fills it (even-odd), 1..255 draws its outline that thick.
void FillPolygon(ScanRaster* raster, const int32_t* points, int32_t count, int antialias, int32_t thickness);
// One row's covered pixels: count runs, run i from column runs[2i] to
// runs[2i + 1] - 1, left to right.
using ScanRunSink = void (*)(void* context, int32_t y, const int32_t* runs, int32_t count);
// The pixels FillPolygon sets with antialias 0 and thickness 0, limited to
// columns left..right-1 and rows top..bottom-1, handed to sink a row at a
// time from the top (rows without any are skipped) instead of written into
// a raster: the same as filling a raster that covers the window and
// reading its runs. Errors as FillPolygon's; sink must not call the engine.
void ScanPolygonRuns(const int32_t* points, int32_t count, int32_t left, int32_t top, int32_t right, int32_t bottom,
                     ScanRunSink sink, void* context);
// One line with round caps at both ends; thickness above 255 gives -211.
void DrawThickLine(ScanRaster* raster, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int antialias,
                   int32_t thickness);

// --- The line half; fixed-point values are 64-bit so that rasters beyond
// 32768 pixels keep their precision. ---

struct ScanPoint64 {
    int64_t x = 0;
    int64_t y = 0;
};

// Cohen-Sutherland against 0..width-1 x 0..height-1; false when nothing is
// left (and -211 for a size below 1).
bool ClipLine(int32_t width, int32_t height, ScanPoint64* p0, ScanPoint64* p1);

enum : int32_t { kLine8Connected = 0, kLine4Connected = 1 };
// mode 0 or 8: 8-connected, 1 or 4: 4-connected, else -5. The 8-connected
// line keeps the pixels of the unclipped line inside the raster.
void DrawRasterLine(const ScanRasterView& view, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t value,
                    int32_t mode);
// 16.16 endpoints; the three-pixel profile stays 2 pixels inside the raster.
void DrawRasterLineAA(const ScanRasterView& view, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
// 16.16 endpoints; one pixel per major step, rounded to nearest.
void DrawRasterLineSubpixel(const ScanRasterView& view, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                            uint8_t value);

constexpr int32_t kScanModeAntialias = 16;
// Points with fractionBits of fraction; mode >= 16 anti-aliases the edges.
void FillConvexPolygon(const ScanRasterView& view, const ScanPoint64* points, int32_t count, uint8_t value,
                       int32_t mode, int32_t fractionBits);

enum : int32_t { kCapStart = 1, kCapEnd = 2 };
void DrawThickSegment(const ScanRasterView& view, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint8_t value,
                      int32_t thickness, int32_t mode, int32_t caps, int32_t fractionBits);
