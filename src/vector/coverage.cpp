// Coverage by signed area: every edge leaves, in each pixel it crosses, the
// height it spans there (cover) and the part of that height lying right of
// its crossing (area). Summed from the left along a row, covers give the
// winding number between edges, so a row is written as runs of one value
// between the pixels edges touch; only those pixels are computed one by one.
#include "vector/coverage.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Curves are cut into lines that stray at most this far (pixels) from them.
constexpr double kFlatness = 1.0 / 64;
constexpr int kMaxCurveSteps = 1024;

struct Cell {
    int32_t x;
    int32_t y;
    float cover;
    float area;
};

// Reused from call to call (the engine draws from one thread at a time), so
// that a drawing costs no allocation once they have grown to it.
struct Buffers {
    std::vector<Cell> cells;
    std::vector<Cell> sorted;
    std::vector<int32_t> rowStart;
    std::vector<float> row;
    std::vector<uint64_t> touched;
};

Buffers& Scratch() {
    thread_local Buffers buffers;
    return buffers;
}

class CellBuilder {
public:
    CellBuilder(std::vector<Cell>& cells, int32_t width, int32_t height)
        : cells_(cells), width_(width), height_(height) {}

    // A line in pixels; row r spans y = r .. r + 1.
    void Line(double x0, double y0, double x1, double y1) {
        if (y0 == y1 || !(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
        float dir = 1;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
            dir = -1;
        }
        if (y1 <= 0 || y0 >= height_) return;
        ClipX(x0, y0, x1, y1, dir);
    }

private:
    // Parts left of the raster still add their cover to every pixel right of
    // them: they run down its left border. Parts right of it touch nothing.
    void ClipX(double x0, double y0, double x1, double y1, float dir) {
        const double w = width_;
        for (const double bound : {0.0, w}) {
            if ((x0 < bound && x1 > bound) || (x0 > bound && x1 < bound)) {
                const double ym = y0 + (bound - x0) * (y1 - y0) / (x1 - x0);
                ClipX(x0, y0, bound, ym, dir);
                ClipX(bound, ym, x1, y1, dir);
                return;
            }
        }
        if (x0 >= w && x1 >= w) return;
        if (x0 <= 0 && x1 <= 0) x0 = x1 = 0;
        Rows(x0, y0, x1, y1, dir);
    }

    // y0 < y1, both x within 0..width.
    void Rows(double x0, double y0, double x1, double y1, float dir) {
        const double dxdy = (x1 - x0) / (y1 - y0);
        const double end = std::min<double>(y1, height_);
        double ya = std::max(y0, 0.0);
        double xa = x0 + (ya - y0) * dxdy;
        auto r = static_cast<int32_t>(std::floor(ya));
        const double w = width_;
        while (ya < end) {
            const double yb = std::min<double>(r + 1, end);
            const double xb = yb == y1 ? x1 : std::clamp(x0 + (yb - y0) * dxdy, 0.0, w);
            RowPiece(r, xa, xb, static_cast<float>(dir * (yb - ya)));
            ya = yb;
            xa = xb;
            ++r;
        }
    }

    void Add(int32_t c, int32_t r, float cover, float area) {
        if (!cells_.empty() && cells_.back().x == c && cells_.back().y == r) {
            cells_.back().cover += cover;
            cells_.back().area += area;
            return;
        }
        cells_.push_back({c, r, cover, area});
    }

    // The part of an edge inside row r, from x = xa to xb, spanning height h.
    void RowPiece(int32_t r, double xa, double xb, float h) {
        const double lo = std::min(xa, xb), hi = std::max(xa, xb);
        auto c0 = static_cast<int32_t>(lo), c1 = static_cast<int32_t>(hi);
        if (c1 > c0 && hi == c1) --c1;
        c0 = std::min(c0, width_ - 1);
        c1 = std::min(c1, width_ - 1);
        if (c0 == c1) {
            Add(c0, r, h, static_cast<float>(h * ((lo + hi) * 0.5 - c0)));
            return;
        }
        const double perX = h / (hi - lo);
        for (int32_t c = c0; c <= c1; ++c) {
            const double p = std::max<double>(lo, c), q = std::min<double>(hi, c + 1);
            const double hp = perX * (q - p);
            Add(c, r, static_cast<float>(hp), static_cast<float>(hp * ((p + q) * 0.5 - c)));
        }
    }

    std::vector<Cell>& cells_;
    int32_t width_;
    int32_t height_;
};

// The outline's segments in pixels, curves cut into lines.
struct Walker {
    CellBuilder* cells;
    double x = 0, y = 0;
    double startX = 0, startY = 0;

    double X(const FT_Vector* v) const { return static_cast<double>(v->x) / 64.0; }
    double Y(const FT_Vector* v) const { return static_cast<double>(v->y) / 64.0; }

    void LineTo(double tx, double ty) {
        cells->Line(x, y, tx, ty);
        x = tx;
        y = ty;
    }
    void Close() { LineTo(startX, startY); }

    static int Steps(double ddx, double ddy, double factor) {
        const double n = std::ceil(std::sqrt(std::hypot(ddx, ddy) * factor / kFlatness));
        return n >= kMaxCurveSteps ? kMaxCurveSteps : std::max(1, static_cast<int>(n));
    }

    static int Move(const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        w->Close();
        w->x = w->startX = w->X(to);
        w->y = w->startY = w->Y(to);
        return 0;
    }
    static int LineTo(const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        w->LineTo(w->X(to), w->Y(to));
        return 0;
    }
    static int Conic(const FT_Vector* control, const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        const double x0 = w->x, y0 = w->y, x1 = w->X(control), y1 = w->Y(control), x2 = w->X(to), y2 = w->Y(to);
        // A chord of 1/n of the curve strays at most |P0 - 2 P1 + P2| / (4 n^2).
        const int n = Steps(x0 - 2 * x1 + x2, y0 - 2 * y1 + y2, 0.25);
        for (int i = 1; i < n; ++i) {
            const double t = static_cast<double>(i) / n, s = 1 - t;
            w->LineTo(s * s * x0 + 2 * s * t * x1 + t * t * x2, s * s * y0 + 2 * s * t * y1 + t * t * y2);
        }
        w->LineTo(x2, y2);
        return 0;
    }
    static int Cubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        const double x0 = w->x, y0 = w->y, x1 = w->X(c1), y1 = w->Y(c1), x2 = w->X(c2), y2 = w->Y(c2);
        const double x3 = w->X(to), y3 = w->Y(to);
        // The second derivative stays within 6 times the larger second
        // difference of the control points; a chord strays 1/8 of it / n^2.
        const double ax = x0 - 2 * x1 + x2, ay = y0 - 2 * y1 + y2, bx = x1 - 2 * x2 + x3, by = y1 - 2 * y2 + y3;
        const bool firstLarger = ax * ax + ay * ay > bx * bx + by * by;
        const int n = Steps(firstLarger ? ax : bx, firstLarger ? ay : by, 0.75);
        for (int i = 1; i < n; ++i) {
            const double t = static_cast<double>(i) / n, s = 1 - t;
            const double a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
            w->LineTo(a * x0 + b * x1 + c * x2 + d * x3, a * y0 + b * y1 + c * y2 + d * y3);
        }
        w->LineTo(x3, y3);
        return 0;
    }
};

inline uint8_t Nonzero(float winding) {
    const float a = std::fabs(winding);
    return a >= 1 ? 255 : static_cast<uint8_t>(a * 255 + 0.5f);
}

inline uint8_t EvenOdd(float winding) {
    float a = std::fabs(winding);
    a -= 2 * std::floor(a * 0.5f);
    if (a > 1) a = 2 - a;
    return static_cast<uint8_t>(a * 255 + 0.5f);
}

// One row from its cells (any order): they are summed into a row of
// differences, whose touched pixels a bit set keeps in order. Leaves the
// row of differences and the bit set clear again.
template <uint8_t (*Rule)(float)>
void SweepRow(const Cell* cells, size_t count, Buffers& b, uint8_t* out, int32_t width) {
    float* d = b.row.data();
    uint64_t* touched = b.touched.data();
    for (size_t i = 0; i < count; ++i) {
        const Cell& c = cells[i];
        d[c.x] += c.cover - c.area;
        d[c.x + 1] += c.area;
        touched[c.x >> 6] |= uint64_t{1} << (c.x & 63);
        touched[(c.x + 1) >> 6] |= uint64_t{1} << ((c.x + 1) & 63);
    }
    float winding = 0;
    int32_t next = 0;  // the first pixel not yet written
    const size_t words = b.touched.size();
    for (size_t i = 0; i < words; ++i) {
        uint64_t bits = touched[i];
        if (!bits) continue;
        touched[i] = 0;
        do {
            const int32_t x = static_cast<int32_t>(i * 64) + std::countr_zero(bits);
            bits &= bits - 1;
            if (x > next && x <= width) std::memset(out + next, Rule(winding), static_cast<size_t>(x - next));
            winding += d[x];
            d[x] = 0;
            if (x < width) out[x] = Rule(winding);
            next = x + 1;
        } while (bits);
    }
    if (next < width) std::memset(out + next, Rule(winding), static_cast<size_t>(width - next));
}

}  // namespace

bool RasteriseCoverage(const FT_Outline* outline, uint8_t* coverage, int32_t bytesPerRow, int32_t width,
                       int32_t height) {
    if (!outline || !coverage || width <= 0 || height <= 0 || bytesPerRow < width) return false;
    Buffers& b = Scratch();
    b.cells.clear();
    try {
        CellBuilder cells(b.cells, width, height);
        Walker walker{&cells};
        FT_Outline_Funcs funcs{};
        funcs.move_to = Walker::Move;
        funcs.line_to = Walker::LineTo;
        funcs.conic_to = Walker::Conic;
        funcs.cubic_to = Walker::Cubic;
        if (FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &funcs, &walker) != 0) return false;
        walker.Close();
        // Cells in row order: counted, then placed (a counting sort).
        b.rowStart.assign(static_cast<size_t>(height) + 1, 0);
        for (const Cell& c : b.cells) ++b.rowStart[static_cast<size_t>(c.y) + 1];
        for (int32_t r = 0; r < height; ++r) b.rowStart[r + 1] += b.rowStart[r];
        b.sorted.resize(b.cells.size());
        b.row.assign(static_cast<size_t>(width) + 1, 0.0f);
        b.touched.assign((static_cast<size_t>(width) + 64) / 64, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Placing moves each row's start to its end, which is the next row's start.
    for (const Cell& c : b.cells) b.sorted[static_cast<size_t>(b.rowStart[static_cast<size_t>(c.y)]++)] = c;
    const bool evenOdd = (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0;
    for (int32_t r = 0; r < height; ++r) {
        uint8_t* out = coverage + static_cast<size_t>(r) * static_cast<size_t>(bytesPerRow);
        const size_t first = r ? static_cast<size_t>(b.rowStart[r - 1]) : 0;
        const size_t count = static_cast<size_t>(b.rowStart[r]) - first;
        if (count == 0) std::memset(out, 0, static_cast<size_t>(width));
        else if (evenOdd) SweepRow<EvenOdd>(b.sorted.data() + first, count, b, out, width);
        else SweepRow<Nonzero>(b.sorted.data() + first, count, b, out, width);
    }
    return true;
}
