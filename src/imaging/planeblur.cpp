// The Gaussian weights are sampled three times per tap and summed, which
// keeps narrow kernels close to the continuous curve; sums are stored
// truncated, like every other kernel of the player.
#include "imaging/planeblur.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "core/errcodes.h"

namespace {

constexpr double kTiny = 1e-10;
constexpr double kSqrtTwoPi = 2.5066282746310002;

// A kernel wider than this cannot fit any plane the bitmaps allow.
constexpr int64_t kMaxKernel = int64_t{1} << 24;

double Gauss(double u, double sigma) { return std::exp(-(u * u) / (2 * sigma * sigma)) / (sigma * kSqrtTwoPi); }

uint8_t Store(double s) {
    if (s < 0) return 0;
    if (s > 255) return 255;
    return static_cast<uint8_t>(s);
}

// One pass over count samples: out[i] = sum of kernel[t] x in[clamp(i + t - half)].
// The edge taps are read through a padded line so the inner loop has no tests.
void ConvolveLine(const std::vector<double>& kernel, const uint8_t* line, size_t stride, int32_t count,
                  std::vector<double>& padded, uint8_t* out, size_t outStride) {
    const size_t k = kernel.size();
    const size_t half = k / 2;
    for (size_t i = 0; i < padded.size(); ++i) {
        const int64_t at = std::clamp<int64_t>(static_cast<int64_t>(i) - static_cast<int64_t>(half), 0, count - 1);
        padded[i] = line[static_cast<size_t>(at) * stride];  // converted once, read k times
    }
    // Four outputs at a time, each summed in tap order as a lone one would
    // be: the compiler runs the four sums in vector lanes, and every result
    // stays what a plain loop computes.
    const double* kt = kernel.data();
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const double* p = padded.data() + i;
        double s[4] = {0, 0, 0, 0};
        for (size_t t = 0; t < k; ++t)
            for (int j = 0; j < 4; ++j) s[j] += p[t + j] * kt[t];
        for (int j = 0; j < 4; ++j) out[static_cast<size_t>(i + j) * outStride] = Store(s[j]);
    }
    for (; i < count; ++i) {
        const double* p = padded.data() + i;
        double s = 0;
        for (size_t t = 0; t < k; ++t) s += p[t] * kt[t];
        out[static_cast<size_t>(i) * outStride] = Store(s);
    }
}

}  // namespace

int64_t GaussianKernelWidth(double radius, double sigma) {
    if (radius > 0) {
        const double c = std::ceil(radius);
        if (!(c < static_cast<double>(kMaxKernel))) return std::numeric_limits<int64_t>::max();
        return 2 * static_cast<int64_t>(c) + 1;
    }
    if (!(std::fabs(sigma) > kTiny)) return 1;
    for (int64_t w = 5;; w += 2) {
        const int64_t j = w / 2;
        double n = 0;
        for (int64_t u = -j; u <= j; ++u) n += Gauss(static_cast<double>(u), sigma);
        const double v = Gauss(static_cast<double>(j), sigma);
        if (static_cast<int64_t>(v / n * 255) < 1 || w >= kMaxKernel) return w - 2;
    }
}

int BlurPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma) {
    if (!data || width <= 0 || height <= 0) return 0;
    if (!(std::fabs(sigma) > kTiny) || !std::isfinite(sigma)) return 0;
    if (!(radius > 0)) radius = 0;
    const int64_t k = GaussianKernelWidth(radius, sigma);
    if (k > kMaxKernel) return ERR_MEM;
    try {
        std::vector<double> kernel(static_cast<size_t>(k), 0.0);
        const int64_t b = 3 * k / 2;
        for (int64_t i = -b; i <= b; ++i)
            kernel[static_cast<size_t>((i + b) / 3)] +=
                std::exp(-static_cast<double>(i * i) / (18 * sigma * sigma)) / (sigma * kSqrtTwoPi);
        double sum = 0;
        for (double w : kernel) sum += w;
        for (double& w : kernel) w /= sum;

        std::vector<double> padded;
        // The horizontal pass goes into a copy, so that the vertical pass
        // reads whole horizontally blurred columns.
        std::vector<uint8_t> across(static_cast<size_t>(width) * static_cast<size_t>(height));
        const auto w = static_cast<size_t>(width);
        padded.resize(w + static_cast<size_t>(k));
        for (int32_t y = 0; y < height; ++y)
            ConvolveLine(kernel, data + static_cast<size_t>(y) * rowBytes, 1, width, padded,
                         across.data() + static_cast<size_t>(y) * w, 1);
        padded.resize(static_cast<size_t>(height) + static_cast<size_t>(k));
        for (int32_t x = 0; x < width; ++x)
            ConvolveLine(kernel, across.data() + x, w, height, padded, data + x, rowBytes);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}
