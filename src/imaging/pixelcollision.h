// Pixel-exact overlap of two objects through their masks, alpha channels
// and clip masks, for layer, brush and sprite collisions.
#pragma once

#include <cstdint>

#include "imaging/geometry.h"
#include "imaging/kernelisa.h"

struct qbBitmap;

// One object: its box, and the planes that say where it is opaque. A plane
// is read with its pixel (0, 0) at (planeX, planeY) in the same coordinates
// as the box (the box's corner less the source offset); the clip mask has
// its own origin. Pixels a plane does not cover are transparent.
struct qbCollider {
    qbRect box;
    const qbBitmap* mask = nullptr;   // a set bit is opaque
    const qbBitmap* alpha = nullptr;  // a non-zero byte is opaque
    int32_t planeX = 0, planeY = 0;
    const qbBitmap* clip = nullptr;  // a mask
    int32_t clipX = 0, clipY = 0;
};

// Whether the boxes overlap (touching edges do not).
bool BoxesOverlap(const qbRect& a, const qbRect& b);

// 1 when an opaque pixel of a lies on an opaque pixel of b. An object with
// neither mask nor alpha channel is opaque all over and so adds no test;
// when no plane at all takes part, overlapping boxes collide.
int TestPixelCollision(const qbCollider& a, const qbCollider& b);
// The same with the vector scans of one instruction set (Portable: the word
// scan alone), so each can be held to the others.
int TestPixelCollisionWith(const qbCollider& a, const qbCollider& b, KernelIsa isa);
