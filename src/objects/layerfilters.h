// The filter set every layer carries (and every object shown with display
// options): 21 slots in a fixed order, each switched on or off with a
// priority and its own arguments, and the parser of the script's "filters"
// table, and the order in which the filters run.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;

constexpr int kFilterSlots = 21;
enum : int {
    kFilterBlur = 0,
    kFilterCharcoal = 1,
    kFilterContrast = 2,
    kFilterEdge = 3,
    kFilterEmboss = 4,
    kFilterGamma = 5,
    kFilterGrayscale = 6,
    kFilterInvert = 7,
    kFilterModulate = 8,
    kFilterMonochrome = 9,
    kFilterOilPaint = 10,
    kFilterPixelate = 11,
    kFilterSepiaTone = 12,
    kFilterSharpen = 13,
    kFilterSolarize = 14,
    kFilterSwirl = 15,
    kFilterTint = 16,
    kFilterWaterRipple = 17,
    kFilterXFlip = 18,
    kFilterYFlip = 19,
    kFilterQuantize = 20,
};

struct qbFilterSlot {
    uint8_t reserved[2] = {0, 0};
    uint8_t enabled = 0;
    uint8_t priority = 0;
    int32_t ints[4] = {0, 0, 0, 0};
    float floats[4] = {0, 0, 0, 0};
};
static_assert(sizeof(qbFilterSlot) == 36);

struct qbFilterSet {
    qbFilterSlot slot[kFilterSlots];
};

// Reads the "filters" field of the option table at tableIndex into the set.
// 1 when a filters table was read, 0 when the field is absent or on an
// error (*error gets the code; 0 otherwise). Slots no entry names keep what
// they held.
int ParseLayerFilters(ScriptState* L, int tableIndex, qbFilterSet* filters, int* found, int* error);
// The script's name of a slot's filter, and the kind of its argument arg:
// 3 a float, 1 or 2 an integer (2 also takes "n%"), 0 past the last.
const char* LayerFilterName(int slot);
int LayerFilterArgKind(int slot, int arg);
bool HasActiveFilters(const qbFilterSet& filters);
// Pixelate, swirl, water ripple and the two flips move pixels, so borders
// and cached transforms must follow them.
bool HasGeometricFilters(const qbFilterSet& filters);

// Runs the enabled filters on the images in place, higher priorities
// first and equal ones in slot order; with geometricOnly only the filters
// that move pixels. A filter that fails leaves its image as it was and the
// next one runs. Swirl, water ripple, quantize and the dithered monochrome
// have no kernel yet and are passed over.
void ApplyLayerFilters(const qbFilterSet& filters, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                       int32_t height, bool geometricOnly);
// The filter of one slot with its arguments, as ApplyLayerFilters runs it:
// 0 or the kernel's error.
int RunLayerFilter(int slot, const qbFilterSlot& args, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha,
                   int32_t width, int32_t height);
