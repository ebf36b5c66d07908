// Layers made by command rather than by showing an object: InsertLayer,
// CreateLayer with an empty picture of its own, and the video-layer
// commands, which refuse every layer that is not a video.
#include <cstdint>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/brushes.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/layercmds.h"
#include "objects/layerframes.h"
#include "objects/layers.h"
#include "objects/texthooks.h"
#include "objects/videohooks.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kObjectTypeVideo = 50;

int InsertBrushLayer(ScriptState* L, int32_t pos, ObjectID id, int32_t x, int32_t y, uint32_t flags,
                     qbLayer** out) {
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(L, id, &b, 0)) return err;
    // A vector brush that was drawn transformed has no picture of its own
    // size for the layer to keep.
    if (b->kind == kBrushVector && b->transformed) return ERR_TFVBRUSH;
    x = ResolveSpecialX(x, b->width, 0, 0.0);
    y = ResolveSpecialY(y, b->height, 0, 0.0);
    return AddObjectLayer(L, kLayerBrush, IDOf(*b), 0, 0, x, y, b->width, b->height, nullptr, nullptr, nullptr, pos,
                          flags, out);
}

}  // namespace

int InsertLayerCore(ScriptState* L, int32_t pos, int32_t type, ObjectID id, int32_t x, int32_t y, bool noRefresh,
                    bool hidden, qbLayer** out) {
    if (out) *out = nullptr;
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    if (pos < 0) return ERR_INVINSERT;
    const int32_t count = CountLayers(bgpic);
    if (pos == 0 || pos > count + 1) pos = count + 1;
    // The caller shows the new layer; a layer below others must not be
    // drawn over them by the add itself.
    const uint32_t flags = kAddDisplayScale | kAddKeepRefresh | (hidden ? uint32_t{kAddHidden} : 0u);
    qbLayer* layer = nullptr;
    switch (type) {
    case kLayerBrush:
        if (int err = InsertBrushLayer(L, pos, id, x, y, flags, &layer)) return err;
        break;
    case kLayerTextObject: {
        const auto insert = TextLayerHooks().insertObjectLayer;
        if (!insert) return ERR_FINDTEXTOBJECT;
        if (int err = insert(L, id, x, y, pos, flags, &layer)) return err;
        break;
    }
    case kLayerAnim: {
        qbDisplayObjectCall call;
        call.type = kShowAnim;
        call.id = id;
        call.x = x;
        call.y = y;
        call.flags = kShowNeverDraw;
        call.insertPos = pos;
        call.addFlags = flags;
        call.outLayer = &layer;
        if (int err = DisplayObject(L, call)) return err;
        break;
    }
    case kObjectTypeVideo: {
        if (!RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
        const auto insert = VideoLayerHooks().insert;
        if (!insert) {
            if (id.handle) return ERR_FINDARRAY;
            SetErrorArgIndex(id.number);
            return ERR_FINDVIDEO;
        }
        if (int err = insert(L, id, x, y, pos, flags, &layer)) return err;
        break;
    }
    default: return ERR_WRONGUSAGE;
    }
    if (!layer || GetLayerByIndex(bgpic, pos) != layer) return ERR_LAYERRANGE;
    if (!hidden && !noRefresh) RefreshLayer(L, layer);
    if (out) *out = layer;
    return 0;
}

int GetLayerPositionArg(ScriptState* L, int idx, int32_t* position) {
    if (VmType(L, idx) == kTypeString) return FindNamedLayer(GetCurrentBGPic(), VmToCString(L, idx), position);
    *position = ClampToInt32(VmCheckNumber(L, idx));
    return 0;
}

int cmdInsertLayer(ScriptState* L) {
    CheckArgCount(L, 5, 6, 0, 0);
    if (VmType(L, 1) == kTypeString) {
        if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    }
    int32_t pos = 0;
    if (int err = GetLayerPositionArg(L, 1, &pos)) return err;
    const int32_t type = ClampToInt32(VmCheckNumber(L, 2));
    const ObjectID id = GetObjectIDArg(L, 3);
    const int32_t x = ClampToInt32(VmCheckNumber(L, 4));
    const int32_t y = ClampToInt32(VmCheckNumber(L, 5));
    const bool hidden = VmOptNumber(L, 6, 0) != 0;
    return InsertLayerCore(L, pos, type, id, x, y, false, hidden, nullptr);
}

int cmdCreateLayer(ScriptState* L) {
    CheckArgCount(L, 4, 5, 0, 0);
    const int32_t x = ClampToInt32(VmCheckNumber(L, 1));
    const int32_t y = ClampToInt32(VmCheckNumber(L, 2));
    const int32_t width = ClampToInt32(VmCheckNumber(L, 3));
    const int32_t height = ClampToInt32(VmCheckNumber(L, 4));
    const bool options = VmGetTop(L) >= 5 && VmType(L, 5) != kTypeNil;
    if (options && VmType(L, 5) != kTypeTable) return ERR_TABLEORNIL;
    bool withMask = false, withAlpha = false, clear = false;
    uint32_t colour = 0;
    int32_t frames = 0;
    if (options) {
        withMask = GetTableFieldFlag(L, 5, "mask");
        withAlpha = GetTableFieldFlag(L, 5, "alphachannel");
        clear = GetTableFieldFlag(L, 5, "clear");
        GetTableFieldUInt(L, 5, "color", &colour, nullptr);
        GetTableFieldInt(L, 5, "frames", &frames, nullptr);
    }
    if (frames < 0 || (withMask && withAlpha)) return ERR_WRONGUSAGE;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    // Layers of several frames are anim layers.
    if (frames > 0)
        return CreateAnimLayer(L, x, y, qbBlankFrames{width, height, frames, colour, withMask, withAlpha, clear},
                               options ? 5 : 0);
    qbBrush* brush = nullptr;
    if (int err = MakeFilledBrush(width, height, colour, withMask, withAlpha, clear, &brush)) return err;
    qbDisplayObjectCall call;
    call.type = kShowBrush;
    call.id = IDOf(*brush);
    call.x = x;
    call.y = y;
    call.optArg = options ? 5 : 0;
    const int err = DisplayObject(L, call);
    // The brush is the layer's alone: no script id reaches it, and it goes
    // with the last layer that shows it (at once, when none does).
    brush->detached = 1;
    PurgeDetachedBrushes(L);
    return err;
}

namespace {

// The video commands' common part: the arguments were read, the guard ran;
// only a video layer gets further, and its video does the rest.
int VideoLayerCommand(ScriptState* L, int32_t op, double argument = 0) {
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    const qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    const qbLayer* layer = GetLayerByIndex(bgpic, position);
    if (layer->type != kObjectTypeVideo) return ERR_BADLAYERTYPE;
    const auto command = VideoLayerHooks().command;
    if (!command) return ERR_FINDVIDEO;
    return command(L, layer->id, op, argument);
}

}  // namespace

int cmdPlayLayer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 6, 0);
    return VideoLayerCommand(L, kVideoLayerPlay);
}

int cmdStopLayer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 6, 0);
    return VideoLayerCommand(L, kVideoLayerStop);
}

int cmdPauseLayer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 6, 0);
    return VideoLayerCommand(L, kVideoLayerPause);
}

int cmdResumeLayer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 6, 0);
    return VideoLayerCommand(L, kVideoLayerResume);
}

int cmdSeekLayer(ScriptState* L) {
    CheckArgCount(L, 2, 2, 6, 0);
    return VideoLayerCommand(L, kVideoLayerSeek, VmCheckNumber(L, 2));
}

int cmdSetLayerVolume(ScriptState* L) {
    CheckArgCount(L, 2, 2, 6, 0);
    return VideoLayerCommand(L, kVideoLayerVolume, GetNumberOrPercentArg(L, 2, 64, 0, nullptr));
}
