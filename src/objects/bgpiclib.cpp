// The "bgpic" library: its command table, and the commands that show,
// scale, convert, copy and free BGPics.
#include "objects/bgpiclib.h"

#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displaylib.h"
#include "display/displaywindow.h"
#include "imaging/clonebitmap.h"
#include "imaging/imagehandle.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/displayobject.h"
#include "objects/selectcmds.h"

namespace {

// In the order the library registers them.
const ScriptCommand kBGPicCommands[] = {
    {"DisplayBGPic", cmdDisplayBGPic},
    {"DisplayBGPicPart", cmdDisplayBGPicPart},
    {"ScaleBGPic", cmdScaleBGPic},
    {"CreateGradientBGPic", cmdCreateGradientBGPic},
    {"CreateRainbowBGPic", cmdCreateGradientBGPic},
    {"CreateTexturedBGPic", cmdCreateTexturedBGPic},
    {"BrushToBGPic", cmdBrushToBGPic},
    {"BGPicToBrush", cmdBGPicToBrush},
    {"CreateBGPic", cmdCreateBGPic},
    {"FreeBGPic", cmdFreeBGPic},
    {"LoadBGPic", cmdLoadBGPic},
    {"SelectBGPic", cmdSelectBGPic},
    {"EndSelect", cmdEndSelect},
    {"CopyBGPic", cmdCopyBGPic},
    {nullptr, nullptr},
};

constexpr int32_t kPositionNotGiven = 99999;
constexpr int32_t kPositionKeep = 100000;

// {x, y} of the table at idx when it is the last argument.
void GetPositionTableArg(ScriptState* L, int idx, int32_t* x, int32_t* y) {
    *x = *y = kPositionNotGiven;
    if (VmGetTop(L) != idx || VmType(L, idx) != kTypeTable) return;
    GetTableFieldInt(L, idx, "x", x, nullptr);
    GetTableFieldInt(L, idx, "y", y, nullptr);
}

// A size argument: a number, or "n%" of the given size (above 100 allowed).
int SizeArg(ScriptState* L, int idx, int32_t of, int32_t* out) {
    int percent = 0;
    const double v = GetNumberOrPercentArg(L, idx, of, 1, &percent);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = ClampToInt32(v);
    return 0;
}

}  // namespace

int FinishNewBGPic(ScriptState* L, qbBGPic* made, NewObjectID id) {
    if (int err = AdoptObjectID(
            made, id, [L](ObjectID old) { return FreeBGPicCore(L, old, false); },
            [L](qbBGPic* record) { UnlinkAndFreeBGPic(L, record); }))
        return err;
    return NewObjectResult(L, *made, id);
}

int cmdDisplayBGPic(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t x = 0, y = 0;
    GetPositionTableArg(L, 2, &x, &y);
    qbBGPic* record = nullptr;
    if (int err = GetBGPic(L, id, &record, 0)) return err;
    if (IsVideoRecording() && (record->current.mask || record->current.alpha)) return ERR_VIDRECTRANS;
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    VmPushNewTable(L);
    SetTableFieldObjectID(L, "bgpic", id);
    // A coordinate not given leaves the display where it is.
    if (x != kPositionNotGiven && x != kPositionKeep) SetTableFieldInt(L, "x", x);
    if (y != kPositionNotGiven && y != kPositionKeep) SetTableFieldInt(L, "y", y);
    const int err = ApplyDisplayAttributes(L, VmGetTop(L), d, true);
    VmSetTop(L, -2);
    return err;
}

int cmdScaleBGPic(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    qbBGPic* record = nullptr;
    // A refused scale must not leave the layers on a copy made for nothing.
    if (int err = GetBGPic(L, id, &record, kBGPicModify | kBGPicNoCopy)) return err;
    if (IsBGPicShown(record)) return ERR_SCALEBGPIC;
    if (IsBGPicSelectedForOutput(IDOf(*record))) return ERR_MODIFYABGPIC;
    int32_t width = 0, height = 0;
    if (int err = SizeArg(L, 2, record->baseWidth, &width)) return err;
    if (int err = SizeArg(L, 3, record->baseHeight, &height)) return err;
    const bool smooth = GetFlagArg(L, 4, false);
    if (int err = GetBGPic(L, id, &record, kBGPicModify)) return err;
    return ScaleBGPicCore(L, record, width, height, smooth);
}

int cmdBrushToBGPic(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID brushId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, brushId, &brush, 0)) return err;
    if (brush->kind == kBrushVector && brush->transformed) return ERR_TFVBRUSHBGPIC;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(brush->bitmap, brush->mask, brush->alpha, 0, 0, brush->width, brush->height,
                                  &bitmap, &mask, &alpha))
        return err;
    const bool vector = brush->kind == kBrushVector;
    qbBGPic* made = nullptr;
    if (int err = AllocBGPicRecord(NewObjectID{0, 1}, vector ? 1 : 0, brush->width, brush->height, brush->width,
                                   vector ? brush->imageSource : nullptr, bitmap, nullptr, brush->transparentColour,
                                   mask, alpha, nullptr, &made)) {
        FreeBitmap(bitmap);
        FreeMask(mask);
        FreeAlphaChannel(alpha);
        return err;
    }
    if (made->source) RetainImageHandle(made->source);
    return FinishNewBGPic(L, made, id);
}

int cmdBGPicToBrush(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID bgpicId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    qbBGPic* record = nullptr;
    if (int err = GetBGPic(L, bgpicId, &record, 0)) return err;
    if (record->regenerate == 1 &&
        (record->baseWidth != record->initialWidth || record->baseHeight != record->initialHeight))
        return ERR_TFVBGPICBRUSH;
    const bool vector = record->regenerate == 1 && record->source;
    const qbImageTriple& b = record->base;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(b.bitmap, b.mask, b.alpha, 0, 0, record->baseWidth, record->baseHeight, &bitmap,
                                  &mask, &alpha))
        return err;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, vector ? kBrushVector : kBrushPixels, record->baseWidth,
                                   record->baseHeight, record->baseWidth, 0, vector ? record->source : nullptr,
                                   bitmap, record->keyColour, mask, alpha, ObjectID{}, &made)) {
        FreeBitmap(bitmap);
        FreeMask(mask);
        FreeAlphaChannel(alpha);
        return err;
    }
    if (made->imageSource) RetainImageHandle(made->imageSource);
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

int cmdFreeBGPic(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeBGPicCore(L, GetObjectIDArg(L, 1), true);
}

int cmdCopyBGPic(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    qbBGPic* source = nullptr;
    if (int err = GetBGPic(L, sourceId, &source, 0)) return err;
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    qbBGPic* made = nullptr;
    if (int err = CopyBGPicCore(L, source, NewObjectID{0, 1}, &made)) return err;
    return FinishNewBGPic(L, made, id);
}

int InitBGPicLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(BGPicListHead())) return err;
    VmRegisterCommands(L, nullptr, kBGPicCommands, 0);
    return RegisterCommandTable(kBGPicCommands, "bgpic");
}
