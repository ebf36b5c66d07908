// The commands that make BGPics: from a picture file, a plain colour, a
// gradient or a tiled brush. Each builds the new BGPic in full under an
// automatic id before it takes a numbered id over (FinishNewBGPic).
#include <cmath>
#include <memory>
#include <new>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/gradientopts.h"
#include "imaging/blit.h"
#include "imaging/loaderchain.h"
#include "objects/bgpiclib.h"
#include "objects/brushes.h"
#include "objects/fillcreators.h"

namespace {


struct LoadOptions {
    int32_t transparency = -1;
    bool loadAlpha = false;
    bool loadTransparency = false;
    int32_t scaleWidth = 0, scaleHeight = 0;
    bool smooth = false;
    std::string loader, adapter;
    qbBGPicFill fill;
    std::unique_ptr<uint32_t[]> palette;
};

int ReadLoadTable(ScriptState* L, LoadOptions* o) {
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, 3, "transparency", &colour, nullptr)) o->transparency = static_cast<int32_t>(colour);
    o->loadAlpha = GetTableFieldFlag(L, 3, "loadalpha");
    o->loadTransparency = GetTableFieldFlag(L, 3, "loadtransparency");
    GetTableFieldInt(L, 3, "fillstyle", &o->fill.style, nullptr);
    if ((o->loadTransparency && o->transparency != -1) || (o->loadAlpha && o->loadTransparency))
        return ERR_WRONGUSAGE;
    if (o->fill.style < kFillNone || o->fill.style > kFillTexture) return ERR_WRONGUSAGE;
    switch (o->fill.style) {
        case kFillColour:
            if (GetTableFieldUInt(L, 3, "fillcolor", &colour, nullptr)) o->fill.colour = colour;
            break;
        case kFillGradient:
            if (int err = ParseGradientOptions(L, 3, &o->fill.gradient)) return err;
            break;
        case kFillTexture:
            GetTableFieldObjectID(L, 3, "texturebrush", &o->fill.textureBrush, nullptr);
            GetTableFieldInt(L, 3, "texturex", &o->fill.textureX, nullptr);
            GetTableFieldInt(L, 3, "texturey", &o->fill.textureY, nullptr);
            break;
        default: break;
    }
    GetTableFieldSizeOrPercent(L, 3, "scalewidth", 1, &o->scaleWidth, nullptr);
    GetTableFieldSizeOrPercent(L, 3, "scaleheight", 1, &o->scaleHeight, nullptr);
    o->smooth = GetTableFieldFlag(L, 3, "smoothscale");
    o->loader = GetTableFieldText(L, 3, "loader");
    o->adapter = GetTableFieldText(L, 3, "adapter");
    return 0;
}

int ReadPalette(ScriptState* L, LoadOptions* o) {
    VmCheckTable(L, 4);
    try {
        o->palette = std::make_unique<uint32_t[]>(256);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int i = 0; i < 256; ++i) {
        VmPushNumber(L, i);
        IndexOptionTable(L, 4);
        const int type = VmType(L, -1);
        const double v = VmToNumber(L, -1);
        VmSetTop(L, -2);
        if (type == kTypeNil || type == kTypeNone) break;
        if (type != kTypeNumber) {
            SetErrorDetail("palette");
            return ERR_NUMTABLEARG;
        }
        o->palette[i] = static_cast<uint32_t>(ColourBits(v));
    }
    return 0;
}

int ReadLoadOptions(ScriptState* L, LoadOptions* o) {
    const int top = VmGetTop(L);
    if (top == 3 && VmType(L, 3) == kTypeTable) {
        if (int err = ReadLoadTable(L, o)) return err;
    } else if (top == 3 && VmType(L, 3) != kTypeNil) {
        o->transparency = ColourBits(VmCheckNumber(L, 3));
    } else if (top == 4) {
        if (int err = ReadPalette(L, o)) return err;
    }
    if (o->loadAlpha && o->transparency != -1) return ERR_MASKNALPHA;
    return 0;
}

}  // namespace

// A bitmap of the size filled by the fill, made into a BGPic that can be
// made anew at other sizes from the same fill.
int MakeFilledBGPic(ScriptState* L, qbBGPicFill& fill, int32_t regenerate, int32_t width, int32_t height,
                    qbBGPic** out) {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    if (int err = BuildBGPicImage(L, nullptr, fill, kNoKeyColour, width, height, width, &bitmap, &mask, nullptr))
        return err;
    const int err = AllocBGPicRecord(NewObjectID{0, 1}, regenerate, width, height, width, nullptr, bitmap, nullptr,
                                     kNoKeyColour, nullptr, nullptr, &fill, out);
    if (err) FreeBitmap(bitmap);
    return err;
}

int cmdLoadBGPic(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* fileName = ResolveLinkedFileArg(L, 2, 0, nullptr);
    LoadOptions o;
    if (int err = ReadLoadOptions(L, &o)) return err;
    PrintMessage(GetMessageText(MSG_LOADINGBGPIC), fileName, 1);
    const bool deferred = PicturesPending();
    qbImageLoadParams params;
    params.fileName = fileName;
    params.loaderTag = o.loader.empty() ? nullptr : o.loader.c_str();
    params.adapterTag = o.adapter.empty() ? nullptr : o.adapter.c_str();
    params.palette = o.palette.get();
    params.alphaMode = o.loadAlpha ? kAlphaRequired : kAlphaNone;
    params.wantTransparency = o.loadTransparency ? 1 : 0;
    params.wantedWidth = o.scaleWidth;
    params.wantedHeight = o.scaleHeight;
    params.smooth = o.smooth ? 1 : 0;
    params.wantPaletteCopy = true;
    qbLoadedImage image;
    if (int err = LoadImageThroughLoaders(params, &image)) return err;
    int32_t keyColour = image.transparency != -1 ? image.transparency : o.transparency;
    if (image.isVector) keyColour = kNoKeyColour;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = image.alpha.release();
    if (!deferred) {
        if (int err = BuildBGPicImage(L, GetImageHandlePixels(image.handle.get()), o.fill, keyColour, image.width,
                                      image.height, image.rowLength, &bitmap, &mask, &alpha)) {
            FreeAlphaChannel(alpha);
            FreeBitmap(o.fill.textureBitmap);
            return err;
        }
        if (!image.isVector) image.handle.reset();
    }
    qbBGPic* made = nullptr;
    const int err = AllocBGPicRecord(NewObjectID{0, 1}, image.isVector ? 1 : 0, image.width, image.height,
                                     image.rowLength, image.handle.get(), bitmap, image.paletteCopy.get(),
                                     keyColour, mask, alpha, &o.fill, &made);
    if (err) {
        FreeBitmap(bitmap);
        FreeMask(mask);
        FreeAlphaChannel(alpha);
        FreeBitmap(o.fill.textureBitmap);
        return err;
    }
    (void)image.handle.release();
    // The fill's texture copy, when building made one, goes with the record.
    made->fill.textureBitmap = o.fill.textureBitmap;
    made->loaderWord = image.loader;
    PrintDoneMessage();
    return FinishNewBGPic(L, made, id);
}

int cmdCreateBGPic(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int32_t width = 0, height = 0;
    if (int err = GetFiniteIntArg(L, 2, &width)) return err;
    if (int err = GetFiniteIntArg(L, 3, &height)) return err;
    uint32_t colour = 0;
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil) colour = static_cast<uint32_t>(ColourBits(VmCheckNumber(L, 4)));
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    qbBGPicFill fill;
    fill.style = kFillColour;
    fill.colour = colour;
    fill.valid = 1;
    qbBGPic* made = nullptr;
    if (int err = MakeFilledBGPic(L, fill, 0, width, height, &made)) return err;
    return FinishNewBGPic(L, made, id);
}

int cmdCreateGradientBGPic(ScriptState* L) {
    CheckArgCount(L, 4, 8, 0, 0);
    return CreateGradientObject(L, false, {2, 3, 4, 5, 6, 7});
}

int cmdCreateTexturedBGPic(ScriptState* L) {
    CheckArgCount(L, 2, 6, 0, 0);
    return CreateTexturedObject(L, false);
}
