// The blur of an 8-bit plane made of long runs of one value, as the shapes
// behind shadows and borders are: zero around the source's rectangle, and
// zero or 255 once hardened. A run of value v over [a, b) adds v times the
// sum of the kernel's taps that reach it, which the kernel's prefix sums
// give at once, so each output costs the runs of its line, not the
// kernel's length.
#pragma once

#include <cstdint>

// BlurPlane8's blur (imaging/planeblur.h) of the same plane, each byte
// within 1 of it (the sums are taken in another order). Where the runs
// would cost more than the kernel's taps it is BlurPlane8 itself. 0, or
// ERR_MEM with the plane unchanged.
int BlurRunPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma);
// The work the run blur would do on that plane (outputs times the runs each
// adds up), or the taps of BlurPlane8 when that is what it would run.
uint64_t RunBlurWork(const uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius,
                     double sigma);
