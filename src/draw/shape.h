// The shape renderer and the shape cores behind Box, Circle, Ellipse, Arc,
// Polygon and Line: one descriptor per shape, measured and drawn into the
// current output (or handed to the layer system), through one of three
// roads: the direct box path, point lists through the scan engine, or
// anti-aliased conic coverage from the curved-shape service.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "draw/draw.h"
#include "draw/outline.h"

struct ScriptState;
struct qbTransformOptions;
struct qbLayerOptions;
struct qbLayer;
struct qbObjectImage;
struct qbBitmap;
struct qbShapeRestyle;

// Render flags. Other bits belong to the layer system and pass through.
enum : uint32_t {
    kShapeHidden = 1,      // the layer is hidden: nothing placed or blitted
    kShapeByRenderer = 2,  // added by the renderer when it adds a layer
    kShapeRecreate = 8,    // scale the size first, hand the given layer on
    kShapeRerender = 16,   // replace the given layer's images
};

// The roads a shape takes.
enum : int32_t { kShapePathDirect = 0, kShapePathPoints = 1, kShapePathConic = 2 };

// With flag 16 and one of these, the images come back instead of going to
// the output: the caller owns them. x, y is their top left with the shape's
// anchor point at its x, y (before the anchor is taken off).
struct qbShapeOutput {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
};

// What a shape or line layer keeps to be drawn again: the shape as the
// renderer took it (the draw state after the layer took its effects over)
// and where its untransformed image sits from the anchor point.
struct qbShapeLayerData {
    int32_t type = kShapeBox;
    qbDrawState state;
    uint32_t colour = 0;
    int32_t width = 0, height = 0;  // the shape's own size
    int32_t corners[4] = {0, 0, 0, 0};
    int32_t radiusX = 0, radiusY = 0;
    int32_t startAngle = 0, endAngle = 360;
    int32_t clockwise = 1;
    std::vector<qbPointD> points;  // a polygon's, relative to its box
    int32_t line[4] = {0, 0, 0, 0};  // a line's endpoints from its layer's x, y
    int32_t thickness = 1;
    int32_t left = 0, top = 0;  // a shape's image from its anchor point
};

struct qbShape {
    int32_t type = kShapeBox;
    int32_t path = kShapePathDirect;
    int32_t x = 0;  // as the script gave them: position constants allowed
    int32_t y = 0;
    int32_t width = 0;  // the shape's own size
    int32_t height = 0;
    int32_t radiusX = 0;
    int32_t radiusY = 0;
    std::vector<qbPointD> points;  // a polygon's, relative to its box
    int32_t startAngle = 0;
    int32_t endAngle = 360;
    int32_t corners[4] = {0, 0, 0, 0};
    int32_t clockwise = 1;
    uint32_t colour = 0;  // $RRGGBB with an alpha byte above
    const qbDrawState* state = nullptr;
    qbTransformOptions* topts = nullptr;
    qbLayerOptions* lopts = nullptr;
    qbLayer* layer = nullptr;  // the layer re-rendered (flag 16) or handed on (flag 8)
    qbShapeOutput* out = nullptr;
};

// 0 or an error code; nothing made is kept on failure.
int RenderShape(ScriptState* L, qbShape* shape, uint32_t flags);

// Circles, ellipses, arcs and boxes with a rounded corner.
bool ShapeIsCurved(const qbShape& shape);

// The factor widths drawn under the matrix are scaled by: |m00| for a pure
// scale, the square root of |det| when it turns or shears.
double MatrixWidthScale(const double matrix[4]);

// The legacy switch that sends curved anti-aliased shapes down the
// point-list road; off until the system library sets it.
bool LineBasedShapes();
void SetLineBasedShapes(bool on);

// The shape cores. layer is null for a script's call; flags as above.
int DrawBoxShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t width,
                 int32_t height, const int32_t corners[4], uint32_t colour, qbTransformOptions* topts,
                 qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out = nullptr);
// type 15 (circle) or 16 (ellipse).
int DrawEllipseShape(ScriptState* L, qbLayer* layer, int32_t type, const qbDrawState* state, int32_t x, int32_t y,
                     int32_t radiusX, int32_t radiusY, uint32_t colour, qbTransformOptions* topts,
                     qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out = nullptr);
// An arc's angles and direction as every road draws them: only the angles'
// places on the circle and the span matter, so the start comes within the
// first turn and the end keeps the span; a span of a full turn or more,
// either way, is the whole ellipse, which has no direction (0 to 360,
// clockwise). Equal angles stay equal: such an arc draws nothing.
void ReduceArcAngles(int32_t* startAngle, int32_t* endAngle, int32_t* clockwise);
int DrawArcShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t radiusX,
                 int32_t radiusY, int32_t startAngle, int32_t endAngle, int32_t clockwise, uint32_t colour,
                 qbTransformOptions* topts, qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out = nullptr);
// points relative to their box, which starts at x, y.
int DrawPolygonShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t width,
                     int32_t height, const std::vector<qbPointD>& points, uint32_t colour, qbTransformOptions* topts,
                     qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out = nullptr);
int DrawLineCore(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x1, int32_t y1, int32_t x2,
                 int32_t y2, uint32_t colour, int32_t thickness, qbTransformOptions* topts, qbLayerOptions* lopts,
                 uint32_t flags, qbShapeOutput* out = nullptr);

// A polygon's point table: count points (x, y at indices 2k, 2k + 1), or,
// with count 0, pairs until a nil x. The list comes back closed and moved
// to start at 0,0; (left, top) is where its box starts and width, height
// its size. 0, ERR_NUMTABLEARG ("polygon"), ERR_WRONGUSAGE (NaN or an
// infinity), ERR_BITMAP (a box past 32 bits) or ERR_INTERNAL (1000 pairs
// with count 0).
struct qbPolygonPoints {
    std::vector<qbPointD> points;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};
int ParsePolygonPoints(ScriptState* L, int tableArg, int32_t count, qbPolygonPoints* out);
constexpr int32_t kMaxPolygonPoints = 1000;

// Places finished images on the current output: filters and transparency,
// then the blit clipped to the BGPic and the dirty rectangle. Frees
// nothing.
void BlitShapeImages(ScriptState* L, const qbLayerOptions* lopts, qbObjectImage* image, int32_t x, int32_t y,
                     int32_t width, int32_t height);

// With layers on: EDGE and SHADOW become the layer's border and shadow, a
// thick outline a border in the shape's colour (the line width becomes 1),
// and the colour's alpha byte the layer's transparency.
void MoveDrawStyleIntoLayer(qbDrawState* state, uint32_t* colour, qbLayerOptions* lopts);
// The images become a layer of the shape's type (the layer owns them in
// every case). 0 or AddLayer's error.
// The layer keeps the shape record to draw itself again.
int AddShapeLayer(ScriptState* L, int32_t type, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qbTransformOptions* topts, qbLayerOptions* lopts, qbObjectImage* images,
                  std::shared_ptr<qbShapeLayerData> shape, uint32_t flags, qbLayer** out);
// The border pass of a shape layer: under matrix (the display's factors
// fx, fy folded in), an outline shape's outline at twice size, a filled
// shape grown by size, in colour; a layer without a shape is a plain
// rectangle of its base size. New images the caller owns, their top left
// and size. 0 or an error (ERR_WRONGUSAGE for lines).
int RenderShapeLayerBorder(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                           uint32_t colour, int32_t size, qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width,
                           int32_t* height);
// A shape layer's record, or null.
const qbShapeLayerData* ShapeLayerDataOf(const qbLayer& layer);
// The shape of data drawn with the state and colour given under t (flag
// 16): a shape with its anchor point at x, y, a line with its endpoints
// from x, y. The images and their place come back in out.
int DrawShapeRecord(ScriptState* L, const qbShapeLayerData& data, const qbDrawState& state, uint32_t colour,
                    int32_t x, int32_t y, qbTransformOptions* t, qbShapeOutput* out);

// The fill and form keys of a shape layer's style table into state:
// "formstyle" (1 alone resets; 32 and 64 switch the layer's shadow and
// border, *shadow and *border set to 1, not stored), "formstyleclear" (32
// and 64 switch them off, 0), "fillstyle", "gradientstyle",
// "gradientangle", "gradientstartcolor", "gradientendcolor" (either
// empties the stop list), with fill style 2 the centre, balance, border
// and stop keys ("gradientcolors"), "texturebrush", "texturex",
// "texturey".
// *shadow and *border stay -1 when untouched; *changed is set when a key
// was found. 0, ERR_WRONGUSAGE or the gradient reader's error.
int ReadLayerFillStyle(ScriptState* L, int tab, qbDrawState* state, int32_t* shadow, int32_t* border, bool* changed);
// The same keys from state into the table on top of the stack.
void WriteLayerFillStyle(ScriptState* L, const qbDrawState& state);
int RestyleShapeLayer(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbShapeRestyle* out);
void PushShapeLayerStyle(ScriptState* L, const qbLayer& layer);

// Installs the layers' hooks into the shape renderer.
void InstallShapeLayerHooks();

int cmdBox(ScriptState* L);
int cmdCircle(ScriptState* L);
int cmdEllipse(ScriptState* L);
int cmdArc(ScriptState* L);
int cmdLine(ScriptState* L);
int cmdPolygon(ScriptState* L);
