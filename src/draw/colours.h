// Colours (0xAARRGGBB) against pixel values of the pixel formats, colour
// mixing, and the palette GetRandomColor draws from.
#pragma once

#include <cstdint>

#include "core/bitmaplock.h"

// A colour as a pixel value of format 0-13; alpha only with withAlpha and a
// format that has it. Any other format gives 0.
uint32_t ConvertColorToFormat(uint32_t colour, int format, bool withAlpha);
// The inverse: narrow components come back in the top bits of their byte.
uint32_t ConvertPixelToColor(uint32_t value, int format, bool withAlpha);
// One pixel of a locked bitmap as 0xRRGGBB; 0 outside the lock.
uint32_t ReadPixelColor(const qbBitmapLock& lock, int32_t x, int32_t y);

// 15, 16, 24 or 32 bits (2, 3 or 4 bytes) for the colour formats, else 0.
int GetPixelFormatBits(int format);
int GetPixelFormatBytes(int format);

// Each of r, g, b moves from a towards b by weight / 256 (0..255); the
// result's alpha is 0.
uint32_t MixColors(uint32_t a, uint32_t b, int32_t weight);

constexpr int kRandomColourCount = 246;
// Entry index (0..245) of the random-colour table as 0xRRGGBB.
uint32_t RandomTableColour(int index);
