// Coverage by signed area: every edge leaves, in each pixel it crosses, the
// height it spans there (cover) and the part of that height lying right of
// its crossing (area). Summed from the left along a row, covers give the
// winding number between edges, so a row is written as runs of one value
// between the pixels edges touch; only those pixels are computed one by one.
// The cells are kept in a bounded list: an outline that needs more is
// drawn in halves of the rows, each walking it again. A row's sweep tells
// the span of pixels it wrote: outside it the row is clear, so a row sink
// reads and blends nothing else, and rows without cells are skipped whole.
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
// Cells of one band (16 bytes each, twice: as made and sorted by row).
constexpr size_t kMaxCells = size_t{1} << 20;

struct Cell {
    int32_t x;
    int32_t y;  // the row within the band
    float cover;
    float area;
};

// Reused from call to call (the engine draws from one thread at a time), so
// that a drawing costs no allocation once they have grown to it. The row of
// differences and its bit set are clear between rows.
struct Buffers {
    std::vector<Cell> cells;
    std::vector<Cell> sorted;
    std::vector<int32_t> rowStart;
    std::vector<float> row;
    std::vector<uint64_t> touched;
    std::vector<uint8_t> out;  // the row handed to a row sink
};

Buffers& Scratch() {
    thread_local Buffers buffers;
    return buffers;
}

// Adds a cell's differences to a row: cover - area into its own pixel, the
// area into the next, both marked as touched.
inline void AddToRow(float* d, uint64_t* touched, int32_t x, float cover, float area) {
    d[x] += cover - area;
    d[x + 1] += area;
    touched[x >> 6] |= uint64_t{1} << (x & 63);
    touched[(x + 1) >> 6] |= uint64_t{1} << ((x + 1) & 63);
}

// Turns the lines of rows top .. top + rows - 1 into cells; a band of one
// row (Direct) adds them straight to the row of differences instead, so that
// no outline can make it overflow.
template <bool Direct>
class CellBuilder {
public:
    CellBuilder(Buffers& b, int32_t width, int32_t top, int32_t rows)
        : b_(b), width_(width), top_(top), rows_(rows) {}

    bool overflowed() const { return overflowed_; }

    // A line in pixels; row r spans y = r .. r + 1.
    void Line(double x0, double y0, double x1, double y1) {
        if (y0 == y1 || overflowed_ ||
            !(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1)))
            return;
        float dir = 1;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
            dir = -1;
        }
        if (y1 <= top_ || y0 >= top_ + rows_) return;
        ClipX(x0, y0, x1, y1, dir);
    }

    // Whether points with y from lo to hi may draw into the band: a curve
    // stays within its control points.
    bool Reaches(double lo, double hi) const { return hi > top_ && lo < top_ + rows_; }

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

    // y0 < y1, both x within 0..width. (Parts of a line cut at the borders
    // may lie outside the band.)
    void Rows(double x0, double y0, double x1, double y1, float dir) {
        if (y1 <= top_ || y0 >= top_ + rows_) return;
        const double dxdy = (x1 - x0) / (y1 - y0);
        const double end = std::min<double>(y1, top_ + rows_);
        double ya = std::max<double>(y0, top_);
        double xa = x0 + (ya - y0) * dxdy;
        auto r = static_cast<int32_t>(std::floor(ya));
        const double w = width_;
        while (ya < end) {
            const double yb = std::min<double>(r + 1, end);
            const double xb = yb == y1 ? x1 : std::clamp(x0 + (yb - y0) * dxdy, 0.0, w);
            RowPiece(r - top_, xa, xb, static_cast<float>(dir * (yb - ya)));
            ya = yb;
            xa = xb;
            ++r;
        }
    }

    void Add(int32_t c, int32_t r, float cover, float area) {
        if constexpr (Direct) {
            AddToRow(b_.row.data(), b_.touched.data(), c, cover, area);
            return;
        }
        std::vector<Cell>& cells = b_.cells;
        if (!cells.empty() && cells.back().x == c && cells.back().y == r) {
            cells.back().cover += cover;
            cells.back().area += area;
            return;
        }
        if (cells.size() == cells.capacity() && !Grow(cells)) {
            overflowed_ = true;
            return;
        }
        cells.push_back({c, r, cover, area});
    }

    // This runs inside FreeType's walk, which no exception may cross:
    // running out of memory splits the band like a full list.
    [[gnu::noinline]] static bool Grow(std::vector<Cell>& cells) {
        if (cells.capacity() >= kMaxCells) return false;
        try {
            cells.reserve(std::min(kMaxCells, std::max<size_t>(4096, 2 * cells.capacity())));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // The part of an edge inside band row r, from x = xa to xb, spanning
    // height h.
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

    Buffers& b_;
    int32_t width_;
    int32_t top_;
    int32_t rows_;
    bool overflowed_ = false;
};

// The outline's segments in pixels, curves cut into lines.
template <class Cells>
struct Walker {
    Cells* cells;
    double x = 0, y = 0;
    double startX = 0, startY = 0;

    static double X(const FT_Vector* v) { return static_cast<double>(v->x) / 64.0; }
    static double Y(const FT_Vector* v) { return static_cast<double>(v->y) / 64.0; }

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
        w->x = w->startX = X(to);
        w->y = w->startY = Y(to);
        return 0;
    }
    static int LineTo(const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        w->LineTo(X(to), Y(to));
        return 0;
    }
    // A curve that cannot reach the band becomes its chord, which cannot
    // either: the band's rows then cost no cutting.
    static int Conic(const FT_Vector* control, const FT_Vector* to, void* user) {
        auto* w = static_cast<Walker*>(user);
        const double x0 = w->x, y0 = w->y, x1 = X(control), y1 = Y(control), x2 = X(to), y2 = Y(to);
        if (!w->cells->Reaches(std::min({y0, y1, y2}), std::max({y0, y1, y2}))) {
            w->LineTo(x2, y2);
            return 0;
        }
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
        const double x0 = w->x, y0 = w->y, x1 = X(c1), y1 = Y(c1), x2 = X(c2), y2 = Y(c2);
        const double x3 = X(to), y3 = Y(to);
        if (!w->cells->Reaches(std::min({y0, y1, y2, y3}), std::max({y0, y1, y2, y3}))) {
            w->LineTo(x3, y3);
            return 0;
        }
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

// The pixels x0 .. x1 - 1 of a row that a sweep wrote.
struct Written {
    int32_t x0 = 0;
    int32_t x1 = 0;
};

// One row from its differences, read at the touched slots in order; leaves
// them clear again. Left of the first touched pixel the winding is 0, and
// right of the last it is whatever it ends at, so only the pixels from the
// first on are written, and those past the last only when not clear.
template <uint8_t (*Rule)(float)>
Written SweepRow(Buffers& b, uint8_t* out, int32_t width) {
    float* d = b.row.data();
    uint64_t* touched = b.touched.data();
    const size_t words = b.touched.size();
    size_t i = 0;
    while (i < words && !touched[i]) ++i;
    if (i == words) return {};
    const int32_t first = static_cast<int32_t>(i * 64) + std::countr_zero(touched[i]);
    float winding = 0;
    int32_t next = first;  // the first pixel not yet written
    for (; i < words; ++i) {
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
    const uint8_t rest = Rule(winding);
    if (rest && next < width) {
        std::memset(out + next, rest, static_cast<size_t>(width - next));
        next = width;
    }
    return {std::min(first, width), std::min(next, width)};
}

struct Target {
    const FT_Outline* outline;
    uint8_t* coverage;  // null when rows go to the sink
    size_t bytesPerRow;
    int32_t width;
    bool evenOdd;
    const qbCoverageRows* sink;
};

bool Wanted(const Target& t, int32_t row) {
    return !t.sink || (row >= t.sink->first && row - t.sink->first < t.sink->count);
}

void Sweep(Buffers& b, const Target& t, int32_t row) {
    uint8_t* out = t.sink ? b.out.data() : t.coverage + static_cast<size_t>(row) * t.bytesPerRow;
    const Written w = t.evenOdd ? SweepRow<EvenOdd>(b, out, t.width) : SweepRow<Nonzero>(b, out, t.width);
    if (t.sink) {
        if (w.x1 > w.x0 && Wanted(t, row)) t.sink->row(t.sink->user, row, out, w.x0, w.x1);
        return;
    }
    std::memset(out, 0, static_cast<size_t>(w.x0));
    std::memset(out + w.x1, 0, static_cast<size_t>(t.width - w.x1));
}

template <class Cells>
bool Walk(const FT_Outline* outline, Cells& cells) {
    using W = Walker<Cells>;
    W walker{&cells};
    FT_Outline_Funcs funcs{};
    funcs.move_to = W::Move;
    funcs.line_to = W::LineTo;
    funcs.conic_to = W::Conic;
    funcs.cubic_to = W::Cubic;
    const bool walked = FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &funcs, &walker) == 0;
    walker.Close();
    return walked;
}

// Rows top .. top + rows - 1: false when the outline cannot be walked.
bool RenderRows(Buffers& b, const Target& t, int32_t top, int32_t rows) {
    if (t.sink && (top + rows <= t.sink->first || top - t.sink->first >= t.sink->count)) return true;
    if (rows == 1) {
        CellBuilder<true> direct(b, t.width, top, rows);
        const bool walked = Walk(t.outline, direct);
        // Swept even after a failed walk, which leaves the row clear.
        Sweep(b, t, top);
        return walked;
    }
    b.cells.clear();
    CellBuilder<false> cells(b, t.width, top, rows);
    if (!Walk(t.outline, cells)) return false;
    bool split = cells.overflowed();
    try {
        if (!split && b.sorted.size() < b.cells.size()) b.sorted.resize(b.cells.size());
    } catch (const std::bad_alloc&) {
        split = true;
    }
    if (split) {
        const int32_t half = rows / 2;
        return RenderRows(b, t, top, half) && RenderRows(b, t, top + half, rows - half);
    }
    // Cells in row order: counted, then placed (a counting sort); placing
    // moves each row's start to its end, which is the next row's start.
    std::vector<int32_t>& start = b.rowStart;
    std::fill(start.begin(), start.begin() + rows + 1, 0);
    for (const Cell& c : b.cells) ++start[static_cast<size_t>(c.y) + 1];
    for (int32_t r = 0; r < rows; ++r) start[r + 1] += start[r];
    for (const Cell& c : b.cells) b.sorted[static_cast<size_t>(start[static_cast<size_t>(c.y)]++)] = c;
    float* d = b.row.data();
    uint64_t* touched = b.touched.data();
    for (int32_t r = 0; r < rows; ++r) {
        const size_t first = r ? static_cast<size_t>(start[r - 1]) : 0;
        const size_t end = static_cast<size_t>(start[r]);
        if (first == end || !Wanted(t, top + r)) {
            if (!t.sink)
                std::memset(t.coverage + static_cast<size_t>(top + r) * t.bytesPerRow, 0,
                            static_cast<size_t>(t.width));
            continue;
        }
        for (size_t i = first; i < end; ++i) {
            const Cell& c = b.sorted[i];
            AddToRow(d, touched, c.x, c.cover, c.area);
        }
        Sweep(b, t, top + r);
    }
    return true;
}

bool Prepare(Buffers& b, int32_t width, int32_t height, bool sink) {
    try {
        if (b.rowStart.size() < static_cast<size_t>(height) + 1) b.rowStart.resize(static_cast<size_t>(height) + 1);
        // One slot right of the last pixel, for the area of a cell there.
        if (b.row.size() != static_cast<size_t>(width) + 1) b.row.assign(static_cast<size_t>(width) + 1, 0.0f);
        const size_t words = (static_cast<size_t>(width) + 64) / 64;
        if (b.touched.size() != words) b.touched.assign(words, 0);
        if (sink && b.out.size() < static_cast<size_t>(width)) b.out.resize(static_cast<size_t>(width));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

bool RasteriseCoverage(const FT_Outline* outline, uint8_t* coverage, int32_t bytesPerRow, int32_t width,
                       int32_t height) {
    if (!outline || !coverage || width <= 0 || height <= 0 || bytesPerRow < width) return false;
    Buffers& b = Scratch();
    if (!Prepare(b, width, height, false)) return false;
    const Target t{outline, coverage, static_cast<size_t>(bytesPerRow), width,
                   (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0, nullptr};
    return RenderRows(b, t, 0, height);
}

bool RasteriseCoverageRows(const FT_Outline* outline, int32_t width, int32_t height, const qbCoverageRows& rows) {
    if (!outline || !rows.row || width <= 0 || height <= 0) return false;
    Buffers& b = Scratch();
    if (!Prepare(b, width, height, true)) return false;
    const Target t{outline, nullptr, 0, width, (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0, &rows};
    return RenderRows(b, t, 0, height);
}
