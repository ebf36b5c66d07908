#include "transitions/stripwalks.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectpieces.h"
#include "transitions/effectstate.h"

namespace {

constexpr int32_t kHSplit = 108;
constexpr int32_t kMostStep = 30;
constexpr int32_t kSpiralSegments = 12;

struct SpiralPriv {
    int32_t pos, segment, bandX, bandY;
    int32_t columns[7], rows[6];
    int32_t counting;
};
struct SwissPriv {
    int32_t grow, previousWidth, previousHeight;
};
struct QuadRectPriv {
    int32_t previousWidth, previousHeight, grow, base, secondPair, mirror;
};
struct SplitPriv {
    int32_t outer, inner;
};
struct UpDownPriv {
    int32_t travel, pass;
};

int32_t Add(int32_t a, int64_t b) {
    return static_cast<int32_t>(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX));
}

// One band of the spiral: a column walked down or up, or a row walked
// right or left, from start to end (both piece positions).
struct Band {
    bool column;
    int32_t fixed, start, end;
    bool Forward() const { return end >= start; }
};

Band SpiralBand(const qbEffectState* s, const SpiralPriv* p, int32_t segment) {
    const int32_t W = s->width, H = s->height, step = s->speed;
    const int32_t c = W / 7 + 1, r = H / 6 + 1;
    switch (segment) {
        case 0:
            return {true, p->columns[6], 0, H - 1};
        case 1:
            return {false, p->rows[5], W - c - step, 0};
        case 2:
            return {true, p->columns[0], H - r - step, 0};
        case 3:
            return {false, p->rows[0], c, W - c};
        case 4:
            return {true, p->columns[5], r, H - r};
        case 5:
            return {false, p->rows[4], W - 2 * c - step, c};
        case 6:
            return {true, p->columns[1], H - 2 * r - step, r};
        case 7:
            return {false, p->rows[1], 2 * c, W - 2 * c};
        case 8:
            return {true, p->columns[4], 2 * r, H - 2 * r};
        case 9:
            return {false, p->rows[3], W - 3 * c - step, 2 * c};
        case 10:
            return {true, p->columns[2], 3 * r - step, 2 * r};
        default:
            return {false, p->rows[2], 3 * c, W - 3 * c};
    }
}

// A band begins at its start, or at its end when the picture is too small
// for the start to lie before it.
int32_t BandStart(const Band& b) {
    return b.Forward() ? b.start : std::max(b.start, b.end);
}

void StartSpiral(const qbEffectState* s, SpiralPriv* p) {
    const int32_t W = s->width, H = s->height, c = W / 7 + 1, r = H / 6 + 1;
    const int32_t columns[7] = {0, c, 2 * c, 0, W - 3 * c, W - 2 * c, W - c};
    const int32_t rows[6] = {0, r, 2 * r, 3 * r, H - 2 * r, H - r};
    std::copy(std::begin(columns), std::end(columns), p->columns);
    std::copy(std::begin(rows), std::end(rows), p->rows);
    p->segment = 0;
    const Band b = SpiralBand(s, p, 0);
    p->pos = BandStart(b);
    p->bandX = b.fixed;
    p->bandY = 0;
}

int SpiralFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<SpiralPriv>(s);
    if (s->frame == 0) StartSpiral(s, p);
    const bool counting = p->counting;
    if (!counting) BeginEffectFrame(s);
    const int32_t W = s->width, H = s->height, step = s->speed, c = W / 7 + 1, r = H / 6 + 1;
    const Band b = SpiralBand(s, p, p->segment);
    if (!counting) {
        if (b.column) DrawEffectPiece(s, b.fixed, p->pos, c, step);
        else DrawEffectPiece(s, p->pos, b.fixed, step, r);
    }
    if (p->pos == b.end) {
        if (p->segment == kSpiralSegments - 1) {
            *done = 1;
        } else {
            const Band next = SpiralBand(s, p, ++p->segment);
            p->pos = BandStart(next);
            (next.column ? p->bandX : p->bandY) = next.fixed;
        }
    } else {
        p->pos = b.Forward() ? std::min(Add(p->pos, step), b.end) : std::max(Add(p->pos, -int64_t{step}), b.end);
    }
    if (counting) {
        ++s->frame;
        return 0;
    }
    EndEffectFrame(s);
    return 0;
}

// The corner (or quadrant) sizes of a rectangle whose longer side is g,
// in the picture's proportion, at least 1.
void Proportional(const qbEffectState* s, int32_t g, int32_t* w, int32_t* h) {
    const double W = s->width, H = s->height;
    if (s->width >= s->height) {
        *w = g;
        *h = static_cast<int32_t>(std::min(g * H / W + 1.0, double(INT32_MAX)));
    } else {
        *h = g;
        *w = static_cast<int32_t>(std::min(g * W / H + 1.0, double(INT32_MAX)));
    }
    *w = std::max(*w, 1);
    *h = std::max(*h, 1);
}

// What [x, x + w) x [y, y + h) adds to the rectangle (px, py, pw, ph) that
// shares its corner at the near edges (mirrored by the flags): two pieces.
void CornerGrowth(qbEffectState* s, bool right, bool bottom, int32_t cw, int32_t ch, int32_t pw, int32_t ph) {
    const int64_t W = s->width, H = s->height;
    const int64_t x = right ? W - cw : 0, y = bottom ? H - ch : 0;
    // The columns beyond the previous width, whole height.
    const int64_t nx = right ? x : pw, nw = int64_t{cw} - pw;
    if (nw > 0) DrawEffectPiece(s, nx, y, nw, ch);
    // The rows beyond the previous height, previous width.
    const int64_t ny = bottom ? H - ch : ph, nh = int64_t{ch} - ph;
    const int64_t px = right ? W - pw : 0;
    if (nh > 0 && pw > 0) DrawEffectPiece(s, px, ny, pw, nh);
}

int SwissFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<SwissPriv>(s);
    if (s->frame == 0) *p = SwissPriv{};
    BeginEffectFrame(s);
    const int32_t M = std::max(s->width, s->height);
    p->grow = Add(p->grow, s->speed);
    if (p->grow < M / 2) {
        int32_t cw, ch;
        Proportional(s, p->grow, &cw, &ch);
        for (int corner = 0; corner < 4; ++corner)
            CornerGrowth(s, corner >= 2, corner == 1 || corner == 2, cw, ch, p->previousWidth, p->previousHeight);
        p->previousWidth = cw;
        p->previousHeight = ch;
    } else {
        DrawEffectPiece(s, 0, 0, s->width, s->height);
        *done = 1;
    }
    EndEffectFrame(s);
    return 0;
}

// The frame-shaped growth of a rectangle centred in the quadrant at
// (qx, qy), from pw x ph to rw x rh (offset ox, oy in the quadrant).
void QuadGrowth(qbEffectState* s, int64_t qx, int64_t qy, int32_t ox, int32_t oy, int32_t rw, int32_t rh, int32_t pw,
                int32_t ph) {
    const int64_t x = qx + ox, y = qy + oy;
    const int64_t sw = (int64_t{rw} - pw) / 2 + 1, sh = (int64_t{rh} - ph) / 2 + 1;
    DrawEffectPiece(s, x, y, sw, rh);
    DrawEffectPiece(s, x + rw - sw, y, sw, rh);
    if (pw > 0) {
        DrawEffectPiece(s, x + sw, y, pw, sh);
        DrawEffectPiece(s, x + sw, y + rh - sh, pw, sh);
    }
}

int QuadRectFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<QuadRectPriv>(s);
    if (s->frame == 0) *p = QuadRectPriv{};
    BeginEffectFrame(s);
    const int32_t W = s->width, H = s->height, M = std::max(W, H);
    p->grow = Add(p->grow, s->speed);
    if (p->grow >= M) {
        DrawEffectPiece(s, 0, 0, W, H);
        *done = 1;
        EndEffectFrame(s);
        return 0;
    }
    int32_t rw, rh;
    Proportional(s, p->grow - p->base, &rw, &rh);
    int32_t ox = 0, oy = 0;
    if (rw < W / 2) {
        ox = (W / 2 - rw) / 2;
        oy = (H / 2 - rh) / 2;
    } else {
        rw = W / 2;
        rh = H / 2;
    }
    const int64_t farX = W / 2 + W % 2, farY = H / 2 + H % 2;
    if (!p->secondPair) {
        QuadGrowth(s, 0, 0, ox, oy, rw, rh, p->previousWidth, p->previousHeight);
        QuadGrowth(s, farX, farY, ox, oy, rw, rh, p->previousWidth, p->previousHeight);
    } else {
        QuadGrowth(s, farX, 0, ox, oy, rw, rh, p->previousWidth, p->previousHeight);
        QuadGrowth(s, 0, farY, ox, oy, rw, rh, p->previousWidth, p->previousHeight);
    }
    p->previousWidth = rw;
    p->previousHeight = rh;
    if (!p->secondPair && p->grow >= M / 2) {
        p->base = p->grow;
        p->secondPair = p->mirror = 1;
        p->previousWidth = p->previousHeight = 0;
    }
    EndEffectFrame(s);
    return 0;
}

int SplitFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<SplitPriv>(s);
    const bool columns = s->type == kHSplit;
    const int32_t size = columns ? s->width : s->height, q = size / 4, step = s->speed;
    if (s->frame == 0) *p = SplitPriv{Add(q, step), Add(q, -int64_t{step})};
    BeginEffectFrame(s);
    p->outer = Add(p->outer, -int64_t{step});
    p->inner = std::min(Add(p->inner, step), size / 2);
    if (p->outer < 1) {
        p->outer = 0;
        *done = 1;
    }
    const int32_t second = size / 2 + size % 2;
    const auto band = [&](int64_t at, int64_t lines) {
        if (columns) DrawEffectPiece(s, at, 0, lines, s->height);
        else DrawEffectPiece(s, 0, at, s->width, lines);
    };
    for (int64_t at : {int64_t{p->outer}, int64_t{p->inner}, int64_t{p->outer} + second, int64_t{p->inner} + second})
        band(at, step);
    // The line between the halves of an odd size belongs to neither: the
    // last frame puts it down, or the picture would end with a seam.
    if (*done && size % 2) band(size / 2, 1);
    EndEffectFrame(s);
    return 0;
}

// The column pairs of the four passes: the one filled downwards first.
constexpr int32_t kDownColumns[4] = {0, 3, 4, 7};
constexpr int32_t kUpColumns[4] = {1, 2, 5, 6};

int UpDownFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<UpDownPriv>(s);
    if (s->frame == 0) *p = UpDownPriv{0, -1};
    BeginEffectFrame(s);
    const int32_t W = s->width, H = s->height, step = s->speed, cw = W / 8 + 1;
    const int32_t pass = p->travel / H, o = p->travel % H;
    if (pass >= 4) {
        DrawEffectPiece(s, 0, 0, W, H);
        *done = 1;
    } else {
        const int64_t down = int64_t{kDownColumns[pass]} * cw, up = int64_t{kUpColumns[pass]} * cw;
        const int64_t tall = int64_t{step} + 2;
        if (pass != p->pass) {
            DrawEffectPiece(s, down, 0, cw, tall);
            DrawEffectPiece(s, up, int64_t{H} - step - 1, cw, tall);
            p->pass = pass;
        }
        DrawEffectPiece(s, down, o, cw, tall);
        DrawEffectPiece(s, up, std::max<int64_t>(int64_t{H} - o - step, 1) - 1, cw, tall);
    }
    p->travel = Add(p->travel, step);
    EndEffectFrame(s);
    return 0;
}

int32_t LargerSide(const qbEffectState* s) {
    return std::max(s->width, s->height);
}

int32_t WalkStep(const qbEffectState* s, int32_t a, int32_t b, int32_t c) {
    return std::clamp(SpeedFromSize(s->speed, LargerSide(s), a, b, c), 1, kMostStep);
}

}  // namespace

int RenderSpiral(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 ? SpiralFrame(s, done) : 0;
    auto* p = AllocEffectPriv<SpiralPriv>(s);
    if (!p) return ERR_MEM;
    switch (s->speed) {
        case kNormalSpeed:
            s->speed = 10;
            break;
        case kFastSpeed:
            s->speed = 15;
            break;
        case kSlowSpeed:
            s->speed = 5;
            break;
        default:
            s->speed = std::clamp(s->speed, 1, kMostStep);
            break;
    }
    // The frames are counted by walking the bands once without drawing.
    p->counting = 1;
    s->frame = 0;
    int finished = 0;
    while (!finished) SpiralFrame(s, &finished);
    s->frameCount = s->frame;
    s->frame = 0;
    p = EffectPriv<SpiralPriv>(s);
    *p = SpiralPriv{};
    return 0;
}

int RenderSwiss(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 ? SwissFrame(s, done) : 0;
    if (!AllocEffectPriv<SwissPriv>(s)) return ERR_MEM;
    s->speed = WalkStep(s, 120, 60, 240);
    s->frameCount = FrameCountFor(LargerSide(s) / 2, s->speed, 1);
    return 0;
}

int RenderQuadRect(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 ? QuadRectFrame(s, done) : 0;
    if (!AllocEffectPriv<QuadRectPriv>(s)) return ERR_MEM;
    s->speed = WalkStep(s, 120, 60, 240);
    s->frameCount = FrameCountFor(LargerSide(s), s->speed, 1);
    return 0;
}

int RenderSplit(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 ? SplitFrame(s, done) : 0;
    if (!AllocEffectPriv<SplitPriv>(s)) return ERR_MEM;
    s->speed = WalkStep(s, 120, 60, 240);
    const int32_t size = s->type == kHSplit ? s->width : s->height;
    s->frameCount = FrameCountFor(Add(size / 4, s->speed), s->speed, 1);
    return 0;
}

int RenderUpDown(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 ? UpDownFrame(s, done) : 0;
    if (!AllocEffectPriv<UpDownPriv>(s)) return ERR_MEM;
    s->speed = WalkStep(s, 60, 30, 120);
    s->frameCount =
        FrameCountFor(static_cast<int32_t>(std::min<int64_t>(4 * int64_t{s->height}, INT32_MAX)), s->speed, 0);
    return 0;
}
