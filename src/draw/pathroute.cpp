// The shapes' path route and its switch.
#include "draw/pathroute.h"

#include "core/errcodes.h"
#include "draw/shape.h"

namespace {

ShapePathRoute gRoute = nullptr;
bool gForced = false;

}  // namespace

void SetShapePathRoute(ShapePathRoute route) { gRoute = route; }
void SetShapePathForced(bool on) { gForced = on; }
ShapePathRoute ForcedShapePathRoute() { return gForced ? gRoute : nullptr; }

bool DrawThroughPathRoute(ScriptState* L, const qbShapePathCall& call, int* err) {
    const ShapePathRoute route = ForcedShapePathRoute();
    if (!route) return false;
    // An arc that ends where it starts draws nothing, and succeeds; as a
    // path it would be the pie's one edge, which fills nothing.
    if (call.type == kShapeArc && call.startAngle == call.endAngle) return false;
    qbShapePathCall reduced = call;
    if (call.type == kShapeArc) ReduceArcAngles(&reduced.startAngle, &reduced.endAngle, &reduced.direction);
    *err = route(L, reduced);
    // The path road refuses a shape larger than its rasters before it draws.
    return *err != ERR_BITMAP && *err != ERR_ALLOCALPHA && *err != ERR_DRAWPATH;
}
