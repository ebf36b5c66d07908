// Buffers of 32-bit picture pixels: one checked size computation for every
// decoder and handle, so that no header can ask for an undersized
// allocation, and large pictures on huge pages (a decoder writes every
// pixel once, so page faults are a large share of its time otherwise).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

struct PixelFree {
    void operator()(uint32_t* pixels) const { std::free(pixels); }
};
using PixelBuffer = std::unique_ptr<uint32_t[], PixelFree>;

// Pixels one picture may have; the default leaves room for the largest
// pictures the blitters take. Tests and fuzz targets lower it.
constexpr uint64_t kDefaultMaxImagePixels = uint64_t{1} << 30;
void SetMaxImagePixels(uint64_t count);
uint64_t GetMaxImagePixels();
// A buffer of width x height pixels, the count computed in checked 64-bit
// arithmetic: ERR_MEM when a side is not positive, the count is over the
// limit or memory runs out; else 0 with *out holding the uncleared buffer.
int AllocImagePixels(int64_t width, int64_t height, PixelBuffer* out);
