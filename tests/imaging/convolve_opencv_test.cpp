// The convolutions against OpenCV in doubles: the 2-D kernels as
// correlations with the same kernel and replicated borders, the blur as two
// 1-D passes truncated in between. Results agree after truncation, except
// where a sum lies within 1e-9 of an integer (there the two summation
// orders may fall on either side, and agree within 1).
#ifdef QB_TEST_HAVE_OPENCV

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/convolve.h"

namespace {

constexpr int kW = 37, kH = 23;

std::vector<uint32_t> Picture(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(kW * kH);
    // Smooth areas and noise, so sums land both on and between integers.
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            v[static_cast<size_t>(y * kW + x)] =
                (x < kW / 2 ? static_cast<uint32_t>(x * 7) : rng() & 0xFF) << 16 | (rng() & 0xFF) << 8 | (y * 11u);
    return v;
}

cv::Mat Channel(const std::vector<uint32_t>& px, int shift) {
    cv::Mat m(kH, kW, CV_64F);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) m.at<double>(y, x) = (px[static_cast<size_t>(y * kW + x)] >> shift) & 0xFF;
    return m;
}

double Store(double v) { return v < 0 ? 0 : v > 255 ? 255 : std::trunc(v); }

bool NearInteger(double e) { return std::fabs(e - std::round(e)) < 1e-9; }

// The first pass stored as the second reads it; sums within 1e-9 of an
// integer may be stored either way, which `up` chooses.
cv::Mat Truncated(const cv::Mat& m, bool up) {
    cv::Mat out = m.clone();
    for (auto it = out.begin<double>(); it != out.end<double>(); ++it)
        *it = up && NearInteger(*it) ? Store(std::round(*it)) : Store(*it);
    return out;
}

bool Agrees(double ours, double e) {
    return NearInteger(e) ? std::fabs(ours - Store(std::round(e))) <= 1.0 : ours == Store(e);
}

// Ours agrees with one of the exact results at every pixel.
void ExpectAgrees(const std::vector<uint32_t>& ours, int shift, const std::vector<cv::Mat>& exact, const char* what) {
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double o = (ours[static_cast<size_t>(y * kW + x)] >> shift) & 0xFF;
            bool any = false;
            for (const cv::Mat& m : exact) any = any || Agrees(o, m.at<double>(y, x));
            ASSERT_TRUE(any) << what << " at " << x << "," << y << ": ours " << o << ", exact "
                             << std::setprecision(17) << exact[0].at<double>(y, x);
        }
}

int Apply(std::vector<uint32_t>& px, int32_t code, double radius, double sigma) {
    qbConvolveRequest r;
    r.pixels = px.data();
    r.width = kW;
    r.height = kH;
    r.pitch = kW;
    r.pixelFormat = kFormatARGB;
    r.bytesPerPixel = 4;
    r.radius = radius;
    r.sigma = sigma;
    r.code = code;
    return Convolve(r);
}

}  // namespace

TEST(ConvolveOpenCVTest, TwoDimensionalKernelsAreCorrelationsWithReplicatedBorders) {
    struct Case {
        int32_t code;
        double radius, sigma;
    };
    for (const Case c : {Case{kConvolveEdge, 1, 0}, Case{kConvolveEdge, 2, 0}, Case{kConvolveEmboss, 2, 1.0},
                         Case{kConvolveEmboss, 0, 0.7}, Case{kConvolveSharpen, 1, 1.0}, Case{kConvolveSharpen, 3, 1.5},
                         Case{kConvolveSharpen, 0, 1.0}}) {
        const std::vector<uint32_t> src = Picture(static_cast<uint32_t>(c.code + c.radius * 10));
        std::vector<uint32_t> ours = src;
        ASSERT_EQ(Apply(ours, c.code, c.radius, c.sigma), 0);
        const int64_t k = c.code == kConvolveEdge ? GetKernelWidth1D(c.radius, 0.5)
                                                   : GetKernelWidth2D(c.radius, c.sigma, std::max(kW, kH));
        const std::vector<double> kernel = Build2DKernel(c.code, k, c.sigma);
        cv::Mat kmat(static_cast<int>(k), static_cast<int>(k), CV_64F);
        for (int i = 0; i < k * k; ++i) kmat.at<double>(i / static_cast<int>(k), i % static_cast<int>(k)) = kernel[i];
        for (int shift : {0, 8, 16}) {
            cv::Mat exact;
            cv::filter2D(Channel(src, shift), exact, CV_64F, kmat, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
            ExpectAgrees(ours, shift, {exact}, "2-D kernel");
        }
    }
}

TEST(ConvolveOpenCVTest, TheBlurIsTwoSeparatePassesTruncatedBetween) {
    for (auto [radius, sigma] : {std::pair{2.0, 1.0}, {0.0, 1.0}, {0.0, 2.0}, {5.0, 5.0 / 3}, {9.0, 3.0}}) {
        const std::vector<uint32_t> src = Picture(static_cast<uint32_t>(radius * 3 + sigma));
        std::vector<uint32_t> ours = src;
        ASSERT_EQ(Apply(ours, kConvolveBlur, radius, sigma), 0);
        const std::vector<double> kernel = BuildBlurKernel(GetKernelWidth1D(radius, sigma), sigma);
        const cv::Mat row(1, static_cast<int>(kernel.size()), CV_64F, const_cast<double*>(kernel.data()));
        const cv::Mat column = row.t();
        for (int shift : {0, 8, 16}) {
            cv::Mat across, down, downUp;
            cv::filter2D(Channel(src, shift), across, CV_64F, row, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
            cv::filter2D(Truncated(across, false), down, CV_64F, column, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
            cv::filter2D(Truncated(across, true), downUp, CV_64F, column, cv::Point(-1, -1), 0,
                         cv::BORDER_REPLICATE);
            ExpectAgrees(ours, shift, {down, downUp}, ("blur " + std::to_string(radius) + " " + std::to_string(sigma)).c_str());
        }
    }
}

#endif
