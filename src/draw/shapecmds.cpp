// Box, Circle, Ellipse, Arc, Polygon and Line: the script's arguments read
// and checked, a shape descriptor built, and the road it takes chosen.
#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "draw/pathroute.h"
#include "draw/shape.h"
#include "objects/objectoptions.h"
#include "vm/vm.h"

namespace {

// A whole number argument; NaN and infinities are refused rather than
// turned into some pixel.

uint32_t ColourArg(ScriptState* L, int idx) {
    const double c = VmOptNumber(L, idx, 0);
    return c <= 0 || c != c ? 0u : c >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(c);
}

bool IsTableArg(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) == kTypeTable; }
bool IsNumberArg(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) == kTypeNumber; }

// The option slot: a table read into the records, or a number (returned
// in *number) with an optional rotation after it.
struct Options {
    qbTransformOptions t;
    qbLayerOptions l;
    bool hasNumber = false;
    double number = 0;
};

int ReadOptions(ScriptState* L, int slot, int32_t width, int32_t height, uint32_t parseFlags, int rotationSlot,
                Options* o) {
    if (IsTableArg(L, slot))
        return ParseDisplayObjectOptions(L, slot, width, height, 0, 0, 0, &o->t, &o->l, kOptReset | parseFlags);
    ResetDisplayObjectOptions(&o->t, &o->l, 0, 0, 0, 0);
    if (IsNumberArg(L, slot)) {
        o->hasNumber = true;
        o->number = VmToNumber(L, slot);
        if (!std::isfinite(o->number)) return ERR_WRONGUSAGE;
    }
    if (rotationSlot && IsNumberArg(L, rotationSlot)) {
        const double angle = VmToNumber(L, rotationSlot);
        if (!std::isfinite(angle)) return ERR_WRONGUSAGE;
        BuildScaleRotateMatrix(o->t.matrix, 0, 0, width, height, 1.0, 1.0, std::fmod(angle, 360.0));
        o->t.rotate = std::fmod(angle, 360.0);
    }
    return 0;
}

bool Antialiased(const qbDrawState* s) { return (s->formStyle & kFormAntialias) != 0; }

// The conic road for curved anti-aliased shapes of current applets.
bool ConicRoad(const qbDrawState* s) { return Antialiased(s) && !LineBasedShapes() && RequireAppletVersion(6, 0); }

// What every shape command hands the renderer, the box and the road
// still to be set.
qbShape ShapeFor(int32_t type, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, uint32_t colour,
                 qbTransformOptions* topts, qbLayerOptions* lopts, qbShapeOutput* out) {
    qbShape s;
    s.type = type;
    s.x = x;
    s.y = y;
    s.colour = colour;
    s.state = state;
    s.topts = topts;
    s.lopts = lopts;
    s.layer = layer;
    s.out = out;
    return s;
}

// An ellipse's box from its radii, in 64 bits: false when no bitmap could
// be that large.
bool SetEllipseBox(qbShape* s, int32_t radiusX, int32_t radiusY) {
    const int64_t w = 2 * int64_t{radiusX} + 1, h = 2 * int64_t{radiusY} + 1;
    if (w > INT32_MAX || h > INT32_MAX) return false;
    s->width = static_cast<int32_t>(w);
    s->height = static_cast<int32_t>(h);
    s->radiusX = radiusX;
    s->radiusY = radiusY;
    return true;
}

// The path route's call for a shape command, or null while it is off.
qbShapePathCall PathCall(int32_t type, int32_t x, int32_t y, uint32_t colour, int optArg, double width,
                         double height, const Options& o) {
    qbShapePathCall c;
    // A rotation argument turns the shape on both roads; an option table
    // the route reads itself.
    if (!optArg) c.rotate = o.t.rotate;
    c.type = type;
    c.x = x;
    c.y = y;
    c.colour = colour;
    c.optArg = optArg;
    c.width = width;
    c.height = height;
    return c;
}

}  // namespace

int DrawBoxShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t width,
                 int32_t height, const int32_t corners[4], uint32_t colour, qbTransformOptions* topts,
                 qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out) {
    qbShape s = ShapeFor(kShapeBox, layer, state, x, y, colour, topts, lopts, out);
    s.width = width;
    s.height = height;
    std::copy(corners, corners + 4, s.corners);
    ClampCorners(s.corners);
    const bool rounded = ShapeIsCurved(s);
    if (rounded || !IsIdentityMatrix(topts->matrix) || (state->fillStyle == FILLNONE && state->lineWidth >= 2))
        s.path = kShapePathPoints;
    else
        s.path = Antialiased(state) ? kShapePathPoints : kShapePathDirect;
    if (rounded && ConicRoad(state)) s.path = kShapePathConic;
    return RenderShape(L, &s, flags);
}

int DrawEllipseShape(ScriptState* L, qbLayer* layer, int32_t type, const qbDrawState* state, int32_t x, int32_t y,
                     int32_t radiusX, int32_t radiusY, uint32_t colour, qbTransformOptions* topts,
                     qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out) {
    qbShape s = ShapeFor(type, layer, state, x, y, colour, topts, lopts, out);
    if (!SetEllipseBox(&s, radiusX, radiusY)) return ERR_BITMAP;
    s.path = ConicRoad(state) ? kShapePathConic : kShapePathPoints;
    return RenderShape(L, &s, flags);
}

void ReduceArcAngles(int32_t* startAngle, int32_t* endAngle, int32_t* clockwise) {
    // Reduced, the outline's turn-by-turn raising stays short too.
    const int64_t span = int64_t{*endAngle} - *startAngle;
    if (span >= 360 || span <= -360) {
        *startAngle = 0;
        *endAngle = 360;
        *clockwise = 1;
        return;
    }
    const int64_t start = ((int64_t{*startAngle} % 360) + 360) % 360;
    *startAngle = static_cast<int32_t>(start);
    *endAngle = static_cast<int32_t>(start + span);
    if (*endAngle < 0) {
        *startAngle += 360;
        *endAngle += 360;
    }
}

int DrawArcShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t radiusX,
                 int32_t radiusY, int32_t startAngle, int32_t endAngle, int32_t clockwise, uint32_t colour,
                 qbTransformOptions* topts, qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out) {
    if (startAngle == endAngle) return 0;
    ReduceArcAngles(&startAngle, &endAngle, &clockwise);
    qbShape s = ShapeFor(kShapeArc, layer, state, x, y, colour, topts, lopts, out);
    if (!SetEllipseBox(&s, radiusX, radiusY)) return ERR_BITMAP;
    s.startAngle = startAngle;
    s.endAngle = endAngle;
    s.clockwise = clockwise ? 1 : 0;
    s.path = ConicRoad(state) ? kShapePathConic : kShapePathPoints;
    return RenderShape(L, &s, flags);
}

int DrawPolygonShape(ScriptState* L, qbLayer* layer, const qbDrawState* state, int32_t x, int32_t y, int32_t width,
                     int32_t height, const std::vector<qbPointD>& points, uint32_t colour, qbTransformOptions* topts,
                     qbLayerOptions* lopts, uint32_t flags, qbShapeOutput* out) {
    qbShape s = ShapeFor(kShapePolygon, layer, state, x, y, colour, topts, lopts, out);
    s.path = kShapePathPoints;
    s.width = width;
    s.height = height;
    s.points = points;
    return RenderShape(L, &s, flags);
}

int ParsePolygonPoints(ScriptState* L, int tableArg, int32_t count, qbPolygonPoints* out) {
    *out = {};
    std::vector<qbPointD>& pts = out->points;
    pts.reserve(kMaxPolygonPoints + 1);
    double minX = 0, minY = 0;
    int64_t loX = 0, loY = 0, hiX = 0, hiY = 0;
    const auto number = [&](int index, bool* isNil, double* v) {
        VmRawGetIndex(L, tableArg, index);
        const int type = VmType(L, -1);
        *isNil = type == kTypeNil;
        *v = type == kTypeNumber ? VmToNumber(L, -1) : 0;
        VmSetTop(L, -2);
        return type == kTypeNumber;
    };
    for (int32_t k = 0; count == 0 || k < count; ++k) {
        bool nil = false;
        double x = 0, y = 0;
        const bool xOk = number(2 * k, &nil, &x);
        if (count == 0 && nil) break;
        if (count == 0 && k == kMaxPolygonPoints - 1) return ERR_INTERNAL;
        const bool yOk = number(2 * k + 1, &nil, &y);
        if (!xOk || !yOk) {
            SetErrorDetail("polygon");
            return ERR_NUMTABLEARG;
        }
        if (!std::isfinite(x) || !std::isfinite(y)) return ERR_WRONGUSAGE;
        const int64_t rx = std::llround(std::clamp(x, -1e15, 1e15)), ry = std::llround(std::clamp(y, -1e15, 1e15));
        if (pts.empty()) {
            minX = x, minY = y, loX = hiX = rx, loY = hiY = ry;
        } else {
            minX = std::min(minX, x), minY = std::min(minY, y);
            loX = std::min(loX, rx), hiX = std::max(hiX, rx), loY = std::min(loY, ry), hiY = std::max(hiY, ry);
        }
        pts.push_back({x, y});
    }
    if (pts.empty()) return 0;
    if (pts.back().x != pts.front().x || pts.back().y != pts.front().y) pts.push_back(pts.front());
    for (qbPointD& p : pts) {
        p.x -= minX;
        p.y -= minY;
    }
    if (hiX - loX + 1 > INT32_MAX || hiY - loY + 1 > INT32_MAX) return ERR_BITMAP;
    out->left = ClampToInt32(std::round(minX));
    out->top = ClampToInt32(std::round(minY));
    out->width = static_cast<int32_t>(hiX + 1 - loX);
    out->height = static_cast<int32_t>(hiY + 1 - loY);
    return 0;
}

int cmdBox(ScriptState* L) {
    CheckArgCount(L, 4, 7, 0, 0);
    int32_t x = 0, y = 0, w = 0, h = 0;
    if (int err = GetFiniteIntArg(L, 1, &x)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y)) return err;
    if (int err = GetFiniteIntArg(L, 3, &w)) return err;
    if (int err = GetFiniteIntArg(L, 4, &h)) return err;
    if (w < 1 || h < 1) return ERR_WRONGUSAGE;
    const uint32_t colour = ColourArg(L, 5);
    Options o;
    if (int err = ReadOptions(L, 6, w, h, 0, 7, &o)) return err;
    int32_t corners[4] = {0, 0, 0, 0};
    if (IsTableArg(L, 6)) {
        int32_t level = 0;
        GetTableFieldInt(L, 6, "roundlevel", &level, nullptr);
        std::fill(corners, corners + 4, level);
        const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; ++i) GetTableFieldInt(L, 6, keys[i], &corners[i], nullptr);
    } else if (o.hasNumber) {
        std::fill(corners, corners + 4, ClampToInt32(o.number));
    }
    qbShapePathCall c = PathCall(kShapeBox, x, y, colour, IsTableArg(L, 6) ? 6 : 0, w, h, o);
    std::copy(corners, corners + 4, c.corners);
    ClampCorners(c.corners);
    if (int err = 0; DrawThroughPathRoute(L, c, &err)) return err;
    return DrawBoxShape(L, nullptr, GetDrawState(), x, y, w, h, corners, colour, &o.t, &o.l, 0);
}

int cmdCircle(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    int32_t x = 0, y = 0, r = 0;
    if (int err = GetFiniteIntArg(L, 1, &x)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y)) return err;
    if (int err = GetFiniteIntArg(L, 3, &r)) return err;
    if (r < 1) return ERR_WRONGUSAGE;
    const uint32_t colour = ColourArg(L, 4);
    const int32_t size = r > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * r + 1;
    Options o;
    if (int err = ReadOptions(L, 5, size, size, kOptNoRotate, 5, &o)) return err;
    if (int err = 0; DrawThroughPathRoute(L, PathCall(kShapeCircle, x, y, colour, IsTableArg(L, 5) ? 5 : 0, r, r, o), &err))
        return err;
    return DrawEllipseShape(L, nullptr, kShapeCircle, GetDrawState(), x, y, r, r, colour, &o.t, &o.l, 0);
}

int cmdEllipse(ScriptState* L) {
    CheckArgCount(L, 4, 6, 0, 0);
    int32_t x = 0, y = 0, rx = 0, ry = 0;
    if (int err = GetFiniteIntArg(L, 1, &x)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y)) return err;
    if (int err = GetFiniteIntArg(L, 3, &rx)) return err;
    if (int err = GetFiniteIntArg(L, 4, &ry)) return err;
    if (rx < 1 || ry < 1) return ERR_WRONGUSAGE;
    const uint32_t colour = ColourArg(L, 5);
    const int32_t w = rx > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * rx + 1;
    const int32_t h = ry > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * ry + 1;
    Options o;
    if (int err = ReadOptions(L, 6, w, h, 0, 6, &o)) return err;
    if (int err = 0;
        DrawThroughPathRoute(L, PathCall(kShapeEllipse, x, y, colour, IsTableArg(L, 6) ? 6 : 0, rx, ry, o), &err))
        return err;
    return DrawEllipseShape(L, nullptr, kShapeEllipse, GetDrawState(), x, y, rx, ry, colour, &o.t, &o.l, 0);
}

int cmdArc(ScriptState* L) {
    CheckArgCount(L, 6, 9, 0, 0);
    int32_t x = 0, y = 0, rx = 0, ry = 0, start = 0, end = 0;
    if (int err = GetFiniteIntArg(L, 1, &x)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y)) return err;
    if (int err = GetFiniteIntArg(L, 3, &rx)) return err;
    if (int err = GetFiniteIntArg(L, 4, &ry)) return err;
    if (int err = GetFiniteIntArg(L, 5, &start)) return err;
    if (int err = GetFiniteIntArg(L, 6, &end)) return err;
    if (rx < 1 || ry < 1 || start < 0 || end < 0) return ERR_WRONGUSAGE;
    const uint32_t colour = ColourArg(L, 7);
    const int32_t w = rx > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * rx + 1;
    const int32_t h = ry > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * ry + 1;
    Options o;
    if (int err = ReadOptions(L, 8, w, h, 0, 9, &o)) return err;
    int32_t clockwise = 1;
    if (IsTableArg(L, 8))
        GetTableFieldInt(L, 8, "clockwise", &clockwise, nullptr);
    else if (o.hasNumber)
        clockwise = o.number != 0;
    qbShapePathCall c = PathCall(kShapeArc, x, y, colour, IsTableArg(L, 8) ? 8 : 0, rx, ry, o);
    c.startAngle = start;
    c.endAngle = end;
    c.direction = clockwise;
    if (int err = 0; DrawThroughPathRoute(L, c, &err)) return err;
    return DrawArcShape(L, nullptr, GetDrawState(), x, y, rx, ry, start, end, clockwise, colour, &o.t, &o.l, 0);
}

int cmdPolygon(ScriptState* L) {
    CheckArgCount(L, 4, 6, 0, 0);
    int32_t x = 0, y = 0, count = 0;
    if (int err = GetFiniteIntArg(L, 1, &x)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y)) return err;
    if (VmType(L, 3) != kTypeTable) return ERR_TABEXPECTED;
    if (int err = GetFiniteIntArg(L, 4, &count)) return err;
    if (count < 2 || count >= kMaxPolygonPoints) return ERR_WRONGUSAGE;
    const uint32_t colour = ColourArg(L, 5);
    qbPolygonPoints pp;
    if (int err = ParsePolygonPoints(L, 3, count, &pp)) return err;
    Options o;
    if (int err = ReadOptions(L, 6, pp.width, pp.height, 0, 6, &o)) return err;
    qbShapePathCall c = PathCall(kShapePolygon, SaturatingAdd(x, pp.left), SaturatingAdd(y, pp.top), colour,
                                 IsTableArg(L, 6) ? 6 : 0, static_cast<double>(pp.points.size()), 0, o);
    c.points = &pp.points;
    if (int err = 0; DrawThroughPathRoute(L, c, &err)) return err;
    return DrawPolygonShape(L, nullptr, GetDrawState(), SaturatingAdd(x, pp.left), SaturatingAdd(y, pp.top), pp.width,
                            pp.height, pp.points, colour, &o.t, &o.l, 0);
}

int cmdLine(ScriptState* L) {
    CheckArgCount(L, 4, 7, 0, 0);
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    if (int err = GetFiniteIntArg(L, 1, &x1)) return err;
    if (int err = GetFiniteIntArg(L, 2, &y1)) return err;
    if (int err = GetFiniteIntArg(L, 3, &x2)) return err;
    if (int err = GetFiniteIntArg(L, 4, &y2)) return err;
    const uint32_t colour = ColourArg(L, 5);
    const int64_t w = std::llabs(int64_t{x2} - x1) + 1, h = std::llabs(int64_t{y2} - y1) + 1;
    const int32_t bw = static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX));
    const int32_t bh = static_cast<int32_t>(std::min<int64_t>(h, INT32_MAX));
    Options o;
    if (int err = ReadOptions(L, 6, bw, bh, kOptNoSize, 7, &o)) return err;
    int32_t thickness = 1;
    if (IsTableArg(L, 6))
        GetTableFieldInt(L, 6, "thickness", &thickness, nullptr);
    else if (o.hasNumber)
        thickness = ClampToInt32(o.number);
    return DrawLineCore(L, nullptr, GetDrawState(), x1, y1, x2, y2, colour, thickness, &o.t, &o.l, 0);
}
