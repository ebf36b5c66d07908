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

// The most pixels a picture's coding makes of its bytes: at most `pixels`
// pixels from `bytes` coded bytes, however the data is chosen.
struct qbPixelCoding {
    uint64_t pixels;
    uint64_t bytes;  // 0: a coding whose bytes bound nothing
};
// Samples stored as they are, or through a coder that makes at most
// `expansion` bytes of one.
constexpr qbPixelCoding PackedCoding(uint32_t bitsPerPixel, uint32_t expansion = 1) {
    return {uint64_t{8} * expansion, bitsPerPixel};
}
// Deflate: a length code of 258 bytes in as little as 2 bits.
constexpr uint32_t kDeflateExpansion = 1032;
// PackBits (ByteRun1): two bytes for a run of 128.
constexpr uint32_t kByteRunExpansion = 64;
// LZW of 12-bit codes, each a string of at most 4096 pixels.
constexpr qbPixelCoding kLzwCoding{4096 * 8, 12};
// Huffman-coded JPEG: every 8x8 block of its fullest component costs one
// bit at least (its DC code).
constexpr qbPixelCoding kHuffmanJpegCoding{64 * 8, 1};
// Run-length pairs: a count byte of at most 255 and the value.
constexpr qbPixelCoding kRunLengthCoding{255, 2};
// An adaptive arithmetic coder codes a flat picture of any size in a few
// bytes, as real files do: its bytes bound nothing.
constexpr qbPixelCoding kUnboundedCoding{1, 0};

// What a picture is decoded from: the coded bytes at hand (the file's
// size; UINT64_MAX when it is not known) and their coding.
struct qbPixelSource {
    uint64_t bytes;
    qbPixelCoding coding;
};
// Pixels read from no file: what a command makes, scales or copies of a
// picture already held. Only the places scripts/check_pixel_sources.sh
// lists take it.
constexpr qbPixelSource kPixelsNotRead{UINT64_MAX, kUnboundedCoding};
struct qbFile;
qbPixelSource FilePixelSource(qbFile* file, qbPixelCoding coding);

// Pictures up to this many pixels are taken whatever their bytes: the most
// that a few bytes may cost is then 64 MB.
constexpr uint64_t kPixelsFreeOfData = uint64_t{1} << 24;
// Whether width x height pixels may come from the source: up to
// kPixelsFreeOfData pixels always, beyond as many as its bytes can become at
// the most its coding expands them, twice over for margin (so that a
// truncated file whose bytes could hold its size still loads).
bool SourceCanHold(int64_t width, int64_t height, const qbPixelSource& source);

// A buffer of width x height pixels, the count computed in checked 64-bit
// arithmetic: ERR_MEM when a side is not positive, the count is over the
// limit, the source cannot hold it (SourceCanHold) or memory runs out; else
// 0 with *out holding the uncleared buffer.
int AllocImagePixels(int64_t width, int64_t height, const qbPixelSource& source, PixelBuffer* out);
