#include "transitions/gates.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "objects/layers.h"
#include "transitions/effectasync.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"
#include "transitions/effectwhole.h"

namespace {

// An opening gate keeps its far edge first, as SetGateEdges writes it.
struct OpenGatePriv {
    int32_t b;
    int32_t a;
};
struct CloseGatePriv {
    int32_t first, second;  // vertical: a, b; horizontal: b, a
};
struct PushPriv {
    int32_t n;
};

constexpr int32_t kEmuOldRedrawn = 1, kEmuNewRedrawn = 2;

// The axis a gate works along: columns for the vertical gates, rows for the
// horizontal ones. Places and sizes along it become rectangles.
struct Axis {
    bool rows;
    int32_t W, H;
    int32_t Size() const { return rows ? H : W; }
    // (along, length) of the axis as a rectangle across the whole picture.
    void Piece(qbEffectState* s, qbBitmap* src, int32_t from, int32_t length, int32_t to, uint32_t flags) const {
        if (rows) DrawMovedPiece(s, src, W, H, 0, from, W, length, 0, to, flags);
        else DrawMovedPiece(s, src, W, H, from, 0, length, H, to, 0, flags);
    }
};

Axis GateAxis(const qbEffectState* s, bool rows) { return Axis{rows, s->width, s->height}; }

// A jump (seek) to a frame shows the layer as a frame does.
void ClearLayerFlags(qbEffectState* s) {
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
}

// The old picture whole into a real-time layer's image, unseen: the close
// gates and the turn downs uncover it by covering it.
void OldPictureIntoLayer(qbEffectState* s) {
    if (!s->realtime) return;
    DrawMovedPiece(s, s->background, s->width, s->height, 0, 0, s->width, s->height, 0, 0, kStripNoShow);
}

int InitGateStep(qbEffectState* s, int32_t size) {
    s->speed = SpeedFromSize(s->speed, size, 80, 30, 200);
    return 0;
}

int InitCloseGate(qbEffectState* s, bool rows) {
    if (!AllocEffectPriv<CloseGatePriv>(s)) return ERR_MEM;
    const Axis axis = GateAxis(s, rows);
    InitGateStep(s, axis.Size());
    s->frameCount = FrameCountFor(axis.Size() / 2 - s->speed, s->speed, 0);
    OldPictureIntoLayer(s);
    return 0;
}

// The new picture's halves slide in from both edges until they meet.
int CloseGateFrame(qbEffectState* s, int* done, bool rows) {
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<CloseGatePriv>(s);
    const Axis axis = GateAxis(s, rows);
    const int32_t size = axis.Size(), half = size / 2, rest = size - half, step = s->speed;
    int32_t& a = rows ? p->second : p->first;
    int32_t& b = rows ? p->first : p->second;
    const bool seek = s->phase == 2;
    if (seek) {
        axis.Piece(s, s->background, 0, size, 0, MovedPieceFlags(s) | kStripNoShow);
        ClearLayerFlags(s);
        a = step * s->frame;
        b = size - step * s->frame;
    } else {
        if (s->frame == 0) a = step, b = size - step;
        ClearLayerFlags(s);
    }
    if (!(rest < b && half > a)) b = rest, a = half;
    bool redrawn = false;
    if (s->bgpicEmu && (RefreshEmulatedBGPic(s, 3) & kEmuOldRedrawn)) {
        axis.Piece(s, s->background, a, b + 1 - a, a, MovedPieceFlags(s) | kStripNoShow);
        redrawn = true;
    }
    const uint32_t flags = MovedPieceFlags(s) | (seek || redrawn ? kStripNoShow : 0u);
    if (b == rest && a == half) {
        *done = 1;
        axis.Piece(s, s->image, 0, size, 0, flags);
    } else {
        axis.Piece(s, s->image, 0, half, a - half, flags);
        axis.Piece(s, s->image, half, rest, b, flags);
    }
    a += step;
    b -= step;
    if (seek) return 0;
    EndMovedFrame(s, redrawn);
    ++s->frame;
    return 0;
}

int InitOpenGate(qbEffectState* s, bool rows) {
    auto* p = AllocEffectPriv<OpenGatePriv>(s);
    if (!p) return ERR_MEM;
    const Axis axis = GateAxis(s, rows);
    InitGateStep(s, axis.Size());
    SetGateEdges(s, axis.Size(), 1);
    s->frameCount = FrameCountFor(p->a, s->speed, 0);
    return 0;
}

// The old picture's halves slide out to both edges over the new one.
int OpenGateFrame(qbEffectState* s, int* done, bool rows) {
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<OpenGatePriv>(s);
    const Axis axis = GateAxis(s, rows);
    const int32_t size = axis.Size(), half = size / 2, step = s->speed;
    bool whole = s->phase == 2;
    ClearLayerFlags(s);
    if (whole) SetGateEdges(s, size, s->frame);
    else if (s->frame == 0) SetGateEdges(s, size, 1);
    if (!(p->b < size && p->a > 0)) {
        p->b = size, p->a = 0;
        *done = 1;
    }
    bool redrawn = false;
    if (s->bgpicEmu && (RefreshEmulatedBGPic(s, 3) & kEmuNewRedrawn)) redrawn = whole = true;
    const uint32_t flags = MovedPieceFlags(s) | (whole ? kStripNoShow : 0u);
    const int32_t a = p->a, b = p->b;
    if (whole) axis.Piece(s, s->image, a, b + 1 - a, a, flags);
    axis.Piece(s, s->background, 0, half, a - half, flags);
    if (!whole) {
        axis.Piece(s, s->image, a, step, a, flags);
        axis.Piece(s, s->image, b - step, step, b - step, flags);
    }
    axis.Piece(s, s->background, half, size - half, b, flags);
    p->a -= step;
    p->b += step;
    if (s->phase == 2) return 0;
    EndMovedFrame(s, redrawn);
    ++s->frame;
    return 0;
}

bool PushAlongRows(int32_t type) { return type == 80 || type == 81; }

}  // namespace

void SetGateEdges(qbEffectState* s, int32_t size, int32_t n) {
    auto* p = EffectPriv<OpenGatePriv>(s);
    if (!p) return;
    const int32_t half = size - size / 2;
    const int64_t moved = int64_t{n} * s->speed;
    p->a = static_cast<int32_t>(std::max<int64_t>(half - moved, INT32_MIN));
    p->b = static_cast<int32_t>(std::min<int64_t>(size - half + moved, INT32_MAX));
}

int RenderVCloseGate(qbEffectState* s, int* done) {
    return done ? CloseGateFrame(s, done, false) : InitCloseGate(s, false);
}
int RenderHCloseGate(qbEffectState* s, int* done) {
    return done ? CloseGateFrame(s, done, true) : InitCloseGate(s, true);
}
int RenderVOpenGate(qbEffectState* s, int* done) {
    return done ? OpenGateFrame(s, done, false) : InitOpenGate(s, false);
}
int RenderHOpenGate(qbEffectState* s, int* done) {
    return done ? OpenGateFrame(s, done, true) : InitOpenGate(s, true);
}

int RenderPush(qbEffectState* s, int* done) {
    const bool rows = PushAlongRows(s->type);
    const int32_t W = s->width, H = s->height, size = rows ? H : W;
    if (!done) {
        auto* p = AllocEffectPriv<PushPriv>(s);
        if (!p) return ERR_MEM;
        s->speed = SpeedFromSize(s->speed, size, 40, 10, 100);
        p->n = s->speed;
        s->frameCount = FrameCountFor(size - s->speed, s->speed, 0);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<PushPriv>(s);
    const bool seek = s->phase == 2;
    ClearLayerFlags(s);
    if (seek) p->n = static_cast<int32_t>(std::min<int64_t>(int64_t{s->speed} * s->frame, INT32_MAX));
    else if (s->frame == 0) p->n = s->speed;
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, 3);
    if (p->n >= size) {
        p->n = size;
        *done = 1;
    }
    const int32_t n = p->n;
    int32_t nx = 0, ny = 0, ox = 0, oy = 0;
    switch (s->type) {
        case 78: nx = n - W, ox = n; break;
        case 79: nx = W - n, ox = -n; break;
        case 80: ny = n - H, oy = n; break;
        default: ny = H - n, oy = -n; break;
    }
    // Both whole, shown together at the frame's end.
    const uint32_t flags = MovedPieceFlags(s) | kStripNoShow;
    DrawMovedPiece(s, s->image, W, H, 0, 0, W, H, nx, ny, flags);
    DrawMovedPiece(s, s->background, W, H, 0, 0, W, H, ox, oy, flags);
    p->n = static_cast<int32_t>(std::min<int64_t>(int64_t{n} + s->speed, INT32_MAX));
    if (seek) return 0;
    EndMovedFrame(s, true);
    ++s->frame;
    return 0;
}
