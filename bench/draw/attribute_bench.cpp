// The guard against a slow attribute table: GetAttribute(#BRUSH, 1,
// #ATTRWIDTH) against GetPen(1), both called as script commands through the
// VM in the same run. Target: GetAttribute at most twice GetPen.

#include <benchmark/benchmark.h>

#include <cctype>
#include <string>

#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "draw/graphicslib.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "vm/vm.h"

namespace {

struct World {
    World() {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitGraphicsLibrary(L);
        VmSetTop(L, 0);
        qbDisplayOptions o;
        o.width = 64;
        o.height = 64;
        o.flags = kDisplayActivate;
        CreateDisplay(L, NewObjectID{1, 0}, &o, &display);
        StartDisplays(L);
        BitmapPtr bitmap(AllocBitmap(32, 16, 0, nullptr));
        qbBrush* b = nullptr;
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, 32, 16, 32, 0, nullptr, bitmap.release(), -1, nullptr,
                         nullptr, ObjectID{}, &b);
    }
    ~World() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        FreeAllBrushes(L);
        VmClose(L);
    }
    // The command's error; its results stay until the next call.
    int Call(const char* name, std::initializer_list<double> args) {
        VmSetTop(L, 0);
        std::string lower(name);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushString(L, lower.c_str());
        VmGetTableAt(L, kGlobalsIndex);
        for (double a : args) VmPushNumber(L, a);
        return VmPCall(L, static_cast<int>(args.size()), 1, 0);
    }
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
};

void BM_GetAttributeBrushWidth(benchmark::State& state) {
    World w;
    for (auto _ : state)
        if (w.Call("GetAttribute", {3, 1, 0}) || VmToNumber(w.L, -1) != 32) {
            state.SkipWithError("GetAttribute failed");
            break;
        }
}

void BM_GetPen(benchmark::State& state) {
    World w;
    for (auto _ : state)
        if (w.Call("GetPen", {1})) {
            state.SkipWithError("GetPen failed");
            break;
        }
}

}  // namespace

BENCHMARK(BM_GetAttributeBrushWidth)->Iterations(1000000);
BENCHMARK(BM_GetPen)->Iterations(1000000);
