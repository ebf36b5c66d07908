// Gradients and textures as BGPics or brushes. A BGPic keeps its fill so it
// can paint itself anew at another size; a brush keeps just the pixels.
#include "objects/fillcreators.h"

#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/gradientopts.h"
#include "imaging/bitmap.h"
#include "objects/adoptid.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "vm/vm.h"

namespace {


bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

// Width and height arguments default to the current BGPic's base size.
int SizeArgs(ScriptState* L, int widthIdx, int heightIdx, int32_t* width, int32_t* height) {
    const qbBGPic* current = GetCurrentBGPic();
    *width = current ? current->baseWidth : 0;
    *height = current ? current->baseHeight : 0;
    if (Given(L, widthIdx))
        if (int err = GetFiniteIntArg(L, widthIdx, width)) return err;
    if (Given(L, heightIdx))
        if (int err = GetFiniteIntArg(L, heightIdx, height)) return err;
    return 0;
}

// The fill's picture as a new brush; the fill's texture copy is dropped.
int MakeBrushOfFill(ScriptState* L, qbBGPicFill& fill, int32_t width, int32_t height, NewObjectID id) {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    const int err = BuildBGPicImage(L, nullptr, fill, kNoKeyColour, width, height, width, &bitmap, &mask, nullptr);
    FreeBitmap(fill.textureBitmap);
    fill.textureBitmap = nullptr;
    if (err) return err;
    FreeMask(mask);
    qbBrush* made = nullptr;
    if (int allocErr = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap,
                                        kNoKeyColour, nullptr, nullptr, ObjectID{}, &made)) {
        FreeBitmap(bitmap);
        return allocErr;
    }
    if (int adoptErr = AdoptBrushID(L, made, id)) return adoptErr;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int CreateGradientObject(ScriptState* L, bool makeBrush, const qbGradientArgIndexes& args) {
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbBGPicFill fill;
    fill.style = kFillGradient;
    fill.valid = 1;
    qbGradient& g = fill.gradient;
    if (int err = GetFiniteIntArg(L, args.type, &g.style)) return err;
    g.startColor = ColourBits(VmCheckNumber(L, args.start));
    g.endColor = ColourBits(VmCheckNumber(L, args.end));
    int32_t width = 0, height = 0;
    if (int err = SizeArgs(L, args.width, args.height, &width, &height)) return err;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (int err = ParseGradientTable(L, args.angle, &g)) return err;
    if (makeBrush) return MakeBrushOfFill(L, fill, width, height, id);
    qbBGPic* made = nullptr;
    if (int err = MakeFilledBGPic(L, fill, 1, width, height, &made)) return err;
    return FinishNewBGPic(L, made, id);
}

int CreateTexturedObject(ScriptState* L, bool makeBrush) {
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbBGPicFill fill;
    fill.style = kFillTexture;
    fill.valid = 1;
    fill.textureBrush = GetObjectIDArg(L, 2);
    int32_t width = 0, height = 0;
    if (int err = SizeArgs(L, 3, 4, &width, &height)) return err;
    if (Given(L, 5))
        if (int err = GetFiniteIntArg(L, 5, &fill.textureX)) return err;
    if (Given(L, 6))
        if (int err = GetFiniteIntArg(L, 6, &fill.textureY)) return err;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (makeBrush) {
        if (!id.chooseFlag && !fill.textureBrush.handle && fill.textureBrush.number == id.id) return ERR_WRONGUSAGE;
        return MakeBrushOfFill(L, fill, width, height, id);
    }
    qbBGPic* made = nullptr;
    if (int err = MakeFilledBGPic(L, fill, 1, width, height, &made)) {
        FreeBitmap(fill.textureBitmap);
        return err;
    }
    made->fill.textureBitmap = fill.textureBitmap;
    return FinishNewBGPic(L, made, id);
}
