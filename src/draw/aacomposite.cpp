// Anti-aliased shapes: the shadow, then the edge, then the shape, each a
// coverage plane put into the image by the alpha-channel draw and into its
// alpha plane by the alpha combination. Edge-less shapes keep their
// anti-aliasing in the alpha plane alone (their pixels are set outright);
// inside a transparent shape the edge ring does not show through.
#include "draw/aacomposite.h"

#include "imaging/blit.h"

namespace {

// BltAlphaChannel's modes as this compositor uses them.
enum : int32_t { kPaintSet = 0, kPaintBlend = 1, kPaintBlendAlpha = 2 };
// CombineAlphaRect's.
enum : int32_t { kCombineCopy = 1, kCombineInverse = 2, kCombineScaled = 4 };

struct Plane {
    qbBitmap* plane;
    int32_t width, height;
};

void Paint(const qbAACompose& c, Plane p, int32_t x, int32_t y, uint32_t colour, int32_t mode, uint32_t v,
           qbBitmap* source = nullptr) {
    qbAlphaChannelBlit b;
    b.alpha = p.plane;
    b.destination = c.image;
    b.dstX = x;
    b.dstY = y;
    b.width = p.width;
    b.height = p.height;
    b.colour = colour & 0xFFFFFF;
    b.mode = mode;
    b.destinationAlpha = mode == kPaintBlendAlpha ? c.imageAlpha : nullptr;
    b.intensity = v;
    b.sourceColour = source;
    BltAlphaChannelClipped(b, p.width, p.height, c.imageWidth, c.imageHeight);
}

void Combine(const qbAACompose& c, Plane p, int32_t x, int32_t y, int32_t mode, uint32_t v) {
    if (!c.imageAlpha) return;
    CombineAlphaRectClipped(p.plane, 0, 0, c.imageAlpha, x, y, p.width, p.height, mode, v, p.width, p.height,
                            c.imageWidth, c.imageHeight);
}

}  // namespace

void CompositeAntialiasedShape(const qbAACompose& c) {
    if (!c.image || !c.shape) return;
    const Plane s{c.shape, c.shapeWidth, c.shapeHeight};
    const Plane e{c.edge, c.edgeWidth, c.edgeHeight};
    const bool edge = c.withEdge && c.edge;
    const uint32_t shadowV = 255 - (c.shadowT & 0xFF), edgeV = 255 - (c.edgeT & 0xFF);
    const uint32_t colourT = c.colourT & 0xFF, colourV = 255 - colourT;

    if (c.withShadow) {
        const Plane cover = edge ? e : s;
        Paint(c, cover, c.shadowX, c.shadowY, c.shadowColour, kPaintSet, 255);
        if (shadowV == 255) Combine(c, cover, c.shadowX, c.shadowY, kCombineCopy, 0);
        else Combine(c, cover, c.shadowX, c.shadowY, kCombineScaled, shadowV);
    }
    if (edge) {
        if (c.withShadow) {
            Paint(c, e, c.blockX, c.blockY, c.edgeColour, kPaintBlendAlpha, edgeV);
        } else {
            Paint(c, e, c.blockX, c.blockY, c.edgeColour, kPaintSet, 255);
            if (edgeV == 255) Combine(c, e, c.blockX, c.blockY, kCombineCopy, 0);
            else Combine(c, e, c.blockX, c.blockY, kCombineScaled, edgeV);
        }
        if (colourT == 0 && edgeV == 255) {
            Paint(c, s, c.shapeX, c.shapeY, c.colour, kPaintBlend, 255, c.source);
        } else if (colourT == 0) {
            Combine(c, s, c.shapeX, c.shapeY, kCombineInverse, 0);
            Paint(c, s, c.shapeX, c.shapeY, c.colour, kPaintBlendAlpha, 255, c.source);
        } else if (colourT < 255) {
            Combine(c, s, c.shapeX, c.shapeY, kCombineInverse, 0);
            Paint(c, s, c.shapeX, c.shapeY, c.colour, kPaintBlendAlpha, colourV, c.source);
        } else {
            Combine(c, s, c.shapeX, c.shapeY, kCombineInverse, 0);
        }
        return;
    }
    if (c.withShadow) {
        Paint(c, s, c.blockX, c.blockY, c.colour, kPaintBlendAlpha, colourV, c.source);
    } else {
        if (colourT == 0) Combine(c, s, c.blockX, c.blockY, kCombineCopy, 0);
        else Combine(c, s, c.blockX, c.blockY, kCombineScaled, colourV);
        Paint(c, s, c.blockX, c.blockY, c.colour, kPaintSet, 255, c.source);
    }
}
