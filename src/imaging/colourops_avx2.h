// Vector forms of the colour operations, for ARGB rows.
#pragma once

#include <cstddef>
#include <cstdint>

// Contrast over the first pixels of the row, four at a time, with the
// table of v' by max(R, G, B); the number of pixels done (the rest is the
// caller's). Call only where the processor has AVX2.
size_t ContrastArgbAvx2(uint32_t* pixels, size_t count, const double* table);
// Modulate likewise, with hueAdd = (hue percent x 0.01 - 1) x 0.5,
// satScale = saturation percent x 0.01 and lightScale = 0.01 x lightness
// percent. Call only where the processor has AVX2 and FMA.
size_t ModulateArgbAvx2(uint32_t* pixels, size_t count, double hueAdd, double satScale, double lightScale);
// Eight pixels at a time where the processor has AVX-512F
// (colourops_avx512.cpp); the same pixels as the AVX2 form.
size_t ModulateArgbAvx512(uint32_t* pixels, size_t count, double hueAdd, double satScale, double lightScale);
