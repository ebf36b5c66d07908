// Path layers: a turned or display-scaled path layer is drawn again from its
// own copy of the request instead of resampling its pixels, its border is
// the path stroked anew, and its style keys read into a copy of the
// request that is then drawn for the layer's base image.
#include "vector/pathlayers.h"

#include <cmath>
#include <new>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/plugin.h"
#include "display/bgpics.h"
#include "draw/shape.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/shapehooks.h"
#include "objects/texthooks.h"
#include "vector/engine.h"
#include "vector/path.h"
#include "vector/pathrender.h"
#include "vector/pathtext.h"
#include "vector/vectorengines.h"
#include "vm/vm.h"

namespace {

qbPathRequest* MutableRequestOf(const qbLayer& layer) {
    if (layer.type != kLayerVectorPath || !layer.basestate) return nullptr;
    return static_cast<qbPathRequest*>(layer.basestate->shapeState.get());
}

// The drawing's x, y that puts the layer's anchor point at the layer's
// position (scaled by the display's factors).
void DrawingOrigin(const qbLayer& layer, const qbPathRequest& r, double fx, double fy, int32_t* x, int32_t* y) {
    const qbLayerState& base = *layer.basestate;
    *x = ClampToInt32(std::round(base.x * fx) - r.layerWords[kPathLayerOffsetX]);
    *y = ClampToInt32(std::round(base.y * fy) - r.layerWords[kPathLayerOffsetY]);
}

// The layer's transform with the matrix given (display factors folded in)
// taken as it stands.
qbTransformOptions FixedTransform(const qbLayer& layer, const double matrix[4]) {
    qbTransformOptions t = layer.transform;
    t.matrixset = 1;
    for (int i = 0; i < 4; ++i) t.transform[i] = t.matrix[i] = matrix[i];
    return t;
}

// Images-only output is placed from the anchor point; the layer wants the
// corner of its images.
void PlaceImages(const qbPathImages& images, int32_t layoutWidth, int32_t layoutHeight, const qbTransformOptions& t,
                 int32_t* x, int32_t* y) {
    *x = ClampToInt32(images.x - std::floor(layoutWidth * t.anchorx));
    *y = ClampToInt32(images.y - std::floor(layoutHeight * t.anchory));
}

int RenderPathLayer(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                    qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    *out = {};
    const qbPathRequest* kept = PathLayerRequestOf(layer);
    if (!kept) return ERR_WRONGUSAGE;
    std::shared_ptr<qbPathRequest> r = CloneVectorLayerState(*kept);
    if (!r) return ERR_MEM;
    qbTransformOptions t = FixedTransform(layer, matrix);
    qbLayerOptions l = DefaultLayerOptions();
    int32_t ox = 0, oy = 0;
    DrawingOrigin(layer, *kept, fx, fy, &ox, &oy);
    qbPathImages images;
    if (int err = RenderPath(L, nullptr, nullptr, ox, oy, r.get(), &t, &l, kPathRedraw, &images, 0)) return err;
    *out = {images.bitmap, nullptr, images.alpha};
    PlaceImages(images, r->width, r->height, t, x, y);
    *width = images.width;
    *height = images.height;
    return 0;
}

int RenderPathBorder(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                     uint32_t colour, int32_t size, qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width,
                     int32_t* height) {
    *out = {};
    const qbPathRequest* kept = PathLayerRequestOf(layer);
    if (!kept) return ERR_WRONGUSAGE;
    std::shared_ptr<qbPathRequest> r = CloneVectorLayerState(*kept);
    if (!r) return ERR_MEM;
    const qbTransformOptions t = FixedTransform(layer, matrix);
    qbPathImages images;
    // The matrix carries the display's factors already.
    if (int err = RenderPathLayerBorder(L, t, *r, colour, size, 1.0, 1.0, &images)) return err;
    int32_t ox = 0, oy = 0;
    DrawingOrigin(layer, *kept, fx, fy, &ox, &oy);
    images.x = ClampToInt32(static_cast<double>(images.x) + ox);
    images.y = ClampToInt32(static_cast<double>(images.y) + oy);
    *out = {images.bitmap, nullptr, images.alpha};
    PlaceImages(images, kept->width, kept->height, t, x, y);
    *width = images.width;
    *height = images.height;
    return 0;
}

bool OnlyBorderShows(const qbLayer& layer) {
    const qbPathRequest* r = PathLayerRequestOf(layer);
    return r && layer.border.border && r->style.draw.fillStyle == FILLNONE &&
           (r->colour & 0xFFFFFFu) == (layer.border.colour & 0xFFFFFFu);
}

const char* EngineName(const qbVectorEngine* engine) {
    if (!engine || IsInbuiltVectorEngine(engine)) return "default";
    const auto* plugin = static_cast<const qbPlugin*>(engine->plugin);
    return plugin && plugin->name ? plugin->name : "";
}

// What a layer turned into a path starts from: the default line style and
// draw state, with the colour and fill of the shape or text it was.
std::shared_ptr<qbPathRequest> DefaultRequest(ScriptState* L, const qbLayer& layer) {
    std::shared_ptr<qbPathRequest> r(new (std::nothrow) qbPathRequest);
    if (!r) return nullptr;
    r->style.draw = DefaultDrawState();
    if (IsShapeLayerType(layer.type)) {
        if (const qbShapeLayerData* shape = ShapeLayerDataOf(layer)) {
            r->style.draw = shape->state;
            r->colour = shape->colour & 0xFFFFFFu;
        }
    } else if (layer.type == kLayerTextOut || layer.type == kLayerPrint) {
        if (const auto push = TextLayerHooks().pushStyle) {
            const int top = VmGetTop(L);
            VmPushNewTable(L);
            push(L, layer);
            uint32_t colour = 0;
            if (GetTableFieldUInt(L, -1, "color", &colour, nullptr)) r->colour = colour & 0xFFFFFFu;
            VmSetTop(L, top);
            r->style.draw.fillStyle = FILLCOLOR;
        }
    }
    // Shadow and edge are the layer's own.
    r->style.draw.formStyle &= ~uint32_t{kFormShadow | kFormEdge};
    return r;
}

// "dashes": numbers from index 0 up to the first Nil.
int ReadDashes(ScriptState* L, int tab, std::vector<double>* out, bool* found) {
    const int top = VmGetTop(L);
    VmPushString(L, "dashes");
    IndexOptionTable(L, tab);
    if (VmType(L, -1) == kTypeNil) {
        VmSetTop(L, top);
        return 0;
    }
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, top);
        return ERR_TABEXPECTED;
    }
    const int table = VmGetTop(L);
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, table, i);
        const int type = VmType(L, -1);
        if (type == kTypeNil) break;
        if (type != kTypeNumber) {
            VmSetTop(L, top);
            return ERR_NUMTABLEARG;
        }
        out->push_back(VmToNumber(L, -1));
        VmSetTop(L, -2);
    }
    VmSetTop(L, top);
    *found = true;
    return 0;
}

// The request's stream replaced by a copy of the path's.
int TakePath(const qbPath& path, std::shared_ptr<qbPathRequest>* r) {
    qbPathRequest from = **r;
    from.commands = path.commands.get();
    from.capacity = path.capacity;
    from.ownedCommands.reset();
    std::shared_ptr<qbPathRequest> copy;
    if (int err = ClonePathRequest(from, &copy)) return err;
    *r = std::move(copy);
    return 0;
}

int ReadPathKeys(ScriptState* L, int tab, bool converting, std::shared_ptr<qbPathRequest>* request, qbShapeRestyle* out,
                 bool* found) {
    ObjectID id;
    int idFound = 0;
    GetTableFieldObjectID(L, tab, "id", &id, &idFound);
    if (converting && !idFound) return ERR_MISSINGPARAMTR;
    if (idFound) {
        qbPath* path = nullptr;
        if (int err = GetPath(id, &path)) return err;
        if (int err = TakePath(*path, request)) return err;
        out->idSet = true;
        out->id = IDOf(*path);
        *found = true;
    }
    qbPathRequest& r = **request;
    uint32_t colour = 0;
    if (GetTableFieldUInt(L, tab, "color", &colour, nullptr)) {
        r.colour = colour & 0xFFFFFFu;
        *found = true;
    }
    if (int err = ReadLayerFillStyle(L, tab, &r.style.draw, &out->shadowSwitch, &out->borderSwitch, found)) return err;
    int hit = 0;
    GetTableFieldInt(L, tab, "linejoin", &r.style.join, &hit);
    GetTableFieldInt(L, tab, "linecap", &r.style.cap, &hit);
    GetTableFieldInt(L, tab, "fillrule", &r.style.fillRule, &hit);
    double offset = 0;
    if (GetTableFieldFloat(L, tab, "dashoffset", &offset, &hit)) {
        if (!std::isfinite(offset)) return ERR_WRONGUSAGE;
        r.style.dashOffset = offset;
    }
    if (hit) *found = true;
    std::vector<double> dashes;
    bool dashesFound = false;
    if (int err = ReadDashes(L, tab, &dashes, &dashesFound)) return err;
    if (dashesFound) {
        std::shared_ptr<double[]> owned;
        if (!dashes.empty()) {
            owned.reset(new (std::nothrow) double[dashes.size()]);
            if (!owned) return ERR_MEM;
            std::copy(dashes.begin(), dashes.end(), owned.get());
        }
        r.ownedDashes = std::move(owned);
        r.style.dashes = r.ownedDashes.get();
        r.style.dashCount = ClampToInt32(static_cast<double>(dashes.size()));
        *found = true;
    }
    const char* name = nullptr;
    if (GetTableFieldString(L, tab, "vectorengine", &name, nullptr)) {
        qbVectorEngine* engine = nullptr;
        if (int err = FindVectorEngine(name, &engine)) return err;
        r.engine = IsInbuiltVectorEngine(engine) ? nullptr : engine;
        *found = true;
    }
    return 0;
}

int RestylePathLayer(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbShapeRestyle* out) {
    if ((convertTo ? convertTo : layer.type) != kLayerVectorPath) return 0;
    const qbPathRequest* old = PathLayerRequestOf(layer);
    if (!old && !convertTo) return ERR_WRONGUSAGE;
    std::shared_ptr<qbPathRequest> r = old ? CloneVectorLayerState(*old) : DefaultRequest(L, layer);
    if (!r) return ERR_MEM;
    bool found = convertTo != 0;
    if (int err = ReadPathKeys(L, tab, convertTo != 0, &r, out, &found)) return err;
    if (!found) return 0;

    // Drawn untransformed for the base state, from the same x, y as before
    // (a converted layer's own position).
    const qbLayerState& base = *layer.basestate;
    int32_t ox = base.x, oy = base.y;
    if (old) DrawingOrigin(layer, *old, 1.0, 1.0, &ox, &oy);
    qbTransformOptions t = layer.transform;
    t.matrix[0] = t.matrix[3] = 1.0;
    t.matrix[1] = t.matrix[2] = 0.0;
    qbLayerOptions l = DefaultLayerOptions();
    qbPathImages images;
    if (int err = RenderPath(L, nullptr, nullptr, ox, oy, r.get(), &t, &l, 0, &images, 0)) return err;
    r->layerWords[kPathLayerOffsetX] = ClampToInt32(static_cast<double>(images.x) - ox);
    r->layerWords[kPathLayerOffsetY] = ClampToInt32(static_cast<double>(images.y) - oy);
    out->image = {images.bitmap, nullptr, images.alpha};
    out->x = images.x;
    out->y = images.y;
    out->width = images.width;
    out->height = images.height;
    out->shape = std::move(r);
    return 0;
}

void PushPathLayerStyle(ScriptState* L, const qbLayer& layer) {
    const qbPathRequest* r = PathLayerRequestOf(layer);
    if (!r) return;
    SetTableFieldUInt(L, "color", r->colour & 0xFFFFFFu);
    WriteLayerFillStyle(L, r->style.draw);
    SetTableFieldInt(L, "linejoin", r->style.join);
    SetTableFieldInt(L, "linecap", r->style.cap);
    SetTableFieldInt(L, "fillrule", r->style.fillRule);
    SetTableFieldFloat(L, "dashoffset", r->style.dashOffset);
    SetTableFieldString(L, "vectorengine", EngineName(r->engine));
    VmPushString(L, "dashes");
    VmPushNewTable(L);
    for (int32_t i = 0; r->style.dashes && i < r->style.dashCount; ++i) {
        VmPushNumber(L, r->style.dashes[i]);
        VmRawSetIndex(L, -2, i);
    }
    VmSetTableAt(L, -3);
}

}  // namespace

const qbPathRequest* PathLayerRequestOf(const qbLayer& layer) { return MutableRequestOf(layer); }

std::shared_ptr<qbPathRequest> CloneVectorLayerState(const qbPathRequest& request) {
    std::shared_ptr<qbPathRequest> copy;
    if (ClonePathRequest(request, &copy)) return nullptr;
    return copy;
}

void ForgetLayerVectorEngine(const qbVectorEngine* engine) {
    for (qbBGPic* b = FirstBGPic(); b; b = static_cast<qbBGPic*>(b->next)) {
        for (int32_t i = 1; i <= CountLayers(b); ++i) {
            qbPathRequest* r = MutableRequestOf(*GetLayerByIndex(b, i));
            if (!r) continue;
            ResolvePathTextHandles(r->commands, InbuiltVectorEngine());
            if (r->engine == engine) r->engine = nullptr;
        }
    }
}

void InstallPathLayerHooks() {
    qbShapeLayerHooks hooks{};
    hooks.render = &RenderPathLayer;
    hooks.renderBorder = &RenderPathBorder;
    hooks.onlyBorderShows = &OnlyBorderShows;
    hooks.restyle = &RestylePathLayer;
    hooks.pushStyle = &PushPathLayerStyle;
    SetPathLayerHooks(&hooks);
}
