// Shapes through the shape renderer into a selected 1920x1080 BGPic
// against cairo drawing the same on a 1920x1080 ARGB32 surface: 10,000
// anti-aliased circles of radius 20 and 1,000 of radius 200 (the conic
// road; target: at least cairo's speed with its default anti-aliasing),
// and 1,000 aliased 64-vertex polygons (target: at least cairo's speed with
// CAIRO_ANTIALIAS_NONE). Every run draws the same shapes at the same
// places, from one fixed sequence.

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "benchworld.h"
#include "draw/draw.h"
#include "draw/shape.h"
#include "objects/bgpiclib.h"
#include "objects/objectoptions.h"
#include "vector/ftengine.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

void MoreLibraries(ScriptState* L) {
    InitBGPicLibrary(L);
    InitDrawLibrary(L);
}

BenchWorld& World() {
    static BenchWorld* world = [] {
        BenchWorld::Options o;
        o.width = kW;
        o.height = kH;
        o.libraries = MoreLibraries;
        auto* w = new BenchWorld(o);
        SetCurvedShapeService(&RenderShapeOutline);
        // Drawn into a selected BGPic: no window to show each shape on.
        if (w->Call("CreateBGPic", {2, kW, kH}) || w->Call("SelectBGPic", {2, 0})) std::abort();
        return w;
    }();
    return *world;
}

// A small fixed generator, so that both sides get the same shapes.
struct Sequence {
    uint32_t state = 12345;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t Below(int32_t n) { return static_cast<int32_t>(Next() % static_cast<uint32_t>(n)); }
};

struct Circle {
    int32_t x, y;  // the box's corner
    uint32_t colour;
};

std::vector<Circle> Circles(int count, int32_t radius) {
    Sequence s;
    std::vector<Circle> out;
    for (int i = 0; i < count; ++i)
        out.push_back({s.Below(kW - 2 * radius - 1), s.Below(kH - 2 * radius - 1), s.Next() & 0xFFFFFF});
    return out;
}

// A 64-vertex star-like polygon in a 120x120 box, placed at random.
struct Polygon {
    int32_t x, y;
    uint32_t colour;
    std::vector<qbPointD> points;  // from the box's corner, closed
    int32_t width, height;
};

std::vector<Polygon> Polygons(int count) {
    Sequence s;
    std::vector<Polygon> out;
    for (int i = 0; i < count; ++i) {
        Polygon p;
        p.x = s.Below(kW - 121);
        p.y = s.Below(kH - 121);
        p.colour = s.Next() & 0xFFFFFF;
        double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
        for (int k = 0; k < 64; ++k) {
            const double a = k * 2 * std::numbers::pi / 64, r = 20 + s.Below(41);
            const qbPointD q{60 + r * std::cos(a), 60 + r * std::sin(a)};
            minX = std::min(minX, q.x), minY = std::min(minY, q.y), maxX = std::max(maxX, q.x),
            maxY = std::max(maxY, q.y);
            p.points.push_back(q);
        }
        p.points.push_back(p.points.front());
        for (qbPointD& q : p.points) q.x -= minX, q.y -= minY;
        p.x += static_cast<int32_t>(std::round(minX));
        p.y += static_cast<int32_t>(std::round(minY));
        p.width = static_cast<int32_t>(std::lround(maxX) - std::lround(minX) + 1);
        p.height = static_cast<int32_t>(std::lround(maxY) - std::lround(minY) + 1);
        out.push_back(std::move(p));
    }
    return out;
}

qbDrawState Filled(bool antialias) {
    qbDrawState s = DefaultDrawState();
    s.fillStyle = FILLCOLOR;
    s.formStyle = antialias ? kFormAntialias : kFormNormal;
    return s;
}

void OurCircles(benchmark::State& state, int count, int32_t radius) {
    BenchWorld& w = World();
    const std::vector<Circle> circles = Circles(count, radius);
    const qbDrawState s = Filled(true);
    qbTransformOptions t;
    qbLayerOptions l;
    ResetDisplayObjectOptions(&t, &l, 0, 0, 0, 0);
    for (auto _ : state)
        for (const Circle& c : circles)
            if (DrawEllipseShape(w.L, nullptr, kShapeCircle, &s, c.x, c.y, radius, radius, c.colour, &t, &l, 0)) {
                state.SkipWithError("Circle failed");
                return;
            }
    state.SetItemsProcessed(state.iterations() * count);
}

void OurPolygons(benchmark::State& state) {
    BenchWorld& w = World();
    const std::vector<Polygon> polygons = Polygons(1000);
    const qbDrawState s = Filled(false);
    qbTransformOptions t;
    qbLayerOptions l;
    ResetDisplayObjectOptions(&t, &l, 0, 0, 0, 0);
    for (auto _ : state)
        for (const Polygon& p : polygons)
            if (DrawPolygonShape(w.L, nullptr, &s, p.x, p.y, p.width, p.height, p.points, p.colour, &t, &l, 0)) {
                state.SkipWithError("Polygon failed");
                return;
            }
    state.SetItemsProcessed(state.iterations() * 1000);
}

struct CairoSurface {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
    cairo_t* cr = cairo_create(surface);
    ~CairoSurface() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
};

void SetColour(cairo_t* cr, uint32_t c) {
    cairo_set_source_rgb(cr, ((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0);
}

void CairoCircles(benchmark::State& state, int count, int32_t radius, cairo_antialias_t antialias) {
    const std::vector<Circle> circles = Circles(count, radius);
    CairoSurface c;
    cairo_set_antialias(c.cr, antialias);
    for (auto _ : state) {
        for (const Circle& e : circles) {
            SetColour(c.cr, e.colour);
            cairo_arc(c.cr, e.x + radius, e.y + radius, radius, 0, 2 * std::numbers::pi);
            cairo_fill(c.cr);
        }
        cairo_surface_flush(c.surface);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void CairoPolygons(benchmark::State& state, cairo_antialias_t antialias) {
    const std::vector<Polygon> polygons = Polygons(1000);
    CairoSurface c;
    cairo_set_antialias(c.cr, antialias);
    cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_EVEN_ODD);
    for (auto _ : state) {
        for (const Polygon& p : polygons) {
            SetColour(c.cr, p.colour);
            cairo_move_to(c.cr, p.x + p.points[0].x, p.y + p.points[0].y);
            for (size_t k = 1; k < p.points.size(); ++k) cairo_line_to(c.cr, p.x + p.points[k].x, p.y + p.points[k].y);
            cairo_close_path(c.cr);
            cairo_fill(c.cr);
        }
        cairo_surface_flush(c.surface);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_Circles20(benchmark::State& s) { OurCircles(s, 10000, 20); }
void BM_Circles20Cairo(benchmark::State& s) { CairoCircles(s, 10000, 20, CAIRO_ANTIALIAS_DEFAULT); }
void BM_Circles20CairoNoAA(benchmark::State& s) { CairoCircles(s, 10000, 20, CAIRO_ANTIALIAS_NONE); }
void BM_Circles200(benchmark::State& s) { OurCircles(s, 1000, 200); }
void BM_Circles200Cairo(benchmark::State& s) { CairoCircles(s, 1000, 200, CAIRO_ANTIALIAS_DEFAULT); }
void BM_Circles200CairoNoAA(benchmark::State& s) { CairoCircles(s, 1000, 200, CAIRO_ANTIALIAS_NONE); }
void BM_Polygons64(benchmark::State& s) { OurPolygons(s); }
void BM_Polygons64Cairo(benchmark::State& s) { CairoPolygons(s, CAIRO_ANTIALIAS_DEFAULT); }
void BM_Polygons64CairoNoAA(benchmark::State& s) { CairoPolygons(s, CAIRO_ANTIALIAS_NONE); }

}  // namespace

BENCHMARK(BM_Circles20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Circles20Cairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Circles20CairoNoAA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Circles200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Circles200Cairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Circles200CairoNoAA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Polygons64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Polygons64Cairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Polygons64CairoNoAA)->Unit(benchmark::kMillisecond);
