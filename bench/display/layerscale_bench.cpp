// One frame of a 960x540 display shown at 1920x1080 with 50 brush layers of
// 64x64 that all move each frame: under the layer scaling engine (the
// layers drawn at the window's size, the frame blitted as it is) against
// autoscale (the frame composed at 960x540, then scaled to the window), in
// the same run. Target: the layer-scaled frame costs no more than the
// autoscaled one, and its refresh never scales the whole picture (the
// "scaled blits" counter stays 0).

#include <benchmark/benchmark.h>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "pixelbench.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kBrush = 64;
constexpr int kLayers = 50;

using pixelbench::Noise;

struct World {
    explicit World(bool layerScale) {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitLayersLibrary(L);
        VmSetTop(L, 0);
        qbDisplayOptions o;
        o.width = 960;
        o.height = 540;
        o.flags = kDisplayActivate | kDisplayLayers;
        o.layers = true;
        o.autoscale = layerScale ? 0 : 1;
        o.layerScale = layerScale ? 1 : 0;
        o.scaleWidth = 1920;
        o.scaleHeight = 1080;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, 1920, 1080);
        StartDisplays(nullptr);
        display->layersEnabled = 1;
        uint32_t seed = 11;
        BitmapPtr bitmap(AllocBitmap(kBrush, kBrush, 0, nullptr));
        for (int32_t y = 0; y < kBrush; ++y)
            for (int32_t x = 0; x < kBrush; ++x) WriteBitmapPixel(bitmap.get(), x, y, Noise(seed) & 0xFFFFFF, false);
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, kBrush, kBrush, kBrush, 0, nullptr, bitmap.release(), -1,
                         nullptr, nullptr, ObjectID{}, &brush);
        for (int i = 0; i < kLayers; ++i)
            AddObjectLayer(L, kLayerBrush, ObjectID{1, nullptr}, 0, 0, (i * 397) % 880, (i * 211) % 460, kBrush, kBrush,
                           nullptr, nullptr, nullptr, -1, kAddDisplayScale, nullptr);
    }
    ~World() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        FreeLayersLibrary(L);
        VmClose(L);
    }
    // Every layer one step further along its own path, then the frame shown.
    void Frame(int32_t n) {
        for (int i = 1; i <= kLayers; ++i) {
            qbLayer* layer = GetLayerByIndex(display->bgpic, i);
            RepositionLayer(L, layer, nullptr, (i * 397 + n * 3) % 880, (i * 211 + n * 2) % 460, true, 0, nullptr);
        }
        RefreshDisplay(L, display);
    }
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    qbBrush* brush = nullptr;
};

void RunFrames(benchmark::State& state, bool layerScale) {
    World world(layerScale);
    if (!world.display || world.display->scaleX != 2.0) {
        state.SkipWithError("the display did not scale");
        return;
    }
    const uint64_t scaledBefore = BlitScaleCount();
    int32_t n = 0;
    for (auto _ : state) world.Frame(n++);
    state.counters["scaled_blits"] = static_cast<double>(BlitScaleCount() - scaledBefore);
    state.SetItemsProcessed(state.iterations());
}

void BM_LayerScaledFrame(benchmark::State& state) { RunFrames(state, true); }
void BM_AutoscaledFrame(benchmark::State& state) { RunFrames(state, false); }

}  // namespace

BENCHMARK(BM_LayerScaledFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoscaledFrame)->Unit(benchmark::kMillisecond);
