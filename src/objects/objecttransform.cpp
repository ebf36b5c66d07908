// TransformObjectImage and the size rule it shares with the brush commands.
#include "objects/objecttransform.h"

#include <algorithm>
#include <cmath>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "imaging/geometry.h"
#include "imaging/imagehandle.h"
#include "imaging/scalebitmap.h"
#include "imaging/transform.h"
#include "objects/objectoptions.h"

namespace {

bool IsPlainScale(const double m[4]) { return m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0; }

int32_t TruncSize(double v) {
    if (!(v >= 1)) return 1;
    return v >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(v);
}

// The kernels map a source point (x, y) to (m0 x + m2 y, m1 x + m3 y); the
// bounds helper reads its matrix by rows. Handing it the transpose keeps the
// box where the pixels land.
void Transpose(const double m[4], double out[4]) {
    out[0] = m[0];
    out[1] = m[2];
    out[2] = m[1];
    out[3] = m[3];
}

}  // namespace

int RenderVectorImage(qbImageHandle* source, const double matrix[4], int32_t width, int32_t height,
                      qbObjectImage* out) {
    *out = {};
    if (!source) return ERR_WRONGUSAGE;
    qbImageLoadRequest request;
    if (int err = TransformImageHandle(source, matrix, width, height, &request)) return err;
    const uint32_t* pixels = GetImageHandlePixels(source);
    // A loader that renders smaller than asked would have its rows read past.
    if (!pixels || request.width < width || request.height < height) return ERR_TFIMAGE;
    const int32_t rowLength = std::max(request.rowLength, width);
    if (int err = CreateBitmapFromARGB(pixels, kNoKeyColour, width, height, rowLength, false, 0, 0, &out->bitmap,
                                       nullptr, nullptr))
        return err;
    // The import makes alpha planes for hardware pictures only; a vector
    // picture keeps its soft edges through a plane of its own.
    if (request.hasAlpha) {
        out->alpha = CreateAlphaFromARGB(pixels, width, height, rowLength);
        if (!out->alpha) {
            FreeObjectImage(out);
            return ERR_ALLOCALPHA;
        }
    }
    return 0;
}

void GetTransformedSize(const double m[4], int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight) {
    if (IsPlainScale(m)) {
        *outWidth = TruncSize(width * m[0]);
        *outHeight = TruncSize(height * m[3]);
        return;
    }
    GetTransformedBounds(m, width, height, outWidth, outHeight, nullptr, nullptr);
    *outWidth = std::max(*outWidth, 1);
    *outHeight = std::max(*outHeight, 1);
}

void FreeObjectImage(qbObjectImage* image) {
    FreeBitmap(image->bitmap);
    FreeMask(image->mask);
    FreeAlphaChannel(image->alpha);
    *image = {};
}

int TransformObjectImage(ScriptState*, bool isVector, qbImageHandle* imageSource, const qbObjectImage& image,
                         int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                         const double anchor[2], const double matrix[4], bool smooth, qbObjectImage* out,
                         int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight) {
    *out = {};
    double byRows[4];
    Transpose(matrix, byRows);
    const qbRect box = GetAnchoredTransformBounds(x, y, width, height, anchor[0], anchor[1], byRows);
    int32_t w = 0, h = 0;
    GetTransformedSize(matrix, width, height, &w, &h);

    qbObjectImage made;
    int err = 0;
    if (IsIdentityMatrix(matrix)) {
        err = CloneBitmapRect(image.bitmap, image.mask, image.alpha, srcX, srcY, width, height, &made.bitmap,
                              &made.mask, &made.alpha);
    } else if (isVector) {
        err = RenderVectorImage(imageSource, matrix, w, h, &made);
    } else if (IsPlainScale(matrix)) {
        err = ScaleBitmap(image.bitmap, image.mask, image.alpha, srcX, srcY, nullptr, width, height, w, h, smooth,
                          &made.bitmap, &made.mask, &made.alpha);
    } else {
        err = TransformBitmap(image.bitmap, image.mask, image.alpha, srcX, srcY, width, height, matrix, smooth,
                              &made.bitmap, &made.mask, &made.alpha, &w, &h);
    }
    if (err) {
        FreeObjectImage(&made);
        return err;
    }
    *out = made;
    *outX = box.x;
    *outY = box.y;
    *outWidth = w;
    *outHeight = h;
    return 0;
}
