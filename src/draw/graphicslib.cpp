// The "graphics" library's tables, its opening and its runtime tags.
// GetAttribute joins the command table with the attribute queries, in the
// table's order.
#include "draw/graphicslib.h"

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/objecthooks.h"
#include "display/output.h"
#include "display/pointers.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "draw/asyncdraw.h"
#include "draw/attributes.h"
#include "draw/graphicsobjects.h"
#include "objects/objectoptions.h"

namespace {

constexpr double kNoColour = 4294967295.0;

// clang-format off
const ScriptConstant kGraphicsConstants[] = {
    {"CENTER", nullptr, kPositionCenter}, {"LEFT", nullptr, kPositionLeft}, {"RIGHT", nullptr, kPositionRight},
    {"TOP", nullptr, kPositionTop}, {"BOTTOM", nullptr, kPositionBottom}, {"LEFTOUT", nullptr, kPositionLeftOut},
    {"RIGHTOUT", nullptr, kPositionRightOut}, {"TOPOUT", nullptr, kPositionTopOut},
    {"BOTTOMOUT", nullptr, kPositionBottomOut}, {"BRUSH", nullptr, 3}, {"TEXTOBJECT", nullptr, 8},
    {"ATTRWIDTH", nullptr, 0}, {"ATTRHEIGHT", nullptr, 1}, {"ATTRMAXWIDTH", nullptr, 2},
    {"ATTRMAXHEIGHT", nullptr, 3}, {"DISPLAY", nullptr, 21}, {"BGPIC", nullptr, 1}, {"ANIM", nullptr, 4},
    {"BRUSHPART", nullptr, 12}, {"BGPICPART", nullptr, 13}, {"PRINT", nullptr, 11}, {"TEXTOUT", nullptr, 9},
    {"ATTRBGPIC", nullptr, 4}, {"ATTRTRANSPARENTCOLOR", nullptr, 5}, {"LAYER", nullptr, 22},
    {"ATTRLAYERS", nullptr, 6}, {"HIDEBRUSH", nullptr, 23}, {"INSERTBRUSH", nullptr, 24},
    {"HIDELAYER", nullptr, 25}, {"UNDO", nullptr, 10}, {"REMOVELAYER", nullptr, 26},
    {"NOTRANSPARENCY", nullptr, kNoColour}, {"ATTRXPOS", nullptr, 7}, {"ATTRYPOS", nullptr, 8},
    {"ATTRTYPE", nullptr, 9}, {"ATTRVISIBLE", nullptr, 10}, {"USELAYERPOSITION", nullptr, 100000},
    {"NORMALSPEED", nullptr, -1}, {"FASTSPEED", nullptr, -2}, {"SLOWSPEED", nullptr, -3},
    {"KEEPASPRAT", nullptr, 100000}, {"LINEAR", nullptr, 2}, {"ATTRNUMFRAMES", nullptr, 11},
    {"ATTRCURFRAME", nullptr, 12}, {"NEXTFRAME", nullptr, 29}, {"SNAPWINDOW", nullptr, 0},
    {"SNAPDISPLAY", nullptr, 1}, {"SNAPDESKTOP", nullptr, 2}, {"IMGFMT_BMP", nullptr, 0},
    {"SHAPE", nullptr, 28}, {"NONE", nullptr, -1}, {"ATTRLAYERID", nullptr, 13}, {"ATTRDURATION", nullptr, 14},
    {"ATTRPITCH", nullptr, 15}, {"SPRITE", nullptr, 32}, {"ATTRHASMASK", nullptr, 16},
    {"ATTRHASALPHA", nullptr, 17}, {"ATTRPOSITION", nullptr, 18}, {"ATTRFORMAT", nullptr, 19},
    {"ATTRBITRATE", nullptr, 20}, {"ATTRCURSORX", nullptr, 21}, {"ATTRCURSORY", nullptr, 22},
    {"IMGFMT_PNG", nullptr, 1}, {"NEXTFRAME2", nullptr, 34}, {"ATTRONSCREEN", nullptr, 23},
    {"ATTRBORDERLEFT", nullptr, 24}, {"ATTRBORDERTOP", nullptr, 25}, {"ATTRBORDERRIGHT", nullptr, 26},
    {"ATTRBORDERBOTTOM", nullptr, 27}, {"ATTRHOSTWIDTH", nullptr, 28}, {"ATTRHOSTHEIGHT", nullptr, 29},
    {"CLIPREGION", nullptr, 35}, {"ATTRFONTASCENDER", nullptr, 30}, {"ATTRFONTDESCENDER", nullptr, 31},
    {"ATTRFONTNAME", nullptr, 32}, {"ATTRFONTSIZE", nullptr, 33}, {"ATTRFONTSCALABLE", nullptr, 34},
    {"ATTRFONTAA", nullptr, 35}, {"ATTRTEXT", nullptr, 36}, {"IMGFMT_JPEG", nullptr, 2}, {"POINTER", nullptr, 36},
    {"STDPTR_SYSTEM", nullptr, 0}, {"STDPTR_BUSY", nullptr, 1}, {"STDPTR_CUSTOM", nullptr, 2},
    {"ASYNCDRAW", nullptr, 37}, {"ADF_FX", nullptr, 0}, {"ADF_MOVEOBJECT", nullptr, 1}, {"ADF_ANIM", nullptr, 2},
    {"ATTRFRAMEDELAY", nullptr, 37}, {"DEFAULTSPEED", nullptr, -4}, {"ANMFMT_GIF", nullptr, 0},
    {"IMGFMT_GIF", nullptr, 3}, {"ANMFMT_MJPEG", nullptr, 1}, {"ATTRPOINTER", nullptr, 38},
    {"ATTRCLIPREGION", nullptr, 39}, {"ATTRSTATE", nullptr, 40}, {"ATTRACTIVE", nullptr, 41},
    {"ATTRMODE", nullptr, 42}, {"ATTRSCALEMODE", nullptr, 43}, {"ATTRSCALEWIDTH", nullptr, 44},
    {"ATTRSCALEHEIGHT", nullptr, 45}, {"IMGFMT_ILBM", nullptr, 4}, {"ATTRBORDERLESS", nullptr, 46},
    {"ATTRFIXED", nullptr, 47}, {"ATTRSIZEABLE", nullptr, 48}, {"ATTRNOHIDE", nullptr, 49},
    {"ATTRNOMODESWITCH", nullptr, 50}, {"ATTRTITLE", nullptr, 51}, {"ATTRMARGINLEFT", nullptr, 52},
    {"ATTRMARGINRIGHT", nullptr, 53}, {"ATTROUTPUTDEVICE", nullptr, 54}, {"ATTRDOUBLEBUFFER", nullptr, 55},
    {"DOUBLEBUFFER", nullptr, 38}, {"MASK", nullptr, 28}, {"ALPHACHANNEL", nullptr, 30},
    {"ATTRHOSTDEPTH", nullptr, 56}, {"MEMORY", nullptr, 39}, {"ATTRSIZE", nullptr, 57},
    {"EVENTHANDLER", nullptr, 40}, {"ATTRFUNCTION", nullptr, 58}, {"ATTRUSERDATA", nullptr, 59},
    {"INTERVAL", nullptr, 41}, {"TIMEOUT", nullptr, 42}, {"FONT", nullptr, 43}, {"ATTRCOUNT", nullptr, 60},
    {"FILE", nullptr, 44}, {"DIRECTORY", nullptr, 45}, {"ATTRNOCLOSE", nullptr, 61}, {"ATTRGROUP", nullptr, 62},
    {"ATTRMASKMODE", nullptr, 63}, {"ATTRALPHAINTENSITY", nullptr, 64}, {"BRUSH_VS_BOX", nullptr, 46},
    {"LAYER_VS_BOX", nullptr, 47}, {"SPRITE_VS_BOX", nullptr, 48}, {"VECTORPATH", nullptr, 49},
    {"ATTRRAWXPOS", nullptr, 65}, {"ATTRRAWYPOS", nullptr, 66}, {"ATTRRAWWIDTH", nullptr, 67},
    {"ATTRRAWHEIGHT", nullptr, 68}, {"IMAGETYPE_RASTER", nullptr, 0}, {"IMAGETYPE_VECTOR", nullptr, 1},
    {"RADIAL", nullptr, 3}, {"CONICAL", nullptr, 4}, {"VIDEO", nullptr, 50}, {"NOCOLOR", nullptr, kNoColour},
    {"ATTRLAYERSON", nullptr, 69}, {"ATTRORIENTATION", nullptr, 70}, {"ATTRKEYBOARD", nullptr, 71},
    {"ATTRCANSEEK", nullptr, 72}, {"MOVELIST", nullptr, 51}, {"ANIMSTREAM", nullptr, 52}, {"TIMER", nullptr, 53},
    {"CLIENT", nullptr, 54}, {"SERVER", nullptr, 55}, {"UDPOBJECT", nullptr, 56}, {"ATTRHARDWARE", nullptr, 73},
    {"ATTRZPOS", nullptr, 74}, {"ATTRDRIVER", nullptr, 75}, {"VIDDRV_OS", nullptr, 0},
    {"VIDDRV_QUENBROOK", nullptr, 1}, {"ATTRPUBSCREEN", nullptr, 76}, {"ATTRDENSITY", nullptr, 77},
    {"ATTRXDPI", nullptr, 78}, {"ATTRYDPI", nullptr, 79}, {"ATTRNUMSUBSONGS", nullptr, 80},
    {"ATTRCURSUBSONG", nullptr, 81}, {"ATTRID", nullptr, 82}, {"ATTRPLAYING", nullptr, 83},
    {"ATTRPAUSED", nullptr, 84}, {"ATTRDISPLAY", nullptr, 85}, {"ATTRMONITOR", nullptr, 86},
    {"ATTRADAPTER", nullptr, 87}, {"MENU", nullptr, 57}, {"ATTRMENU", nullptr, 88},
    {"ATTRHOSTMONITORS", nullptr, 89}, {"ATTRXSERVER", nullptr, 90}, {"ATTRLOADER", nullptr, 91},
    {nullptr, nullptr, 0},
};
// clang-format on

const ScriptCommand kGraphicsCommands[] = {
    {"Red", cmdRed},
    {"Green", cmdGreen},
    {"Blue", cmdBlue},
    {"RGB", cmdRGB},
    {"ARGB", cmdARGB},
    {"MovePointer", cmdMovePointer},
    {"HidePointer", cmdHidePointer},
    {"SetPointer", cmdSetPointer},
    {"ShowPointer", cmdShowPointer},
    {"GetAttribute", cmdGetAttribute},
    {"GetPen", cmdGetPen},
    {"VWait", VWait},
    {"SetFPSLimit", cmdSetFPSLimit},
    {"GetFPSLimit", cmdGetFPSLimit},
    {"IsPicture", cmdIsPicture},
    {"GetRealColor", cmdGetRealColor},
    {"SaveSnapshot", cmdSaveSnapshot},
    {"MixRGB", cmdMixRGB},
    {"CreateClipRegion", cmdCreateClipRegion},
    {"SetClipRegion", cmdSetClipRegion},
    {"FreeClipRegion", cmdFreeClipRegion},
    {"CreatePointer", cmdCreatePointer},
    {"FreePointer", cmdFreePointer},
    {"AsyncDrawFrame", cmdAsyncDrawFrame},
    {"CancelAsyncDraw", cmdCancelAsyncDraw},
    {"FinishAsyncDraw", cmdFinishAsyncDraw},
    {"DumpVideoTime", cmdDumpVideoTime},
    {"GetRandomColor", cmdGetRandomColor},
    {"SetDrawTagsDefault", cmdSetDrawTagsDefault},
    {"BeginRefresh", cmdBeginRefresh},
    {"EndRefresh", cmdEndRefresh},
    {"Intersection", cmdIntersection},
    {nullptr, nullptr},
};

// The blits read these through the runtime-tag hooks.
struct GraphicsTags {
    int maskMode = 0;
    int alphaIntensity = -1;
};

GraphicsTags& Tags() {
    static GraphicsTags tags;
    return tags;
}

int* TagSlot(int tag) {
    if (tag == kTagMaskMode) return &Tags().maskMode;
    if (tag == kTagAlphaIntensity) return &Tags().alphaIntensity;
    return nullptr;
}

// Other tags are not ours: 0 lets the next hook take them.
int SetGraphicsTag(void*, int tag, intptr_t value) {
    int* slot = TagSlot(tag);
    if (!slot) return 0;
    *slot = static_cast<int>(value);
    return 1;
}

int GetGraphicsTag(void*, int tag, intptr_t address) {
    int* slot = TagSlot(tag);
    if (!slot || !address) return 0;
    *reinterpret_cast<int*>(address) = *slot;
    return 1;
}

// Drawing without a display borrows this record for one call.
std::unique_ptr<qbDisplay>& SpareOutput() {
    static std::unique_ptr<qbDisplay> spare;
    return spare;
}

}  // namespace

const ScriptCommand* GraphicsCommands() { return kGraphicsCommands; }
const ScriptConstant* GraphicsConstants() { return kGraphicsConstants; }

int InitGraphicsLibrary(ScriptState* L) {
    static constexpr qbAsyncDrawHooks kAsyncDrawHooks{
        AnyAsyncDrawOn, FreeAllAsyncDraws, IsObjectUsedByAsyncDraw,
        [](void* oldLayer, void* newLayer) {
            qbAsyncLayerReplacement change{oldLayer, newLayer};
            return NotifyAsyncDraws(kAsyncQueryLayerReplaced, &change);
        },
        [](void* layer) { NotifyAsyncDraws(kAsyncQueryImageChanged, layer); }, FreeAsyncDrawsOn,
        CheckAsyncDrawsBusy};
    SetAsyncDrawHooks(&kAsyncDrawHooks);
    std::unique_ptr<qbDisplay> spare;
    try {
        spare = std::make_unique<qbDisplay>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    spare->output.type = kOutputBrush;
    SetSpareDisplay(spare.get());
    SpareOutput() = std::move(spare);
    Tags() = GraphicsTags{};
    InitDisplayObjectDefaults();
    InstallClipRegionHooks();
    InstallBuiltInAttributeRows();
    if (int err = AddSetTagHook(&SetGraphicsTag)) return err;
    if (int err = AddGetTagHook(&GetGraphicsTag)) return err;
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kGraphicsCommands, 0);
    VmRegisterConstants(L, kGraphicsConstants, 0);
    if (int err = RegisterCommandTable(kGraphicsCommands, "graphics", kGraphicsConstants)) return err;
    if (int err = RegisterObjectList(ClipRegionListHead())) return err;
    if (int err = RegisterObjectList(PointerListHead())) return err;
    return RegisterObjectList(AsyncDrawListHead());
}
