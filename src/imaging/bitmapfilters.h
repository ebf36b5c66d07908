// The image filters on whole bitmaps: each checks its parameters, locks the
// bitmap (or uses the caller's lock, so that a composite filter locks once
// for all its steps), runs the 4-byte or 2-byte kernel over (0, 0, width,
// height) and unlocks. Bitmaps of any other pixel size are left alone with
// success. The filters that move pixels move the mask and alpha planes in
// step. Results: 0, ERR_LOCKBMAP, ERR_MEM, or ERR_WRONGUSAGE for a number
// that is not finite.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbBitmapLock;

int ConvolveBitmap(int32_t code, qbBitmap* bitmap, qbBitmap* plane, int32_t width, int32_t height, double radius,
                   double sigma, qbBitmapLock* lock = nullptr);
int OilPaintBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double radius);
int NormalizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, uint32_t lowCount, uint32_t highCount,
                    qbBitmapLock* lock = nullptr);
int AutoNormalizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, qbBitmapLock* lock = nullptr);
// 1.0 leaves a component as it is; negatives count as 0.
int ModulateBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double lightness, double saturation, double hue);
int ContrastBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool raise, int32_t steps,
                   qbBitmapLock* lock = nullptr);
int SepiaToneBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t threshold);
// 256 entries: 255 x (i / 255) ^ (1 / gamma), rounded; all 0 for gamma 0.
void BuildGammaTable(uint8_t table[256], double gamma);
int GammaBitmap(qbBitmap* bitmap, int32_t width, int32_t height, double red, double green, double blue);
int SolarizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t threshold);
int PixelateBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t block);
int InvertBitmap(qbBitmap* bitmap, int32_t width, int32_t height, qbBitmapLock* lock = nullptr);
// direction 0 turns the rows upside down, 1 mirrors the columns.
int FlipBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t direction);
int GrayscaleBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool blackWhite, qbBitmapLock* lock = nullptr);
// Without dithering: black and white at brightness 128; with it, the
// quantiser's two dithered colours become black (the first) and white.
int MonochromeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, bool dither);
// Rewrites the pixels in at most `colours` colours (cut to 1..256).
int QuantizeBitmap(qbBitmap* bitmap, int32_t width, int32_t height, int32_t colours, bool dither);
// Angle in degrees, clamped to -359..359.
int SwirlBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t angle);
// Wave length (at least 1) and amplitude in pixels; the centre as fractions
// of the size, clamped to 0..1.
int WaterRippleBitmap(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height,
                      int32_t waveLength, int32_t amplitude, int32_t phase, double centreX, double centreY);
// Gray, edge, blur, level stretch, invert, gray, under one lock.
int CharcoalBitmap(qbBitmap* bitmap, qbBitmap* plane, int32_t width, int32_t height, double radius, double sigma);
// level 255 fills the rectangle with colour ($RRGGBB), a lower level
// blends it over the pixels; level is clamped to 0..255.
int TintBitmap(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
               int32_t level);
// The fill under TintBitmap, on locked 2- or 4-byte pixels.
void FillPixelRect(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                   int32_t level, int32_t rowLength, uint32_t format);
