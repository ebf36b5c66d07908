// A VM with the graphics libraries, display 1 and brush 1, for benches that
// call script commands the way a script does.
#pragma once

#include <cctype>
#include <cstdlib>
#include <initializer_list>
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
#include "platform/platform_ops.h"
#include "vm/vm.h"

struct BenchWorldOptions {
    int32_t width = 64, height = 64;  // display 1
    int32_t brushWidth = 32, brushHeight = 16;
    // The display's window is SDL's (its dummy driver), so that its
    // drawing is the backend's own.
    bool onSdl = false;
    // Further libraries, registered into the globals on the stack top.
    void (*libraries)(ScriptState* L) = nullptr;
};

struct BenchWorld {
    using Options = BenchWorldOptions;
    explicit BenchWorld(const Options& o = Options()) {
        if (o.onSdl) setenv("SDL_VIDEODRIVER", "dummy", 0);
        SetPlatformBackend(o.onSdl ? &LinuxPlatformOps() : &NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitGraphicsLibrary(L);
        if (o.libraries) o.libraries(L);
        VmSetTop(L, 0);
        qbDisplayOptions d;
        d.width = o.width;
        d.height = o.height;
        d.flags = kDisplayActivate;
        CreateDisplay(L, NewObjectID{1, 0}, &d, &display);
        StartDisplays(L);
        BitmapPtr bitmap(AllocBitmap(o.brushWidth, o.brushHeight, 0, nullptr));
        qbBrush* b = nullptr;
        AllocBrushRecord(NewObjectID{1, 0}, kBrushPixels, o.brushWidth, o.brushHeight, 32, 0, nullptr,
                         bitmap.release(), -1, nullptr, nullptr, ObjectID{}, &b);
    }
    ~BenchWorld() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        FreeAllBrushes(L);
        VmClose(L);
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;
    // The command's error; its result stays until the next call.
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
