#include "transitions/effecthelpers.h"

#include <algorithm>
#include <cstring>

#include "display/bgpics.h"
#include "display/display.h"
#include "imaging/blit.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "transitions/effectrandom.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"

int EffectWorksOnObjects(int32_t type) {
    if (type >= 74 && type <= 81) return 0;
    if (type >= 101 && type <= 104) return 0;
    if (type == 111 || type == 112) return 0;
    if (type >= 118 && type <= 131) return 0;
    return type == 133 ? 0 : 1;
}

int IsBlendEffect(int32_t type) { return (type >= 115 && type <= 117) || (type >= 134 && type <= 138) ? 1 : 0; }

int32_t PickRandomEffect(int restrict) {
    for (;;) {
        const auto n = static_cast<int32_t>(EffectDrand() * 141.0);
        if (restrict && !EffectWorksOnObjects(n)) continue;
        if (n == kUnnamedEffect || n >= kRandomEffect) continue;
        return n;
    }
}

int32_t SpeedFromSize(int32_t speed, int32_t size, int32_t a, int32_t b, int32_t c) {
    int32_t step = speed;
    if (speed == kNormalSpeed) step = size / a;
    else if (speed == kFastSpeed) step = size / b;
    else if (speed == kSlowSpeed) step = size / c;
    // A step past any picture's side does what the whole side does; bounded,
    // the positions an effect adds it to cannot wrap.
    return std::clamp(step, 1, kMaxEffectStep);
}

int32_t FrameCountFor(int32_t distance, int32_t step, int exact) {
    if (distance < 1) return 1;
    step = std::max(step, 1);
    const int32_t n = static_cast<int32_t>((int64_t{distance} + step - 1) / step);
    return exact ? n : n + 1;
}

void ClipAndCopyRect(qbBitmap* src, int32_t sx, int32_t sy, qbBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
    if (!src || !dst) return;
    int64_t x0 = sx, y0 = sy, x1 = dx, y1 = dy, ww = w, hh = h;
    if (x0 < 0) { ww += x0; x1 -= x0; x0 = 0; }
    if (y0 < 0) { hh += y0; y1 -= y0; y0 = 0; }
    if (x1 < 0) { ww += x1; x0 -= x1; x1 = 0; }
    if (y1 < 0) { hh += y1; y0 -= y1; y1 = 0; }
    if (ww < 0 || hh < 0) return;
    ww = std::min({ww, srcWidth - x0, dstWidth - x1});
    hh = std::min({hh, srcHeight - y0, dstHeight - y1});
    if (ww < 1 || hh < 1) return;
    CopyBitmapRect(src, static_cast<int32_t>(x0), static_cast<int32_t>(y0), dst, static_cast<int32_t>(x1),
                   static_cast<int32_t>(y1), static_cast<int32_t>(ww), static_cast<int32_t>(hh));
}

void RestoreOldPicture(qbEffectState* s, int32_t sx, int32_t sy, qbBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                       int32_t h) {
    if (!dst) return;
    if (s->background) {
        ClipAndCopyRect(s->background, sx, sy, dst, dx, dy, w, h, s->width, s->height, dst->width, dst->height);
        return;
    }
    CopyScreenRect(s, dst, SaturatingAdd(s->x, sx), SaturatingAdd(s->y, sy), w, h, dx, dy, true);
}

void FillEffectMask(qbBitmap* mask, int32_t x, int32_t y, int32_t w, int32_t h, bool visible) {
    if (!mask || mask->kind != kBitmapKindMask || !mask->plane) return;
    qbBitmapPlane& p = *mask->plane;
    const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
    const auto x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + w, p.width));
    const auto y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + h, p.height));
    if (x1 <= x0 || y1 <= y0) return;
    // Pixel 0 is a byte's top bit; bits past the picture's width stay.
    const int32_t b0 = x0 >> 3, b1 = (x1 - 1) >> 3;
    auto first = static_cast<uint8_t>(0xFFu >> (x0 & 7));
    const auto last = static_cast<uint8_t>(0xFFu << (7 - ((x1 - 1) & 7)));
    if (b0 == b1) first &= last;
    const auto apply = [visible](uint8_t& byte, uint8_t bits) {
        byte = static_cast<uint8_t>(visible ? byte | bits : byte & ~bits);
    };
    for (int32_t row = y0; row < y1; ++row) {
        uint8_t* r = p.data + static_cast<size_t>(row) * p.rowBytes;
        apply(r[b0], first);
        if (b1 == b0) continue;
        if (b1 > b0 + 1) std::memset(r + b0 + 1, visible ? 0xFF : 0, static_cast<size_t>(b1 - b0 - 1));
        apply(r[b1], last);
    }
}
