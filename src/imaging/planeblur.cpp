// Both passes sum the taps in kernel order for every output (through the
// tap sums), so the vectorised loops give exactly the plain sums.
// Kernels more than four times as long as the line would spend nearly all
// their taps on repeats of the two edge samples; those taps are summed
// first by side (the result then differs from the plain sum only in the
// last bits of the double).
#include "imaging/planeblur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "imaging/channels.h"
#include "imaging/convolve.h"
#include "imaging/tapsums.h"

namespace {

// Prefix sums of the kernel: prefix[i] = kernel[0] + ... + kernel[i - 1].
std::vector<double> Prefix(const std::vector<double>& kernel) {
    std::vector<double> p(kernel.size() + 1, 0.0);
    for (size_t i = 0; i < kernel.size(); ++i) p[i + 1] = p[i] + kernel[i];
    return p;
}

// Doubles the column pass's ring of rows may hold (512 KB).
constexpr size_t kRingDoubles = size_t{1} << 16;

bool LongKernel(size_t k, int32_t count) { return k > 4 * static_cast<size_t>(count); }

// One output of a long kernel over samples s[0..n-1] (through get).
template <typename Get>
double LongTapSum(const std::vector<double>& kernel, const std::vector<double>& prefix, int64_t i, int64_t n,
                  Get get) {
    const auto k = static_cast<int64_t>(kernel.size());
    const int64_t h = k / 2;
    const int64_t left = std::clamp<int64_t>(h - i, 0, k);          // taps reading sample 0 (index < 0)
    const int64_t rightStart = std::clamp<int64_t>(n - i + h, 0, k);  // first tap reading past n - 1
    double s = get(0) * prefix[static_cast<size_t>(left)];
    for (int64_t t = left; t < rightStart; ++t) s += get(i + t - h) * kernel[static_cast<size_t>(t)];
    s += get(n - 1) * (prefix[static_cast<size_t>(k)] - prefix[static_cast<size_t>(rightStart)]);
    return s;
}

}  // namespace

bool BlurRows8(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel) {
    const size_t k = kernel.size();
    const auto w = static_cast<size_t>(width);
    const size_t h = k / 2;
    try {
        std::vector<double> acc(w);
        if (LongKernel(k, width)) {
            const std::vector<double> prefix = Prefix(kernel);
            for (int32_t y = 0; y < height; ++y) {
                uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
                for (size_t x = 0; x < w; ++x)
                    acc[x] = LongTapSum(kernel, prefix, static_cast<int64_t>(x), width,
                                        [row](int64_t i) { return static_cast<double>(row[i]); });
                for (size_t x = 0; x < w; ++x) row[x] = ClampChannel(acc[x]);
            }
            return true;
        }
        std::vector<double> line(w + k);
        std::vector<const double*> bases(k);
        for (size_t t = 0; t < k; ++t) bases[t] = line.data() + t;
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
            std::fill(line.begin(), line.begin() + static_cast<ptrdiff_t>(h), static_cast<double>(row[0]));
            for (size_t x = 0; x < w; ++x) line[h + x] = row[x];
            std::fill(line.begin() + static_cast<ptrdiff_t>(h + w), line.end(), static_cast<double>(row[w - 1]));
            SumTapsDouble(bases.data(), kernel.data(), k, w, acc.data());
            StoreSums(acc.data(), w, row);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool BlurColumns8(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel) {
    const size_t k = kernel.size();
    const auto w = static_cast<size_t>(width);
    const auto hgt = static_cast<int64_t>(height);
    const auto half = static_cast<int64_t>(k / 2);
    try {
        std::vector<double> acc(w);
        if (LongKernel(k, height)) {
            // The rows as they were, which every output row reads.
            std::vector<uint8_t> src(w * static_cast<size_t>(height));
            for (int32_t y = 0; y < height; ++y)
                std::memcpy(&src[static_cast<size_t>(y) * w], data + y * rowBytes, w);
            const std::vector<double> prefix = Prefix(kernel);
            for (int64_t y = 0; y < hgt; ++y) {
                for (size_t x = 0; x < w; ++x)
                    acc[x] = LongTapSum(kernel, prefix, y, hgt, [&src, w, x](int64_t i) {
                        return static_cast<double>(src[static_cast<size_t>(i) * w + x]);
                    });
                uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
                for (size_t x = 0; x < w; ++x) row[x] = ClampChannel(acc[x]);
            }
            return true;
        }
        // The rows an output row reads, as doubles, in a ring of k rows:
        // row r sits in slot r mod k, and rows are taken in before the row
        // of the same number is overwritten (each output row y needs row
        // y + k/2 first), so the plane needs no copy of its own. The ring
        // covers a strip of columns at a time, which keeps it in the cache
        // and its size bounded however wide the plane and long the kernel.
        const size_t strip = std::min(w, std::max<size_t>(64, kRingDoubles / k));
        std::vector<double> ring(k * strip);
        std::vector<const double*> bases(k);
        for (size_t x0 = 0; x0 < w; x0 += strip) {
            const size_t sw = std::min(strip, w - x0);
            int64_t taken = -1;
            for (int64_t y = 0; y < hgt; ++y) {
                for (const int64_t need = std::min(hgt - 1, y + half); taken < need;) {
                    ++taken;
                    const uint8_t* in = data + static_cast<size_t>(taken) * rowBytes + x0;
                    double* slot = ring.data() + static_cast<size_t>(taken % static_cast<int64_t>(k)) * strip;
                    for (size_t x = 0; x < sw; ++x) slot[x] = in[x];
                }
                for (size_t t = 0; t < k; ++t) {
                    const int64_t r = std::clamp<int64_t>(y + static_cast<int64_t>(t) - half, 0, hgt - 1);
                    bases[t] = ring.data() + static_cast<size_t>(r % static_cast<int64_t>(k)) * strip;
                }
                SumTapsDouble(bases.data(), kernel.data(), k, sw, acc.data());
                StoreSums(acc.data(), sw, data + static_cast<size_t>(y) * rowBytes + x0);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void BlurRows8Ref(uint8_t* data, int32_t width, int32_t height, size_t rowBytes, const std::vector<double>& kernel) {
    const auto k = static_cast<int64_t>(kernel.size());
    std::vector<uint8_t> copy(static_cast<size_t>(width));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
        std::memcpy(copy.data(), row, copy.size());
        for (int64_t x = 0; x < width; ++x) {
            double s = 0;
            for (int64_t t = 0; t < k; ++t)
                s += copy[static_cast<size_t>(std::clamp<int64_t>(x + t - k / 2, 0, width - 1))] *
                     kernel[static_cast<size_t>(t)];
            row[x] = ClampChannel(s);
        }
    }
}

void BlurColumns8Ref(uint8_t* data, int32_t width, int32_t height, size_t rowBytes,
                     const std::vector<double>& kernel) {
    const auto k = static_cast<int64_t>(kernel.size());
    std::vector<uint8_t> copy(static_cast<size_t>(height));
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) copy[static_cast<size_t>(y)] = data[y * rowBytes + x];
        for (int64_t y = 0; y < height; ++y) {
            double s = 0;
            for (int64_t t = 0; t < k; ++t)
                s += copy[static_cast<size_t>(std::clamp<int64_t>(y + t - k / 2, 0, height - 1))] *
                     kernel[static_cast<size_t>(t)];
            data[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x)] = ClampChannel(s);
        }
    }
}

int BlurPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma) {
    qbConvolveRequest r;
    r.plane = data;
    r.width = width;
    r.height = height;
    r.planePitch = static_cast<int32_t>(rowBytes);
    r.radius = radius > 0 ? radius : 0;
    r.sigma = sigma;
    r.code = kConvolveBlur;
    return Convolve(r);
}
