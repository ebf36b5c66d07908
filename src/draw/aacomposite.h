// The compositor of anti-aliased shapes: shadow, edge ring and shape
// coverage planes painted into an image and its alpha plane.
#pragma once

#include <cstdint>

struct qbBitmap;

struct qbAACompose {
    qbBitmap* image = nullptr;
    qbBitmap* imageAlpha = nullptr;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    qbBitmap* shape = nullptr;  // S, an alpha plane
    int32_t shapeWidth = 0;
    int32_t shapeHeight = 0;
    qbBitmap* edge = nullptr;   // E, the shape grown by the edge size
    int32_t edgeWidth = 0;
    int32_t edgeHeight = 0;
    bool withShadow = false;
    bool withEdge = false;
    // Where the shape-and-edge block, the shape inside its edge, and the
    // shadow sit in the image.
    int32_t blockX = 0, blockY = 0;
    int32_t shapeX = 0, shapeY = 0;
    int32_t shadowX = 0, shadowY = 0;
    uint32_t colour = 0, shadowColour = 0, edgeColour = 0;  // 0xRRGGBB
    // Alpha bytes: 0 opaque .. 255 invisible.
    uint32_t colourT = 0, shadowT = 0, edgeT = 0;
    // A gradient or texture image of S's size that gives the shape's pixels.
    qbBitmap* source = nullptr;
};

void CompositeAntialiasedShape(const qbAACompose& c);
