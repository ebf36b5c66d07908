// The inbuilt vector engine's DrawPath hook (conversion, stroking and
// rasterising) at 1920 x 1080 against cairo and AGG drawing the same
// geometry, with FreeType's bare gray rasteriser and the engine's own on the
// prebuilt outline as floors. Shapes: 0 a closed path of 200 cubics, 1 a
// 64-point star, 2 thirty characters of DejaVu Sans at 48 px. Fills, then
// strokes of width 5 with round joins.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <agg_conv_curve.h>
#include <agg_conv_stroke.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_gray.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_p.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <vector>

#include "text/inbuiltfont.h"
#include "vector/coverage.h"
#include "vector/ftengine.h"
#include "vector/path.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kStroke = 5;
const double kIdentity[4] = {1, 0, 0, 1};

void* Face() {
    static std::vector<char> data = [] {
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }();
    static void* face = InbuiltVectorHooks().openFont(data.data(), data.size());
    return face;
}

qbPath MakePath(int shape) {
    qbPath p;
    const auto D = [](double v) { return qbPathArg::Double(v); };
    const auto Point = [&](int32_t code, double x, double y) {
        AppendPathCommand(&p, code, {qbPathArg::Int(0), D(x), D(y)});
    };
    if (shape == 0) {
        Point(QB_PATH_MOVE, 40, 540);
        for (int i = 0; i < 200; ++i) {
            const double x = 40 + (i + 1) * 9.2, w = 9.2;
            const double a = 400 * std::sin(i * 0.37), b = 400 * std::cos(i * 0.23);
            AppendPathCommand(&p, QB_PATH_CURVE,
                              {qbPathArg::Int(0), D(x - w * 0.66), D(540 + a), D(x - w * 0.33), D(540 + b), D(x),
                               D(540 + 0.5 * (a + b))});
        }
        AppendPathCommand(&p, QB_PATH_CLOSE, {});
    } else if (shape == 1) {
        for (int i = 0; i < 64; ++i) {
            const double t = i * std::numbers::pi / 32, r = (i & 1) ? 200 : 520;
            Point(i ? QB_PATH_LINE : QB_PATH_MOVE, 960 + r * std::cos(t), 540 + r * std::sin(t));
        }
        AppendPathCommand(&p, QB_PATH_CLOSE, {});
    } else {
        Point(QB_PATH_MOVE, 60, 560);
        const char* text = "Quenbrook draws vector paths!!";
        AppendPathCommand(&p, QB_PATH_TEXT,
                          {qbPathArg::Pointer(Face()), qbPathArg::Int(48), qbPathArg::String(text, std::strlen(text))});
    }
    return p;
}

// The fill outline's contours as moves, lines and cubics for the peers.
struct Op {
    int kind;  // 0 move, 1 line, 2 cubic, 3 close
    double v[6];
};

std::vector<Op> Ops(const FT_Outline* o) {
    std::vector<Op> ops;
    struct Sink {
        std::vector<Op>* ops;
        double lx = 0, ly = 0;
    } sink{&ops};
    FT_Outline_Funcs f{};
    f.move_to = [](const FT_Vector* to, void* u) {
        auto* s = static_cast<Sink*>(u);
        if (!s->ops->empty()) s->ops->push_back({3, {}});
        s->ops->push_back({0, {to->x / 64.0, to->y / 64.0}});
        s->lx = to->x / 64.0, s->ly = to->y / 64.0;
        return 0;
    };
    f.line_to = [](const FT_Vector* to, void* u) {
        auto* s = static_cast<Sink*>(u);
        s->ops->push_back({1, {to->x / 64.0, to->y / 64.0}});
        s->lx = to->x / 64.0, s->ly = to->y / 64.0;
        return 0;
    };
    f.conic_to = [](const FT_Vector* c, const FT_Vector* to, void* u) {
        auto* s = static_cast<Sink*>(u);
        const double cx = c->x / 64.0, cy = c->y / 64.0, x = to->x / 64.0, y = to->y / 64.0;
        s->ops->push_back({2, {s->lx + 2.0 / 3 * (cx - s->lx), s->ly + 2.0 / 3 * (cy - s->ly), x + 2.0 / 3 * (cx - x),
                               y + 2.0 / 3 * (cy - y), x, y}});
        s->lx = x, s->ly = y;
        return 0;
    };
    f.cubic_to = [](const FT_Vector* a, const FT_Vector* b, const FT_Vector* to, void* u) {
        auto* s = static_cast<Sink*>(u);
        s->ops->push_back({2, {a->x / 64.0, a->y / 64.0, b->x / 64.0, b->y / 64.0, to->x / 64.0, to->y / 64.0}});
        s->lx = to->x / 64.0, s->ly = to->y / 64.0;
        return 0;
    };
    FT_Outline_Decompose(const_cast<FT_Outline*>(o), &f, &sink);
    ops.push_back({3, {}});
    return ops;
}

qbVectorLineStyle Style() {
    qbVectorLineStyle s{};
    s.join = QB_JOIN_ROUND;
    s.antialias = 1;
    return s;
}

void Ours(benchmark::State& state, int filled) {
    qbPath p = MakePath(static_cast<int>(state.range(0)));
    const qbVectorLineStyle style = Style();
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    qbDrawPathArgs a{};
    a.commands = p.commands.get();
    a.style = &style;
    a.filled = filled;
    a.strokeWidth = kStroke;
    a.coverage = px.data();
    a.bytesPerRow = a.width = kWidth;
    a.height = kHeight;
    a.matrix = kIdentity;
    for (auto _ : state) {
        benchmark::DoNotOptimize(InbuiltVectorHooks().drawPath(&a));
        benchmark::DoNotOptimize(px[px.size() / 2]);
    }
}

// The prebuilt outline rasterised alone (with the same clear).
void Floor(benchmark::State& state, int filled) {
    qbPath p = MakePath(static_cast<int>(state.range(0)));
    const qbVectorLineStyle style = Style();
    qbOutlinePtr o = ConvertPath(p.commands.get(), &style, kStroke, filled, nullptr, nullptr, 0, 0);
    FT_BBox box;
    FT_Outline_Get_CBox(o.get(), &box);
    FT_Outline_Translate(o.get(), -box.xMin, -box.yMin);
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    FT_Bitmap bm{};
    bm.rows = kHeight;
    bm.width = kWidth;
    bm.pitch = -kWidth;
    bm.buffer = px.data();
    bm.num_grays = 256;
    bm.pixel_mode = FT_PIXEL_MODE_GRAY;
    for (auto _ : state) {
        std::memset(px.data(), 0, px.size());
        FT_Outline_Get_Bitmap(InbuiltFreeTypeLibrary(), o.get(), &bm);
        benchmark::DoNotOptimize(px[px.size() / 2]);
    }
}

// The engine's own rasteriser on the same prebuilt outline (it writes every
// byte, so there is no clear): what conversion and stroking add to it.
void Raster(benchmark::State& state, int filled) {
    qbPath p = MakePath(static_cast<int>(state.range(0)));
    const qbVectorLineStyle style = Style();
    qbOutlinePtr o = ConvertPath(p.commands.get(), &style, kStroke, filled, nullptr, nullptr, 0, 0);
    FT_BBox box;
    FT_Outline_Get_CBox(o.get(), &box);
    FT_Outline_Translate(o.get(), -box.xMin, -box.yMin);
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RasteriseCoverage(o.get(), px.data(), kWidth, kWidth, kHeight));
        benchmark::DoNotOptimize(px[px.size() / 2]);
    }
}

std::vector<Op> PeerOps(int shape) {
    qbPath p = MakePath(shape);
    const qbVectorLineStyle style = Style();
    qbOutlinePtr o = ConvertPath(p.commands.get(), &style, 0, 1, nullptr, nullptr, 0, 0);
    return Ops(o.get());
}

void Cairo(benchmark::State& state, int filled) {
    const std::vector<Op> ops = PeerOps(static_cast<int>(state.range(0)));
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, kWidth, kHeight);
    cairo_t* cr = cairo_create(s);
    cairo_set_line_width(cr, kStroke);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (auto _ : state) {
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        for (const Op& op : ops) {
            if (op.kind == 0) cairo_move_to(cr, op.v[0], op.v[1]);
            else if (op.kind == 1) cairo_line_to(cr, op.v[0], op.v[1]);
            else if (op.kind == 2) cairo_curve_to(cr, op.v[0], op.v[1], op.v[2], op.v[3], op.v[4], op.v[5]);
            else cairo_close_path(cr);
        }
        filled ? cairo_fill(cr) : cairo_stroke(cr);
        cairo_surface_flush(s);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(s)[kWidth * 540 + 960]);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

void Agg(benchmark::State& state, int filled) {
    const std::vector<Op> ops = PeerOps(static_cast<int>(state.range(0)));
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight);
    agg::rendering_buffer buffer(px.data(), kWidth, kHeight, kWidth);
    agg::pixfmt_gray8 format(buffer);
    agg::renderer_base<agg::pixfmt_gray8> base(format);
    agg::renderer_scanline_aa_solid<agg::renderer_base<agg::pixfmt_gray8>> renderer(base);
    renderer.color(agg::gray8(255));
    agg::rasterizer_scanline_aa<> ras;
    agg::scanline_p8 sl;
    for (auto _ : state) {
        std::memset(px.data(), 0, px.size());
        agg::path_storage path;
        for (const Op& op : ops) {
            if (op.kind == 0) path.move_to(op.v[0], op.v[1]);
            else if (op.kind == 1) path.line_to(op.v[0], op.v[1]);
            else if (op.kind == 2) path.curve4(op.v[0], op.v[1], op.v[2], op.v[3], op.v[4], op.v[5]);
            else path.close_polygon();
        }
        agg::conv_curve<agg::path_storage> curves(path);
        ras.reset();
        if (filled) {
            ras.add_path(curves);
        } else {
            agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curves);
            stroke.width(kStroke);
            stroke.line_join(agg::round_join);
            ras.add_path(stroke);
        }
        agg::render_scanlines(ras, sl, renderer);
        benchmark::DoNotOptimize(px[kWidth * 540 + 960]);
    }
}

void BM_OursFill(benchmark::State& s) { Ours(s, 1); }
void BM_FloorFill(benchmark::State& s) { Floor(s, 1); }
void BM_RasterFill(benchmark::State& s) { Raster(s, 1); }
void BM_CairoFill(benchmark::State& s) { Cairo(s, 1); }
void BM_AggFill(benchmark::State& s) { Agg(s, 1); }
void BM_OursStroke(benchmark::State& s) { Ours(s, 0); }
void BM_FloorStroke(benchmark::State& s) { Floor(s, 0); }
void BM_RasterStroke(benchmark::State& s) { Raster(s, 0); }
void BM_CairoStroke(benchmark::State& s) { Cairo(s, 0); }
void BM_AggStroke(benchmark::State& s) { Agg(s, 0); }

BENCHMARK(BM_OursFill)->DenseRange(0, 2);
BENCHMARK(BM_FloorFill)->DenseRange(0, 2);
BENCHMARK(BM_RasterFill)->DenseRange(0, 2);
BENCHMARK(BM_CairoFill)->DenseRange(0, 2);
BENCHMARK(BM_AggFill)->DenseRange(0, 2);
BENCHMARK(BM_OursStroke)->DenseRange(0, 2);
BENCHMARK(BM_FloorStroke)->DenseRange(0, 2);
BENCHMARK(BM_RasterStroke)->DenseRange(0, 2);
BENCHMARK(BM_CairoStroke)->DenseRange(0, 2);
BENCHMARK(BM_AggStroke)->DenseRange(0, 2);

}  // namespace
