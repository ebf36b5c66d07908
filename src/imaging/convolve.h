// Convolutions of locked pixels and 8-bit planes: the Gaussian blur, edge
// detection, emboss and sharpen, the kernel widths they share with the oil
// paint, and the edge-extended copies every window filter reads from (so
// that pixels beyond a border repeat the nearest edge pixel and the inner
// loops test no bounds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum : int32_t {
    kConvolveBlur = 98,      // 'b', separable
    kConvolveEmboss = 101,   // 'e'
    kConvolveEdge = 103,     // 'g'
    kConvolveSharpen = 115,  // 's'
};

struct qbConvolveRequest {
    void* pixels = nullptr;  // may be null: the plane alone is filtered
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;  // row length in pixels
    uint32_t pixelFormat = 0;
    uint32_t bytesPerPixel = 0;  // 2 or 4; others leave the pixels alone
    uint8_t* plane = nullptr;    // width x height bytes, or null
    int32_t planePitch = 0;      // row bytes
    double radius = 0;
    double sigma = 0;
    int32_t code = 0;
};

// The widest kernel the player builds; a wider one counts as one that
// cannot be had, and the filter leaves its image alone.
inline constexpr int64_t kMaxKernelWidth = int64_t{1} << 22;

// 2 x ceil(radius) + 1 for a positive radius (above kMaxKernelWidth for
// radii too large to build); else 1 for a sigma of (nearly) 0 or one that
// is not finite; else the narrowest odd width whose outermost weight, in
// 8 bits, no longer counts.
int64_t GetKernelWidth1D(double radius, double sigma);
// The same rule for a two-dimensional kernel. The search stops once the
// width exceeds limit (the callers pass the larger side of the picture: a
// kernel wider than the picture does nothing), and answers that width.
int64_t GetKernelWidth2D(double radius, double sigma, int64_t limit);

// The blur's one-dimensional kernel of k taps (each tap sums three
// samples of the curve), normalised to 1; empty when it cannot be had.
std::vector<double> BuildBlurKernel(int64_t k, double sigma);
// The same kernel without the taps of weight 0 that a small sigma leaves at
// both ends (as many from each, so that the middle stays the middle). A sum
// over them adds exact zeros, so the blur is the same, and a long radius
// with a small sigma costs only the taps that weigh.
std::vector<double> DropZeroTails(std::vector<double> kernel);
// The kernel of the blur (code 98) of that radius and sigma, its zero tails
// dropped; empty when the blur leaves its image alone (a sigma of nearly 0,
// a radius or sigma that is not finite) or the kernel cannot be had.
std::vector<double> BlurKernelFor(double radius, double sigma);
// The k x k kernel of code 101, 103 or 115, row by row, normalised unless
// its sum is (nearly) 0.
std::vector<double> Build2DKernel(int32_t code, int64_t k, double sigma);

// Row length L (elements) of an edge-extended copy of a width-wide source
// for a kernel of k taps, or 0 when the copy's size does not fit the
// player's limits. 8-bit rows round width + k up to a multiple of 4; wider
// elements add 1 to 4 spare ones.
int64_t EdgeExtendedRowLength(int32_t width, int32_t height, int64_t k, size_t elementSize);
// Fill buffer (allocated or resized here) with (height + k) rows of L
// elements: element (r, c) is the source's (clamp(r - k/2), clamp(c - k/2)).
// pitch is the source's row length in elements. L, or 0 when the copy
// cannot be had (the buffer is then left as it was).
int64_t CopyEdgeExtended8(const uint8_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                          std::vector<uint8_t>* buffer);
int64_t CopyEdgeExtended16(const uint16_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                           std::vector<uint16_t>* buffer);
int64_t CopyEdgeExtended32(const uint32_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                           std::vector<uint32_t>* buffer);

// Runs the request's code over the pixels and the plane in place. 0, or
// ERR_MEM when a kernel or copy could not be had: that image is left as
// it was (a failed pixel copy still lets the plane be filtered).
int Convolve(const qbConvolveRequest& request);

// The plain per-pixel definition of the 2-D codes on one 8-bit plane,
// which the tests hold the vectorised one to.
void Convolve2DPlaneRef(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel,
                        int64_t k);
void Convolve2DPlane(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel,
                     int64_t k, bool* ok);
