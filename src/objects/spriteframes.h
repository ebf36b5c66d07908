// The frames of new sprites: cut as a grid from a picture or a brush, read
// from a list of other sprites, or copied from another sprite.
#pragma once

#include <cstdint>
#include <vector>

#include "core/argapi.h"

struct ScriptState;
struct qbBitmap;
struct qbSprite;
struct qbPendingSpriteFrames;

// A grid of frames: when grid is false the whole source is one frame.
struct qbSpriteGrid {
    bool grid = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t frames = 0;
    int32_t fpr = 0;  // frames per row; below 1 means all in one row
    int32_t x = 0;
    int32_t y = 0;
};

// Checks the grid against a source of the size and lists the top-left
// corner of each frame, row by row. ERR_WRONGUSAGE, ERR_NEGCOORDS or
// ERR_BRUSHSIZE.
int PlanSpriteGrid(const qbSpriteGrid& grid, int32_t sourceWidth, int32_t sourceHeight,
                   std::vector<std::pair<int32_t, int32_t>>* cells, int32_t* frameWidth, int32_t* frameHeight);
// Copies the frames of the grid out of the bitmap and its planes into the
// sprite (size and frame count set). ERR_BITMAP, ERR_ALLOCMASK,
// ERR_ALLOCALPHA, ERR_MEM or a grid error; the sprite gets nothing then.
int CutSpriteFrames(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height,
                    const qbSpriteGrid& grid, qbSprite* into);
// Makes the frames that waited for the first display.
int BuildPendingSpriteFrames(qbSprite* sprite);
// A sprite made of the listed sprites (none of them linked, all of one
// size): ERR_WRONGUSAGE, ERR_SPRITELINK, ERR_WRONGSPRITESIZE or a lookup
// error.
int LinkSpriteFrames(ScriptState* L, const std::vector<ObjectID>& ids, qbSprite* into);
// A copy's frames: the same links, or clones of every frame. ERR_MEM on
// any failure, nothing kept then.
int CopySpriteFrames(const qbSprite* source, qbSprite* into);
