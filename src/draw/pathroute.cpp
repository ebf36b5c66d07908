// The shapes' path route and its switch.
#include "draw/pathroute.h"

namespace {

ShapePathRoute gRoute = nullptr;
bool gForced = false;

}  // namespace

void SetShapePathRoute(ShapePathRoute route) { gRoute = route; }
void SetShapePathForced(bool on) { gForced = on; }
ShapePathRoute ForcedShapePathRoute() { return gForced ? gRoute : nullptr; }
