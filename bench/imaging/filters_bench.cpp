// The image filters on a 1920x1080 ARGB picture, one thread, with their
// peers in the same run where the machine has them: OpenCV's sepFilter2D,
// filter2D and LUT (one thread), and ImageMagick's convert
// (MAGICK_THREAD_LIMIT=1; its time includes reading a PPM and starting the
// process, which the _startup row measures on its own).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/bitmapfilters.h"
#include "imaging/colourops.h"
#include "imaging/convolve.h"
#include "imaging/oilpaint.h"

#ifdef QB_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kW = 1920, kH = 1080;

const std::vector<uint32_t>& Picture() {
    static const std::vector<uint32_t> pic = [] {
        std::vector<uint32_t> v(static_cast<size_t>(kW) * kH);
        std::mt19937 rng(7);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                v[static_cast<size_t>(y) * kW + x] =
                    static_cast<uint32_t>((x * 255 / kW) << 16 | (y * 255 / kH) << 8) | (rng() & 0xFF);
        return v;
    }();
    return pic;
}

qbConvolveRequest Request(std::vector<uint32_t>& px, int32_t code, double radius, double sigma) {
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
    return r;
}

void SetPixels(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * kW * kH); }

void BM_Blur(benchmark::State& state) {
    std::vector<uint32_t> px = Picture();
    const double r = static_cast<double>(state.range(0));
    for (auto _ : state) Convolve(Request(px, kConvolveBlur, r, r / 3));
    SetPixels(state);
}
BENCHMARK(BM_Blur)->ArgName("r")->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_Kernel2D(benchmark::State& state) {
    std::vector<uint32_t> px = Picture();
    const auto code = static_cast<int32_t>(state.range(0));
    for (auto _ : state) Convolve(Request(px, code, 2, 1.0));  // k = 5
    SetPixels(state);
}
BENCHMARK(BM_Kernel2D)->ArgName("code")->Arg(kConvolveEdge)->Arg(kConvolveEmboss)->Arg(kConvolveSharpen)
    ->Unit(benchmark::kMillisecond);

void BM_OilPaint(benchmark::State& state) {
    std::vector<uint32_t> px = Picture();
    for (auto _ : state) {
        qbOilPaintRequest r;
        r.pixels = px.data();
        r.width = kW;
        r.height = kH;
        r.pitch = kW;
        r.pixelFormat = kFormatARGB;
        r.radius = 3;
        OilPaint32(r);
    }
    SetPixels(state);
}
BENCHMARK(BM_OilPaint)->Unit(benchmark::kMillisecond);

void BM_Colour(benchmark::State& state) {
    std::vector<uint32_t> px = Picture();
    uint8_t table[256];
    BuildGammaTable(table, 2.2);
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0: GammaPixels32({px.data(), kW, kH, kW, kFormatARGB, table, table, table, 7}); break;
        case 1: SolarizePixels32(px.data(), kW, kH, kW, kFormatARGB, 128); break;
        case 2: ContrastPixels32(px.data(), kW, kH, kW, kFormatARGB, 1); break;
        case 3: ModulatePixels32({px.data(), kW, kH, kW, kFormatARGB, 120, 80, 130}); break;
        default: SepiaPixels32(px.data(), kW, kH, kW, kFormatARGB, 204); break;
        }
    }
    SetPixels(state);
}
BENCHMARK(BM_Colour)->ArgName("gamma0_solarize1_contrast2_modulate3_sepia4")->DenseRange(0, 4)
    ->Unit(benchmark::kMillisecond);

#ifdef QB_BENCH_HAVE_OPENCV
cv::Mat CvPicture() {
    cv::Mat m(kH, kW, CV_8UC4);
    std::memcpy(m.data, Picture().data(), Picture().size() * 4);
    return m;
}

void BM_OpenCV_SepFilter2D(benchmark::State& state) {
    cv::setNumThreads(1);
    const double r = static_cast<double>(state.range(0));
    const std::vector<double> taps = BuildBlurKernel(GetKernelWidth1D(r, r / 3), r / 3);
    cv::Mat k(1, static_cast<int>(taps.size()), CV_32F);
    for (size_t i = 0; i < taps.size(); ++i) k.at<float>(0, static_cast<int>(i)) = static_cast<float>(taps[i]);
    cv::Mat src = CvPicture(), dst;
    for (auto _ : state) cv::sepFilter2D(src, dst, -1, k, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    SetPixels(state);
}
BENCHMARK(BM_OpenCV_SepFilter2D)->ArgName("r")->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_OpenCV_Filter2D(benchmark::State& state) {
    cv::setNumThreads(1);
    const auto code = static_cast<int32_t>(state.range(0));
    const std::vector<double> taps = Build2DKernel(code, 5, 1.0);
    cv::Mat k(5, 5, CV_32F);
    for (int i = 0; i < 25; ++i) k.at<float>(i / 5, i % 5) = static_cast<float>(taps[static_cast<size_t>(i)]);
    cv::Mat src = CvPicture(), dst;
    for (auto _ : state) cv::filter2D(src, dst, -1, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    SetPixels(state);
}
BENCHMARK(BM_OpenCV_Filter2D)->ArgName("code")->Arg(kConvolveEdge)->Arg(kConvolveEmboss)->Arg(kConvolveSharpen)
    ->Unit(benchmark::kMillisecond);

void BM_OpenCV_LUT(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat lut(1, 256, CV_8U);
    BuildGammaTable(lut.data, 2.2);
    cv::Mat src = CvPicture(), dst;
    for (auto _ : state) cv::LUT(src, lut, dst);
    SetPixels(state);
}
BENCHMARK(BM_OpenCV_LUT)->Unit(benchmark::kMillisecond);
#endif

// ImageMagick through its command line, when it is installed.
const std::string& MagickInput() {
    static const std::string path = [] {
        const std::string p = "/tmp/qb-bench-filters.ppm";
        std::ofstream out(p, std::ios::binary);
        out << "P6\n" << kW << " " << kH << "\n255\n";
        for (uint32_t v : Picture()) {
            const char rgb[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
            out.write(rgb, 3);
        }
        return p;
    }();
    return path;
}

void Magick(benchmark::State& state, const char* op) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) {
        state.SkipWithError("ImageMagick is not installed");
        return;
    }
    const std::string cmd = "MAGICK_THREAD_LIMIT=1 convert " + MagickInput() + " " + op + " null: >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("convert failed");
    SetPixels(state);
}
BENCHMARK_CAPTURE(Magick, _startup, "")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, blur_r5, "-blur 5x1.6667")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, blur_r20, "-blur 20x6.6667")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, paint_3, "-paint 3")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, contrast, "-contrast")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, modulate, "-modulate 120,80,130")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Magick, sepia, "-sepia-tone 80%")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
