// The vectorgraphics library's commands and its registration.
#include "vector/vectorlib.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "draw/draw.h"
#include "vector/drawpath.h"
#include "vector/engine.h"
#include "vector/ftengine.h"
#include "vector/path.h"
#include "vector/pathlayers.h"
#include "vector/pathtext.h"
#include "vector/vectorengines.h"
#include "vector/vectortext.h"

namespace {

int PathArg(ScriptState* L, int idx, qbPath** out) { return GetPath(GetObjectIDArg(L, idx), out); }

qbVectorEngine* Engine() { return ActiveVectorEngine(); }

// Appends a point command (move, line) read from arguments 2 and 3.
int PointCommand(ScriptState* L, int32_t code, int relative) {
    CheckArgCount(L, 3, 3, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    return AppendPathCommand(path, code,
                             {qbPathArg::Int(relative), qbPathArg::Double(VmCheckNumber(L, 2)),
                              qbPathArg::Double(VmCheckNumber(L, 3))});
}

int CurveCommand(ScriptState* L, int relative) {
    CheckArgCount(L, 7, 7, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    double v[6];
    for (int i = 0; i < 6; ++i) v[i] = VmCheckNumber(L, 2 + i);
    return AppendPathCommand(path, QB_PATH_CURVE,
                             {qbPathArg::Int(relative), qbPathArg::Double(v[0]), qbPathArg::Double(v[1]),
                              qbPathArg::Double(v[2]), qbPathArg::Double(v[3]), qbPathArg::Double(v[4]),
                              qbPathArg::Double(v[5])});
}

int AppendArc(qbPath* path, double xc, double yc, double rx, double ry, double start, double end, int32_t dir) {
    return AppendPathCommand(path, QB_PATH_ARC,
                             {qbPathArg::Double(xc), qbPathArg::Double(yc), qbPathArg::Double(rx),
                              qbPathArg::Double(ry), qbPathArg::Double(start), qbPathArg::Double(end),
                              qbPathArg::Int(dir)});
}

int cmdMoveTo(ScriptState* L) { return PointCommand(L, QB_PATH_MOVE, 0); }
int cmdLineTo(ScriptState* L) { return PointCommand(L, QB_PATH_LINE, 0); }
int cmdCurveTo(ScriptState* L) { return CurveCommand(L, 0); }
int cmdRelMoveTo(ScriptState* L) { return PointCommand(L, QB_PATH_MOVE, 1); }
int cmdRelLineTo(ScriptState* L) { return PointCommand(L, QB_PATH_LINE, 1); }
int cmdRelCurveTo(ScriptState* L) { return CurveCommand(L, 1); }

int cmdStartPath(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbPath* path = nullptr;
    if (int err = AddPath(L, id, &path)) return err;
    return id.chooseFlag ? PushObjectID(L, IDOf(*path)) : 0;
}

int SimpleCommand(ScriptState* L, int32_t code) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    return AppendPathCommand(path, code, {});
}

int cmdStartSubPath(ScriptState* L) { return SimpleCommand(L, QB_PATH_SUBPATH); }
int cmdClosePath(ScriptState* L) { return SimpleCommand(L, QB_PATH_CLOSE); }

int cmdAddArcToPath(ScriptState* L) {
    CheckArgCount(L, 7, 8, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    const int32_t dir = ClampToInt32(VmOptNumber(L, 8, 1));
    return AppendArc(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3), VmCheckNumber(L, 4), VmCheckNumber(L, 5),
                     VmCheckNumber(L, 6), VmCheckNumber(L, 7), dir);
}

int cmdAddCircleToPath(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    const double r = VmCheckNumber(L, 4);
    return AppendArc(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3), r, r, 0, 360, 1);
}

int cmdAddEllipseToPath(ScriptState* L) {
    CheckArgCount(L, 5, 5, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    return AppendArc(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3), VmCheckNumber(L, 4), VmCheckNumber(L, 5), 0, 360,
                     1);
}

int cmdAddBoxToPath(ScriptState* L) {
    CheckArgCount(L, 5, 6, 0, 0);
    qbPathRef found(L, GetObjectIDArg(L, 1));
    qbTaken<qbPath> path = nullptr;
    if (int err = found.Take(&path)) return err;
    int32_t corners[4] = {};
    if (VmType(L, 6) == kTypeTable) {
        int32_t v = 0;
        if (GetTableFieldInt(L, 6, "roundlevel", &v, nullptr)) std::fill(corners, corners + 4, v);
        static const char* const kKeys[] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; ++i)
            if (GetTableFieldInt(L, 6, kKeys[i], &v, nullptr)) corners[i] = v;
    }
    if (int err = found.Take(&path)) return err;
    for (int32_t& c : corners) c = std::clamp(c, 0, 100);
    return AppendPathCommand(path, QB_PATH_BOX,
                             {qbPathArg::Double(VmCheckNumber(L, 2)), qbPathArg::Double(VmCheckNumber(L, 3)),
                              qbPathArg::Double(VmCheckNumber(L, 4)), qbPathArg::Double(VmCheckNumber(L, 5)),
                              qbPathArg::Int(corners[0]), qbPathArg::Int(corners[1]), qbPathArg::Int(corners[2]),
                              qbPathArg::Int(corners[3])});
}

int cmdSetLineJoin(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    GetLineStyle().join = GetIntArg(L, 1);
    return 0;
}

int cmdSetLineCap(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    GetLineStyle().cap = GetIntArg(L, 1);
    return 0;
}

int cmdSetDash(ScriptState* L) {
    CheckArgCount(L, 2, 0, 0, 0);
    const int count = VmGetTop(L) - 1;
    const double offset = VmCheckNumber(L, 1);
    qbLineStyle& style = GetLineStyle();
    if (VmCheckNumber(L, 2) < 0) {
        style.dashes.reset();
        style.dashOffset = 0;
        style.dashCount = 0;
        return 0;
    }
    std::unique_ptr<double[]> dashes(new (std::nothrow) double[static_cast<size_t>(count)]);
    if (!dashes) return ERR_MEM;
    for (int i = 0; i < count; ++i) dashes[i] = VmCheckNumber(L, 2 + i);
    style.dashes = std::move(dashes);
    style.dashOffset = offset;
    style.dashCount = count;
    return 0;
}

int cmdSetFillRule(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    GetLineStyle().fillRule = GetIntArg(L, 1);
    return 0;
}

int cmdFreePath(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    FreePath(L, path);
    return 0;
}

int cmdClearPath(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    ClearPathCommands(path);
    return 0;
}

int cmdIsPathEmpty(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    VmPushNumber(L, path->commands ? 0 : 1);
    return 1;
}

qbVectorLineStyle CurrentVectorStyle() { return VectorLineStyleOf(GetLineStyle(), GetDrawState()->formStyle); }

int cmdGetCurrentPoint(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    double x = 0, y = 0;
    if (path->commands) {
        if (int err = ResolvePathTextHandles(path->commands.get(), Engine())) return err;
        const qbVectorLineStyle style = CurrentVectorStyle();
        if (!CallEngineGetCurrentPoint(Engine(), path->commands.get(), &style, &x, &y)) x = y = 0;
    }
    VmPushNumber(L, x);
    VmPushNumber(L, y);
    return 2;
}

// The engine's extents of the path at origin 0, 0; all 0 for an empty path
// or when the engine reports nothing. 0 or the error of the text handles'
// lookup.
int MeasurePath(const qbPath& path, int filled, int32_t width, double out[4]) {
    std::fill(out, out + 4, 0.0);
    if (!path.commands) return 0;
    if (int err = ResolvePathTextHandles(path.commands.get(), Engine())) return err;
    static const double kIdentity[4] = {1, 0, 0, 1};
    const qbVectorLineStyle style = CurrentVectorStyle();
    qbPathExtentsArgs args{};
    args.commands = path.commands.get();
    args.style = &style;
    args.filled = filled;
    args.strokeWidth = width;
    args.matrix = kIdentity;
    if (!CallEngineGetPathExtents(Engine(), &args)) return 0;
    out[0] = args.x1;
    out[1] = args.y1;
    out[2] = args.x2;
    out[3] = args.y2;
    return 0;
}

int cmdGetPathExtents(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    const qbDrawState& draw = *GetDrawState();
    double box[4];
    if (int err = MeasurePath(*path, draw.fillStyle != FILLNONE, draw.lineWidth, box)) return err;
    for (double v : box) VmPushNumber(L, v);
    return 4;
}

int cmdCopyPath(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbPath* source = nullptr;
    if (int err = PathArg(L, 1, &source)) return err;
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    if (!id.chooseFlag && !source->handle && source->id == id.id) return ERR_WRONGUSAGE;
    std::unique_ptr<uint8_t[]> buffer;
    if (source->commands) {
        buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(source->capacity)]);
        if (!buffer) return ERR_MEM;
        std::memcpy(buffer.get(), source->commands.get(), static_cast<size_t>(source->capacity));
    }
    const int32_t capacity = source->capacity;
    const size_t writeOffset = source->writeOffset;
    // The copy starts without named data of its own.
    qbPath* copy = nullptr;
    if (int err = AddPath(L, id, &copy)) return err;
    copy->commands = std::move(buffer);
    copy->capacity = capacity;
    copy->writeOffset = writeOffset;
    return id.chooseFlag ? PushObjectID(L, IDOf(*copy)) : 0;
}

int cmdAppendPath(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbPath* dest = nullptr;
    qbPath* source = nullptr;
    if (int err = PathArg(L, 1, &dest)) return err;
    if (int err = PathArg(L, 2, &source)) return err;
    if (dest == source) return ERR_WRONGUSAGE;
    if (!source->commands) return 0;
    return AppendPathStream(dest, source->commands.get(), source->writeOffset);
}

int Translate(qbPath* path, double dx, double dy) {
    if ((dx == 0 && dy == 0) || !path->commands) return 0;
    if (int err = ResolvePathTextHandles(path->commands.get(), Engine())) return err;
    qbTranslatePathArgs args{path->commands.get(), dx, dy};
    CallEngineTranslatePath(Engine(), &args);
    return 0;
}

int cmdTranslatePath(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    return Translate(path, VmCheckNumber(L, 2), VmCheckNumber(L, 3));
}

int cmdNormalizePath(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPath* path = nullptr;
    if (int err = PathArg(L, 1, &path)) return err;
    if (!path->commands) return 0;
    double box[4];
    if (int err = MeasurePath(*path, 1, 1, box)) return err;
    return Translate(path, -box[0], -box[1]);
}

const ScriptCommand kVectorCommands[] = {
    {"MoveTo", cmdMoveTo},
    {"LineTo", cmdLineTo},
    {"CurveTo", cmdCurveTo},
    {"RelMoveTo", cmdRelMoveTo},
    {"RelLineTo", cmdRelLineTo},
    {"RelCurveTo", cmdRelCurveTo},
    {"DrawPath", cmdDrawPath},
    {"StartPath", cmdStartPath},
    {"StartSubPath", cmdStartSubPath},
    {"ClosePath", cmdClosePath},
    {"AddArcToPath", cmdAddArcToPath},
    {"AddCircleToPath", cmdAddCircleToPath},
    {"AddEllipseToPath", cmdAddEllipseToPath},
    {"AddBoxToPath", cmdAddBoxToPath},
    {"SetLineJoin", cmdSetLineJoin},
    {"SetLineCap", cmdSetLineCap},
    {"SetDash", cmdSetDash},
    {"SetFillRule", cmdSetFillRule},
    {"FreePath", cmdFreePath},
    {"ClearPath", cmdClearPath},
    {"IsPathEmpty", cmdIsPathEmpty},
    {"GetCurrentPoint", cmdGetCurrentPoint},
    {"GetPathExtents", cmdGetPathExtents},
    {"CopyPath", cmdCopyPath},
    {"AppendPath", cmdAppendPath},
    {"AddTextToPath", cmdAddTextToPath},
    {"TranslatePath", cmdTranslatePath},
    {"NormalizePath", cmdNormalizePath},
    {"ForcePathUse", cmdForcePathUse},
    {"SetVectorEngine", cmdSetVectorEngine},
    {nullptr, nullptr},
};
static_assert(sizeof kVectorCommands / sizeof kVectorCommands[0] == 31);

const ScriptConstant kVectorConstants[] = {
    {"JOINMITER", nullptr, QB_JOIN_MITER},
    {"JOINROUND", nullptr, QB_JOIN_ROUND},
    {"JOINBEVEL", nullptr, QB_JOIN_BEVEL},
    {"CAPBUTT", nullptr, QB_CAP_BUTT},
    {"CAPROUND", nullptr, QB_CAP_ROUND},
    {"CAPSQUARE", nullptr, QB_CAP_SQUARE},
    {"FILLRULEWINDING", nullptr, QB_FILLRULE_WINDING},
    {"FILLRULEEVENODD", nullptr, QB_FILLRULE_EVENODD},
    {nullptr, nullptr, 0},
};

}  // namespace

const ScriptCommand* VectorCommands() { return kVectorCommands; }
const ScriptConstant* VectorConstants() { return kVectorConstants; }

int InitVectorLibrary(ScriptState* L) {
    InstallInbuiltVectorEngine();
    InstallPathLayerHooks();
    SetCurvedShapeService(&RenderShapeOutline);
    SetShapePathRoute(&RenderShapeAsPath);
    SetShapePathForced(false);
    ResetLineStyle();
    if (int err = RegisterObjectList(PathListHead())) return err;
    VmRegisterCommands(L, nullptr, kVectorCommands, 0);
    VmRegisterConstants(L, kVectorConstants, 0);
    return RegisterCommandTable(kVectorCommands, "vectorgraphics", kVectorConstants);
}

void FreeVectorLibrary(ScriptState* L) {
    SetCurvedShapeService(nullptr);
    SetShapePathRoute(nullptr);
    SetShapePathForced(false);
    FreeAllPaths(L);
    ResetLineStyle();
    FreeFontEngineHandles();
}
