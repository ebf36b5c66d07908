// The resampling filter: the Gaussian table, the ellipse of each pixel and
// the incremental sum over its rows. Pixels outside the source count as
// transparent black with full weight, which gives distorted edges their
// soft transparent border.
#include "imaging/resample.h"

#include <cmath>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/pixelformats.h"

namespace {

// ln 16: the weight at the ellipse's edge (Q = table size) is 1/16.
constexpr double kEdgeFalloff = 2.77258872223978;
constexpr double kTooSmallF = 4.0;
constexpr double kTooLargeF = 1000000.0;

struct Sample {
    double red = 0, green = 0, blue = 0, alpha = 0;
};

// Components of an inside pixel; a masked-out pixel is transparent black.
inline Sample ReadSample(const qbResampleSource& s, int32_t x, int32_t y) {
    if (s.mask && !(s.mask[static_cast<size_t>(y) * s.maskRowBytes + (x >> 3)] & (0x80 >> (x & 7)))) return {};
    Sample out;
    out.alpha = s.alpha ? s.alpha[static_cast<size_t>(y) * s.alphaRowBytes + x] : 255;
    if (s.pixels) {
        const uint8_t* p = s.pixels + (static_cast<size_t>(y) * s.modulo + x) * s.bytesPerPixel;
        uint8_t rgb[3];
        if (s.pixelFormat == kFormatARGB) {
            uint32_t v;
            std::memcpy(&v, p, 4);
            rgb[0] = static_cast<uint8_t>(v >> 16);
            rgb[1] = static_cast<uint8_t>(v >> 8);
            rgb[2] = static_cast<uint8_t>(v);
        } else {
            ReadPixelRGB(p, s.pixelFormat, rgb);
        }
        out.red = rgb[0];
        out.green = rgb[1];
        out.blue = rgb[2];
    }
    return out;
}

inline Sample ReadAnywhere(const qbResampleSource& s, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return {};
    return ReadSample(s, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

uint8_t Round255(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v + 0.5);
}

uint8_t Trunc255(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v);
}

}  // namespace

int CreateResampleFilter(const qbResampleSource& source, std::unique_ptr<qbResampleFilter>* out) {
    try {
        auto filter = std::make_unique<qbResampleFilter>();
        filter->source = source;
        filter->area = int64_t{source.width} * source.height;
        filter->weights[0] = 1.0;
        for (int i = 1; i < kResampleTableSize; ++i)
            filter->weights[i] = std::exp(-i * kEdgeFalloff / kResampleTableSize);
        *out = std::move(filter);
        return 0;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

void SetResampleEllipse(qbResampleFilter* f, double dUx, double dUy, double dVx, double dVy) {
    f->tooLarge = false;
    f->tooSmall = false;
    if (f->pointSampling) {
        f->tooSmall = true;
        return;
    }
    const double a = dVx * dVx + dVy * dVy + 1;
    const double b = -2 * (dUx * dVx + dUy * dVy);
    const double c = dUx * dUx + dUy * dUy + 1;
    const double F = a * c - b * b / 4;
    if (!std::isfinite(F) || !std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c)) {
        f->tooLarge = true;
        return;
    }
    if (F <= kTooSmallF) {
        f->tooSmall = true;
        return;
    }
    if (F > kTooLargeF) {
        f->tooLarge = true;
        return;
    }
    f->rowReach = std::sqrt(a) + 1;
    f->columnReach = std::sqrt(c) + 1;
    f->halfRun = std::sqrt(F / a) + 1;
    f->slope = b / (-2 * a);
    const double box = 4 * f->rowReach * f->halfRun;
    if (box > 20.0 * static_cast<double>(f->area) || box > kResampleMaxBoxSamples) {
        f->tooLarge = true;
        return;
    }
    const double scale = f->tableSize / F;
    f->a = a * scale;
    f->b = b * scale;
    f->c = c * scale;
}

qbResampleColour InterpolatePixelBilinear(const qbResampleFilter& f, double px, double py) {
    const qbResampleSource& s = f.source;
    // Positions more than a pixel away read nothing but transparent black;
    // they are also the ones whose integer conversion could overflow.
    if (!(px > -2 && py > -2 && px < s.width + 1.0 && py < s.height + 1.0)) return {};
    const double x0 = std::floor(px);
    const double y0 = std::floor(py);
    const double fx = px - x0;
    const double fy = py - y0;
    const int64_t ix = static_cast<int64_t>(x0);
    const int64_t iy = static_cast<int64_t>(y0);
    const Sample p00 = ReadAnywhere(s, ix, iy), p10 = ReadAnywhere(s, ix + 1, iy);
    const Sample p01 = ReadAnywhere(s, ix, iy + 1), p11 = ReadAnywhere(s, ix + 1, iy + 1);
    auto mix = [&](double Sample::*m) {
        return ((1 - fx) * (p00.*m) + fx * (p10.*m)) * (1 - fy) + ((1 - fx) * (p01.*m) + fx * (p11.*m)) * fy;
    };
    qbResampleColour out;
    out.red = Trunc255(mix(&Sample::red));
    out.green = Trunc255(mix(&Sample::green));
    out.blue = Trunc255(mix(&Sample::blue));
    out.alpha = Trunc255(mix(&Sample::alpha));
    return out;
}

bool ResamplePixel(qbResampleFilter* f, double px, double py, qbResampleColour* out) {
    const qbResampleSource& s = f->source;
    f->lastSamples = 0;
    *out = {};
    if (!std::isfinite(px) || !std::isfinite(py)) return false;
    if (f->tooLarge || f->tooSmall) {
        f->lastSamples = 4;
        *out = InterpolatePixelBilinear(*f, px, py);
        return true;
    }
    if (px + f->columnReach < 0 || px - f->columnReach > s.width || py + f->rowReach < 0 ||
        py - f->rowReach > s.height)
        return false;
    const double* table = f->weights.data();
    const double A = f->a, B = f->b, C = f->c, DDQ = 2 * A;
    const int64_t v1 = static_cast<int64_t>(py - f->rowReach);
    const int64_t v2 = static_cast<int64_t>(py + f->rowReach + 1);
    const int64_t run = static_cast<int64_t>(2 * f->halfRun) + 1;
    double total = 0, red = 0, green = 0, blue = 0, alpha = 0;
    int64_t count = 0;
    for (int64_t v = v1; v <= v2; ++v) {
        const double V = static_cast<double>(v) - py;
        const int64_t u1 = static_cast<int64_t>(V * f->slope + px - f->halfRun);
        const double U = static_cast<double>(u1) - px;
        double Q = (A * U + B * V) * U + C * V * V;
        double DQ = A * (2 * U + 1) + B * V;
        const bool rowInside = v >= 0 && v < s.height;
        for (int64_t u = u1; u < u1 + run; ++u) {
            if (Q < f->tableSize) {
                // Rounding can leave Q a hair below 0 at the ellipse's centre.
                const double w = table[Q > 0 ? static_cast<int>(Q) : 0];
                total += w;
                ++count;
                if (rowInside && u >= 0 && u < s.width) {
                    const Sample p = ReadSample(s, static_cast<int32_t>(u), static_cast<int32_t>(v));
                    red += w * p.red;
                    green += w * p.green;
                    blue += w * p.blue;
                    alpha += w * p.alpha;
                }
            }
            Q += DQ;
            DQ += DDQ;
        }
    }
    f->lastSamples = (v2 - v1 + 1) * run;
    if (count <= 3 || total < 1.0) {
        *out = InterpolatePixelBilinear(*f, px, py);
        return true;
    }
    out->red = Round255(red / total);
    out->green = Round255(green / total);
    out->blue = Round255(blue / total);
    out->alpha = Round255(alpha / total);
    return true;
}
