// Gaussian blur of an 8-bit plane (alpha channels, shadow shapes).
#pragma once

#include <cstdint>

// Odd width of the one-dimensional blur kernel: 2 x ceil(radius) + 1 for a
// positive radius, else the narrowest width whose outermost weight still
// counts in 8 bits; 1 for a sigma of (nearly) 0.
int64_t GaussianKernelWidth(double radius, double sigma);

// Blurs width x height bytes at data (rows rowBytes apart) in place, a
// horizontal then a vertical pass; samples beyond an edge repeat the edge
// byte, so a plane of one value keeps it. A radius below 0 counts as 0, and
// a sigma of (nearly) 0 leaves the plane alone. 0, or ERR_MEM when the
// kernel or the work rows cannot be had (the plane is then unchanged).
int BlurPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma);
