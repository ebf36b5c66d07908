// The coefficient step of the distortions: argument rules, the solved
// perspective, and the output box each method lays its result in.
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errcodes.h"
#include "imaging/distort.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEpsilon = 0.000001;

double Radians(double degrees) { return degrees * kPi / 180; }

// Half away from zero.
double RoundHalfAway(double t) { return t >= 0 ? std::trunc(t + 0.5) : std::trunc(t - 0.5); }

struct Box {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool started = false;
    void Add(double x, double y) {
        if (!started) {
            minX = maxX = x;
            minY = maxY = y;
            started = true;
            return;
        }
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
};

// Gauss-Jordan elimination with partial pivoting; false when singular.
bool SolveLinear(double m[8][8], double v[8]) {
    double largest = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) largest = std::max(largest, std::fabs(m[r][c]));
    if (!(largest > 0) || !std::isfinite(largest)) return false;
    const double tiny = largest * 1e-13;
    for (int col = 0; col < 8; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 8; ++r)
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
        if (!(std::fabs(m[pivot][col]) > tiny)) return false;
        if (pivot != col) {
            std::swap(m[pivot], m[col]);
            std::swap(v[pivot], v[col]);
        }
        const double scale = 1.0 / m[col][col];
        for (int c = 0; c < 8; ++c) m[col][c] *= scale;
        v[col] *= scale;
        for (int r = 0; r < 8; ++r) {
            if (r == col || m[r][col] == 0) continue;
            const double f = m[r][col];
            for (int c = 0; c < 8; ++c) m[r][c] -= f * m[col][c];
            v[r] -= f * v[col];
        }
    }
    for (int i = 0; i < 8; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

int PerspectiveGeometry(qbDistortRequest* q, Box* box) {
    if (q->argumentCount != 16) return ERR_WRONGUSAGE;
    const double* a = q->arguments;
    double m[8][8] = {};
    double v[8] = {};
    for (int p = 0; p < 4; ++p) {
        const double sx = a[p * 4], sy = a[p * 4 + 1], dx = a[p * 4 + 2], dy = a[p * 4 + 3];
        const double rows[2][8] = {{dx, dy, 1, 0, 0, 0, -dx * sx, -dy * sx}, {0, 0, 0, dx, dy, 1, -dx * sy, -dy * sy}};
        const double results[2] = {sx, sy};
        for (int k = 0; k < 2; ++k)
            for (int r = 0; r < 8; ++r) {
                v[r] += rows[k][r] * results[k];
                for (int c = 0; c < 8; ++c) m[r][c] += rows[k][r] * rows[k][c];
            }
    }
    if (!SolveLinear(m, v)) return ERR_WRONGUSAGE;
    double* c = q->coefficients;
    for (int i = 0; i < 8; ++i) c[i] = v[i];
    c[8] = c[6] * a[2] + c[7] * a[3] + 1 < 0 ? -1 : 1;
    // The forward map is the adjugate of the 3 x 3 matrix, normalised so
    // that its last element is 1.
    const double det = 1.0 / (c[0] * c[4] - c[3] * c[1]);
    const double f[8] = {det * (c[4] - c[7] * c[5]), det * (c[7] * c[2] - c[1]), det * (c[1] * c[5] - c[2] * c[4]),
                         det * (c[6] * c[5] - c[3]), det * (c[0] - c[6] * c[2]), det * (c[3] * c[2] - c[0] * c[5]),
                         det * (c[3] * c[7] - c[6] * c[4]), det * (c[6] * c[1] - c[0] * c[7])};
    const double w = q->source.width, h = q->source.height;
    const double corners[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    for (const auto& p : corners) {
        const double d = f[6] * p[0] + f[7] * p[1] + 1;
        const double s = std::fabs(d) <= kEpsilon ? 1 : 1 / d;
        box->Add((f[0] * p[0] + f[1] * p[1] + f[2]) * s, (f[3] * p[0] + f[4] * p[1] + f[5]) * s);
    }
    return 0;
}

int ArcGeometry(qbDistortRequest* q, Box* box) {
    const int n = q->argumentCount;
    const double* a = q->arguments;
    if (n >= 1 && !(a[0] >= kEpsilon)) return ERR_WRONGUSAGE;
    if (n >= 3 && !(a[2] >= kEpsilon)) return ERR_WRONGUSAGE;
    double* c = q->coefficients;
    const double w = q->source.width, h = q->source.height;
    c[0] = -kPi / 2;
    if (n >= 2) c[0] += Radians(a[1]);
    c[0] = (c[0] / (2 * kPi) - RoundHalfAway(c[0] / (2 * kPi))) * 2 * kPi;
    c[1] = n >= 1 ? Radians(a[0]) : kPi / 2;
    c[3] = h - 1;
    c[2] = w / c[1] + c[3] / 2;
    if (n == 3) {
        c[3] *= a[2] / c[2];
        c[2] = a[2];
    } else if (n >= 4) {
        c[3] = a[2] - a[3];
        c[2] = a[2];
    }
    c[4] = (w - 1) / 2;
    const double a0 = c[0] - c[1] / 2, a1 = c[0] + c[1] / 2;
    for (double angle : {a0, a1}) {
        box->Add(c[2] * std::cos(angle), c[2] * std::sin(angle));
        box->Add((c[2] - c[3]) * std::cos(angle), (c[2] - c[3]) * std::sin(angle));
    }
    // Past four quarter turns the points repeat: the bound keeps a huge arc
    // angle from looping for ever.
    double angle = std::ceil(a0 / (kPi / 2)) * (kPi / 2);
    for (int k = 0; k < 4 && angle < a1; ++k, angle += kPi / 2)
        box->Add(c[2] * std::cos(angle), c[2] * std::sin(angle));
    c[1] = w * 2 * kPi / c[1];
    c[3] = h / c[3];
    return 0;
}

int PolarGeometry(qbDistortRequest* q, Box* box) {
    const int n = q->argumentCount;
    const double* a = q->arguments;
    if (n == 3 || n > 6) return ERR_WRONGUSAGE;
    double* c = q->coefficients;
    const double w = q->source.width, h = q->source.height;
    c[0] = n >= 1 ? a[0] : 0;
    c[1] = n >= 2 ? a[1] : 0;
    c[2] = n >= 4 ? a[2] : w / 2;
    c[3] = n >= 4 ? a[3] : h / 2;
    c[4] = c[5] = -kPi;
    if (n >= 5) c[4] = c[5] = Radians(a[4]);
    if (n >= 6) c[5] = Radians(a[5]);
    if (std::fabs(c[4] - c[5]) < kEpsilon) c[5] += 2 * kPi;
    if (std::fabs(c[0]) < kEpsilon) {
        c[0] = std::min({std::fabs(c[2]), std::fabs(c[3]), std::fabs(c[2] - w), std::fabs(c[3] - h)});
    } else if (std::fabs(c[0] + 1) < kEpsilon) {
        c[0] = std::max({std::hypot(c[2], c[3]), std::hypot(c[2] - w, c[3]), std::hypot(c[2], c[3] - h),
                         std::hypot(c[2] - w, c[3] - h)});
    }
    if (!(c[0] >= kEpsilon) || !(c[1] >= -kEpsilon) || !(c[0] - c[1] >= kEpsilon)) return ERR_WRONGUSAGE;
    c[6] = w / (c[5] - c[4]);
    c[7] = h / (c[0] - c[1]);
    if (n < 2) c[2] = c[3] = 0;
    box->Add(c[2] - c[0], c[3] - c[0]);
    box->Add(c[2] + c[0], c[3] + c[0]);
    return 0;
}

int BarrelGeometry(qbDistortRequest* q) {
    const int n = q->argumentCount;
    const double* a = q->arguments;
    if (n != 3 && n != 4 && n != 5 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
    double* c = q->coefficients;
    const double w = q->source.width, h = q->source.height;
    const double r = 2 / std::min(w, h);
    auto poly = [&](const double* abcd, bool withD, double* out) {
        out[0] = abcd[0] * r * r * r;
        out[1] = abcd[1] * r * r;
        out[2] = abcd[2] * r;
        out[3] = withD ? abcd[3] : 1 - abcd[0] - abcd[1] - abcd[2];
    };
    poly(a, n != 3 && n != 5, c);
    if (n >= 8) {
        poly(a + 4, true, c + 4);
    } else {
        for (int i = 0; i < 4; ++i) c[4 + i] = c[i];
    }
    c[8] = (w - 1) / 2;
    c[9] = (h - 1) / 2;
    const int centre = n == 5 ? 3 : n == 6 ? 4 : n == 10 ? 8 : -1;
    if (centre >= 0) {
        c[8] = a[centre];
        c[9] = a[centre + 1];
    }
    // The output keeps the source's box, so no box check catches numbers
    // that would map every pixel nowhere.
    for (int i = 0; i < 10; ++i)
        if (!std::isfinite(c[i])) return ERR_WRONGUSAGE;
    q->outWidth = q->source.width;
    q->outHeight = q->source.height;
    q->outX = q->outY = 0;
    return 0;
}

}  // namespace

int ComputeDistortGeometry(qbDistortRequest* q) {
    for (double& c : q->coefficients) c = 0;
    if (q->source.width <= 0 || q->source.height <= 0 || q->argumentCount < 0 ||
        (q->argumentCount > 0 && !q->arguments))
        return ERR_WRONGUSAGE;
    Box box;
    int err = 0;
    switch (q->method) {
        case kDistortPerspective: err = PerspectiveGeometry(q, &box); break;
        case kDistortArc: err = ArcGeometry(q, &box); break;
        case kDistortPolar: err = PolarGeometry(q, &box); break;
        case kDistortBarrel: return BarrelGeometry(q);
        default: return ERR_WRONGUSAGE;
    }
    if (err) return err;
    if (std::isnan(box.minX) || std::isnan(box.minY) || std::isnan(box.maxX) || std::isnan(box.maxY))
        return ERR_WRONGUSAGE;
    // The box becomes a bitmap: sides and offsets must fit its 32-bit
    // fields, and the pixel count a 32-bit count, before anything is made.
    constexpr double kMaxSide = std::numeric_limits<int32_t>::max();
    const double x = std::floor(box.minX - 0.5), y = std::floor(box.minY - 0.5);
    if (!(std::fabs(x) <= kMaxSide && std::fabs(y) <= kMaxSide)) return ERR_BITMAP;
    const double width = std::ceil(box.maxX - x + 0.5), height = std::ceil(box.maxY - y + 0.5);
    if (!(width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide && width * height <= 4294967295.0))
        return ERR_BITMAP;
    q->outX = static_cast<int32_t>(x);
    q->outY = static_cast<int32_t>(y);
    q->outWidth = static_cast<int32_t>(width);
    q->outHeight = static_cast<int32_t>(height);
    return 0;
}
