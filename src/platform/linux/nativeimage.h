// The Linux backend's image codecs: any picture FFmpeg reads, decoded to
// 32-bit pixels by the rules of the platform decoder (which formats count
// as alpha, high bytes of 16-bit channels); PNG and JPEG encoded by the
// picture layer's writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform_types.h"

struct AVFrame;

namespace linux_images {

int DecodeNativeImage(qbNativeImageRequest* request);
int DecodeNativeImageFromMemory(const void* data, size_t size, qbNativeImageRequest* request);
const uint32_t* GetNativeImageData(qbNativeImage* image);
void FreeNativeImage(qbNativeImage* image);
int EncodeNativeImage(const char* path, const qbEncodePixels* picture, int32_t type, std::vector<uint8_t>* outData);

// Whether the frame's pixel format is straight RGB with alpha: the only
// kind whose alpha a picture keeps.
bool FrameHasStraightAlpha(const AVFrame* frame);
// How a frame's four channels are read: as RGB and alpha, as RGB with the
// alpha dropped, or as C, M, Y, K inks (FFmpeg hands 16-bit CMYK TIFFs over
// unconverted, as RGBA64).
enum class FrameChannels { kAlpha, kOpaque, kInk };
// The frame as frame->width x frame->height words 0xAARRGGBB (alpha 0
// unless kAlpha), 16-bit channels by their high byte. 0, ERR_MEM or
// ERR_LOADPICTURE2 (a format nothing converts).
int CopyFrameToARGB(const AVFrame* frame, FrameChannels channels, uint32_t* out);

// What FFmpeg does not report of a TIFF's first directory: whether its
// extra sample is associated (premultiplied) alpha, and whether its pixels
// are inks (photometric interpretation 5, CMYK). readAt reads count bytes
// at an offset from the file's start and answers whether it got them all.
struct TIFFFacts {
    bool associatedAlpha = false;
    bool inks = false;
};
using ReadAtFn = bool (*)(void* source, int64_t offset, void* buffer, size_t count);
TIFFFacts ReadTIFFFacts(ReadAtFn readAt, void* source);

}  // namespace linux_images
