// Building anims: from anim files, from still pictures (whole or cut into a
// grid of frames), from brushes and from other anims.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/argapi.h"

struct ScriptState;
struct qbAnim;
struct qbAnimContents;
struct qbBitmap;

// The options of LoadAnim's table (or its number, the key colour).
struct qbAnimLoadOptions {
    int32_t transparency = -1;
    bool loadAlpha = false;
    bool loadTransparency = false;
    bool fromDisk = false;
    bool skipLoopFrames = false;
    int32_t deinterlace = 0;
    int32_t x = 0, y = 0, width = 0, height = 0, fpr = 0, frames = 0;
    std::string loader, adapter, cache, cachedLoad;
    bool cacheAlpha = false;
};

// Reads argument idx (table or key colour) and checks the options against
// each other: ERR_WRONGUSAGE or ERR_MASKNALPHA.
int ReadAnimLoadOptions(ScriptState* L, int idx, qbAnimLoadOptions* o);
// Builds the anim of the file under an automatic id (the frames, or before
// the first display their pixels). 0 or the first error; nothing made then.
int BuildAnimFromFile(ScriptState* L, const char* fileName, const qbAnimLoadOptions& o, qbAnim** out);
// The frames of the grid cut out of the pictures (any may be null but the
// bitmap) into contents (frames, size, count). A grid error, ERR_BITMAP,
// ERR_ALLOCMASK, ERR_ALLOCALPHA or ERR_MEM.
int CutAnimGrid(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t sourceWidth, int32_t sourceHeight,
                const qbAnimLoadOptions& grid, qbAnimContents* into);

int cmdLoadAnim(ScriptState* L);
int cmdCreateAnim(ScriptState* L);
