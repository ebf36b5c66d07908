// The path renderer: a path's command stream, with the line style and draw
// state it was drawn under, measured and rasterised by a vector engine into
// a coverage plane, filled, given its shadow and edge, and then placed on
// the current output, added as a layer, or handed back to a layer caller.
#pragma once

#include <cstdint>
#include <memory>

#include "vector/path.h"

struct ScriptState;
struct qbBitmap;
struct qbLayer;
struct qbLayerState;
struct qbTransformOptions;
struct qbLayerOptions;
struct qbVectorEngine;
struct qbCoverageRows;

// One drawing of a path. A fresh request points at the path's own stream;
// a layer keeps a deep copy (ClonePathRequest) that owns its stream and
// dash array so that it outlives the path.
struct qbPathRequest {
    // A path layer's copy keeps in words 0 and 1 its layer's position from
    // x, y (see kPathLayerOffsetX).
    int32_t layerWords[14] = {};
    // Where the drawing's anchor point went and the layout size, written by
    // the renderer.
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t moreLayerWords[10] = {};
    uint8_t* commands = nullptr;
    int32_t capacity = 0;
    qbPathStyle style;
    uint32_t colour = 0;  // $RRGGBB; the byte above is the transparency
    qbVectorEngine* engine = nullptr;  // null: the inbuilt one
    // Degrees the drawing turns about its middle when no option table
    // gives its transform (a shape command's rotation argument).
    double rotate = 0;
    // The path drawn, which a layer of it names; none for temporary paths.
    bool hasId = false;
    ObjectID id;
    // Owned by a deep copy only.
    std::shared_ptr<uint8_t[]> ownedCommands;
    std::shared_ptr<double[]> ownedDashes;
};

// Words of a layer's copy: where the layer's anchor point lies from the
// drawing's x, y (the layer moves; the path's extents stay).
enum { kPathLayerOffsetX = 0, kPathLayerOffsetY = 1 };

// A copy that owns its command stream and dash array. ERR_MEM.
int ClonePathRequest(const qbPathRequest& source, std::shared_ptr<qbPathRequest>* out);

// What an images-only call hands back; the caller owns the planes.
struct qbPathImages {
    qbBitmap* bitmap = nullptr;
    void* unused = nullptr;
    qbBitmap* alpha = nullptr;
    int32_t x = 0, y = 0;  // the image's corner from the anchor point
    int32_t width = 0, height = 0;
    // Inputs of a border pass: set for every border pass, and unfilled
    // when the path was drawn without a fill (its inside stays open).
    int32_t borderPass = 0;
    int32_t unfilled = 0;
};

// RenderPath flags.
enum : uint32_t {
    kPathHidden = 1,        // nothing blitted; a new layer starts hidden
    kPathRedraw = 8,        // a layer drawn again: its transform resized
    kPathIntoState = 16,    // the images replace those of the given state
    kPathDisplayScaled = 64,  // offsets multiplied by the display's factors
};

// 0 or ERR_EMPTYPATH, ERR_BITMAP, ERR_ALLOCALPHA, ERR_DRAWPATH, ERR_MEM,
// or the error of the option parser, the output target, the font handles
// or the layer code; nothing made is kept on failure. topts and lopts may
// be null (the option table at optArg, or the defaults, are read then).
int RenderPath(ScriptState* L, qbLayer* layer, qbLayerState* state, int32_t x, int32_t y, qbPathRequest* request,
               qbTransformOptions* topts, qbLayerOptions* lopts, uint32_t flags, qbPathImages* images, int optArg);

// The border pass of a path layer: the path stroked at twice size in
// colour (a filled path keeps its inside covered) under the layer's
// transform, the display's factors fx, fy folded into its scale. New
// images the caller owns.
int RenderPathLayerBorder(ScriptState* L, const qbTransformOptions& layerTransform, const qbPathRequest& request,
                          uint32_t colour, int32_t size, double fx, double fy, qbPathImages* out);

// The fill of a path's colour image: the gradient over all of it, the
// texture tiled (scaled under a pure-scale matrix), or the colour.
int FillPathCoverage(ScriptState* L, const qbPathRequest& request, qbBitmap* bitmap, int32_t width, int32_t height,
                     uint32_t colour, const double* matrix);

// The engine's DrawPath into the alpha plane (rows from the plane). With
// the engine's vector extension x0, y0 go as 0 and x1, y1 as the offsets.
// True on success.
bool CallDrawPathHook(const qbPathRequest& request, int filled, int32_t strokeWidth, const double* matrix,
                      qbBitmap* alpha, int32_t width, int32_t height, double x0, double y0, double x1, double y1);
// The inbuilt engine's raster of the same call (the plane's size) handed
// over a row at a time instead (DrawPathRows). True on success.
bool CallDrawPathRows(const qbPathRequest& request, int filled, int32_t strokeWidth, const double* matrix,
                      int32_t width, int32_t height, double x0, double y0, const qbCoverageRows& rows);
// The engine's extents of the stream; false when it reports none.
bool CallGetPathExtents(qbVectorEngine* engine, const uint8_t* commands, const qbPathStyle& style, int filled,
                        int32_t strokeWidth, const double* matrix, double* x1, double* y1, double* x2, double* y2,
                        double originX, double originY);

// Whole pixels in 64 bits: values no bitmap could reach are clamped (so
// that sums and differences of two stay in range), and NaN counts as 0.
int64_t FloorToPixel(double v);
int64_t CeilToPixel(double v);

// The box (x, y, width, height) turned by the matrix {a, b, c, d} about the
// point at the pivot fractions of its size: the corner of the turned box
// and its size, in 64 bits.
struct qbBoxExtents {
    int64_t x = 0, y = 0, width = 0, height = 0;
};
qbBoxExtents TransformedBoxExtents(const double matrix[4], double pivotX, double pivotY, double x, double y,
                                   double width, double height);
// The same for count points (x, y pairs) about the pivot point; with
// moveToOrigin the points are moved so that the smallest lands on 0, 0.
qbBoxExtents TransformPointsExtents(const double matrix[4], double* points, int32_t count, bool moveToOrigin,
                                    double pivotX, double pivotY);
