// ScaleBrush, RotateBrush, TransformBrush, CropBrush, TrimBrush and
// RasterizeBrush. Vector brushes are rendered again from their picture, so
// they stay sharp at any size; pixel brushes are resampled. Every command
// builds the new images first and swaps them in only on success, so a
// failure leaves the brush as it was.
#include "objects/brushgeometry.h"

#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "imaging/imagehandle.h"
#include "imaging/planerect.h"
#include "imaging/scale.h"
#include "imaging/scalebitmap.h"
#include "imaging/transform.h"
#include "objects/brushes.h"
#include "objects/brushhardware.h"
#include "objects/brushlib.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "vm/vm.h"

namespace {

int NumberArg(ScriptState* L, int idx, double* out) {
    const double v = VmCheckNumber(L, idx);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = v;
    return 0;
}

bool SmoothArg(ScriptState* L, int idx) { return VmGetTop(L) >= idx && GetFlagArg(L, idx, false); }

// A size: a number, or "n%" of the brush's side (over 100 allowed).
int SizeArg(ScriptState* L, int idx, int32_t of, int32_t* out) {
    int percent = 0;
    const double v = GetNumberOrPercentArg(L, idx, of, 1, &percent);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = ClampToInt32(v);
    return 0;
}

// A vector brush renders from its picture's own size; a brush whose
// picture is gone renders from its current size.
void VectorBaseSize(const qbBrush* brush, int32_t* width, int32_t* height) {
    *width = *height = 0;
    if (brush->imageSource) GetImageHandleBaseSize(brush->imageSource, width, height);
    if (*width < 1 || *height < 1) {
        *width = brush->width;
        *height = brush->height;
    }
}

// The matrix m applied after the scale from the picture's base size to the
// brush's current size, so that repeated commands act on what is shown.
void ComposeWithCurrentSize(const qbBrush* brush, const double m[4], double out[4]) {
    int32_t baseWidth = 0, baseHeight = 0;
    VectorBaseSize(brush, &baseWidth, &baseHeight);
    const double sx = static_cast<double>(brush->width) / baseWidth;
    const double sy = static_cast<double>(brush->height) / baseHeight;
    out[0] = m[0] * sx;
    out[1] = m[1] * sx;
    out[2] = m[2] * sy;
    out[3] = m[3] * sy;
}

void Install(qbBrush* brush, qbObjectImage* made, int32_t width, int32_t height) {
    const bool hardware = brush->hardware != 0;
    qbDisplay* display = brush->display;
    ReplaceBrushImages(brush, made, width, height);
    // A hardware brush whose new bitmap is no adapter bitmap becomes plain.
    if (hardware) SetBrushHardware(brush, true, display);
}

// The pictures a reshape made, or its error with the brush left as it was.
// A vector brush remembers that it no longer shows its picture as loaded.
int InstallReshaped(qbBrush* brush, qbObjectImage* made, int err, int32_t width, int32_t height) {
    if (err) {
        FreeObjectImage(made);
        return err;
    }
    if (brush->kind == kBrushVector) brush->transformed = 1;
    Install(brush, made, width, height);
    return 0;
}

// The smallest rectangle of visible pixels; false when there is none.
bool VisibleBox(const qbBrush* brush, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) {
    const qbBitmapPlane* mask = PlaneOf(brush->mask);
    const qbBitmapPlane* alpha = mask ? nullptr : PlaneOf(brush->alpha);
    *x0 = brush->width;
    *y0 = brush->height;
    *x1 = *y1 = -1;
    const int32_t w = std::min(brush->width, mask ? mask->width : alpha->width);
    const int32_t h = std::min(brush->height, mask ? mask->height : alpha->height);
    const uint8_t* data = mask ? mask->data : alpha->data;
    const size_t rowBytes = mask ? mask->rowBytes : alpha->rowBytes;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
        for (int32_t x = 0; x < w; ++x) {
            const bool on = mask ? (row[x >> 3] & (0x80 >> (x & 7))) != 0 : row[x] != 0;
            if (!on) continue;
            *x0 = std::min(*x0, x);
            *x1 = std::max(*x1, x);
            *y0 = std::min(*y0, y);
            *y1 = std::max(*y1, y);
        }
    }
    return *x1 >= 0;
}

}  // namespace

void ReplaceBrushImages(qbBrush* brush, qbObjectImage* made, int32_t width, int32_t height) {
    FreeBitmap(brush->bitmap);
    FreeMask(brush->mask);
    FreeAlphaChannel(brush->alpha);
    brush->bitmap = made->bitmap;
    brush->mask = made->mask;
    brush->alpha = made->alpha;
    *made = {};
    brush->width = width;
    brush->height = height;
    brush->rowLength = width;
}

int GetBrushToReshape(ScriptState* L, int idx, uint32_t flags, qbBrush** out) {
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, idx), &brush, kBrushModify | flags)) return err;
    if (IsSelectedForOutput(brush)) return ERR_MODIFYABR;
    *out = brush;
    return 0;
}

int TransformBrushCore(ScriptState*, qbBrush* brush, const double matrix[4], bool smooth) {
    qbObjectImage made;
    int32_t width = 0, height = 0;
    int err = 0;
    if (brush->kind == kBrushVector) {
        double m[4];
        ComposeWithCurrentSize(brush, matrix, m);
        GetTransformedSize(matrix, brush->width, brush->height, &width, &height);
        err = RenderVectorImage(brush->imageSource, m, width, height, &made);
    } else {
        err = TransformBitmap(brush->bitmap, brush->mask, brush->alpha, 0, 0, brush->width, brush->height, matrix,
                              smooth, &made.bitmap, &made.mask, &made.alpha, &width, &height);
    }
    return InstallReshaped(brush, &made, err, width, height);
}

int cmdScaleBrush(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushHardwareToo, &brush)) return err;
    int32_t width = 0, height = 0;
    if (int err = SizeArg(L, 2, brush->width, &width)) return err;
    if (int err = SizeArg(L, 3, brush->height, &height)) return err;
    if (int err = KeepAspectRatio(brush->width, brush->height, &width, &height)) return err;
    const bool smooth = SmoothArg(L, 4);
    if (width == brush->width && height == brush->height) return 0;
    qbObjectImage made;
    int err = 0;
    if (brush->kind == kBrushVector) {
        int32_t baseWidth = 0, baseHeight = 0;
        VectorBaseSize(brush, &baseWidth, &baseHeight);
        const double m[4] = {static_cast<double>(width) / baseWidth, 0, 0, static_cast<double>(height) / baseHeight};
        err = RenderVectorImage(brush->imageSource, m, width, height, &made);
    } else {
        err = ScaleBitmap(brush->bitmap, brush->mask, brush->alpha, 0, 0, nullptr, brush->width, brush->height, width,
                          height, smooth, &made.bitmap, &made.mask, &made.alpha);
    }
    return InstallReshaped(brush, &made, err, width, height);
}

int cmdRotateBrush(ScriptState* L) {
    CheckArgCount(L, 2, 5, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushHardwareToo, &brush)) return err;
    double angle = 0, scaleX = 1, scaleY = 1;
    if (int err = NumberArg(L, 2, &angle)) return err;
    if (VmGetTop(L) >= 3)
        if (int err = NumberArg(L, 3, &scaleX)) return err;
    if (VmGetTop(L) >= 4)
        if (int err = NumberArg(L, 4, &scaleY)) return err;
    if (scaleX == 0 || scaleY == 0) return ERR_WRONGUSAGE;
    double m[4];
    BuildScaleRotateMatrix(m, 0, 0, brush->width, brush->height, scaleX, scaleY, angle);
    return TransformBrushCore(L, brush, m, SmoothArg(L, 5));
}

int cmdTransformBrush(ScriptState* L) {
    CheckArgCount(L, 5, 6, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushHardwareToo, &brush)) return err;
    double m[4];
    for (int i = 0; i < 4; ++i)
        if (int err = NumberArg(L, 2 + i, &m[i])) return err;
    if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
    return TransformBrushCore(L, brush, m, SmoothArg(L, 6));
}

int cmdCropBrush(ScriptState* L) {
    CheckArgCount(L, 5, 5, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (int err = BrushIntArg(L, 2, &x)) return err;
    if (int err = BrushIntArg(L, 3, &y)) return err;
    if (int err = BrushIntArg(L, 4, &width)) return err;
    if (int err = BrushIntArg(L, 5, &height)) return err;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    x = ResolveSpecialX(x, width, brush->width, 0);
    y = ResolveSpecialY(y, height, brush->height, 0);
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= brush->width || y >= brush->height) return ERR_COORDSRANGE;
    width = std::min(width, brush->width - x);
    height = std::min(height, brush->height - y);
    qbObjectImage made;
    if (int err = CloneBitmapRect(brush->bitmap, brush->mask, brush->alpha, x, y, width, height, &made.bitmap,
                                  &made.mask, &made.alpha))
        return err;
    Install(brush, &made, width, height);
    return 0;
}

int cmdTrimBrush(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (PlaneOf(brush->mask) || PlaneOf(brush->alpha)) {
        if (!VisibleBox(brush, &x0, &y0, &x1, &y1)) return ERR_TRANSBRUSH;
        const int32_t width = x1 - x0 + 1, height = y1 - y0 + 1;
        if (width != brush->width || height != brush->height) {
            qbObjectImage made;
            if (int err = CloneBitmapRect(brush->bitmap, brush->mask, brush->alpha, x0, y0, width, height,
                                          &made.bitmap, &made.mask, &made.alpha))
                return err;
            Install(brush, &made, width, height);
        }
    }
    VmPushNumber(L, x0);
    VmPushNumber(L, y0);
    return 2;
}

int cmdRasterizeBrush(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, 0, &brush)) return err;
    if (brush->kind != kBrushVector) return ERR_WRONGUSAGE;
    brush->kind = kBrushPixels;
    ReleaseImageHandle(brush->imageSource);
    brush->imageSource = nullptr;
    return 0;
}
