// Layer styles: RotateLayer of a 256x256 brush layer by one more degree per
// call, on a 1920x1080 BGPic with 16 other 256x256 layers, called as a
// script calls it (the style table built, read and applied, the layer
// rebuilt and the union of its old and new areas redrawn and shown),
// against the same work done directly: TransformBitmap of the brush, its
// result put in the layer's state, and RedrawLayers of the union
// rectangle, once without and once with the copy of that rectangle to the
// window.

#include <benchmark/benchmark.h>

#include <algorithm>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "imaging/bitmap.h"
#include "imaging/geometry.h"
#include "imaging/transform.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/objectoptions.h"
#include "pixelbench.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kSize = 256;

using pixelbench::Noise;

struct World {
    World() {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitLayersLibrary(L);
        VmSetTop(L, 0);
        qbDisplayOptions o;
        o.width = 1920;
        o.height = 1080;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, 1920, 1080);
        StartDisplays(nullptr);
        display->layersEnabled = 1;
        uint32_t seed = 7;
        for (int32_t y = 0; y < 1080; ++y)
            for (int32_t x = 0; x < 1920; ++x)
                WriteBitmapPixel(display->spriteFreeBuffer.get(), x, y, Noise(seed) & 0xFFFFFF, false);
        BitmapPtr bitmap(AllocBitmap(kSize, kSize, 0, nullptr));
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x) WriteBitmapPixel(bitmap.get(), x, y, Noise(seed) & 0xFFFFFF, false);
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, kSize, kSize, kSize, 0, nullptr, bitmap.release(), -1, nullptr,
                         nullptr, ObjectID{}, &brush);
        for (int i = 0; i < 17; ++i)
            AddObjectLayer(nullptr, kLayerBrush, ObjectID{1, nullptr}, 0, 0, 100 + (i * 397) % 1500,
                           100 + (i * 211) % 700, kSize, kSize, nullptr, nullptr, nullptr, -1, 0, nullptr);
        top = GetLayerByIndex(display->bgpic, 17);
    }
    ~World() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        FreeLayersLibrary(L);
        VmClose(L);
    }
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    qbBrush* brush = nullptr;
    qbLayer* top = nullptr;
};

void BM_RotateLayerCommand(benchmark::State& state) {
    World w;
    double angle = 0;
    for (auto _ : state) {
        angle += 1;
        VmPushString(w.L, "rotatelayer");
        VmGetTableAt(w.L, kGlobalsIndex);
        VmPushNumber(w.L, 17);
        VmPushNumber(w.L, angle);
        if (VmPCall(w.L, 2, 0, 0)) state.SkipWithError("RotateLayer failed");
        benchmark::ClobberMemory();
    }
}

// The work without the style code: the rotated image put in the layer's
// state in place of the last one, and the union of the old and new
// rectangles redrawn (and, with range 1, shown).
void BM_RotateDirect(benchmark::State& state) {
    World w;
    const bool show = state.range(0) != 0;
    qbLayerState* s = w.top->shownstate;
    qbRect old{s->shownx, s->showny, kSize, kSize};
    double angle = 0;
    for (auto _ : state) {
        angle += 1;
        double m[4];
        BuildScaleRotateMatrix(m, 0, 0, kSize, kSize, 1, 1, angle);
        qbBitmap *out = nullptr, *mask = nullptr, *alpha = nullptr;
        int32_t tw = 0, th = 0;
        TransformBitmap(w.brush->bitmap, nullptr, nullptr, 0, 0, kSize, kSize, m, false, &out, &mask, &alpha, &tw, &th);
        const double byRows[4] = {m[0], m[2], m[1], m[3]};
        const qbRect now = GetAnchoredTransformBounds(s->x, s->y, kSize, kSize, 0, 0, byRows);
        FreeBitmap(s->xfbitmap);
        FreeMask(s->xfmask);
        FreeAlphaChannel(s->xfalpha);
        s->xfbitmap = out;
        s->xfmask = mask;
        s->xfalpha = alpha;
        s->shownx = now.x;
        s->showny = now.y;
        s->shownwidth = tw;
        s->shownheight = th;
        const int32_t x = std::min(old.x, now.x), y = std::min(old.y, now.y);
        const int32_t r = std::max(old.x + old.width, now.x + now.width);
        const int32_t b = std::max(old.y + old.height, now.y + now.height);
        if (show) RefreshLayerRect(w.L, x, y, r - x, b - y, 0);
        else RedrawLayers(w.L, w.display, w.display->bgpic, w.display->backBuffer.get(), x, y, r - x, b - y, 0);
        old = now;
        benchmark::ClobberMemory();
    }
    state.SetLabel(show ? "redraw and show" : "redraw");
}

}  // namespace

BENCHMARK(BM_RotateLayerCommand)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RotateDirect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
