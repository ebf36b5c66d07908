// Edges by running sums: each output pixel's square is a window of 2e + 1
// columns over a window of 2e + 1 rows, so a sliding sum per row and then
// per column gives it in O(1) a pixel, whatever e is.
#include "text/textedge.h"

#include <algorithm>

namespace {

// Sliding window sums of n = 2e + 1 values along one line of length len:
// out[k] = sum of in[k - 2e .. k] for k in [0, len + 2e).
template <typename In, typename Out>
void WindowSums(const In* in, size_t inStride, int32_t len, int32_t e, Out* out, size_t outStride) {
    const int32_t n = 2 * e + 1;
    uint32_t sum = 0;
    for (int32_t k = 0; k < len + 2 * e; ++k) {
        if (k < len) sum += in[static_cast<size_t>(k) * inStride];
        if (k - n >= 0) sum -= in[static_cast<size_t>(k - n) * inStride];
        out[static_cast<size_t>(k) * outStride] = static_cast<Out>(sum);
    }
}

}  // namespace

namespace {

// Row sums of n = 2e + 1 columns, then a running sum of n such rows kept
// per column while walking down, so that both passes read row after row.
template <typename Finish>
void BoxSums(const uint8_t* cov, int32_t width, int32_t height, int32_t e, int32_t ow, int32_t oh, Finish finish) {
    std::vector<uint32_t> rows(static_cast<size_t>(ow) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y)
        WindowSums(cov + static_cast<size_t>(y) * width, 1, width, e, rows.data() + static_cast<size_t>(y) * ow, 1);
    const int32_t n = 2 * e + 1;
    std::vector<uint32_t> column(static_cast<size_t>(ow), 0);
    for (int32_t y = 0; y < oh; ++y) {
        if (y < height) {
            const uint32_t* add = rows.data() + static_cast<size_t>(y) * ow;
            for (int32_t x = 0; x < ow; ++x) column[static_cast<size_t>(x)] += add[x];
        }
        if (y - n >= 0) {
            const uint32_t* drop = rows.data() + static_cast<size_t>(y - n) * ow;
            for (int32_t x = 0; x < ow; ++x) column[static_cast<size_t>(x)] -= drop[x];
        }
        finish(y, column.data());
    }
}

}  // namespace

void EdgeCoverageAntialiased(const uint8_t* cov, int32_t width, int32_t height, int32_t e,
                             std::vector<uint8_t>* out) {
    const int32_t ow = width + 2 * e, oh = height + 2 * e;
    out->assign(static_cast<size_t>(std::max(ow, 0)) * static_cast<size_t>(std::max(oh, 0)), 0);
    if (width <= 0 || height <= 0 || e < 0) return;
    // s / n as (s * m) >> 40 with m = 2^40 / n + 1: exact while s * n < 2^40,
    // far beyond the largest sum, (2e + 1)^2 x 255 x e's 64.
    const auto n = static_cast<uint64_t>(2 * e + 1);
    const uint64_t m = (uint64_t{1} << 40) / n + 1;
    BoxSums(cov, width, height, e, ow, oh, [&](int32_t y, const uint32_t* sums) {
        uint8_t* to = out->data() + static_cast<size_t>(y) * ow;
        for (int32_t x = 0; x < ow; ++x)
            to[x] = static_cast<uint8_t>(std::min<uint64_t>((sums[x] * m) >> 40, 255));
    });
}

void EdgeCoverageStamped(const uint8_t* cov, int32_t width, int32_t height, int32_t e, std::vector<uint8_t>* out) {
    const int32_t ow = width + 2 * e, oh = height + 2 * e;
    out->assign(static_cast<size_t>(std::max(ow, 0)) * static_cast<size_t>(std::max(oh, 0)), 0);
    if (width <= 0 || height <= 0 || e < 0) return;
    // Counts of covered pixels: any count above 0 is a stamped pixel.
    std::vector<uint8_t> hit(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < hit.size(); ++i) hit[i] = cov[i] ? 1 : 0;
    BoxSums(hit.data(), width, height, e, ow, oh, [&](int32_t y, const uint32_t* sums) {
        uint8_t* to = out->data() + static_cast<size_t>(y) * ow;
        for (int32_t x = 0; x < ow; ++x) to[x] = sums[x] ? 255 : 0;
    });
}

void EdgeCoverageAntialiasedNaive(const uint8_t* cov, int32_t width, int32_t height, int32_t e,
                                  std::vector<uint8_t>* out) {
    const int32_t ow = width + 2 * e, oh = height + 2 * e;
    out->assign(static_cast<size_t>(std::max(ow, 0)) * static_cast<size_t>(std::max(oh, 0)), 0);
    if (width <= 0 || height <= 0 || e < 0) return;
    std::vector<uint32_t> acc(out->size(), 0);
    for (int32_t j = 0; j <= 2 * e; ++j)
        for (int32_t i = 0; i <= 2 * e; ++i)
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x)
                    acc[static_cast<size_t>(y + j) * ow + x + i] += cov[static_cast<size_t>(y) * width + x];
    const auto n = static_cast<uint32_t>(2 * e + 1);
    for (size_t k = 0; k < acc.size(); ++k) (*out)[k] = static_cast<uint8_t>(std::min<uint32_t>(acc[k] / n, 255));
}
