// The filter set every layer carries (and every object shown with display
// options): 21 slots in a fixed order, each switched on or off with a
// priority and its own arguments, and the parser of the script's "filters"
// table. The kernels that run them arrive with the image filters.
#pragma once

#include <cstdint>

struct ScriptState;

constexpr int kFilterSlots = 21;
enum : int {
    kFilterPixelate = 11,
    kFilterSwirl = 15,
    kFilterTint = 16,
    kFilterWaterRipple = 17,
    kFilterXFlip = 18,
    kFilterYFlip = 19,
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
bool HasActiveFilters(const qbFilterSet& filters);
// Pixelate, swirl, water ripple and the two flips move pixels, so borders
// and cached transforms must follow them.
bool HasGeometricFilters(const qbFilterSet& filters);
