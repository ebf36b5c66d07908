// The gradient option parsers. Stops come as one flat list of pairs,
// colour then position, from index 0; the renderer takes them in the order
// given, so they are neither sorted nor checked for order.
#include "display/gradientopts.h"

#include <algorithm>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/displaywindow.h"
#include "vm/vm.h"

namespace {

// Pushes t[index] and returns its type.
int PushIndex(ScriptState* L, int table, int index) {
    VmPushNumber(L, index);
    IndexOptionTable(L, table);
    return VmType(L, -1);
}

bool IsAbsent(int type) { return type == kTypeNil || type == kTypeNone; }

// A 0..1 fraction, NaN refused too.
int ReadFraction(ScriptState* L, int idx, const char* key, double* out) {
    double v = *out;
    if (!GetTableFieldFloat(L, idx, key, &v, nullptr)) return 0;
    if (!(v >= 0.0 && v <= 1.0)) return ERR_WRONGUSAGE;
    *out = v;
    return 0;
}

int ReadStops(ScriptState* L, int table, const char* key, qbGradient* g) {
    std::vector<qbGradientStop> stops;
    for (int k = 0;; ++k) {
        const int top = VmGetTop(L);
        const int colourType = PushIndex(L, table, 2 * k);
        if (IsAbsent(colourType)) {
            VmSetTop(L, top);
            break;
        }
        if (k == kMaxGradientStops) {
            VmSetTop(L, top);
            return ERR_INTERNAL;
        }
        if (colourType != kTypeNumber) {
            VmSetTop(L, top);
            SetErrorDetail(key);
            return ERR_NUMTABLEARG;
        }
        const double colour = VmToNumber(L, -1);
        const int positionType = PushIndex(L, table, 2 * k + 1);
        const double position = VmToNumber(L, -1);
        VmSetTop(L, top);
        if (IsAbsent(positionType)) return ERR_MISSINGPARAMTR;
        if (positionType != kTypeNumber) {
            SetErrorDetail(key);
            return ERR_NUMTABLEARG;
        }
        if (!(position >= 0.0 && position <= 1.0)) return ERR_WRONGUSAGE;
        qbGradientStop stop;
        stop.color = ColourBits(colour);
        stop.position = position;
        stops.push_back(stop);
    }
    if (stops.size() == 1) return ERR_WRONGUSAGE;
    g->stops = std::move(stops);
    return 0;
}

}  // namespace

int32_t ColourBits(double v) {
    if (!(v == v)) return 0;
    if (v < 0) return static_cast<int32_t>(std::max(v, -2147483648.0));
    return static_cast<int32_t>(v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v));
}

void ResetGradientDefaults(qbGradient* g) {
    g->style = kGradientLinear;
    g->stops.clear();
    g->angle = 0;
    g->centerX = 0.5;
    g->centerY = 0.5;
    g->balance = 0.5;
    g->border = 0.0;
}

int ParseGradientStops(ScriptState* L, int idx, qbGradient* g, const char* centerXKey, const char* centerYKey,
                       const char* balanceKey, const char* borderKey, const char* coloursKey, bool* stopsGiven) {
    if (g->style == kGradientRadial || g->style == kGradientConical) {
        if (int err = ReadFraction(L, idx, centerXKey, &g->centerX)) return err;
        if (int err = ReadFraction(L, idx, centerYKey, &g->centerY)) return err;
        if (int err = ReadFraction(L, idx, balanceKey, &g->balance)) return err;
        if (int err = ReadFraction(L, idx, borderKey, &g->border)) return err;
    }
    const int top = VmGetTop(L);
    VmPushString(L, coloursKey);
    IndexOptionTable(L, idx);
    const int type = VmType(L, -1);
    if (IsAbsent(type)) {
        VmSetTop(L, top);
        return 0;
    }
    if (type != kTypeTable) {
        VmSetTop(L, top);
        return ERR_TABLEORNIL;
    }
    const int err = ReadStops(L, VmGetTop(L), coloursKey, g);
    VmSetTop(L, top);
    if (!err && stopsGiven && !g->stops.empty()) *stopsGiven = true;
    return err;
}

int ParseGradientOptions(ScriptState* L, int idx, qbGradient* g) {
    ResetGradientDefaults(g);
    GetTableFieldInt(L, idx, "gradientstyle", &g->style, nullptr);
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, idx, "gradientstartcolor", &colour, nullptr)) g->startColor = static_cast<int32_t>(colour);
    if (GetTableFieldUInt(L, idx, "gradientendcolor", &colour, nullptr)) g->endColor = static_cast<int32_t>(colour);
    GetTableFieldInt(L, idx, "gradientangle", &g->angle, nullptr);
    return ParseGradientStops(L, idx, g, "gradientcenterx", "gradientcentery", "gradientbalance", "gradientborder",
                              "gradientcolors", nullptr);
}

int ParseGradientTable(ScriptState* L, int idx, qbGradient* g) {
    const int type = g->style;
    ResetGradientDefaults(g);
    g->style = type;
    const int top = VmGetTop(L);
    if (type == 0 || type == 1) {
        g->style = kGradientLinear;
        g->angle = type == 0 ? 0 : 90;
    } else if (type == kGradientLinear || type == kGradientConical) {
        if (top >= idx && !IsAbsent(VmType(L, idx))) g->angle = ClampToInt32(VmCheckNumber(L, idx));
    }
    if (top < idx + 1 || IsAbsent(VmType(L, idx + 1))) return 0;
    VmCheckTable(L, idx + 1);
    return ParseGradientStops(L, idx + 1, g, "centerx", "centery", "balance", "border", "colors", nullptr);
}
