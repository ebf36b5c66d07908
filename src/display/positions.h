// Position constants: symbolic coordinates (CENTER, LEFT, RIGHTOUT ...) that
// every placing command resolves into pixels against a container.
#pragma once

#include <cstdint>

// Each constant covers the values within kPositionBand of it; the distance
// from the constant is an offset in pixels. kPositionCenter is display.h's.
enum : int32_t {
    kPositionLeft = -90000,
    kPositionRight = -80000,
    kPositionTop = -70000,
    kPositionBottom = -60000,
    kPositionLeftOut = -50000,
    kPositionRightOut = -40000,
    kPositionTopOut = -30000,
    kPositionBottomOut = -20000,
};
constexpr int32_t kPositionBand = 4999;

// The x (or y) of the object's anchor point in the container. A container
// of 0 is the current output: its active clip region (whose x or y is then
// the origin) or else its whole width or height. anchor is the fraction of
// the object's size (0..1) that the result points at. Values outside the
// bands are ordinary coordinates and come back unchanged; results beyond 32
// bits clamp.
int32_t ResolveSpecialX(int32_t x, int32_t size, int32_t containerWidth, double anchorX);
int32_t ResolveSpecialY(int32_t y, int32_t size, int32_t containerHeight, double anchorY);
