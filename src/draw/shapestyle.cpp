// The style keys of shape and line layers: read into a new shape record
// (the layer's own, or a default one for a layer turned into a shape),
// drawn untransformed for the layer's base state, and written back for
// GetLayerStyle.
#include <algorithm>
#include <memory>
#include <new>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/gradientopts.h"
#include "draw/shape.h"
#include "objects/layers.h"
#include "objects/shapehooks.h"
#include "vm/vm.h"

namespace {

// An integer key that must be at least low.
int ReadAtLeast(ScriptState* L, int tab, const char* key, int32_t low, int32_t* out, bool* found) {
    int hit = 0;
    int32_t v = 0;
    if (!GetTableFieldInt(L, tab, key, &v, &hit)) return 0;
    if (v < low) return ERR_WRONGUSAGE;
    *out = v;
    *found = true;
    return 0;
}

bool ReadInt(ScriptState* L, int tab, const char* key, int32_t* out, bool* found) {
    if (!GetTableFieldInt(L, tab, key, out, nullptr)) return false;
    *found = true;
    return true;
}

bool IsRound(int32_t type) { return type == kShapeCircle || type == kShapeEllipse || type == kShapeArc; }

int32_t EllipseSize(int32_t radius) { return radius > (INT32_MAX - 1) / 2 ? INT32_MAX : 2 * radius + 1; }

// "vertices": a flat table of x, y numbers; the polygon keeps its anchor
// point, the points' box moved by where they start.
int ReadVertices(ScriptState* L, int tab, qbShapeLayerData* d, int32_t* dx, int32_t* dy, bool* found) {
    VmPushString(L, "vertices");
    IndexOptionTable(L, tab);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, -2);
        return 0;
    }
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        return ERR_TABEXPECTED;
    }
    qbPolygonPoints pp;
    const int err = ParsePolygonPoints(L, VmGetTop(L), 0, &pp);
    VmSetTop(L, -2);
    if (err) return err;
    if (pp.points.size() < 3) return ERR_WRONGUSAGE;
    d->points = std::move(pp.points);
    d->width = pp.width;
    d->height = pp.height;
    *dx = pp.left;
    *dy = pp.top;
    *found = true;
    return 0;
}

// The type keys into d; a converted layer must name what its type needs.
int ReadShapeKeys(ScriptState* L, int tab, int32_t from, bool converting, qbShapeLayerData* d, int32_t* dx, int32_t* dy,
                  int32_t line[4], bool* lineMoved, bool* found) {
    switch (d->type) {
    case kShapeBox: {
        if (int err = ReadAtLeast(L, tab, "sizex", 1, &d->width, found)) return err;
        if (int err = ReadAtLeast(L, tab, "sizey", 1, &d->height, found)) return err;
        int32_t level = 0;
        if (ReadInt(L, tab, "roundlevel", &level, found)) std::fill(d->corners, d->corners + 4, level);
        const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; ++i) ReadInt(L, tab, keys[i], &d->corners[i], found);
        ClampCorners(d->corners);
        return 0;
    }
    case kShapeCircle: {
        bool hit = false;
        int32_t r = d->radiusX;
        if (int err = ReadAtLeast(L, tab, "radius", 1, &r, &hit)) return err;
        if (converting && !hit && from != kShapeEllipse && from != kShapeArc) return ERR_MISSINGPARAMTR;
        d->radiusX = d->radiusY = r;
        *found = *found || hit;
        break;
    }
    case kShapeEllipse:
    case kShapeArc: {
        bool a = false, b = false;
        if (int err = ReadAtLeast(L, tab, "radiusa", 1, &d->radiusX, &a)) return err;
        if (int err = ReadAtLeast(L, tab, "radiusb", 1, &d->radiusY, &b)) return err;
        const bool roundBefore = IsRound(from) && from != d->type;
        if (converting && !roundBefore && (!a || !b)) return ERR_MISSINGPARAMTR;
        *found = *found || a || b;
        if (d->type == kShapeArc) {
            bool s = false, e = false;
            ReadInt(L, tab, "startangle", &d->startAngle, &s);
            ReadInt(L, tab, "endangle", &d->endAngle, &e);
            if (converting && (!s || !e)) return ERR_MISSINGPARAMTR;
            int32_t cw = d->clockwise;
            if (ReadInt(L, tab, "clockwise", &cw, found)) d->clockwise = cw ? 1 : 0;
            *found = *found || s || e;
        }
        break;
    }
    case kShapePolygon: {
        bool hit = false;
        if (int err = ReadVertices(L, tab, d, dx, dy, &hit)) return err;
        if (converting && !hit) return ERR_MISSINGPARAMTR;
        *found = *found || hit;
        return 0;
    }
    case kShapeLine: {
        const char* keys[4] = {"x1", "y1", "x2", "y2"};
        for (int i = 0; i < 4; ++i)
            if (ReadInt(L, tab, keys[i], &line[i], found)) *lineMoved = true;
        int32_t thickness = d->thickness;
        if (ReadInt(L, tab, "thickness", &thickness, found)) d->thickness = std::max(1, thickness);
        return 0;
    }
    default:
        return ERR_WRONGUSAGE;
    }
    if (IsRound(d->type)) {
        d->width = EllipseSize(d->radiusX);
        d->height = EllipseSize(d->radiusY);
        if (d->width == INT32_MAX || d->height == INT32_MAX) return ERR_BITMAP;
    }
    return 0;
}

}  // namespace

int ReadLayerFillStyle(ScriptState* L, int tab, qbDrawState* st, int32_t* shadow, int32_t* border, bool* changed) {
    *shadow = *border = -1;
    uint32_t bits = 0;
    if (GetTableFieldUInt(L, tab, "formstyle", &bits, nullptr)) {
        *changed = true;
        if (bits & kFormShadow) *shadow = 1;
        if (bits & kFormEdge) *border = 1;
        bits &= ~uint32_t{kFormShadow | kFormEdge};
        st->formStyle = bits == kFormNormal ? uint32_t{kFormNormal} : (st->formStyle | bits);
    }
    if (GetTableFieldUInt(L, tab, "formstyleclear", &bits, nullptr)) {
        *changed = true;
        if (bits & kFormShadow) *shadow = 0;
        if (bits & kFormEdge) *border = 0;
        st->formStyle &= ~(bits & ~uint32_t{kFormShadow | kFormEdge});
    }
    int32_t v = 0;
    if (GetTableFieldInt(L, tab, "fillstyle", &v, nullptr)) {
        if (v < 0 || v > static_cast<int32_t>(FILLTEXTURE)) return ERR_WRONGUSAGE;
        st->fillStyle = static_cast<uint32_t>(v);
        *changed = true;
    }
    if (GetTableFieldInt(L, tab, "gradientstyle", &st->gradient.style, nullptr)) *changed = true;
    if (GetTableFieldInt(L, tab, "gradientangle", &st->gradient.angle, nullptr)) *changed = true;
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, tab, "gradientstartcolor", &colour, nullptr)) {
        st->gradient.startColor = static_cast<int32_t>(colour & 0xFFFFFF);
        st->gradient.stops.clear();
        *changed = true;
    }
    if (GetTableFieldUInt(L, tab, "gradientendcolor", &colour, nullptr)) {
        st->gradient.endColor = static_cast<int32_t>(colour & 0xFFFFFF);
        st->gradient.stops.clear();
        *changed = true;
    }
    if (st->fillStyle == FILLGRADIENT) {
        const qbGradient before = st->gradient;
        bool stops = false;
        if (int err = ParseGradientStops(L, tab, &st->gradient, "gradientcenterx", "gradientcentery",
                                         "gradientbalance", "gradientborder", "gradientcolors", &stops))
            return err;
        const qbGradient& g = st->gradient;
        if (stops || g.centerX != before.centerX || g.centerY != before.centerY || g.balance != before.balance ||
            g.border != before.border)
            *changed = true;
    }
    if (GetTableFieldObjectID(L, tab, "texturebrush", &st->texture, nullptr)) *changed = true;
    if (GetTableFieldInt(L, tab, "texturex", &st->textureX, nullptr)) *changed = true;
    if (GetTableFieldInt(L, tab, "texturey", &st->textureY, nullptr)) *changed = true;
    return 0;
}

void WriteLayerFillStyle(ScriptState* L, const qbDrawState& st) {
    SetTableFieldUInt(L, "formstyle", st.formStyle);
    SetTableFieldUInt(L, "fillstyle", st.fillStyle);
    SetTableFieldInt(L, "gradientstyle", st.gradient.style);
    SetTableFieldInt(L, "gradientangle", st.gradient.angle);
    SetTableFieldUInt(L, "gradientstartcolor", static_cast<uint32_t>(st.gradient.startColor));
    SetTableFieldUInt(L, "gradientendcolor", static_cast<uint32_t>(st.gradient.endColor));
    SetTableFieldObjectID(L, "texturebrush", st.texture);
    SetTableFieldInt(L, "texturex", st.textureX);
    SetTableFieldInt(L, "texturey", st.textureY);
}

int RestyleShapeLayer(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbShapeRestyle* out) {
    const qbShapeLayerData* old = IsShapeLayerType(layer.type) ? ShapeLayerDataOf(layer) : nullptr;
    const int32_t type = convertTo ? convertTo : layer.type;
    if (!IsShapeLayerType(type)) return 0;
    if (!old && !convertTo) return ERR_WRONGUSAGE;
    std::shared_ptr<qbShapeLayerData> d;
    try {
        d = old ? std::make_shared<qbShapeLayerData>(*old) : std::make_shared<qbShapeLayerData>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const qbLayerState& base = *layer.basestate;
    if (!old) {
        // A layer that was no shape takes the current fill block.
        d->state = *GetDrawState();
        d->width = std::max(1, base.width);
        d->height = std::max(1, base.height);
    }
    const int32_t from = old ? old->type : layer.type;
    d->type = type;
    bool found = convertTo != 0;
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, tab, "color", &colour, nullptr)) {
        d->colour = colour & 0xFFFFFF;
        found = true;
    }
    if (int err = ReadLayerFillStyle(L, tab, &d->state, &out->shadowSwitch, &out->borderSwitch, &found)) return err;
    // A line's endpoints in the picture, and a shape's anchor point.
    const bool wasLine = old && old->type == kShapeLine;
    int32_t line[4] = {SaturatingAdd(base.x, wasLine ? old->line[0] : 0),
                       SaturatingAdd(base.y, wasLine ? old->line[1] : 0),
                       SaturatingAdd(base.x, wasLine ? old->line[2] : d->width - 1),
                       SaturatingAdd(base.y, wasLine ? old->line[3] : d->height - 1)};
    bool lineMoved = false;
    int32_t dx = 0, dy = 0;
    if (int err = ReadShapeKeys(L, tab, from, convertTo != 0, d.get(), &dx, &dy, line, &lineMoved, &found)) return err;
    if (!found) return 0;

    qbTransformOptions t = layer.transform;
    t.matrix[0] = t.matrix[3] = 1.0;
    t.matrix[1] = t.matrix[2] = 0.0;
    qbShapeOutput o;
    int err = 0;
    if (type == kShapeLine) {
        const int32_t x0 = std::min(line[0], line[2]), y0 = std::min(line[1], line[3]);
        for (int i = 0; i < 4; ++i) d->line[i] = line[i] - (i % 2 ? y0 : x0);
        err = DrawShapeRecord(L, *d, d->state, d->colour, x0, y0, &t, &o);
        if (!err)
            for (int i = 0; i < 4; ++i) d->line[i] = line[i] - (i % 2 ? o.y : o.x);
    } else {
        const int32_t ax = SaturatingAdd(SaturatingAdd(base.x, old && !wasLine ? -old->left : 0), dx);
        const int32_t ay = SaturatingAdd(SaturatingAdd(base.y, old && !wasLine ? -old->top : 0), dy);
        err = DrawShapeRecord(L, *d, d->state, d->colour, ax, ay, &t, &o);
        d->left = o.x - ax;
        d->top = o.y - ay;
    }
    if (err) return err;
    out->image = {o.bitmap, o.mask, o.alpha};
    out->x = o.x;
    out->y = o.y;
    out->width = o.width;
    out->height = o.height;
    out->shape = std::move(d);
    return 0;
}

void PushShapeLayerStyle(ScriptState* L, const qbLayer& layer) {
    const qbShapeLayerData* d = IsShapeLayerType(layer.type) ? ShapeLayerDataOf(layer) : nullptr;
    if (!d) return;
    SetTableFieldUInt(L, "color", d->colour);
    WriteLayerFillStyle(L, d->state);
    switch (d->type) {
    case kShapeBox:
        SetTableFieldInt(L, "sizex", d->width);
        SetTableFieldInt(L, "sizey", d->height);
        if (std::all_of(d->corners, d->corners + 4, [&](int32_t c) { return c == d->corners[0]; })) {
            SetTableFieldInt(L, "roundlevel", d->corners[0]);
        } else {
            const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
            for (int i = 0; i < 4; ++i) SetTableFieldInt(L, keys[i], d->corners[i]);
        }
        break;
    case kShapeCircle:
        SetTableFieldInt(L, "radius", d->radiusX);
        break;
    case kShapeArc:
        SetTableFieldInt(L, "startangle", d->startAngle);
        SetTableFieldInt(L, "endangle", d->endAngle);
        SetTableFieldInt(L, "clockwise", d->clockwise);
        [[fallthrough]];
    case kShapeEllipse:
        SetTableFieldInt(L, "radiusa", d->radiusX);
        SetTableFieldInt(L, "radiusb", d->radiusY);
        break;
    case kShapeLine: {
        const qbLayerState& base = *layer.basestate;
        SetTableFieldInt(L, "thickness", d->thickness);
        const char* keys[4] = {"x1", "y1", "x2", "y2"};
        for (int i = 0; i < 4; ++i) SetTableFieldInt(L, keys[i], SaturatingAdd(i % 2 ? base.y : base.x, d->line[i]));
        break;
    }
    case kShapePolygon: {
        // The points flat from index 0, without the closing repeat.
        const size_t count = d->points.size() > 1 ? d->points.size() - 1 : d->points.size();
        VmPushString(L, "vertices");
        VmPushNewTable(L);
        for (size_t i = 0; i < count; ++i) {
            VmPushNumber(L, d->points[i].x);
            VmRawSetIndex(L, -2, static_cast<int>(2 * i));
            VmPushNumber(L, d->points[i].y);
            VmRawSetIndex(L, -2, static_cast<int>(2 * i + 1));
        }
        VmSetTableAt(L, -3);
        SetTableFieldInt(L, "numvertices", static_cast<int32_t>(count));
        break;
    }
    default:
        break;
    }
}
