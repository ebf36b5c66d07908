// The path of a move: the direction and axis steps planned from the
// object's shape, and the positions of each frame through the travel, the
// overshoot phases, the waves and the arcs.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "core/numbers.h"
#include "draw/movement.h"

namespace {

constexpr int32_t kSineAmplitude = 50;
constexpr int32_t kCurveHeight = 150;
constexpr double kSineSpacing = 0.08;

bool IsWave(int32_t fx) { return fx == kMoveSine || fx == kMoveBigSine; }
bool IsCurve(int32_t fx) { return fx == kMoveLowerCurve || fx == kMoveUpperCurve; }

int32_t Toward(int32_t pos, int32_t target, int32_t step) {
    const int64_t p = pos, t = target;
    if (p < t) return static_cast<int32_t>(std::min(p + step, t));
    return static_cast<int32_t>(std::max(p - step, t));
}

// +1 when the axis travels toward larger values, -1 toward smaller, 0 not.
int32_t SignX(int32_t direction) {
    if (direction >= 1 && direction <= 3) return 1;
    if (direction >= 5) return -1;
    return 0;
}
int32_t SignY(int32_t direction) {
    if (direction >= 3 && direction <= 5) return 1;
    if (direction == 7 || direction <= 1) return -1;
    return 0;
}

// The overshoot point of a phase, in units (initial steps) past the target.
constexpr int32_t kWidestSwing = 16;
int32_t PhasePoint(int32_t phase, int32_t target, int32_t sign, int32_t unit) {
    static constexpr int32_t kUnits[9] = {0, kWidestSwing, -8, 4, -2, 1, 0, 8, 0};
    const int64_t p = int64_t{target} + int64_t{sign} * kUnits[phase] * unit;
    return static_cast<int32_t>(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
}

int32_t Rounded10th(int32_t step) { return std::max<int32_t>(1, static_cast<int32_t>((int64_t{step} + 5) / 10)); }

int32_t Direction(int64_t dx, int64_t dy) {
    if (dx == 0) return dy < 0 ? 0 : 4;
    if (dy == 0) return dx > 0 ? 2 : 6;
    if (dx > 0) return dy < 0 ? 1 : 3;
    return dy > 0 ? 5 : 7;
}

// The minor axis of a diagonal gets the remainder's extra pixels only when
// the object is strictly longer along the other axis.
bool ExtraOnX(const qbMove& m) { return (m.direction & 1) && m.height > m.width; }
bool ExtraOnY(const qbMove& m) { return (m.direction & 1) && m.width > m.height; }

// Phase 0 of one axis: the step (SMOOTHOUT shrinking it near the target)
// and the remainder's pixel, clamped at the target. The slowed step stops
// at its decrement, a tenth of the full step: walking the last stretch a
// pixel a frame would take a huge speed hours, while steps of up to 14
// (a decrement of 1) slow down exactly as before.
int32_t TravelAxis(int32_t pos, int32_t target, int32_t* step, int32_t slow, int32_t dec, bool extra, const qbMove& m) {
    if (pos == target) return pos;
    if (m.fx == kMoveSmoothOut && std::llabs(int64_t{target} - pos) <= slow) *step = std::max(dec, *step - dec);
    int32_t s = *step;
    if (extra && m.bresCounter < m.bresRemainder) ++s;
    return Toward(pos, target, s);
}

void HalveSteps(qbMove* m) {
    m->speed = std::max(1, m->speed - m->speed / 2);
    m->stepY = std::max(1, m->stepY - m->stepY / 2);
}

void Arrive(qbMove* m, bool* arrived) {
    m->x = m->targetX;
    m->y = m->targetY;
    *arrived = true;
}

void Overshoot(qbMove* m, bool* arrived) {
    const int32_t sx = SignX(m->direction), sy = SignY(m->direction);
    const int32_t px = PhasePoint(m->phase, m->targetX, sx, m->initialStep);
    const int32_t py = PhasePoint(m->phase, m->targetY, sy, m->initialStepY);
    if (sx) m->x = Toward(m->x, px, m->speed);
    if (sy) m->y = Toward(m->y, py, m->stepY);
    if ((sx && m->x != px) || (sy && m->y != py)) return;
    switch (m->phase) {
        case 6:
        case 8: Arrive(m, arrived); return;
        case 5:
            m->speed = m->stepY = 1;
            break;
        default: HalveSteps(m); break;
    }
    ++m->phase;
}

void Wave(qbMove* m, bool* arrived) {
    if (m->phase == 9) {
        Arrive(m, arrived);
        return;
    }
    const int32_t before = m->y;
    m->x = Toward(m->x, m->targetX, m->speed);
    if (m->x == m->targetX) {
        m->phase = 9;
        m->y = m->targetY;
        if (std::llabs(int64_t{before} - m->targetY) <= m->speed) Arrive(m, arrived);
        return;
    }
    m->y = static_cast<int32_t>(m->sine[m->sineIndex]);
    m->sineIndex = (m->sineIndex + m->sineStep) % kSineTableSize;
}

void Curve(qbMove* m, bool* arrived) {
    m->x = Toward(m->x, m->targetX, m->speed);
    m->bresCounter = static_cast<int32_t>(std::min<int64_t>(int64_t{m->bresCounter} + m->speed, INT32_MAX));
    if (m->x == m->targetX) {
        Arrive(m, arrived);
        return;
    }
    const double lift = std::sin((m->bresCounter + 1.0) * m->sine[0]) * kCurveHeight;
    const double y = m->fx == kMoveLowerCurve ? m->targetY + lift : m->targetY - lift;
    m->y = ClampToInt32(y);
}

}  // namespace

void PlanMove(qbMove* m, int32_t bgpicWidth, int32_t bgpicHeight) {
    const int64_t dx = int64_t{m->targetX} - m->x, dy = int64_t{m->targetY} - m->y;
    const int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    m->direction = Direction(dx, dy);
    m->stepY = m->speed;
    if ((m->direction & 1) != 0) {
        // The object's shape picks the axis that takes whole steps.
        const bool majorY = m->width <= m->height;
        const int64_t major = majorY ? ady : adx, minor = majorY ? adx : ady;
        const int64_t steps = std::max<int64_t>(1, (major + m->speed - 1) / m->speed);
        int64_t minorStep = minor / steps;
        m->bresRemainder = static_cast<int32_t>(minor % steps);
        // A square object gets no remainder pixels: a minor step of 0 would
        // never arrive.
        if (minorStep == 0 && m->width == m->height) minorStep = 1;
        const auto s = static_cast<int32_t>(std::min<int64_t>(minorStep, INT32_MAX));
        if (majorY)
            m->speed = s;
        else
            m->stepY = s;
    } else if (m->direction == 2 || m->direction == 6) {
        const int32_t speed = m->speed;
        if (IsWave(m->fx)) {
            const double amplitude = m->fx == kMoveSine ? kSineAmplitude : bgpicHeight / 2.0;
            for (int k = 0; k < kSineTableSize; ++k)
                m->sine[k] = std::sin(kSineSpacing * (k + 1)) * amplitude + m->y;
            m->sineStep = std::max(speed / 4, 1);
            const int64_t frames = (adx + speed - 1) / speed;
            const int64_t used = frames % kSineTableSize * m->sineStep % kSineTableSize;
            // The start is an index into the table: 79 itself wraps to 0.
            m->sineIndex = static_cast<int32_t>((kSineTableSize - used) % kSineTableSize);
        } else if (IsCurve(m->fx)) {
            m->sine[0] = std::numbers::pi / static_cast<double>(adx);
        }
    }
    // The overshoot is counted in steps and its last one walks back a pixel
    // a frame, so a huge speed would bounce for hours: the unit is held to
    // what keeps the widest swing (16 units) within the picture.
    const int32_t unitCap = std::max(1, std::max(bgpicWidth, bgpicHeight) / kWidestSwing);
    m->initialStep = std::min(m->speed, unitCap);
    m->initialStepY = std::min(m->stepY, unitCap);
    m->slowX = static_cast<int32_t>(std::min<int64_t>(int64_t{6} * m->speed, INT32_MAX));
    m->slowY = static_cast<int32_t>(std::min<int64_t>(int64_t{6} * m->stepY, INT32_MAX));
    m->decX = Rounded10th(m->speed);
    m->decY = Rounded10th(m->stepY);
}

void AdvanceMove(qbMove* m, bool* arrived) {
    *arrived = false;
    const bool horizontal = m->direction == 2 || m->direction == 6;
    if (m->phase == 0 || m->phase == 9) {
        if (horizontal && IsWave(m->fx)) return Wave(m, arrived);
        if (horizontal && IsCurve(m->fx)) return Curve(m, arrived);
    }
    if (m->phase >= 1 && m->phase <= 8) return Overshoot(m, arrived);
    m->x = TravelAxis(m->x, m->targetX, &m->speed, m->slowX, m->decX, ExtraOnX(*m), *m);
    m->y = TravelAxis(m->y, m->targetY, &m->stepY, m->slowY, m->decY, ExtraOnY(*m), *m);
    ++m->bresCounter;
    if (m->x != m->targetX || m->y != m->targetY) return;
    if (m->fx == kMoveBounce) {
        m->phase = 1;
    } else if (m->fx == kMoveDamped) {
        m->speed = std::max(1, m->speed - m->speed / 4);
        m->stepY = std::max(1, m->stepY - m->stepY / 4);
        m->phase = 7;
    } else {
        *arrived = true;
    }
}
