// Writing anims: 1920x1080 brush frames through WriteAnimFrame into a
// Motion-JPEG AVI stream (the command's whole road: lookup, JPEG encoding,
// chunks, indexes), against libjpeg-turbo compressing the same pixels at the
// same quality alone, straight from the 32-bit words into memory.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "../../tests/command_call.h"
#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "vm/vm.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 300, kQuality = 90;

// Gradients with a little noise: a picture between flat and photographic.
std::vector<uint32_t> Picture() {
    std::vector<uint32_t> p(static_cast<size_t>(kWidth) * kHeight);
    std::mt19937 rng(5);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t n = rng() & 15;
            p[static_cast<size_t>(y) * kWidth + x] =
                ((x * 255 / kWidth + n) & 255) << 16 | ((y * 255 / kHeight) & 255) << 8 | ((x + y + n) & 255);
        }
    return p;
}

const std::vector<uint32_t>& Pixels() {
    static const std::vector<uint32_t> pixels = Picture();
    return pixels;
}

void BM_WriteAnimFrameAVI(benchmark::State& state) {
    InstallVmHost();
    ScriptState* L = VmOpen();
    SetPicturesPending(false);
    VmPushValue(L, kGlobalsIndex);
    InitBrushLibrary(L);
    InitAnimLibrary(L);
    VmSetTop(L, 0);
    qbBitmap* bitmap = nullptr;
    CreateBitmapFromARGB(Pixels().data(), -1, kWidth, kHeight, kWidth, false, 0, 0, &bitmap, nullptr, nullptr);
    qbBrush* brush = nullptr;
    AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, kWidth, kHeight, kWidth, 0, nullptr, bitmap, -1, nullptr, nullptr,
                     ObjectID{}, &brush);
    const std::string path = "/tmp/qb-animwrite-bench-" + std::to_string(getpid()) + ".avi";
    VmPushNumber(L, 1);
    VmPushString(L, path.c_str());
    VmPushNumber(L, kWidth);
    VmPushNumber(L, kHeight);
    VmPushNumber(L, 1);
    VmPushNewTable(L);
    SetTableFieldInt(L, "quality", kQuality);
    if (CallCommand(L, "BeginAnimStream", 6, 0)) state.SkipWithError("BeginAnimStream");
    for (auto _ : state) {
        VmPushNumber(L, 1);
        VmPushNumber(L, 1);
        if (CallCommand(L, "WriteAnimFrame", 2, 0)) state.SkipWithError("WriteAnimFrame");
    }
    VmPushNumber(L, 1);
    if (CallCommand(L, "FinishAnimStream", 1, 0)) state.SkipWithError("FinishAnimStream");
    FreeAllAnims(L);
    FreeAllBrushes(L);
    VmClose(L);
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteAnimFrameAVI)->Iterations(kFrames)->Unit(benchmark::kMillisecond);

void BM_LibjpegTurboAlone(benchmark::State& state) {
    const std::vector<uint32_t>& pixels = Pixels();
    for (auto _ : state) {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr errors;
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, kQuality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(
                const_cast<uint32_t*>(pixels.data() + static_cast<size_t>(cinfo.next_scanline) * kWidth));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        benchmark::DoNotOptimize(size);
        std::free(out);
    }
}
BENCHMARK(BM_LibjpegTurboAlone)->Iterations(kFrames)->Unit(benchmark::kMillisecond);

}  // namespace
