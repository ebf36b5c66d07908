// The "layers" library: its opening and closing, its command table, and
// the commands of the stack's switch (Undo, EnableLayers, DisableLayers,
// DumpLayers). The other layer commands join as they are built.
#include <cinttypes>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layerbuttons.h"
#include "objects/layercmds.h"
#include "objects/layerframes.h"
#include "objects/layerdraw.h"
#include "objects/layers.h"
#include "objects/videohooks.h"
#include "objects/layerscaling.h"
#include "objects/layersources.h"
#include "objects/layerstyle.h"
#include "objects/movequeue.h"
#include "vm/vm.h"

namespace {

// Names of the object types, by number, as DumpLayers prints them.
const char* const kTypeNames[58] = {
    "",           "BGPIC",      "SAMPLE",     "BRUSH",      "ANIM",        "SNDMODULE",   "KEYDOWN",
    "NOOBJECT",   "TEXTOBJECT", "TEXTOUT",    "UNDO",       "PRINT",       "BRUSHPART",   "BGPICPART",
    "BOX",        "CIRCLE",     "ELLIPSE",    "LINE",       "PLOT",        "MAINWINDOW",  "ANIMDISK",
    "DISPLAY",    "LAYER",      "HIDEBRUSH",  "INSERTBRUSH", "HIDELAYER",  "REMOVELAYER", "POLYGON",
    "MASK",       "NEXTFRAME",  "ALPHACHANNEL", "ARC",      "SPRITE",      "MUSIC",       "NEXTFRAME2",
    "CLIPREGION", "POINTER",    "ASYNCDRAW",  "DOUBLEBUFFER", "MEMORY",  "EVENTHANDLER", "INTERVAL",
    "TIMEOUT",    "FONT",       "FILE",       "DIRECTORY",  "X",           "X",           "X",
    "VECTORPATH", "VIDEO",      "MOVELIST",   "ANIMSTREAM", "TIMER",       "CLIENT",      "SERVER",
    "UDPOBJECT",  "MENU",
};

const char* TypeName(int32_t type) { return type >= 0 && type < 58 ? kTypeNames[type] : ""; }

int cmdUndo(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    const int32_t type = ClampToInt32(VmCheckNumber(L, 1));
    ObjectID id;
    if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) id = GetObjectIDArg(L, 2);
    const int32_t level = ClampToInt32(VmOptNumber(L, 3, 1));
    const bool noRefresh = VmOptNumber(L, 4, 0) != 0;
    if (qbBGPic* p = GetCurrentBGPic()) p->layersDirty = 1;
    return UndoLayer(L, type, id, level, noRefresh);
}

int cmdEnableLayers(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    return EnableDisplayLayers(d);
}

int cmdDisableLayers(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (DisplayHasAsyncDraws(d)) return ERR_LAYERSWITCH;
    if (d->output.type != kObjectTypeDisplay) return ERR_LAYERSON;
    if (d->layerScale) return ERR_NODISLAYERS;
    if (const auto stop = VideoLayerHooks().stopDisplayLayers) stop(L, d);
    d->layersEnabled = 0;
    return 0;
}

int cmdDumpLayers(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const int32_t which = ClampToInt32(VmOptNumber(L, 1, 0));
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    const qbBGPic* p = GetCurrentBGPic();
    if (!p) return ERR_NOLAYERS;
    const int32_t count = CountLayers(p);
    ConsolePrintf("LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qbLayer): %d\nLayers: %d\n", p->id, p->handle,
                  static_cast<int>(sizeof(qbLayer)), count);
    for (int32_t i = 1; i <= count; ++i) {
        const qbLayer* l = GetLayerByIndex(p, i);
        const qbLayerState* s = which == 1 ? l->transformedstate : which == 2 ? l->shownstate : l->basestate;
        ConsolePrintf(
            "(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d (%d) - Visible: %d\n",
            i, TypeName(l->type), l->id.number, l->id.handle, l->name.c_str(), s->x, s->shownx, s->y, s->showny,
            s->width, s->shownwidth, s->height, s->shownheight, l->hidden ? 0 : 1);
    }
    return 0;
}

// In the order the library registers them.
const ScriptCommand kLayerCommands[] = {
    {"Undo", cmdUndo},
    {"EnableLayers", cmdEnableLayers},
    {"DisableLayers", cmdDisableLayers},
    {"SwapLayers", cmdSwapLayers},
    {"InsertLayer", cmdInsertLayer},
    {"ShowLayer", cmdShowLayer},
    {"HideLayer", cmdHideLayer},
    {"RemoveLayer", cmdRemoveLayer},
    {"SetLayerTransparency", cmdSetLayerTransparency},
    {"SetLayerLight", cmdSetLayerTint},
    {"SetLayerTint", cmdSetLayerTint},
    {"AddMove", cmdAddMove},
    {"ClearMove", cmdClearMove},
    {"DoMove", cmdDoMove},
    {"FreeLayers", cmdFreeLayers},
    {"NextFrame", cmdNextFrame},
    {"SetLayerName", cmdSetLayerName},
    {"Collision", cmdCollision},
    {"DumpLayers", cmdDumpLayers},
    {"ScaleLayer", cmdScaleLayer},
    {"RotateLayer", cmdRotateLayer},
    {"SetLayerStyle", cmdSetLayerStyle},
    {"GetLayerStyle", cmdGetLayerStyle},
    {"TransformLayer", cmdTransformLayer},
    {"SetLayerAnchor", cmdSetLayerAnchor},
    {"LayerExists", cmdLayerExists},
    {"SetLayerZPos", cmdSetLayerZPos},
    {"TranslateLayer", cmdTranslateLayer},
    {"SelectLayer", cmdSelectLayer},
    {"CreateLayer", cmdCreateLayer},
    {"ModifyLayerFrames", cmdModifyLayerFrames},
    {"GetLayerAtPos", cmdGetLayerAtPos},
    {"SetLayerShadow", cmdSetLayerShadow},
    {"SetLayerFilter", cmdSetLayerFilter},
    {"SetLayerBorder", cmdSetLayerBorder},
    {"LayerToFront", cmdLayerToFront},
    {"LayerToBack", cmdLayerToBack},
    {"PlayLayer", cmdPlayLayer},
    {"StopLayer", cmdStopLayer},
    {"PauseLayer", cmdPauseLayer},
    {"ResumeLayer", cmdResumeLayer},
    {"SeekLayer", cmdSeekLayer},
    {"SetLayerVolume", cmdSetLayerVolume},
    {nullptr, nullptr},
};

constexpr qbBGPicLayerHooks kBGPicLayerHooks{LayersShowObject, RelinkLayerSources, FreeBGPicLayers, CountLayers,
                                             RedrawLayers};

}  // namespace

int InitLayersLibrary(ScriptState* L) {
    SetLayerNameLookup([](const char* name) { return FindLayerByName(GetCurrentBGPic(), name); });
    SetBGPicLayerHooks(&kBGPicLayerHooks);
    InstallLayerScalingHooks();
    InstallLayerButtonHooks();
    VmRegisterCommands(L, nullptr, kLayerCommands, 0);
    if (int err = RegisterCommandTable(kLayerCommands, "layers")) return err;
    if (!InitDirtyRectList(LayersDirtyList())) return ERR_MEM;
    return 0;
}

void FreeLayersLibrary(ScriptState*) {
    FreeMoveQueues();
    qbDirtyRectList* list = LayersDirtyList();
    std::vector<qbDirtyRect>().swap(list->entries);
    list->Reset();
}
