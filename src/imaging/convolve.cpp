// The convolutions work on one colour channel at a time: the pixels are
// split into three byte planes, filtered like an alpha plane, and joined
// again. Every sum runs over the taps in kernel order, one double per
// output, so the loops that step many outputs at once give the plain sums.
#include "imaging/convolve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/errcodes.h"
#include "imaging/channels.h"
#include "imaging/convolveargb.h"
#include "imaging/planeblur.h"
#include "imaging/tapsums.h"

namespace {

constexpr double kTiny = 1e-10;
constexpr double kSqrtTwoPi = 2.5066282746310002;
constexpr double kTwoPi = 6.283185307179586;
// An edge-extended copy larger than this counts as one that cannot be had.
constexpr uint64_t kMaxCopyBytes = uint64_t{1} << 31;

double Gauss1(double u, double sigma) { return std::exp(-(u * u) / (2 * sigma * sigma)) / (sigma * kSqrtTwoPi); }
double Gauss2(double u, double v, double sigma) {
    return std::exp(-(u * u + v * v) / (2 * sigma * sigma)) / (kTwoPi * sigma * sigma);
}

int64_t WidthFromRadius(double radius) {
    const double c = std::ceil(radius);
    if (!(c < static_cast<double>(kMaxKernelWidth))) return std::numeric_limits<int64_t>::max();
    return 2 * static_cast<int64_t>(c) + 1;
}

template <typename T>
int64_t CopyEdgeExtended(const T* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                         std::vector<T>* buffer) {
    if (!src || width < 1 || height < 1 || k < 1) return 0;
    const int64_t rowLength = EdgeExtendedRowLength(width, height, k, sizeof(T));
    if (rowLength == 0) return 0;
    const int64_t rows = height + k;
    const int64_t half = k / 2;
    try {
        buffer->resize(static_cast<size_t>(rowLength * rows));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    T* out = buffer->data();
    for (int64_t r = 0; r < rows; ++r, out += rowLength) {
        const T* in = src + static_cast<ptrdiff_t>(std::clamp<int64_t>(r - half, 0, height - 1)) * pitch;
        const int64_t left = std::min<int64_t>(half, width + k);
        std::fill(out, out + left, in[0]);
        const int64_t mid = std::min<int64_t>(width, width + k - left);
        std::copy(in, in + mid, out + left);
        std::fill(out + left + mid, out + width + k, in[width - 1]);
    }
    return rowLength;
}

bool IsTiny(double sigma) { return !(std::fabs(sigma) > kTiny); }

int BlurPixels(const qbConvolveRequest& r, const std::vector<double>& kernel) {
    qbChannelPlanes planes;
    if (!SplitChannels(r.pixels, r.width, r.height, r.pitch, r.pixelFormat, r.bytesPerPixel, &planes)) return ERR_MEM;
    const auto w = static_cast<size_t>(r.width);
    for (auto& p : planes.plane)
        if (!BlurRows8(p.data(), r.width, r.height, w, kernel)) return ERR_MEM;
    // The horizontal results are stored as pixels before the vertical pass
    // reads them: 2-byte pixels lose their low bits in between (4-byte
    // pixels keep every channel byte, so theirs need not go round).
    if (r.bytesPerPixel == 2) {
        JoinChannels(planes, r.pixels, r.pitch, r.pixelFormat, r.bytesPerPixel);
        SplitChannels(r.pixels, r.width, r.height, r.pitch, r.pixelFormat, r.bytesPerPixel, &planes);
    }
    for (auto& p : planes.plane)
        if (!BlurColumns8(p.data(), r.width, r.height, w, kernel)) return ERR_MEM;
    JoinChannels(planes, r.pixels, r.pitch, r.pixelFormat, r.bytesPerPixel);
    return 0;
}

int Convolve2DPixels(const qbConvolveRequest& r, const std::vector<double>& kernel, int64_t k) {
    qbChannelPlanes planes;
    if (!SplitChannels(r.pixels, r.width, r.height, r.pitch, r.pixelFormat, r.bytesPerPixel, &planes)) return ERR_MEM;
    for (auto& p : planes.plane) {
        bool ok = false;
        Convolve2DPlane(p.data(), r.width, r.height, static_cast<size_t>(r.width), kernel, k, &ok);
        if (!ok) return ERR_MEM;
    }
    JoinChannels(planes, r.pixels, r.pitch, r.pixelFormat, r.bytesPerPixel);
    return 0;
}

bool HasPixels(const qbConvolveRequest& r) {
    return r.pixels && (r.bytesPerPixel == 2 || r.bytesPerPixel == 4);
}

// ARGB pixels are filtered in place a row at a time (convolveargb.cpp);
// other formats go through byte planes.
bool IsPlainArgb(const qbConvolveRequest& r) { return r.bytesPerPixel == 4 && r.pixelFormat == kFormatARGB; }

}  // namespace

int64_t GetKernelWidth1D(double radius, double sigma) {
    if (radius > 0) return WidthFromRadius(radius);
    if (IsTiny(sigma) || !std::isfinite(sigma)) return 1;
    for (int64_t w = 5;; w += 2) {
        const int64_t j = w / 2;
        double n = 0;
        for (int64_t u = -j; u <= j; ++u) n += Gauss1(static_cast<double>(u), sigma);
        const double v = Gauss1(static_cast<double>(j), sigma);
        // The ratio falls below 1/255 by about w = 257 for any sigma, since
        // the outermost weight is never above the mean weight.
        if (static_cast<int64_t>(v / n * 255) < 1 || w > kMaxKernelWidth) return w - 2;
    }
}

int64_t GetKernelWidth2D(double radius, double sigma, int64_t limit) {
    if (radius > 0) return WidthFromRadius(radius);
    if (IsTiny(sigma) || !std::isfinite(sigma)) return 1;
    // The square's sum grows by its outer ring at each step, so the search
    // costs the width per step rather than its square.
    double n = Gauss2(0, 0, sigma);
    for (int64_t w = 3;; w += 2) {
        const int64_t j = w / 2;
        const auto dj = static_cast<double>(j);
        for (int64_t u = -j; u <= j; ++u) {
            const auto du = static_cast<double>(u);
            n += Gauss2(du, -dj, sigma) + Gauss2(du, dj, sigma);
            if (u != -j && u != j) n += Gauss2(-dj, du, sigma) + Gauss2(dj, du, sigma);
        }
        if (w < 5) continue;
        const double v = Gauss1(dj, sigma);
        if (v / n < 0.00392156862745098) return w - 2;
        if (w - 2 > limit || w > kMaxKernelWidth) return w - 2;
    }
}

std::vector<double> BuildBlurKernel(int64_t k, double sigma) {
    std::vector<double> kernel;
    if (k < 1 || k > kMaxKernelWidth) return kernel;
    try {
        kernel.assign(static_cast<size_t>(k), 0.0);
    } catch (const std::bad_alloc&) {
        return kernel;
    }
    const int64_t b = 3 * k / 2;
    for (int64_t i = -b; i <= b; ++i)
        kernel[static_cast<size_t>((i + b) / 3)] +=
            std::exp(-static_cast<double>(i * i) / (18 * sigma * sigma)) / (sigma * kSqrtTwoPi);
    double sum = 0;
    for (double w : kernel) sum += w;
    for (double& w : kernel) w /= sum;
    return kernel;
}

std::vector<double> DropZeroTails(std::vector<double> kernel) {
    size_t lead = 0, trail = 0;
    while (lead < kernel.size() && kernel[lead] == 0.0) ++lead;
    while (trail < kernel.size() && kernel[kernel.size() - 1 - trail] == 0.0) ++trail;
    const size_t cut = std::min(lead, trail);
    if (cut == 0 || 2 * cut >= kernel.size()) return kernel;
    return std::vector<double>(kernel.begin() + static_cast<ptrdiff_t>(cut),
                               kernel.end() - static_cast<ptrdiff_t>(cut));
}

std::vector<double> BlurKernelFor(double radius, double sigma) {
    if (!std::isfinite(radius) || !std::isfinite(sigma) || IsTiny(sigma)) return {};
    return DropZeroTails(BuildBlurKernel(GetKernelWidth1D(radius > 0 ? radius : 0, sigma), sigma));
}

std::vector<double> Build2DKernel(int32_t code, int64_t k, double sigma) {
    std::vector<double> kernel;
    if (k < 1 || k > 4095) return kernel;  // k x k doubles must stay a sane size
    const double s = IsTiny(sigma) ? 1.0 : sigma;
    const auto n = static_cast<size_t>(k * k);
    try {
        kernel.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        return kernel;
    }
    const int64_t j = k / 2;
    auto at = [&](int64_t u, int64_t v) -> double& { return kernel[static_cast<size_t>((v + j) * k + (u + j))]; };
    if (code == kConvolveEdge) {
        std::fill(kernel.begin(), kernel.end(), -1.0);
        kernel[n / 2] = static_cast<double>(k * k - 1);
    } else if (code == kConvolveEmboss) {
        for (int64_t u = -j; u <= j; ++u) {
            const int64_t v = -u;
            const double sign = (u < 0 || v < 0) ? -8.0 : 8.0;
            at(u, v) = sign * Gauss2(static_cast<double>(u), static_cast<double>(v), s);
        }
    } else {
        double sum = 0;
        for (int64_t v = -j; v <= j; ++v)
            for (int64_t u = -j; u <= j; ++u) {
                at(u, v) = -Gauss2(static_cast<double>(u), static_cast<double>(v), s);
                sum += at(u, v);
            }
        kernel[n / 2] = -2 * sum;
    }
    double total = 0;
    for (double w : kernel) total += w;
    if (std::fabs(total) > kTiny) {
        const double scale = 1 / total;
        for (double& w : kernel) w *= scale;
    }
    return kernel;
}

int64_t EdgeExtendedRowLength(int32_t width, int32_t height, int64_t k, size_t elementSize) {
    if (width < 1 || height < 1 || k < 1 || k > kMaxKernelWidth) return 0;
    const int64_t span = width + k;
    const int64_t rowLength = elementSize == 1 ? (span + 3) / 4 * 4 : span + 4 - span % 4;
    const auto bytes = static_cast<uint64_t>(rowLength) * static_cast<uint64_t>(height + k) * elementSize;
    return bytes > kMaxCopyBytes ? 0 : rowLength;
}

int64_t CopyEdgeExtended8(const uint8_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                          std::vector<uint8_t>* buffer) {
    return CopyEdgeExtended(src, width, height, pitch, k, buffer);
}
int64_t CopyEdgeExtended16(const uint16_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                           std::vector<uint16_t>* buffer) {
    return CopyEdgeExtended(src, width, height, pitch, k, buffer);
}
int64_t CopyEdgeExtended32(const uint32_t* src, int32_t width, int32_t height, int32_t pitch, int64_t k,
                           std::vector<uint32_t>* buffer) {
    return CopyEdgeExtended(src, width, height, pitch, k, buffer);
}

void Convolve2DPlaneRef(uint8_t* data, int32_t width, int32_t height, size_t rowBytes,
                        const std::vector<double>& kernel, int64_t k) {
    std::vector<uint8_t> copy;
    const int64_t l = CopyEdgeExtended8(data, width, height, static_cast<int32_t>(rowBytes), k, &copy);
    if (l == 0) return;
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            double s = 0;
            for (int64_t t = 0; t < k; ++t)
                for (int64_t q = 0; q < k; ++q)
                    s += copy[static_cast<size_t>((y + t) * l + x + q)] * kernel[static_cast<size_t>(t * k + q)];
            data[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x)] = ClampChannel(s);
        }
}

void Convolve2DPlane(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel,
                     int64_t k, bool* ok) {
    *ok = false;
    std::vector<uint8_t> copy;
    const int64_t l = CopyEdgeExtended8(data, width, height, static_cast<int32_t>(rowBytes), k, &copy);
    if (l == 0) return;
    const auto w = static_cast<size_t>(width);
    const auto kk = static_cast<size_t>(k), rowLength = static_cast<size_t>(l);
    // The taps in summing order, those of weight 0 left out (emboss is
    // zero off its diagonal; adding a zero product changes no sum). Each
    // copy row is widened to doubles once, into a ring of k rows (row r in
    // slot r mod k), rather than once for every tap that reads it.
    KernelTaps taps;
    std::vector<double> acc, ring;
    std::vector<const double*> bases;
    try {
        CollectTaps(kernel.data(), kk, &taps);
        bases.resize(taps.weights.size());
        acc.resize(w);
        ring.resize(kk * rowLength);
    } catch (const std::bad_alloc&) {
        return;
    }
    const auto widen = [&](size_t r) {
        const uint8_t* in = copy.data() + r * rowLength;
        double* slot = ring.data() + (r % kk) * rowLength;
        for (size_t x = 0; x < rowLength; ++x) slot[x] = in[x];
    };
    for (size_t r = 0; r + 1 < kk; ++r) widen(r);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        widen(y + kk - 1);
        for (size_t i = 0; i < taps.weights.size(); ++i)
            bases[i] = ring.data() + ((y + taps.rowOf[i]) % kk) * rowLength + taps.columnOf[i];
        SumTapsDouble(bases.data(), taps.weights.data(), bases.size(), w, acc.data());
        StoreSums(acc.data(), w, data + y * rowBytes);
    }
    *ok = true;
}

int Convolve(const qbConvolveRequest& r) {
    if (r.width < 1 || r.height < 1) return 0;
    if (!std::isfinite(r.radius) || !std::isfinite(r.sigma)) return 0;
    int result = 0;
    if (r.code == kConvolveBlur) {
        const std::vector<double> kernel = BlurKernelFor(r.radius, r.sigma);
        // A kernel that cannot be built leaves the picture as it is.
        if (kernel.empty()) return 0;
        if (HasPixels(r) && !(IsPlainArgb(r) && BlurArgb(static_cast<uint32_t*>(r.pixels), r.width, r.height, r.pitch,
                                                         kernel)))
            result = BlurPixels(r, kernel);
        if (r.plane) {
            const auto rb = static_cast<size_t>(r.planePitch);
            // Rows first, then columns: a failed column pass leaves the rows
            // blurred, so both work buffers are had before either pass runs.
            std::vector<uint8_t> keep;
            try {
                keep.resize(rb * static_cast<size_t>(r.height));
            } catch (const std::bad_alloc&) {
                return ERR_MEM;
            }
            std::copy(r.plane, r.plane + keep.size(), keep.begin());
            if (!BlurRows8(r.plane, r.width, r.height, rb, kernel) ||
                !BlurColumns8(r.plane, r.width, r.height, rb, kernel)) {
                std::copy(keep.begin(), keep.end(), r.plane);
                return ERR_MEM;
            }
        }
        return result;
    }
    if (r.code != kConvolveEdge && r.code != kConvolveEmboss && r.code != kConvolveSharpen) return 0;
    const int64_t limit = std::max(r.width, r.height);
    const int64_t k = r.code == kConvolveEdge ? GetKernelWidth1D(r.radius, 0.5)
                                              : GetKernelWidth2D(r.radius, r.sigma, limit);
    if (k > r.width || k > r.height) return 0;
    const std::vector<double> kernel = Build2DKernel(r.code, k, r.sigma);
    if (kernel.empty()) return 0;
    if (HasPixels(r) &&
        !(IsPlainArgb(r) && Convolve2DArgb(static_cast<uint32_t*>(r.pixels), r.width, r.height, r.pitch, kernel, k)))
        result = Convolve2DPixels(r, kernel, k);
    if (r.plane) {
        bool ok = false;
        Convolve2DPlane(r.plane, r.width, r.height, static_cast<size_t>(r.planePitch), kernel, k, &ok);
        if (!ok) return ERR_MEM;
    }
    return result;
}
