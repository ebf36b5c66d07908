// Parsing the display options of image objects, and their defaults.
#include "objects/objectoptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "imaging/bitmap.h"
#include "objects/layers.h"
#include "vm/vm.h"

namespace {

qbTransformOptions defaultTransform;
qbLayerOptions defaultLayer;

constexpr double kPi = 3.14159265358979323846;

int32_t ClampByte(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<int32_t>(v);
}

// A number or "n%" of 255, truncated and clamped to a byte.
bool ReadLevel(ScriptState* L, int arg, const char* key, int32_t* out) {
    double v = 0;
    if (!GetTableFieldNumberOrPercent(L, arg, key, 255, 1, &v, nullptr, nullptr)) return false;
    *out = ClampByte(std::trunc(v));
    return true;
}

}  // namespace

void InitDisplayObjectDefaults() {
    defaultTransform = qbTransformOptions{};
    defaultLayer = qbLayerOptions{};
}

const qbTransformOptions& DefaultTransformOptions() { return defaultTransform; }
const qbLayerOptions& DefaultLayerOptions() { return defaultLayer; }

void ResetTransformOptions(qbTransformOptions* t) { *t = defaultTransform; }
void ResetLayerOptions(qbLayerOptions* l) { *l = defaultLayer; }

void ResetDisplayObjectOptions(qbTransformOptions* t, qbLayerOptions* l, int32_t width, int32_t height,
                               int32_t smoothscale, uint32_t flags) {
    ResetTransformOptions(t);
    if (l) ResetLayerOptions(l);
    t->width = width;
    t->height = height;
    if (!(flags & kOptSmoothOnRotate)) t->smoothscale = smoothscale;
}

bool IsIdentityMatrix(const double m[4]) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

void BuildScaleRotateMatrix(double m[4], int32_t targetWidth, int32_t targetHeight, int32_t objWidth,
                            int32_t objHeight, double scalex, double scaley, double angle) {
    const bool sized = (targetWidth != 0 && targetWidth != objWidth) || (targetHeight != 0 && targetHeight != objHeight);
    if (sized) {
        const double w = targetWidth ? targetWidth : objWidth;
        const double h = targetHeight ? targetHeight : objHeight;
        m[0] = objWidth ? w / objWidth : 1.0;
        m[3] = objHeight ? h / objHeight : 1.0;
    } else {
        m[0] = scalex;
        m[3] = scaley;
    }
    m[1] = m[2] = 0;
    if (angle != 0) {
        const double a = (360.0 - std::fmod(angle, 360.0)) * kPi / 180.0;
        const double c = std::cos(a), s = std::sin(a);
        for (int row = 0; row < 2; ++row) {
            const double p = m[row * 2], q = m[row * 2 + 1];
            m[row * 2] = p * c - q * s;
            m[row * 2 + 1] = p * s + q * c;
        }
    }
}

int ParseShadowOptions(ScriptState* L, int arg, qbShadowStyle* s, int* found) {
    GetTableFieldInt(L, arg, "shadow", &s->shadow, found);
    if (!s->shadow) return 0;
    GetTableFieldUInt(L, arg, "shadowcolor", &s->colour, found);
    GetTableFieldInt(L, arg, "shadowdir", &s->dir, found);
    GetTableFieldInt(L, arg, "shadowsize", &s->size, found);
    GetTableFieldFloat(L, arg, "shadowradius", &s->radius, found);
    GetTableFieldFloat(L, arg, "shadowsigma", &s->sigma, found);
    if (!(s->radius >= 1.0) || s->size < 0 || !(s->sigma > 0.0)) return ERR_WRONGUSAGE;
    return 0;
}

int ParseBorderOptions(ScriptState* L, int arg, int aliasMode, qbBorderStyle* b, int* found) {
    GetTableFieldInt(L, arg, "border", &b->border, found);
    GetTableFieldUInt(L, arg, "bordercolor", &b->colour, found);
    GetTableFieldInt(L, arg, "bordersize", &b->size, found);
    if (aliasMode) {
        GetTableFieldUInt(L, arg, "edgecolor", &b->colour, found);
        GetTableFieldInt(L, arg, "edgesize", &b->size, found);
        GetTableFieldInt(L, arg, "outlinethickness", &b->size, found);
    }
    return b->border ? CheckBorderSize(b->size) : 0;
}

int CheckBorderSize(int32_t size, int32_t width, int32_t height) {
    if (size < 1) return ERR_WRONGUSAGE;
    const int64_t margin = 2 * int64_t{size};
    return BitmapFits(std::max(width, 1) + margin, std::max(height, 1) + margin) ? 0 : ERR_WRONGUSAGE;
}

int ParseDisplayObjectOptions(ScriptState* L, int arg, int32_t objWidth, int32_t objHeight, int32_t reqWidth,
                              int32_t reqHeight, int32_t smoothDefault, qbTransformOptions* t, qbLayerOptions* l,
                              uint32_t flags) {
    if (reqWidth == objWidth) reqWidth = 0;
    if (reqHeight == objHeight) reqHeight = 0;
    if (flags & kOptReset) ResetDisplayObjectOptions(t, l, reqWidth, reqHeight, smoothDefault, flags);

    const bool isLast = arg > 0 && arg == VmGetTop(L);
    const bool isTable = isLast && VmType(L, arg) == kTypeTable;
    if (isLast && !isTable && (flags & kOptTableRequired)) {
        SetErrorArgIndex(arg);
        return ERR_TABEXPECTED;
    }
    if (!isTable) {
        if (reqWidth || reqHeight)
            BuildScaleRotateMatrix(t->matrix, t->width, t->height, objWidth, objHeight, t->scalex, t->scaley,
                                   t->rotate);
        return 0;
    }

    double quad[4];
    if (GetTableFieldQuad(L, arg, "transform", quad, nullptr)) {
        if (quad[0] == 0 || quad[3] == 0) return ERR_WRONGUSAGE;
        for (int i = 0; i < 4; ++i) t->transform[i] = t->matrix[i] = quad[i];
        t->matrixset = 1;
    } else {
        int scaled = 0;
        GetTableFieldFloat(L, arg, "scalex", &t->scalex, &scaled);
        GetTableFieldFloat(L, arg, "scaley", &t->scaley, &scaled);
        if (scaled && (t->scalex == 0 || t->scaley == 0)) return ERR_WRONGUSAGE;
        bool sized = false;
        if (!scaled && !(flags & kOptNoSize)) {
            GetTableFieldInt(L, arg, "width", &t->width, nullptr);
            GetTableFieldInt(L, arg, "height", &t->height, nullptr);
            sized = t->width != 0 || t->height != 0;
        }
        bool rotated = false;
        if (!(flags & kOptNoRotate) && GetTableFieldFloat(L, arg, "rotate", &t->rotate, nullptr)) {
            t->rotate = std::fmod(t->rotate, 360.0);
            rotated = true;
            if (t->rotate != 0 && (flags & kOptSmoothOnRotate)) t->smoothscale = smoothDefault;
        }
        if (scaled || sized || rotated)
            BuildScaleRotateMatrix(t->matrix, t->width, t->height, objWidth, objHeight, t->scalex, t->scaley,
                                   t->rotate);
        else
            t->matrixset = 0;
    }
    GetTableFieldFlagInto(L, arg, "smoothscale", &t->smoothscale, nullptr);
    GetTableFieldFloat(L, arg, "anchorx", &t->anchorx, nullptr);
    GetTableFieldFloat(L, arg, "anchory", &t->anchory, nullptr);
    if (!(t->anchorx >= 0.0 && t->anchorx <= 1.0) || !(t->anchory >= 0.0 && t->anchory <= 1.0))
        return ERR_WRONGUSAGE;
    if (!l) return 0;

    GetTableFieldFlagInto(L, arg, "hidden", &l->hidden, nullptr);
    ReadLevel(L, arg, "transparency", &l->transparency);
    qbFilterSlot& tint = l->filters.slot[kFilterTint];
    if (int32_t level = 0; ReadLevel(L, arg, "tint", &level)) {
        tint.enabled = level > 0 ? 1 : 0;
        tint.ints[1] = level;
    }
    uint32_t tintColour = 0;
    if (GetTableFieldUInt(L, arg, "tintcolor", &tintColour, nullptr)) tint.ints[0] = static_cast<int32_t>(tintColour);

    const int32_t count = CountLayers(GetCurrentBGPic());
    int insertGiven = 0;
    GetTableFieldLayerID(L, arg, "insertpos", &l->insertpos, &insertGiven);
    if (l->insertpos < 0) return ERR_INVINSERT;
    if (count > 0 && l->insertpos > count + 1) l->insertpos = count + 1;

    if (int err = ParseShadowOptions(L, arg, &l->shadow, nullptr)) return err;
    if (int err = ParseBorderOptions(L, arg, 0, &l->border, nullptr)) return err;
    int filterError = 0;
    ParseLayerFilters(L, arg, &l->filters, nullptr, &filterError);
    if (filterError) return filterError;

    const bool belowTop = insertGiven && l->insertpos != 0 && l->insertpos != count + 1;
    l->needseffects = (l->hidden || l->transparency || HasActiveFilters(l->filters) || l->shadow.shadow ||
                       l->border.border || belowTop)
                          ? 1
                          : 0;

    const char* name = nullptr;
    if (GetTableFieldString(L, arg, "name", &name, nullptr)) {
        if (std::strlen(name) >= kLayerNameSize) return ERR_NAMETOOLONG;
        std::strcpy(l->name, name);
    }
    return 0;
}

int cmdSetDrawTagsDefault(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTransformOptions t = defaultTransform;
    qbLayerOptions l = defaultLayer;
    if (int err = ParseDisplayObjectOptions(L, 1, 0, 0, 0, 0, t.smoothscale, &t, &l, kOptTableRequired | kOptNoSize))
        return err;
    l.name[0] = '\0';
    defaultTransform = t;
    defaultLayer = l;
    return 0;
}
