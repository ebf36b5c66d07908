// Fuzz target of the path renderer: a well-formed command stream from the
// input (its font handles cleared) is drawn by RenderPath into a 64 x 48
// display under the fill, form style, line width, colour, matrix and
// output the first four bytes pick: straight onto the picture, as images,
// as a layer, or as a layer's border. Paths too large for a small picture
// are measured and left.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "draw/draw.h"
#include "draw/graphicslib.h"
#include "imaging/bitmap.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/objectoptions.h"
#include "platform/null/null_backend.h"
#include "platform/platform_ops.h"
#include "vector/path.h"
#include "vector/pathrender.h"
#include "vector/vectorlib.h"
#include "vm/vm.h"
#include "pixelsfuzz.h"

namespace {

struct World {
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    World() {
        SetRuntimeTag(kTagQuiet, 1);
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        InstallVmHost();
        L = VmOpen();
        for (int (*init)(ScriptState*) : {InitDisplayLibrary, InitGraphicsLibrary, InitBrushLibrary,
                                          InitLayersLibrary, InitBGPicLibrary, InitDrawLibrary, InitVectorLibrary}) {
            VmPushValue(L, kGlobalsIndex);
            init(L);
            VmSetTop(L, 0);
        }
        SetPicturesPending(false);
        VmPushNumber(L, 1);
        VmPushNewTable(L);
        SetTableFieldInt(L, "width", 64);
        SetTableFieldInt(L, "height", 48);
        VmPushString(L, "createdisplay");
        VmGetTableAt(L, kGlobalsIndex);
        VmInsert(L, -3);
        VmPCall(L, 2, 0, 0);
        VmSetEndFlag(L, 0);
        VmSetTop(L, 0);
        StartDisplays(L);
        display = GetCurrentDisplay();
        *GetDrawState() = DefaultDrawState();
    }
    ~World() {
        *GetDrawState() = DefaultDrawState();
        FreeVectorLibrary(L);
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        FreeDrawLibrary(L);
        FreeLayersLibrary(L);
        FreeAllClipRegions(L);
        VmClose(L);
    }
};

// Sizes a 64 x 48 picture has any use for, with room for a turn: the fill
// and the widest stroke measured (a stroke too far out to make measures
// nothing and draws nothing).
bool Small(const qbPathRequest& r) {
    const int32_t width = std::max(r.style.draw.lineWidth, 2 * r.style.draw.edgeSize) + 1;
    for (int filled : {1, 0}) {
        double x1, y1, x2, y2;
        const bool measured = CallGetPathExtents(nullptr, r.commands, r.style, filled, filled ? 1 : width, nullptr, &x1,
                                                 &y1, &x2, &y2, 0, 0);
        FuzzNoteValue(measured);
        if (!measured) continue;
        for (double v : {x1, y1, x2, y2}) FuzzNoteNumber(v);
        if (std::fabs(x1) >= 4096 || std::fabs(y1) >= 4096 || x2 - x1 >= 512 || y2 - y1 >= 512) return false;
    }
    return true;
}

void NoteImages(const qbPathImages& images) {
    for (int32_t v : {images.x, images.y, images.width, images.height}) FuzzNoteValue(v);
    FuzzNotePixels(images.bitmap, false);
    FuzzNoteAlpha(images.alpha);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t fill = data[0], form = data[1], width = data[2], output = data[3];
    const int64_t length = CheckPathStream(data + 4, size - 4);
    if (length < 0) return 0;
    std::vector<uint8_t> stream(data + 4, data + 4 + length + 4);
    for (uint8_t* p = stream.data(); size_t n = PathCommandSize(p); p += n)
        if (ReadPathInt(p) == QB_PATH_TEXT) WritePathPointer(p + 4, nullptr);

    World world;
    ScriptState* L = world.L;
    if (!world.display) return 0;
    qbDrawState st = DefaultDrawState();
    st.fillStyle = fill & 3;
    st.formStyle = form & (kFormAntialias | kFormShadow | kFormEdge);
    st.lineWidth = 1 + (width & 15);
    st.edgeSize = 1 + (width >> 4);
    st.shadowDirection = fill >> 5;
    st.edgeColour = (form & 0x80) ? 0x80FF00FFu : 0x0000FFu;
    ClampDrawState(&st);

    qbPathRequest r;
    r.commands = stream.data();
    r.capacity = static_cast<int32_t>(stream.size());
    r.style = SnapshotPathStyle(st);
    r.colour = (output & 0x40) ? 0x40FF8800u : 0xFF8800u;
    if (!Small(r)) return 0;

    qbTransformOptions t;
    if (output & 0x10) {
        const double a = (form >> 3) * 0.3;
        t.matrix[0] = std::cos(a);
        t.matrix[1] = -std::sin(a);
        t.matrix[2] = std::sin(a);
        t.matrix[3] = std::cos(a);
    }
    t.anchorx = (output & 0x20) ? 0.5 : 0;
    qbLayerOptions l;
    const int32_t x = (output & 0x80) ? -100000 : static_cast<int8_t>(fill) / 4;
    switch (output & 3) {
        case 0: FuzzNoteValue(RenderPath(L, nullptr, nullptr, x, 7, &r, &t, &l, 0, nullptr, 0)); break;
        case 1: {
            qbPathImages images;
            FuzzNoteValue(RenderPath(L, nullptr, nullptr, x, 7, &r, &t, &l, 0, &images, 0));
            NoteImages(images);
            FreeBitmap(images.bitmap);
            FreeAlphaChannel(images.alpha);
            break;
        }
        case 2:
            EnableDisplayLayers(world.display);
            FuzzNoteValue(RenderPath(L, nullptr, nullptr, x, 7, &r, &t, &l, 0, nullptr, 0));
            FuzzNoteValue(world.display->bgpic ? CountLayers(world.display->bgpic) : -1);
            break;
        default: {
            qbPathImages images;
            FuzzNoteValue(RenderPathLayerBorder(L, t, r, 0xFFFFFF, 1 + (output >> 2 & 3), 1.0, 1.0, &images));
            NoteImages(images);
            FreeBitmap(images.bitmap);
            FreeAlphaChannel(images.alpha);
            break;
        }
    }
    FuzzNoteDisplay(world.display);
    return 0;
}
