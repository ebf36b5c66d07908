// TransformClipRegion: masks go through the object-image transform, boxes
// are scaled or filled as turned polygons.
#include "objects/cliptransform.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/polygonfill.h"
#include "imaging/bitmap.h"
#include "imaging/geometry.h"
#include "objects/objecttransform.h"

namespace {

// Truncated toward zero after the rounding noise of a turn is taken off
// (cos 90 degrees is not quite 0), as the anchored bounds do.
int32_t Coordinate(double v) {
    const double whole = std::round(v);
    return ClampToInt32(std::trunc(std::fabs(v - whole) < 1e-9 ? whole : v));
}

// The corner helper reads its matrix by rows, the layer's is by columns.
void Transpose(const double m[4], double out[4]) {
    out[0] = m[0];
    out[1] = m[2];
    out[2] = m[1];
    out[3] = m[3];
}

bool IsPlainScale(const double m[4]) { return m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0; }

struct Shape {
    qbRect box;
    BitmapPtr mask;  // width x height of box, or none for a plain box
};

// The box's four corners turned about the anchor (relative to the bounding
// box placed at x, y), filled into a mask of that box cut to limit: a turn
// of a large box never asks for a mask far bigger than the picture.
int FillTurnedBox(const qbClipRegionObject& r, const double anchor[2], const double byRows[4], int32_t x, int32_t y,
                  const qbRect& limit, Shape* out) {
    double tx[4], ty[4];
    GetAnchoredTransformCorners(r.width, r.height, anchor[0], anchor[1], byRows, tx, ty);
    const qbRect own = GetAnchoredTransformBounds(0, 0, r.width, r.height, anchor[0], anchor[1], byRows);
    const qbRect cut = IntersectRects(qbRect{x, y, own.width, own.height}, limit);
    out->box = cut;
    if (cut.width < 1 || cut.height < 1) return 0;
    out->mask.reset(AllocMask(nullptr, cut.width, cut.height, true, nullptr, 0));
    if (!out->mask) return ERR_ALLOCMASK;
    // Corners are counted from the box's least corner, so that a box with
    // corners on half pixels fills as many rows as its bounds have.
    const double minX = std::min({tx[0], tx[1], tx[2], tx[3]}), minY = std::min({ty[0], ty[1], ty[2], ty[3]});
    const double dx = static_cast<double>(x) - cut.x, dy = static_cast<double>(y) - cut.y;
    qbPolygonPoint points[4];
    for (int i = 0; i < 4; ++i)
        points[i] = {ClampToInt32(Coordinate(tx[i] - minX) + dx), ClampToInt32(Coordinate(ty[i] - minY) + dy)};
    int32_t work[4];
    FillPolygonMask(out->mask.get(), points, 4, work);
    return 0;
}

// The shape cut to limit (its mask copied when the cut takes anything off).
int CutShape(Shape* shape, const qbRect& limit) {
    const qbRect cut = IntersectRects(shape->box, limit);
    if (cut.x == shape->box.x && cut.y == shape->box.y && cut.width == shape->box.width &&
        cut.height == shape->box.height)
        return 0;
    BitmapPtr mask;
    if (shape->mask && cut.width > 0 && cut.height > 0) {
        mask.reset(AllocMask(nullptr, cut.width, cut.height, true, nullptr, 0));
        if (!mask) return ERR_ALLOCMASK;
        BlitMaskRect(shape->mask.get(), cut.x - shape->box.x, cut.y - shape->box.y, mask.get(), 0, 0, cut.width,
                     cut.height, kMaskVanillaCopy, nullptr, 0);
    }
    shape->box = cut;
    shape->mask = std::move(mask);
    return 0;
}

}  // namespace

int TransformClipRegion(ScriptState* L, const qbClipRegionObject* region, const qbClipTransform& t,
                        qbClipRegionObject** out) {
    *out = nullptr;
    const qbDisplay* d = GetCurrentDisplay();
    const double sx = d ? d->scaleX : 1.0, sy = d ? d->scaleY : 1.0;
    const double scaling[4] = {sx, 0, 0, sy};
    const double* m = t.displayScaling ? scaling : t.matrix;
    const double anchor[2] = {t.anchorX, t.anchorY};

    // What the blits may reach: the picture, as big as the display shows it
    // (its base size at the display's scale).
    qbRect limit{0, 0, INT32_MAX, INT32_MAX};
    if (const qbBGPic* b = GetCurrentBGPic())
        limit = {0, 0, ClampToInt32(b->baseWidth * (t.displayScaling ? sx : 1.0)),
                 ClampToInt32(b->baseHeight * (t.displayScaling ? sy : 1.0))};

    // Under the display's scale a region goes where the display puts its
    // corner; a turned box, and any region asked to keep its place, where
    // the second matrix puts it under that scale; the others where their
    // own transform does.
    const bool turned = !region->mask && !IsPlainScale(m);
    const bool placed = t.displayScaling || turned || t.keepPosition;
    int32_t placedX = ClampToInt32(std::trunc(region->x * sx)), placedY = ClampToInt32(std::trunc(region->y * sy));
    if (!t.displayScaling && placed) {
        double byRows[4];
        Transpose(t.positionMatrix, byRows);
        const qbRect box = GetAnchoredTransformBounds(region->x, region->y, region->width, region->height, anchor[0],
                                                      anchor[1], byRows);
        placedX = ClampToInt32(std::trunc(box.x * sx));
        placedY = ClampToInt32(std::trunc(box.y * sy));
    }

    Shape shape;
    if (turned) {
        double byRows[4];
        Transpose(m, byRows);
        if (int err = FillTurnedBox(*region, anchor, byRows, placedX, placedY, limit, &shape)) return err;
    } else {
        if (region->mask) {
            qbObjectImage made;
            const qbObjectImage source{nullptr, region->mask, nullptr};
            qbRect& b = shape.box;
            if (int err = TransformObjectImage(L, false, nullptr, source, 0, 0, region->x, region->y, region->width,
                                               region->height, anchor, m, false, &made, &b.x, &b.y, &b.width,
                                               &b.height))
                return err;
            shape.mask.reset(made.mask);
            made.mask = nullptr;
            FreeObjectImage(&made);
        } else {
            shape.box = {ClampToInt32(std::trunc(region->x * m[0])), ClampToInt32(std::trunc(region->y * m[3])),
                         ClampToInt32(std::trunc(region->width * m[0])),
                         ClampToInt32(std::trunc(region->height * m[3]))};
        }
        if (placed) {
            shape.box.x = placedX;
            shape.box.y = placedY;
        }
    }
    if (int err = CutShape(&shape, limit)) return err;

    std::unique_ptr<qbClipRegionObject> made;
    try {
        made = std::make_unique<qbClipRegionObject>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    made->type = kObjectTypeClipRegion;
    made->handle = made.get();
    made->temporary = 1;
    made->x = shape.box.x;
    made->y = shape.box.y;
    made->width = std::max(shape.box.width, 0);
    made->height = std::max(shape.box.height, 0);
    if (made->width == 0 || made->height == 0) made->x = made->y = made->width = made->height = 0;
    if (shape.mask && made->width > 0) {
        made->maskRowBytes = static_cast<int32_t>(shape.mask->plane->rowBytes);
        made->mask = shape.mask.release();
    }
    if (int err = AppendClipRegion(made.get())) return err;
    *out = made.release();
    return 0;
}
