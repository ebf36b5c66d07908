// Picture decoding through the loader chain against the bare libraries: a
// 4000x3000 PNG and JPEG decoded by LoadImageThroughLoaders (file layer,
// signature test, reader, 0xAARRGGBB words, image handle) and by libpng's
// png_read_image and libjpeg-turbo's jpeg_read_scanlines over stdio into
// RGB rows, each run allocating its whole picture.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/loaderchain.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph stands in: smooth shading with fine noise, so that neither
// format compresses it to nothing.
std::vector<uint8_t> MakeRGB() {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 rng(42);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
            const int n = static_cast<int>(rng() % 9) - 4;
            p[0] = static_cast<uint8_t>(std::clamp(x * 255 / kWidth + n, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(y * 255 / kHeight + n, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(((x + y) / 16) % 256 + n, 0, 255));
        }
    return rgb;
}

struct Files {
    std::string png;
    std::string jpeg;
    Files() {
        const std::vector<uint8_t> rgb = MakeRGB();
        const std::string dir = "/tmp/qb-decode-bench-" + std::to_string(getpid());
        std::system(("mkdir -p " + dir).c_str());
        png = dir + "/picture.png";
        jpeg = dir + "/picture.jpg";

        FILE* f = std::fopen(png.c_str(), "wb");
        png_structp w = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(w);
        png_init_io(w, f);
        png_set_IHDR(w, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(w, info);
        for (int y = 0; y < kHeight; ++y) png_write_row(w, &rgb[static_cast<size_t>(y) * kWidth * 3]);
        png_write_end(w, nullptr);
        png_destroy_write_struct(&w, &info);
        std::fclose(f);

        f = std::fopen(jpeg.c_str(), "wb");
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, f);
        c.image_width = kWidth;
        c.image_height = kHeight;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 90, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(c.next_scanline) * kWidth * 3]);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
    }
    ~Files() {
        std::remove(png.c_str());
        std::remove(jpeg.c_str());
    }
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void ChainDecode(benchmark::State& state, const std::string& name) {
    for (auto _ : state) {
        qbImageLoadParams p;
        p.fileName = name.c_str();
        qbLoadedImage image;
        if (LoadImageThroughLoaders(p, &image) != 0) {
            state.SkipWithError("the chain failed");
            return;
        }
        benchmark::DoNotOptimize(GetImageHandlePixels(image.handle.get())[kWidth * kHeight - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_PngChain(benchmark::State& state) { ChainDecode(state, TestFiles().png); }
void BM_JpegChain(benchmark::State& state) { ChainDecode(state, TestFiles().jpeg); }

void BM_PngBare(benchmark::State& state) {
    const std::string& name = TestFiles().png;
    for (auto _ : state) {
        FILE* f = std::fopen(name.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        png_read_update_info(png, info);
        const size_t rowBytes = png_get_rowbytes(png, info);
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[rowBytes * kHeight]);
        std::vector<png_bytep> rows(kHeight);
        for (int y = 0; y < kHeight; ++y) rows[y] = pixels.get() + rowBytes * y;
        png_read_image(png, rows.data());
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        benchmark::DoNotOptimize(pixels[rowBytes * kHeight - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// Bare libjpeg-turbo into pixels of the given colour space and size.
void JpegBare(benchmark::State& state, J_COLOR_SPACE space, size_t bytesPerPixel) {
    const std::string& name = TestFiles().jpeg;
    for (auto _ : state) {
        FILE* f = std::fopen(name.c_str(), "rb");
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        d.out_color_space = space;
        jpeg_start_decompress(&d);
        const size_t rowBytes = static_cast<size_t>(d.output_width) * bytesPerPixel;
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[rowBytes * d.output_height]);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = pixels.get() + rowBytes * d.output_scanline;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        benchmark::DoNotOptimize(pixels[rowBytes * kHeight - 1]);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_JpegBare(benchmark::State& state) { JpegBare(state, JCS_RGB, 3); }

// The bare library writing 4-byte pixels (B, G, R, X) as the chain does:
// what the wider output itself costs.
void BM_JpegBareBGRX(benchmark::State& state) { JpegBare(state, JCS_EXT_BGRX, 4); }

}  // namespace

BENCHMARK(BM_PngBare)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PngChain)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_JpegBare)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_JpegChain)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_JpegBareBGRX)->Unit(benchmark::kMillisecond)->MinTime(2.0);
