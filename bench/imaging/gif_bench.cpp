// GIF decoding and encoding against giflib. A 1920x1080 picture of 256
// colours (smooth shading with noise, so the LZW table fills and clears),
// written once by the player's writer: decoded by OpenGIFReader and
// GetGIFFrame into a canvas, and by giflib's DGifSlurp plus the colour-map
// lookup into 0xAARRGGBB words. A 100-frame 640x480 anim (frames with
// their own rectangles) through GetGIFFrame in order and in a random order,
// whose restarts cost more. The same picture LZW-encoded by WriteAnimGIF
// and by giflib's EGifPutLine at the same code size.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/file.h"
#include "imaging/gif.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int32_t kAnimW = 640, kAnimH = 480, kAnimFrames = 100;

std::string Scratch(const char* name) { return "/tmp/qb-bench-" + std::to_string(getpid()) + "-" + name; }

struct Picture {
    std::vector<uint8_t> indices;
    std::vector<uint32_t> palette;
};

Picture Shaded(int32_t w, int32_t h, uint32_t seed) {
    Picture p;
    p.palette.resize(256);
    for (int i = 0; i < 256; ++i) p.palette[static_cast<size_t>(i)] = static_cast<uint32_t>(i * 0x010203) & 0xFFFFFF;
    p.indices.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            p.indices[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                static_cast<uint8_t>((x / 8 + y / 5 + (rng() % 3)) & 0xFF);
    return p;
}

// One 1920x1080 frame of 256 colours through the player's writer.
void WritePicture(const std::string& file, const Picture& p) {
    qbGIFWriter* w = nullptr;
    WriteGIF(file.c_str(), nullptr, kW, kH, &w);
    qbGIFFrame f;
    f.indices = p.indices.data();
    f.width = kW;
    f.height = kH;
    f.palette = p.palette.data();
    f.colourCount = 256;
    WriteAnimGIF(w, f);
    CloseGIFWriter(w);
}

const std::string& PictureFile() {
    static const std::string path = [] {
        const std::string file = Scratch("picture.gif");
        WritePicture(file, Shaded(kW, kH, 1));
        return file;
    }();
    return path;
}

// Frame 0 whole; then squares that move, some restarting (whole frames
// every 10).
const std::string& AnimFile() {
    static const std::string path = [] {
        const std::string file = Scratch("anim.gif");
        qbGIFWriter* w = nullptr;
        WriteGIF(file.c_str(), nullptr, kAnimW, kAnimH, &w);
        for (int k = 0; k < kAnimFrames; ++k) {
            const Picture p = Shaded(kAnimW, kAnimH, static_cast<uint32_t>(k + 2));
            qbGIFFrame f;
            f.indices = p.indices.data();
            f.width = kAnimW;
            f.height = kAnimH;
            f.palette = p.palette.data();
            f.colourCount = 256;
            f.delayMs = 40;
            // Differenced frames change little: they cover a small rectangle.
            f.differencing = k % 10 != 0;
            f.transparentSlot = f.differencing;
            WriteAnimGIF(w, f);
        }
        CloseGIFWriter(w);
        return file;
    }();
    return path;
}

void BM_DecodeOurs(benchmark::State& state) {
    const std::string& file = PictureFile();
    for (auto _ : state) {
        int32_t w = 0, h = 0, frames = 0;
        qbGIFReaderPtr r(OpenGIFReader(FileOpen(file.c_str(), kFileModeRead, nullptr), &w, &h, &frames, false, true,
                                       false));
        PixelBuffer canvas = GetGIFFrame(r.get(), 0, nullptr);
        benchmark::DoNotOptimize(canvas.get());
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_DecodeGiflib(benchmark::State& state) {
    const std::string& file = PictureFile();
    for (auto _ : state) {
        int error = 0;
        GifFileType* g = DGifOpenFileName(file.c_str(), &error);
        DGifSlurp(g);
        const SavedImage& s = g->SavedImages[0];
        const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : g->SColorMap;
        uint32_t table[256] = {};
        for (int i = 0; i < map->ColorCount; ++i)
            table[i] = 0xFF000000u | static_cast<uint32_t>(map->Colors[i].Red) << 16 |
                       static_cast<uint32_t>(map->Colors[i].Green) << 8 | map->Colors[i].Blue;
        std::vector<uint32_t> argb(static_cast<size_t>(g->SWidth) * static_cast<size_t>(g->SHeight));
        const size_t n = static_cast<size_t>(s.ImageDesc.Width) * static_cast<size_t>(s.ImageDesc.Height);
        for (size_t i = 0; i < n; ++i) argb[i] = table[s.RasterBits[i]];
        benchmark::DoNotOptimize(argb.data());
        DGifCloseFile(g, &error);
    }
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_AnimFrames(benchmark::State& state) {
    const bool shuffled = state.range(0) != 0;
    const std::string& file = AnimFile();
    int32_t w = 0, h = 0, frames = 0;
    qbGIFReaderPtr r(OpenGIFReader(FileOpen(file.c_str(), kFileModeRead, nullptr), &w, &h, &frames, false, false,
                                   false));
    std::vector<uint32_t> order(static_cast<size_t>(frames));
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(4));
    for (auto _ : state)
        for (uint32_t k : order) {
            PixelBuffer canvas = GetGIFFrame(r.get(), k, nullptr);
            benchmark::DoNotOptimize(canvas.get());
        }
    state.counters["ms_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * frames, benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
}

void BM_EncodeOurs(benchmark::State& state) {
    const Picture p = Shaded(kW, kH, 1);
    const std::string file = Scratch("encode-ours.gif");
    for (auto _ : state) WritePicture(file, p);
    std::remove(file.c_str());
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_EncodeGiflib(benchmark::State& state) {
    const Picture p = Shaded(kW, kH, 1);
    const std::string file = Scratch("encode-giflib.gif");
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i) {
        const uint32_t c = p.palette[static_cast<size_t>(i)];
        colours[static_cast<size_t>(i)] = {static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                                           static_cast<GifByteType>(c)};
    }
    for (auto _ : state) {
        int error = 0;
        GifFileType* g = EGifOpenFileName(file.c_str(), false, &error);
        ColorMapObject* map = GifMakeMapObject(256, colours.data());
        EGifPutScreenDesc(g, kW, kH, 8, 0, nullptr);
        EGifPutImageDesc(g, 0, 0, kW, kH, false, map);
        std::vector<GifPixelType> row(kW);
        for (int32_t y = 0; y < kH; ++y) {
            std::copy_n(p.indices.data() + static_cast<size_t>(y) * kW, kW, row.data());
            EGifPutLine(g, row.data(), kW);
        }
        GifFreeMapObject(map);
        EGifCloseFile(g, &error);
    }
    std::remove(file.c_str());
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

}  // namespace

BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGiflib)->Unit(benchmark::kMillisecond);
