// DoMove of a queue of 512 entries, each moving one of 512 brush layers of
// 32 x 32 by 3 pixels on a 1920 x 1080 picture, against RedrawLayers of
// the same merged rectangles plus their window refresh called directly, in
// the same run. The layers lie on a grid (no two rectangles merge, so the
// merge does its most comparisons for nothing) or scattered at random
// (many merge into larger boxes). Each run alternates two queues, one
// moving every layer 3 pixels right and one moving it back; the redraw
// alternates their merged rectangles likewise. Target: the queue, its
// passes and its merge add at most 25 % to the redraw.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/movequeue.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kSide = 32, kStep = 3;
constexpr int kLayers = 512;

struct Rect {
    int32_t x, y, width, height;
};

// Calls the command by its global name, as a script does.
int Call(ScriptState* L, const char* command, std::initializer_list<double> args) {
    std::string lower(command);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    VmPushString(L, lower.c_str());
    VmGetTableAt(L, kGlobalsIndex);
    for (double a : args) VmPushNumber(L, a);
    const int err = VmPCall(L, static_cast<int>(args.size()), 0, 0);
    VmSetEndFlag(L, 0);
    VmSetTop(L, 0);
    return err;
}

struct World {
    explicit World(bool scattered) {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitLayersLibrary(L);
        VmSetTop(L, 0);
        qbDisplayOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.flags = kDisplayActivate | kDisplayLayers;
        o.layers = true;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        StartDisplays(nullptr);
        display->layersEnabled = 1;
        BitmapPtr bitmap(AllocBitmap(kSide, kSide, 0, nullptr));
        for (int32_t y = 0; y < kSide; ++y)
            for (int32_t x = 0; x < kSide; ++x)
                WriteBitmapPixel(bitmap.get(), x, y, static_cast<uint32_t>(x * 0x070301 + y * 0x010507) & 0xFFFFFF,
                                 false);
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, kSide, kSide, kSide, 0, nullptr, bitmap.release(), -1,
                         nullptr, nullptr, ObjectID{}, &brush);
        uint32_t seed = 7;
        for (int i = 0; i < kLayers; ++i) {
            int32_t x = (i % 32) * 60, y = (i / 32) * 67;
            if (scattered) {
                seed = seed * 1664525u + 1013904223u;
                x = static_cast<int32_t>((seed >> 8) % (kWidth - kSide - kStep));
                seed = seed * 1664525u + 1013904223u;
                y = static_cast<int32_t>((seed >> 8) % (kHeight - kSide));
            }
            AddObjectLayer(L, kLayerBrush, ObjectID{1, nullptr}, 0, 0, x, y, kSide, kSide, nullptr, nullptr, nullptr,
                           -1, 0, nullptr);
            // Queue 1 moves the layer right, queue 2 back.
            ok = ok && Call(L, "AddMove", {1, 22, double(i + 1), double(x + kStep), double(y)}) == 0;
            ok = ok && Call(L, "AddMove", {2, 22, double(i + 1), double(x), double(y)}) == 0;
        }
        // The rectangles each queue's DoMove refreshes, as DoMove left them.
        for (int q = 1; q <= 2; ++q) {
            ok = ok && Call(L, "DoMove", {double(q)}) == 0;
            qbMoveQueue* queue = nullptr;
            FindMoveQueue(ObjectID{q, nullptr}, &queue);
            if (!queue) {
                ok = false;
                continue;
            }
            for (const qbMoveBox& b : MergeMoveRects(queue->entries))
                merged[q - 1].push_back({b.x1, b.y1, b.x2 - b.x1 + 1, b.y2 - b.y1 + 1});
        }
        ok = ok && CountLayers(display->bgpic) == kLayers;
    }
    ~World() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        FreeLayersLibrary(L);
        VmClose(L);
    }
    // What DoMove does after its passes and merge, for one rectangle.
    void Redraw(const Rect& r) {
        int32_t x = std::max(r.x, 0), y = std::max(r.y, 0);
        const int32_t w = std::min(r.x + r.width, kWidth) - x, h = std::min(r.y + r.height, kHeight) - y;
        if (w < 1 || h < 1) return;
        RedrawLayers(L, display, display->bgpic, display->backBuffer.get(), x, y, w, h, 0);
        RefreshDisplayRect(display->backBuffer.get(), x, y, display, x, y, w, h, kRefreshScaled);
    }
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    qbBrush* brush = nullptr;
    std::vector<Rect> merged[2];
    bool ok = true;
};

void RunDoMove(benchmark::State& state, bool scattered) {
    World world(scattered);
    if (!world.ok) {
        state.SkipWithError("the queues did not run");
        return;
    }
    int q = 1;
    for (auto _ : state) {
        if (Call(world.L, "DoMove", {double(q)}) != 0) state.SkipWithError("DoMove failed");
        q = 3 - q;
    }
    state.counters["rects"] = static_cast<double>(world.merged[0].size());
    state.SetItemsProcessed(state.iterations() * kLayers);
}

void RunRedraw(benchmark::State& state, bool scattered) {
    World world(scattered);
    if (!world.ok) {
        state.SkipWithError("the queues did not run");
        return;
    }
    int q = 0;
    for (auto _ : state) {
        for (const Rect& r : world.merged[q]) world.Redraw(r);
        q = 1 - q;
    }
    state.counters["rects"] = static_cast<double>(world.merged[0].size());
    state.SetItemsProcessed(state.iterations() * kLayers);
}

void BM_DoMoveGrid(benchmark::State& s) { RunDoMove(s, false); }
void BM_RedrawGrid(benchmark::State& s) { RunRedraw(s, false); }
void BM_DoMoveScattered(benchmark::State& s) { RunDoMove(s, true); }
void BM_RedrawScattered(benchmark::State& s) { RunRedraw(s, true); }

}  // namespace

BENCHMARK(BM_DoMoveGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoMoveScattered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawScattered)->Unit(benchmark::kMillisecond);
