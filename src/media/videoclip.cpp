#include "media/videoclip.h"

#include <algorithm>
#include <climits>

namespace {

// One axis: where the picture starts, where it lands and how much shows.
void ClipAxis(int64_t at, int64_t size, int64_t area, int32_t* source, int32_t* out, int32_t* shown) {
    const int64_t cut = at < 0 ? -at : 0;
    const int64_t start = std::max<int64_t>(at, 0);
    const int64_t length = std::clamp<int64_t>(std::min(size - cut, area - start), 0, INT32_MAX);
    *source = static_cast<int32_t>(std::min<int64_t>(cut, INT32_MAX));
    *out = static_cast<int32_t>(std::min<int64_t>(start, INT32_MAX));
    *shown = static_cast<int32_t>(length);
}

}  // namespace

qbVideoClip ClipVideoRect(int32_t x, int32_t y, int32_t width, int32_t height, int32_t areaWidth, int32_t areaHeight) {
    qbVideoClip c;
    ClipAxis(x, width, areaWidth, &c.sourceX, &c.x, &c.width);
    ClipAxis(y, height, areaHeight, &c.sourceY, &c.y, &c.height);
    return c.width == 0 || c.height == 0 ? qbVideoClip{} : c;
}
