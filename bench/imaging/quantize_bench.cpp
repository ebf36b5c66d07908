// The colour quantiser and the swirl and ripple kernels on a 1920x1080
// picture, one thread, with their peers in the same run: libjpeg-turbo's
// two-pass quantiser (its quantising decode minus its plain decode),
// libimagequant at speed 10, and OpenCV's remap with nearest sampling and
// precomputed maps. The quantisers' mean squared errors are counters.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/quantize.h"
#include "imaging/swirlripple.h"

#ifdef QB_BENCH_HAVE_IMAGEQUANT
#include <libimagequant.h>
#endif
#ifdef QB_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kW = 1920, kH = 1080;

// Smooth gradients with some texture and noise, RGB bytes.
std::vector<uint8_t> Photograph() {
    std::vector<uint8_t> p(static_cast<size_t>(kW) * kH * 3);
    std::mt19937 rng(3);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* q = &p[(static_cast<size_t>(y) * kW + x) * 3];
            q[0] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.004 + y * 0.002) + rng() % 12);
            q[1] = static_cast<uint8_t>(y * 255 / kH);
            q[2] = static_cast<uint8_t>(128 + 120 * std::cos(std::hypot(x - 900, y - 500) * 0.01) + rng() % 8 - 4);
        }
    return p;
}

const std::vector<uint8_t>& Jpeg() {
    static const std::vector<uint8_t> bytes = [] {
        const auto rgb = Photograph();
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = kW;
        c.image_height = kH;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 100, TRUE);
        for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        jpeg_start_compress(&c, TRUE);
        for (int y = 0; y < kH; ++y) {
            auto row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(y) * kW * 3]);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        std::vector<uint8_t> b(out, out + size);
        jpeg_destroy_compress(&c);
        std::free(out);
        return b;
    }();
    return bytes;
}

// Decodes the JPEG as RGB or through libjpeg's two-pass quantiser.
std::vector<uint8_t> Decode(int colours, std::vector<uint32_t>* palette = nullptr) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, Jpeg().data(), Jpeg().size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    if (colours) {
        d.quantize_colors = TRUE;
        d.two_pass_quantize = TRUE;
        d.desired_number_of_colors = colours;
        d.dither_mode = JDITHER_FS;
    }
    jpeg_start_decompress(&d);
    const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
    std::vector<uint8_t> out(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &out[d.output_scanline * stride];
        jpeg_read_scanlines(&d, &row, 1);
    }
    if (palette)
        for (int i = 0; i < d.actual_number_of_colors; ++i)
            palette->push_back(uint32_t{d.colormap[0][i]} << 16 | uint32_t{d.colormap[1][i]} << 8 | d.colormap[2][i]);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

const std::vector<uint8_t>& Rgb() {
    static const std::vector<uint8_t> rgb = Decode(0);
    return rgb;
}

double MeanSquaredError(const std::vector<uint8_t>& indices, const std::vector<uint32_t>& palette) {
    double sum = 0;
    const auto& rgb = Rgb();
    for (size_t i = 0; i < indices.size(); ++i) {
        const uint32_t c = palette[indices[i]];
        for (int k = 0; k < 3; ++k) {
            const double d = static_cast<double>(rgb[3 * i + k]) - ((c >> (16 - 8 * k)) & 255);
            sum += d * d;
        }
    }
    return sum / (static_cast<double>(indices.size()) * 3);
}

void BM_LibjpegDecodePlain(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Decode(0));
}
BENCHMARK(BM_LibjpegDecodePlain)->Unit(benchmark::kMillisecond);

void BM_LibjpegDecodeQuantised256(benchmark::State& state) {
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    for (auto _ : state) {
        palette.clear();
        indices = Decode(256, &palette);
    }
    state.counters["mse"] = MeanSquaredError(indices, palette);
}
BENCHMARK(BM_LibjpegDecodeQuantised256)->Unit(benchmark::kMillisecond);

void BM_QuantizePixels256(benchmark::State& state) {
    std::vector<uint8_t> indices(static_cast<size_t>(kW) * kH);
    std::vector<uint32_t> palette(256);
    int32_t count = 0;
    for (auto _ : state) {
        count = 256;
        QuantizePixels(Rgb().data(), kFormatRGB24, 3, kW, kH, kW, indices.data(), palette.data(), &count,
                       kNoTransparentColour, false, true);
    }
    palette.resize(static_cast<size_t>(count));
    state.counters["mse"] = MeanSquaredError(indices, palette);
}
BENCHMARK(BM_QuantizePixels256)->Unit(benchmark::kMillisecond);

#ifdef QB_BENCH_HAVE_IMAGEQUANT
void BM_LibImageQuant256(benchmark::State& state) {
    std::vector<uint8_t> rgba(static_cast<size_t>(kW) * kH * 4);
    for (size_t i = 0; i < static_cast<size_t>(kW) * kH; ++i) {
        for (int k = 0; k < 3; ++k) rgba[4 * i + k] = Rgb()[3 * i + k];
        rgba[4 * i + 3] = 255;
    }
    std::vector<uint8_t> indices(static_cast<size_t>(kW) * kH);
    std::vector<uint32_t> palette;
    for (auto _ : state) {
        liq_attr* attr = liq_attr_create();
        liq_set_speed(attr, 10);
        liq_set_max_colors(attr, 256);
        liq_image* image = liq_image_create_rgba(attr, rgba.data(), kW, kH, 0);
        liq_result* result = nullptr;
        if (liq_image_quantize(image, attr, &result) == LIQ_OK) {
            liq_set_dithering_level(result, 1.0f);
            liq_write_remapped_image(result, image, indices.data(), indices.size());
            const liq_palette* pal = liq_get_palette(result);
            palette.clear();
            for (unsigned i = 0; i < pal->count; ++i)
                palette.push_back(uint32_t{pal->entries[i].r} << 16 | uint32_t{pal->entries[i].g} << 8 |
                                  pal->entries[i].b);
            liq_result_destroy(result);
        }
        liq_image_destroy(image);
        liq_attr_destroy(attr);
    }
    if (!palette.empty()) state.counters["mse"] = MeanSquaredError(indices, palette);
}
BENCHMARK(BM_LibImageQuant256)->Unit(benchmark::kMillisecond);
#endif

std::vector<uint32_t> Argb() {
    std::vector<uint32_t> p(static_cast<size_t>(kW) * kH);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = 0xFF000000u | uint32_t{Rgb()[3 * i]} << 16 | uint32_t{Rgb()[3 * i + 1]} << 8 | Rgb()[3 * i + 2];
    return p;
}

void BM_Swirl180(benchmark::State& state) {
    const auto source = Argb();
    std::vector<uint32_t> dst(source.size());
    std::vector<double> sine(kDisplaceTableSize), cosine(kDisplaceTableSize);
    qbSwirlRequest r;
    r.source = source.data();
    r.destination = dst.data();
    r.sourcePitch = r.destinationPitch = kW;
    r.sine = sine.data();
    r.cosine = cosine.data();
    r.pixelFormat = kFormatARGB;
    r.width = kW;
    r.height = kH;
    InitSwirlTables(r);
    for (auto _ : state) SwirlPixels32(r, 180);
}
BENCHMARK(BM_Swirl180)->Unit(benchmark::kMillisecond);

void BM_Ripple(benchmark::State& state) {
    const auto source = Argb();
    std::vector<uint32_t> dst(source.size());
    std::vector<double> sine(kDisplaceTableSize);
    std::vector<int32_t> distances(source.size());
    qbRippleRequest r;
    r.source = source.data();
    r.destination = dst.data();
    r.sourcePitch = r.destinationPitch = kW;
    r.distances = distances.data();
    r.sine = sine.data();
    r.waveLength = 32;
    r.amplitude = 1;
    r.width = kW;
    r.height = kH;
    r.pixelFormat = kFormatARGB;
    r.centreX = kW / 2;
    r.centreY = kH / 2;
    r.extent = kW / 2;
    InitRippleTables(r);
    for (auto _ : state) RipplePixels32(r, -1);
}
BENCHMARK(BM_Ripple)->Unit(benchmark::kMillisecond);

// ImageMagick's swirl through its command line, when it is installed
// (MAGICK_THREAD_LIMIT=1; the time includes starting the process and
// reading a PPM, which the _startup row measures alone).
const std::string& SwirlInput() {
    static const std::string path = [] {
        const std::string p = "/tmp/qb-bench-swirl.ppm";
        std::ofstream out(p, std::ios::binary);
        out << "P6\n" << kW << " " << kH << "\n255\n";
        out.write(reinterpret_cast<const char*>(Rgb().data()), static_cast<std::streamsize>(Rgb().size()));
        return p;
    }();
    return path;
}

void MagickSwirl(benchmark::State& state, const char* op) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) {
        state.SkipWithError("ImageMagick is not installed");
        return;
    }
    const std::string cmd = "MAGICK_THREAD_LIMIT=1 convert " + SwirlInput() + " " + op + " null: >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("convert failed");
}
BENCHMARK_CAPTURE(MagickSwirl, _startup, "")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(MagickSwirl, swirl_180, "-swirl 180")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

#ifdef QB_BENCH_HAVE_OPENCV
void BM_CvRemapNearest(benchmark::State& state) {
    cv::setNumThreads(1);
    auto source = Argb();
    cv::Mat src(kH, kW, CV_8UC4, source.data()), dst(kH, kW, CV_8UC4);
    cv::Mat mapX(kH, kW, CV_32FC1), mapY(kH, kW, CV_32FC1);
    // The swirl's own source positions as the maps.
    std::vector<uint32_t> positions(source.size());
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<uint32_t>(i);
    std::vector<double> sine(kDisplaceTableSize), cosine(kDisplaceTableSize);
    qbSwirlRequest r;
    r.destination = positions.data();
    r.sourcePitch = r.destinationPitch = kW;
    r.sine = sine.data();
    r.cosine = cosine.data();
    r.pixelFormat = kFormatARGB;
    r.width = kW;
    r.height = kH;
    InitSwirlTables(r);
    SwirlPixels32(r, 180);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint32_t p = positions[static_cast<size_t>(y) * kW + x];
            mapX.at<float>(y, x) = static_cast<float>(p % kW);
            mapY.at<float>(y, x) = static_cast<float>(p / kW);
        }
    for (auto _ : state) cv::remap(src, dst, mapX, mapY, cv::INTER_NEAREST);
}
BENCHMARK(BM_CvRemapNearest)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
