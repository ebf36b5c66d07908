// What the brush, selection and layer code needs of anims, which live in a
// library above them: the anim library installs these when it opens; a
// part not installed leaves anims not found.
#pragma once

#include <cstdint>

#include "core/argapi.h"

struct ScriptState;
struct qbImageTriple;
struct qbSprite;

// How LoadSprite asks for the frames of an anim file.
struct qbSpriteAnimRequest {
    const char* loader = nullptr;
    const char* adapter = nullptr;
    int32_t transparency = -1;
    bool loadTransparency = false;
    bool loadAlpha = false;
    bool grid = false;  // a frame size was given
};

struct qbAnimObjectHooks {
    // New pictures of frame (1-based) that the caller owns, with the
    // anim's size and key colour. The lookup's error or ERR_ANIMFRAME.
    int (*frameImage)(ScriptState* L, ObjectID id, int32_t frame, qbImageTriple* out, int32_t* width,
                      int32_t* height, int32_t* keyColour);
    // The pictures of frame (1-based) that drawing goes into, owned by the
    // anim. kind 0 only finds them; kind 28 or 30 (first drawing into the
    // mask or alpha channel) also gives layers that show the anim their
    // copy, makes the plane when missing (fully visible or opaque) and drops
    // the other one. The lookup's error, ERR_ANIMDISK, ERR_ANIMFRAME,
    // ERR_ALLOCMASK or ERR_ALLOCALPHA.
    int (*frameTarget)(ScriptState* L, ObjectID id, int32_t frame, int32_t kind, void** record, qbImageTriple* out,
                       int32_t* width, int32_t* height);
    // Frees the anims that the script freed while layers showed them, once
    // no layer does.
    void (*sweepPending)(ScriptState* L);
    // CreateSprite from an anim: clones of all its frames into the sprite
    // (size, frame count and key colour set). The lookup's error or an
    // allocation error; the sprite gets nothing then.
    int (*intoSprite)(ScriptState* L, ObjectID id, qbSprite* into);
    // LoadSprite of an anim file: its frames into the sprite. ERR_OPENANIM2
    // for a file in no anim format (read as a picture then), ERR_NOALPHA,
    // ERR_TOOMANYARGS (a grid), ERR_LOADFRAME or the open's error.
    int (*fileIntoSprite)(ScriptState* L, const char* fileName, const qbSpriteAnimRequest& request, qbSprite* into);
    // The pictures of frame index (0-based) to show, still the anim's: its
    // own frame, or for an anim played from disk the frame it fetched last,
    // kept until it fetches another. pendingToo also finds anims freed
    // while layers show them. The anim's size and frame count come back.
    // The lookup's error, ERR_ANIMFRAME or the fetch's error.
    int (*showFrame)(ScriptState* L, ObjectID id, int32_t index, bool pendingToo, qbImageTriple* out,
                     int32_t* width, int32_t* height, int32_t* count);
    // The delay of frame index (0-based) in milliseconds, anims freed while
    // layers show them included. The lookup's error or ERR_ANIMFRAME.
    int (*frameDelay)(ScriptState* L, ObjectID id, int32_t index, uint32_t* out);
};
void SetAnimObjectHooks(const qbAnimObjectHooks* hooks);
const qbAnimObjectHooks& AnimObjectHooks();
