// The swirl and ripple kernels. Both only differ in the geometry that maps
// a destination pixel to its source; the modes are shared.
#include "imaging/swirlripple.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/pixelformats.h"
#include "core/rowworkers.h"
#include "imaging/displacerows.h"
#include "imaging/effectkernels.h"
#include "imaging/kernelisa.h"
#include "imaging/simdrows.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;
constexpr double kDegree = 0.017453292519943295;

// What a kernel writes and reads, whichever effect drives it.
struct Planes {
    const void* source;
    const void* source2;
    void* destination;
    int32_t sourcePitch, source2Pitch, destinationPitch;
    uint32_t format;
    int32_t width, height;
    const uint8_t* sourceAlpha;
    int32_t sourceAlphaPitch;
    uint8_t* destinationAlpha;
    int32_t destinationAlphaPitch;
    const uint8_t* sourceMask;
    int32_t sourceMaskPitch;
    uint8_t* destinationMask;
    int32_t destinationMaskPitch;
    qbRowWorkers* workers;
    void (*rowsDone)(void*, int32_t, int32_t);
    void* rowsContext;
};

template <typename R>
Planes PlanesOf(const R& r) {
    return {r.source,           r.source2,         r.destination,           r.sourcePitch,
            r.source2Pitch,     r.destinationPitch, r.pixelFormat,          r.width,
            r.height,           r.sourceAlpha,     r.sourceAlphaPitch,      r.destinationAlpha,
            r.destinationAlphaPitch, r.sourceMask, r.sourceMaskPitch,       r.destinationMask,
            r.destinationMaskPitch, r.workers,           r.rowsDone,      r.rowsContext};
}

inline size_t At(int32_t x, int32_t y, int32_t pitch) {
    return static_cast<size_t>(y) * static_cast<size_t>(pitch) + static_cast<size_t>(x);
}

inline bool MaskBit(const uint8_t* rows, int32_t pitch, int32_t x, int32_t y) {
    return (rows[At(x >> 3, y, pitch)] & (0x80 >> (x & 7))) != 0;
}

inline void SetMaskBit(uint8_t* rows, int32_t pitch, int32_t x, int32_t y, bool on) {
    uint8_t& b = rows[At(x >> 3, y, pitch)];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    b = on ? (b | bit) : (b & ~bit);
}

// Limits a source coordinate to 0 .. size - 1 before it becomes an integer.
inline int32_t Limit(double v, int32_t size) {
    if (!(v >= 0)) return 0;
    if (v >= size - 1) return size - 1;
    return static_cast<int32_t>(v);
}

inline uint32_t Mix(uint32_t p1, uint32_t p2, int32_t k, uint32_t format) {
    const uint32_t a = format == kFormatARGB ? p1 : Pixel32ToARGB(static_cast<int>(format), p1);
    const uint32_t b = format == kFormatARGB ? p2 : Pixel32ToARGB(static_cast<int>(format), p2);
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) {
        const int32_t c1 = static_cast<int32_t>(a >> s & 255), c2 = static_cast<int32_t>(b >> s & 255);
        out |= static_cast<uint32_t>((((c1 - c2) * k) >> 8) + c2) << s;
    }
    return format == kFormatARGB ? out : ARGBToPixel32(static_cast<int>(format), out);
}

inline uint16_t Mix(uint16_t p1, uint16_t p2, int32_t k, uint32_t format) {
    const bool plain = format == kFormatRGB565;
    const uint32_t a = plain ? p1 : Pixel16ToRGB565(static_cast<int>(format), p1);
    const uint32_t b = plain ? p2 : Pixel16ToRGB565(static_cast<int>(format), p2);
    auto mix = [k](int32_t c1, int32_t c2) { return (((c1 - c2) * k) >> 8) + c2; };
    const int32_t r = mix(static_cast<int32_t>((a & 0xF800) >> 8), static_cast<int32_t>((b & 0xF800) >> 8));
    const int32_t g = mix(static_cast<int32_t>((a & 0x7E0) >> 3), static_cast<int32_t>((b & 0x7E0) >> 3));
    const int32_t bl = mix(static_cast<int32_t>((a & 0x1F) * 8), static_cast<int32_t>((b & 0x1F) * 8));
    const auto out = static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((bl & 0xF8) >> 3));
    return plain ? out : RGB565ToPixel16(static_cast<int>(format), out);
}

// The bytes a 32-bit format keeps through Mix: 11-13 drop their alpha.
uint32_t MixKeeps(uint32_t format) {
    if (format == kFormatBGRA || format == kFormatRGBA) return 0xFFFFFF00u;
    return format == kFormatABGR ? 0x00FFFFFFu : 0xFFFFFFFFu;
}

// Whether every offset in a plane of the picture's height whose rows lie
// pitch apart fits the vector rows' 32-bit offsets.
bool FitsOffsets(int32_t pitch, int32_t width, int32_t height) {
    return pitch >= 0 && int64_t{pitch} * height + width < (int64_t{1} << 31);
}

// The vector rows of one instruction set.
struct RowSet {
    decltype(&SwirlRowAvx512) swirl;
    decltype(&RippleRowAvx512) ripple;
    decltype(&MoveRow32Avx512) move;
    decltype(&MixRow32Avx512) mix;
    decltype(&AlphaRow32Avx512) alpha;
};

// The widest rows usable for the set asked for; null: one by one alone.
const RowSet* RowsFor(KernelIsa isa) {
    static constexpr RowSet avx512{SwirlRowAvx512, RippleRowAvx512, MoveRow32Avx512, MixRow32Avx512,
                                   AlphaRow32Avx512};
    static constexpr RowSet avx2{SwirlRowAvx2, RippleRowAvx2, MoveRow32Avx2, MixRow32Avx2, AlphaRow32Avx2};
    if (isa == KernelIsa::Avx512 && HasAvx512()) return &avx512;
    return UsableIsa(isa) >= KernelIsa::Avx2 ? &avx2 : nullptr;
}

// Whether every byte of a plane's width x height is 255.
bool AllOpaque(const uint8_t* plane, int32_t pitch, int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = plane + At(0, y, pitch);
        uint8_t all = 255;
        // An AND of the whole row, which vectorises, rather than a test per byte.
        for (int32_t x = 0; x < width; ++x) all &= row[x];
        if (all != 255) return false;
    }
    return true;
}

// Pictures below this many pixels are not worth waking other threads for.
constexpr int64_t kThreadedPixels = int64_t{1} << 15;
// Rows a share takes at a time: few enough that the shares end together.
constexpr int32_t kRowsPerChunk = 8;

int32_t SharesFor(const Planes& r) {
    if (!r.workers || !DisplaceWorthThreads(r.width, r.height)) return 1;
    return r.workers->Shares();
}

// Runs the mode the planes select; mapRow(y, xs, ys) gives the source
// positions of row y's pixels before that row's pixels move, so that the
// moving loop is loads and stores alone and keeps many of its scattered
// loads in flight at once. Rows are independent of each other: with
// workers, bands of them go to other threads, each share with position
// rows of its own.
template <typename P, typename RowMap>
void Displace(const Planes& r, int32_t k, bool reverse, const RowSet* vector, RowMap mapRowOf) {
    if (!r.destination || r.width < 1 || r.height < 1) return;
    auto* dst = static_cast<P*>(r.destination);
    std::vector<P> pixelCopy;
    std::vector<uint8_t> maskCopy, alphaCopy;
    std::vector<int32_t> positions;
    const P* src = static_cast<const P*>(r.source);
    int32_t srcPitch = r.sourcePitch;
    const bool wide32 = vector && sizeof(P) == 4;
    const int32_t shares = SharesFor(r);
    const int32_t windowRows = DisplaceWindowRows();
    const auto width = static_cast<size_t>(r.width);
    try {
        positions.resize(width * 2 * static_cast<size_t>(shares));
        if (!src) {
            pixelCopy.assign(dst, dst + At(0, r.height, r.destinationPitch));
            src = pixelCopy.data();
            srcPitch = r.destinationPitch;
        }
        if (!r.sourceAlpha && !r.source2) {
            if (!r.sourceMask && r.destinationMask)
                maskCopy.assign(r.destinationMask, r.destinationMask + At(0, r.height, r.destinationMaskPitch));
            if (r.destinationAlpha)
                alphaCopy.assign(r.destinationAlpha, r.destinationAlpha + At(0, r.height, r.destinationAlphaPitch));
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    const P* src2 = static_cast<const P*>(r.source2);
    const int32_t m = std::clamp(reverse ? 255 - k : k, 0, 255);
    const bool wideAlpha = wide32 && FitsOffsets(srcPitch, r.width, r.height) &&
                           FitsOffsets(r.sourceAlphaPitch, r.width, r.height);
    const bool wideBlend = wide32 && k >= 0 && k <= 256 && FitsOffsets(srcPitch, r.width, r.height) &&
                           FitsOffsets(r.source2Pitch, r.width, r.height);
    const bool wideMove = wide32 && FitsOffsets(srcPitch, r.width, r.height);
    const bool opaque = r.sourceAlpha && AllOpaque(r.sourceAlpha, r.sourceAlphaPitch, r.width, r.height);
    const uint8_t* mask = maskCopy.empty() ? r.sourceMask : maskCopy.data();
    const int32_t maskPitch = maskCopy.empty() ? r.sourceMaskPitch : r.destinationMaskPitch;

    // Alpha mode: displaced pixels where the source alpha shows, and the
    // alpha faded by the level.
    const auto alphaRow = [&](int32_t y, const int32_t* xs, const int32_t* ys) {
        int32_t x = 0;
        if constexpr (sizeof(P) == 4)
            if (wideAlpha)
                x = vector->alpha({xs, ys, r.width, r.width, windowRows}, src, srcPitch, r.sourceAlpha,
                                  r.sourceAlphaPitch, m, dst + At(0, y, r.destinationPitch),
                                  r.destinationAlpha ? r.destinationAlpha + At(0, y, r.destinationAlphaPitch)
                                                     : nullptr);
        for (; x < r.width; ++x) {
            const int32_t sx = xs[x], sy = ys[x];
            const uint32_t a = r.sourceAlpha[At(sx, sy, r.sourceAlphaPitch)];
            if (a == 0) {
                if (r.destinationAlpha) r.destinationAlpha[At(x, y, r.destinationAlphaPitch)] = 0;
                continue;
            }
            dst[At(x, y, r.destinationPitch)] = src[At(sx, sy, srcPitch)];
            if (r.destinationAlpha)
                r.destinationAlpha[At(x, y, r.destinationAlphaPitch)] =
                    static_cast<uint8_t>(a * static_cast<uint32_t>(m) / 255);
        }
    };
    // Blend mode: both pictures displaced alike and mixed by k.
    const auto blendRow = [&](int32_t y, const int32_t* xs, const int32_t* ys) {
        int32_t x = 0;
        if constexpr (sizeof(P) == 4)
            if (wideBlend)
                x = vector->mix({xs, ys, r.width, r.width, windowRows}, src, srcPitch, src2, r.source2Pitch, k,
                                   MixKeeps(r.format), dst + At(0, y, r.destinationPitch));
        for (; x < r.width; ++x) {
            const int32_t sx = xs[x], sy = ys[x];
            dst[At(x, y, r.destinationPitch)] =
                Mix(src[At(sx, sy, srcPitch)], src2[At(sx, sy, r.source2Pitch)], k, r.format);
        }
    };
    // Filter mode: the pixels, the mask and the alpha plane moved together.
    const auto movePixels = [&](int32_t y, const int32_t* xs, const int32_t* ys) {
        P* out = dst + At(0, y, r.destinationPitch);
        int32_t from = 0;
        if constexpr (sizeof(P) == 4)
            if (wideMove) from = vector->move({xs, ys, r.width, r.width, windowRows}, src, srcPitch, out);
        for (int32_t x = from; x < r.width; ++x) out[x] = src[At(xs[x], ys[x], srcPitch)];
    };
    // Alpha mode over an opaque plane (a layer without mask or alpha): every
    // pixel shows and every alpha is level * 255 / 255, so the alpha needs
    // no fetching.
    const auto opaqueRow = [&](int32_t y, const int32_t* xs, const int32_t* ys) {
        movePixels(y, xs, ys);
        if (r.destinationAlpha)
            std::memset(r.destinationAlpha + At(0, y, r.destinationAlphaPitch), m, static_cast<size_t>(r.width));
    };
    const auto moveRow = [&](int32_t y, const int32_t* xs, const int32_t* ys) {
        movePixels(y, xs, ys);
        if (!(mask && r.destinationMask) && !r.destinationAlpha) return;
        for (int32_t x = 0; x < r.width; ++x) {
            const int32_t sx = xs[x], sy = ys[x];
            if (mask && r.destinationMask)
                SetMaskBit(r.destinationMask, r.destinationMaskPitch, x, y, MaskBit(mask, maskPitch, sx, sy));
            if (r.destinationAlpha)
                r.destinationAlpha[At(x, y, r.destinationAlphaPitch)] = alphaCopy[At(sx, sy, r.destinationAlphaPitch)];
        }
    };
    const auto rows = [&](int32_t share, int32_t from, int32_t to) {
        int32_t* xs = positions.data() + width * 2 * static_cast<size_t>(share);
        int32_t* ys = xs + width;
        for (int32_t y = from; y < to; ++y) {
            mapRowOf(y, xs, ys);
            if (opaque) opaqueRow(y, xs, ys);
            else if (r.sourceAlpha) alphaRow(y, xs, ys);
            else if (r.source2) blendRow(y, xs, ys);
            else moveRow(y, xs, ys);
        }
        if (r.rowsDone) r.rowsDone(r.rowsContext, from, to);
    };
    if (shares > 1) {
        r.workers->Run(r.height, kRowsPerChunk, rows);
    } else if (r.rowsDone) {
        for (int32_t from = 0; from < r.height; from += kRowsPerChunk)
            rows(0, from, std::min(r.height, from + kRowsPerChunk));
    } else {
        rows(0, 0, r.height);
    }
}

// Row y's source positions of the columns from .. to - 1.
void SwirlRow(const qbSwirlRowGeometry& g, int32_t y, int32_t from, int32_t to, int32_t* xs, int32_t* ys) {
    const bool unitX = g.scaleX == 1, unitY = g.scaleY == 1;
    const double dy = (y - g.cy) * g.scaleY;
    for (int32_t x = from; x < to; ++x) {
        const double dx = (x - g.cx) * g.scaleX;
        const double d2 = dx * dx + dy * dy;
        if (!(d2 < g.radius2)) {
            xs[x] = x, ys[x] = y;
            continue;
        }
        const auto d = static_cast<size_t>(IntSqrt64(static_cast<int64_t>(d2)));
        const double s = g.sines[d], c = g.cosines[d];
        // Dividing by a scale of 1 changes nothing, so it is skipped.
        const double u = dx * c - dy * s, v = dx * s + dy * c;
        xs[x] = Limit((unitX ? u : u / g.scaleX) + g.cx, g.width);
        ys[x] = Limit((unitY ? v : v / g.scaleY) + g.cy, g.height);
    }
}

template <typename P>
void Swirl(const qbSwirlRequest& r, int32_t angle, const RowSet* vector) {
    const double w = r.width, h = r.height;
    const double cx = w * 0.5, cy = h * 0.5, radius = std::max(cx, cy);
    const double scaleX = r.height < r.width ? 1 : h / w;
    const double scaleY = r.height < r.width ? w / h : 1;
    const int32_t k = static_cast<int32_t>(int64_t{angle} * 255 / 720);
    if (angle > 359) angle = 720 - angle;
    const double theta0 = angle * kDegree;
    const bool direct = angle < 0 && !r.sourceAlpha;
    // The turn depends on the whole-pixel distance alone: its sine and
    // cosine once per distance instead of once per pixel.
    std::vector<double> sines, cosines;
    try {
        sines.resize(static_cast<size_t>(radius) + 2 + kTablePad);
        cosines.resize(sines.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (size_t d = 0; d + kTablePad < sines.size(); ++d) {
        const double f = 1 - static_cast<double>(d) / radius;
        const double theta = theta0 * f * f;
        if (direct) {
            sines[d] = std::sin(theta), cosines[d] = std::cos(theta);
        } else {
            const double t = theta / 0.001;
            const int i = t <= 0 ? 0 : t >= kDisplaceTableSize - 1 ? kDisplaceTableSize - 1 : static_cast<int>(t);
            sines[d] = r.sine[i], cosines[d] = r.cosine[i];
        }
    }
    const qbSwirlRowGeometry g{cx, cy, scaleX, scaleY, radius * radius, sines.data(), cosines.data(), r.width, r.height};
    const Planes planes = PlanesOf(r);
    Displace<P>(planes, k, r.reverse, vector, [&](int32_t y, int32_t* xs, int32_t* ys) {
        SwirlRow(g, y, vector ? vector->swirl(g, y, 0, r.width, xs, ys) : 0, r.width, xs, ys);
    });
}

// The ripple's displacement factor at a distance d.
double RippleFactor(int32_t d, double phase, const qbRippleRequest& r) {
    // fmod, not a loop of subtractions: a script phase of 1e9 would
    // otherwise cost a million steps per pixel.
    double a = std::fmod(d / r.waveLength * kTwoPi - phase, kTwoPi);
    if (a < 0) a += kTwoPi;
    if (!(a >= 0)) a = 0;
    const int i = std::min(static_cast<int>(a / 0.001), kDisplaceTableSize - 1);
    double v = r.amplitude * r.sine[i];
    // An extent of 0 (a centre at 0, 0) would divide by zero.
    const double extent = std::max(r.extent, 1);
    v = (extent - d) / extent * v;
    if (d != 0) v = v * r.waveLength / d;
    return v;
}

// The greatest distance InitRippleTables gives, a corner's, up to limit
// (a centre far off the picture would square past 64 bits).
int32_t FarthestCorner(const qbRippleRequest& r, int32_t limit) {
    int64_t farthest = 0;
    for (const int64_t dx : {int64_t{0} - r.centreX, int64_t{r.width} - 1 - r.centreX})
        for (const int64_t dy : {int64_t{0} - r.centreY, int64_t{r.height} - 1 - r.centreY}) {
            if (std::max(std::abs(dx), std::abs(dy)) >= limit) return limit;
            farthest = std::max(farthest, IntSqrt64(dx * dx + dy * dy));
        }
    return static_cast<int32_t>(std::min<int64_t>(farthest, limit));
}

template <typename P>
void Ripple(qbRippleRequest& r, int32_t step, const RowSet* vector) {
    if (!r.distances || !r.sine || r.width < 1 || r.height < 1) return;
    const int32_t n = std::max(r.steps, 1);
    const int32_t k = step < 0 ? 0 : static_cast<int32_t>(int64_t{step} * 255 / (2 * int64_t{n}));
    r.current = r.distances;
    if (step != -1) {
        r.phase = step;
        r.amplitude = (step < n ? step : 2.0 * n - step) * r.amplitudePerStep;
    }
    const double phase = r.phase;
    // The factor depends on the distance alone: once per distance, as
    // ComputeRippleOffset would find it for every pixel at that distance,
    // up to the farthest corner (a table of the caller's own with distances
    // beyond finds those one by one). A centre far off the picture keeps
    // the table to a million entries.
    const int32_t farthest = FarthestCorner(r, int32_t{1} << 20);
    std::vector<double> factors;
    try {
        factors.resize(static_cast<size_t>(farthest) + 1 + kTablePad);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (int32_t d = 0; d <= farthest; ++d) factors[static_cast<size_t>(d)] = RippleFactor(d, phase, r);
    const qbRippleRowGeometry g{factors.data(), farthest, r.centreX, r.centreY, r.width, r.height};
    const Planes planes = PlanesOf(r);
    Displace<P>(planes, k, r.reverse, vector, [&](int32_t y, int32_t* xs, int32_t* ys) {
        const int32_t* distances = r.distances + At(0, y, r.width);
        for (int32_t x = vector ? vector->ripple(g, distances, y, 0, r.width, xs, ys) : 0; x < r.width; ++x) {
            const int32_t d = std::max(distances[x], 0);
            const double v = d <= farthest ? factors[static_cast<size_t>(d)] : RippleFactor(d, phase, r);
            xs[x] = Limit(x + (x - r.centreX) * v, r.width);
            ys[x] = Limit(y + (y - r.centreY) * v, r.height);
        }
    });
}

}  // namespace

bool DisplaceWorthThreads(int32_t width, int32_t height) {
    return width > 0 && height > 1 && int64_t{width} * height >= kThreadedPixels;
}

// floor(sqrt(n)), as IntSqrt answers it: the double root corrected by
// exact integer tests, which is cheaper per pixel than IntSqrt's divisions.
int64_t IntSqrt64(int64_t n) {
    if (n <= 0) return 0;
    auto s = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (s * s > n) --s;
    while ((s + 1) * (s + 1) <= n) ++s;
    return s;
}

void InitSwirlTables(const qbSwirlRequest& r) {
    if (!r.sine || !r.cosine) return;
    double x = 0;
    for (int i = 0; i < kDisplaceTableSize; ++i, x += 0.001) {
        r.sine[i] = std::sin(x);
        r.cosine[i] = std::cos(x);
    }
}

void InitRippleTables(const qbRippleRequest& r) {
    if (r.sine) {
        r.sine[0] = 0;
        double x = 0.001;
        for (int i = 1; i < kDisplaceTableSize; ++i, x += 0.001) r.sine[i] = std::sin(x);
    }
    if (!r.distances) return;
    int32_t* d = r.distances;
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t x = 0; x < r.width; ++x) {
            const int64_t dx = int64_t{x} - r.centreX, dy = int64_t{y} - r.centreY;
            *d++ = static_cast<int32_t>(IntSqrt64(dx * dx + dy * dy));
        }
}

void SwirlPixels32(const qbSwirlRequest& request, int32_t angle) {
    SwirlPixels32With(KernelIsa::Avx512, request, angle);
}
void SwirlPixels32With(KernelIsa isa, const qbSwirlRequest& request, int32_t angle) {
    Swirl<uint32_t>(request, angle, RowsFor(isa));
}
void SwirlPixels16(const qbSwirlRequest& request, int32_t angle) {
    Swirl<uint16_t>(request, angle, RowsFor(KernelIsa::Avx512));
}
void RipplePixels32(qbRippleRequest& request, int32_t step) {
    RipplePixels32With(KernelIsa::Avx512, request, step);
}
void RipplePixels32With(KernelIsa isa, qbRippleRequest& request, int32_t step) {
    Ripple<uint32_t>(request, step, RowsFor(isa));
}
void RipplePixels16(qbRippleRequest& request, int32_t step) {
    Ripple<uint16_t>(request, step, RowsFor(KernelIsa::Avx512));
}

void ComputeRippleOffset(double phase, int32_t x, int32_t y, qbRippleRequest& r) {
    const double v = RippleFactor(*r.current++, phase, r);
    r.resultX = Limit(x + (x - r.centreX) * v, r.width);
    r.resultY = Limit(y + (y - r.centreY) * v, r.height);
}
