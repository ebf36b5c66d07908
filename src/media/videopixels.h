// A video's RGB pictures in the pixel format of the bitmap they go to.
#pragma once

#include <cstdint>

// Source pixels are big-endian 0xAARRGGBB words (bytes A, R, G, B);
// `width` x `height` of them become pixels of the format (the codes of the
// pixel formats: 0-7 the 16-bit forms, 8 and 9 three bytes R, G, B and
// B, G, R, 10-12 the 32-bit forms). Each row is followed by the modulo's
// bytes of padding. Other formats write nothing.
void ConvertRGBRowsToPixelFormat(const void* source, void* destination, int32_t width, int32_t height,
                                 int32_t sourceModulo, int32_t destinationModulo, int32_t format);
