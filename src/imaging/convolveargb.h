// The convolutions of ARGB pixels read from and written to the pixels
// directly, a row at a time, instead of through three byte planes and an
// edge-extended copy. Each channel's sums are the plane path's sums, tap
// for tap in the same order, so the pixels come out the same.
#pragma once

#include <cstdint>
#include <vector>

// Both answer false, leaving the pixels alone, when their work rows would
// be too large (or cannot be had); the caller then takes the plane path.
// The blur's kernel must be at most four times as long as either side
// (the plane path sums longer kernels by side).
bool BlurArgb(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const std::vector<double>& kernel);
// A k x k kernel, k at most the width and the height.
bool Convolve2DArgb(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const std::vector<double>& kernel,
                    int64_t k);
