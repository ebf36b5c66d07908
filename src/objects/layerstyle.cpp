// SetLayerStyle: the keys of a style table read into working copies of a
// layer's record, transform and base state, then the layer rebuilt in the
// order content, geometry, position, appearance, and the changed areas
// refreshed together.
#include "objects/layerstyle.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "display/positions.h"
#include "imaging/geometry.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/shapehooks.h"
#include "objects/texthooks.h"
#include "vm/vm.h"

namespace {

// One row per layer type that the style code knows: brush, brush part and
// BGPic part layers share the common head and its keys; shapes, text and
// anims have rows of their own. The other types join with their
// renderers; until then "type" naming one of them is refused with its
// name.
struct TypeRow {
    int32_t type;
    const char* name;
    bool supported;
};

const TypeRow kTypeRows[] = {
    {kLayerBrush, "BRUSH", true},          {kLayerBrushPart, "BRUSHPART", true},
    {kLayerBGPicPart, "BGPICPART", true},  {kLayerAnim, "ANIM", true},
    {kLayerTextObject, "TEXTOBJECT", true}, {kLayerTextOut, "TEXTOUT", true},
    {kLayerPrint, "PRINT", true},          {kLayerBox, "BOX", true},
    {kLayerCircle, "CIRCLE", true},        {kLayerEllipse, "ELLIPSE", true},
    {kLayerLine, "LINE", true},            {kLayerPolygon, "POLYGON", true},
    {kLayerArc, "ARC", true},              {kLayerVectorPath, "VECTORPATH", true},
};

const TypeRow* FindTypeRow(int32_t type) {
    for (const TypeRow& row : kTypeRows)
        if (row.type == type) return &row;
    return nullptr;
}

// What a table asks of one layer, read whole before the layer changes.
struct StyleWork {
    int32_t type = 0;
    ObjectID id;
    int32_t srcx = 0, srcy = 0, width = 0, height = 0;
    bool content = false;
    uint32_t releaseMask = 0;

    qbTransformOptions t;
    bool geometry = false;
    double anchorx = 0, anchory = 0;
    bool anchor = false;
    int32_t x = 0, y = 0;
    bool position = false;

    int32_t hidden = 0;
    int32_t transparency = 0;
    int32_t cliptransformmode = 0;
    qbShadowStyle shadow;
    qbBorderStyle border;
    qbFilterSet filters;
    std::string group;
    const qbClipRegion* clip = nullptr;
    bool clipChanged = false;
    ObjectID clipId;  // the region the "clipregion" key named, found again after the reads
    int32_t z = -1;
    // A TEXTOUT or PRINT layer's new layout and image (owned until taken),
    // and the text type a layer of another type becomes.
    qbTextRestyle text;
    int32_t convertText = 0;
    // A shape or path layer's new record and untransformed image, and the
    // shape or path type a layer of another type becomes.
    qbShapeRestyle shape;
    int32_t convertShape = 0;
    StyleWork() = default;
    StyleWork(const StyleWork&) = delete;
    StyleWork& operator=(const StyleWork&) = delete;
    ~StyleWork() {
        FreeObjectImage(&text.image);
        FreeObjectImage(&shape.image);
    }
};

// The object list a layer of the type takes its source from; 0 for layers
// that keep their own picture.
int32_t SourceKind(int32_t type) {
    switch (type) {
    case kLayerBrush:
    case kLayerBrushPart: return kObjectTypeBrush;
    case kLayerBGPicPart: return kObjectTypeBGPic;
    case kLayerAnim: return kLayerAnim;
    case kLayerTextObject: return kLayerTextObject;
    default: return 0;
    }
}

uint32_t ReleaseBit(int32_t kind) {
    switch (kind) {
    case kObjectTypeBrush: return kReleaseBrushSources;
    case kObjectTypeBGPic: return kReleaseBGPicSources;
    case kLayerAnim: return kReleaseAnimSources;
    case kLayerTextObject: return kReleaseTextObjectSources;
    default: return 0;
    }
}

// The object a layer turned into text showed is no longer held for it.
void ReleaseOldSource(int32_t type, ObjectID id, uint32_t* releaseMask) {
    switch (type) {
    case kLayerBrush:
    case kLayerBrushPart:
        RemoveLayerSource(kObjectTypeBrush, id);
        *releaseMask |= kReleaseBrushSources;
        break;
    case kLayerBGPicPart:
        RemoveLayerSource(kObjectTypeBGPic, id);
        *releaseMask |= kReleaseBGPicSources;
        break;
    case kLayerTextObject:
        RemoveLayerSource(kLayerTextObject, id);
        *releaseMask |= kReleaseTextObjectSources;
        break;
    case kLayerAnim:
        RemoveLayerSource(kLayerAnim, id);
        *releaseMask |= kReleaseAnimSources;
        break;
    default: break;
    }
}

bool IsTextOutLayer(int32_t type) { return type == kLayerTextOut || type == kLayerPrint; }

// The text keys, read before the geometry keys so that "x" and "y" still
// place a printed layer that its cursor moved.
int ReadTextKeys(ScriptState* L, int tab, const qbLayer& layer, StyleWork* w) {
    const auto restyle = TextLayerHooks().restyle;
    if (!IsTextOutLayer(layer.type) && !w->convertText) return 0;
    if (!restyle) return ERR_UNSUPPORTEDFEAT;
    if (int err = restyle(L, tab, layer, w->convertText, &w->text)) return err;
    if (!w->text.layout) return 0;
    if (w->text.shadowSet) w->shadow = w->text.shadowStyle;
    if (w->text.borderSet) w->border = w->text.borderStyle;
    w->width = w->text.width;
    w->height = w->text.height;
    if (w->text.placed) {
        w->x = w->text.x;
        w->y = w->text.y;
    }
    return 0;
}

// The shape or path keys, read before the geometry keys so that "x" and
// "y" still place the redrawn shape.
int ReadShapeKeys(ScriptState* L, int tab, const qbLayer& layer, StyleWork* w) {
    if (!IsDrawnLayerType(layer.type) && !w->convertShape) return 0;
    const qbShapeLayerHooks* hooks = DrawnLayerHooks(w->convertShape ? w->convertShape : layer.type);
    const auto restyle = hooks ? hooks->restyle : nullptr;
    if (!restyle) return ERR_UNSUPPORTEDFEAT;
    if (int err = restyle(L, tab, layer, w->convertShape, &w->shape)) return err;
    if (!w->shape.shape) return 0;
    if (w->shape.shadowSwitch >= 0) w->shadow.shadow = w->shape.shadowSwitch;
    if (w->shape.borderSwitch >= 0) w->border.border = w->shape.borderSwitch;
    w->width = w->shape.width;
    w->height = w->shape.height;
    w->x = w->shape.x;
    w->y = w->shape.y;
    return 0;
}

// Numbers of the geometry keys must be finite: a NaN would reach the
// matrix and the integer conversions.
bool ReadFinite(ScriptState* L, int tab, const char* key, double* out, int* error) {
    double v = 0;
    if (!GetTableFieldFloat(L, tab, key, &v, nullptr)) return false;
    if (!std::isfinite(v)) {
        SetErrorDetail(key);
        *error = ERR_WRONGUSAGE;
        return false;
    }
    *out = v;
    return true;
}

int32_t ClampLevel(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<int32_t>(v);
}

// The size of the object an id names, by layer type, and its id as the
// layers record it.
int FindSourceSize(ScriptState* L, int32_t type, ObjectID id, ObjectID* recorded, int32_t* w, int32_t* h) {
    if (type == kLayerBGPicPart) {
        qbBGPic* p = nullptr;
        if (id.number == -1 && !id.handle) {
            p = GetCurrentBGPic();
            if (!p) return ERR_FINDBGPIC;
        } else if (int err = GetBGPic(L, id, &p, 0)) {
            return err;
        }
        *recorded = IDOf(*p);
        *w = p->baseWidth;
        *h = p->baseHeight;
        return 0;
    }
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(L, id, &b, type == kLayerBrushPart ? uint32_t{kBrushNoVector} : 0u)) return err;
    *recorded = IDOf(*b);
    *w = b->width;
    *h = b->height;
    return 0;
}

// The text-object row: the layer shows the object id names, at the same
// x, y.
int ReadTextObjectKey(ScriptState* L, const qbLayer& layer, ObjectID id, bool asked, StyleWork* w) {
    if (!asked) return 0;
    const auto source = TextLayerHooks().objectSource;
    if (!source) return ERR_FINDTEXTOBJECT;
    qbTextObjectSource found;
    if (int err = source(L, id, &found)) return err;
    if (layer.type == kLayerTextObject && found.id == layer.id) return 0;
    if (SourceKind(layer.type) && !(found.id == layer.id)) w->releaseMask |= ReleaseBit(SourceKind(layer.type));
    w->type = kLayerTextObject;
    w->id = found.id;
    w->srcx = w->srcy = 0;
    w->width = found.width;
    w->height = found.height;
    w->content = true;
    return 0;
}

// The anim row: "id" shows an anim from its first frame, "frame" (1-based)
// picks the frame of the anim shown.
int ReadAnimKeys(ScriptState* L, int tab, const qbLayer& layer, ObjectID id, bool idFound, bool converting,
                 StyleWork* w) {
    int32_t frame = 0;
    int frameFound = 0;
    GetTableFieldInt(L, tab, "frame", &frame, &frameFound);
    if (!converting && !idFound && !frameFound) return 0;
    const auto show = AnimObjectHooks().showFrame;
    if (!show) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorArgIndex(id.number);
        return ERR_FINDANIM;
    }
    const bool sameAnim = !converting && !idFound;
    qbImageTriple images;
    int32_t width = 0, height = 0, count = 0;
    if (int err = show(L, id, 0, sameAnim, &images, &width, &height, &count)) return err;
    int32_t index = sameAnim ? w->srcx : 0;
    if (frameFound) {
        if (frame < 1 || frame > count) return ERR_ANIMFRAME;
        index = frame - 1;
    }
    if (sameAnim && index == w->srcx) return 0;
    if (!(id == layer.id) || layer.type != kLayerAnim)
        if (const int32_t kind = SourceKind(layer.type)) w->releaseMask |= ReleaseBit(kind);
    w->type = kLayerAnim;
    w->id = id;
    w->srcx = index;
    w->srcy = count;
    w->width = width;
    w->height = height;
    w->content = true;
    return 0;
}

// The video row: the part of the video's picture the layer shows. The
// layer stays with its video ("id" names no other).
int ReadVideoKeys(ScriptState* L, int tab, const qbLayer& layer, bool otherId, StyleWork* w) {
    if (otherId) return ERR_WRONGUSAGE;
    const qbBitmap* own = layer.basestate->bitmap;
    if (!own) return 0;
    int32_t sx = w->srcx, sy = w->srcy, sw = w->width, sh = w->height;
    int found = 0;
    GetTableFieldInt(L, tab, "partx", &sx, &found);
    GetTableFieldInt(L, tab, "party", &sy, &found);
    GetTableFieldInt(L, tab, "partwidth", &sw, &found);
    GetTableFieldInt(L, tab, "partheight", &sh, &found);
    if (!found) return 0;
    if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
    if (sx >= own->width || sy >= own->height) return ERR_COORDSRANGE;
    if (sw < 1 || sh < 1) return ERR_BADDIMENSIONS;
    sw = std::min(sw, own->width - sx);
    sh = std::min(sh, own->height - sy);
    if (sx == w->srcx && sy == w->srcy && sw == w->width && sh == w->height) return 0;
    w->srcx = sx;
    w->srcy = sy;
    w->width = sw;
    w->height = sh;
    w->content = true;
    return 0;
}

// "type" and the keys of the brush, brush-part and BGPic-part row.
int ReadTypeKeys(ScriptState* L, int tab, const qbLayer& layer, StyleWork* w) {
    int32_t type = layer.type;
    bool converting = false;
    if (GetTableFieldInt(L, tab, "type", &type, nullptr) && type != layer.type) {
        if (type == kLayerVideo) return ERR_WRONGUSAGE;
        const TypeRow* row = FindTypeRow(type);
        if (!row) return ERR_WRONGUSAGE;
        if (!row->supported) {
            SetErrorDetail(row->name);
            return ERR_UNSUPPORTEDFEAT;
        }
        converting = true;
    }
    // Text, shapes and paths are no objects the layer holds: their rows
    // read the rest.
    if (type == kLayerTextOut || type == kLayerPrint) {
        if (converting) w->convertText = type;
        return 0;
    }
    if (IsDrawnLayerType(type)) {
        if (converting) w->convertShape = type;
        return 0;
    }
    int idFound = 0, partFound = 0;
    ObjectID id = layer.id;
    GetTableFieldObjectID(L, tab, "id", &id, &idFound);
    if (converting && !idFound) return ERR_MISSINGPARAMTR;
    if (type == kLayerVideo) return ReadVideoKeys(L, tab, layer, idFound && !(id == layer.id), w);
    if (type == kLayerTextObject) return ReadTextObjectKey(L, layer, id, converting || idFound, w);
    if (type == kLayerAnim) return ReadAnimKeys(L, tab, layer, id, idFound != 0, converting, w);
    int32_t sx = w->srcx, sy = w->srcy, sw = w->width, sh = w->height;
    GetTableFieldInt(L, tab, "partx", &sx, &partFound);
    GetTableFieldInt(L, tab, "party", &sy, &partFound);
    GetTableFieldInt(L, tab, "partwidth", &sw, &partFound);
    GetTableFieldInt(L, tab, "partheight", &sh, &partFound);
    if (type == kLayerBrush && partFound) type = kLayerBrushPart;
    if (!converting && !idFound && !partFound && type == layer.type) return 0;

    // Brushes and BGPics are different sources: a change between them
    // needs the new object.
    const bool bgpicSource = type == kLayerBGPicPart, wasBGPic = layer.type == kLayerBGPicPart;
    if (bgpicSource != wasBGPic && !idFound) return ERR_MISSINGPARAMTR;
    ObjectID recorded;
    int32_t fullW = 0, fullH = 0;
    if (int err = FindSourceSize(L, type, id, &recorded, &fullW, &fullH)) return err;
    if (type == kLayerBrush) {
        sx = sy = 0;
        sw = fullW;
        sh = fullH;
    } else {
        if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
        if (sx >= fullW || sy >= fullH) return ERR_COORDSRANGE;
        if (sw < 1 || sh < 1) return ERR_BADDIMENSIONS;
        sw = std::min(sw, fullW - sx);
        sh = std::min(sh, fullH - sy);
    }
    if (type == layer.type && recorded == layer.id && sx == w->srcx && sy == w->srcy && sw == w->width &&
        sh == w->height)
        return 0;
    if (!(recorded == layer.id)) w->releaseMask |= ReleaseBit(SourceKind(layer.type));
    w->type = type;
    w->id = recorded;
    w->srcx = sx;
    w->srcy = sy;
    w->width = sw;
    w->height = sh;
    w->content = true;
    return 0;
}

int ReadGeometryKeys(ScriptState* L, int tab, const qbLayer& layer, StyleWork* w) {
    int err = 0;
    qbTransformOptions& t = w->t;
    double quad[4];
    if (GetTableFieldQuad(L, tab, "transform", quad, nullptr)) {
        for (double q : quad)
            if (!std::isfinite(q)) return ERR_WRONGUSAGE;
        if (quad[0] == 0 || quad[3] == 0) return ERR_WRONGUSAGE;
        for (int i = 0; i < 4; ++i) t.transform[i] = quad[i];
        t.matrixset = 1;
        t.rotate = 0;
        t.scalex = t.scaley = 1.0;
        t.width = t.height = 0;
        w->geometry = true;
    } else {
        bool changed = false;
        double v = 0;
        for (const char* key : {"scalex", "scaley"}) {
            if (!ReadFinite(L, tab, key, &v, &err)) {
                if (err) return err;
                continue;
            }
            if (v == 0) return ERR_BADDIMENSIONS;
            (key[5] == 'x' ? t.scalex : t.scaley) = v;
            (key[5] == 'x' ? t.width : t.height) = 0;
            changed = true;
        }
        for (const char* key : {"width", "height"}) {
            int percent = 0;
            if (!GetTableFieldNumberOrPercent(L, tab, key, 0, 1, &v, &percent, nullptr)) continue;
            if (!std::isfinite(v)) return ERR_WRONGUSAGE;
            const bool across = key[0] == 'w';
            if (percent) {
                if (v == 0) return ERR_BADDIMENSIONS;
                (across ? t.scalex : t.scaley) = v;
                (across ? t.width : t.height) = 0;
            } else {
                if (v < 0) return ERR_BADDIMENSIONS;
                (across ? t.width : t.height) = ClampToInt32(v);
                (across ? t.scalex : t.scaley) = 1.0;
            }
            changed = true;
        }
        if (ReadFinite(L, tab, "rotate", &v, &err)) {
            if (v != t.rotate) t.rotate = std::fmod(v, 360.0);
            changed = true;
        } else if (err) {
            return err;
        }
        if (changed) {
            t.matrixset = 0;
            w->geometry = true;
        }
    }
    int32_t smooth = t.smoothscale;
    if (GetTableFieldInt(L, tab, "smoothscale", &smooth, nullptr) && smooth != t.smoothscale) {
        t.smoothscale = smooth;
        w->geometry = true;
    }
    for (const char* key : {"anchorx", "anchory"}) {
        double v = 0;
        if (!ReadFinite(L, tab, key, &v, &err)) {
            if (err) return err;
            continue;
        }
        if (!(v >= 0.0 && v <= 1.0)) return ERR_WRONGUSAGE;
        (key[6] == 'x' ? w->anchorx : w->anchory) = v;
        w->anchor = true;
    }

    // Position: relative moves win over absolute ones; constants resolve
    // against the layer's size and its new anchor.
    const qbLayerState* base = layer.basestate;
    double v = 0;
    if (ReadFinite(L, tab, "translatex", &v, &err)) {
        w->x = SaturatingAdd(base->x, ClampToInt32(v));
        w->position = true;
    } else if (err) {
        return err;
    } else if (ReadFinite(L, tab, "x", &v, &err)) {
        w->x = ResolveSpecialX(ClampToInt32(v), w->width, 0, w->anchorx);
        w->position = true;
    } else if (err) {
        return err;
    }
    if (ReadFinite(L, tab, "translatey", &v, &err)) {
        w->y = SaturatingAdd(base->y, ClampToInt32(v));
        w->position = true;
    } else if (err) {
        return err;
    } else if (ReadFinite(L, tab, "y", &v, &err)) {
        w->y = ResolveSpecialY(ClampToInt32(v), w->height, 0, w->anchory);
        w->position = true;
    } else if (err) {
        return err;
    }
    return 0;
}

int ReadAppearanceKeys(ScriptState* L, int tab, StyleWork* w) {
    double v = 0;
    if (GetTableFieldNumberOrPercent(L, tab, "transparency", 255, 1, &v, nullptr, nullptr))
        w->transparency = ClampLevel(std::trunc(v));
    int error = 0;
    ParseLayerFilters(L, tab, &w->filters, nullptr, &error);
    if (error) return error;
    qbFilterSlot& tint = w->filters.slot[kFilterTint];
    if (GetTableFieldNumberOrPercent(L, tab, "tint", 255, 1, &v, nullptr, nullptr)) {
        tint.ints[1] = ClampLevel(std::trunc(v));
        tint.enabled = tint.ints[1] != 0 ? 1 : 0;
    }
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, tab, "tintcolor", &colour, nullptr)) tint.ints[0] = static_cast<int32_t>(colour);
    int32_t clear = 0;
    if (GetTableFieldInt(L, tab, "clearfilters", &clear, nullptr) && clear) w->filters = qbFilterSet{};
    GetTableFieldInt(L, tab, "hidden", &w->hidden, nullptr);
    if (int err = ParseShadowOptions(L, tab, &w->shadow, nullptr)) return err;
    if (int err = ParseBorderOptions(L, tab, 1, &w->border, nullptr)) return err;
    ObjectID region;
    if (GetTableFieldObjectID(L, tab, "clipregion", &region, nullptr)) {
        if (region.number == -1 && !region.handle) {
            w->clip = nullptr;
        } else {
            qbClipRegionObject* r = nullptr;
            if (int err = GetClipRegionRecord(region, &r, 0)) return err;
            w->clip = r;
            w->clipId = region;
        }
        w->clipChanged = true;
    }
    GetTableFieldInt(L, tab, "nocliptransform", &w->cliptransformmode, nullptr);
    int32_t z = 0;
    if (GetTableFieldLayerID(L, tab, "z", &z, nullptr)) {
        if (z < 0) return ERR_WRONGUSAGE;
        w->z = z;
    }
    const char* group = nullptr;
    if (GetTableFieldString(L, tab, "group", &group, nullptr)) {
        if (std::strlen(group) >= kLayerNameSize) return ERR_NAMETOOLONG;
        w->group = group;
    }
    return 0;
}

bool SameFilters(const qbFilterSet& a, const qbFilterSet& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool SameShadow(const qbShadowStyle& a, const qbShadowStyle& b) {
    return a.shadow == b.shadow && a.colour == b.colour && a.size == b.size && a.dir == b.dir &&
           a.radius == b.radius && a.sigma == b.sigma;
}
bool SameBorder(const qbBorderStyle& a, const qbBorderStyle& b) {
    return a.border == b.border && a.colour == b.colour && a.size == b.size;
}

void ForEachState(qbLayer* layer, void (*f)(qbLayerState*)) {
    f(layer->basestate);
    if (layer->transformedstate != layer->basestate) f(layer->transformedstate);
    if (layer->shownstate != layer->basestate && layer->shownstate != layer->transformedstate) f(layer->shownstate);
}

qbRect Bounds(ScriptState* L, qbLayer* layer) {
    qbRect r;
    if (layer->hidden || layer->pending || layer->type == kLayerNoObject) return r;
    GetLayerBounds(L, layer, layer->shownstate, &r.x, &r.y, &r.width, &r.height);
    return r;
}

// What a content or geometry change puts back when the rebuild fails.
struct Saved {
    int32_t type;
    ObjectID id;
    qbTransformOptions transform;
    double anchorx, anchory;
    qbLayerState head;  // the base state's geometry, images cleared
};

void SaveGeometry(const qbLayer& layer, Saved* s) {
    s->type = layer.type;
    s->id = layer.id;
    s->transform = layer.transform;
    s->anchorx = layer.anchorx;
    s->anchory = layer.anchory;
    const qbLayerState& b = *layer.basestate;
    s->head.x = b.x;
    s->head.y = b.y;
    s->head.width = b.width;
    s->head.height = b.height;
    s->head.srcx = b.srcx;
    s->head.srcy = b.srcy;
    s->head.anchoredx = b.anchoredx;
    s->head.anchoredy = b.anchoredy;
    s->head.shownx = b.shownx;
    s->head.showny = b.showny;
    s->head.shownwidth = b.shownwidth;
    s->head.shownheight = b.shownheight;
}

void RestoreGeometry(qbLayer* layer, const Saved& s) {
    layer->type = s.type;
    layer->id = s.id;
    layer->transform = s.transform;
    layer->anchorx = s.anchorx;
    layer->anchory = s.anchory;
    qbLayerState& b = *layer->basestate;
    b.x = s.head.x;
    b.y = s.head.y;
    b.width = s.head.width;
    b.height = s.head.height;
    b.srcx = s.head.srcx;
    b.srcy = s.head.srcy;
    b.anchoredx = s.head.anchoredx;
    b.anchoredy = s.head.anchoredy;
    b.shownx = s.head.shownx;
    b.showny = s.head.showny;
    b.shownwidth = s.head.shownwidth;
    b.shownheight = s.head.shownheight;
}

int32_t AnchorOffset(int32_t size, double anchor) { return ClampToInt32(size * anchor); }

// The layer takes the working copies; the areas to refresh go to list.
int CommitStyle(ScriptState* L, qbBGPic* bgpic, qbLayer* layer, StyleWork& w, qbDirtyRectList* list) {
    const qbRect before = Bounds(L, layer);
    // A new anchor keeps x, y as the anchor point, so the image moves: the
    // states are laid out anew from the base state, as after a transform.
    const bool text = w.text.layout != nullptr;
    const bool shape = w.shape.shape != nullptr;
    const bool rebuild = w.content || w.geometry || w.anchor || text || shape;
    // The region and its mode go in first: the rebuild below transforms the
    // region with the images, else the states get their copies here.
    const qbClipRegion* oldClip = layer->basestate->clipregion;
    const int32_t oldClipMode = layer->cliptransformmode;
    if (w.clipChanged) layer->basestate->clipregion = w.clip;
    layer->cliptransformmode = w.cliptransformmode;
    auto restoreClip = [&] {
        layer->basestate->clipregion = oldClip;
        layer->cliptransformmode = oldClipMode;
    };
    if (!rebuild && (w.clipChanged || w.cliptransformmode != oldClipMode)) {
        if (int err = TransformLayerClipRegions(L, layer)) {
            restoreClip();
            return err;
        }
    }
    if (rebuild || w.position) {
        Saved saved;
        SaveGeometry(*layer, &saved);
        qbLayerState* base = layer->basestate;
        if (w.content && SourceKind(w.type)) {
            if (int err = AddLayerSource(SourceKind(w.type), w.id)) {
                restoreClip();
                return err;
            }
        }
        if (w.content) {
            layer->type = w.type;
            layer->id = w.id;
            base->srcx = w.srcx;
            base->srcy = w.srcy;
            base->width = w.width;
            base->height = w.height;
        }
        layer->transform = w.t;
        layer->anchorx = layer->transform.anchorx = w.anchorx;
        layer->anchory = layer->transform.anchory = w.anchory;
        // The text's old picture and layout, put back when the rebuild fails.
        qbObjectImage oldImage{base->bitmap, base->mask, base->alpha};
        std::shared_ptr<void> oldLayout;
        // A drawn picture (text or shape) replaces the base image; a
        // conversion leaves the object the layer showed.
        auto install = [&](qbObjectImage& image, int32_t convert) {
            base->bitmap = image.bitmap;
            base->mask = image.mask;
            base->alpha = image.alpha;
            image = {};
            base->width = w.width;
            base->height = w.height;
            if (convert) {
                layer->type = convert;
                layer->id = ObjectID{};
                base->srcx = base->srcy = 0;
            }
        };
        auto takeBack = [&](qbObjectImage& image) {
            image = {base->bitmap, base->mask, base->alpha};
            base->bitmap = oldImage.bitmap;
            base->mask = oldImage.mask;
            base->alpha = oldImage.alpha;
        };
        if (text) {
            oldLayout = std::move(base->textLayout);
            base->textLayout = std::move(w.text.layout);
            install(w.text.image, w.convertText);
        }
        std::shared_ptr<void> oldShape;
        if (shape) {
            oldShape = std::move(base->shapeState);
            base->shapeState = std::move(w.shape.shape);
            install(w.shape.image, w.convertShape);
            if (w.shape.idSet) layer->id = w.shape.id;
        }
        auto restoreText = [&] {
            if (shape) {
                takeBack(w.shape.image);
                base->shapeState = std::move(oldShape);
            }
            if (!text) return;
            takeBack(w.text.image);
            base->textLayout = std::move(oldLayout);
        };
        if (w.geometry || w.content || text || shape)
            ComputeTransformMatrix(&layer->transform, base->width, base->height);
        if (rebuild) {
            base->x = w.x;
            base->y = w.y;
            base->anchoredx = SaturatingSub(w.x, AnchorOffset(base->width, w.anchorx));
            base->anchoredy = SaturatingSub(w.y, AnchorOffset(base->height, w.anchory));
            base->shownx = base->anchoredx;
            base->showny = base->anchoredy;
            base->shownwidth = base->width;
            base->shownheight = base->height;
            // The base image of a copied part would no longer match; text
            // turned into an object's layer leaves its picture and layout.
            // A video layer keeps its video's picture.
            qbBitmap* own = w.content && w.type != kLayerVideo ? base->bitmap : nullptr;
            if (own) base->bitmap = nullptr;
            const bool textGoes = w.content && (IsTextOutLayer(saved.type) || IsDrawnLayerType(saved.type));
            qbObjectImage ownPlanes;
            std::shared_ptr<void> ownLayout, ownShape;
            if (textGoes) {
                ownPlanes = {nullptr, base->mask, base->alpha};
                base->mask = base->alpha = nullptr;
                ownLayout = std::move(base->textLayout);
                ownShape = std::move(base->shapeState);
            }
            // A change that keeps the picture and its turn keeps the
            // turned image.
            bool samePicture = !w.content && !text && !shape && saved.transform.smoothscale == layer->transform.smoothscale;
            for (int i = 0; i < 4; ++i) samePicture = samePicture && saved.transform.matrix[i] == layer->transform.matrix[i];
            if (int err = ApplyLayerChange(L, layer, samePicture ? uint32_t{kChangeSamePicture} : 0u)) {
                base->bitmap = own ? own : base->bitmap;
                if (textGoes) {
                    base->mask = ownPlanes.mask;
                    base->alpha = ownPlanes.alpha;
                    base->textLayout = std::move(ownLayout);
                    base->shapeState = std::move(ownShape);
                }
                if (w.content && SourceKind(w.type)) RemoveLayerSource(SourceKind(w.type), w.id);
                RestoreGeometry(layer, saved);
                restoreText();
                restoreClip();
                return err;
            }
            FreeBitmap(own);
            FreeObjectImage(&ownPlanes);
            if (text || shape) {
                FreeObjectImage(&oldImage);
                ForEachState(layer, FreeLayerStyleCaches);
                if (w.convertText || w.convertShape) ReleaseOldSource(saved.type, saved.id, &w.releaseMask);
            }
            if (w.content) {
                if (SourceKind(saved.type)) RemoveLayerSource(SourceKind(saved.type), saved.id);
                ForEachState(layer, [](qbLayerState* s) {
                    FreeLayerStyleCaches(s);
                    FreeBitmap(s->fxbitmap);
                    FreeMask(s->fxmask);
                    FreeAlphaChannel(s->fxalpha);
                    s->fxbitmap = s->fxmask = s->fxalpha = nullptr;
                });
            }
        } else {
            RepositionLayer(L, layer, nullptr, w.x, w.y, true, 0, nullptr);
        }
    }

    // Appearance.
    if (!SameFilters(w.filters, layer->filters)) {
        layer->filters = w.filters;
        layer->hasgeometricfilter = HasGeometricFilters(w.filters) ? 1 : 0;
        FreeLayerFilterCaches(layer);
        ForEachState(layer, FreeLayerStyleCaches);
    }
    if (!SameShadow(w.shadow, layer->shadow) || !SameBorder(w.border, layer->border)) {
        layer->shadow = w.shadow;
        layer->border = w.border;
        ForEachState(layer, FreeLayerStyleCaches);
    }
    layer->hidden = w.hidden;
    layer->transparency = w.transparency;
    layer->groupname = w.group;
    if (w.z >= 0) MoveLayerInStack(bgpic, layer, w.z);
    bgpic->layersDirty = 1;

    const qbRect after = Bounds(L, layer);
    const qbRect r = UnionOfRects(before, after);
    if (r.width > 0 && r.height > 0) AppendDirtyRect(list, r.x, r.y, r.width, r.height, true);
    return 0;
}

// Finds the pair's layer again after its keys were read: 0 when the same
// layer still stands on the current BGPic, else the error that names it gone.
using LayerRefind = std::function<int(qbBGPic** bgpic, qbLayer* layer)>;

int StyleOneLayer(ScriptState* L, qbBGPic* bgpic, qbLayer* layer, int tab, bool group, qbDirtyRectList* list,
                  uint32_t* releaseMask, const LayerRefind& refind) {
    // The keys' script code may free the layer while they are read, which
    // reads the layer between them: its record stays until this ends.
    const qbLayerPin pin(layer);
    StyleWork w;
    const qbLayerState* base = layer->basestate;
    w.type = layer->type;
    w.id = layer->id;
    w.srcx = base->srcx;
    w.srcy = base->srcy;
    w.width = base->width;
    w.height = base->height;
    w.t = layer->transform;
    w.anchorx = layer->anchorx;
    w.anchory = layer->anchory;
    w.x = base->x;
    w.y = base->y;
    w.hidden = layer->hidden;
    w.transparency = layer->transparency;
    w.cliptransformmode = layer->cliptransformmode;
    w.shadow = layer->shadow;
    w.border = layer->border;
    w.filters = layer->filters;
    w.group = layer->groupname;
    w.clip = base->clipregion;
    if (!group) {
        if (int err = ReadTypeKeys(L, tab, *layer, &w)) return err;
        if (int err = ReadTextKeys(L, tab, *layer, &w)) return err;
        if (int err = ReadShapeKeys(L, tab, *layer, &w)) return err;
    }
    if (int err = ReadGeometryKeys(L, tab, *layer, &w)) return err;
    if (int err = ReadAppearanceKeys(L, tab, &w)) return err;
    // The keys' script code may have removed the layer, freed its BGPic or
    // the clip region a key named: all of it is found again.
    if (int err = refind(&bgpic, layer)) return err;
    if (!w.clipChanged) {
        w.clip = layer->basestate->clipregion;
    } else if (w.clip) {
        qbClipRegionObject* r = nullptr;
        if (int err = GetClipRegionRecord(w.clipId, &r, 0)) return err;
        w.clip = r;
    }
    // The style is written to the layer's own pictures and words; an effect
    // playing in it reads the layer again afterwards.
    LayerChangeScope change(layer);
    if (int err = CommitStyle(L, bgpic, layer, w, list)) return err;
    *releaseMask |= w.releaseMask;
    return 0;
}

// A layer named by a string is gone: the name is the error's detail.
int LayerGone(ScriptState* L, int layerArg) {
    SetErrorDetail(VmToCString(L, layerArg));
    return ERR_FINDLAYER;
}

bool AnyLayerHeld(const qbBGPic* bgpic) {
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i)
        if (GetLayerByIndex(bgpic, i)->hold) return true;
    return false;
}

// Shows what the pairs changed so far: once, merged, unless the caller
// refreshes itself or a layer holds the refresh back.
void FlushStyleChanges(ScriptState* L, qbBGPic* bgpic, qbDirtyRectList* list, bool noRefresh) {
    const qbDisplay* d = GetCurrentDisplay();
    const bool selected = d && d->output.type == kOutputBGPic;
    if (noRefresh || selected || AnyLayerHeld(bgpic)) return;
    if (list->overflowed) {
        RefreshOrMarkDirty(L, 0, 0, bgpic->currentWidth, bgpic->currentHeight);
    } else {
        MergeDirtyRects(list);
        for (int32_t i = 0; i < list->count; ++i) {
            const qbDirtyRect& e = list->entries[static_cast<size_t>(i)];
            if (!e.dead) RefreshOrMarkDirty(L, e.x1, e.y1, e.x2 - e.x1 + 1, e.y2 - e.y1 + 1);
        }
    }
    list->Reset();
}

}  // namespace

void CopyLayerStyle(qbLayer* layer, const qbLayer& source) {
    layer->hidden = source.hidden;
    layer->transparency = source.transparency;
    layer->shadow = source.shadow;
    layer->border = source.border;
    layer->cliptransformmode = source.cliptransformmode;
    layer->filters = source.filters;
    layer->hasgeometricfilter = source.hasgeometricfilter;
}

int SetLayerStyleCore(ScriptState* L, int first, int count, bool noRefresh) {
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    qbDirtyRectList* list = LayersDirtyList();
    list->Reset();
    uint32_t releaseMask = 0;
    int err = 0;
    try {
        // A layer argument without its table fails like a table of the wrong kind.
        for (int pair = 0; pair < count && !err; pair += 2) {
            const int layerArg = first + pair, tab = first + pair + 1;
            if (VmType(L, tab) != kTypeTable) {
                SetErrorArgIndex(tab);
                err = ERR_TABEXPECTED;
                break;
            }
            int32_t cursor = 0;
            do {
                int32_t more = 0;
                qbLayer* layer = nullptr;
                const int32_t wanted = cursor;
                err = GetLayerArg(L, layerArg, bgpic, &cursor, &more, &layer);
                // Found again as it was found: the same argument, the same
                // place in its group, on the BGPic that is current now.
                const LayerRefind refind = [&](qbBGPic** pic, qbLayer* was) -> int {
                    if (int e = CheckLayerTarget(GetCurrentDisplay())) return e;
                    qbBGPic* now = GetCurrentBGPic();
                    if (now != bgpic) return ERR_NOLAYERS;
                    int32_t at = wanted;
                    qbLayer* found = nullptr;
                    if (int e = GetLayerArg(L, layerArg, now, &at, nullptr, &found)) return e;
                    if (found != was)
                        return VmType(L, layerArg) == kTypeString ? LayerGone(L, layerArg) : ERR_LAYERRANGE;
                    *pic = now;
                    return 0;
                };
                if (!err) err = StyleOneLayer(L, bgpic, layer, tab, more != 0, list, &releaseMask, refind);
            } while (!err && cursor != -1);
        }
    } catch (...) {
        // A key of the wrong kind raised through the VM: what the earlier
        // pairs changed is still shown.
        if (GetCurrentBGPic() == bgpic) FlushStyleChanges(L, bgpic, list, noRefresh);
        throw;
    }
    // Script code in the keys may have shown another BGPic and freed this
    // one: what was changed on it went with it.
    if (GetCurrentBGPic() != bgpic) {
        list->Reset();
        return err ? err : ERR_NOLAYERS;
    }
    FlushStyleChanges(L, bgpic, list, noRefresh);
    if (releaseMask) ReleaseLayerSources(L, releaseMask);
    bgpic->layersDirty = 1;
    return err;
}
