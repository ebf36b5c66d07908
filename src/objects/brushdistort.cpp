// The four distortion commands: their numbers go to the distortion engine
// and its bitmap and one plane replace the brush's.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/distort.h"
#include "objects/brushes.h"
#include "objects/brushgeometry.h"
#include "objects/objecttransform.h"
#include "vm/vm.h"

namespace {

// Numbers from argument 2 on, up to the method's maximum; the argument
// after the maximum is the smooth flag.
int DistortCommand(ScriptState* L, int32_t method, int maxNumbers, int minNumbers) {
    CheckArgCount(L, 1 + minNumbers, 2 + maxNumbers, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    const int top = VmGetTop(L);
    const int count = std::min(top - 1, maxNumbers);
    std::vector<double> numbers(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) numbers[static_cast<size_t>(i)] = VmCheckNumber(L, 2 + i);
    const bool smooth = top >= 2 + maxNumbers && GetFlagArg(L, 2 + maxNumbers, false);
    if (method == kDistortPerspective) {
        if (count != 8) return ERR_WRONGUSAGE;
        const double w = brush->width, h = brush->height;
        const double corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        std::vector<double> points;
        for (int p = 0; p < 4; ++p)
            points.insert(points.end(), {corners[p][0], corners[p][1], numbers[static_cast<size_t>(p * 2)],
                                         numbers[static_cast<size_t>(p * 2 + 1)]});
        numbers = std::move(points);
    }
    qbObjectImage made;
    int32_t width = 0, height = 0;
    if (int err = DistortBitmap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height, method,
                                static_cast<int32_t>(numbers.size()), numbers.data(), smooth, &made.bitmap,
                                &made.mask, &made.alpha, &width, &height))
        return err;
    ReplaceBrushImages(brush, &made, width, height);
    return 0;
}

}  // namespace

int cmdBarrelDistortBrush(ScriptState* L) { return DistortCommand(L, kDistortBarrel, 10, 3); }
int cmdPolarDistortBrush(ScriptState* L) { return DistortCommand(L, kDistortPolar, 6, 0); }
int cmdArcDistortBrush(ScriptState* L) { return DistortCommand(L, kDistortArc, 4, 0); }
int cmdPerspectiveDistortBrush(ScriptState* L) { return DistortCommand(L, kDistortPerspective, 8, 8); }
