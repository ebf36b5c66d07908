// The "brush" library: its command table and constants, and the two commands
// that set how drawing goes into masks and alpha channels.
#include "objects/brushlib.h"

#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displaywindow.h"
#include "display/objecthooks.h"
#include "display/safeblt.h"
#include "display/selection.h"
#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"
#include "objects/brushes.h"
#include "objects/brushgeometry.h"
#include "objects/brushhardware.h"
#include "objects/brushpixelcmds.h"
#include "objects/displayobject.h"
#include "objects/selectcmds.h"
#include "objects/selection.h"

namespace {

const ScriptConstant kBrushConstants[] = {
    {"MASKVISIBLE", nullptr, kMaskVisible}, {"MASKINVISIBLE", nullptr, kMaskInvisible},
    {"MASKVANILLACOPY", nullptr, kMaskVanillaCopy}, {"MASKXOR", nullptr, kMaskXor},
    {"MASKAND", nullptr, kMaskAnd},         {"MASKOR", nullptr, kMaskOr},
    {"VANILLACOPY", nullptr, -1},           {"SELMODE_NORMAL", nullptr, 0},
    {"SELMODE_COMBO", nullptr, 1},          {"SELMODE_LAYERS", nullptr, 2},
    {nullptr, nullptr, 0},
};

// In the order the library registers them; commands of the brush geometry,
// image and plane families join as they are built.
const ScriptCommand kBrushCommands[] = {
    {"LoadBrush", cmdLoadBrush},
    {"CreateBrush", cmdCreateBrush},
    {"CopyBrush", cmdCopyBrush},
    {"FreeBrush", cmdFreeBrush},
    {"ConvertToBrush", cmdConvertToBrush},
    {"GetBrushLink", cmdGetBrushLink},
    {"CreateShadowBrush", cmdCreateShadowBrush},
    {"CreateBorderBrush", cmdCreateBorderBrush},
    {"DisplayBrush", cmdDisplayBrush},
    {"DisplayBrushPart", cmdDisplayBrushPart},
    {"SetAlphaIntensity", cmdSetAlphaIntensity},
    {"SetMaskMode", cmdSetMaskMode},
    {"SelectBrush", cmdSelectBrush},
    {"SelectMask", cmdSelectMask},
    {"SelectAlphaChannel", cmdSelectAlphaChannel},
    {"BeginDoubleBuffer", cmdBeginDoubleBuffer},
    {"Flip", cmdFlip},
    {"EndDoubleBuffer", cmdEndDoubleBuffer},
    {"ScaleBrush", cmdScaleBrush},
    {"RotateBrush", cmdRotateBrush},
    {"TransformBrush", cmdTransformBrush},
    {"BarrelDistortBrush", cmdBarrelDistortBrush},
    {"PolarDistortBrush", cmdPolarDistortBrush},
    {"ArcDistortBrush", cmdArcDistortBrush},
    {"PerspectiveDistortBrush", cmdPerspectiveDistortBrush},
    {"CropBrush", cmdCropBrush},
    {"TrimBrush", cmdTrimBrush},
    {"RasterizeBrush", cmdRasterizeBrush},
    {"BlurBrush", cmdBlurBrush},
    {"SharpenBrush", cmdSharpenBrush},
    {"EmbossBrush", cmdEmbossBrush},
    {"EdgeBrush", cmdEdgeBrush},
    {"CharcoalBrush", cmdCharcoalBrush},
    {"OilPaintBrush", cmdOilPaintBrush},
    {"SwirlBrush", cmdSwirlBrush},
    {"WaterRippleBrush", cmdWaterRippleBrush},
    {"PixelateBrush", cmdPixelateBrush},
    {"TintBrush", cmdTintBrush},
    {"BrushToGray", cmdBrushToGray},
    {"BrushToMonochrome", cmdBrushToMonochrome},
    {"SepiaToneBrush", cmdSepiaToneBrush},
    {"SolarizeBrush", cmdSolarizeBrush},
    {"GammaBrush", cmdGammaBrush},
    {"ContrastBrush", cmdContrastBrush},
    {"ModulateBrush", cmdModulateBrush},
    {"InvertBrush", cmdInvertBrush},
    {"FlipBrush", cmdFlipBrush},
    {"QuantizeBrush", cmdQuantizeBrush},
    {"ReduceAlphaChannel", cmdReduceAlphaChannel},
    {"MixBrush", cmdMixBrush},
    {"ReplaceColors", cmdReplaceColors},
    {"SetBrushTransparency", cmdSetBrushTransparency},
    {"DeleteMask", cmdDeleteMask},
    {"DeleteAlphaChannel", cmdDeleteAlphaChannel},
    {"InvertMask", cmdInvertMask},
    {"InvertAlphaChannel", cmdInvertAlphaChannel},
    {"ChangeBrushTransparency", cmdChangeBrushTransparency},
    {"ReadBrushPixel", cmdReadBrushPixel},
    {"WriteBrushPixel", cmdWriteBrushPixel},
    {"BrushToRGBArray", cmdBrushToRGBArray},
    {"RGBArrayToBrush", cmdRGBArrayToBrush},
    {"FloodFill", cmdFloodFill},
    {"SaveBrush", cmdSaveBrush},
    {"CreateGradientBrush", cmdCreateGradientBrush},
    {"CreateTexturedBrush", cmdCreateTexturedBrush},
    {"GrabDesktop", cmdGrabDesktop},
    {nullptr, nullptr},
};

int SetTag(int tag, int32_t value) {
    const RuntimeTagItem item{tag, value};
    SetRuntimeTags(nullptr, &item, 1);
    return 0;
}

// BGPic texture fills read their brush through this.
int TextureOfBrush(ScriptState* L, ObjectID id, qbTexturePicture* out) {
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, id, &brush, 0)) return err;
    out->bitmap = brush->bitmap;
    out->mask = brush->mask;
    out->alpha = brush->alpha;
    out->width = brush->width;
    out->height = brush->height;
    out->rowLength = brush->rowLength;
    const uint32_t* source = brush->bitmap ? nullptr : GetImageHandlePixels(brush->imageSource);
    out->pixels = source ? source + static_cast<size_t>(brush->partY) * brush->rowLength + brush->partX : nullptr;
    return 0;
}

}  // namespace

int BrushIntArg(ScriptState* L, int idx, int32_t* out) { return GetFiniteIntArg(L, idx, out); }

int cmdSetAlphaIntensity(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int percent = 0;
    const double level = GetNumberOrPercentArg(L, 1, 255, 1, &percent);
    if (!std::isfinite(level) || level < 0 || level >= 256) return ERR_WRONGUSAGE;
    // The blits into a selected alpha channel read it from their draw state.
    SetDrawAlphaIntensity(static_cast<int32_t>(level));
    return SetTag(kTagAlphaIntensity, static_cast<int32_t>(level));
}

int cmdSetMaskMode(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int32_t mode = 0;
    if (int err = BrushIntArg(L, 1, &mode)) return err;
    SetDrawMaskMode(mode);
    return SetTag(kTagMaskMode, mode);
}

int InitBrushLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(BrushList())) return err;
    SetTextureBrushLookup(TextureOfBrush);
    static constexpr qbDisplayBrushHooks kDisplayBrushHooks{LoadPendingBrushes, SaveHardwareBrushes,
                                                            RestoreHardwareBrushes, FreeDisplayBrushes};
    SetDisplayBrushHooks(&kDisplayBrushHooks);
    SetEndSelectionHook(&EndSelectCore);
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kBrushCommands, 0);
    VmRegisterConstants(L, kBrushConstants, 0);
    return RegisterCommandTable(kBrushCommands, "brush", kBrushConstants);
}
