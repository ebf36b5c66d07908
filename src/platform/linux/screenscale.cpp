// The hot path of a full screen's present: a rectangle of the virtual
// screen scaled into the desktop window's surface. Nearest pixels copy a
// destination row once per source row and repeat it; smooth pixels
// interpolate each source row across once (cached while the next rows
// need it) and then blend two such rows per destination row, which is the
// bilinear formula top = a + ((b - a) x fx >> 16), bottom likewise, result =
// top + ((bottom - top) x fy >> 16), in a form the compiler vectorises.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;
constexpr int kFullLevel = 256;

// Channels of a horizontally interpolated source row, one plane each.
struct SpreadRow {
    int source = -1;
    std::vector<int32_t> r, g, b;
    void Resize(size_t n) {
        r.resize(n);
        g.resize(n);
        b.resize(n);
    }
};

void Spread(const uint32_t* from, const int* columns, const int* nexts, const int32_t* fractions, int count,
            SpreadRow& out) {
    int32_t* r = out.r.data();
    int32_t* g = out.g.data();
    int32_t* b = out.b.data();
    for (int x = 0; x < count; ++x) {
        const uint32_t p = from[columns[x]], q = from[nexts[x]];
        const int32_t f = fractions[x];
        const int32_t pr = (p >> 16) & 0xFF, pg = (p >> 8) & 0xFF, pb = p & 0xFF;
        r[x] = pr + ((((static_cast<int32_t>(q >> 16) & 0xFF) - pr) * f) >> 16);
        g[x] = pg + ((((static_cast<int32_t>(q >> 8) & 0xFF) - pg) * f) >> 16);
        b[x] = pb + ((((static_cast<int32_t>(q) & 0xFF) - pb) * f) >> 16);
    }
}

inline uint32_t BlendOne(int32_t tr, int32_t tg, int32_t tb, int32_t br, int32_t bg, int32_t bb, int32_t fy) {
    const int32_t r = tr + (((br - tr) * fy) >> 16);
    const int32_t g = tg + (((bg - tg) * fy) >> 16);
    const int32_t b = tb + (((bb - tb) * fy) >> 16);
    return kOpaque | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}

// The planes and the output never overlap: the loop becomes vector code.
void Blend(const SpreadRow& top, const SpreadRow& bottom, int32_t fy, int count, uint32_t* __restrict out) {
    const int32_t* __restrict tr = top.r.data();
    const int32_t* __restrict tg = top.g.data();
    const int32_t* __restrict tb = top.b.data();
    const int32_t* __restrict br = bottom.r.data();
    const int32_t* __restrict bg = bottom.g.data();
    const int32_t* __restrict bb = bottom.b.data();
    for (int x = 0; x < count; ++x) out[x] = BlendOne(tr[x], tg[x], tb[x], br[x], bg[x], bb[x], fy);
}

void ApplyLevel(uint32_t* row, int count, int level) {
    const auto l = static_cast<uint32_t>(level);
    for (int x = 0; x < count; ++x) {
        const uint32_t p = row[x];
        row[x] = kOpaque | ((((p & 0x00FF00FFu) * l) >> 8) & 0x00FF00FFu) | ((((p & 0x0000FF00u) * l) >> 8) & 0x0000FF00u);
    }
}

bool IsXRGB(const SDL_Surface* s) {
    return s->format->BytesPerPixel == 4 && s->format->Rmask == 0x00FF0000u && s->format->Gmask == 0x0000FF00u &&
           s->format->Bmask == 0x000000FFu;
}

}  // namespace

void ScaleScreenRect(const Desktop& d, SDL_Surface* target, const ScreenPlacement& p, const SDL_Rect& r, bool smooth,
                     int level) {
    if (r.w <= 0 || r.h <= 0 || d.width <= 0 || d.height <= 0) return;
    const bool direct = IsXRGB(target);
    const auto width = static_cast<size_t>(r.w);
    std::vector<int> columns(width), nexts;
    std::vector<int32_t> fractions;
    // 16.16 source positions of the smooth kernel.
    const int64_t stepX = (int64_t{d.width} << 16) / p.width, stepY = (int64_t{d.height} << 16) / p.height;
    if (smooth) {
        nexts.resize(width);
        fractions.resize(width);
    }
    for (int x = 0; x < r.w; ++x) {
        const int dx = r.x - p.x + x;
        if (smooth) {
            const int64_t pos = dx * stepX;
            columns[static_cast<size_t>(x)] = std::min(static_cast<int>(pos >> 16), d.width - 1);
            nexts[static_cast<size_t>(x)] = std::min(columns[static_cast<size_t>(x)] + 1, d.width - 1);
            fractions[static_cast<size_t>(x)] = static_cast<int32_t>(pos & 0xFFFF);
        } else {
            columns[static_cast<size_t>(x)] = NearestSource(dx, d.width, p.width);
        }
    }
    std::vector<uint32_t> row(width);
    SpreadRow spread[2];
    if (smooth) {
        spread[0].Resize(width);
        spread[1].Resize(width);
    }
    // The spread row of a source row; the slot replaced is never the one
    // holding `keep`.
    const auto spreadOf = [&](int source, int keep) -> const SpreadRow& {
        for (SpreadRow& s : spread)
            if (s.source == source) return s;
        SpreadRow& s = spread[0].source == keep ? spread[1] : spread[0];
        s.source = source;
        Spread(d.screen.data() + static_cast<ptrdiff_t>(source) * d.width, columns.data(), nexts.data(),
               fractions.data(), r.w, s);
        return s;
    };
    const size_t rowBytes = width * static_cast<size_t>(target->format->BytesPerPixel);
    uint8_t* previous = nullptr;
    int previousKey = -1;
    for (int y = 0; y < r.h; ++y) {
        const int dy = r.y - p.y + y;
        auto* to = static_cast<uint8_t*>(target->pixels) + static_cast<ptrdiff_t>(r.y + y) * target->pitch +
                   static_cast<ptrdiff_t>(r.x) * target->format->BytesPerPixel;
        uint32_t* out = direct ? reinterpret_cast<uint32_t*>(to) : row.data();
        if (smooth) {
            const int64_t pos = dy * stepY;
            const int sy = std::min(static_cast<int>(pos >> 16), d.height - 1);
            const int32_t fy = static_cast<int32_t>(pos & 0xFFFF);
            const SpreadRow& top = spreadOf(sy, -2);
            const SpreadRow& bottom = spreadOf(std::min(sy + 1, d.height - 1), sy);
            Blend(top, bottom, fy, r.w, out);
        } else {
            const int sy = NearestSource(dy, d.height, p.height);
            // The rows that show the same source row are copies of the first.
            if (sy == previousKey) {
                std::memcpy(to, previous, rowBytes);
                continue;
            }
            const uint32_t* from = d.screen.data() + static_cast<ptrdiff_t>(sy) * d.width;
            for (int x = 0; x < r.w; ++x) out[x] = from[columns[static_cast<size_t>(x)]];
            previousKey = sy;
            previous = to;
        }
        if (level < kFullLevel) ApplyLevel(out, r.w, level);
        if (!direct)
            SDL_ConvertPixels(r.w, 1, SDL_PIXELFORMAT_ARGB8888, row.data(), r.w * 4, target->format->format, to,
                              target->pitch);
    }
}

}  // namespace sdl_backend
