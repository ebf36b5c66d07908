// The filter table: names, argument kinds and defaults, and the parser.
#include "objects/layerfilters.h"

#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "vm/vm.h"

namespace {

enum Kind : uint8_t { kEnd = 0, kInt, kPercent, kFloat };

struct FilterInfo {
    const char* name;
    Kind kinds[6];
    double defaults[6];
};

const FilterInfo kFilters[kFilterSlots] = {
    {"blur", {kFloat}, {5}},
    {"charcoal", {kFloat}, {2}},
    {"contrast", {kInt, kInt}, {1, 1}},
    {"edge", {kFloat}, {5}},
    {"emboss", {kFloat}, {5}},
    {"gamma", {kFloat, kFloat, kFloat}, {1, 1, 1}},
    {"grayscale", {}, {}},
    {"invert", {}, {}},
    {"modulate", {kFloat, kFloat, kFloat}, {100, 100, 100}},
    {"monochrome", {kInt}, {1}},
    {"oilpaint", {kFloat}, {2}},
    {"pixelate", {kInt}, {10}},
    {"sepiatone", {kPercent}, {204}},
    {"sharpen", {kFloat}, {5}},
    {"solarize", {kPercent}, {128}},
    {"swirl", {kInt}, {180}},
    {"tint", {kInt, kPercent}, {0xFFFFFF, 128}},
    {"waterripple", {kInt, kInt, kInt, kFloat, kFloat}, {32, 1, 0, 0.5, 0.5}},
    {"xflip", {}, {}},
    {"yflip", {}, {}},
    {"quantize", {kInt, kInt}, {256, 1}},
};

int32_t Truncate(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int32_t>(std::fmax(std::fmin(std::trunc(v), 2147483647.0), -2147483648.0));
}

int FindFilter(const char* name) {
    for (int i = 0; i < kFilterSlots; ++i)
        if (StrCmpNoCase(name, kFilters[i].name) == 0) return i;
    return -1;
}

int Fail(int code, const char* detail) {
    SetErrorDetail(detail);
    return code;
}

// The entry on the stack top; its slot is written only when it parses whole.
int ParseEntry(ScriptState* L, int entryIndex, qbFilterSet* filters) {
    const int t = VmGetTop(L);
    if (VmType(L, t) != kTypeTable) return Fail(ERR_TABEXPECTED2, "filters");
    const char* name = nullptr;
    VmPushString(L, "name");
    IndexOptionTable(L, t);
    const int nameType = VmType(L, -1);
    VmSetTop(L, t);
    if (nameType == kTypeNil) return Fail(ERR_NOFILTERNAME, std::to_string(entryIndex).c_str());
    if (nameType != kTypeString) return Fail(ERR_STRTABLEARG, "name");
    GetTableFieldString(L, t, "name", &name, nullptr);
    const int index = FindFilter(name);
    if (index < 0) return Fail(ERR_UNKNOWNFILTER, name);
    qbFilterSlot slot = filters->slot[index];
    int32_t disable = 0;
    if (GetTableFieldInt(L, t, "disable", &disable, nullptr)) {
        slot.enabled = disable == 0 ? 1 : 0;
        if (!slot.enabled) {
            filters->slot[index] = slot;
            return 0;
        }
    } else {
        slot.enabled = 1;
    }
    double priority = 0;
    GetTableFieldFloat(L, t, "priority", &priority, nullptr);
    slot.priority = static_cast<uint8_t>(Truncate(priority) & 0xFF);

    const FilterInfo& info = kFilters[index];
    VmPushString(L, "args");
    IndexOptionTable(L, t);
    const int args = VmGetTop(L);
    const bool haveArgs = VmType(L, args) != kTypeNil;
    if (haveArgs && VmType(L, args) != kTypeTable) {
        VmSetTop(L, t);
        SetErrorArgIndex(0);
        return ERR_TABEXPECTED;
    }
    int nextInt = 0, nextFloat = 0, k = 0;
    bool taking = haveArgs;
    for (; k < 6 && info.kinds[k] != kEnd; ++k) {
        double value = info.defaults[k];
        if (taking) {
            VmRawGetIndex(L, args, k);
            const int type = VmType(L, -1);
            if (type == kTypeNil) {
                taking = false;
            } else if (info.kinds[k] == kPercent && type == kTypeString) {
                // The argument reader names the position of the offending value.
                value = GetNumberOrPercentArg(L, VmGetTop(L), 255, 0, nullptr);
            } else if (type != kTypeNumber) {
                VmSetTop(L, t);
                return Fail(ERR_NUMTABLEARG, "args");
            } else {
                value = VmToNumber(L, -1);
            }
            VmSetTop(L, args);
        }
        if (info.kinds[k] == kFloat)
            slot.floats[nextFloat++] = static_cast<float>(value);
        else
            slot.ints[nextInt++] = Truncate(value);
    }
    VmSetTop(L, t);
    filters->slot[index] = slot;
    return 0;
}

}  // namespace

int ParseLayerFilters(ScriptState* L, int tableIndex, qbFilterSet* filters, int* found, int* error) {
    *error = 0;
    const int top = VmGetTop(L);
    VmPushString(L, "filters");
    IndexOptionTable(L, tableIndex);
    const int list = VmGetTop(L);
    if (VmType(L, list) == kTypeNil) {
        VmSetTop(L, top);
        return 0;
    }
    if (VmType(L, list) != kTypeTable) {
        VmSetTop(L, top);
        *error = Fail(ERR_TABEXPECTED2, "filters");
        return 0;
    }
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, list, i);
        if (VmType(L, -1) == kTypeNil) break;
        if (int err = ParseEntry(L, i, filters)) {
            VmSetTop(L, top);
            *error = err;
            return 0;
        }
        VmSetTop(L, list);
    }
    VmSetTop(L, top);
    if (found) *found = 1;
    return 1;
}

const char* LayerFilterName(int slot) { return slot >= 0 && slot < kFilterSlots ? kFilters[slot].name : ""; }

int LayerFilterArgKind(int slot, int arg) {
    if (slot < 0 || slot >= kFilterSlots || arg < 0 || arg >= 6) return kEnd;
    return kFilters[slot].kinds[arg];
}

bool HasActiveFilters(const qbFilterSet& filters) {
    for (const qbFilterSlot& s : filters.slot)
        if (s.enabled) return true;
    return false;
}

bool HasGeometricFilters(const qbFilterSet& filters) {
    for (int i : {kFilterPixelate, kFilterSwirl, kFilterWaterRipple, kFilterXFlip, kFilterYFlip})
        if (filters.slot[i].enabled) return true;
    return false;
}
