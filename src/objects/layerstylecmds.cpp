// GetLayerStyle, and the layer commands that are one- or two-key style
// tables handed to SetLayerStyleCore.
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "objects/layerfilters.h"
#include "objects/layers.h"
#include "objects/layerstyle.h"
#include "objects/shapehooks.h"
#include "objects/texthooks.h"
#include "vm/vm.h"

namespace {

// The matrix as the script reads it: the identity unless "transform" set one.
void PushMatrix(ScriptState* L, const qbTransformOptions& t) {
    VmPushString(L, "transform");
    VmPushNewTable(L);
    for (int i = 0; i < 4; ++i) {
        VmPushNumber(L, t.matrixset ? t.transform[i] : (i == 0 || i == 3 ? 1.0 : 0.0));
        VmRawSetIndex(L, -2, i);
    }
    VmSetTableAt(L, -3);
}

void PushFilters(ScriptState* L, const qbFilterSet& filters) {
    VmPushString(L, "filters");
    VmPushNewTable(L);
    int n = 0;
    for (int slot = 0; slot < kFilterSlots; ++slot) {
        const qbFilterSlot& s = filters.slot[slot];
        if (!s.enabled) continue;
        VmPushNewTable(L);
        SetTableFieldString(L, "name", LayerFilterName(slot));
        SetTableFieldInt(L, "priority", s.priority);
        VmPushString(L, "args");
        VmPushNewTable(L);
        int ints = 0, floats = 0;
        for (int k = 0; LayerFilterArgKind(slot, k) != 0; ++k) {
            if (LayerFilterArgKind(slot, k) == 3) VmPushNumber(L, s.floats[floats++]);
            else VmPushNumber(L, s.ints[ints++]);
            VmRawSetIndex(L, -2, k);
        }
        VmSetTableAt(L, -3);
        VmRawSetIndex(L, -2, n++);
    }
    VmSetTableAt(L, -3);
}

int32_t RegionID(const qbClipRegion* region) {
    return region ? static_cast<const qbClipRegionObject*>(region)->id : -1;
}

void PushStyle(ScriptState* L, const qbBGPic* bgpic, const qbLayer& layer) {
    const qbLayerState& base = *layer.basestate;
    const qbTransformOptions& t = layer.transform;
    VmPushNewTable(L);
    // The row of brush, brush-part and BGPic-part layers, or of anim
    // layers, whose frame index is kept where the others keep the part.
    SetTableFieldObjectID(L, "id", layer.id);
    if (layer.type == kLayerAnim) {
        SetTableFieldInt(L, "frame", base.srcx + 1);
    } else {
        SetTableFieldInt(L, "partx", base.srcx);
        SetTableFieldInt(L, "party", base.srcy);
        SetTableFieldInt(L, "partwidth", base.width);
        SetTableFieldInt(L, "partheight", base.height);
    }

    SetTableFieldInt(L, "type", layer.type);
    SetTableFieldInt(L, "x", base.x);
    SetTableFieldInt(L, "y", base.y);
    SetTableFieldInt(L, "width", t.width ? t.width : base.width);
    SetTableFieldInt(L, "height", t.height ? t.height : base.height);
    SetTableFieldFloat(L, "rotate", t.rotate);
    SetTableFieldFloat(L, "scalex", t.scalex);
    SetTableFieldFloat(L, "scaley", t.scaley);
    SetTableFieldFloat(L, "anchorx", layer.anchorx);
    SetTableFieldFloat(L, "anchory", layer.anchory);
    SetTableFieldInt(L, "smoothscale", t.smoothscale);
    PushMatrix(L, t);
    SetTableFieldInt(L, "transparency", layer.transparency);
    const qbFilterSlot& tint = layer.filters.slot[kFilterTint];
    SetTableFieldInt(L, "tint", tint.enabled ? tint.ints[1] : 0);
    SetTableFieldUInt(L, "tintcolor", static_cast<uint32_t>(tint.ints[0]));
    SetTableFieldInt(L, "hidden", layer.hidden);
    SetTableFieldInt(L, "clipregion", RegionID(base.clipregion));
    SetTableFieldInt(L, "shadow", layer.shadow.shadow);
    if (layer.shadow.shadow) {
        SetTableFieldUInt(L, "shadowcolor", layer.shadow.colour);
        SetTableFieldInt(L, "shadowdir", layer.shadow.dir);
        SetTableFieldInt(L, "shadowsize", layer.shadow.size);
        SetTableFieldFloat(L, "shadowradius", layer.shadow.radius);
        SetTableFieldFloat(L, "shadowsigma", layer.shadow.sigma);
    }
    SetTableFieldInt(L, "border", layer.border.border);
    for (const char* key : {"bordercolor", "edgecolor"}) SetTableFieldUInt(L, key, layer.border.colour);
    for (const char* key : {"bordersize", "edgesize", "outlinethickness"}) SetTableFieldInt(L, key, layer.border.size);
    PushFilters(L, layer.filters);
    SetTableFieldString(L, "group", layer.groupname.c_str());
    SetTableFieldString(L, "name", layer.name.c_str());
    SetTableFieldInt(L, "z", IndexOfLayer(bgpic, &layer));
    if (const auto push = TextLayerHooks().pushStyle) push(L, layer);
    if (const qbShapeLayerHooks* drawn = DrawnLayerHooks(layer.type); drawn && drawn->pushStyle)
        drawn->pushStyle(L, layer);
}

// Calls SetLayerStyleCore with the command's layer argument and a table
// that fill builds on the stack top.
template <class Fill>
int StyleCommand(ScriptState* L, Fill fill) {
    const int first = VmGetTop(L) + 1;
    VmPushValue(L, 1);
    VmPushNewTable(L);
    fill();
    return SetLayerStyleCore(L, first, 2, false);
}

// Copies argument arg into the table on the stack top under key.
void CopyArg(ScriptState* L, int arg, const char* key) {
    VmPushString(L, key);
    VmPushValue(L, arg);
    VmSetTableAt(L, -3);
}

// The optional smoothing argument, when the script gave one among its
// argc arguments.
void CopySmooth(ScriptState* L, int arg, int argc) {
    if (argc >= arg && VmType(L, arg) != kTypeNil) CopyArg(L, arg, "smoothscale");
}

}  // namespace

int cmdSetLayerStyle(ScriptState* L) {
    CheckArgCount(L, 2, 0, 0, 0);
    return SetLayerStyleCore(L, 1, VmGetTop(L), false);
}

int cmdGetLayerStyle(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    // While drawing goes into a brush, mask or alpha channel, the display's
    // own picture holds the layers.
    const int32_t output = d->output.type;
    const bool own = output == kOutputBrush || output == kOutputAnim || output == kOutputMask ||
                     output == kOutputAlphaChannel;
    qbBGPic* bgpic = own ? d->bgpic : GetCurrentBGPic();
    // A position or a layer name; groups are not read.
    int32_t position = 0;
    if (int err = GetLayerPositionOrName(L, 1, bgpic, &position)) return err;
    const qbLayer* layer = GetLayerByIndex(bgpic, position);
    if (!layer) return ERR_LAYERRANGE;
    PushStyle(L, bgpic, *layer);
    return 1;
}

int cmdSetLayerTransparency(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    return StyleCommand(L, [&] { CopyArg(L, 2, "transparency"); });
}

int cmdSetLayerTint(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    return StyleCommand(L, [&] {
        CopyArg(L, 2, "tintcolor");
        CopyArg(L, 3, "tint");
    });
}

int cmdSetLayerFilter(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    if (VmType(L, 2) == kTypeTable) return StyleCommand(L, [&] { CopyArg(L, 2, "filters"); });
    if (VmType(L, 2) != kTypeNumber || VmToNumber(L, 2) != 0) return ERR_WRONGUSAGE;
    return StyleCommand(L, [&] { SetTableFieldInt(L, "clearfilters", 1); });
}

int cmdSetLayerAnchor(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    return StyleCommand(L, [&] {
        CopyArg(L, 2, "anchorx");
        CopyArg(L, 3, "anchory");
    });
}

int cmdTransformLayer(ScriptState* L) {
    CheckArgCount(L, 5, 6, 0, 0);
    const int argc = VmGetTop(L);
    return StyleCommand(L, [&] {
        VmPushString(L, "transform");
        VmPushNewTable(L);
        for (int i = 0; i < 4; ++i) {
            VmPushValue(L, 2 + i);
            VmRawSetIndex(L, -2, i);
        }
        VmSetTableAt(L, -3);
        CopySmooth(L, 6, argc);
    });
}

int cmdRotateLayer(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const int argc = VmGetTop(L);
    return StyleCommand(L, [&] {
        CopyArg(L, 2, "rotate");
        CopySmooth(L, 3, argc);
    });
}

int cmdScaleLayer(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const int argc = VmGetTop(L);
    return StyleCommand(L, [&] {
        CopyArg(L, 2, "width");
        CopyArg(L, 3, "height");
        CopySmooth(L, 4, argc);
    });
}
