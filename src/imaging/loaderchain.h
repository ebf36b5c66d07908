// The picture loader chain: every picture the player loads (brushes, BGPics,
// icons, anim frame sources, plugin requests) comes through here.
//
// For callers (brushes, BGPics, icons, IsPicture):
//
//   qbImageLoadParams p;            // fileName is required, the rest defaults
//   p.fileName = name;              // a path, ":::chunk..." or ":::memory..." name
//   p.loaderTag = loader;           // "loader" option: "inbuilt|native|<plugin>", null = default
//   p.adapterTag = adapter;         // "adapter" option handed to FileOpen, null = default
//   p.alphaMode = kAlphaRequired;   // 0 none, 1 required (ERR_NOALPHA), 2 when present
//   p.wantTransparency = 1;         // ERR_NOTRANSPARENCY when the picture has none
//   p.wantedWidth = -50;            // 0 own size, >0 pixels, <0 percent of own size
//   qbLoadedImage img;
//   if (int err = LoadImageThroughLoaders(p, &img)) return err;  // detail is set
//   const uint32_t* argb = GetImageHandlePixels(img.handle.get());
//   // img.width x img.height pixels 0xAARRGGBB, img.rowLength pixels per row,
//   // top row first; the alpha byte means something only when img.hasAlpha.
//   // img.alpha: 8-bit alpha plane (alpha mode 1 or 2 and the picture has alpha).
//   // img.transparency: -1 none, else the key colour 0x00RRGGBB to mask out.
//   // Keep the picture: img.handle.release() (one reference; drop it with
//   // ReleaseImageHandle, add more with RetainImageHandle).
//
// Errors: ERR_READFILE (can't open), ERR_LOADPICTURE2 (no loader read it),
// ERR_MEM, ERR_NOALPHA, ERR_NOTRANSPARENCY, ERR_TFIMAGE, or a loader's code;
// for ERR_READFILE, ERR_LOADPICTURE2, ERR_NOALPHA and ERR_NOTRANSPARENCY the
// error detail holds the file name. On failure nothing is held.
//
// The chain's order: image-loader plugins that the loader tag allows, then
// the inbuilt readers picked by the file's first bytes (ILBM, PNG, JPEG, BMP,
// GIF), then the platform's decoder (DecodeNativeImage).
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"
#include "platform/platform_types.h"

// Format codes of qbDecodedImage.
enum : int32_t {
    kImageFormatNone = 0,
    kImageFormatILBM = 1,
    kImageFormatJPEG = 2,
    kImageFormatPNG = 3,
    kImageFormatBMP = 4,
    kImageFormatGIF = 5,
    kImageFormatNative = 6,
};

// The file-open mode the readers use unless told otherwise: read, file
// adapters allowed, stream seeks by reading forward.
constexpr uint32_t kImageOpenMode = 25;

// What one successful inbuilt or native load returns; the handle keeps it
// as its loader image and frees it with FreeImageRecord.
struct qbDecodedImage {
    int32_t format = kImageFormatNone;
    PixelBuffer pixels;  // width x height 0xAARRGGBB, top row first
    qbNativeImage* native = nullptr;     // format 6 only
};

// The pixels of a record (the native decoder's data for format 6).
const uint32_t* GetImageRecordData(const qbDecodedImage* record);
void FreeImageRecord(qbDecodedImage* record);

// Alpha modes of LoadImageThroughLoaders.
enum : int32_t { kAlphaNone = 0, kAlphaRequired = 1, kAlphaIfPresent = 2 };

// Loader values: 0 the inbuilt readers, 1 the platform decoder, any other
// value the qbPlugin that loaded the picture.
constexpr uintptr_t kLoaderInbuilt = 0;
constexpr uintptr_t kLoaderNative = 1;

struct qbImageLoadParams {
    const char* fileName = nullptr;
    const char* loaderTag = nullptr;   // null, "" or "default": no restriction
    const char* adapterTag = nullptr;  // file adapters for FileOpen
    uint32_t openMode = kImageOpenMode;
    const uint32_t* palette = nullptr;  // 256 entries for palette pictures (ILBM), or null
    uint32_t callerColour = 0xFFFFFFFFu;  // none
    int32_t keyColourMode = 0;            // 0, 1 or 2 (ILBM/GIF key colours)
    int32_t alphaMode = kAlphaNone;
    int32_t wantTransparency = 0;
    int32_t wantedWidth = 0;   // 0 own size, negative: that many percent
    int32_t wantedHeight = 0;
    int32_t smooth = 0;        // smooth scaling to the wanted size
    bool wantPaletteCopy = false;
};

struct qbLoadedImage {
    ImageHandlePtr handle;                    // one reference
    BitmapPtr alpha;                          // alpha plane or null
    std::unique_ptr<uint32_t[]> paletteCopy;  // 256 entries (ILBM only), else null
    int32_t transparency = -1;                // -1 or key colour 0x00RRGGBB
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowLength = 0;  // pixels per row of GetImageHandlePixels
    int32_t hasAlpha = 0;
    int32_t isVector = 0;
    uintptr_t loader = kLoaderInbuilt;
};

// Loads a picture through the chain, scaled to the wanted size. 0 or an
// error code (see the top of this file).
int LoadImageThroughLoaders(const qbImageLoadParams& params, qbLoadedImage* out);

// What ProbeImageFile reports of a picture without decoding it (mostly from
// its first 1024 bytes).
struct qbImageProbe {
    int32_t isVector = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t hasAlpha = 0;
    int32_t transparency = 0;  // 1 when the file declares transparency
};
// 1 when some loader recognises the file as a picture (IsPicture), else 0.
int ProbeImageFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openMode,
                   qbImageProbe* out);

// The inbuilt part of the chain (inbuilt readers, then the platform
// decoder, as the loader tag allows). out null probes only. The optional
// outputs may be null. 0, ERR_MEM, ERR_READFILE, ERR_LOADPICTURE2 or the
// platform decoder's code.
struct qbInbuiltLoadResult {
    std::unique_ptr<qbDecodedImage, void (*)(qbDecodedImage*)> image{nullptr, &FreeImageRecord};
    std::unique_ptr<uint32_t[]> paletteCopy;
    int32_t transparency = -1;  // after a probe: 1 when declared, else as given
    int32_t width = 0;
    int32_t height = 0;
    int32_t hasAlpha = 0;
    int32_t native = 0;
};
int LoadImageInbuilt(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openMode,
                     const uint32_t* palette, uint32_t callerColour, int32_t keyColourMode, bool probeOnly,
                     bool wantPaletteCopy, qbInbuiltLoadResult* out);

// Looks for a 4-byte id at every position 0 .. length - 9; the position just
// after it, or -1 (also for length below 9).
int32_t FindTagInHeader(const uint8_t* buffer, int32_t length, const char* id);
