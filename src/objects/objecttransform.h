// Transforming the image of any shown object by a 2x2 matrix: pixel
// pictures are copied, scaled or resampled; vector pictures are rendered
// again from their source so they stay sharp.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;
struct qbImageHandle;

// A matrix without shear and with non-negative factors gives trunc(w m00)
// by trunc(h m11), each at least 1; any other the bounding box of the
// transformed rectangle.
void GetTransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                        int32_t* outHeight);

struct qbObjectImage {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
};

// The rectangle (srcX, srcY, width x height) of the image, transformed by the
// row-major matrix about its anchor (fractions of its size) placed at x, y.
// out receives new images that the caller frees; outX, outY the top left of
// the transformed box and outWidth, outHeight its size. imageSource is used
// for vector pictures only. 0 or the error of the copy, scale, transform or
// re-render; nothing is handed out on an error.
int TransformObjectImage(ScriptState* L, bool isVector, qbImageHandle* imageSource, const qbObjectImage& image,
                         int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                         const double anchor[2], const double matrix[4], bool smooth, qbObjectImage* out,
                         int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight);

// The vector picture rendered again through its loader with the matrix at
// width x height, as a bitmap with an alpha plane when the picture has one.
// 0, ERR_WRONGUSAGE (no source), ERR_TFIMAGE or the bitmap's error.
int RenderVectorImage(qbImageHandle* source, const double matrix[4], int32_t width, int32_t height,
                      qbObjectImage* out);

// Frees the three images and clears them.
void FreeObjectImage(qbObjectImage* image);
