// Bitmaps that live in the display adapter: video bitmaps made from a
// request, bitmaps made from ARGB pixels, and reading them back.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"

// Adapter flag: a bitmap the adapter refuses may fall back to a plain one.
inline constexpr uint32_t kAdapterBitmapFallback = 0x4;

// Tags of the adapter's AllocVideoBitMap: the pixels, three request values,
// a transform's four doubles, the display's handle, the pixels' format code
// (8 opaque, 9 with alpha) and their pixels per row.
enum : uint32_t {
    kVideoTagPixels = 1,
    kVideoTagValue1 = 2,
    kVideoTagValue2 = 3,
    kVideoTagValue3 = 4,
    kVideoTagTransform = 5,
    kVideoTagDisplay = 6,
    kVideoTagFormat = 7,
    kVideoTagRowLength = 8,
};
// Flags AllocAdapterVideoBitmap adds: alpha came with the pixels, the pixels
// are the adapter's own bitmap.
enum : uint32_t { kVideoFlagAlpha = 1, kVideoFlagAdapterData = 2 };
// Formats of PixelsToAdapterBitmap's block.
enum : int32_t { kBlockOpaque = 8, kBlockAlpha = 9 };
// Tags of the adapter's ReadVideoPixels: where it writes its pixel format and
// whether its pixels carry alpha.
enum : uint32_t { kReadTagFormat = 1, kReadTagHasAlpha = 2 };

// The capability bits the installed adapter grants of those requested: 8
// with flag 16 (video bitmaps), 32 with flag 2 (bitmaps bound to a display),
// 4, 16, 64 and 128 with feature bits 0 to 3.
uint32_t GetAdapterSupportFlags(uint32_t requested);

// Mode 0 builds a width x height ARGB block from pixels (rowPixels apart):
// alpha from *alpha when given (which is then freed and cleared), else 0 for
// the key colour and 255 elsewhere, else 255; mode 1 hands the pixels on as
// they are. 0 with *out the adapter's bitmap; ERR_MEM; ERR_BITMAP when the
// adapter refuses and may not fall back, else 0 with *fallback set.
int PixelsToAdapterBitmap(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height,
                          int32_t rowPixels, int mode, intptr_t value, void** out, BitmapPtr* alpha, bool* fallback);

// The allocator of AllocBitmap's video bitmaps: false without an adapter
// that keeps them.
bool AllocAdapterVideoBitmap(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                             qbVideoBitmapRequest* request, void** out);

// Reads width x height pixels of an adapter bitmap: into ARGB words (out),
// and into alpha bytes when alpha is not null and the adapter's pixels carry
// alpha (it is left empty otherwise). 0, ERR_READVIDEOPIXELS (no pixels, or
// a pixel size other than 2 or 4 bytes) or ERR_WRONGUSAGE (alpha claimed
// by a format without it).
int ReadAdapterBitmapPixels(void* native, int32_t bitmapWidth, int32_t bitmapHeight, int32_t x, int32_t y,
                            int32_t width, int32_t height, uint32_t* out, std::vector<uint8_t>* alpha);

// The adapter's FreeVideoPixels; a marshalled adapter is not called (0).
int FreeAdapterVideoPixels(void* pixels);

// Installs or removes the hooks that make AllocBitmap and
// CreateBitmapFromARGB reach the adapter.
void InstallAdapterBitmapHooks(bool on);
