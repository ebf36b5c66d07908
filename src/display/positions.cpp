// Resolving position constants. The x constants are not recognised on the y
// axis and the reverse: a y of LEFT stays -90000.
#include "display/positions.h"

#include <algorithm>
#include <cmath>

#include "core/numbers.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"

namespace {

enum class Edge { Centre, Near, Far, NearOut, FarOut };

struct Band {
    int32_t value;
    Edge edge;
};

constexpr Band kXBands[] = {
    {kPositionCenter, Edge::Centre}, {kPositionLeft, Edge::Near},        {kPositionRight, Edge::Far},
    {kPositionLeftOut, Edge::NearOut}, {kPositionRightOut, Edge::FarOut},
};
constexpr Band kYBands[] = {
    {kPositionCenter, Edge::Centre}, {kPositionTop, Edge::Near},          {kPositionBottom, Edge::Far},
    {kPositionTopOut, Edge::NearOut}, {kPositionBottomOut, Edge::FarOut},
};

int64_t TruncateProduct(int32_t size, double anchor) {
    const double product = static_cast<double>(size) * anchor;
    if (std::isnan(product)) return 0;
    return static_cast<int64_t>(std::clamp(product, double{INT32_MIN}, double{INT32_MAX}));
}

int32_t Resolve(int32_t v, int32_t size, int32_t container, double anchor, const Band (&bands)[5], bool horizontal) {
    const Band* band = std::find_if(std::begin(bands), std::end(bands), [v](const Band& b) {
        return v >= b.value - kPositionBand && v <= b.value + kPositionBand;
    });
    if (band == std::end(bands)) return v;
    int64_t origin = 0;
    int64_t box = container;
    if (container == 0) {
        const qbOutputView out = GetCurrentOutput();
        if (const qbClipRegionObject* r = out.clip ? *out.clip : nullptr) {
            origin = horizontal ? r->x : r->y;
            box = horizontal ? r->width : r->height;
        } else {
            box = horizontal ? out.width : out.height;
        }
    }
    const int64_t add = origin + TruncateProduct(size, anchor);
    const int64_t offset = int64_t{v} - band->value;
    int64_t result = 0;
    switch (band->edge) {
    case Edge::Centre: result = (box - size) / 2 + offset + add; break;
    case Edge::Near: result = offset + add; break;
    case Edge::Far: result = box - size + offset + add; break;
    case Edge::NearOut: result = offset - size + add; break;
    case Edge::FarOut: result = box + offset + add; break;
    }
    return SaturateToInt32(result);
}

}  // namespace

int32_t ResolveSpecialX(int32_t x, int32_t size, int32_t containerWidth, double anchorX) {
    return Resolve(x, size, containerWidth, anchorX, kXBands, true);
}

int32_t ResolveSpecialY(int32_t y, int32_t size, int32_t containerHeight, double anchorY) {
    return Resolve(y, size, containerHeight, anchorY, kYBands, false);
}
