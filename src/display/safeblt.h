// SafeBlt, the general blit every drawing command ends in: clipping, the
// current display's output selection, sprites, layers and the refresh.
#pragma once

#include <cstdint>

#include "imaging/blit.h"

struct ScriptState;

// SafeBlt flags.
enum : uint32_t {
    kSafeBltIgnoreClip = 1,
    kSafeBltNoSprites = 2,
    kSafeBltSpriteBuffer = 4,
    kSafeBltComposeLayers = 8,
    kSafeBltDrawOnly = 16,
    kSafeBltNoRefresh = 32,
    kSafeBltChooseBuffer = 64,
    kSafeBltDirect = 128,
};

// Clips a blit in place against the clip rectangle (when given and useClip)
// or against 0 and the right and bottom limits, then against the source.
void ClipBlitRect(const qbClipRegion* clip, int32_t* srcX, int32_t* srcY, int32_t* dstX, int32_t* dstY,
                  int32_t* width, int32_t* height, int32_t srcWidth, int32_t srcHeight, int32_t dstRight,
                  int32_t dstBottom, bool useClip);

struct qbSafeBlt {
    qbBitmap* source = nullptr;
    int32_t srcX = 0;
    int32_t srcY = 0;
    qbBitmap* destination = nullptr;  // null: the current display
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t srcWidth = 0;
    int32_t srcHeight = 0;
    int32_t dstWidth = 0;
    int32_t dstHeight = 0;
    uint32_t flags = 0;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    const qbClipRegion* clip = nullptr;
};
void SafeBlt(ScriptState* L, const qbSafeBlt& blit);
// Frees the scratch plane SafeBlt keeps between calls.
void FreeSafeBltScratch();

// The draw state SafeBlt reads for planes of a selected target: the mask mode
// and the alpha intensity (-1 none).
int32_t GetDrawMaskMode();
void SetDrawMaskMode(int32_t mode);
int32_t GetDrawAlphaIntensity();
void SetDrawAlphaIntensity(int32_t intensity);
