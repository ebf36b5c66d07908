// Reading what the screen shows: the current BGPic with its layers redrawn
// into a temporary picture, so that an effect can keep the old picture or
// lay a transparent picture over it.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbEffectState;

// Copies (x, y, w, h) of the current BGPic as shown (layers redrawn,
// clipped to the BGPic) into dest at (dx, dy); hideLayer leaves the
// effect's layer out. Nothing when the temporary picture cannot be made.
void CopyScreenRect(qbEffectState* state, qbBitmap* dest, int32_t x, int32_t y, int32_t w, int32_t h, int32_t dx,
                    int32_t dy, bool hideLayer);

// Every bitmap and plane the effect allocates goes through these, so that
// tests can make the n-th of them fail (0 switches that off).
qbBitmap* EffectAllocBitmap(int32_t width, int32_t height);
qbBitmap* EffectAllocMask(int32_t width, int32_t height, bool clear);
qbBitmap* EffectAllocAlpha(int32_t width, int32_t height, bool clear);
void FailEffectAllocation(int32_t nth);
// How many allocations went through since the last FailEffectAllocation.
int32_t EffectAllocationCount();

// A copy of a rectangle of a picture and its planes (each may be null),
// through the allocations above. ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA;
// nothing is handed out on an error.
int CloneEffectPicture(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t x, int32_t y, int32_t w, int32_t h,
                       qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha);
