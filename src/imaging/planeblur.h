// The Gaussian blur's two passes over 8-bit planes: an alpha channel, a
// shadow shape, or one colour channel of a picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// In place, each output the kernel's taps in order over the samples around
// it (the edge sample repeating beyond the border), truncated to a byte.
// Rows: across each row; Columns: down each column. false when a work
// buffer cannot be had (the plane is then unchanged).
bool BlurRows8(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel);
bool BlurColumns8(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel);
// The plain definitions the tests hold the two to.
void BlurRows8Ref(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel);
void BlurColumns8Ref(uint8_t* data, int32_t width, int32_t height, size_t rowBytes,
                     const std::vector<double>& kernel);

// The blur of an 8-bit plane alone (code 98 without pixels): a radius below
// 0 counts as 0, a radius of 0 takes the kernel width from sigma, and a
// sigma of (nearly) 0 leaves the plane alone. 0, or ERR_MEM when the kernel
// or a work buffer cannot be had (the plane is then unchanged).
int BlurPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma);
