// DrawPath end to end (request to blit) into a selected 1920x1080 BGPic:
// an anti-aliased filled 64-point star, a filled closed path of 200 cubics
// and the same stroked 5 wide with round joins. Beside each: the engine
// alone (measure and DrawPath hook into a coverage buffer of the extents'
// size), and cairo drawing the same geometry in colour on a 1920x1080
// ARGB32 surface.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "../draw/benchworld.h"
#include "draw/draw.h"
#include "objects/bgpiclib.h"
#include "vector/drawpath.h"
#include "vector/engine.h"
#include "vector/ftengine.h"
#include "vector/path.h"
#include "vector/vectorlib.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int kStroke = 5;
constexpr uint32_t kColour = 0x3366CC;

void MoreLibraries(ScriptState* L) {
    InitBGPicLibrary(L);
    InitDrawLibrary(L);
    InitVectorLibrary(L);
}

BenchWorld& World() {
    static BenchWorld* world = [] {
        BenchWorld::Options o;
        o.width = kW;
        o.height = kH;
        o.libraries = MoreLibraries;
        auto* w = new BenchWorld(o);
        if (w->Call("CreateBGPic", {2, kW, kH}) || w->Call("SelectBGPic", {2, 0})) std::abort();
        return w;
    }();
    return *world;
}

// Geometry as a list of moves, lines, cubics and closes, fed to both.
struct Op {
    int kind;  // 0 move, 1 line, 2 cubic, 3 close
    double v[6];
};

std::vector<Op> Star() {
    std::vector<Op> ops;
    for (int i = 0; i < 64; ++i) {
        const double t = i * std::numbers::pi / 32, r = (i & 1) ? 200 : 520;
        ops.push_back({i ? 1 : 0, {960 + r * std::cos(t), 540 + r * std::sin(t)}});
    }
    ops.push_back({3, {}});
    return ops;
}

std::vector<Op> Cubics() {
    std::vector<Op> ops{{0, {40, 540}}};
    for (int i = 0; i < 200; ++i) {
        const double x = 40 + (i + 1) * 9.2, w = 9.2;
        const double a = 400 * std::sin(i * 0.37), b = 400 * std::cos(i * 0.23);
        ops.push_back({2, {x - w * 0.66, 540 + a, x - w * 0.33, 540 + b, x, 540 + 0.5 * (a + b)}});
    }
    ops.push_back({3, {}});
    return ops;
}

// Path 1 built from the ops.
void MakePath(const std::vector<Op>& ops) {
    BenchWorld& w = World();
    qbPath* p = nullptr;
    if (AddPath(w.L, NewObjectID{1, 0}, &p)) std::abort();
    const auto D = [](double v) { return qbPathArg::Double(v); };
    for (const Op& o : ops) {
        if (o.kind == 0 || o.kind == 1)
            AppendPathCommand(p, o.kind ? QB_PATH_LINE : QB_PATH_MOVE, {qbPathArg::Int(0), D(o.v[0]), D(o.v[1])});
        else if (o.kind == 2)
            AppendPathCommand(p, QB_PATH_CURVE,
                              {qbPathArg::Int(0), D(o.v[0]), D(o.v[1]), D(o.v[2]), D(o.v[3]), D(o.v[4]), D(o.v[5])});
        else
            AppendPathCommand(p, QB_PATH_CLOSE, {});
    }
}

void SetStyle(bool filled) {
    qbDrawState& s = *GetDrawState();
    s = DefaultDrawState();
    s.fillStyle = filled ? FILLCOLOR : FILLNONE;
    s.formStyle = kFormAntialias;
    s.lineWidth = kStroke;
    GetLineStyle().join = QB_JOIN_ROUND;
}

void Ours(benchmark::State& state, const std::vector<Op>& ops, bool filled) {
    BenchWorld& w = World();
    MakePath(ops);
    SetStyle(filled);
    for (auto _ : state)
        if (DrawPathInternal(w.L, ObjectID{1, nullptr}, 0, 0, kColour, 0)) {
            state.SkipWithError("DrawPath failed");
            return;
        }
}

void EngineOnly(benchmark::State& state, const std::vector<Op>& ops, bool filled) {
    World();
    MakePath(ops);
    SetStyle(filled);
    qbPath* p = nullptr;
    GetPath(ObjectID{1, nullptr}, &p);
    const qbVectorLineStyle style = VectorLineStyleOf(GetLineStyle(), kFormAntialias);
    static const double kIdentity[4] = {1, 0, 0, 1};
    std::vector<uint8_t> px;
    for (auto _ : state) {
        qbPathExtentsArgs e{};
        e.commands = p->commands.get();
        e.style = &style;
        e.filled = filled;
        e.strokeWidth = kStroke;
        e.matrix = kIdentity;
        InbuiltVectorHooks().getPathExtents(&e);
        const int32_t w = static_cast<int32_t>(std::ceil(e.x2) - std::floor(e.x1));
        const int32_t h = static_cast<int32_t>(std::ceil(e.y2) - std::floor(e.y1));
        px.resize(static_cast<size_t>(w) * h);
        qbDrawPathArgs a{};
        a.commands = p->commands.get();
        a.style = &style;
        a.filled = filled;
        a.strokeWidth = kStroke;
        a.coverage = px.data();
        a.bytesPerRow = a.width = w;
        a.height = h;
        a.x1 = e.x1;
        a.y1 = e.y1;
        a.matrix = kIdentity;
        benchmark::DoNotOptimize(InbuiltVectorHooks().drawPath(&a));
        benchmark::DoNotOptimize(px[px.size() / 2]);
    }
}

void Cairo(benchmark::State& state, const std::vector<Op>& ops, bool filled) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0x33 / 255.0, 0x66 / 255.0, 0xCC / 255.0);
    cairo_set_line_width(cr, kStroke);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (auto _ : state) {
        for (const Op& o : ops) {
            if (o.kind == 0) cairo_move_to(cr, o.v[0], o.v[1]);
            else if (o.kind == 1) cairo_line_to(cr, o.v[0], o.v[1]);
            else if (o.kind == 2) cairo_curve_to(cr, o.v[0], o.v[1], o.v[2], o.v[3], o.v[4], o.v[5]);
            else cairo_close_path(cr);
        }
        filled ? cairo_fill(cr) : cairo_stroke(cr);
        cairo_surface_flush(surface);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void BM_StarFill(benchmark::State& s) { Ours(s, Star(), true); }
void BM_StarFillEngine(benchmark::State& s) { EngineOnly(s, Star(), true); }
void BM_StarFillCairo(benchmark::State& s) { Cairo(s, Star(), true); }
void BM_CubicsFill(benchmark::State& s) { Ours(s, Cubics(), true); }
void BM_CubicsFillEngine(benchmark::State& s) { EngineOnly(s, Cubics(), true); }
void BM_CubicsFillCairo(benchmark::State& s) { Cairo(s, Cubics(), true); }
void BM_CubicsStroke(benchmark::State& s) { Ours(s, Cubics(), false); }
void BM_CubicsStrokeEngine(benchmark::State& s) { EngineOnly(s, Cubics(), false); }
void BM_CubicsStrokeCairo(benchmark::State& s) { Cairo(s, Cubics(), false); }

}  // namespace

BENCHMARK(BM_StarFill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StarFillEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StarFillCairo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsFill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsFillEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsFillCairo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsStroke)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsStrokeEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CubicsStrokeCairo)->Unit(benchmark::kMicrosecond);
