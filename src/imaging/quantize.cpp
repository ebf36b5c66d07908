// The colour quantiser. The histogram cells are 5-6-5 bits of red, green
// and blue; once the palette is chosen the same cells cache the inverse
// map (0 = not yet known, else index + 1), filled a 4x8x4 block at a time
// for the cells pixels reach. Distances weigh red 2, green 3, blue 1.
#include "imaging/quantize.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "core/pixelformats.h"

namespace {

constexpr int kRedCells = 32, kGreenCells = 64, kBlueCells = 32;
constexpr int kRedScale = 2, kGreenScale = 3, kBlueScale = 1;
// A cell's extent in weighted units per axis, used to pick the split axis
// and for the incremental distances of the inverse map.
constexpr int kRedStep = 8 * kRedScale, kGreenStep = 4 * kGreenScale, kBlueStep = 8 * kBlueScale;

using Histogram = std::vector<uint16_t>;

inline int Cell(int r, int g, int b) { return (r << 11) | (g << 5) | b; }

struct ColourBox {
    int32_t r0, r1, g0, g1, b0, b1;
    int64_t volume = 0;
    int64_t cells = 0;
};

struct Colourmap {
    int count = 0;
    std::array<uint8_t, 256> r{}, g{}, b{};
};

// A pixel's R, G, B. The 3-byte formats are read as the quantiser's
// callers hand them in: format 8 as bytes R, G, B, format 9 as B, G, R.
inline void ReadRGB(const uint8_t* p, int format, uint8_t* rgb) {
    if (format == kFormatRGB24) {
        rgb[0] = p[0], rgb[1] = p[1], rgb[2] = p[2];
    } else if (format == kFormatBGR24) {
        rgb[0] = p[2], rgb[1] = p[1], rgb[2] = p[0];
    } else {
        ReadPixelRGB(p, format, rgb);
    }
}

// One row of the buffer as R, G, B bytes: the row itself when it is held
// so (format 8), else converted into rgb, with loops of their own for the
// common formats so that no pixel asks for its format.
const uint8_t* ReadRow(const uint8_t* row, int format, int bytes, int32_t width, uint8_t* rgb) {
    const auto n = static_cast<size_t>(width);
    if (format == kFormatRGB24) return row;
    if (format == kFormatBGR24) {
        for (size_t x = 0; x < n; ++x) {
            rgb[3 * x] = row[3 * x + 2];
            rgb[3 * x + 1] = row[3 * x + 1];
            rgb[3 * x + 2] = row[3 * x];
        }
    } else if (format == kFormatARGB) {
        for (size_t x = 0; x < n; ++x) {
            uint32_t v;
            std::memcpy(&v, row + 4 * x, 4);
            rgb[3 * x] = static_cast<uint8_t>(v >> 16);
            rgb[3 * x + 1] = static_cast<uint8_t>(v >> 8);
            rgb[3 * x + 2] = static_cast<uint8_t>(v);
        }
    } else {
        for (size_t x = 0; x < n; ++x) ReadRGB(row + x * static_cast<size_t>(bytes), format, rgb + 3 * x);
    }
    return rgb;
}

uint32_t RawValue(const uint8_t* p, int bytes) {
    if (bytes == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (bytes == 3) return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint32_t Join(const uint8_t* rgb) { return uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2]; }

struct Buffer {
    const uint8_t* base;
    int format;
    int bytes;
    int32_t width, height;
    size_t pitchBytes;
    const uint8_t* row(int32_t y) const { return base + static_cast<size_t>(y) * pitchBytes; }
};

// Distinct raw values in order of first appearance; false once there are
// more than `limit`.
bool ExactPass(const Buffer& in, int32_t limit, uint8_t* indices, uint32_t* palette, int32_t* count,
               uint32_t transparent, int32_t* transparentIndex) {
    std::vector<uint32_t> values;
    std::vector<uint32_t> firstAt;
    values.reserve(static_cast<size_t>(limit));
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* row = in.row(y);
        for (int32_t x = 0; x < in.width; ++x) {
            const uint32_t v = RawValue(row + static_cast<size_t>(x) * in.bytes, in.bytes);
            if (std::find(values.begin(), values.end(), v) != values.end()) continue;
            if (static_cast<int32_t>(values.size()) >= limit) return false;
            values.push_back(v);
            uint8_t rgb[3];
            ReadRGB(row + static_cast<size_t>(x) * in.bytes, in.format, rgb);
            firstAt.push_back(Join(rgb));
        }
    }
    uint8_t* out = indices;
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* row = in.row(y);
        uint32_t last = 0;
        uint8_t lastIndex = 0;
        bool haveLast = false;
        for (int32_t x = 0; x < in.width; ++x) {
            const uint32_t v = RawValue(row + static_cast<size_t>(x) * in.bytes, in.bytes);
            if (!haveLast || v != last) {
                last = v;
                haveLast = true;
                lastIndex = static_cast<uint8_t>(std::find(values.begin(), values.end(), v) - values.begin());
            }
            *out++ = lastIndex;
        }
    }
    int32_t ti = -1;
    for (size_t i = 0; i < firstAt.size(); ++i) {
        palette[i] = firstAt[i];
        if (transparent != kNoTransparentColour && firstAt[i] == transparent) ti = static_cast<int32_t>(i);
    }
    *count = static_cast<int32_t>(values.size());
    if (transparentIndex) *transparentIndex = ti;
    return true;
}

void BuildHistogram(const Buffer& in, Histogram& h, uint32_t transparent, std::vector<uint8_t>& rgb) {
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* line = ReadRow(in.row(y), in.format, in.bytes, in.width, rgb.data());
        for (int32_t x = 0; x < in.width; ++x) {
            const uint8_t* p = line + 3 * static_cast<size_t>(x);
            if (Join(p) == transparent) continue;
            uint16_t& c = h[Cell(p[0] >> 3, p[1] >> 2, p[2] >> 3)];
            if (c != 0xFFFF) ++c;
        }
    }
}

bool Filled(const Histogram& h, int r0, int r1, int g0, int g1, int b0, int b1) {
    for (int r = r0; r <= r1; ++r)
        for (int g = g0; g <= g1; ++g)
            for (int b = b0; b <= b1; ++b)
                if (h[Cell(r, g, b)]) return true;
    return false;
}

void ShrinkBox(const Histogram& h, ColourBox& x) {
    if (x.r1 > x.r0) {
        while (x.r0 < x.r1 && !Filled(h, x.r0, x.r0, x.g0, x.g1, x.b0, x.b1)) ++x.r0;
        while (x.r1 > x.r0 && !Filled(h, x.r1, x.r1, x.g0, x.g1, x.b0, x.b1)) --x.r1;
    }
    if (x.g1 > x.g0) {
        while (x.g0 < x.g1 && !Filled(h, x.r0, x.r1, x.g0, x.g0, x.b0, x.b1)) ++x.g0;
        while (x.g1 > x.g0 && !Filled(h, x.r0, x.r1, x.g1, x.g1, x.b0, x.b1)) --x.g1;
    }
    if (x.b1 > x.b0) {
        while (x.b0 < x.b1 && !Filled(h, x.r0, x.r1, x.g0, x.g1, x.b0, x.b0)) ++x.b0;
        while (x.b1 > x.b0 && !Filled(h, x.r0, x.r1, x.g0, x.g1, x.b1, x.b1)) --x.b1;
    }
    const int64_t dr = int64_t{x.r1 - x.r0} * kRedStep, dg = int64_t{x.g1 - x.g0} * kGreenStep,
                  db = int64_t{x.b1 - x.b0} * kBlueStep;
    x.volume = dr * dr + dg * dg + db * db;
    int64_t cells = 0;
    for (int r = x.r0; r <= x.r1; ++r)
        for (int g = x.g0; g <= x.g1; ++g)
            for (int b = x.b0; b <= x.b1; ++b) cells += h[Cell(r, g, b)] != 0;
    x.cells = cells;
}

void MedianCut(const Histogram& h, int32_t wanted, std::vector<ColourBox>& boxes) {
    boxes.clear();
    boxes.reserve(static_cast<size_t>(wanted));
    boxes.push_back({0, kRedCells - 1, 0, kGreenCells - 1, 0, kBlueCells - 1});
    ShrinkBox(h, boxes[0]);
    while (static_cast<int32_t>(boxes.size()) < wanted) {
        const bool byPopulation = static_cast<int32_t>(boxes.size()) * 2 <= wanted;
        int picked = -1;
        int64_t best = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const ColourBox& x = boxes[i];
            if (byPopulation ? (x.cells > best && x.volume > 0) : x.volume > best) {
                best = byPopulation ? x.cells : x.volume;
                picked = static_cast<int>(i);
            }
        }
        if (picked < 0) break;
        ColourBox& a = boxes[static_cast<size_t>(picked)];
        ColourBox b = a;
        const int32_t dr = (a.r1 - a.r0) * kRedStep, dg = (a.g1 - a.g0) * kGreenStep,
                      db = (a.b1 - a.b0) * kBlueStep;
        if (db > dr && db > dg) {
            a.b1 = (a.b0 + a.b1) / 2;
            b.b0 = a.b1 + 1;
        } else if (dr <= dg) {
            a.g1 = (a.g0 + a.g1) / 2;
            b.g0 = a.g1 + 1;
        } else {
            a.r1 = (a.r0 + a.r1) / 2;
            b.r0 = a.r1 + 1;
        }
        ShrinkBox(h, a);
        ShrinkBox(h, b);
        boxes.push_back(b);
    }
}

void BoxColour(const Histogram& h, const ColourBox& x, Colourmap& map, int i) {
    int64_t total = 0, rs = 0, gs = 0, bs = 0;
    for (int r = x.r0; r <= x.r1; ++r)
        for (int g = x.g0; g <= x.g1; ++g)
            for (int b = x.b0; b <= x.b1; ++b) {
                const int64_t n = h[Cell(r, g, b)];
                if (!n) continue;
                total += n;
                rs += n * (8 * r + 4);
                gs += n * (4 * g + 2);
                bs += n * (8 * b + 4);
            }
    if (total == 0) {
        map.r[i] = map.g[i] = map.b[i] = 255;
        return;
    }
    map.r[i] = static_cast<uint8_t>((rs + total / 2) / total);
    map.g[i] = static_cast<uint8_t>((gs + total / 2) / total);
    map.b[i] = static_cast<uint8_t>((bs + total / 2) / total);
}

// The smallest and largest weighted square distance from c to [lo, hi].
void AxisRange(int c, int lo, int hi, int scale, int32_t* least, int32_t* most) {
    const int centre = (lo + hi) >> 1;
    int32_t t;
    if (c < lo) {
        t = (c - lo) * scale;
        *least += t * t;
        t = (c - hi) * scale;
        *most += t * t;
    } else if (c > hi) {
        t = (c - hi) * scale;
        *least += t * t;
        t = (c - lo) * scale;
        *most += t * t;
    } else {
        t = (c <= centre ? c - hi : c - lo) * scale;
        *most += t * t;
    }
}

// Fills the 4x8x4 block of cache cells around the cell (r, g, b).
void FillInverseBlock(Histogram& cache, const Colourmap& map, int r, int g, int b) {
    r >>= 2, g >>= 3, b >>= 2;
    const int minR = (r << 5) + 4, minG = (g << 5) + 2, minB = (b << 5) + 4;
    const int maxR = minR + 24, maxG = minG + 28, maxB = minB + 24;
    std::array<int32_t, 256> least{};
    int32_t leastMost = 0x7FFFFFFF;
    for (int i = 0; i < map.count; ++i) {
        int32_t lo = 0, hi = 0;
        AxisRange(map.r[i], minR, maxR, kRedScale, &lo, &hi);
        AxisRange(map.g[i], minG, maxG, kGreenScale, &lo, &hi);
        AxisRange(map.b[i], minB, maxB, kBlueScale, &lo, &hi);
        least[i] = lo;
        leastMost = std::min(leastMost, hi);
    }
    std::array<int32_t, 128> bestDist;
    std::array<uint8_t, 128> best{};
    bestDist.fill(0x7FFFFFFF);
    for (int i = 0; i < map.count; ++i) {
        if (least[i] > leastMost) continue;
        int32_t incR = (minR - map.r[i]) * kRedScale, incG = (minG - map.g[i]) * kGreenScale,
                incB = (minB - map.b[i]) * kBlueScale;
        int32_t d0 = incR * incR + incG * incG + incB * incB;
        incR = incR * 2 * kRedStep + kRedStep * kRedStep;
        incG = incG * 2 * kGreenStep + kGreenStep * kGreenStep;
        incB = incB * 2 * kBlueStep + kBlueStep * kBlueStep;
        int k = 0;
        for (int ir = 0, xr = incR; ir < 4; ++ir) {
            int32_t d1 = d0;
            for (int ig = 0, xg = incG; ig < 8; ++ig) {
                int32_t d2 = d1;
                for (int ib = 0, xb = incB; ib < 4; ++ib, ++k) {
                    if (d2 < bestDist[k]) {
                        bestDist[k] = d2;
                        best[k] = static_cast<uint8_t>(i);
                    }
                    d2 += xb;
                    xb += 2 * kBlueStep * kBlueStep;
                }
                d1 += xg;
                xg += 2 * kGreenStep * kGreenStep;
            }
            d0 += xr;
            xr += 2 * kRedStep * kRedStep;
        }
    }
    int k = 0;
    for (int ir = 0; ir < 4; ++ir)
        for (int ig = 0; ig < 8; ++ig)
            for (int ib = 0; ib < 4; ++ib, ++k)
                cache[Cell((r << 2) + ir, (g << 3) + ig, (b << 2) + ib)] = static_cast<uint16_t>(best[k] + 1);
}

inline int Lookup(Histogram& cache, const Colourmap& map, int r, int g, int b) {
    uint16_t& c = cache[Cell(r >> 3, g >> 2, b >> 3)];
    if (c == 0) FillInverseBlock(cache, map, r >> 3, g >> 2, b >> 3);
    return c - 1;
}

void MapPlain(const Buffer& in, Histogram& cache, const Colourmap& map, uint32_t transparent, int transparentIndex,
              std::vector<uint8_t>& rgb, uint8_t* indices) {
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* line = ReadRow(in.row(y), in.format, in.bytes, in.width, rgb.data());
        uint8_t* out = indices + static_cast<size_t>(y) * in.width;
        for (int32_t x = 0; x < in.width; ++x) {
            const uint8_t* p = line + 3 * static_cast<size_t>(x);
            out[x] = static_cast<uint8_t>(Join(p) == transparent ? transparentIndex
                                                                 : Lookup(cache, map, p[0], p[1], p[2]));
        }
    }
}

// 511 entries for -255..255: small errors pass, larger ones are damped so
// that a run of one colour cannot build up streaks.
std::array<int, 511> ErrorLimits() {
    std::array<int, 511> t{};
    int out = 0, in = 0;
    for (; in < 16; ++in, ++out) t[255 + in] = out, t[255 - in] = -out;
    for (; in < 48; ++in, out += (in & 1) ? 0 : 1) t[255 + in] = out, t[255 - in] = -out;
    for (; in <= 255; ++in) t[255 + in] = out, t[255 - in] = -out;
    return t;
}

// The inverse map for the dithered walk: each cell's index with its
// palette colour beside it (index | R << 8 | G << 16 | B << 24), so that
// the pixel's error needs one load after the lookup rather than two. A
// cell not yet known holds index 0 with the opposite of entry 0's colour,
// which no known cell can hold; whole 4x8x4 blocks are copied from the
// index cache as it fills them.
struct PackedMap {
    std::vector<uint32_t> cells;
    uint32_t unknown;
};

uint32_t PackedEntry(const Colourmap& map, int index) {
    const auto i = static_cast<size_t>(index);
    return static_cast<uint32_t>(index) | uint32_t{map.r[i]} << 8 | uint32_t{map.g[i]} << 16 |
           uint32_t{map.b[i]} << 24;
}

PackedMap MakePackedMap(const Colourmap& map, size_t cells) {
    const uint32_t unknown = ~PackedEntry(map, 0) & 0xFFFFFF00u;
    return {std::vector<uint32_t>(cells, unknown), unknown};
}

inline uint32_t LookupPacked(Histogram& cache, PackedMap& packed, const Colourmap& map, int r, int g, int b) {
    const int cell = Cell(r >> 3, g >> 2, b >> 3);
    const uint32_t e = packed.cells[static_cast<size_t>(cell)];
    if (e != packed.unknown) [[likely]]
        return e;
    Lookup(cache, map, r, g, b);
    const int r0 = (r >> 5) << 2, g0 = (g >> 5) << 3, b0 = (b >> 5) << 2;
    for (int ir = 0; ir < 4; ++ir)
        for (int ig = 0; ig < 8; ++ig)
            for (int ib = 0; ib < 4; ++ib) {
                const int c = Cell(r0 + ir, g0 + ig, b0 + ib);
                packed.cells[static_cast<size_t>(c)] = PackedEntry(map, cache[static_cast<size_t>(c)] - 1);
            }
    return packed.cells[static_cast<size_t>(cell)];
}

// The walk is one chain of dependent steps per pixel (its error feeds the
// next pixel's lookup), so the state stays in named locals, which the
// compiler keeps in registers, and an unkeyed walk has no key test.
template <bool Keyed>
void MapDitheredRows(const Buffer& in, Histogram& cache, const Colourmap& map, uint32_t transparent,
                     int transparentIndex, std::vector<uint8_t>& rgb, uint8_t* indices) {
    static const std::array<int, 511> limitTable = ErrorLimits();
    const int* limit = limitTable.data() + 255;
    PackedMap packed = MakePackedMap(map, cache.size());
    // One entry per component for each column plus a spare position at each
    // end; the current position trails the pixel by one in scan direction.
    std::vector<int16_t> errors((static_cast<size_t>(in.width) + 2) * 3, 0);
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* line = ReadRow(in.row(y), in.format, in.bytes, in.width, rgb.data());
        uint8_t* out = indices + static_cast<size_t>(y) * in.width;
        const bool back = (y & 1) != 0;
        const int dir = back ? -1 : 1;
        std::ptrdiff_t pos = back ? (in.width + 1) * 3 : 0;
        int32_t x = back ? in.width - 1 : 0;
        int cur0 = 0, cur1 = 0, cur2 = 0, pending0 = 0, pending1 = 0, pending2 = 0;
        int previous0 = 0, previous1 = 0, previous2 = 0;
        for (int32_t n = 0; n < in.width; ++n, x += dir, pos += 3 * dir) {
            const uint8_t* p = line + 3 * static_cast<size_t>(x);
            int16_t* next = &errors[static_cast<size_t>(pos + 3 * dir)];
            if constexpr (Keyed) {
                if (Join(p) == transparent) {
                    out[x] = static_cast<uint8_t>(transparentIndex);
                    next[0] = next[1] = next[2] = 0;
                    continue;
                }
            }
            const int v0 = std::clamp(p[0] + limit[(cur0 + next[0] + 8) >> 4], 0, 255);
            const int v1 = std::clamp(p[1] + limit[(cur1 + next[1] + 8) >> 4], 0, 255);
            const int v2 = std::clamp(p[2] + limit[(cur2 + next[2] + 8) >> 4], 0, 255);
            const uint32_t e = LookupPacked(cache, packed, map, v0, v1, v2);
            out[x] = static_cast<uint8_t>(e);
            const int err0 = v0 - static_cast<int>((e >> 8) & 0xFFu);
            const int err1 = v1 - static_cast<int>((e >> 16) & 0xFFu);
            const int err2 = v2 - static_cast<int>(e >> 24);
            int16_t* here = &errors[static_cast<size_t>(pos)];
            here[0] = static_cast<int16_t>(pending0 + 3 * err0);
            here[1] = static_cast<int16_t>(pending1 + 3 * err1);
            here[2] = static_cast<int16_t>(pending2 + 3 * err2);
            pending0 = previous0 + 5 * err0;
            pending1 = previous1 + 5 * err1;
            pending2 = previous2 + 5 * err2;
            previous0 = err0, previous1 = err1, previous2 = err2;
            cur0 = 7 * err0, cur1 = 7 * err1, cur2 = 7 * err2;
        }
        int16_t* last = &errors[static_cast<size_t>(pos)];
        last[0] = static_cast<int16_t>(pending0);
        last[1] = static_cast<int16_t>(pending1);
        last[2] = static_cast<int16_t>(pending2);
    }
}

void MapDithered(const Buffer& in, Histogram& cache, const Colourmap& map, uint32_t transparent,
                 int transparentIndex, std::vector<uint8_t>& rgb, uint8_t* indices) {
    if (transparent == kNoTransparentColour)
        MapDitheredRows<false>(in, cache, map, transparent, transparentIndex, rgb, indices);
    else
        MapDitheredRows<true>(in, cache, map, transparent, transparentIndex, rgb, indices);
}

}  // namespace

int QuantizePixels(const void* pixels, int format, int bytesPerPixel, int32_t width, int32_t height, int32_t pitch,
                   uint8_t* indices, uint32_t* palette, int32_t* count, uint32_t transparentColour, bool reserve,
                   bool dither, int32_t* transparentIndex) {
    if (!count) return 0;
    if (transparentIndex) *transparentIndex = -1;
    const int32_t most = reserve ? 255 : 256;
    int32_t wanted = std::clamp(*count, 1, most);
    *count = 0;
    if (!pixels || !indices || !palette || width < 1 || height < 1 || format < 0 || format > kLastColourFormat ||
        bytesPerPixel != BytesPerPixel(format) || pitch < width)
        return width < 1 || height < 1 ? 1 : 0;
    const Buffer in{static_cast<const uint8_t*>(pixels), format, bytesPerPixel, width, height,
                    static_cast<size_t>(pitch) * static_cast<size_t>(bytesPerPixel)};
    const bool keyed = transparentColour != kNoTransparentColour;
    const uint32_t key = keyed ? transparentColour & 0xFFFFFFu : kNoTransparentColour;
    try {
        if (ExactPass(in, wanted, indices, palette, count, key, transparentIndex)) return 1;
        if (keyed || reserve) wanted = std::min(wanted, 255);
        Histogram h(static_cast<size_t>(kRedCells) * kGreenCells * kBlueCells, 0);
        std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
        BuildHistogram(in, h, key, rgb);
        std::vector<ColourBox> boxes;
        MedianCut(h, wanted, boxes);
        Colourmap map;
        map.count = static_cast<int>(boxes.size());
        for (int i = 0; i < map.count; ++i) BoxColour(h, boxes[static_cast<size_t>(i)], map, i);
        int32_t total = map.count;
        int ti = -1;
        if (keyed) {
            ti = total++;
            map.r[ti] = static_cast<uint8_t>(key >> 16);
            map.g[ti] = static_cast<uint8_t>(key >> 8);
            map.b[ti] = static_cast<uint8_t>(key);
        } else if (reserve) {
            ++total;  // the black entry, cleared above
        }
        std::fill(h.begin(), h.end(), uint16_t{0});
        if (dither) MapDithered(in, h, map, key, ti, rgb, indices);
        else MapPlain(in, h, map, key, ti, rgb, indices);
        for (int32_t i = 0; i < total; ++i)
            palette[i] = uint32_t{map.r[i]} << 16 | uint32_t{map.g[i]} << 8 | map.b[i];
        *count = total;
        if (transparentIndex) *transparentIndex = ti;
        return 1;
    } catch (const std::bad_alloc&) {
        *count = 0;
        return 0;
    }
}
