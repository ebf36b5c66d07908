// Curved shapes with anti-aliasing: the service measures and draws the
// shape (and, with an edge, the shape grown by the edge) as coverage; the
// compositor paints shadow, edge and shape into a new image and its alpha.
#include "draw/conicimages.h"

#include <algorithm>

#include "core/errcodes.h"
#include "draw/aacomposite.h"
#include "draw/draw.h"
#include "draw/outline.h"
#include "draw/texturefill.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"

namespace {

CurvedShapeService gService = nullptr;

bool IsCurvedShape(int32_t type) { return type == 14 || type == 15 || type == 16 || type == 31; }

// Measures only; false when the service is missing or fails.
bool Measure(qbShapeOutlineArgs* a) {
    a->pixels = nullptr;
    return gService && gService(a) && a->outWidth > 0 && a->outHeight > 0;
}

// A coverage plane of the measured size with the shape drawn into it.
int Rasterise(qbShapeOutlineArgs a, BitmapPtr* out) {
    out->reset(BoxImageAllocators().alpha(a.outWidth, a.outHeight));
    if (!*out || !(*out)->plane) return ERR_ALLOCALPHA;
    a.pixels = (*out)->plane->data;
    a.bytesPerRow = static_cast<int32_t>((*out)->plane->rowBytes);
    return gService(&a) ? 0 : ERR_MEM;
}

}  // namespace

void SetCurvedShapeService(CurvedShapeService service) { gService = service; }
CurvedShapeService GetCurvedShapeService() { return gService; }

int DrawConicImages(ScriptState* L, const qbConicRequest& r, const qbDrawState& s, qbBoxImages* images) {
    *images = {};
    const bool edge = (s.formStyle & kFormEdge) != 0;
    const bool shadow = (s.formStyle & kFormShadow) != 0;
    qbShapeOutlineArgs shape = r.shape;
    shape.margin = 0;
    shape.filled = s.fillStyle != FILLNONE;
    shape.strokeWidth = s.lineWidth;
    qbShapeOutlineArgs grown = r.shape;
    grown.margin = s.edgeSize;
    grown.filled = 1;
    const bool curved = IsCurvedShape(shape.type);
    if (curved) {
        if (!gService) return ERR_INTERNAL;
        if (!Measure(&shape) || (edge && !Measure(&grown))) return ERR_MEM;
    } else {
        // Blank images of the shape's box.
        shape.outWidth = std::max(1, static_cast<int32_t>(shape.width));
        shape.outHeight = std::max(1, static_cast<int32_t>(shape.height));
    }
    const int64_t blockW = edge && curved ? grown.outWidth : shape.outWidth;
    const int64_t blockH = edge && curved ? grown.outHeight : shape.outHeight;
    qbBlockImages made;
    if (int err = AllocBlockImages(blockW, blockH, s, shadow, true, &made)) return err;
    const qbShadowPlacement& p = made.place;
    const int32_t w = made.width, h = made.height;
    const qbBoxImageAllocators& alloc = BoxImageAllocators();

    if (curved) {
        BitmapPtr shapePlane, edgePlane, source;
        if (int err = Rasterise(shape, &shapePlane)) return err;
        if (edge)
            if (int err = Rasterise(grown, &edgePlane)) return err;
        if (s.fillStyle == FILLGRADIENT || s.fillStyle == FILLTEXTURE) {
            source.reset(alloc.bitmap(shape.outWidth, shape.outHeight));
            if (!source) return ERR_BITMAP;
            const int err =
                s.fillStyle == FILLGRADIENT
                    ? DrawGradient(source.get(), 0, 0, shape.outWidth, shape.outHeight, &s.gradient)
                    : FillTextureRect(L, source.get(), 0, 0, shape.outWidth, shape.outHeight, s, r.shape.matrix, false);
            if (err) return err;
        }
        qbAACompose c;
        c.image = made.bitmap.get();
        c.imageAlpha = made.alpha.get();
        c.imageWidth = w;
        c.imageHeight = h;
        c.shape = shapePlane.get();
        c.shapeWidth = shape.outWidth;
        c.shapeHeight = shape.outHeight;
        c.edge = edgePlane.get();
        c.edgeWidth = grown.outWidth;
        c.edgeHeight = grown.outHeight;
        c.withShadow = shadow;
        c.withEdge = edge;
        c.blockX = p.shapeX;
        c.blockY = p.shapeY;
        // The grown shape keeps its centre: the shape sits in the middle of
        // its edge.
        c.shapeX = p.shapeX + (edge ? (grown.outWidth - shape.outWidth) / 2 : 0);
        c.shapeY = p.shapeY + (edge ? (grown.outHeight - shape.outHeight) / 2 : 0);
        c.shadowX = p.shadowX;
        c.shadowY = p.shadowY;
        c.colour = r.colour & 0xFFFFFF;
        c.shadowColour = s.shadowColour & 0xFFFFFF;
        c.edgeColour = s.edgeColour & 0xFFFFFF;
        c.colourT = r.colour >> 24;
        c.shadowT = s.shadowColour >> 24;
        c.edgeT = s.edgeColour >> 24;
        c.source = source.get();
        CompositeAntialiasedShape(c);
    }
    images->bitmap = made.bitmap.release();
    images->alpha = made.alpha.release();
    images->width = w;
    images->height = h;
    images->blockX = p.shapeX;
    images->blockY = p.shapeY;
    images->shapeX = p.shapeX + (edge && curved ? (grown.outWidth - shape.outWidth) / 2 : 0);
    images->shapeY = p.shapeY + (edge && curved ? (grown.outHeight - shape.outHeight) / 2 : 0);
    images->shapeWidth = shape.outWidth;
    images->shapeHeight = shape.outHeight;
    return 0;
}

int DrawConicCoverage(const qbConicRequest& r, const qbDrawState& s, int64_t maxPixels, BitmapPtr* plane,
                      int32_t* width, int32_t* height) {
    plane->reset();
    qbShapeOutlineArgs shape = r.shape;
    shape.margin = 0;
    shape.filled = s.fillStyle != FILLNONE;
    shape.strokeWidth = s.lineWidth;
    if (!IsCurvedShape(shape.type)) {
        *width = std::max(1, static_cast<int32_t>(shape.width));
        *height = std::max(1, static_cast<int32_t>(shape.height));
        return 0;
    }
    if (!gService) return ERR_INTERNAL;
    if (!Measure(&shape)) return ERR_MEM;
    *width = shape.outWidth;
    *height = shape.outHeight;
    if (int64_t{shape.outWidth} * shape.outHeight > maxPixels) return 0;
    return Rasterise(shape, plane);
}
