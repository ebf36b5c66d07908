// The draw library's pixel paths. DrawBoxDirect fills 1920x1080 into a
// brush and into the display's back buffer against std::fill of a buffer of
// the same size (target: at least half its bandwidth). The anti-aliased
// compositor paints a 1024x1024 disc with edge and shadow against the same
// three passes in pixman, OVER through a8 masks (target: at least pixman's
// speed). Plot called from the VM against an empty native command called the
// same way (target: at most 3x).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "benchworld.h"
#include "draw/aacomposite.h"
#include "draw/boxdirect.h"
#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "vector/ftengine.h"
#include "vm/vm.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int32_t kW = 1920, kH = 1080;

int Nothing(ScriptState*) { return 0; }
const ScriptCommand kNothing[] = {{"nothing", Nothing}, {nullptr, nullptr}};

void MoreLibraries(ScriptState* L) {
    InitBrushLibrary(L);
    InitDrawLibrary(L);
    VmRegisterCommands(L, nullptr, kNothing, 0);
}

BenchWorld::Options Sized(int32_t width, int32_t height, bool onSdl) {
    BenchWorld::Options o;
    o.width = width;
    o.height = height;
    o.brushWidth = kW;
    o.brushHeight = kH;
    o.onSdl = onSdl;
    o.libraries = MoreLibraries;
    return o;
}

void FillBoxes(benchmark::State& state, BenchWorld& w) {
    qbBoxRequest box;
    box.width = kW;
    box.height = kH;
    qbDrawState s = DefaultDrawState();
    s.fillStyle = FILLCOLOR;
    uint32_t colour = 0x102030;
    for (auto _ : state) {
        box.colour = colour++ & 0xFFFFFF;
        qbBoxImages images;
        if (DrawBoxDirect(w.L, box, s, &images) != kBoxDrawnDirectly) {
            state.SkipWithError("the box did not take the direct path");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}

void BM_BoxDirectIntoBrush(benchmark::State& state) {
    BenchWorld w(Sized(64, 64, false));
    if (w.Call("SelectBrush", {1})) {
        state.SkipWithError("SelectBrush failed");
        return;
    }
    FillBoxes(state, w);
}

void BM_BoxDirectIntoBackBuffer(benchmark::State& state) {
    BenchWorld w(Sized(kW, kH, true));
    FillBoxes(state, w);
}

void BM_StdFill(benchmark::State& state) {
    std::vector<uint32_t> buffer(size_t{kW} * kH);
    uint32_t colour = 0x102030;
    for (auto _ : state) {
        std::fill(buffer.begin(), buffer.end(), colour++);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kW} * kH * 4);
}

// The disc (radius 512) with a 4-pixel edge and an 8-pixel shadow to the
// south-east, as coverage planes.
struct Disc {
    Disc() {
        shape = Plane(0);
        edge = Plane(kEdge);
        imageW = edgeW + kShadow;
        imageH = edgeH + kShadow;
        image.reset(AllocBitmap(imageW, imageH, 0, nullptr));
        imageAlpha.reset(AllocAlphaChannel(imageW, imageH, true, nullptr, 0));
    }
    BitmapPtr Plane(int32_t margin) {
        qbShapeOutlineArgs a;
        a.type = 15;
        a.rx = a.ry = 512;
        a.margin = margin;
        RenderShapeOutline(&a);
        BitmapPtr p(AllocAlphaChannel(a.outWidth, a.outHeight, true, nullptr, 0));
        a.pixels = p->plane->data;
        a.bytesPerRow = static_cast<int32_t>(p->plane->rowBytes);
        RenderShapeOutline(&a);
        (margin ? edgeW : shapeW) = a.outWidth;
        (margin ? edgeH : shapeH) = a.outHeight;
        return p;
    }
    static constexpr int32_t kEdge = 4, kShadow = 8;
    BitmapPtr shape, edge, image, imageAlpha;
    int32_t shapeW = 0, shapeH = 0, edgeW = 0, edgeH = 0, imageW = 0, imageH = 0;
};

void BM_CompositeDisc(benchmark::State& state) {
    Disc d;
    qbAACompose c;
    c.image = d.image.get();
    c.imageAlpha = d.imageAlpha.get();
    c.imageWidth = d.imageW;
    c.imageHeight = d.imageH;
    c.shape = d.shape.get();
    c.shapeWidth = d.shapeW;
    c.shapeHeight = d.shapeH;
    c.edge = d.edge.get();
    c.edgeWidth = d.edgeW;
    c.edgeHeight = d.edgeH;
    c.withShadow = c.withEdge = true;
    c.shapeX = c.shapeY = Disc::kEdge;
    c.shadowX = c.shadowY = Disc::kShadow;
    c.colour = 0xFF0000;
    c.edgeColour = 0x0000FF;
    c.shadowColour = 0x202020;
    c.shadowT = 0x80;
    for (auto _ : state) {
        CompositeAntialiasedShape(c);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

#ifdef QB_BENCH_HAVE_PIXMAN
pixman_image_t* MaskOf(const qbBitmap* plane, int32_t w, int32_t h) {
    return pixman_image_create_bits(PIXMAN_a8, w, h, reinterpret_cast<uint32_t*>(plane->plane->data),
                                    static_cast<int>(plane->plane->rowBytes));
}

void BM_CompositeDiscPixman(benchmark::State& state) {
    Disc d;
    std::vector<uint32_t> pixels(size_t(d.imageW) * d.imageH);
    pixman_image_t* dest =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, d.imageW, d.imageH, pixels.data(), d.imageW * 4);
    pixman_image_t* shape = MaskOf(d.shape.get(), d.shapeW, d.shapeH);
    pixman_image_t* edge = MaskOf(d.edge.get(), d.edgeW, d.edgeH);
    const pixman_color_t red{0xFFFF, 0, 0, 0xFFFF}, blue{0, 0, 0xFFFF, 0xFFFF}, grey{0x1010, 0x1010, 0x1010, 0x8080};
    pixman_image_t* fills[] = {pixman_image_create_solid_fill(&grey), pixman_image_create_solid_fill(&blue),
                               pixman_image_create_solid_fill(&red)};
    for (auto _ : state) {
        std::fill(pixels.begin(), pixels.end(), 0u);
        pixman_image_composite32(PIXMAN_OP_OVER, fills[0], edge, dest, 0, 0, 0, 0, Disc::kShadow, Disc::kShadow,
                                 d.edgeW, d.edgeH);
        pixman_image_composite32(PIXMAN_OP_OVER, fills[1], edge, dest, 0, 0, 0, 0, 0, 0, d.edgeW, d.edgeH);
        pixman_image_composite32(PIXMAN_OP_OVER, fills[2], shape, dest, 0, 0, 0, 0, Disc::kEdge, Disc::kEdge,
                                 d.shapeW, d.shapeH);
        benchmark::ClobberMemory();
    }
    for (pixman_image_t* i : {dest, shape, edge, fills[0], fills[1], fills[2]}) pixman_image_unref(i);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompositeDiscPixman)->Unit(benchmark::kMillisecond);
#endif

void BM_PlotFromScript(benchmark::State& state) {
    BenchWorld w(Sized(64, 64, false));
    double x = 0;
    for (auto _ : state) {
        if (w.Call("Plot", {x, 10, 0xFF0000})) {
            state.SkipWithError("Plot failed");
            break;
        }
        x = x >= 63 ? 0 : x + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EmptyCommandFromScript(benchmark::State& state) {
    BenchWorld w(Sized(64, 64, false));
    double x = 0;
    for (auto _ : state) {
        if (w.Call("Nothing", {x, 10, 0xFF0000})) {
            state.SkipWithError("the empty command failed");
            break;
        }
        x = x >= 63 ? 0 : x + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_BoxDirectIntoBrush)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxDirectIntoBackBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdFill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompositeDisc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlotFromScript);
BENCHMARK(BM_EmptyCommandFromScript);
