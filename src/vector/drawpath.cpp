// DrawPath, ForcePathUse and the shapes' route through temporary paths.
#include "vector/drawpath.h"

#include <cmath>
#include <memory>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "draw/draw.h"
#include "vector/engine.h"
#include "vector/geometry.h"
#include "vector/path.h"
#include "vector/pathrender.h"
#include "vm/vm.h"

namespace {

int Arc(qbPath* path, double xc, double yc, double rx, double ry, double start, double end, int32_t direction) {
    return AppendPathCommand(path, QB_PATH_ARC,
                             {qbPathArg::Double(xc), qbPathArg::Double(yc), qbPathArg::Double(rx),
                              qbPathArg::Double(ry), qbPathArg::Double(start), qbPathArg::Double(end),
                              qbPathArg::Int(direction)});
}

int Point(qbPath* path, int32_t code, double x, double y) {
    return AppendPathCommand(path, code, {qbPathArg::Int(0), qbPathArg::Double(x), qbPathArg::Double(y)});
}

// The commands the table of shapes gives each type; other types add none.
int BuildShape(qbPath* path, const qbShapePathCall& c) {
    const double w = c.width, h = c.height;
    switch (c.type) {
        case 14: {
            const int32_t* k = c.corners;
            return AppendPathCommand(path, QB_PATH_BOX,
                                     {qbPathArg::Double(0), qbPathArg::Double(0), qbPathArg::Double(w),
                                      qbPathArg::Double(h), qbPathArg::Int(k[0]), qbPathArg::Int(k[1]),
                                      qbPathArg::Int(k[2]), qbPathArg::Int(k[3])});
        }
        case 15: return Arc(path, w, w, w, w, 0, 360, 1);
        case 16: return Arc(path, w, h, w, h, 0, 360, 1);
        case 27: {
            if (!c.points || c.points->empty()) return 0;
            const std::vector<qbPointD>& pts = *c.points;
            if (int err = Point(path, QB_PATH_MOVE, pts[0].x, pts[0].y)) return err;
            for (size_t i = 1; i < pts.size(); ++i)
                if (int err = Point(path, QB_PATH_LINE, pts[i].x, pts[i].y)) return err;
            return 0;
        }
        case 31:
            if (int err = Point(path, QB_PATH_MOVE, w, h)) return err;
            return Arc(path, w, h, w, h, c.startAngle, c.endAngle, c.direction);
        default: return 0;
    }
}

// Whether every coordinate of the shape's path stays within what the path
// geometry holds unclamped: a larger one would be drawn squashed, or, a
// pie's centre and rim clamped to one point, not at all.
bool FitsPathGeometry(const qbShapePathCall& c) {
    const auto fits = [](double v) { return std::fabs(v) <= kMaxCoordinate; };
    switch (c.type) {
        case 14: return fits(c.width) && fits(c.height);
        case 15:
        case 16:
        case 31: return fits(2 * c.width) && fits(2 * c.height);
        case 27:
            if (c.points)
                for (const qbPointD& p : *c.points)
                    if (!fits(p.x) || !fits(p.y)) return false;
            return true;
        default: return true;
    }
}

uint32_t ColourArg(ScriptState* L, int idx) {
    const double c = VmOptNumber(L, idx, 0);
    return c <= 0 || c != c ? 0u : c >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(c);
}

}  // namespace

int DrawPathInternal(ScriptState* L, ObjectID id, int32_t x, int32_t y, uint32_t colour, int optArg,
                     bool temporary, double rotate) {
    qbPath* path = nullptr;
    if (int err = GetPath(id, &path)) return err;
    qbPathRequest r;
    r.hasId = !temporary;
    r.id = IDOf(*path);
    r.commands = path->commands.get();
    r.capacity = path->capacity;
    r.colour = colour;
    qbVectorEngine* engine = ActiveVectorEngine();
    r.engine = IsInbuiltVectorEngine(engine) ? nullptr : engine;
    r.style = SnapshotPathStyle(*GetDrawState());
    // A shape's outline reaches as far past its corners as the shape
    // renderer's round pen does, half the line width: a pie's apex is as
    // sharp as its span is narrow, and a mitred apex reaches out
    // (1 / sin(span / 2)) line widths, a spike across the display for a
    // degree's span, where a bevel would stop short at the centre.
    if (temporary && r.style.join == QB_JOIN_MITER) r.style.join = QB_JOIN_ROUND;
    r.rotate = optArg > 0 ? 0 : rotate;
    return RenderPath(L, nullptr, nullptr, x, y, &r, nullptr, nullptr, 0, nullptr, optArg);
}

int RenderShapeAsPath(ScriptState* L, const qbShapePathCall& call) {
    // Too large for the path road, as for the plain road's pictures.
    if (!FitsPathGeometry(call)) return ERR_BITMAP;
    qbPath* path = nullptr;
    NewObjectID id;
    id.chooseFlag = 1;
    if (int err = AddPath(L, id, &path)) return err;
    int err = BuildShape(path, call);
    if (!err) err = AppendPathCommand(path, QB_PATH_CLOSE, {});
    if (!err) err = DrawPathInternal(L, IDOf(*path), call.x, call.y, call.colour, call.optArg, true, call.rotate);
    FreePath(L, path);
    return err;
}

int cmdDrawPath(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const int32_t x = ClampToInt32(VmCheckNumber(L, 2));
    const int32_t y = ClampToInt32(VmCheckNumber(L, 3));
    return DrawPathInternal(L, id, x, y, ColourArg(L, 4), 5);
}

int cmdForcePathUse(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    SetShapePathForced(GetFlagArg(L, 1, false));
    return 0;
}
